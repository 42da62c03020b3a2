#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sqlite3.h>

#include "db/CFundDb.h"
#include "db/SqlAccess.h"
#include "sync/AccuracyFeed.h"
#include "sync/MemoryFeeds.h"
#include "tables/CellFormat.h"
#include "tables/ColumnLayout.h"
#include "tables/RowColors.h"
#include "tables/ViewDefinition.h"
#include "tables/ViewLoader.h"
#include "tests/TestDb.h"
#include "tests/TestSupport.h"
#include "tests/ViewRowsReference.h"

using namespace zeza;
using namespace zeza::test;

namespace {

constexpr const char* kDate = "2024-03-15";

// A template database without its catalogue, so each test knows every fund.
class ViewQueryTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(CFundDb::WriteTemplateDatabase(), 1);
        Exec("DELETE FROM fu_list");
    }
    void TearDown() override { ResetMemoryFeedsForTesting(); }

    static void AddValue(const std::string& code, double valreal, double valtd, double valytd,
                         const std::string& date = kDate) {
        AddNetValue(code, valreal, valtd, valytd, date);
    }

    static int Load(ViewKind kind, ViewRows& out, int sortColumn = -1, bool ascending = true,
                    const std::string& date = kDate) {
        return LoadViewRows(GetViewDefinition(kind), date, sortColumn, ascending, out);
    }

    static std::vector<std::string> Column(const ViewRows& rows, int column) {
        std::vector<std::string> v;
        for (const ViewRow& r : rows.rows) v.push_back(r.cells.at(static_cast<size_t>(column)));
        return v;
    }

    ScopedTempDir m_dir;
};

using Cells = std::vector<std::string>;

}  // namespace

TEST(ColumnLayoutTest, ReadsGroupsLikeTheViewsWriteThem) {
    const auto cols = ParseColumnLayout(G("代码,0,70;累积净值,1,100;增长幅(%),2,95;"));
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].caption, G("代码"));
    EXPECT_EQ(cols[0].align, 0);
    EXPECT_EQ(cols[0].width, 70);
    EXPECT_EQ(cols[1].caption, G("累积净值"));
    EXPECT_EQ(cols[1].align, 1);
    EXPECT_EQ(cols[2].caption, G("增长幅(%)"));
    EXPECT_EQ(cols[2].align, 2);
    EXPECT_EQ(cols[2].width, 95);
}

TEST(ColumnLayoutTest, LastGroupMayLackItsSemicolonAndNumbersReadLikeAtoi) {
    auto cols = ParseColumnLayout("A,0,70;B,1,120");
    ASSERT_EQ(cols.size(), 2u);
    EXPECT_EQ(cols[1].caption, "B");
    EXPECT_EQ(cols[1].width, 120);

    cols = ParseColumnLayout("X,abc,9z;Y, 12,-5;Z,1");
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].align, 0);
    EXPECT_EQ(cols[0].width, 9);
    EXPECT_EQ(cols[1].align, 12);
    EXPECT_EQ(cols[1].width, -5);
    EXPECT_EQ(cols[2].align, 1);
    EXPECT_EQ(cols[2].width, 0);

    // A group without a comma ends the layout.
    EXPECT_EQ(ParseColumnLayout("A,0,70;trailing").size(), 1u);
    EXPECT_TRUE(ParseColumnLayout("").empty());
    EXPECT_EQ(ParseLeadingInt("99999999999999"), 2147483647);
}

TEST(ColumnLayoutTest, EveryViewHasACellRuleForEachOfItsColumns) {
    for (ViewKind k : {ViewKind::Latest, ViewKind::Forecast, ViewKind::Watch, ViewKind::Holdings}) {
        EXPECT_EQ(ParseColumnLayout(GetViewDefinition(k).columnSpec).size(),
                  GetViewDefinition(k).cells.size());
    }
}

// Cells are formatted on a fast path; it must write what printf writes, digit for digit.
TEST(CellFormatTest, FixedFormatMatchesPrintfExactly) {
    std::mt19937_64 rng(12);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<long long> fives(0, 9999999);
    const auto printf_fixed = [](double v, int decimals, bool plus) {
        char buf[512];
        std::snprintf(buf, sizeof(buf), plus && v > 0 ? "%+0.*f" : "%0.*f", decimals, v);
        return std::string(buf);
    };
    const auto read_back = [](double v) {
        char buf[64];
        std::snprintf(buf, sizeof(buf), "%.15g", v);
        return std::atof(buf);
    };
    int mismatches = 0;
    for (int i = 0; i < 200000 && mismatches < 10; ++i) {
        double v = 0;
        switch (i % 6) {
            case 0:  // half-way in the fifth decimal, and sums of such values
                v = (2 * fives(rng) + 1) / 200000.0 - (i % 12 == 0 ? 1.2345 : 0.0);
                break;
            case 1:
                v = (unit(rng) - 0.5) * 2000;
                break;
            case 2:  // the third decimal of money
                v = (2 * fives(rng) + 1) / 2000.0;
                break;
            case 3:
                v = std::ldexp(unit(rng) - 0.5, static_cast<int>(i % 200) - 60);
                break;
            case 4:
                v = (1.0 + fives(rng) / 1e5) - (1.0 + fives(rng) / 1e5);
                break;
            default:
                v = std::pow(10.0, static_cast<int>(i % 40) - 8) * (unit(rng) - 0.3);
        }
        if (i % 1000 == 0) v = (i % 2000 == 0) ? -0.0 : 1e300;
        for (int decimals : {2, 4}) {
            for (bool plus : {false, true}) {
                const std::string exact = printf_fixed(v, decimals, plus);
                const std::string stored = printf_fixed(v == 0 ? 0.0 : read_back(v), decimals, plus);
                if (FormatFixed(v, decimals, plus) != exact ||
                    FormatStoredReal(v, decimals, plus) != stored) {
                    ++mismatches;
                    ADD_FAILURE() << "value " << v << " decimals " << decimals << ": "
                                  << FormatFixed(v, decimals, plus) << " vs " << exact << ", stored "
                                  << FormatStoredReal(v, decimals, plus) << " vs " << stored;
                }
            }
        }
    }
    EXPECT_EQ(ParseNumber(" 2.5"), 2.5);
    EXPECT_EQ(ParseNumber("0x10"), 16.0);
    EXPECT_EQ(ParseNumber("1.5abc"), 1.5);
    EXPECT_EQ(ParseNumber("abc"), 0.0);
}

TEST_F(ViewQueryTest, LatestViewFormatsCellsAndColoursRowsByTheirChange) {
    AddFund(11, "100001", "华夏成长", "股票型", -1);
    AddFund(12, "100002", "持平基金", "混合型");
    AddFund(13, "100003", "下跌基金", "债券型");
    AddFund(14, "100004", "新基金", "指数型");
    AddFund(15, "100005", "无净值", "股票型");
    AddFund(16, "100006", "旧日期", "股票型");
    AddValue("100001", 2.5, 1.0123, 1.0);
    AddValue("100002", 1.5, 1.5, 1.5);
    AddValue("100003", 3.0, 0.9, 1.0);
    AddValue("100004", 1.0, 1.02, 0.0);
    AddValue("100006", 1.0, 1.0, 0.5, "2024-03-14");

    ViewRows out;
    ASSERT_EQ(Load(ViewKind::Latest, out, 1), 3);
    ASSERT_EQ(out.rows.size(), 4u);

    const ViewRow& rise = out.rows[0];
    EXPECT_EQ(rise.id, 11);
    EXPECT_EQ(rise.cells, (Cells{"1", "100001", G("股票型"), G("华夏成长"), "2.5000", "1.0123", "1.0000",
                                 "+0.0123", "1.2300"}));
    EXPECT_TRUE(rise.hasTextColor);
    EXPECT_EQ(rise.textColor, MakeRgb(255, 0, 0));
    EXPECT_TRUE(rise.checked);

    const ViewRow& flat = out.rows[1];
    EXPECT_EQ(flat.cells, (Cells{"2", "100002", G("混合型"), G("持平基金"), "1.5000", "1.5000", "1.5000",
                                 "0.0000", "0.0000"}));
    EXPECT_EQ(flat.textColor, MakeRgb(0, 153, 0));
    EXPECT_FALSE(flat.checked);

    const ViewRow& fall = out.rows[2];
    EXPECT_EQ(fall.cells[7], "-0.1000");
    EXPECT_EQ(fall.cells[8], "-10.0000");
    EXPECT_EQ(fall.textColor, MakeRgb(0, 153, 0));

    // No previous net value: the percentage cannot be computed and shows 0.
    const ViewRow& fresh = out.rows[3];
    EXPECT_EQ(fresh.cells[6], "0.0000");
    EXPECT_EQ(fresh.cells[7], "+1.0200");
    EXPECT_EQ(fresh.cells[8], "0.0000");
    EXPECT_EQ(fresh.textColor, MakeRgb(255, 0, 0));
    EXPECT_TRUE(out.error.empty());
}

TEST_F(ViewQueryTest, ForecastWithoutEstimateFallsByTheWholeNetValue) {
    AddFund(1, "200001", "无估值", "股票型", 0, 0.0);
    AddFund(2, "200002", "有估值", "股票型", 7, 1.1);
    AddValue("200001", 1.0, 1.25, 1.2);
    AddValue("200002", 1.0, 1.0, 1.2);

    ViewRows out;
    ASSERT_EQ(Load(ViewKind::Forecast, out, 1), 1);
    ASSERT_EQ(out.rows.size(), 2u);
    EXPECT_EQ(out.rows[0].cells, (Cells{"1", "200001", G("股票型"), G("无估值"), "0.0000", "1.2500",
                                        "-1.2500", "-100.0000", "", ""}));
    EXPECT_EQ(out.rows[0].textColor, kFallColor);
    EXPECT_FALSE(out.rows[0].checked);
    EXPECT_EQ(out.rows[1].cells[4], "1.1000");
    EXPECT_EQ(out.rows[1].cells[6], "+0.1000");
    EXPECT_EQ(out.rows[1].cells[7], "10.0000");
    EXPECT_EQ(out.rows[1].textColor, kRiseColor);
    EXPECT_TRUE(out.rows[1].checked);  // any flag but 0 is watched
}

TEST_F(ViewQueryTest, ForecastShowsEachEstimatesTrackRecordFromMemoryAndSortsByIt) {
    const char* codes[] = {"200001", "200002", "200003", "200004"};
    for (int i = 0; i < 4; ++i) {
        AddFund(i + 1, codes[i], "甲", "股票型", 0, 1.0);
        AddValue(codes[i], 1.0, 1.0, 1.0);
    }
    std::shared_ptr<const ViewTable> before;
    ASSERT_EQ(LoadViewTable(GetViewDefinition(ViewKind::Forecast), kDate, before), 3);
    EXPECT_EQ(before->CellText(0, 8), "");  // nothing fetched yet: the columns stay empty

    MemoryTable acc;
    ASSERT_EQ(
        ReadAccuracyFeed(G("200001|自算|0.3149|20\r\n200002|公开|0.126|20\r\n200003|自算|0.5|3\r\n"), acc),
        1);
    StoreMemoryFeed("acc", 1700000000, std::move(acc));
    ViewRows out;
    ASSERT_EQ(Load(ViewKind::Forecast, out), 3);
    const std::vector<Cells> shown = {{G("自算"), "0.31"}, {G("公开"), "0.13"}, {G("自算"), ""}, {"", ""}};
    for (size_t r = 0; r < 4; ++r)
        EXPECT_EQ(Cells(out.rows[r].cells.begin() + 8, out.rows[r].cells.end()), shown[r]) << r;
    // The rows read before the feed came are not handed out again.
    std::shared_ptr<const ViewTable> after;
    ASSERT_EQ(LoadViewTable(GetViewDefinition(ViewKind::Forecast), kDate, after), 3);
    EXPECT_NE(after, before);
    EXPECT_EQ(after->CellText(1, 8), G("公开"));

    // Sorted in memory as the database orders them: no value first, then numbers, then texts.
    for (int column : {8, 9}) {
        for (bool ascending : {true, false}) {
            std::vector<int> order;
            ASSERT_TRUE(SortViewRows(*after, column, ascending, order));
            ASSERT_GE(Load(ViewKind::Forecast, out, column, ascending), 0);
            std::vector<long long> memory, database;
            for (int r : order) memory.push_back(after->ids[static_cast<size_t>(r)]);
            for (const ViewRow& row : out.rows) database.push_back(row.id);
            EXPECT_EQ(memory, database) << column << ascending;
        }
    }
    std::vector<int> order;
    ASSERT_TRUE(SortViewRows(*after, 9, false, order));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));  // 0.31, 0.13, then the two without a record
    ASSERT_TRUE(SortViewRows(*after, 8, true, order));
    EXPECT_EQ(after->ids[static_cast<size_t>(order[0])], 4);  // the fund the feed does not name
    EXPECT_EQ(after->CellText(order[1], 8), G("公开"));
}

TEST_F(ViewQueryTest, WatchListHoldsWatchedFundsOnlyAllTicked) {
    AddFund(1, "300001", "关注甲", "股票型", -1, 2.2);
    AddFund(2, "300002", "未关注", "股票型", 0);
    AddFund(3, "300003", "关注乙", "债券型", -1);
    AddValue("300001", 3.0, 2.0, 2.5);
    AddValue("300002", 3.0, 2.0, 2.5);
    AddValue("300003", 1.1, 1.0, 1.0);

    ViewRows out;
    ASSERT_EQ(Load(ViewKind::Watch, out, 1), 1);
    ASSERT_EQ(out.rows.size(), 2u);
    EXPECT_EQ(out.rows[0].id, 1);
    EXPECT_EQ(out.rows[0].cells, (Cells{"1", "300001", G("股票型"), G("关注甲"), "3.0000", "2.0000", "2.5000",
                                        "-0.5000", "-20.0000", "2.2000", "10.0000"}));
    EXPECT_EQ(out.rows[0].textColor, kFallColor);
    EXPECT_EQ(out.rows[1].cells[1], "300003");
    EXPECT_EQ(out.rows[1].cells[9], "0.0000");
    EXPECT_EQ(out.rows[1].cells[10], "-100.0000");
    for (const ViewRow& r : out.rows) EXPECT_TRUE(r.checked);
}

TEST_F(ViewQueryTest, HoldingsValueEachRecordAndColourProfitAndLoss) {
    AddFund(1, "400001", "持有甲", "股票型", -1);
    AddFund(2, "400002", "持有乙", "混合型");
    AddFund(3, "400003", "没净值", "股票型");
    AddValue("400001", 2.0, 1.5, 1.4);
    AddValue("400002", 1.0, 2.0, 2.0);
    AddHolding(7, "400001", 1000.0, 0.0, "空仓");
    AddHolding(8, "400001", 1500.0, 1000.0, "保本");
    AddHolding(9, "400002", 100.0, 60.0, "赚了");
    AddHolding(10, "400003", 100.0, 60.0, "看不到");

    ViewRows out;
    // The check box column sorts by the watch flag: -1 comes before 0.
    ASSERT_EQ(Load(ViewKind::Holdings, out, 0, true), 2);
    ASSERT_EQ(out.rows.size(), 3u);
    EXPECT_EQ(out.rows[2].id, 9);
    ASSERT_EQ(Load(ViewKind::Holdings, out, 0, false), 2);
    EXPECT_EQ(out.rows[0].id, 9);

    ASSERT_EQ(Load(ViewKind::Holdings, out), 2);
    ASSERT_EQ(out.rows.size(), 3u);
    std::vector<long long> ids;
    for (const ViewRow& r : out.rows) ids.push_back(r.id);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<long long>{7, 8, 9}));

    for (const ViewRow& r : out.rows) {
        if (r.id == 7) {
            EXPECT_EQ(r.cells, (Cells{r.cells[0], "400001", G("股票型"), G("持有甲"), "1.5000", "0.0000",
                                      "0.00", "0.00", "1000.00", "-1000.00", G("空仓")}));
            EXPECT_EQ(r.textColor, kFallColor);
            EXPECT_TRUE(r.checked);
        } else if (r.id == 8) {
            EXPECT_EQ(r.cells[5], "1.5000");
            EXPECT_EQ(r.cells[7], "1500.00");
            EXPECT_EQ(r.cells[9], "0.00");
            EXPECT_EQ(r.textColor, kFallColor);  // breaking even is no profit
            EXPECT_TRUE(r.checked);
        } else {
            EXPECT_EQ(r.cells[9], "20.00");  // no plus sign on a profit
            EXPECT_EQ(r.cells[10], G("赚了"));
            EXPECT_EQ(r.textColor, kRiseColor);
            EXPECT_FALSE(r.checked);
        }
    }
}

TEST_F(ViewQueryTest, SortClausesUseEachViewsOffsetAndAlternateDirection) {
    EXPECT_EQ(GetViewDefinition(ViewKind::Latest).SortClause(0, true), " ORDER BY 2");
    EXPECT_EQ(GetViewDefinition(ViewKind::Forecast).SortClause(7, false), " ORDER BY 9 DESC");
    EXPECT_EQ(GetViewDefinition(ViewKind::Holdings).SortClause(10, true), " ORDER BY 12");
    EXPECT_EQ(GetViewDefinition(ViewKind::Watch).SortClause(1, false), " ORDER BY 2 DESC");

    // Codes ascend while types, names and values descend, so a wrong offset shows.
    AddFund(1, "500003", "甲", "A型", -1);
    AddFund(2, "500001", "丙", "C型", -1);
    AddFund(3, "500002", "乙", "B型", -1);
    AddValue("500001", 3.0, 1.3, 1.0);
    AddValue("500002", 2.0, 1.2, 1.0);
    AddValue("500003", 1.0, 1.1, 1.0);

    ViewRows out;
    ASSERT_EQ(Load(ViewKind::Latest, out, 1, true), 2);
    EXPECT_EQ(Column(out, 1), (Cells{"500001", "500002", "500003"}));
    EXPECT_EQ(Column(out, 0), (Cells{"1", "2", "3"}));  // numbers follow the shown order
    ASSERT_EQ(Load(ViewKind::Latest, out, 1, false), 2);
    EXPECT_EQ(Column(out, 1), (Cells{"500003", "500002", "500001"}));
    ASSERT_EQ(Load(ViewKind::Latest, out, 8, true), 2);
    EXPECT_EQ(Column(out, 8), (Cells{"10.0000", "20.0000", "30.0000"}));
    ASSERT_EQ(Load(ViewKind::Forecast, out, 2, false), 2);
    EXPECT_EQ(Column(out, 2), (Cells{G("C型"), G("B型"), G("A型")}));
    ASSERT_EQ(Load(ViewKind::Watch, out, 1, true), 2);
    EXPECT_EQ(Column(out, 1), (Cells{"500001", "500002", "500003"}));
    ASSERT_EQ(Load(ViewKind::Watch, out, 4, false), 2);
    EXPECT_EQ(Column(out, 4), (Cells{"3.0000", "2.0000", "1.0000"}));

    // The check box column of the watch list does not sort: nothing runs, nothing changes.
    ViewRows untouched;
    untouched.error = "kept";
    EXPECT_EQ(Load(ViewKind::Watch, untouched, 0, true), 0);
    EXPECT_EQ(untouched.error, "kept");
}

TEST_F(ViewQueryTest, SortedInMemoryExactlyAsTheDatabaseOrdersTiesNullsAndMixedTypes) {
    // Few distinct values, so most sort keys tie; NULLs, integers, reals and
    // texts in number columns; codes twice in the catalogue and held twice;
    // rows inserted in shuffled order, so the query's own order is no sort order.
    std::mt19937 rng(18);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto value = [&](int kind) -> SqlParam {
        switch (kind % 6) {
            case 0:
                return nullptr;
            case 1:
                return static_cast<long long>(pick(3));
            case 2:
                return std::string(pick(2) ? "abc" : "1.5");  // a numeric text is stored as a number
            default:
                return 1.0 + pick(4) * 0.25;
        }
    };
    std::vector<int> ids(400);
    for (int i = 0; i < 400; ++i) ids[static_cast<size_t>(i)] = i + 1;
    std::shuffle(ids.begin(), ids.end(), rng);
    const char* types[] = {"股票型", "债券型", "A型"};
    for (int idl : ids) {
        const std::string code = std::to_string(600000 + idl % 150);  // 150 codes, most twice or more
        const SqlParam name = pick(5) == 0 ? SqlParam(nullptr) : SqlParam(G(pick(2) ? "甲" : "乙"));
        const SqlParam look =
            pick(4) == 0 ? SqlParam(nullptr) : SqlParam(static_cast<long long>(pick(3) - 1));
        Exec("INSERT INTO fu_list (idl,codel,name,type,look,estval) VALUES (?,?,?,?,?,?)",
             {static_cast<long long>(idl), code, name, G(types[pick(3)]), look, value(pick(6))});
    }
    for (int c = 149; c >= 0; --c) {
        const std::string code = std::to_string(600000 + (c * 7) % 150);
        Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?)",
             {code, value(pick(6)), value(pick(6)), value(pick(6)), std::string(kDate)});
        if (c % 3 == 0) {
            Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,?)",
                 {code, value(pick(6)), value(pick(6)), pick(3) ? SqlParam(G("定投")) : SqlParam(nullptr)});
            Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,'')", {code, 10.0, 5.0});
        }
    }

    for (ViewKind kind : {ViewKind::Latest, ViewKind::Forecast, ViewKind::Watch, ViewKind::Holdings}) {
        const ViewDefinition& view = GetViewDefinition(kind);
        std::shared_ptr<const ViewTable> table;
        const int last = LoadViewTable(view, kDate, table);
        ASSERT_GT(last, 20);
        for (int column = 0; column <= static_cast<int>(view.cells.size()); ++column) {
            for (bool ascending : {true, false}) {
                SCOPED_TRACE(testing::Message() << "view " << static_cast<int>(kind) << " column " << column
                                                << (ascending ? " ascending" : " descending"));
                std::vector<int> order;
                ViewRows sql;
                const int sqlResult = Load(kind, sql, column, ascending);
                if (view.IgnoresSortColumn(column)) {
                    EXPECT_FALSE(SortViewRows(*table, column, ascending, order));
                    continue;
                }
                ASSERT_EQ(sqlResult, last);
                ASSERT_TRUE(SortViewRows(*table, column, ascending, order));
                ASSERT_EQ(order.size(), sql.rows.size());
                for (size_t r = 0; r < order.size(); ++r) {
                    ASSERT_EQ(table->ids[static_cast<size_t>(order[r])], sql.rows[r].id) << "row " << r;
                    for (int c = 1; c <= static_cast<int>(view.cells.size()); ++c)
                        ASSERT_EQ(table->CellText(order[r], c), sql.rows[r].cells[static_cast<size_t>(c)]);
                    EXPECT_EQ(table->Checked(order[r]), sql.rows[r].checked);
                }
            }
        }
        // A column the query does not have: the database refuses it too.
        std::vector<int> order;
        ViewRows sql;
        EXPECT_FALSE(SortViewRows(*table, 40, true, order));
        EXPECT_EQ(Load(kind, sql, 40, true), -2);
    }
}

TEST_F(ViewQueryTest, NumbersAreThoseOfTheDatabasesText) {
    // Five-decimal values and their differences sit on the rounding edge of
    // four decimals: each cell must show what the value's text reads as.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> fifth(0, 199999);
    {
        SqliteConnection db;  // one transaction: a commit per row would take seconds
        ASSERT_TRUE(db.Open());
        ASSERT_EQ(db.Exec("BEGIN"), SQLITE_OK);
        for (int i = 0; i < 600; ++i) {
            const std::string code = std::to_string(100000 + i);
            const double valtd = i % 3 == 0 ? 1.0 + (2 * fifth(rng) + 1) / 200000.0 : fifth(rng) / 100000.0;
            const double valytd = i % 5 == 0 ? 1.0 : 0.5 + fifth(rng) / 100000.0;
            ASSERT_EQ(db.Exec("INSERT INTO fu_list (idl,codel,name,type,estval) VALUES (?,?,'a','b',?)",
                              {static_cast<long long>(i + 1), code, 1.0 + fifth(rng) / 100000.0}),
                      SQLITE_OK);
            ASSERT_EQ(
                db.Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES (?,?,?,?,?)",
                        {code, i % 7 == 0 ? 0.0 : -fifth(rng) / 1000.0, valtd, valytd, std::string(kDate)}),
                SQLITE_OK);
            ASSERT_EQ(db.Exec("INSERT INTO fu_count (codec,tcost,tcount,remark) VALUES (?,?,?,'')",
                              {code, fifth(rng) / 100.0, i % 11 == 0 ? 0.0 : fifth(rng) / 1000.0}),
                      SQLITE_OK);
        }
        ASSERT_EQ(db.Exec("COMMIT"), SQLITE_OK);
    }
    // Texts in number columns are read like atof.
    AddFund(900, "999999", "乙", "股票型", 0, 0.0);
    Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES ('999999',' 7.5',7,'0x10',?)",
         {kDate});
    Exec("UPDATE fu_stk SET valreal='1.5abc', valtd='abc' WHERE codes='100002'");

    const auto check = [&](ViewKind kind, const std::string& textQuery, const std::vector<int>& columns) {
        ViewRows out;
        ASSERT_GE(Load(kind, out, 1), 0);
        QueryTable texts;
        ASSERT_EQ(QuerySql(textQuery + " ORDER BY 1", {std::string(kDate)}, texts), 0);
        ASSERT_EQ(static_cast<int>(out.rows.size()), texts.rows);
        for (int r = 0; r < texts.rows; ++r) {
            for (size_t k = 0; k < columns.size(); ++k) {
                const double v = std::atof(texts.Str(r, static_cast<int>(k) + 1).c_str());
                const int c = columns[k];
                const bool change = kind != ViewKind::Holdings && c == (kind == ViewKind::Latest ? 7 : 6);
                const std::string expected =
                    FormatFixed(v, kind == ViewKind::Holdings && c >= 6 ? 2 : 4, change);
                EXPECT_EQ(out.rows[static_cast<size_t>(r)].cells[static_cast<size_t>(c)], expected)
                    << texts.Str(r, 0) << " column " << c << " text "
                    << texts.Str(r, static_cast<int>(k) + 1);
            }
        }
    };
    check(ViewKind::Latest,
          "SELECT codel,CAST(valreal AS TEXT),CAST(valtd AS TEXT),CAST(valytd AS TEXT),CAST(valtd-valytd AS "
          "TEXT),"
          "CAST(IFNULL((valtd-valytd)*100/valytd,0.0) AS TEXT) FROM fu_list,fu_stk WHERE codel=codes AND "
          "gdate=?",
          {4, 5, 6, 7, 8});
    check(ViewKind::Forecast,
          "SELECT codel,CAST(estval AS TEXT),CAST(valtd AS TEXT),CAST(estval-valtd AS TEXT),"
          "CAST(IFNULL((estval-valtd)*100/valtd,0.0) AS TEXT) FROM fu_list,fu_stk WHERE codel=codes AND "
          "gdate=?",
          {4, 5, 6, 7});
    check(ViewKind::Holdings,
          "SELECT codel,CAST(valtd AS TEXT),CAST(IFNULL((tcost/tcount),0.0) AS TEXT),CAST(tcount AS TEXT),"
          "CAST((tcount*valtd) AS TEXT),CAST(tcost AS TEXT),CAST((tcount*valtd-tcost) AS TEXT) "
          "FROM fu_list,fu_stk,fu_count WHERE codel=codes AND codel=codec AND gdate=?",
          {4, 5, 6, 7, 8, 9});
}

TEST_F(ViewQueryTest, QuoteDateIsAValueNeverPartOfTheStatement) {
    AddFund(1, "600001", "甲", "股票型");
    AddValue("600001", 1.0, 1.0, 1.0);
    ViewRows out;
    EXPECT_EQ(Load(ViewKind::Latest, out, -1, true, "x' OR '1'='1"), 0);
    EXPECT_TRUE(out.rows.empty());
    EXPECT_EQ(Load(ViewKind::Latest, out, -1, true, "2024-03-16"), 0);
    EXPECT_TRUE(out.rows.empty());
    EXPECT_EQ(Load(ViewKind::Latest, out), 0);  // one row: index 0 as well
    EXPECT_EQ(out.rows.size(), 1u);
}

TEST_F(ViewQueryTest, HugeValuesAreShownInFull) {
    AddFund(1, "700001", "巨额", "股票型");
    AddValue("700001", 1e15, 123456789012345.0, 1.0);
    AddHolding(1, "700001", 1.0, 1048576.0, "");
    ViewRows out;
    ASSERT_EQ(Load(ViewKind::Latest, out), 0);
    EXPECT_EQ(out.rows[0].cells[4], "1000000000000000.0000");
    EXPECT_EQ(out.rows[0].cells[5], "123456789012345.0000");
    EXPECT_EQ(out.rows[0].cells[7], "+123456789012344.0000");
    ASSERT_EQ(Load(ViewKind::Holdings, out), 0);
    // Reals come back as text with 15 significant digits; all of them are shown.
    EXPECT_EQ(out.rows[0].cells[7], "129453825995408998400.00");
}

TEST_F(ViewQueryTest, FailuresReportedByTheirResults) {
    AddFund(1, "800001", "甲", "股票型");
    AddFund(2, "800002", "乙", "股票型");
    AddFund(3, "800003", "丙", "股票型");
    AddValue("800001", 1.0, 1.1, 1.0);
    Exec("INSERT INTO fu_stk (codes,valreal,valtd,valytd,gdate) VALUES ('800002',2.0,NULL,1.0,?)", {kDate});
    AddValue("800003", 1.0, 1.1, 1.0);
    Exec("UPDATE fu_list SET name=NULL, look=NULL WHERE codel='800003'");
    AddHolding(1, "800001", 10.0, 5.0, "");
    Exec("UPDATE fu_count SET remark=NULL");

    // NULL values show as empty cells; the load goes on to the end.
    ViewRows out;
    EXPECT_EQ(Load(ViewKind::Latest, out, 1, true), 2);
    ASSERT_EQ(out.rows.size(), 3u);
    EXPECT_EQ(out.rows[0].cells[7], "+0.1000");
    EXPECT_TRUE(out.rows[0].hasTextColor);
    EXPECT_EQ(out.rows[1].id, 2);
    EXPECT_EQ(out.rows[1].cells[4], "2.0000");
    EXPECT_EQ(out.rows[1].cells[5], "");
    EXPECT_EQ(out.rows[1].cells[7], "");
    EXPECT_EQ(out.rows[1].cells[8], "0.0000");
    EXPECT_FALSE(out.rows[1].hasTextColor);  // neither rise nor fall
    EXPECT_EQ(out.rows[2].cells[3], "");
    EXPECT_FALSE(out.rows[2].checked);
    EXPECT_TRUE(out.error.empty()) << out.error;
    EXPECT_EQ(Load(ViewKind::Holdings, out), 0);
    ASSERT_EQ(out.rows.size(), 1u);
    EXPECT_EQ(out.rows[0].cells[10], "");

    // A result without a column the view reads stops the load with the
    // database's own text for that; the rows filled so far stay.
    ViewDefinition wider = GetViewDefinition(ViewKind::Latest);
    wider.cells.push_back({10, CellRule::Text});
    EXPECT_EQ(LoadViewRows(wider, kDate, 1, true, out), -3);
    ASSERT_EQ(out.rows.size(), 1u);
    EXPECT_EQ(out.rows[0].cells[1], "800001");
    EXPECT_EQ(out.error, sqlite3_errstr(SQLITE_RANGE));

    // A query the database refuses.
    Exec("DROP TABLE fu_count");
    EXPECT_EQ(Load(ViewKind::Holdings, out), -2);
    EXPECT_TRUE(out.rows.empty());
    EXPECT_NE(out.error.find("fu_count"), std::string::npos) << out.error;

    // No database at all: the load never creates one.
    ASSERT_TRUE(std::filesystem::remove("Zeza.db"));
    EXPECT_EQ(Load(ViewKind::Latest, out), -1);
    EXPECT_TRUE(out.rows.empty());
    EXPECT_FALSE(std::filesystem::exists("Zeza.db"));
}

TEST_F(ViewQueryTest, LoadWaitsForAWriterInsteadOfFailing) {
    AddFund(1, "900001", "甲", "股票型");
    AddValue("900001", 1.0, 1.0, 1.0);

    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open("Zeza.db", &writer), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(writer, "BEGIN EXCLUSIVE; UPDATE fu_list SET estval=1;", nullptr, nullptr, nullptr),
        SQLITE_OK);
    std::thread release([writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(writer, "COMMIT;", nullptr, nullptr, nullptr);
    });
    ViewRows out;
    const int rc = Load(ViewKind::Forecast, out);
    release.join();
    sqlite3_close(writer);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(out.rows.size(), 1u);
    EXPECT_EQ(out.rows[0].cells[4], "1.0000");  // the committed estimate
}
