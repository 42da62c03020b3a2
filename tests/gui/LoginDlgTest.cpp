#include <gtest/gtest.h>

#include <string>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "dialogs/CLoginDlg.h"
#include "platform/MessageBox.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CLoginDlg;
using zeza::MessageBox;
using namespace zeza::test;

namespace {

struct Attempt {
    const char* stored;  // UTF-8, stored as GBK
    QString entered;
    bool accepted;
};

}  // namespace

TEST(LoginDlgTest, EntryMustMatchTheStoredPasswordByteForByte) {
    const std::string stored = "it's 密码";
    const Attempt attempts[] = {
        {stored.c_str(), QStringLiteral("it's 密码"), true},
        {stored.c_str(), QStringLiteral("IT'S 密码"), false},
        {stored.c_str(), QStringLiteral("it's 密码 "), false},
        {stored.c_str(), QStringLiteral("it's 密"), false},
        {stored.c_str(), QString(), false},
        {"Ab1", QStringLiteral("Ab1"), true},
        {"Ab1", QStringLiteral("ab1"), false},
        // Characters GBK cannot hold must not pass for a stored '?'.
        {"a?", QStringLiteral("a?"), true},
        {"a?", QString::fromUtf8("a\xF0\x9F\x98\x80"), false},
    };
    for (const Attempt& a : attempts) {
        SCOPED_TRACE(("stored \"" + std::string(a.stored) + "\", entered \"" + a.entered.toStdString() + "\"")
                         .c_str());
        MessageBox::ClearRequests();
        CLoginDlg dlg;
        dlg.SetPassword(G(a.stored));
        dlg.show();
        auto* edit = Ctrl<QLineEdit>(&dlg, "passwordEdit");
        ASSERT_NE(edit, nullptr);
        edit->setText(a.entered);
        if (!a.accepted) MessageBox::SetNextAnswer(MessageBox::kOk);

        QTest::mouseClick(Ctrl<QPushButton>(&dlg, "okButton"), Qt::LeftButton);

        if (a.accepted) {
            EXPECT_EQ(dlg.result(), QDialog::Accepted);
            EXPECT_FALSE(dlg.isVisible());
            EXPECT_TRUE(MessageBox::Requests().empty());
        } else {
            EXPECT_TRUE(dlg.isVisible());
            ASSERT_EQ(MessageBox::Requests().size(), 1u);
            EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("密码错误，请重新输入"));
            EXPECT_EQ(MessageBox::Requests()[0].caption, QStringLiteral("提示"));
            EXPECT_EQ(MessageBox::Requests()[0].buttons, MessageBox::Buttons::Ok);
            EXPECT_EQ(MessageBox::Requests()[0].icon, MessageBox::Icon::Information);
            EXPECT_TRUE(edit->text().isEmpty());
            // The click took the focus to the button; a refused entry hands it back to the field.
            EXPECT_EQ(dlg.focusWidget(), edit);
        }
    }
}

TEST(LoginDlgTest, ShowsPromptAndFieldInFullAndMasksTheEntry) {
    CLoginDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("登录"));

    auto* edit = Ctrl<QLineEdit>(&dlg, "passwordEdit");
    auto* ok = Ctrl<QPushButton>(&dlg, "okButton");
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(ok, nullptr);
    ExpectControlsInsideAndApart(&dlg);
    EXPECT_EQ(ok->text(), QStringLiteral("确定"));
    EXPECT_TRUE(ok->isDefault());

    QStringList texts;
    for (QLabel* label : dlg.findChildren<QLabel*>()) {
        texts << label->text();
        // Both lines of the prompt are shown in full, and no text runs into the field.
        EXPECT_GE(label->height(), label->sizeHint().height()) << label->text().toStdString();
        if (!label->text().isEmpty()) {
            EXPECT_FALSE(label->geometry().intersects(edit->geometry())) << label->text().toStdString();
        }
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("要使用 Zuzedidavi\n必须输入密码")));
    EXPECT_TRUE(texts.contains(QStringLiteral("密码：")));

    // Masked, and no more than 20 characters however many are typed.
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
    dlg.show();
    QTest::keyClicks(edit, "abcdefghijklmnopqrstuvwxy");
    EXPECT_EQ(edit->text(), QStringLiteral("abcdefghijklmnopqrst"));
}
