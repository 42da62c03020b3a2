#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include "platform/MessageBox.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::MessageBox;
using zeza::test::ModalScript;

TEST(MessageBoxTest, ScriptedAnswersAreTakenInOrderAndEveryBoxIsRecorded) {
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    MessageBox::SetNextAnswer(MessageBox::kOk);

    EXPECT_EQ(MessageBox::Show(nullptr, QStringLiteral("确定要删除吗？"), QStringLiteral("提示"),
                               MessageBox::Buttons::OkCancel, MessageBox::Icon::Question),
              MessageBox::kCancel);
    EXPECT_EQ(MessageBox::Show(nullptr, QStringLiteral("导出成功"), QStringLiteral("提示"),
                               MessageBox::Buttons::Ok, MessageBox::Icon::Information),
              MessageBox::kOk);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    const auto& shown = MessageBox::Requests();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, QStringLiteral("确定要删除吗？"));
    EXPECT_EQ(shown[0].caption, QStringLiteral("提示"));
    EXPECT_EQ(shown[0].buttons, MessageBox::Buttons::OkCancel);
    EXPECT_EQ(shown[0].icon, MessageBox::Icon::Question);
    EXPECT_EQ(shown[1].text, QStringLiteral("导出成功"));
    EXPECT_EQ(shown[1].buttons, MessageBox::Buttons::Ok);
    EXPECT_EQ(shown[1].icon, MessageBox::Icon::Information);

    MessageBox::ClearRequests();
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST(MessageBoxTest, UnscriptedBoxWithoutDisplayIsTakenAsClosed) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    // Nobody can see or answer it: closed without an answer, as the file chooser does.
    EXPECT_EQ(MessageBox::Show(nullptr, QStringLiteral("确定要删除吗？"), QStringLiteral("提示"),
                               MessageBox::Buttons::OkCancel, MessageBox::Icon::Question),
              MessageBox::kCancel);
    EXPECT_EQ(MessageBox::Show(nullptr, QStringLiteral("导出成功"), QStringLiteral("提示"),
                               MessageBox::Buttons::Ok, MessageBox::Icon::Information),
              MessageBox::kOk);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("确定要删除吗？"));
}

TEST(MessageBoxTest, RealBoxAnsweredByItsButtons) {
    MessageBox::SetShowUnscriptedForTesting(true);
    auto ask = [] {
        return MessageBox::Show(nullptr, QStringLiteral("确定要删除吗？"), QStringLiteral("提示"),
                                MessageBox::Buttons::OkCancel, MessageBox::Icon::Question);
    };
    auto press = [](const QString& label) {
        return [label](QMessageBox* box) {
            EXPECT_EQ(box->windowTitle(), QStringLiteral("提示"));
            EXPECT_EQ(box->text(), QStringLiteral("确定要删除吗？"));
            for (QAbstractButton* b : box->buttons())
                if (b->text() == label) return b->click();
            ADD_FAILURE() << "no button " << label.toStdString();
        };
    };
    {
        ModalScript script;
        script.Then<QMessageBox>(press(QStringLiteral("确定")));
        EXPECT_EQ(ask(), MessageBox::kOk);
        EXPECT_TRUE(script.AllStepsRan());
    }
    {
        ModalScript script;
        script.Then<QMessageBox>(press(QStringLiteral("取消")));
        EXPECT_EQ(ask(), MessageBox::kCancel);
        EXPECT_TRUE(script.AllStepsRan());
    }
    {
        // Escape closes it as Cancel.
        ModalScript script;
        script.Then<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
        EXPECT_EQ(ask(), MessageBox::kCancel);
        EXPECT_TRUE(script.AllStepsRan());
    }
    EXPECT_EQ(MessageBox::Requests().size(), 3u);

    // Reset turns real boxes off again.
    MessageBox::ResetForTesting();
    EXPECT_EQ(ask(), MessageBox::kCancel);
}
