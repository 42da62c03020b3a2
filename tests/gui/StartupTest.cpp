#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/CFundApp.h"
#include "app/CFundDlg.h"
#include "dialogs/CLoginDlg.h"
#include "platform/MessageBox.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CFundApp;
using zeza::CFundDlg;
using zeza::CLoginDlg;
using zeza::g_pMainDlg;
using zeza::MessageBox;
using namespace zeza::test;

namespace {

bool NoMainWindowExists() {
    if (g_pMainDlg) return false;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<CFundDlg*>(w)) return false;
    }
    return true;
}

}  // namespace

TEST(StartupTest, FirstRunCreatesTheDatabaseAndOpensTheMainWindowWithoutLogin) {
    ScopedTempDir dir;
    ASSERT_FALSE(std::filesystem::exists(dir.Path() / "Zeza.db"));

    ModalScript script;
    script.Then<CFundDlg>([&](CFundDlg* dlg) {
        EXPECT_TRUE(std::filesystem::exists(dir.Path() / "Zeza.db"));
        EXPECT_EQ(g_pMainDlg, dlg);
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Zuzedidavi v1.0.1.2"));
        EXPECT_TRUE(dlg->isMaximized());
        // The window system applies the maximised size after the show.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return dlg->frameGeometry() == dlg->screen()->availableGeometry();
        })) << "frame "
            << dlg->frameGeometry().width() << "x" << dlg->frameGeometry().height();
        EXPECT_EQ(dlg->palette().color(QPalette::Window), QColor(191, 202, 230));
        EXPECT_EQ(dlg->palette().color(QPalette::WindowText), QColor(Qt::black));
        dlg->close();
    });
    EXPECT_FALSE(CFundApp().InitInstance());

    EXPECT_TRUE(script.AllStepsRan());
    EXPECT_TRUE(MessageBox::Requests().empty());
    EXPECT_EQ(g_pMainDlg, nullptr);
    const std::string id = QueryOne("SELECT guid FROM fu_iniLoc;");
    EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}"))) << id;
}

TEST(StartupTest, StoredPasswordGatesTheMainWindowUntilTypedExactly) {
    ScopedTempDir dir;
    // An apostrophe and Chinese: stored as GBK and matched byte for byte.
    const QString password = QStringLiteral("老王's 密码");
    StorePassword(G(password.toStdString()));

    ModalScript script;
    script
        .Then<CLoginDlg>([&](CLoginDlg* login) {
            EXPECT_TRUE(NoMainWindowExists());
            // The program's icon is shown.
            auto* icon = Ctrl<QLabel>(login, "iconLabel");
            ASSERT_NE(icon, nullptr);
            EXPECT_FALSE(icon->pixmap().isNull());
            auto* edit = Ctrl<QLineEdit>(login, "passwordEdit");
            auto* ok = Ctrl<QPushButton>(login, "okButton");
            ASSERT_NE(edit, nullptr);
            ASSERT_NE(ok, nullptr);

            // Wrong: a trailing blank.
            TypeText(edit, password + QLatin1Char(' '));
            MessageBox::SetNextAnswer(MessageBox::kOk);
            QTest::mouseClick(ok, Qt::LeftButton);
            // (What the refusal shows is LoginDlgTest's.)
            EXPECT_EQ(MessageBox::Requests().size(), 1u);
            EXPECT_TRUE(login->isVisible());
            EXPECT_TRUE(NoMainWindowExists());

            // Right, confirmed with Enter.
            TypeText(edit, password);
            QTest::keyClick(edit, Qt::Key_Return);
            EXPECT_EQ(MessageBox::Requests().size(), 1u);
        })
        .Then<CFundDlg>([](CFundDlg* dlg) { dlg->reject(); });
    EXPECT_FALSE(CFundApp().InitInstance());

    EXPECT_TRUE(script.AllStepsRan());
    EXPECT_TRUE(script.MainWindowSeen());
}

TEST(StartupTest, CancelledLoginEndsWithoutAMainWindow) {
    for (bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "closed");
        ScopedTempDir dir;
        StorePassword("pw");

        ModalScript script;
        script.Then<CLoginDlg>([&](CLoginDlg* login) {
            TypeText(Ctrl(login, "passwordEdit"), QStringLiteral("pw"));
            if (escape)
                QTest::keyClick(Ctrl(login, "passwordEdit"), Qt::Key_Escape);
            else
                login->close();
        });
        EXPECT_FALSE(CFundApp().InitInstance());

        EXPECT_TRUE(script.AllStepsRan());
        EXPECT_FALSE(script.MainWindowSeen());
        EXPECT_TRUE(MessageBox::Requests().empty());
    }
}

TEST(StartupTest, FolderWhereTheDatabaseCannotBeCreatedIsReportedAndEndsTheRun) {
    // Even root cannot create files in /proc.
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path("/proc");
    MessageBox::SetNextAnswer(MessageBox::kOk);
    ModalScript script;
    const bool result = CFundApp().InitInstance();
    std::filesystem::current_path(previous);

    EXPECT_FALSE(result);
    EXPECT_FALSE(script.MainWindowSeen());
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    const auto& box = MessageBox::Requests()[0];
    EXPECT_EQ(box.caption, QStringLiteral("提示"));
    EXPECT_EQ(box.icon, MessageBox::Icon::Warning);
    EXPECT_TRUE(box.text.contains(QStringLiteral("/proc"))) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains(QStringLiteral("Zeza.db"))) << box.text.toStdString();
    EXPECT_FALSE(std::filesystem::exists("/proc/Zeza.db"));
}
