#pragma once

#include "db/SqliteConnection.h"

// The ledger's storage, shared by the ledger's own units (not part of its interface).
namespace zeza {

// Opens ./Zeza.db with ./ZezaLedger.db attached as "lg" (made, empty, when missing). 0 open; -1 no
// Zeza.db; -2 the new ledger's tables not made; -5 the ledger cannot be read (left exactly as it is).
int OpenLedger(SqliteConnection& db);

// What the refresh's confirmation leaves for the alerts (lg.notice.kind).
enum class LedgerNoticeKind : int { TradeConfirmed = 1, PlanBuyMade = 2 };

}  // namespace zeza
