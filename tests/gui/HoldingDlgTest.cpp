#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "dialogs/CHoldingDlg.h"
#include "platform/GbkCodec.h"
#include "platform/MessageBox.h"
#include "suggest/CSuggestEdit.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using zeza::CHoldingDlg;
using zeza::CSuggestEdit;
using zeza::ExecSql;
using zeza::MessageBox;
using zeza::QuerySql;
using zeza::QueryTable;
using zeza::test::Ctrl;
using zeza::test::DuRect;
using zeza::test::G;
using zeza::test::ScopedTempDir;
using zeza::test::TypeText;

namespace {

// Template ids of the controls.
enum Id {
    kCode = 1018,
    kCost = 1020,
    kUnits = 1022,
    kUnitCost = 1027,
    kMessage = 1019,
    kRemark = 1021,
    kSave = 1029,
    kCancel = 1024
};

// Every holding as "code|cost|units|remark" (remark shown in UTF-8), in row order.
std::vector<std::string> Holdings() {
    QueryTable t;
    EXPECT_EQ(QuerySql("SELECT codec,tcost,tcount,remark FROM fu_count ORDER BY idc;", {}, t), 0);
    std::vector<std::string> rows;
    for (int r = 0; r < t.rows; ++r)
        rows.push_back(t.Str(r, 0) + "|" + t.Str(r, 1) + "|" + t.Str(r, 2) + "|" +
                       zeza::GbkToUtf8(t.Str(r, 3)));
    return rows;
}

// The dialog in a fresh folder with a database made from the template (whose
// catalogue has 000001 华夏成长), opened and active as a modal run has it.
class HoldingDlgTest : public testing::Test {
  protected:
    void Open(const std::string& code = {}, double cost = 0, double units = 0, const std::string& remark = {},
              int mode = 0, int id = 0) {
        dlg = std::make_unique<CHoldingDlg>();
        dlg->SetValues(code, cost, units, remark);
        if (mode != 0) dlg->SetMode(mode, id);
        dlg->show();
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    }

    QLineEdit* Edit(int id) { return Ctrl<QLineEdit>(dlg.get(), id); }
    QPushButton* ButtonOf(int id) { return Ctrl<QPushButton>(dlg.get(), id); }
    QString Message() { return Ctrl<QLabel>(dlg.get(), kMessage)->text(); }
    QWidget* Focus() { return QApplication::focusWidget(); }
    // A key as the user presses it: to whatever has the focus.
    void Press(int key) { QTest::keyClick(Focus(), static_cast<Qt::Key>(key)); }
    // Replaces a field's text as the user would, and leaves the focus in it.
    void Type(int id, const QString& text) {
        QLineEdit* e = Edit(id);
        e->setFocus(Qt::TabFocusReason);
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        TypeText(e, text);
    }
    bool Closed(int result) { return !dlg->isVisible() && dlg->result() == result; }

    ScopedTempDir dir;
    zeza::CFundDb db;  // built in dir, so it writes the database there
    std::unique_ptr<CHoldingDlg> dlg;
};

}  // namespace

TEST_F(HoldingDlgTest, LooksLikeItsTemplate) {
    Open();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("我的基金"));
    EXPECT_EQ(dlg->size(), DuRect(0, 0, 209, 138).size());
    const struct {
        int id;
        QRect rect;
    } rects[] = {
        {kCode, DuRect(53, 7, 102, 14)},    {kCost, DuRect(53, 24, 102, 14)},
        {kUnits, DuRect(53, 41, 102, 14)},  {kUnitCost, DuRect(53, 58, 102, 14)},
        {kRemark, DuRect(7, 90, 195, 41)},  {kSave, DuRect(162, 7, 40, 14)},
        {kCancel, DuRect(162, 24, 40, 14)},
    };
    for (const auto& r : rects) {
        QWidget* w = Ctrl(dlg.get(), r.id);
        ASSERT_NE(w, nullptr) << r.id;
        EXPECT_EQ(w->geometry(), r.rect) << r.id;
    }
    EXPECT_NE(qobject_cast<CSuggestEdit*>(Edit(kCode)), nullptr);
    EXPECT_EQ(ButtonOf(kSave)->text(), QStringLiteral("保存"));
    EXPECT_EQ(ButtonOf(kCancel)->text(), QStringLiteral("取消"));
    EXPECT_TRUE(Edit(kUnitCost)->isReadOnly());
    EXPECT_EQ(Edit(kRemark)->maxLength(), 500);
    auto* message = Ctrl<QLabel>(dlg.get(), kMessage);
    EXPECT_EQ(message->geometry().topLeft(), DuRect(53, 77, 102, 10).topLeft());
    EXPECT_EQ(message->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    QStringList labels;
    for (QLabel* l : dlg->findChildren<QLabel*>()) {
        labels << l->text();
        EXPECT_GE(l->height(), l->sizeHint().height()) << l->text().toStdString();
    }
    for (const char* text : {"代码：", "投入成本：", "持有份数：", "单位成本：", "备注："})
        EXPECT_TRUE(labels.contains(QString::fromUtf8(text))) << text;

    // Numbers start as 0; Tab walks code, cost, units, remark, save, cancel and skips the unit cost.
    EXPECT_EQ(Edit(kCost)->text(), QStringLiteral("0"));
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("0"));
    EXPECT_EQ(Focus(), Edit(kCode));
    for (int id : {kCost, kUnits, kRemark, kSave, kCancel, kCode}) {
        Press(Qt::Key_Tab);
        EXPECT_EQ(Focus(), Ctrl(dlg.get(), id)) << id;
    }
}

TEST_F(HoldingDlgTest, AddStoresTheTypedHolding) {
    Open();
    // The code field takes digits only.
    TypeText(Edit(kCode), QStringLiteral("0a0-0 0 0１1"));
    EXPECT_EQ(Edit(kCode)->text(), QStringLiteral("000001"));
    Type(kCost, QStringLiteral("1000"));
    Type(kUnits, QStringLiteral(" 400 "));
    Type(kRemark, QStringLiteral("it's 定投, 第一笔"));
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);

    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_TRUE(MessageBox::Requests().empty());
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|1000.0|400.0|it's 定投, 第一笔"});
}

TEST_F(HoldingDlgTest, PickedSuggestionStoresItsCode) {
    Open();
    TypeText(Edit(kCode), QStringLiteral("00000"));
    auto* code = qobject_cast<CSuggestEdit*>(Edit(kCode));
    ASSERT_TRUE(code->Popup().isVisible());
    Press(Qt::Key_Down);
    EXPECT_EQ(code->text(), QStringLiteral("000001-华夏成长"));
    // Enter closes the list first and stays in the field; the next one moves on.
    Press(Qt::Key_Return);
    EXPECT_FALSE(code->Popup().isVisible());
    EXPECT_EQ(Focus(), code);
    Press(Qt::Key_Return);
    EXPECT_EQ(Focus(), Edit(kCost));
    Type(kCost, QStringLiteral("10"));
    Type(kUnits, QStringLiteral("4"));
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|10.0|4.0|"});
}

TEST_F(HoldingDlgTest, UnitCostFollowsCostAndUnitsWhenEitherIsLeft) {
    Open();
    Type(kCost, QStringLiteral("1000"));
    Type(kUnits, QStringLiteral("400"));
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("0"));  // not before the field is left
    Press(Qt::Key_Tab);
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("2.5"));

    Type(kCost, QStringLiteral("1000.5"));
    Press(Qt::Key_Tab);
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("2.50125"));
    // Units of 0 or below leave the unit cost as it was.
    Type(kUnits, QStringLiteral("0"));
    Press(Qt::Key_Tab);
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("2.50125"));
    Type(kUnits, QStringLiteral("-3"));
    Press(Qt::Key_Tab);
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("2.50125"));
    // Fifteen significant digits at most; what was typed is shown in that form.
    Type(kCost, QStringLiteral("1000.000"));
    Type(kUnits, QStringLiteral("3"));
    QTest::mouseClick(Edit(kRemark), Qt::LeftButton);
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("333.333333333333"));
    EXPECT_EQ(Edit(kCost)->text(), QStringLiteral("1000"));
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST_F(HoldingDlgTest, NotANumberIsRefusedAndTheLastValueComesBack) {
    Open("000001", 1000, 400);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    Type(kCost, QStringLiteral("12abc"));
    Press(Qt::Key_Tab);
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("请键入一个数。"));
    EXPECT_EQ(MessageBox::Requests()[0].buttons, MessageBox::Buttons::Ok);
    EXPECT_EQ(Focus(), Edit(kCost));
    EXPECT_EQ(Edit(kCost)->text(), QStringLiteral("1000"));
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("2.5"));

    // An empty field is no number either.
    MessageBox::ClearRequests();
    Type(kUnits, QString());
    MessageBox::SetNextAnswer(MessageBox::kOk);
    Edit(kCode)->setFocus(Qt::OtherFocusReason);
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(Focus(), Edit(kUnits));
    EXPECT_EQ(Edit(kUnits)->text(), QStringLiteral("400"));

    // Saving with a field that is no number writes nothing and stays open.
    Edit(kUnits)->setText(QStringLiteral("1,5"));
    MessageBox::SetNextAnswer(MessageBox::kOk);
    ButtonOf(kSave)->click();
    EXPECT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(Focus(), Edit(kUnits));
    EXPECT_TRUE(Holdings().empty());
}

TEST_F(HoldingDlgTest, ClickOnSaveThatLeavesABadNumberDoesNotSave) {
    Open("000001", 1000, 400);
    Type(kCost, QStringLiteral("abc"));
    MessageBox::SetNextAnswer(MessageBox::kOk);
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
    EXPECT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(Holdings().empty());
    // The next click is an ordinary one.
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|1000.0|400.0|"});
}

TEST_F(HoldingDlgTest, EditStoresTheShownRoundedNumbersWithFourDecimals) {
    ASSERT_EQ(
        ExecSql(
            "INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES ('000011',1000.123456,400.5,'old');"),
        0);
    ASSERT_EQ(ExecSql("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES ('000021',1,1,'other');"), 0);
    // The holdings view shows the cost rounded to 1000.12.
    Open("000011", 1000.12, 400.5, G("old"), 1, 1);
    EXPECT_EQ(Edit(kCode)->text(), QStringLiteral("000011-华夏大盘"));
    EXPECT_EQ(Edit(kCost)->text(), QStringLiteral("1000.12"));
    EXPECT_EQ(Edit(kUnitCost)->text(), QStringLiteral("2.49717852684145"));
    EXPECT_EQ(Edit(kRemark)->text(), QStringLiteral("old"));
    Type(kUnits, QStringLiteral("400.123456"));
    Type(kRemark, QStringLiteral("it's new"));
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(),
              (std::vector<std::string>{"000011|1000.12|400.1235|it's new", "000021|1.0|1.0|other"}));
}

TEST_F(HoldingDlgTest, UnknownCodeIsRefusedInTheMessageLine) {
    Open("999999");  // not in the catalogue: the field stays empty
    EXPECT_TRUE(Edit(kCode)->text().isEmpty());
    for (const char* code : {"", "00001", "12345678"}) {
        Type(kCode, QString::fromLatin1(code));
        QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
        EXPECT_EQ(Message(), QStringLiteral("请输入正确代码")) << code;
        EXPECT_EQ(Focus(), Edit(kCode)) << code;
        EXPECT_TRUE(dlg->isVisible());
    }
    EXPECT_TRUE(Holdings().empty());
    EXPECT_TRUE(MessageBox::Requests().empty());

    // Enter moves on like Tab and clears the message.
    Press(Qt::Key_Return);
    EXPECT_TRUE(Message().isEmpty());
    EXPECT_EQ(Focus(), Edit(kCost));
}

TEST_F(HoldingDlgTest, EnterWalksTheFieldsAndSavesOnceOnTheButton) {
    Open("000001", 1000, 400);
    auto* code = qobject_cast<CSuggestEdit*>(Edit(kCode));
    EXPECT_EQ(code->text(), QStringLiteral("000001-华夏成长"));
    // The preset entry was matched like typed text and may have opened its
    // list; a click into the field and an Escape leave it closed either way.
    QTest::mouseClick(code, Qt::LeftButton);
    if (code->Popup().isVisible()) Press(Qt::Key_Escape);
    ASSERT_FALSE(code->Popup().isVisible());
    ASSERT_TRUE(dlg->isVisible());
    EXPECT_EQ(Focus(), code);
    for (int id : {kCost, kUnits, kRemark, kSave}) {
        Press(Qt::Key_Return);
        EXPECT_EQ(Focus(), Ctrl(dlg.get(), id)) << id;
    }
    EXPECT_TRUE(dlg->isVisible());
    Press(Qt::Key_Enter);
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|1000.0|400.0|"});
}

TEST_F(HoldingDlgTest, EscapeAndCancelWriteNothing) {
    Open("000001", 1000, 400);
    Type(kRemark, QStringLiteral("typed"));
    Press(Qt::Key_Escape);
    EXPECT_TRUE(Closed(QDialog::Rejected));

    Open("000001", 1000, 400);
    QTest::mouseClick(ButtonOf(kCancel), Qt::LeftButton);
    EXPECT_TRUE(Closed(QDialog::Rejected));
    EXPECT_TRUE(Holdings().empty());
}

TEST_F(HoldingDlgTest, SaveThatFailsSaysSoAndStaysOpen) {
    ASSERT_EQ(ExecSql("CREATE TRIGGER refuse BEFORE INSERT ON fu_count BEGIN SELECT RAISE(ABORT,'no'); END;"),
              0);
    Open("000001", 1000, 400);
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
    EXPECT_EQ(Message(), QStringLiteral("保存失败 请重试"));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_NE(dlg->result(), QDialog::Accepted);

    // The database gone altogether: the same.
    ASSERT_EQ(ExecSql("DROP TRIGGER refuse;"), 0);
    Edit(kCost)->setFocus(Qt::OtherFocusReason);
    Press(Qt::Key_Return);  // clears the message
    EXPECT_TRUE(Message().isEmpty());
    std::filesystem::rename("Zeza.db", "Zeza.db.away");
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
    EXPECT_EQ(Message(), QStringLiteral("保存失败 请重试"));
    EXPECT_TRUE(dlg->isVisible());

    // Once it can be written, the same dialog saves.
    std::filesystem::rename("Zeza.db.away", "Zeza.db");
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
    EXPECT_TRUE(Closed(QDialog::Accepted));
    EXPECT_EQ(Holdings(), std::vector<std::string>{"000001|1000.0|400.0|"});
}

TEST_F(HoldingDlgTest, RemarkThatGbkCannotHoldIsRefused) {
    Open("000001", 1000, 400);
    Edit(kRemark)->setText(QString::fromUtf8("ok \xF0\x9F\x98\x80"));
    // Leaving cost or units shows the fields again, and that does not spoil it.
    Edit(kUnits)->setFocus(Qt::TabFocusReason);
    Press(Qt::Key_Tab);
    EXPECT_EQ(Edit(kRemark)->text(), QString::fromUtf8("ok \xF0\x9F\x98\x80"));
    QTest::mouseClick(ButtonOf(kSave), Qt::LeftButton);
    EXPECT_EQ(Message(), QStringLiteral("备注含不支持的字符"));
    EXPECT_EQ(Focus(), Edit(kRemark));
    EXPECT_TRUE(Holdings().empty());
}
