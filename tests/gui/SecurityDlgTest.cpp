#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "db/CFundDb.h"
#include "dialogs/CSecurityDlg.h"
#include "platform/MessageBox.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CSecurityDlg;
using zeza::MessageBox;
using namespace zeza::test;

namespace {

// The dialog in a fresh folder whose database stores password (UTF-8 here, GBK in the file).
class SecurityDlgTest : public DialogTest<CSecurityDlg> {
  protected:
    void Open(const std::string& stored) {
        StorePassword(G(stored));
        Show(std::make_unique<CSecurityDlg>());
    }

    QCheckBox* Box() { return Find<QCheckBox>("requireCheck"); }
    // Types both fields (first, second) and presses "确定".
    void Submit(const QString& first, const QString& second) {
        Edit("firstEdit")->setText(first);
        Edit("secondEdit")->setText(second);
        Click("okButton");
    }
    std::string Stored() { return zeza::CFundDb().ReadPassword(); }
    // The entry was refused with message, and the dialog stays open.
    void ExpectRefused(const char* message) {
        EXPECT_EQ(Text("messageLabel"), QString::fromUtf8(message));
        EXPECT_TRUE(dlg->isVisible());
    }
    bool Accepted() { return Closed(QDialog::Accepted); }
};

}  // namespace

TEST_F(SecurityDlgTest, ShowsItsControlsInFullWithoutPassword) {
    Open("");
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("安全设置"));
    ExpectControlsInsideAndApart(dlg.get());
    EXPECT_EQ(Box()->text(), QStringLiteral("要使用rize，用户必须输入密码"));
    EXPECT_EQ(Button("okButton")->text(), QStringLiteral("确定"));
    EXPECT_EQ(Text("firstLabel"), QStringLiteral("输入密码："));
    EXPECT_EQ(Text("secondLabel"), QStringLiteral("再次输入："));
    for (const char* name : {"firstLabel", "secondLabel", "messageLabel"}) {
        auto* label = Find<QLabel>(name);
        EXPECT_GE(label->width(), label->sizeHint().width()) << name;
        EXPECT_GE(label->height(), label->sizeHint().height()) << name;
    }
    EXPECT_EQ(Find<QLabel>("messageLabel")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_FALSE(Box()->isChecked());
    for (const char* name : {"firstEdit", "secondEdit"}) {
        EXPECT_TRUE(Edit(name)->isReadOnly()) << name;
        EXPECT_EQ(Edit(name)->echoMode(), QLineEdit::Password) << name;
        EXPECT_EQ(Edit(name)->maxLength(), 20) << name;
    }

    // The box makes the fields editable and read-only again; their text stays.
    Box()->click();
    EXPECT_FALSE(Edit("firstEdit")->isReadOnly());
    EXPECT_FALSE(Edit("secondEdit")->isReadOnly());
    Edit("firstEdit")->setText(QStringLiteral("abc"));
    Box()->click();
    EXPECT_TRUE(Edit("firstEdit")->isReadOnly());
    EXPECT_EQ(Edit("firstEdit")->text(), QStringLiteral("abc"));
}

TEST_F(SecurityDlgTest, WithStoredPasswordAsksForTheOldOne) {
    Open("old");
    EXPECT_TRUE(Box()->isChecked());
    EXPECT_FALSE(Edit("firstEdit")->isReadOnly());
    EXPECT_FALSE(Edit("secondEdit")->isReadOnly());
    EXPECT_EQ(Text("firstLabel"), QStringLiteral("输入旧密码："));
    EXPECT_EQ(Text("secondLabel"), QStringLiteral("输入新密码："));
    for (const char* name : {"firstLabel", "secondLabel"}) {
        auto* label = Find<QLabel>(name);
        EXPECT_LE(label->geometry().right(), Edit("firstEdit")->geometry().left())
            << "label runs into its field";
        EXPECT_GE(label->width(), label->sizeHint().width()) << name;
    }
}

TEST_F(SecurityDlgTest, SetsAPasswordTypedTwiceExactly) {
    Open("");
    Box()->click();
    Submit(QStringLiteral("it's 密码"), QStringLiteral("it's 密码"));
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Stored(), G("it's 密码"));
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST_F(SecurityDlgTest, TwoDifferentEntriesAreRefused) {
    Open("");
    Box()->click();
    Submit(QStringLiteral("abc"), QStringLiteral("abC"));
    ExpectRefused("两次输入不一致 请重新输入");
    EXPECT_EQ(Stored(), "");

    // Both empty with the box ticked stores no password.
    Submit(QString(), QString());
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Stored(), "");
}

TEST_F(SecurityDlgTest, ChangesThePasswordAfterTheRightOldOne) {
    Open("old'pw");
    Submit(QStringLiteral("OLD'PW"), QStringLiteral("new"));
    ExpectRefused("旧密码不正确 请重新输入");
    Submit(QStringLiteral("old'pw "), QStringLiteral("new"));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Stored(), "old'pw");

    // The new password needs no confirmation; Enter in a field does what "确定" does.
    Edit("firstEdit")->setText(QStringLiteral("old'pw"));
    Edit("secondEdit")->setText(QStringLiteral("new'one"));
    QTest::keyClick(Edit("secondEdit"), Qt::Key_Return);
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Stored(), "new'one");
}

TEST_F(SecurityDlgTest, RemovesThePassword) {
    // The old one and an empty new one.
    Open("old");
    Submit(QStringLiteral("old"), QString());
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Stored(), "");

    // Or the box cleared, without the old one.
    Open("old");
    Box()->click();
    Submit(QStringLiteral("wrong"), QStringLiteral("new"));
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Stored(), "");
}

TEST_F(SecurityDlgTest, CharactersGbkCannotHoldAreRefused) {
    const QString emoji = QString::fromUtf8("a\xF0\x9F\x98\x80");
    Open("");
    Box()->click();
    Submit(emoji, emoji);
    ExpectRefused("密码含不支持的字符");
    EXPECT_EQ(Stored(), "");

    Open("a?");
    Submit(QStringLiteral("a?"), emoji);
    EXPECT_EQ(Text("messageLabel"), QStringLiteral("密码含不支持的字符"));
    Submit(emoji, QStringLiteral("b"));  // must not pass for the stored "a?"
    EXPECT_EQ(Text("messageLabel"), QStringLiteral("旧密码不正确 请重新输入"));
    EXPECT_EQ(Stored(), "a?");
}

TEST_F(SecurityDlgTest, PasswordThatWasNotStoredIsNotReportedAsStored) {
    Open("old");
    ASSERT_TRUE(
        Exec("CREATE TRIGGER refuse BEFORE UPDATE ON fu_iniLoc BEGIN SELECT RAISE(ABORT,'no'); END;"));
    Submit(QStringLiteral("old"), QStringLiteral("new"));
    ExpectRefused("密码未能保存 请重试");
    Box()->click();  // removing fails the same way
    Submit(QString(), QString());
    ExpectRefused("密码未能保存 请重试");
    EXPECT_EQ(Stored(), "old");

    // A database without its settings row takes the statement but keeps nothing.
    ASSERT_TRUE(Exec("DROP TRIGGER refuse; DELETE FROM fu_iniLoc;"));
    Box()->click();
    Submit(QStringLiteral("old"), QStringLiteral("new"));
    ExpectRefused("密码未能保存 请重试");

    // No database at all.
    std::filesystem::rename("Zeza.db", "Zeza.db.away");
    Box()->click();
    Submit(QString(), QString());
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));
}
