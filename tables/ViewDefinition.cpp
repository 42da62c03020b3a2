#include "tables/ViewDefinition.h"

#include "platform/GbkCodec.h"

namespace zeza {

namespace {

ViewDefinition MakeLatest() {
    return {ViewKind::Latest,
            "SELECT idl,look,codel,type,name,valreal,valtd,valytd,valtd-valytd,"
            "IFNULL((valtd-valytd)*100/valytd,0.0) FROM fu_list,fu_stk WHERE codel=codes AND gdate=?",
            Utf8ToGbk("代码,0,70;类型,0,90;简称,0,130;累积净值,1,100;最新净值(元),1,100;上期净值(元),1,100;"
                      "增长额(元),1,100;增长幅(%),1,100;"),
            2,
            1,
            true,
            {{2, CellRule::Text},
             {3, CellRule::Text},
             {4, CellRule::Text},
             {5, CellRule::Fixed4},
             {6, CellRule::Fixed4},
             {7, CellRule::Fixed4},
             {8, CellRule::SignedChange},
             {9, CellRule::Fixed4}}};
}

ViewDefinition MakeForecast() {
    return {ViewKind::Forecast,
            "SELECT idl,look,codel,type,name,estval,valtd,estval-valtd,IFNULL((estval-valtd)*100/valtd,0.0) "
            "FROM fu_list,fu_stk WHERE codel=codes AND gdate=?",
            Utf8ToGbk("代码,0,70;类型,0,90;简称,0,130;最新估值,1,100;最新净值,1,100;预估增长额,1,100;"
                      "预估增长幅,1,100;"),
            2,
            1,
            true,
            {{2, CellRule::Text},
             {3, CellRule::Text},
             {4, CellRule::Text},
             {5, CellRule::Fixed4},
             {6, CellRule::Fixed4},
             {7, CellRule::SignedChange},
             {8, CellRule::Fixed4}}};
}

ViewDefinition MakeWatch() {
    return {
        ViewKind::Watch,
        "SELECT idl,codel,type,name,valreal,valtd,valytd,valtd-valytd,IFNULL((valtd-valytd)*100/valytd,0.0),"
        "estval,IFNULL((estval-valtd)*100/valtd,0.0) FROM fu_list,fu_stk WHERE codel=codes AND look AND "
        "gdate=?",
        Utf8ToGbk("代码,0,70;类型,0,90;简称,0,130;累积净值,1,100;净值(元),1,100;净值(上期),1,100;"
                  "涨跌额(元),1,100;涨跌幅(%),1,100;最新估值,1,100;预估涨跌幅(%),1,100;"),
        1,
        -1,
        false,
        {{1, CellRule::Text},
         {2, CellRule::Text},
         {3, CellRule::Text},
         {4, CellRule::Fixed4},
         {5, CellRule::Fixed4},
         {6, CellRule::Fixed4},
         {7, CellRule::SignedChange},
         {8, CellRule::Fixed4},
         {9, CellRule::Fixed4},
         {10, CellRule::Fixed4}}};
}

ViewDefinition MakeHoldings() {
    return {ViewKind::Holdings,
            "SELECT idc,look,codel,type,name,valtd,IFNULL((tcost/tcount),0.0),tcount,(tcount*valtd),tcost,"
            "(tcount*valtd-tcost),remark FROM fu_list,fu_stk,fu_count WHERE codel=codes AND codel=codec AND "
            "gdate=?",
            Utf8ToGbk("代码,0,70;类型,0,90;简称,0,130;最新净值,1,100;单位成本,1,100;持有份额,1,100;"
                      "最新市值,1,100;投入成本,1,100;浮动盈亏,1,100;备注,0,200;"),
            2,
            1,
            true,
            {{2, CellRule::Text},
             {3, CellRule::Text},
             {4, CellRule::Text},
             {5, CellRule::Fixed4},
             {6, CellRule::Fixed4},
             {7, CellRule::Fixed2},
             {8, CellRule::Fixed2},
             {9, CellRule::Fixed2},
             {10, CellRule::ProfitLoss},
             {11, CellRule::Text}}};
}

}  // namespace

std::string ViewDefinition::SortClause(int column, bool ascending) const {
    std::string clause = " ORDER BY " + std::to_string(column + sortOffset);
    if (!ascending) clause += " DESC";
    return clause;
}

const ViewDefinition& GetViewDefinition(ViewKind kind) {
    // Built once: the captions are converted to GBK a single time.
    static const ViewDefinition latest = MakeLatest();
    static const ViewDefinition forecast = MakeForecast();
    static const ViewDefinition watch = MakeWatch();
    static const ViewDefinition holdings = MakeHoldings();
    switch (kind) {
        case ViewKind::Forecast:
            return forecast;
        case ViewKind::Watch:
            return watch;
        case ViewKind::Holdings:
            return holdings;
        case ViewKind::Latest:
            break;
    }
    return latest;
}

}  // namespace zeza
