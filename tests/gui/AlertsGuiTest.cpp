#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QCheckBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimeEdit>

#include "app/CFundApp.h"
#include "app/CFundDlg.h"
#include "dialogs/CAlertSettingsDlg.h"
#include "ledger/Alerts.h"
#include "ledger/Ledger.h"
#include "platform/Autostart.h"
#include "platform/DesktopNotify.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

// The settings dialog over a database with a held fund, a watched one and one that is neither.
class AlertSettingsTest : public DialogTest<CAlertSettingsDlg> {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        CAlertSettingsDlg::SetTrayAvailableForTesting(1);
        AddFund(900001, "900001", "持有一号", "股票型");
        AddFund(900002, "900002", "自选二号", "混合型", -1);
        AddFund(900003, "900003", "无关三号", "债券型");
        AddHolding("900001", 1000, 500);
        setenv("XDG_CONFIG_HOME", (dir.Path() / "config").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_HOME");
        DialogTest::TearDown();
    }
    void Open() {
        auto d = std::make_unique<CAlertSettingsDlg>();
        ASSERT_EQ(d->Load(), 0);
        Show(std::move(d));
    }
    QTableWidget* Table() { return Find<QTableWidget>("thresholdTable"); }
    // The table's rows as "code|name|threshold".
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (int r = 0; r < Table()->rowCount(); ++r) {
            const QString code = Table()->item(r, 0)->text();
            if (code.startsWith(QStringLiteral("9000")))
                rows.push_back((code + "|" + Table()->item(r, 1)->text() + "|" + Table()->item(r, 2)->text())
                                   .toStdString());
        }
        return rows;
    }
    void SetThreshold(const char* code, const QString& text) {
        const auto found = Table()->findItems(QString::fromLatin1(code), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << code;
        Table()->item(found[0]->row(), 2)->setText(text);
    }
    std::filesystem::path Entry() const { return dir.Path() / "config" / "autostart" / "zeza.desktop"; }
};

TEST_F(AlertSettingsTest, RoundTripsTimeDefaultAndThresholdPerFund) {
    Open();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("提醒设置"));
    // Held and watched funds only, each threshold empty: the default applies.
    EXPECT_EQ(Rows(), (std::vector<std::string>{"900001|持有一号|", "900002|自选二号|"}));
    EXPECT_EQ(Find<QTimeEdit>("alertTimeEdit")->time(), QTime(14, 45));
    EXPECT_DOUBLE_EQ(Find<QDoubleSpinBox>("defaultThresholdSpin")->value(), 2.0);
    EXPECT_FALSE(Find<QCheckBox>("minimizeToTrayCheck")->isChecked());

    Find<QTimeEdit>("alertTimeEdit")->setTime(QTime(9, 5));
    Find<QDoubleSpinBox>("defaultThresholdSpin")->setValue(1.25);
    Find<QCheckBox>("minimizeToTrayCheck")->setChecked(true);
    SetThreshold("900002", QStringLiteral("3.5"));
    Click("okButton");
    ASSERT_TRUE(Closed(QDialog::Accepted)) << Text("messageLabel").toStdString();

    AlertSettings stored;
    ASSERT_EQ(Alerts::ReadSettings(stored), 0);
    EXPECT_EQ(stored.time, "09:05");
    EXPECT_EQ(stored.defaultThreshold, 125);
    EXPECT_TRUE(stored.minimizeToTray);
    EXPECT_EQ(stored.thresholds, (std::map<std::string, int>{{"900002", 350}}));

    // Read back into a new dialog; a cell emptied goes back to the default, a refused one stores nothing.
    Open();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"900001|持有一号|", "900002|自选二号|3.50"}));
    EXPECT_EQ(Find<QTimeEdit>("alertTimeEdit")->time(), QTime(9, 5));
    SetThreshold("900001", QStringLiteral("abc"));
    Click("okButton");
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(Text("messageLabel").contains(QStringLiteral("900001")));
    SetThreshold("900001", QStringLiteral("0.8"));
    SetThreshold("900002", QString());
    Click("okButton");
    ASSERT_TRUE(Closed(QDialog::Accepted));
    ASSERT_EQ(Alerts::ReadSettings(stored), 0);
    EXPECT_EQ(stored.thresholds, (std::map<std::string, int>{{"900001", 80}}));
}

TEST_F(AlertSettingsTest, AutostartEntryWrittenAndRemovedInTheXdgFolder) {
    Open();
    Find<QCheckBox>("autostartCheck")->setChecked(true);
    Click("okButton");
    ASSERT_TRUE(Closed(QDialog::Accepted));
    const std::string entry = ReadFileBytes(Entry());
    EXPECT_NE(entry.find("Exec=\"" + RunningProgramPath() + "\"\n"), std::string::npos) << entry;
    // The program keeps Zeza.db in the folder it starts from.
    EXPECT_NE(entry.find("Path=" + QDir::currentPath().toStdString() + "\n"), std::string::npos) << entry;

    Open();
    EXPECT_TRUE(Find<QCheckBox>("autostartCheck")->isChecked());
    Find<QCheckBox>("autostartCheck")->setChecked(false);
    Click("okButton");
    ASSERT_TRUE(Closed(QDialog::Accepted));
    EXPECT_FALSE(std::filesystem::exists(Entry()));
    AlertSettings stored;
    ASSERT_EQ(Alerts::ReadSettings(stored), 0);
    EXPECT_FALSE(stored.autostart);
}

TEST_F(AlertSettingsTest, EntryThatCannotBeWrittenStoresNothing) {
    // The folder lies under a plain file, so it cannot be made.
    WriteFileBytes(dir.Path() / "blocker", "x");
    SetAutostartFolderForTesting((dir.Path() / "blocker" / "autostart").string());
    Open();
    Find<QCheckBox>("autostartCheck")->setChecked(true);
    Find<QTimeEdit>("alertTimeEdit")->setTime(QTime(10, 0));
    Click("okButton");
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Text("messageLabel"), QStringLiteral("无法写入开机启动项。"));
    AlertSettings stored;
    ASSERT_EQ(Alerts::ReadSettings(stored), 0);
    EXPECT_FALSE(stored.autostart);
    EXPECT_EQ(stored.time, "14:45");
}

TEST_F(AlertSettingsTest, WithoutATrayBothTrayOptionsAreOffAndSayWhy) {
    for (int tray : {0, 1}) {
        CAlertSettingsDlg::SetTrayAvailableForTesting(tray);
        Open();
        EXPECT_EQ(Find<QCheckBox>("minimizeToTrayCheck")->isEnabled(), tray == 1);
        EXPECT_EQ(Find<QCheckBox>("autostartCheck")->isEnabled(), tray == 1);
        EXPECT_EQ(Find<QLabel>("noTrayLabel")->isVisible(), tray == 0);
        EXPECT_EQ(Text("noTrayLabel"), QStringLiteral("此桌面没有系统托盘"));
        // The alert time and thresholds stay for the notifications.
        EXPECT_TRUE(Find<QTimeEdit>("alertTimeEdit")->isEnabled());
    }
}

// The main window with the tray and the alerts; notifications recorded instead of sent.
class TrayWindowTest : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        { CFundDb provision; }
        SetDesktopNotifyHookForTesting([this](const std::string& title, const std::string& body) {
            sent.emplace_back(title, body);
            return true;
        });
    }
    void StoreMinimizeToTray(bool on) {
        AlertSettings settings;
        ASSERT_EQ(Alerts::ReadSettings(settings), 0);
        settings.minimizeToTray = on;
        ASSERT_EQ(Alerts::StoreSettings(settings), 0);
    }

    std::vector<std::pair<std::string, std::string>> sent;
};

TEST_F(TrayWindowTest, CloseHidesIntoTheTrayOnlyWithTheOptionAndATray) {
    struct Case {
        bool option;
        int tray;
        bool ends;
    } cases[] = {{true, 1, false}, {true, 0, true}, {false, 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "option " << c.option << " tray " << c.tray);
        StoreMinimizeToTray(c.option);
        CAlertSettingsDlg::SetTrayAvailableForTesting(c.tray);
        ShowMainWindow();
        QSignalSpy finished(dlg.get(), &QDialog::finished);
        dlg->close();
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(finished.count(), c.ends ? 1 : 0);
        if (!c.ends) {
            // The tray brings it back, and its "退出" ends the program from the tray too.
            dlg->ShowFromTray();
            EXPECT_TRUE(dlg->isVisible());
            dlg->close();
            EXPECT_EQ(finished.count(), 0);
            dlg->ExitProgram();
            EXPECT_EQ(finished.count(), 1);
        }
        dlg.reset();
    }
}

TEST_F(TrayWindowTest, TrayMenuAndTooltipWithTheDaysEstimatedIncome) {
    ShowMainWindow();
    ASSERT_NE(dlg->TrayIcon(), nullptr);
    EXPECT_EQ(MenuItems(dlg->TrayIcon()->contextMenu()),
              (QStringList{"显示主窗口", "提醒设置…", "-", "退出"}));
    EXPECT_TRUE(MenuItems(dlg->MoreMenu()).contains(QStringLiteral("提醒设置")));
    struct Case {
        double value, estimated;
        const char* tip;
    } cases[] = {{1000, 1123.45, "今日预估收益：+123.45 元"},
                 {1000, 950.5, "今日预估收益：-49.50 元"},
                 {1000, 999.999, "今日预估收益：+0.00 元"}};
    for (const Case& c : cases) {
        dlg->ShowSummary(c.value, 990, c.estimated, 800);
        EXPECT_EQ(dlg->TrayIcon()->toolTip(), QString::fromUtf8(c.tip));
    }
}

TEST_F(TrayWindowTest, TimerSendsWhatIsDueOnceInUtf8AndNothingFromADamagedLedger) {
    // A held fund whose NAV of today is out: its income is due once.
    AddFund(900001, "900001", "持有一号", "股票型");
    AddHolding("900001", 1000, 500);
    AddNetValue("900001", 2.1, 2.1, 2.0, Ledger::BeijingToday());
    ShowMainWindow();
    EXPECT_TRUE(dlg->AlertTimer()->isActive());
    EXPECT_EQ(dlg->AlertTimer()->interval(), 60 * 1000);

    dlg->OnAlertTimer();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].first, "今日净值已公布 收益 +50.00 元");
    EXPECT_EQ(sent[0].second, "900001 持有一号 +5.00% +50.00");
    dlg->OnAlertTimer();
    EXPECT_EQ(sent.size(), 1u);

    // A refresh pass asks at once too, after its summary.
    AddFund(900002, "900002", "持有二号", "股票型");
    AddHolding("900002", 100, 100);
    AddNetValue("900002", 0.9, 0.9, 1.0, Ledger::BeijingToday());
    dlg->ShowSummary(1000, 990, 1010, 800);
    ASSERT_TRUE(WaitUntil([&] { return sent.size() == 2; }, 2000));
    EXPECT_EQ(sent[1].second, "900002 持有二号 -10.00% -10.00");

    // A damaged ledger sends nothing and says nothing: the window told it already.
    AddFund(900003, "900003", "持有三号", "股票型");
    AddHolding("900003", 100, 100);
    AddNetValue("900003", 1.1, 1.1, 1.0, Ledger::BeijingToday());
    WriteFileBytes(dir.Path() / "ZezaLedger.db", std::string(4096, 'x'));
    MessageBox::ClearRequests();
    dlg->OnAlertTimer();
    EXPECT_EQ(sent.size(), 2u);
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST_F(TrayWindowTest, TheRunningWindowLeavesTheTrayIconTheMouse) {
    // The tray icon is a window of its own beside the running main window; a button stands in for it.
    QPushButton trayStandIn(QStringLiteral("tray"));
    int clicks = 0;
    QObject::connect(&trayStandIn, &QPushButton::clicked, [&] { ++clicks; });
    CFundDlg window;
    ModalScript script;
    script.Then<CFundDlg>([&](CFundDlg* shown) {
        trayStandIn.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&trayStandIn));
        // As the window system delivers it, where a window blocked by a modal one drops it.
        QTest::mouseClick(trayStandIn.windowHandle(), Qt::LeftButton, {}, trayStandIn.rect().center());
        shown->ExitProgram();
    });
    CFundApp::RunMainWindow(window);
    EXPECT_TRUE(script.AllStepsRan());
    EXPECT_EQ(clicks, 1);
}

}  // namespace
