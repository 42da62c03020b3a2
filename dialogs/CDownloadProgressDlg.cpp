#include "dialogs/CDownloadProgressDlg.h"

#include <algorithm>
#include <thread>

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace zeza {

namespace {

// How often the box shows the latest count and looks whether the download ended.
constexpr int kPollMs = 50;

QString SizeText(int64_t bytes) {
    if (bytes < 1024) return QStringLiteral("%1 字节").arg(bytes);
    if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg(static_cast<double>(bytes) / 1024, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / (1024 * 1024), 0, 'f', 1);
}

// The amount line for received bytes of total (0: no size declared).
QString AmountText(int64_t received, int64_t total) {
    return total > 0 ? QStringLiteral("已下载 %1 / %2").arg(SizeText(received), SizeText(total))
                     : QStringLiteral("已下载 %1").arg(SizeText(received));
}

}  // namespace

CDownloadProgressDlg::CDownloadProgressDlg(const QString& text, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("提示"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("progressText"));
    layout->addWidget(label);
    m_pBar = new QProgressBar(this);
    m_pBar->setObjectName(QStringLiteral("progressBar"));
    m_pBar->setRange(0, 0);
    m_pBar->setTextVisible(false);
    m_pBar->setMinimumWidth(320);
    layout->addWidget(m_pBar);
    m_pAmount = new QLabel(AmountText(0, 0), this);
    m_pAmount->setObjectName(QStringLiteral("amountText"));
    layout->addWidget(m_pAmount);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    m_pCancel = new QPushButton(QStringLiteral("取消"), this);
    m_pCancel->setObjectName(QStringLiteral("cancelButton"));
    buttons->addWidget(m_pCancel);
    layout->addLayout(buttons);
    connect(m_pCancel, &QPushButton::clicked, this, &CDownloadProgressDlg::reject);

    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(kPollMs);
    connect(m_pTimer, &QTimer::timeout, this, &CDownloadProgressDlg::Poll);
}

CDownloadProgressDlg::~CDownloadProgressDlg() = default;

int CDownloadProgressDlg::Run(const std::function<int(const DownloadProgress&)>& job) {
    m_finished = false;
    int result = 0;
    const DownloadProgress progress = [this](int64_t received, int64_t total) {
        m_received = received;
        m_total = total;
        return !m_cancelled.load();
    };
    std::thread worker([&] {
        result = job(progress);
        m_finished = true;
    });
    m_pTimer->start();
    exec();
    m_pTimer->stop();
    // The box closes once the job has ended; should its loop end before that (the
    // program quitting), the download is told to stop, so this join is short.
    if (!m_finished) m_cancelled = true;
    worker.join();
    return result;
}

void CDownloadProgressDlg::reject() {
    // The download notices within a second; the box closes once it has stopped.
    m_cancelled = true;
    m_pCancel->setEnabled(false);
    m_pAmount->setText(QStringLiteral("正在取消…"));
}

void CDownloadProgressDlg::Poll() {
    if (m_finished.load()) {
        done(m_cancelled.load() ? QDialog::Rejected : QDialog::Accepted);
        return;
    }
    if (m_cancelled.load()) return;
    const int64_t received = m_received.load();
    const int64_t total = m_total.load();
    m_pAmount->setText(AmountText(received, total));
    if (total > 0) {
        m_pBar->setRange(0, 1000);
        m_pBar->setValue(static_cast<int>(std::min<int64_t>(received, total) * 1000 / total));
    } else {
        m_pBar->setRange(0, 0);
    }
}

}  // namespace zeza
