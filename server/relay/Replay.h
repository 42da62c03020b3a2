#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The relay's own estimate replayed over a folder of daily history (funds.csv, windows.csv,
// positions.csv, holdings_top10.csv, nav.csv, stock_daily.csv; holdings_full.csv or
// holdings_full_h1_annual.csv, index_daily.csv optional), day by day with only what was public
// before each day, against the published net values.
namespace zeza::relay {

// Mean absolute errors of the day's NAV change, in percentage points.
struct ReplayScore {
    std::string fund;  // "" for all funds together
    int days = 0;
    double method = 0;  // EstimateChange as the relay calls it; a declined day counts as no change
    double plain = 0;   // report position x the top ten's move, every day, unquoted shares as 0 %
    double naive = 0;   // no change
};

struct ReplayResult {
    std::vector<ReplayScore> funds;  // in the order of funds.csv, funds without a scored day left out
    ReplayScore overall;
};

// Replays every day of every window of dir: 1 done; -1 a required file missing or unreadable,
// -2 a row that cannot be read or refers to data the folder lacks (error says which).
int RunReplay(const std::filesystem::path& dir, ReplayResult& out, std::string& error);

// One line per fund, then `overall MAE X.XX pp (plain Y.YY pp, naive Z.ZZ pp) over N fund-days`.
std::string ReplayReport(const ReplayResult& r);

}  // namespace zeza::relay
