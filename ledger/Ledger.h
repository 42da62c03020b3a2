#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ledger/LedgerTypes.h"

namespace zeza {

// The investor's ledger: trades, their confirmations at the official NAV, dividends and splits
// applied on their ex-dates, regular plans and each day's income. It lives in ZezaLedger.db
// beside Zeza.db, attached to the same connection, so a confirmation and the units and cost it
// gives its holding (fu_count) commit together. A holding with trades takes its units and cost
// from them; a holding without is the hand-typed row it always was.
//
// Every operation opens its own connection. Results common to all of them:
//   -1 no Zeza.db, -2 a statement failed (nothing changed), -5 ZezaLedger.db is damaged (left
//   alone; the holdings are still shown from Zeza.db).
class Ledger {
  public:
    // The ledger file beside Zeza.db.
    static constexpr const char* kFileName = "ZezaLedger.db";

    // 1 the ledger is usable (a missing one is created empty), -1, -5.
    [[nodiscard]] static int Check();

    // --- trades ---

    // Records a trade of input.holding and confirms what the stored history already can. For a
    // hand-typed holding an opening 份额调整 first carries its typed units and cost over. A
    // conversion also records its purchase in the first holding of toCode (made when there is
    // none). *id receives the new trade's id. 0 stored; -1, -2, -5; -3 the input is not a trade of
    // its kind (no such holding, a bad time, amount, units or code); -4 more units than are free
    // (held less those frozen by pending sales).
    [[nodiscard]] static int AddTrade(const TradeInput& input, long long* id = nullptr);
    // Replaces a pending trade the user made. 0 stored; -1, -2, -5; -3 as AddTrade or the trade is
    // not pending, automatic or a conversion's purchase; -4 as AddTrade.
    [[nodiscard]] static int EditTrade(long long id, const TradeInput& input);
    // Cancels a pending trade (a conversion with its purchase), or undoes an automatic one; an
    // undone event is never applied again. 0 done; -1, -2, -5; -3 neither pending nor automatic.
    [[nodiscard]] static int CancelTrade(long long id);
    // The trades of a holding, oldest first, with their confirmations. 0 read; -1, -2, -5.
    [[nodiscard]] static int ListTrades(long long holding, std::vector<TradeRecord>& out);
    // 1 the holding has trades (its units and cost come from them), 0 none; -1, -2, -5.
    [[nodiscard]] static int HasTrades(long long holding);
    // Units held less those frozen by pending sales. 0 read; -1, -2, -5.
    [[nodiscard]] static int FreeUnits(long long holding, Hundredths& units);

    // How the fund's dividends reach this holding: reinvested (true) or paid in cash (default).
    // 0 stored/read; -1, -2, -5.
    [[nodiscard]] static int SetReinvest(long long holding, bool reinvest);
    [[nodiscard]] static int GetReinvest(long long holding, bool& reinvest);

    // --- the holding editor's writes, ledger-aware ---

    // As CFundDb::UpdateHolding; for a holding with trades a change of units or cost is recorded
    // as a 份额调整 placed at now ("YYYY-MM-DD HH:MM"). 0 stored; -1, -2, -5; -3 a holding with
    // trades cannot change its fund.
    [[nodiscard]] static int UpdateHolding(long long idc, const std::string& code, double cost, double units,
                                           const std::string& remark, const std::string& now);
    // Deletes the holding with its trades, plans and income, in one transaction. 0 done; -1, -2
    // (-5 is not returned: a damaged ledger still lets a holding be deleted from Zeza.db).
    [[nodiscard]] static int DeleteHolding(long long idc);

    // --- regular plans ---

    // 0 stored (*id the plan's id); -1, -2, -5; -3 a bad plan. Buys due by today are made at the
    // next ConfirmAll.
    [[nodiscard]] static int AddPlan(const PlanInput& input, long long* id = nullptr);
    // Removes the plan; the buys it made stay. 0 done; -1, -2, -5.
    [[nodiscard]] static int DeletePlan(long long id);
    [[nodiscard]] static int ListPlans(long long holding, std::vector<PlanRecord>& out);

    // --- history and confirmation (the refresh thread) ---

    // The held funds and the first day each needs from the servers' history:
    // the day after the last it has, or earlier when a trade or holding needs older days.
    [[nodiscard]] static int HistoryRequests(const std::string& today,
                                             std::vector<std::pair<std::string, std::string>>& out);
    // Stores a fund's history answer (navhist lines). *days the lines stored. 0 stored (an empty
    // answer too); -1, -2, -5; -3 the text is no history (nothing stored).
    [[nodiscard]] static int StoreHistory(const std::string& code, const std::string& text,
                                          int* days = nullptr);
    // Makes the plans' buys due by today, applies the held funds' events, confirms what the
    // history confirms and recomputes every day's income; the holdings of fu_count take their
    // new units and cost in the same transaction. *changed the holdings whose units or cost
    // changed. 0 done; -1, -2, -5.
    [[nodiscard]] static int ConfirmAll(const std::string& today, int* changed = nullptr);

    // --- income ---

    // The total income of each day of month (1..12) that has one. 0 read; -1, -2, -5.
    [[nodiscard]] static int MonthIncome(int year, int month, std::vector<DayIncome>& out);
    // The totals of a month and of a year. 0 read; -1, -2, -5.
    [[nodiscard]] static int PeriodTotals(int year, int month, Fen& monthTotal, Fen& yearTotal);
    // The newest day with an income ("" when none). 0 read; -1, -2, -5.
    [[nodiscard]] static int NewestIncomeDay(std::string& day);
    // Each holding's income on day (holding and code set). 0 read; -1, -2, -5.
    [[nodiscard]] static int DayIncomeByHolding(const std::string& day, std::vector<DayIncome>& out);

    // --- the trades file ---

    // Writes every trade (automatic ones included) as the trades file through a temporary file
    // renamed into place. 1 written; -1, -2, -5; -3 the file not written.
    [[nodiscard]] static int ExportTrades(const std::string& path);
    // Adds the trades of the file, all or nothing: a trade goes to the first holding of its fund
    // (made when there is none), and is confirmed anew from the history. *added, *skipped and the
    // reasons of the skipped lines ("第N行：…", GBK) are set. 1 done; -1, -2, -5; -3 file not
    // opened, -4 file not read to its end.
    [[nodiscard]] static int ImportTrades(const std::string& path, int* added = nullptr,
                                          int* skipped = nullptr,
                                          std::vector<std::string>* reasons = nullptr);

    // "YYYY-MM-DD HH:MM" now in Beijing (UTC+8, no daylight saving), and today.
    static std::string BeijingNow();
    static std::string BeijingToday();
};

}  // namespace zeza
