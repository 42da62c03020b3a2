#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDate>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "platform/MessageBox.h"
#include "tables/CFundListCtrl.h"
#include "tables/FundListModel.h"
#include "tables/RowColors.h"
#include "tables/ViewDefinition.h"
#include "sync/EstimateFeed.h"
#include "sync/NetValueFeed.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/gui/GuiTestSupport.h"

using namespace zeza;
using namespace zeza::test;

namespace {

constexpr const char* kDate = "2024-03-15";

const QColor kWatched(255, 255, 200);
const QColor kPlain(250, 250, 255);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 153, 0);
const QColor kGrid(159, 215, 255);

// Model checker findings arrive as warnings in their own category; count them.
int g_modelWarnings = 0;
QtMessageHandler g_previousHandler = nullptr;

void CountModelWarnings(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
    if (ctx.category && QByteArray(ctx.category).startsWith("qt.modeltest")) {
        ++g_modelWarnings;
        ADD_FAILURE() << "model check: " << msg.toStdString();
    }
    if (g_previousHandler) g_previousHandler(type, ctx, msg);
}

// Gives access to the delegate's option set-up, to find the check box the way a click hits it.
class OptionProbe : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::initStyleOption;
};

class FundListCtrlTest : public testing::Test {
  protected:
    void SetUp() override {
        g_modelWarnings = 0;
        g_previousHandler = qInstallMessageHandler(CountModelWarnings);
        ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
        Exec("DELETE FROM fu_list");
        AddFund(21, "110003", "易基５０", "指数型", 0, 1.30);
        AddFund(22, "000001", "华夏成长", "股票型", -1, 1.00);
        AddFund(23, "040002", "华安Ａ股", "股票型", 0, 1.20);
        AddFund(24, "519078", "汇添富增强收益基金", "债券型", 5, 1.10);
        AddValue("110003", 2.1000, 1.2000, 1.1877);  // rise
        AddValue("000001", 3.5000, 1.0500, 1.0500);  // no change
        AddValue("040002", 1.9000, 1.1000, 1.2000);  // fall
        AddValue("519078", 1.0500, 1.0200, 1.0000);  // rise
        AddHolding(31, "000001", 1000.0, 1000.0, "定投");
        AddHolding(32, "000001", 500.0, 400.0, "");
        AddHolding(33, "110003", 50.0, 50.0, "试试");

        m_ctrl = std::make_unique<CFundListCtrl>();
        m_ctrl->m_strDate = kDate;
        m_ctrl->resize(1000, 300);
        m_ctrl->show();
        m_tester = std::make_unique<QAbstractItemModelTester>(
            m_ctrl->ListModel(), QAbstractItemModelTester::FailureReportingMode::Warning);
    }

    void TearDown() override {
        m_tester.reset();
        m_ctrl.reset();
        qInstallMessageHandler(g_previousHandler);
        EXPECT_EQ(g_modelWarnings, 0);
    }

    static void AddValue(const std::string& code, double valreal, double valtd, double valytd) {
        AddNetValue(code, valreal, valtd, valytd, kDate);
    }
    static std::string Look(const std::string& code) {
        return QueryOne("SELECT look FROM fu_list WHERE codel=?", {code});
    }

    void ClickHeader(int column) {
        QHeaderView* h = m_ctrl->horizontalHeader();
        const QPoint p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2, h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, Qt::NoModifier, p);
    }

    void ClickCheckBox(int row) {
        const QModelIndex index = m_ctrl->ListModel()->index(row, 0);
        QStyleOptionViewItem opt;
        opt.initFrom(m_ctrl->viewport());
        OptionProbe().initStyleOption(&opt, index);
        opt.rect = m_ctrl->visualRect(index);
        const QRect box =
            m_ctrl->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, m_ctrl.get());
        QTest::mouseClick(m_ctrl->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
    }

    std::vector<std::string> Codes() const {
        std::vector<std::string> codes;
        for (int r = 0; r < m_ctrl->GetItemCount(); ++r) codes.push_back(m_ctrl->GetItemText(r, 1));
        return codes;
    }

    int RowOf(const std::string& code) const {
        for (int r = 0; r < m_ctrl->GetItemCount(); ++r) {
            if (m_ctrl->GetItemText(r, 1) == code) return r;
        }
        return -1;
    }

    QColor Role(int row, int column, int role) const {
        return m_ctrl->ListModel()->index(row, column).data(role).value<QColor>();
    }

    ScopedTempDir m_dir;
    std::unique_ptr<CFundListCtrl> m_ctrl;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

using Codes_t = std::vector<std::string>;

}  // namespace

TEST_F(FundListCtrlTest, StartsWithYesterdaysDateAndNoColumns) {
    CFundListCtrl fresh;
    const QDate y = QDate::currentDate().addDays(-1);
    EXPECT_EQ(fresh.m_strDate, y.toString(QStringLiteral("yyyy-MM-dd")).toStdString());
    EXPECT_EQ(fresh.m_nColumns, 0);
}

TEST_F(FundListCtrlTest, FreshLoadBuildsColumnsAndFillsRows) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    EXPECT_EQ(m_ctrl->m_bLoaded, 1);
    EXPECT_EQ(m_ctrl->m_nColumns, 9);
    FundListModel* model = m_ctrl->ListModel();
    ASSERT_EQ(model->columnCount(), 9);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("关注"));
    EXPECT_EQ(model->headerData(8, Qt::Horizontal).toString(), QStringLiteral("增长幅(%)"));
    EXPECT_EQ(m_ctrl->horizontalHeader()->sectionSize(0), 50);
    // The name takes what the other columns (710 pixels) leave of the list's width.
    EXPECT_EQ(m_ctrl->horizontalHeader()->sectionSize(3), m_ctrl->viewport()->width() - 710);
    EXPECT_FALSE(m_ctrl->horizontalHeader()->isSortIndicatorShown());

    const int r = RowOf("000001");
    ASSERT_GE(r, 0);
    EXPECT_EQ(m_ctrl->GetItemData(r), 22);
    EXPECT_EQ(m_ctrl->GetItemText(r, 0), std::to_string(r + 1));
    EXPECT_EQ(m_ctrl->GetItemText(r, 3), G("华夏成长"));
    EXPECT_EQ(model->index(r, 3).data().toString(), QStringLiteral("华夏成长"));
    EXPECT_EQ(m_ctrl->GetItemText(r, 7), "0.0000");
    EXPECT_TRUE(m_ctrl->GetCheck(r));
    const auto align = [&](int c) {
        return model->index(r, c).data(Qt::TextAlignmentRole).value<Qt::Alignment>();
    };
    EXPECT_TRUE(align(0) & Qt::AlignLeft);
    EXPECT_TRUE(align(3) & Qt::AlignLeft);
    EXPECT_TRUE(align(5) & Qt::AlignRight);
    EXPECT_FALSE(model->flags(model->index(r, 1)) & Qt::ItemIsUserCheckable);
    EXPECT_TRUE(model->flags(model->index(r, 0)) & Qt::ItemIsUserCheckable);

    ASSERT_EQ(m_ctrl->LoadHoldings(-1), 2);
    EXPECT_EQ(m_ctrl->m_nColumns, 11);
    EXPECT_EQ(m_ctrl->horizontalHeader()->sectionSize(10), 200);

    // A date without data is an empty view, not a failure.
    m_ctrl->m_strDate = "2000-01-01";
    EXPECT_EQ(m_ctrl->LoadLatest(-1), 0);
    EXPECT_EQ(m_ctrl->GetItemCount(), 0);
    EXPECT_EQ(m_ctrl->m_bLoaded, 1);
    EXPECT_TRUE(m_ctrl->m_mapColors.isEmpty());
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST_F(FundListCtrlTest, HeaderClicksAlternateDirectionAcrossColumnsUntilAFreshLoad) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    m_ctrl->horizontalHeader()->resizeSection(3, 222);

    ClickHeader(1);
    EXPECT_EQ(Codes(), (Codes_t{"000001", "040002", "110003", "519078"}));
    EXPECT_EQ(m_ctrl->m_bNextAsc, 0);
    ClickHeader(1);
    EXPECT_EQ(Codes(), (Codes_t{"519078", "110003", "040002", "000001"}));
    ClickHeader(5);  // a different column: ascending again, by the latest net value
    EXPECT_EQ(Codes(), (Codes_t{"519078", "000001", "040002", "110003"}));
    ClickHeader(0);  // by the watch flag, descending: 5, 0, 0, -1
    EXPECT_EQ(Codes().front(), "519078");
    EXPECT_EQ(Codes().back(), "000001");
    EXPECT_EQ(m_ctrl->m_bLoaded, 1);
    EXPECT_EQ(m_ctrl->horizontalHeader()->sectionSize(3), 222);  // sorting keeps the user's widths
    EXPECT_EQ(m_ctrl->GetItemText(0, 0), "1");

    ASSERT_EQ(m_ctrl->LoadForecast(-1), 3);
    EXPECT_EQ(m_ctrl->m_bNextAsc, 1);
    EXPECT_EQ(m_ctrl->horizontalHeader()->sectionSize(3), m_ctrl->viewport()->width() - 780);
    ClickHeader(1);
    EXPECT_EQ(Codes(), (Codes_t{"000001", "040002", "110003", "519078"}));
    EXPECT_EQ(m_ctrl->m_loadedView, ViewKind::Forecast);
    EXPECT_EQ(m_ctrl->m_nColumns, 10);  // the forecast's columns, not the latest view's
}

TEST_F(FundListCtrlTest, HeaderClickBeforeASuccessfulLoadDoesNothing) {
    m_ctrl->BuildColumns(GetViewDefinition(ViewKind::Latest).columnSpec);
    ClickHeader(1);
    EXPECT_EQ(m_ctrl->GetItemCount(), 0);
    EXPECT_EQ(m_ctrl->m_bNextAsc, 1);
    EXPECT_EQ(m_ctrl->m_loadedView, std::nullopt);

    // A failed load leaves the table empty and header clicks inert, even once the database is back.
    ASSERT_TRUE(std::filesystem::copy_file("Zeza.db", "saved.db"));
    ASSERT_TRUE(std::filesystem::remove("Zeza.db"));
    EXPECT_EQ(m_ctrl->LoadLatest(-1), -1);
    EXPECT_EQ(m_ctrl->m_bLoaded, 0);
    std::filesystem::rename("saved.db", "Zeza.db");
    ClickHeader(1);
    EXPECT_EQ(m_ctrl->GetItemCount(), 0);
    EXPECT_EQ(m_ctrl->m_bNextAsc, 1);

    Exec("ALTER TABLE fu_stk RENAME TO fu_stk_gone");
    EXPECT_EQ(m_ctrl->LoadForecast(-1), -2);
    EXPECT_EQ(m_ctrl->GetItemCount(), 0);
    ClickHeader(1);
    EXPECT_EQ(m_ctrl->m_bNextAsc, 1);
    EXPECT_TRUE(MessageBox::Requests().empty());  // open and query failures are silent
}

TEST_F(FundListCtrlTest, WatchListCheckColumnClickDoesNothing) {
    ASSERT_EQ(m_ctrl->LoadWatch(-1), 1);
    EXPECT_EQ(m_ctrl->m_nColumns, 11);
    ClickHeader(1);
    EXPECT_EQ(Codes(), (Codes_t{"000001", "519078"}));
    EXPECT_EQ(m_ctrl->m_bNextAsc, 0);
    for (int r = 0; r < m_ctrl->GetItemCount(); ++r) EXPECT_TRUE(m_ctrl->GetCheck(r));

    ClickHeader(0);
    EXPECT_EQ(m_ctrl->m_bNextAsc, 0);
    EXPECT_EQ(m_ctrl->m_bLoaded, 1);
    EXPECT_EQ(Codes(), (Codes_t{"000001", "519078"}));
    EXPECT_EQ(m_ctrl->LoadWatch(0), 0);

    ClickHeader(1);
    EXPECT_EQ(Codes(), (Codes_t{"519078", "000001"}));
}

TEST_F(FundListCtrlTest, TickingInALoadedViewStoresTheWatchFlag) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    const int r = RowOf("040002");
    ASSERT_GE(r, 0);
    ASSERT_FALSE(m_ctrl->GetCheck(r));
    EXPECT_EQ(Role(r, 4, Qt::BackgroundRole), kPlain);

    ClickCheckBox(r);
    EXPECT_TRUE(m_ctrl->GetCheck(r));
    EXPECT_EQ(Look("040002"), "-1");
    EXPECT_EQ(Role(r, 4, Qt::BackgroundRole), kWatched);
    EXPECT_EQ(Role(r, 4, Qt::ForegroundRole), kGreen);  // the change colour stays

    ClickCheckBox(r);
    EXPECT_FALSE(m_ctrl->GetCheck(r));
    EXPECT_EQ(Look("040002"), "0");
    EXPECT_EQ(Role(r, 0, Qt::BackgroundRole), kPlain);

    // SetCheck acts as a click: only real changes write.
    EXPECT_TRUE(m_ctrl->SetCheck(r, true));
    EXPECT_EQ(Look("040002"), "-1");
    Exec("UPDATE fu_list SET look=3 WHERE codel='040002'");
    EXPECT_TRUE(m_ctrl->SetCheck(r, true));
    EXPECT_EQ(Look("040002"), "3");
    EXPECT_FALSE(m_ctrl->SetCheck(99, true));

    // Selecting rows is no check box change.
    m_ctrl->selectRow(RowOf("110003"));
    EXPECT_EQ(Look("110003"), "0");
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST_F(FundListCtrlTest, UnstoredTickIsTakenBackAndReportedOnceTheClickIsHandled) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    Exec("CREATE TRIGGER no_watch BEFORE UPDATE ON fu_list BEGIN SELECT RAISE(ABORT, 'locked'); END;");
    const int r = RowOf("110003");
    // The failure box is a real one; while it is open a refresh pass reloads the view.
    MessageBox::SetShowUnscriptedForTesting(true);
    ModalScript script;
    script.Then<QMessageBox>([&](QMessageBox* box) {
        EXPECT_EQ(m_ctrl->LoadLatest(-1), 3);
        box->buttons().constFirst()->click();
    });
    ClickCheckBox(r);
    // The click is handled whole before the box is asked for.
    EXPECT_TRUE(MessageBox::Requests().empty());
    EXPECT_FALSE(m_ctrl->GetCheck(r));
    EXPECT_EQ(Role(r, 1, Qt::BackgroundRole), kPlain);
    EXPECT_EQ(Look("110003"), "0");

    ASSERT_TRUE(WaitUntil([&] { return script.AllStepsRan() && !QApplication::activeModalWidget(); }, 10000));
    ASSERT_EQ(MessageBox::Requests().size(), 1u);
    EXPECT_EQ(MessageBox::Requests()[0].caption, QStringLiteral("提示"));
    EXPECT_FALSE(m_ctrl->GetCheck(RowOf("110003")));
}

TEST_F(FundListCtrlTest, WatchFlagByCodeIsStoredOnceAndShownOnEveryRowOfTheFund) {
    // The holdings view shows 000001 (watched) twice.
    ASSERT_EQ(m_ctrl->LoadHoldings(-1), 2);
    const int a = RowOf("000001");
    const int b = a + 1;
    ASSERT_EQ(m_ctrl->GetItemText(b, 1), "000001");
    ASSERT_TRUE(m_ctrl->GetCheck(a) && m_ctrl->GetCheck(b));

    EXPECT_TRUE(m_ctrl->SetWatchFlag("000001", false));
    EXPECT_EQ(Look("000001"), "0");
    EXPECT_FALSE(m_ctrl->GetCheck(a));
    EXPECT_FALSE(m_ctrl->GetCheck(b));
    EXPECT_EQ(Role(b, 3, Qt::BackgroundRole), kPlain);

    // A flag the database refuses: false, the rows stay as they were, and no box
    // (the main window's command reports once, after the whole selection).
    Exec("CREATE TRIGGER no_watch BEFORE UPDATE ON fu_list BEGIN SELECT RAISE(ABORT, 'locked'); END;");
    EXPECT_FALSE(m_ctrl->SetWatchFlag("000001", true));
    EXPECT_FALSE(m_ctrl->GetCheck(a));
    EXPECT_EQ(Look("000001"), "0");
    EXPECT_TRUE(MessageBox::Requests().empty());
}

TEST_F(FundListCtrlTest, TicksMadeByALoadWriteNothing) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    ASSERT_EQ(m_ctrl->LoadHoldings(-1), 2);
    ASSERT_EQ(m_ctrl->LoadWatch(-1), 1);
    EXPECT_EQ(Look("519078"), "5");  // a write would have made it -1
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    const int r = RowOf("519078");
    EXPECT_TRUE(m_ctrl->GetCheck(r));
    EXPECT_EQ(Role(r, 2, Qt::BackgroundRole), kWatched);
}

TEST_F(FundListCtrlTest, RowColoursComeFromTheColourMapByRowId) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    const int rise = RowOf("110003");
    const int flat = RowOf("000001");
    for (int c = 0; c < 9; ++c) {
        EXPECT_EQ(Role(rise, c, Qt::ForegroundRole), kRed);
        EXPECT_EQ(Role(rise, c, Qt::BackgroundRole), kPlain);
        EXPECT_EQ(Role(flat, c, Qt::ForegroundRole), kGreen);
        EXPECT_EQ(Role(flat, c, Qt::BackgroundRole), kWatched);
    }
    EXPECT_EQ(m_ctrl->ListModel()->index(rise, 7).data().toString(), QStringLiteral("+0.0123"));

    QSignalSpy changed(m_ctrl->ListModel(), &QAbstractItemModel::dataChanged);
    m_ctrl->SetItemTextColor(rise, QColor(1, 2, 3));
    EXPECT_EQ(Role(rise, 5, Qt::ForegroundRole), QColor(1, 2, 3));
    EXPECT_EQ(Role(rise, 5, Qt::BackgroundRole), kPlain);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), rise);
    EXPECT_EQ(m_ctrl->m_mapColors.value(21).text, MakeRgb(1, 2, 3));

    // A row without an entry gets the list's own colours.
    m_ctrl->m_mapColors.remove(22);
    EXPECT_EQ(Role(flat, 1, Qt::ForegroundRole), QColor(0, 80, 140));
    EXPECT_EQ(Role(flat, 1, Qt::BackgroundRole), kPlain);
}

TEST_F(FundListCtrlTest, TwoHoldingsOfOneFundAreTwoRows) {
    ASSERT_EQ(m_ctrl->LoadHoldings(-1), 2);
    ClickHeader(1);
    ASSERT_EQ(Codes(), (Codes_t{"000001", "000001", "110003"}));
    EXPECT_NE(m_ctrl->GetItemData(0), m_ctrl->GetItemData(1));
    EXPECT_TRUE(m_ctrl->GetCheck(0));
    EXPECT_TRUE(m_ctrl->GetCheck(1));
    EXPECT_FALSE(m_ctrl->GetCheck(2));
    EXPECT_EQ(Role(2, 9, Qt::ForegroundRole), kRed);

    // Clearing one writes the fund's flag; the other row shows it after the next load.
    ClickCheckBox(0);
    EXPECT_EQ(Look("000001"), "0");
    EXPECT_TRUE(m_ctrl->GetCheck(1));
    ClickHeader(1);
    EXPECT_FALSE(m_ctrl->GetCheck(0));
    EXPECT_FALSE(m_ctrl->GetCheck(1));
}

TEST_F(FundListCtrlTest, NullValuesShowAsEmptyCellsAndTheLoadCompletes) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    Exec("UPDATE fu_stk SET valtd=NULL WHERE codes='110003'");
    Exec("UPDATE fu_list SET name=NULL WHERE codel='040002'");
    ClickHeader(1);

    EXPECT_TRUE(MessageBox::Requests().empty());
    EXPECT_EQ(m_ctrl->m_bLoaded, 1);
    ASSERT_EQ(Codes(), (Codes_t{"000001", "040002", "110003", "519078"}));
    EXPECT_EQ(m_ctrl->GetItemText(1, 3), "");  // no name
    EXPECT_EQ(m_ctrl->GetItemText(1, 5), "1.1000");
    EXPECT_EQ(Role(1, 1, Qt::ForegroundRole), kGreen);
    EXPECT_EQ(m_ctrl->GetItemText(2, 4), "2.1000");
    EXPECT_EQ(m_ctrl->GetItemText(2, 5), "");  // no net value, so no change either
    EXPECT_EQ(m_ctrl->GetItemText(2, 7), "");
    EXPECT_EQ(Role(2, 1, Qt::ForegroundRole), QColor(0, 80, 140));  // neither rise nor fall
    EXPECT_EQ(m_ctrl->GetItemText(3, 1), "519078");

    // Loaded: header clicks go on working.
    ClickHeader(1);
    EXPECT_EQ(m_ctrl->GetItemText(0, 1), "519078");
}

TEST_F(FundListCtrlTest, GridAndRowBackgroundsAsDrawn) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    ClickHeader(1);  // 000001 (watched), 040002, 110003, 519078 (watched)
    m_ctrl->clearSelection();
    m_ctrl->setCurrentIndex(QModelIndex());
    QApplication::processEvents();
    const QImage img = m_ctrl->grab().toImage();
    if (qEnvironmentVariableIsSet("ZEZA_LIST_SHOT")) img.save(qEnvironmentVariable("ZEZA_LIST_SHOT"));

    const QPoint off = m_ctrl->viewport()->mapTo(m_ctrl.get(), QPoint(0, 0));
    auto cell = [&](int row, int col) {
        return m_ctrl->visualRect(m_ctrl->ListModel()->index(row, col)).translated(off);
    };
    auto pixel = [&](int x, int y) { return QColor(img.pixel(x, y)); };

    const QRect watched = cell(0, 1);
    const QRect plain = cell(1, 1);
    EXPECT_EQ(pixel(watched.right() - 3, watched.center().y()), kWatched);
    EXPECT_EQ(pixel(plain.right() - 3, plain.center().y()), kPlain);
    EXPECT_EQ(pixel(plain.center().x(), plain.bottom() + 1), kGrid);
    EXPECT_EQ(pixel(plain.right() + 1, plain.center().y()), kGrid);

    // No lines below the last row.
    const QRect last = cell(3, 1);
    EXPECT_EQ(pixel(last.center().x(), last.bottom() + 1), kGrid);
    ASSERT_LT(last.bottom() + 8, img.height());
    EXPECT_EQ(pixel(last.right() + 1, last.bottom() + 8), kPlain);
    EXPECT_EQ(pixel(last.center().x(), last.bottom() + 8), kPlain);

    // Scrolled, the lines stay on the row boundaries.
    m_ctrl->resize(300, m_ctrl->horizontalHeader()->height() + 4 * m_ctrl->rowHeight(0));
    m_ctrl->verticalScrollBar()->setValue(1);
    m_ctrl->horizontalScrollBar()->setValue(40);
    QApplication::processEvents();
    const QImage scrolled = m_ctrl->grab().toImage();
    const QRect moved = cell(2, 1);
    ASSERT_TRUE(scrolled.rect().contains(QPoint(moved.right() + 1, moved.bottom() + 1)));
    EXPECT_EQ(QColor(scrolled.pixel(moved.center().x(), moved.bottom() + 1)), kGrid);
    EXPECT_EQ(QColor(scrolled.pixel(moved.right() + 1, moved.center().y())), kGrid);
}

TEST_F(FundListCtrlTest, SelectionHelpersListRowsInOrder) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    EXPECT_EQ(m_ctrl->GetFirstSelectedRow(), -1);
    m_ctrl->selectionModel()->select(m_ctrl->ListModel()->index(2, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m_ctrl->selectionModel()->select(m_ctrl->ListModel()->index(0, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(m_ctrl->GetSelectedRows(), (std::vector<int>{0, 2}));
    EXPECT_EQ(m_ctrl->GetFirstSelectedRow(), 0);
}

TEST_F(FundListCtrlTest, ChangesWhileTheProgramRunsAreSeenAtTheNextReloadOrHeaderClick) {
    ASSERT_EQ(m_ctrl->LoadForecast(-1), 3);
    EXPECT_EQ(m_ctrl->GetItemText(RowOf("110003"), 4), "1.3000");
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);  // another view in between

    // An estimate feed, applied as the refresh pass does, between two loads.
    test::WriteFileBytes("est.tmp", "110003|1.4567\n");
    ASSERT_EQ(ApplyEstimateFile("est.tmp"), 1);
    ASSERT_EQ(m_ctrl->LoadForecast(-1), 3);
    EXPECT_EQ(m_ctrl->GetItemText(RowOf("110003"), 4), "1.4567");
    EXPECT_EQ(m_ctrl->GetItemText(RowOf("110003"), 6), "+0.2567");

    // A net value feed replaces fu_stk; a header click sorts the new rows.
    test::WriteFileBytes("stk.tmp",
                         std::string(kDate) + "\n110003|2.2000|1.5000|1.2000\n040002|1.9000|0.9000|1.2000\n");
    ASSERT_EQ(ApplyNetValueFile("stk.tmp"), 1);
    ClickHeader(1);
    EXPECT_EQ(Codes(), (Codes_t{"040002", "110003"}));
    EXPECT_EQ(m_ctrl->GetItemText(1, 5), "1.5000");

    // A tick is a commit too: the watch list has the fund at once.
    ASSERT_EQ(m_ctrl->LoadWatch(-1), 0);
    EXPECT_TRUE(Codes().empty());  // 000001 is watched, but has no net value any more
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 1);
    ASSERT_TRUE(m_ctrl->SetCheck(RowOf("110003"), true));
    ASSERT_EQ(m_ctrl->LoadWatch(-1), 0);
    EXPECT_EQ(Codes(), (Codes_t{"110003"}));

    // Another database file in the same place, even within the same second.
    ASSERT_TRUE(std::filesystem::remove("Zeza.db"));
    ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
    Exec("DELETE FROM fu_list");
    AddFund(41, "161725", "招商白酒", "指数型", 0, 1.00);
    AddValue("161725", 1.5000, 1.2000, 1.1000);
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 0);
    EXPECT_EQ(Codes(), (Codes_t{"161725"}));
    // No file: no rows and no file made.
    ASSERT_TRUE(std::filesystem::remove("Zeza.db"));
    EXPECT_EQ(m_ctrl->LoadLatest(-1), -1);
    EXPECT_EQ(m_ctrl->GetItemCount(), 0);
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));
}

TEST_F(FundListCtrlTest, FreshEstimatesAreShownInPlaceKeepingSortAndSelection) {
    ASSERT_EQ(m_ctrl->LoadForecast(-1), 3);
    ClickHeader(6);  // by the estimated change, ascending
    ASSERT_EQ(Codes(), (Codes_t{"000001", "519078", "040002", "110003"}));
    m_ctrl->selectRow(RowOf("040002"));
    QSignalSpy changed(m_ctrl->ListModel(), &QAbstractItemModel::dataChanged);
    QSignalSpy removed(m_ctrl->ListModel(), &QAbstractItemModel::rowsRemoved);

    // 000001 now rises most: the estimate columns change, it turns red and moves to the end.
    test::WriteFileBytes("est.tmp", "000001|1.2000\n");
    ASSERT_EQ(ApplyEstimateFile("est.tmp"), 1);
    ASSERT_EQ(m_ctrl->RefreshView(), 3);
    EXPECT_EQ(removed.count(), 0) << "the rows were loaded anew";
    std::set<int> columns;
    for (const QList<QVariant>& args : changed) {
        const auto roles = args[2].value<QList<int>>();
        if (roles == QList<int>{Qt::DisplayRole}) {
            EXPECT_EQ(args[0].toModelIndex().column(), args[1].toModelIndex().column());
            columns.insert(args[0].toModelIndex().column());
        } else {
            EXPECT_EQ(roles, QList<int>{Qt::ForegroundRole});
        }
    }
    EXPECT_EQ(columns, (std::set<int>{4, 6, 7}));
    EXPECT_EQ(Codes(), (Codes_t{"519078", "040002", "110003", "000001"}));
    EXPECT_EQ(m_ctrl->GetItemText(3, 6), "+0.1500");
    EXPECT_EQ(Role(3, 2, Qt::ForegroundRole), kRed);
    EXPECT_EQ(m_ctrl->GetSelectedRows(), std::vector<int>{RowOf("040002")});

    // Nothing new: nothing redrawn.
    changed.clear();
    ASSERT_EQ(m_ctrl->RefreshView(), 3);
    EXPECT_EQ(changed.count(), 0);

    // Other rows (a fund without a net value now): loaded anew, in the same sort, selection kept.
    test::WriteFileBytes("stk.tmp", std::string(kDate) +
                                        "\n110003|2.1000|1.2000|1.1877\n000001|3.5|1.05|1.05\n"
                                        "040002|1.9000|1.1000|1.2000\n");
    ASSERT_EQ(ApplyNetValueFile("stk.tmp"), 1);
    ASSERT_EQ(m_ctrl->RefreshView(), 2);
    EXPECT_EQ(Codes(), (Codes_t{"040002", "110003", "000001"}));
    EXPECT_EQ(m_ctrl->GetSelectedRows(), std::vector<int>{0});
    EXPECT_EQ(m_ctrl->m_nSortColumn, 6);
}

TEST_F(FundListCtrlTest, NameColumnTakesTheFreeWidthAndShowsTheWholeName) {
    ASSERT_EQ(m_ctrl->LoadLatest(-1), 3);
    QHeaderView* h = m_ctrl->horizontalHeader();
    // 1000 pixels leave the name more than its 130; a narrow list keeps the 130.
    EXPECT_EQ(h->sectionPosition(h->count() - 1) + h->sectionSize(h->count() - 1),
              m_ctrl->viewport()->width());
    EXPECT_GT(h->sectionSize(kNameColumn), 130);
    m_ctrl->resize(400, 300);
    QApplication::processEvents();
    EXPECT_EQ(h->sectionSize(kNameColumn), 130);
    const int row = RowOf("519078");
    EXPECT_EQ(m_ctrl->ListModel()->index(row, kNameColumn).data(Qt::ToolTipRole).toString(),
              QStringLiteral("汇添富增强收益基金"));
    EXPECT_FALSE(m_ctrl->ListModel()->index(row, kCodeColumn).data(Qt::ToolTipRole).isValid());
}

TEST(FundListModelTest, RowsSharingAnIdShareTheirColours) {
    RowColorMap colors;
    FundListModel model(&colors);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    model.SetColumns({{QStringLiteral("关注"), 0}, {QStringLiteral("代码"), 0}});
    // Three rows of one text column, made by hand: ids 7, 8, 7, the last one ticked.
    static const ViewDefinition view{ViewKind::Latest,     "", "", 1, -1, false, ViewMenu::Catalogue,
                                     {{0, CellRule::Text}}};
    auto table = std::make_shared<ViewTable>();
    table->view = &view;
    table->columns = 1;
    table->texts = std::string(
        "000001\0"
        "000002\0"
        "000003\0",
        21);
    for (std::uint32_t r = 0; r < 3; ++r) {
        ViewValue v;
        v.type = SQLITE_TEXT;
        v.textBegin = 7 * r;
        v.textSize = 6;
        table->values.push_back(v);
        table->flags.push_back(r == 2 ? ViewTable::kChecked : 0);
    }
    table->ids = {7, 8, 7};
    model.SetView(table, {0, 1, 2});
    EXPECT_EQ(model.index(1, 1).data().toString(), QStringLiteral("000002"));
    EXPECT_EQ(model.index(2, 0).data().toString(), QStringLiteral("3"));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    colors[7].background = MakeRgb(10, 20, 30);
    model.RowColorsChanged(7);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(model.index(0, 1).data(Qt::BackgroundRole).value<QColor>(), QColor(10, 20, 30));
    EXPECT_EQ(model.index(2, 1).data(Qt::BackgroundRole).value<QColor>(), QColor(10, 20, 30));
    EXPECT_EQ(model.index(1, 1).data(Qt::BackgroundRole).value<QColor>(), QColor(250, 250, 255));
    EXPECT_EQ(model.index(2, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_FALSE(model.index(2, 1).data(Qt::CheckStateRole).isValid());

    QSignalSpy toggled(&model, &FundListModel::CheckChanged);
    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));  // no change, no signal
    EXPECT_FALSE(model.setData(model.index(1, 1), Qt::Checked, Qt::CheckStateRole));
    ASSERT_EQ(toggled.count(), 1);
    EXPECT_EQ(toggled[0][0].toInt(), 1);
    EXPECT_TRUE(toggled[0][1].toBool());
    EXPECT_TRUE(model.SetCheckedQuietly(1, false));
    EXPECT_EQ(toggled.count(), 1);
}
