#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "dialogs/CHoldingDlg.h"
#include "platform/MessageBox.h"
#include "suggest/CSuggestEdit.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CHoldingDlg;
using zeza::CSuggestEdit;
using zeza::MessageBox;
using namespace zeza::test;

namespace {

// The dialog in a fresh folder with a database made from the template (whose
// catalogue has 000001 华夏成长), opened and active as a modal run has it.
class HoldingDlgTest : public DialogTest<CHoldingDlg> {
  protected:
    void Open(const std::string& code = {}, double cost = 0, double units = 0, const std::string& remark = {},
              int mode = 0, int id = 0) {
        auto d = std::make_unique<CHoldingDlg>();
        d->SetValues(code, cost, units, remark);
        if (mode != 0) d->SetMode(mode, id);
        Show(std::move(d));
    }
    QString Message() { return Text("messageLabel"); }
};

}  // namespace

TEST_F(HoldingDlgTest, ShowsItsFieldsInFullAndTabsThroughThemInOrder) {
    Open();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("我的基金"));
    ExpectControlsInsideAndApart(dlg.get());
    EXPECT_NE(qobject_cast<CSuggestEdit*>(Edit("codeEdit")), nullptr);
    EXPECT_EQ(Button("saveButton")->text(), QStringLiteral("保存"));
    EXPECT_EQ(Button("cancelButton")->text(), QStringLiteral("取消"));
    EXPECT_TRUE(Edit("unitCostEdit")->isReadOnly());
    EXPECT_EQ(Edit("remarkEdit")->maxLength(), 500);
    EXPECT_EQ(Find<QLabel>("messageLabel")->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    QStringList labels;
    for (QLabel* l : dlg->findChildren<QLabel*>()) {
        labels << l->text();
        EXPECT_GE(l->height(), l->sizeHint().height()) << l->text().toStdString();
    }
    for (const char* text : {"代码：", "投入成本：", "持有份数：", "单位成本：", "备注："})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;

    // Numbers start as 0; Tab walks code, cost, units, remark, save, cancel and skips the unit cost.
    EXPECT_EQ(Edit("costEdit")->text(), QStringLiteral("0"));
    EXPECT_EQ(Edit("unitCostEdit")->text(), QStringLiteral("0"));
    EXPECT_EQ(Focus(), Edit("codeEdit"));
    for (const char* name :
         {"costEdit", "unitsEdit", "remarkEdit", "saveButton", "cancelButton", "codeEdit"}) {
        Press(Qt::Key_Tab);
        EXPECT_EQ(Focus(), Find(name)) << name;
    }
}

TEST_F(HoldingDlgTest, AddStoresTheTypedHolding) {
    Open();
    // The code field takes digits only.
    TypeText(Edit("codeEdit"), QStringLiteral("0a0-0 0 0１1"));
    EXPECT_EQ(Edit("codeEdit")->text(), QStringLiteral("000001"));
    Type("costEdit", QStringLiteral("1000"));
    Type("unitsEdit", QStringLiteral(" 400 "));
    Type("remarkEdit", QStringLiteral("it's 定投, 第一笔"));
    Click("saveButton");

    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_TRUE(MessageBox::Requests().empty());
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|1000.0|400.0|" + G("it's 定投, 第一笔")});
}

TEST_F(HoldingDlgTest, PickedSuggestionStoresItsCode) {
    Open();
    TypeText(Edit("codeEdit"), QStringLiteral("00000"));
    auto* code = qobject_cast<CSuggestEdit*>(Edit("codeEdit"));
    ASSERT_TRUE(code->Popup().isVisible());
    Press(Qt::Key_Down);
    EXPECT_EQ(code->text(), QStringLiteral("000001-华夏成长"));
    // Enter closes the list first and stays in the field; the next one moves on.
    Press(Qt::Key_Return);
    EXPECT_FALSE(code->Popup().isVisible());
    EXPECT_EQ(Focus(), code);
    Press(Qt::Key_Return);
    EXPECT_EQ(Focus(), Edit("costEdit"));
    Type("costEdit", QStringLiteral("10"));
    Type("unitsEdit", QStringLiteral("4"));
    Click("saveButton");
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|10.0|4.0|"});
}

TEST_F(HoldingDlgTest, UnitCostFollowsCostAndUnitsWhenEitherIsLeft) {
    Open();
    Type("costEdit", QStringLiteral("1000"));
    Type("unitsEdit", QStringLiteral("400"));
    EXPECT_EQ(Edit("unitCostEdit")->text(), QStringLiteral("0"));  // not before the field is left
    Press(Qt::Key_Tab);
    EXPECT_EQ(Edit("unitCostEdit")->text(), QStringLiteral("2.5"));

    // Units of 0 or below leave the unit cost as it was.
    for (const auto& [field, text] :
         {std::pair{"costEdit", "1000.5"}, {"unitsEdit", "0"}, {"unitsEdit", "-3"}}) {
        Type(field, QString::fromUtf8(text));
        Press(Qt::Key_Tab);
        EXPECT_EQ(Edit("unitCostEdit")->text(), QStringLiteral("2.50125")) << field << "=" << text;
    }
    // Fifteen significant digits at most; what was typed is shown in that form.
    Type("costEdit", QStringLiteral("1000.000"));
    Type("unitsEdit", QStringLiteral("3"));
    QTest::mouseClick(Edit("remarkEdit"), Qt::LeftButton);
    EXPECT_EQ(Edit("unitCostEdit")->text(), QStringLiteral("333.333333333333"));
    EXPECT_EQ(Edit("costEdit")->text(), QStringLiteral("1000"));
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST_F(HoldingDlgTest, NotANumberIsRefusedAndTheLastValueComesBack) {
    Open("000001", 1000, 400);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    Type("costEdit", QStringLiteral("12abc"));
    Press(Qt::Key_Tab);
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("请键入一个数。"));
    EXPECT_EQ(MessageBox::Requests()[0].buttons, MessageBox::Buttons::Ok);
    EXPECT_EQ(Focus(), Edit("costEdit"));
    EXPECT_EQ(Edit("costEdit")->text(), QStringLiteral("1000"));
    EXPECT_EQ(Edit("unitCostEdit")->text(), QStringLiteral("2.5"));

    // An empty field is no number either.
    MessageBox::ClearRequests();
    Type("unitsEdit", QString());
    MessageBox::SetNextAnswer(MessageBox::kOk);
    Edit("codeEdit")->setFocus(Qt::OtherFocusReason);
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(Focus(), Edit("unitsEdit"));
    EXPECT_EQ(Edit("unitsEdit")->text(), QStringLiteral("400"));

    // Saving with a field that is no number writes nothing and stays open.
    Edit("unitsEdit")->setText(QStringLiteral("1,5"));
    MessageBox::SetNextAnswer(MessageBox::kOk);
    Button("saveButton")->click();
    EXPECT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Focus(), Edit("unitsEdit"));
    EXPECT_TRUE(Holdings().empty());
}

TEST_F(HoldingDlgTest, ClickOnSaveThatLeavesABadNumberDoesNotSave) {
    Open("000001", 1000, 400);
    Type("costEdit", QStringLiteral("abc"));
    MessageBox::SetNextAnswer(MessageBox::kOk);
    Click("saveButton");
    EXPECT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(Holdings().empty());
    // The next click is an ordinary one.
    Click("saveButton");
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|1000.0|400.0|"});
}

TEST_F(HoldingDlgTest, EditStoresTheShownRoundedNumbersWithFourDecimals) {
    AddHolding("000011", 1000.123456, 400.5, "old");
    AddHolding("000021", 1, 1, "other");
    // The holdings view shows the cost rounded to 1000.12.
    Open("000011", 1000.12, 400.5, G("old"), 1, 1);
    EXPECT_EQ(Edit("codeEdit")->text(), QStringLiteral("000011-华夏大盘"));
    EXPECT_EQ(Edit("costEdit")->text(), QStringLiteral("1000.12"));
    EXPECT_EQ(Edit("unitCostEdit")->text(), QStringLiteral("2.49717852684145"));
    EXPECT_EQ(Edit("remarkEdit")->text(), QStringLiteral("old"));
    Type("unitsEdit", QStringLiteral("400.123456"));
    Type("remarkEdit", QStringLiteral("it's new"));
    Click("saveButton");
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(),
              (std::vector<std::string>{"000011|1000.12|400.1235|it's new", "000021|1.0|1.0|other"}));
}

TEST_F(HoldingDlgTest, UnknownCodeIsRefusedInTheMessageLine) {
    Open("999999");  // not in the catalogue: the field stays empty
    EXPECT_TRUE(Edit("codeEdit")->text().isEmpty());
    for (const char* code : {"", "00001", "12345678"}) {
        Type("codeEdit", QString::fromLatin1(code));
        Click("saveButton");
        EXPECT_EQ(Message(), QStringLiteral("请输入正确代码")) << code;
        EXPECT_EQ(Focus(), Edit("codeEdit")) << code;
        EXPECT_TRUE(dlg->isVisible());
    }
    EXPECT_TRUE(Holdings().empty());
    EXPECT_TRUE(MessageBox::Requests().empty());

    // Enter moves on like Tab and clears the message.
    Press(Qt::Key_Return);
    EXPECT_TRUE(Message().isEmpty());
    EXPECT_EQ(Focus(), Edit("costEdit"));
}

TEST_F(HoldingDlgTest, EnterWalksTheFieldsAndSavesOnceOnTheButton) {
    Open("000001", 1000, 400);
    auto* code = qobject_cast<CSuggestEdit*>(Edit("codeEdit"));
    EXPECT_EQ(code->text(), QStringLiteral("000001-华夏成长"));
    // The preset entry was matched like typed text and may have opened its
    // list; a click into the field and an Escape leave it closed either way.
    QTest::mouseClick(code, Qt::LeftButton);
    if (code->Popup().isVisible()) Press(Qt::Key_Escape);
    ASSERT_FALSE(code->Popup().isVisible());
    ASSERT_TRUE(dlg->isVisible());
    EXPECT_EQ(Focus(), code);
    for (const char* name : {"costEdit", "unitsEdit", "remarkEdit", "saveButton"}) {
        Press(Qt::Key_Return);
        EXPECT_EQ(Focus(), Find(name)) << name;
    }
    EXPECT_TRUE(dlg->isVisible());
    Press(Qt::Key_Enter);
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|1000.0|400.0|"});
}

TEST_F(HoldingDlgTest, EscapeAndCancelWriteNothing) {
    Open("000001", 1000, 400);
    Type("remarkEdit", QStringLiteral("typed"));
    Press(Qt::Key_Escape);
    EXPECT_TRUE(Closed(QDialog::Rejected));

    Open("000001", 1000, 400);
    Click("cancelButton");
    EXPECT_TRUE(Closed(QDialog::Rejected));
    EXPECT_TRUE(Holdings().empty());
}

TEST_F(HoldingDlgTest, SaveThatFailsSaysSoAndStaysOpen) {
    ASSERT_TRUE(Exec("CREATE TRIGGER refuse BEFORE INSERT ON fu_count BEGIN SELECT RAISE(ABORT,'no'); END;"));
    Open("000001", 1000, 400);
    Click("saveButton");
    EXPECT_EQ(Message(), QStringLiteral("保存失败 请重试"));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_NE(dlg->result(), QDialog::Accepted);

    // The database gone altogether: the same.
    ASSERT_TRUE(Exec("DROP TRIGGER refuse;"));
    Edit("costEdit")->setFocus(Qt::OtherFocusReason);
    Press(Qt::Key_Return);  // clears the message
    EXPECT_TRUE(Message().isEmpty());
    std::filesystem::rename("Zeza.db", "Zeza.db.away");
    Click("saveButton");
    EXPECT_EQ(Message(), QStringLiteral("保存失败 请重试"));
    EXPECT_TRUE(dlg->isVisible());

    // Once it can be written, the same dialog saves.
    std::filesystem::rename("Zeza.db.away", "Zeza.db");
    Click("saveButton");
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|1000.0|400.0|"});
}

TEST_F(HoldingDlgTest, RemarkThatGbkCannotHoldIsRefused) {
    Open("000001", 1000, 400);
    Edit("remarkEdit")->setText(QString::fromUtf8("ok \xF0\x9F\x98\x80"));
    // Leaving cost or units shows the fields again, and that does not spoil it.
    Edit("unitsEdit")->setFocus(Qt::TabFocusReason);
    Press(Qt::Key_Tab);
    EXPECT_EQ(Edit("remarkEdit")->text(), QString::fromUtf8("ok \xF0\x9F\x98\x80"));
    Click("saveButton");
    EXPECT_EQ(Message(), QStringLiteral("备注含不支持的字符"));
    EXPECT_EQ(Focus(), Edit("remarkEdit"));
    EXPECT_TRUE(Holdings().empty());
}
