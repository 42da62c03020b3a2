#include "tables/ViewDefinition.h"

#include <algorithm>

#include "platform/GbkCodec.h"
#include "sync/AccuracyFeed.h"

namespace zeza {

namespace {

// The sources of list columns 1, 2, ...: result columns first, first + 1, ... with these rules.
std::vector<CellSource> Cells(int first, std::initializer_list<CellRule> rules) {
    std::vector<CellSource> cells;
    for (CellRule rule : rules) cells.push_back({first++, rule});
    return cells;
}

// One entry per view; the first is also the one for a kind without an entry.
std::vector<ViewDefinition> MakeViews() {
    using enum CellRule;
    return {
        {.kind = ViewKind::Latest,
         .queryPrefix =
             "SELECT idl,look,codel,type,name,valreal,valtd,valytd,valtd-valytd,"
             "IFNULL((valtd-valytd)*100/valytd,0.0) FROM fu_list,fu_stk WHERE codel=codes AND gdate=?",
         .columnSpec = Utf8ToGbk("代码,0,70;类型,0,90;简称,0,130;累积净值,1,100;最新净值(元),1,100;"
                                 "上期净值(元),1,100;增长额(元),1,100;增长幅(%),1,100;"),
         .sortOffset = 2,
         .lookColumn = 1,
         .checkColumnSorts = true,
         .menu = ViewMenu::Catalogue,
         .cells = Cells(2, {Text, Text, Text, Fixed4, Fixed4, Fixed4, SignedChange, Fixed4})},
        {.kind = ViewKind::Forecast,
         .queryPrefix = "SELECT idl,look,codel,type,name,estval,valtd,estval-valtd,"
                        "IFNULL((estval-valtd)*100/valtd,0.0),memfeed('acc',codel," +
                        std::to_string(kAccuracySource) + "),memfeed('acc',codel," +
                        std::to_string(kAccuracyMae) + ") FROM fu_list,fu_stk WHERE codel=codes AND gdate=?",
         .columnSpec = Utf8ToGbk("代码,0,70;类型,0,90;简称,0,130;最新估值,1,100;最新净值,1,100;"
                                 "预估增长额,1,100;预估增长幅,1,100;估值来源,0,70;近20日误差(%),1,100;"),
         .sortOffset = 2,
         .lookColumn = 1,
         .checkColumnSorts = true,
         .menu = ViewMenu::Catalogue,
         .cells = Cells(2, {Text, Text, Text, Fixed4, Fixed4, SignedChange, Fixed4, Text, Fixed2})},
        {.kind = ViewKind::Watch,
         .queryPrefix = "SELECT idl,codel,type,name,valreal,valtd,valytd,valtd-valytd,"
                        "IFNULL((valtd-valytd)*100/valytd,0.0),estval,IFNULL((estval-valtd)*100/valtd,0.0) "
                        "FROM fu_list,fu_stk WHERE codel=codes AND look AND gdate=?",
         .columnSpec =
             Utf8ToGbk("代码,0,70;类型,0,90;简称,0,130;累积净值,1,100;净值(元),1,100;净值(上期),1,100;"
                       "涨跌额(元),1,100;涨跌幅(%),1,100;最新估值,1,100;预估涨跌幅(%),1,100;"),
         .sortOffset = 1,
         .lookColumn = -1,
         .checkColumnSorts = false,
         .menu = ViewMenu::Watch,
         .cells = Cells(1, {Text, Text, Text, Fixed4, Fixed4, Fixed4, SignedChange, Fixed4, Fixed4, Fixed4})},
        {.kind = ViewKind::Holdings,
         .queryPrefix =
             "SELECT idc,look,codel,type,name,valtd,IFNULL((tcost/tcount),0.0),tcount,(tcount*valtd),"
             "tcost,(tcount*valtd-tcost),remark FROM fu_list,fu_stk,fu_count WHERE codel=codes AND "
             "codel=codec AND gdate=?",
         .columnSpec =
             Utf8ToGbk("代码,0,70;类型,0,90;简称,0,130;最新净值,1,100;单位成本,1,100;持有份额,1,100;"
                       "最新市值,1,100;投入成本,1,100;浮动盈亏,1,100;备注,0,200;"),
         .sortOffset = 2,
         .lookColumn = 1,
         .checkColumnSorts = true,
         .menu = ViewMenu::Holdings,
         .cells = Cells(2, {Text, Text, Text, Fixed4, Fixed4, Fixed2, Fixed2, Fixed2, ProfitLoss, Text})},
    };
}

}  // namespace

std::string ViewDefinition::SortClause(int column, bool ascending) const {
    std::string clause = " ORDER BY " + std::to_string(column + sortOffset);
    if (!ascending) clause += " DESC";
    return clause;
}

const ViewDefinition& GetViewDefinition(ViewKind kind) {
    // Built once: the captions are converted to GBK a single time.
    static const std::vector<ViewDefinition> views = MakeViews();
    const auto it =
        std::find_if(views.begin(), views.end(), [kind](const ViewDefinition& v) { return v.kind == kind; });
    return it != views.end() ? *it : views.front();
}

}  // namespace zeza
