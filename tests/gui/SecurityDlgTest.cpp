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
#include "db/SqlAccess.h"
#include "dialogs/CSecurityDlg.h"
#include "platform/MessageBox.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CSecurityDlg;
using zeza::ExecSql;
using zeza::MessageBox;
using zeza::test::Ctrl;
using zeza::test::DuRect;
using zeza::test::G;
using zeza::test::ScopedTempDir;

namespace {

// Template ids of the controls.
enum Id {
    kRequire = 1020,
    kFirst = 1021,
    kSecond = 1022,
    kFirstLabel = 1024,
    kSecondLabel = 1025,
    kOk = 1023,
    kMessage = 1019
};

// The dialog in a fresh folder whose database stores password (UTF-8 here, GBK in the file).
class SecurityDlgTest : public testing::Test {
  protected:
    void Open(const std::string& stored) {
        zeza::test::StorePassword(G(stored));
        dlg = std::make_unique<CSecurityDlg>();
        dlg->show();
    }

    QCheckBox* Box() { return Ctrl<QCheckBox>(dlg.get(), kRequire); }
    QLineEdit* Edit(int id) { return Ctrl<QLineEdit>(dlg.get(), id); }
    QString Text(int id) { return Ctrl<QLabel>(dlg.get(), id)->text(); }
    // Types both fields (first, second) and presses "确定".
    void Submit(const QString& first, const QString& second) {
        Edit(kFirst)->setText(first);
        Edit(kSecond)->setText(second);
        QTest::mouseClick(Ctrl<QPushButton>(dlg.get(), kOk), Qt::LeftButton);
    }
    std::string Stored() { return zeza::CFundDb().ReadPassword(); }
    bool Accepted() { return !dlg->isVisible() && dlg->result() == QDialog::Accepted; }

    ScopedTempDir dir;
    std::unique_ptr<CSecurityDlg> dlg;
};

}  // namespace

TEST_F(SecurityDlgTest, LooksLikeItsTemplateWithoutPassword) {
    Open("");
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("安全设置"));
    EXPECT_EQ(dlg->size(), DuRect(0, 0, 175, 84).size());
    const struct {
        int id;
        QRect rect;
    } rects[] = {{kRequire, DuRect(7, 7, 161, 10)},
                 {kFirst, DuRect(58, 22, 110, 14)},
                 {kSecond, DuRect(58, 44, 110, 14)},
                 {kOk, DuRect(126, 63, 42, 14)}};
    for (const auto& r : rects) {
        QWidget* w = Ctrl(dlg.get(), r.id);
        ASSERT_NE(w, nullptr) << r.id;
        EXPECT_EQ(w->geometry(), r.rect) << r.id;
    }
    EXPECT_EQ(Box()->text(), QStringLiteral("要使用rize，用户必须输入密码"));
    EXPECT_EQ(Ctrl<QPushButton>(dlg.get(), kOk)->text(), QStringLiteral("确定"));
    EXPECT_EQ(Text(kFirstLabel), QStringLiteral("输入密码："));
    EXPECT_EQ(Text(kSecondLabel), QStringLiteral("再次输入："));
    for (int id : {kFirstLabel, kSecondLabel, kMessage}) {
        auto* label = Ctrl<QLabel>(dlg.get(), id);
        EXPECT_GE(label->width(), label->sizeHint().width()) << id;
        EXPECT_GE(label->height(), label->sizeHint().height()) << id;
    }
    EXPECT_EQ(Ctrl<QLabel>(dlg.get(), kMessage)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_FALSE(Box()->isChecked());
    for (int id : {kFirst, kSecond}) {
        EXPECT_TRUE(Edit(id)->isReadOnly()) << id;
        EXPECT_EQ(Edit(id)->echoMode(), QLineEdit::Password) << id;
        EXPECT_EQ(Edit(id)->maxLength(), 20) << id;
    }

    // The box makes the fields editable and read-only again; their text stays.
    Box()->click();
    EXPECT_FALSE(Edit(kFirst)->isReadOnly());
    EXPECT_FALSE(Edit(kSecond)->isReadOnly());
    Edit(kFirst)->setText(QStringLiteral("abc"));
    Box()->click();
    EXPECT_TRUE(Edit(kFirst)->isReadOnly());
    EXPECT_EQ(Edit(kFirst)->text(), QStringLiteral("abc"));
}

TEST_F(SecurityDlgTest, WithStoredPasswordAsksForTheOldOne) {
    Open("old");
    EXPECT_TRUE(Box()->isChecked());
    EXPECT_FALSE(Edit(kFirst)->isReadOnly());
    EXPECT_FALSE(Edit(kSecond)->isReadOnly());
    EXPECT_EQ(Text(kFirstLabel), QStringLiteral("输入旧密码："));
    EXPECT_EQ(Text(kSecondLabel), QStringLiteral("输入新密码："));
    for (int id : {kFirstLabel, kSecondLabel}) {
        auto* label = Ctrl<QLabel>(dlg.get(), id);
        EXPECT_LE(label->geometry().right(), Edit(kFirst)->geometry().left()) << "label runs into its field";
        EXPECT_GE(label->width(), label->sizeHint().width()) << id;
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
    EXPECT_EQ(Text(kMessage), QStringLiteral("两次输入不一致 请重新输入"));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Stored(), "");

    // Both empty with the box ticked stores no password.
    Submit(QString(), QString());
    EXPECT_TRUE(Accepted());
    EXPECT_EQ(Stored(), "");
}

TEST_F(SecurityDlgTest, ChangesThePasswordAfterTheRightOldOne) {
    Open("old'pw");
    Submit(QStringLiteral("OLD'PW"), QStringLiteral("new"));
    EXPECT_EQ(Text(kMessage), QStringLiteral("旧密码不正确 请重新输入"));
    EXPECT_TRUE(dlg->isVisible());
    Submit(QStringLiteral("old'pw "), QStringLiteral("new"));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Stored(), "old'pw");

    // The new password needs no confirmation; Enter in a field does what "确定" does.
    Edit(kFirst)->setText(QStringLiteral("old'pw"));
    Edit(kSecond)->setText(QStringLiteral("new'one"));
    QTest::keyClick(Edit(kSecond), Qt::Key_Return);
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
    EXPECT_EQ(Text(kMessage), QStringLiteral("密码含不支持的字符"));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Stored(), "");

    Open("a?");
    Submit(QStringLiteral("a?"), emoji);
    EXPECT_EQ(Text(kMessage), QStringLiteral("密码含不支持的字符"));
    Submit(emoji, QStringLiteral("b"));  // must not pass for the stored "a?"
    EXPECT_EQ(Text(kMessage), QStringLiteral("旧密码不正确 请重新输入"));
    EXPECT_EQ(Stored(), "a?");
}

TEST_F(SecurityDlgTest, PasswordThatWasNotStoredIsNotReportedAsStored) {
    Open("old");
    ASSERT_EQ(
        ExecSql("CREATE TRIGGER refuse BEFORE UPDATE ON fu_iniLoc BEGIN SELECT RAISE(ABORT,'no'); END;"), 0);
    Submit(QStringLiteral("old"), QStringLiteral("new"));
    EXPECT_EQ(Text(kMessage), QStringLiteral("密码未能保存 请重试"));
    EXPECT_TRUE(dlg->isVisible());
    Box()->click();  // removing fails the same way
    Submit(QString(), QString());
    EXPECT_EQ(Text(kMessage), QStringLiteral("密码未能保存 请重试"));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Stored(), "old");

    // A database without its settings row takes the statement but keeps nothing.
    ASSERT_EQ(ExecSql("DROP TRIGGER refuse;"), 0);
    ASSERT_EQ(ExecSql("DELETE FROM fu_iniLoc;"), 0);
    Box()->click();
    Submit(QStringLiteral("old"), QStringLiteral("new"));
    EXPECT_EQ(Text(kMessage), QStringLiteral("密码未能保存 请重试"));
    EXPECT_TRUE(dlg->isVisible());

    // No database at all.
    std::filesystem::rename("Zeza.db", "Zeza.db.away");
    Box()->click();
    Submit(QString(), QString());
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));
}
