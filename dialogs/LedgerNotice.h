#pragma once

class QWidget;

namespace zeza {

// A damaged ZezaLedger.db (-5 from any ledger operation) is told once per run; the holdings keep
// showing from Zeza.db, and every later -5 of the run is passed over in silence. True when result
// is -5, told now or before.
bool NoteLedgerDamage(QWidget* parent, int result);

// Tests: the next damage is told again.
void ResetLedgerNoticeForTesting();

}  // namespace zeza
