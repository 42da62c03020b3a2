#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

#include "platform/MessageBox.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::MessageBox;
using zeza::test::ModalScript;

namespace {

int AskDelete() {
    return MessageBox::Show(nullptr, QStringLiteral("确定要删除吗？"), QStringLiteral("提示"),
                            MessageBox::Buttons::OkCancel, MessageBox::Icon::Question);
}

// A question, then a notice: the two answers, with no window left open.
std::pair<int, int> AskThenTell() {
    const int first = AskDelete();
    const int second = MessageBox::Show(nullptr, QStringLiteral("导出成功"), QStringLiteral("提示"),
                                        MessageBox::Buttons::Ok, MessageBox::Icon::Information);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    return {first, second};
}

}  // namespace

TEST(MessageBoxTest, ScriptedAnswersAreTakenInOrderAndEveryBoxIsRecorded) {
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    EXPECT_EQ(AskThenTell(), std::make_pair(MessageBox::kCancel, MessageBox::kOk));

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
    EXPECT_EQ(AskThenTell(), std::make_pair(MessageBox::kCancel, MessageBox::kOk));
    ASSERT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("确定要删除吗？"));
}

TEST(MessageBoxTest, RealBoxAnsweredByItsButtons) {
    MessageBox::SetShowUnscriptedForTesting(true);
    auto press = [](const QString& label) {
        return [label](QMessageBox* box) {
            EXPECT_EQ(box->windowTitle(), QStringLiteral("提示"));
            EXPECT_EQ(box->text(), QStringLiteral("确定要删除吗？"));
            for (QAbstractButton* b : box->buttons())
                if (b->text() == label) return b->click();
            ADD_FAILURE() << "no button " << label.toStdString();
        };
    };
    const std::pair<std::function<void(QMessageBox*)>, int> answers[] = {
        {press(QStringLiteral("确定")), MessageBox::kOk},
        {press(QStringLiteral("取消")), MessageBox::kCancel},
        // Escape closes it as Cancel.
        {[](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, MessageBox::kCancel}};
    for (const auto& [step, answer] : answers) {
        ModalScript script;
        script.Then<QMessageBox>(step);
        EXPECT_EQ(AskDelete(), answer);
        EXPECT_TRUE(script.AllStepsRan());
    }
    EXPECT_EQ(MessageBox::Requests().size(), 3u);

    // Reset turns real boxes off again.
    MessageBox::ResetForTesting();
    EXPECT_EQ(AskDelete(), MessageBox::kCancel);
}
