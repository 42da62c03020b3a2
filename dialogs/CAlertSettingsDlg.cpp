#include "dialogs/CAlertSettingsDlg.h"

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "platform/Autostart.h"
#include "platform/GbkQString.h"
#include "platform/Process.h"

namespace zeza {

namespace {

int g_trayForTesting = -1;

enum FundColumn { kCode, kName, kThreshold };

// Hundredths of a percent as the table and the spin box show them, and back; false for a text
// that is no percentage.
QString PercentText(int hundredths) {
    return QString::number(hundredths / 100.0, 'f', 2);
}
bool ParsePercent(const QString& text, int& hundredths) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || v <= 0 || v > 100) return false;
    hundredths = static_cast<int>(std::lround(v * 100));
    return hundredths > 0;
}

}  // namespace

bool CAlertSettingsDlg::TrayAvailable() {
    return g_trayForTesting >= 0 ? g_trayForTesting == 1 : QSystemTrayIcon::isSystemTrayAvailable();
}

void CAlertSettingsDlg::SetTrayAvailableForTesting(int available) {
    g_trayForTesting = available;
}

CAlertSettingsDlg::CAlertSettingsDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("提醒设置"));
    auto* layout = new QVBoxLayout(this);

    m_pMinimizeToTray = new QCheckBox(QStringLiteral("关闭时最小化到托盘"), this);
    m_pMinimizeToTray->setObjectName(QStringLiteral("minimizeToTrayCheck"));
    m_pAutostart = new QCheckBox(QStringLiteral("开机自动启动"), this);
    m_pAutostart->setObjectName(QStringLiteral("autostartCheck"));
    m_pNoTray = new QLabel(QStringLiteral("此桌面没有系统托盘"), this);
    m_pNoTray->setObjectName(QStringLiteral("noTrayLabel"));
    layout->addWidget(m_pMinimizeToTray);
    layout->addWidget(m_pAutostart);
    layout->addWidget(m_pNoTray);
    // Without a tray a hidden window could not be found again, and a login start would open a
    // window nobody asked for; the alerts still arrive as desktop notifications.
    const bool tray = TrayAvailable();
    m_pMinimizeToTray->setEnabled(tray);
    m_pAutostart->setEnabled(tray);
    m_pNoTray->setVisible(!tray);

    auto* form = new QFormLayout;
    m_pTime = new QTimeEdit(this);
    m_pTime->setObjectName(QStringLiteral("alertTimeEdit"));
    m_pTime->setDisplayFormat(QStringLiteral("HH:mm"));
    form->addRow(QStringLiteral("每日提醒时间（北京时间）："), m_pTime);
    m_pDefault = new QDoubleSpinBox(this);
    m_pDefault->setObjectName(QStringLiteral("defaultThresholdSpin"));
    m_pDefault->setDecimals(2);
    m_pDefault->setRange(0.01, 100.0);
    m_pDefault->setSingleStep(0.5);
    m_pDefault->setSuffix(QStringLiteral(" %"));
    form->addRow(QStringLiteral("默认提醒幅度："), m_pDefault);
    layout->addLayout(form);

    m_pFunds = new QTableWidget(0, 3, this);
    m_pFunds->setObjectName(QStringLiteral("thresholdTable"));
    m_pFunds->setHorizontalHeaderLabels(
        {QStringLiteral("代码"), QStringLiteral("名称"), QStringLiteral("提醒幅度 %（空为默认）")});
    m_pFunds->verticalHeader()->hide();
    m_pFunds->horizontalHeader()->setStretchLastSection(true);
    m_pFunds->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(m_pFunds);

    m_pMessage = new QLabel(this);
    m_pMessage->setObjectName(QStringLiteral("messageLabel"));
    m_pMessage->setStyleSheet(QStringLiteral("color: red;"));
    m_pMessage->hide();
    layout->addWidget(m_pMessage);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("okButton"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, &CAlertSettingsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CAlertSettingsDlg::reject);
    layout->addWidget(buttons);
    resize(520, 460);
}

int CAlertSettingsDlg::Load() {
    const int read = Alerts::ReadSettings(m_settings);
    if (read != 0) return read;
    m_pMinimizeToTray->setChecked(m_settings.minimizeToTray);
    // The entry itself is the truth: the user may have removed it by hand.
    m_bAutostartWas = AutostartEnabled();
    m_pAutostart->setChecked(m_bAutostartWas);
    m_pTime->setTime(QTime::fromString(QString::fromStdString(m_settings.time), QStringLiteral("HH:mm")));
    m_pDefault->setValue(m_settings.defaultThreshold / 100.0);

    std::vector<std::pair<std::string, std::string>> funds;
    // Without the list the settings still hold; only the per-fund rows are missing.
    if (Alerts::ListFunds(funds) != 0) funds.clear();
    m_pFunds->setRowCount(static_cast<int>(funds.size()));
    for (int r = 0; r < static_cast<int>(funds.size()); ++r) {
        const std::string& code = funds[r].first;
        auto* codeItem = new QTableWidgetItem(GbkToQString(code));
        codeItem->setFlags(codeItem->flags() & ~Qt::ItemIsEditable);
        auto* nameItem = new QTableWidgetItem(GbkToQString(funds[r].second));
        nameItem->setFlags(nameItem->flags() & ~Qt::ItemIsEditable);
        const auto it = m_settings.thresholds.find(code);
        auto* thresholdItem =
            new QTableWidgetItem(it == m_settings.thresholds.end() ? QString() : PercentText(it->second));
        thresholdItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_pFunds->setItem(r, kCode, codeItem);
        m_pFunds->setItem(r, kName, nameItem);
        m_pFunds->setItem(r, kThreshold, thresholdItem);
    }
    m_pFunds->resizeColumnToContents(kCode);
    m_pFunds->setColumnWidth(kName, 200);
    return 0;
}

void CAlertSettingsDlg::ShowMessage(const QString& text) {
    m_pMessage->setText(text);
    m_pMessage->show();
}

void CAlertSettingsDlg::accept() {
    AlertSettings next = m_settings;
    next.minimizeToTray = m_pMinimizeToTray->isChecked();
    next.autostart = m_pAutostart->isChecked();
    next.time = m_pTime->time().toString(QStringLiteral("HH:mm")).toStdString();
    next.defaultThreshold = static_cast<int>(std::lround(m_pDefault->value() * 100));
    // Funds no longer listed keep what was set for them; a listed fund's empty cell is the default.
    for (int r = 0; r < m_pFunds->rowCount(); ++r) {
        const std::string code = QStringToGbk(m_pFunds->item(r, kCode)->text());
        const QString text = m_pFunds->item(r, kThreshold)->text().trimmed();
        if (text.isEmpty()) {
            next.thresholds.erase(code);
            continue;
        }
        int hundredths = 0;
        if (!ParsePercent(text, hundredths)) {
            ShowMessage(QStringLiteral("基金 %1 的提醒幅度“%2”不是 0 到 100 之间的百分数。")
                            .arg(m_pFunds->item(r, kCode)->text(), text));
            m_pFunds->setCurrentCell(r, kThreshold);
            return;
        }
        next.thresholds[code] = hundredths;
    }

    // The login entry first: when it cannot be written nothing is stored, and when the settings
    // cannot be stored the entry goes back to what it was.
    const bool autostartChanged = next.autostart != m_bAutostartWas;
    const std::string workDir = QDir::currentPath().toStdString();
    if (autostartChanged && SetAutostart(next.autostart, RunningProgramPath(), workDir) != 0) {
        ShowMessage(next.autostart ? QStringLiteral("无法写入开机启动项。")
                                   : QStringLiteral("无法删除开机启动项。"));
        return;
    }
    const int stored = Alerts::StoreSettings(next);
    if (stored != 0) {
        if (autostartChanged) (void)SetAutostart(m_bAutostartWas, RunningProgramPath(), workDir);
        ShowMessage(stored == -5 ? QStringLiteral("交易记录数据库已损坏，提醒设置无法保存。")
                                 : QStringLiteral("提醒设置无法保存。"));
        return;
    }
    m_settings = next;
    m_bAutostartWas = next.autostart;
    QDialog::accept();
}

}  // namespace zeza
