#pragma once

#include <functional>
#include <string>

namespace zeza {

class CFundDb;

// One pass of the ledger on the refresh thread: asks the data server for the daily history of
// every held fund (fund/navhist.php, from the first day it needs), stores each answer and then
// confirms what the history confirms. stop() is asked between funds. 1 done (a fund whose
// history did not come is asked again next pass; *missing counts them); 0 stopped; -1 no
// database; -5 the ledger is damaged (nothing asked).
[[nodiscard]] int SyncLedger(CFundDb& db, const std::string& today, const std::function<bool()>& stop,
                             int* missing = nullptr);

}  // namespace zeza
