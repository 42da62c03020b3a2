#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Readers of the public pages the relay takes its data from. Rows are read by
// position only up to the fields used, JSON by field name, so added fields do no harm.
namespace zeza::relay {

// One fund of the catalogue script: [code, initials, name, type text, pinyin].
struct CatalogueRow {
    std::string code;
    std::string name;  // as the page sends it (UTF-8, or GBK from a page that says so)
    std::string typeText;
};
bool ParseCatalogue(std::string_view body, std::vector<CatalogueRow>& rows, std::string& error);

// One row of the bulk net value page; "" where the fund has not published.
struct NavPageRow {
    std::string code;
    std::string latest, accumulated;          // on the page's first day
    std::string prevLatest, prevAccumulated;  // on its second day
};
struct NavPage {
    std::string day, prevDay;  // showday: the two dates the columns are for
    std::vector<NavPageRow> rows;
    // The service's counts: funds in the whole list, pages of the size asked, this page's number.
    size_t record = 0, pages = 0, curpage = 0;
};
bool ParseNavPage(std::string_view body, NavPage& page, std::string& error);

// One fund of the single-fund information answer (the fallback for net values).
struct FundInfo {
    std::string code, date;  // PDATE: the day NAV belongs to
    std::string nav, accumulated, changePercent;
};
bool ParseFundInfo(std::string_view body, std::vector<FundInfo>& rows, std::string& error);

// One fund of the valuation answer; no value when the source has no estimate for it.
struct EstimateRow {
    std::string code;
    std::optional<double> value;
    std::string time;
};
bool ParseEstimates(std::string_view body, std::vector<EstimateRow>& rows, std::string& error);

// Helpers shared with the conversion.
bool IsFundCode(std::string_view s);
// A positive finite decimal number; nullopt for "", "--", 0 and anything else.
std::optional<double> ParsePositive(std::string_view s);
// A date written yyyy-mm-dd.
bool IsIsoDate(std::string_view s);
bool IsValidUtf8(std::string_view s);

}  // namespace zeza::relay
