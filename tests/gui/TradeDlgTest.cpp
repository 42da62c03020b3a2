#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/CFundDlg.h"
#include "dialogs/CHoldingDlg.h"
#include "dialogs/CPlanDlg.h"
#include "dialogs/CTradeDlg.h"
#include "dialogs/CTradeEditDlg.h"
#include "dialogs/LedgerFigures.h"
#include "ledger/Ledger.h"
#include "platform/FileChooser.h"
#include "platform/MessageBox.h"
#include "tables/CFundListCtrl.h"
#include "tables/CIncomeCalendar.h"
#include "tables/RowColors.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

// A holding of 000001 (华夏成长, in the template catalogue) bought on 2024-01-02 at 1.0000 with
// no fee; the NAV rises to 1.1000 on 2024-01-03 and falls to 1.0500 on 2024-01-04.
constexpr const char* kHistory =
    "2024-01-02|1.0000|1.0000|\r\n2024-01-03|1.1000|1.1000|\r\n2024-01-04|1.0500|1.0500|\r\n";

long long OnlyHoldingId() {
    return std::stoll(QueryOne("SELECT idc FROM fu_count;"));
}

// Buys amount fen of the holding at placed, and confirms it from kHistory.
void BuyAndConfirm(long long idc, Fen amount, const std::string& placed) {
    TradeInput buy;
    buy.holding = idc;
    buy.kind = TradeKind::Buy;
    buy.placed = placed;
    buy.amount = amount;
    ASSERT_EQ(Ledger::AddTrade(buy), 0);
    ASSERT_EQ(Ledger::StoreHistory("000001", kHistory), 0);
    ASSERT_EQ(Ledger::ConfirmAll("2024-01-05"), 0);
}

struct TradeDlgTest : GuiTest {
    void SetUp() override {
        GuiTest::SetUp();
        { CFundDb provision; }
    }
    // The table's text of a cell of the row of trade kind text (the first such row).
    static QString Cell(QTableWidget* table, const QString& kind, int column) {
        for (int r = 0; r < table->rowCount(); ++r)
            if (table->item(r, 1)->text() == kind) return table->item(r, column)->text();
        return QStringLiteral("<no row>");
    }
};

}  // namespace

TEST(LedgerFiguresTest, TextsAreReadExactlyAndWrittenWithTheirDecimals) {
    struct Parse {
        const char* text;
        int decimals;
        bool ok;
        int64_t value;
    };
    for (const Parse& c : std::initializer_list<Parse>{{"0.1", 2, true, 10},
                                                       {" 12 ", 2, true, 1200},
                                                       {"1000.29", 2, true, 100029},
                                                       {".5", 2, true, 50},
                                                       {"1.230", 2, true, 123},
                                                       {"0.15", 4, true, 1500},
                                                       {"1.234", 2, false, 0},
                                                       {"", 2, false, 0},
                                                       {".", 2, false, 0},
                                                       {"-1", 2, false, 0},
                                                       {"1,5", 2, false, 0},
                                                       {"1.2.3", 2, false, 0},
                                                       {"1e3", 2, false, 0},
                                                       {"99999999999999999", 2, false, 0}}) {
        int64_t value = -7;
        EXPECT_EQ(ParseScaled(c.text, c.decimals, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : -7) << c.text;
    }
    EXPECT_EQ(FormatScaled(1234, 2), "12.34");
    EXPECT_EQ(FormatScaled(-5, 2), "-0.05");
    EXPECT_EQ(FormatScaled(0, 2), "0.00");
    EXPECT_EQ(FormatScaled(10500, 4), "1.0500");
    EXPECT_EQ(FormatRatePercent(1500), "0.15");
    EXPECT_EQ(FormatRatePercent(5000), "0.50");
    EXPECT_EQ(FormatRatePercent(12345), "1.2345");
    EXPECT_EQ(FormatRatePercent(0), "0.00");
}

TEST_F(TradeDlgTest, BuyAddedThroughTheEditorIsListedPending) {
    AddHolding("000001", 0, 0);
    const long long idc = OnlyHoldingId();
    CTradeDlg dlg(idc, "000001", G("华夏成长"));
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("交易记录 - 000001 华夏成长"));
    auto* table = Ctrl<QTableWidget>(&dlg, "tradeTable");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 0);

    ModalScript script;
    script.Then<CTradeEditDlg>([](CTradeEditDlg* editor) {
        // A buy takes an amount and a rate; units, target code and cost do not apply.
        EXPECT_FALSE(Ctrl<QLineEdit>(editor, "unitsEdit")->isEnabled());
        EXPECT_FALSE(Ctrl<QLineEdit>(editor, "toCodeEdit")->isEnabled());
        EXPECT_EQ(Ctrl<QLineEdit>(editor, "rateEdit")->text(), QStringLiteral("0.15"));
        Ctrl<QLineEdit>(editor, "amountEdit")->setText(QStringLiteral("1000.1"));
        Ctrl<QLineEdit>(editor, "remarkEdit")->setText(QStringLiteral("第一笔"));
        Ctrl<QPushButton>(editor, "okButton")->click();
    });
    Ctrl<QPushButton>(&dlg, "addButton")->click();
    EXPECT_TRUE(script.AllStepsRan());
    EXPECT_TRUE(MessageBox::Requests().empty());
    EXPECT_TRUE(dlg.Changed());

    ASSERT_EQ(dlg.Trades().size(), 1u);
    const TradeRecord& t = dlg.Trades()[0];
    EXPECT_EQ(t.amount, 100010);  // "1000.1" exactly, not a float's neighbour
    EXPECT_EQ(t.rate, 1500);
    EXPECT_EQ(t.status, TradeStatus::Pending);
    const QString buy = QStringLiteral("买入");
    EXPECT_EQ(Cell(table, buy, 2), QStringLiteral("1000.10"));
    EXPECT_EQ(Cell(table, buy, 4), QStringLiteral("0.15"));
    EXPECT_EQ(Cell(table, buy, 5), QStringLiteral("待确认"));
    EXPECT_EQ(Cell(table, buy, 7), QString());  // no NAV yet
    EXPECT_EQ(Cell(table, buy, 11), QStringLiteral("第一笔"));

    // A pending trade the user made can be changed and cancelled.
    table->selectRow(0);
    EXPECT_TRUE(Ctrl<QPushButton>(&dlg, "editButton")->isEnabled());
    EXPECT_TRUE(Ctrl<QPushButton>(&dlg, "cancelTradeButton")->isEnabled());
    // Cancelling asks first: Cancel keeps it, OK cancels it.
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    dlg.OnCancelTrade();
    EXPECT_EQ(dlg.Trades()[0].status, TradeStatus::Pending);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    dlg.OnCancelTrade();
    EXPECT_EQ(MessageBox::Requests().size(), 2u);
    EXPECT_EQ(dlg.Trades()[0].status, TradeStatus::Cancelled);
    EXPECT_EQ(Cell(table, buy, 5), QStringLiteral("已撤销"));
    EXPECT_FALSE(Ctrl<QPushButton>(&dlg, "cancelTradeButton")->isEnabled());
}

TEST_F(TradeDlgTest, SaleOfMoreThanTheFreeUnitsIsRefusedAndNothingStored) {
    AddHolding("000001", 1000, 1000);
    const long long idc = OnlyHoldingId();
    std::vector<TradeRecord> before;
    ASSERT_EQ(Ledger::ListTrades(idc, before), 0);

    CTradeEditDlg editor(idc);
    editor.show();
    auto* kind = Ctrl<QComboBox>(&editor, "kindCombo");
    kind->setCurrentIndex(kind->findData(static_cast<int>(TradeKind::Sell)));
    EXPECT_FALSE(Ctrl<QLineEdit>(&editor, "amountEdit")->isEnabled());
    EXPECT_EQ(Ctrl<QLineEdit>(&editor, "rateEdit")->text(), QStringLiteral("0.50"));
    Ctrl<QLineEdit>(&editor, "unitsEdit")->setText(QStringLiteral("1000.01"));
    Ctrl<QPushButton>(&editor, "okButton")->click();

    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("份额不足：可卖份额 1000.00"));
    EXPECT_TRUE(editor.isVisible());
    std::vector<TradeRecord> after;
    ASSERT_EQ(Ledger::ListTrades(idc, after), 0);
    EXPECT_EQ(after.size(), before.size());

    // A figure finer than a hundredth is refused before the ledger is asked.
    MessageBox::ClearRequests();
    Ctrl<QLineEdit>(&editor, "unitsEdit")->setText(QStringLiteral("1.005"));
    Ctrl<QPushButton>(&editor, "okButton")->click();
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("份额请键入一个数，最多 2 位小数。"));
    EXPECT_TRUE(editor.isVisible());

    // All the free units can be sold.
    Ctrl<QLineEdit>(&editor, "unitsEdit")->setText(QStringLiteral("1000"));
    Ctrl<QPushButton>(&editor, "okButton")->click();
    EXPECT_FALSE(editor.isVisible());
    EXPECT_EQ(editor.result(), QDialog::Accepted);
    Hundredths free = -1;
    ASSERT_EQ(Ledger::FreeUnits(idc, free), 0);
    EXPECT_EQ(free, 0);
}

TEST_F(TradeDlgTest, PlanIsStoredAsChosenAndDeletedAfterTheQuestion) {
    AddHolding("000001", 0, 0);
    const long long idc = OnlyHoldingId();
    CPlanDlg plans(idc);
    plans.show();
    Ctrl<QLineEdit>(&plans, "amountEdit")->setText(QStringLiteral("500.5"));
    auto* schedule = Ctrl<QComboBox>(&plans, "scheduleCombo");
    schedule->setCurrentIndex(schedule->findData(static_cast<int>(PlanSchedule::Weekly)));
    auto* day = Ctrl<QComboBox>(&plans, "dayCombo");
    EXPECT_EQ(day->count(), 5);
    day->setCurrentIndex(day->findData(3));
    Ctrl<QPushButton>(&plans, "addPlanButton")->click();
    EXPECT_TRUE(MessageBox::Requests().empty());

    std::vector<PlanRecord> stored;
    ASSERT_EQ(Ledger::ListPlans(idc, stored), 0);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].amount, 50050);
    EXPECT_EQ(stored[0].rate, 1500);
    EXPECT_EQ(stored[0].schedule, PlanSchedule::Weekly);
    EXPECT_EQ(stored[0].day, 3);
    EXPECT_EQ(stored[0].start, Ledger::BeijingToday());
    EXPECT_EQ(stored[0].end, "");
    auto* table = Ctrl<QTableWidget>(&plans, "planTable");
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("每周三"));

    table->selectRow(0);
    MessageBox::SetNextAnswer(MessageBox::kCancel);
    plans.OnDelete();
    EXPECT_EQ(table->rowCount(), 1);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    plans.OnDelete();
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_TRUE(plans.Changed());
}

TEST_F(TradeDlgTest, HoldingWithTradesKeepsItsFundInTheHoldingEditor) {
    AddHolding("000001", 0, 0);
    const long long idc = OnlyHoldingId();
    BuyAndConfirm(idc, 100000, "2024-01-02 10:00");
    CHoldingDlg editor;
    editor.SetValues("000001", 1000, 1000, "");
    editor.SetMode(1, static_cast<int>(idc));
    editor.show();
    EXPECT_TRUE(Ctrl<QLineEdit>(&editor, "codeEdit")->isReadOnly());
}

TEST_F(TradeDlgTest, CalendarColoursADaysIncomeAndListsItsHoldings) {
    AddHolding("000001", 0, 0);
    BuyAndConfirm(OnlyHoldingId(), 100000, "2024-01-02 10:00");
    std::vector<DayIncome> month;
    ASSERT_EQ(Ledger::MonthIncome(2024, 1, month), 0);
    Fen rise = 0;
    Fen fall = 0;
    for (const DayIncome& d : month) {
        if (d.day == "2024-01-03") rise = d.income;
        if (d.day == "2024-01-04") fall = d.income;
    }
    ASSERT_GT(rise, 0);
    ASSERT_LT(fall, 0);

    CIncomeCalendar calendar;
    calendar.resize(900, 400);
    calendar.show();
    calendar.Reload();
    // It opens on the month of the newest income, whatever today is.
    EXPECT_EQ(calendar.Year(), 2024);
    EXPECT_EQ(calendar.Month(), 1);
    EXPECT_EQ(Ctrl<QLabel>(&calendar, "monthLabel")->text(), QStringLiteral("2024年1月"));
    // 2024-01-01 is a Monday: the 3rd is row 0, column 2; the 4th column 3.
    QTableWidget* grid = calendar.Grid();
    ASSERT_NE(grid->item(0, 2), nullptr);
    EXPECT_EQ(grid->item(0, 2)->text(),
              QStringLiteral("3\n+") + QString::fromStdString(FormatScaled(rise, 2)));
    EXPECT_EQ(grid->item(0, 2)->foreground().color(), QColor(kRiseColor));
    EXPECT_EQ(grid->item(0, 3)->foreground().color(), QColor(kFallColor));
    EXPECT_EQ(grid->item(0, 0)->text(), QStringLiteral("1"));  // no income that day
    EXPECT_TRUE(
        Ctrl<QLabel>(&calendar, "totalsLabel")
            ->text()
            .contains(QStringLiteral("本月收益：") +
                      QString::fromStdString((rise + fall > 0 ? "+" : "") + FormatScaled(rise + fall, 2))));

    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(grid->item(0, 2)).center());
    QTableWidget* list = calendar.DayList();
    ASSERT_EQ(list->rowCount(), 1);
    EXPECT_EQ(list->item(0, 0)->text(), QStringLiteral("000001"));
    EXPECT_EQ(list->item(0, 1)->text(), QStringLiteral("华夏成长"));
    EXPECT_EQ(list->item(0, 2)->foreground().color(), QColor(kRiseColor));

    // ▶ moves to February, which has none.
    Ctrl<QPushButton>(&calendar, "nextMonthButton")->click();
    EXPECT_EQ(calendar.Month(), 2);
    EXPECT_EQ(list->rowCount(), 0);
    EXPECT_EQ(grid->item(0, 3)->text(), QStringLiteral("1"));  // 2024-02-01 is a Thursday
}

TEST_F(TradeDlgTest, CalendarCoversTheListUntilAViewButton) {
    CFundDlg::SetAutoRefreshForTesting(false);
    CFundDlg dlg;
    dlg.show();
    Ctrl<QPushButton>(&dlg, "incomeCalendarButton")->click();
    EXPECT_TRUE(dlg.IncomeCalendar()->isVisible());
    EXPECT_FALSE(dlg.List()->isVisible());
    EXPECT_EQ(dlg.IncomeCalendar()->geometry(), dlg.List()->geometry());
    // A refresh pass reloads the calendar and leaves it in front.
    AddHolding("000001", 0, 0);
    BuyAndConfirm(OnlyHoldingId(), 100000, "2024-01-02 10:00");
    dlg.IncomeCalendar()->ShowMonth(2024, 1);
    dlg.IncomeCalendar()->SelectDay(3);
    dlg.ReloadCurrentView();
    EXPECT_TRUE(dlg.IncomeCalendar()->isVisible());
    EXPECT_EQ(dlg.IncomeCalendar()->DayList()->rowCount(), 1);

    Ctrl<QPushButton>(&dlg, "holdingsButton")->click();
    EXPECT_FALSE(dlg.IncomeCalendar()->isVisible());
    EXPECT_TRUE(dlg.List()->isVisible());
    EXPECT_FALSE(dlg.m_bListCovered);
    dlg.reject();
}

TEST_F(TradeDlgTest, ImportReportsSkippedLinesAndAFailedImportChangesNothing) {
    CFundDlg::SetAutoRefreshForTesting(false);
    AddHolding("000001", 0, 0);
    BuyAndConfirm(OnlyHoldingId(), 100000, "2024-01-02 10:00");
    CFundDlg dlg;
    dlg.show();
    EXPECT_TRUE(MenuItems(dlg.MoreMenu())
                    .join(QLatin1Char('|'))
                    .contains(QStringLiteral("导出我的基金|导入我的基金|导入交易记录|导出交易记录")));

    // Export the one buy, then add a line the ledger cannot take.
    const QString path = QString::fromStdString((dir.Path() / "trades.TXT").string());
    FileChooser::SetNextAnswer(path);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    dlg.OnExportTrades();
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("保存成功:\n") + path);
    std::string file = ReadFileBytes(path.toStdString());
    ASSERT_FALSE(file.empty());
    WriteFileBytes(path.toStdString(), file + "not,a,trade\r\n");

    MessageBox::ClearRequests();
    FileChooser::SetNextAnswer(path);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    dlg.OnImportTrades();
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    const QString told = MessageBox::Requests()[0].text;
    EXPECT_TRUE(told.startsWith(QStringLiteral("数据导入成功。\n导入 1 条记录，跳过 1 行。")))
        << told.toStdString();
    EXPECT_TRUE(told.contains(QStringLiteral("行："))) << told.toStdString();

    // A folder cannot be read: told, and the ledger is as it was.
    std::vector<TradeRecord> before;
    ASSERT_EQ(Ledger::ListTrades(OnlyHoldingId(), before), 0);
    std::filesystem::create_directory(dir.Path() / "folder.TXT");
    const QString folder = QString::fromStdString((dir.Path() / "folder.TXT").string());
    MessageBox::ClearRequests();
    FileChooser::SetNextAnswer(folder);
    MessageBox::SetNextAnswer(MessageBox::kOk);
    dlg.OnImportTrades();
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].text, QStringLiteral("导入失败，无法读取文件:\n") + folder);
    std::vector<TradeRecord> after;
    ASSERT_EQ(Ledger::ListTrades(OnlyHoldingId(), after), 0);
    EXPECT_EQ(after.size(), before.size());
    dlg.reject();
}

TEST_F(TradeDlgTest, DamagedLedgerIsToldOnceAndTheHoldingsStillShow) {
    CFundDlg::SetAutoRefreshForTesting(false);
    AddHolding("000001", 1000, 1000);
    ASSERT_TRUE(Exec("INSERT INTO fu_stk VALUES ('000001',1,1.1,1.0,'2008-11-14');"));
    WriteFileBytes(dir.Path() / Ledger::kFileName, std::string(4096, 'x'));
    CFundDlg dlg;
    dlg.show();
    dlg.OnHoldings();
    ASSERT_EQ(dlg.List()->GetItemCount(), 1);
    dlg.List()->selectRow(0);
    dlg.OnTrades();
    Ctrl<QPushButton>(&dlg, "incomeCalendarButton")->click();
    dlg.OnTrades();
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].text,
              QStringLiteral("交易记录文件 ZezaLedger.db 已损坏，交易记录暂不可用；我的基金照常显示。"));
    dlg.OnHoldings();
    EXPECT_EQ(dlg.List()->GetItemCount(), 1);
    dlg.reject();
}
