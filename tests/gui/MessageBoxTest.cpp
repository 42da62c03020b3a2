#include <gtest/gtest.h>

#include <QApplication>

#include "platform/MessageBox.h"

using zeza::MessageBox;

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

TEST(MessageBoxDeathTest, UnscriptedBoxWithoutDisplayStopsTheTestAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    EXPECT_DEATH(MessageBox::Show(nullptr, QStringLiteral("nobody answers this"), QStringLiteral("caption"),
                                  MessageBox::Buttons::Ok, MessageBox::Icon::Warning),
                 "Unanswered message box.*nobody answers this");
}
