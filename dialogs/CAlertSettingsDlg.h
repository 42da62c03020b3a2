#pragma once

#include <QDialog>

#include "ledger/Alerts.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QTableWidget;
class QTimeEdit;

namespace zeza {

// "提醒设置": the tray options, login start, the day's alert time, the default threshold and a
// threshold per held or watched fund (empty: the default). Closes with Accepted only once the
// settings are stored and the login entry matches the choice; a failure is said in the red message
// line and the dialog stays open.
class CAlertSettingsDlg : public QDialog {
    Q_OBJECT

  public:
    explicit CAlertSettingsDlg(QWidget* parent = nullptr);

    // Fills the controls from the stored settings, the login entry and the held and watched funds.
    // 0 read; -1 no Zeza.db, -2 failed, -5 the ledger is damaged (Alerts::ReadSettings).
    [[nodiscard]] int Load();
    // The settings as last loaded or stored.
    const AlertSettings& Settings() const { return m_settings; }

    // Whether the desktop shows a system tray (tests may decide).
    static bool TrayAvailable();
    // Tests: 1 a tray, 0 none, -1 ask the desktop again.
    static void SetTrayAvailableForTesting(int available);

  public slots:
    void accept() override;

  private:
    void ShowMessage(const QString& text);

    AlertSettings m_settings;
    bool m_bAutostartWas = false;
    QCheckBox* m_pMinimizeToTray = nullptr;
    QCheckBox* m_pAutostart = nullptr;
    QLabel* m_pNoTray = nullptr;
    QTimeEdit* m_pTime = nullptr;
    QDoubleSpinBox* m_pDefault = nullptr;
    QTableWidget* m_pFunds = nullptr;
    QLabel* m_pMessage = nullptr;
};

}  // namespace zeza
