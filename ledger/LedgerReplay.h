#pragma once

#include <map>
#include <string>
#include <vector>

#include "ledger/LedgerTypes.h"

// A holding's trades played forward over its fund's published days: what confirms, the events it
// takes, its units and cost, and each day's income. Pure: the ledger's storage feeds it and writes
// back what it gives.
namespace zeza::ledger {

// One published day of a fund.
struct NavDay {
    std::string day;
    Nav4 nav = 0;
    int64_t dividendMicro = 0;  // cash per unit paid that day, in millionths of a yuan
    std::string split;          // units multiply by this that day ("" none)
};

// What became of a conversion's sale, for its purchase in another holding.
struct SaleOutcome {
    TradeStatus status = TradeStatus::Pending;
    Fen amount = 0;
    std::string confirmDay;
};

struct ReplayInput {
    long long holding = 0;
    std::string code;
    std::vector<TradeRecord> trades;            // every trade of the holding, cancelled ones included
    const std::vector<NavDay>* navs = nullptr;  // oldest first
    bool reinvest = false;
    // A holding without trades: its typed units and cost, and the first day the ledger knew it
    // (events after it apply, days after it earn).
    Hundredths typedUnits = 0;
    Fen typedCost = 0;
    std::string since;
    // Conversion sales by id, for the purchases of this holding.
    const std::map<long long, SaleOutcome>* sales = nullptr;
};

struct ReplayResult {
    std::vector<TradeRecord> trades;  // the input's trades with their confirmations (same order)
    std::vector<TradeRecord> added;   // new trades: the opening adjustment, events taken
    Hundredths units = 0;
    Fen cost = 0;
    Hundredths frozen = 0;                            // units of pending sales
    std::vector<std::pair<std::string, Fen>> income;  // by day, oldest first
    bool derived = false;  // units and cost come from trades (else the typed ones stand)
};

ReplayResult Replay(const ReplayInput& input);

// The order trades apply in: by placing time, then by id.
bool PlacedBefore(const TradeRecord& a, const TradeRecord& b);

}  // namespace zeza::ledger
