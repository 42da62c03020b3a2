#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include <QDialog>
#include <QString>

#include "platform/UrlDownload.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace zeza {

// The box shown while a download runs on a thread of its own, so the window
// keeps answering: its text, the bytes so far (of the size, when the server
// declared one) and 取消, which asks the download to stop. It stays until the
// download has ended either way, so nothing of it runs on once the box is gone.
class CDownloadProgressDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CDownloadProgressDlg(const QString& text, QWidget* parent = nullptr);
    ~CDownloadProgressDlg() override;

    // Runs job on a thread of its own with a progress callback that feeds this
    // box and answers false once 取消 was chosen; shows the box modally until
    // job returns. Returns what job returned.
    int Run(const std::function<int(const DownloadProgress&)>& job);
    // Escape and the close box act as 取消.
    void reject() override;

  private:
    void Poll();

    QLabel* m_pAmount = nullptr;
    QProgressBar* m_pBar = nullptr;
    QPushButton* m_pCancel = nullptr;
    QTimer* m_pTimer = nullptr;
    std::atomic<int64_t> m_received{0};
    std::atomic<int64_t> m_total{0};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_finished{false};
};

}  // namespace zeza
