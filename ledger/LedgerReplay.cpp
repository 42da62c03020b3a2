#include "ledger/LedgerReplay.h"

#include <algorithm>
#include <set>

#include "ledger/LedgerMath.h"
#include "platform/GbkCodec.h"

namespace zeza::ledger {
namespace {

bool IsSale(const TradeRecord& t) {
    return t.kind == TradeKind::Sell || t.kind == TradeKind::Convert;
}

bool IsPlainAdjust(const TradeRecord& t) {
    return t.kind == TradeKind::Adjust && t.splitRatio.empty();
}

bool IsDividend(const TradeRecord& t) {
    return t.kind == TradeKind::CashDividend || t.kind == TradeKind::Reinvest;
}

Fen RoundMicroToFen(int64_t micro) {
    return micro >= 0 ? (micro + 5000) / 10000 : -((-micro + 5000) / 10000);
}

const std::string& SplitRemarkPrefix() {
    static const std::string prefix = Utf8ToGbk("拆分");
    return prefix;
}

// The state of the holding while its days are played.
struct Book {
    Hundredths units = 0;
    Fen cost = 0;

    void Stamp(TradeRecord& t, TradeStatus status, const std::string& day, Nav4 nav) const {
        t.status = status;
        t.confirmDay = day;
        t.confirmNav = nav;
        t.unitsAfter = units;
        t.costAfter = cost;
    }
};

class Player {
  public:
    Player(const ReplayInput& in, ReplayResult& out) : m_in(in), m_out(out) {}

    void Run(std::vector<TradeRecord*> work) {
        std::stable_sort(work.begin(), work.end(),
                         [](const TradeRecord* a, const TradeRecord* b) { return PlacedBefore(*a, *b); });
        for (TradeRecord* t : work) {
            if (t->automatic)
                m_events[t->eventDay].push_back(t);
            else if (IsPlainAdjust(*t))
                m_adjusts.push_back(t);
            else
                m_waiting.push_back(t);
        }
        // Events already taken or undone, and dividends or splits recorded by hand (or imported)
        // on the ex-date, stand for the day's event: it is never taken twice.
        for (const TradeRecord& t : m_in.trades) {
            if (t.automatic) {
                (IsDividend(t) ? m_dividendDays : m_splitDays).insert(t.eventDay);
            } else if (t.status != TradeStatus::Cancelled) {
                if (IsDividend(t)) m_dividendDays.insert(TradeDayOf(t.placed));
                if (t.kind == TradeKind::Adjust && t.remark.starts_with(SplitRemarkPrefix()))
                    m_splitDays.insert(TradeDayOf(t.placed));
            }
        }
        Nav4 prevNav = 0;
        size_t nextAdjust = 0;
        for (const NavDay& d : *m_in.navs) {
            for (; nextAdjust < m_adjusts.size() && m_adjusts[nextAdjust]->tradeDay <= d.day; ++nextAdjust)
                ApplyAdjust(*m_adjusts[nextAdjust]);
            const Hundredths unitsStart = m_book.units;
            m_paidIn = 0;
            m_paidOut = 0;
            // A day with an event taken counts as a day the holding moved.
            const bool taken = TakeEvents(d, unitsStart);
            bool moved = taken || m_events.count(d.day) > 0;
            for (auto it = m_waiting.begin(); it != m_waiting.end();) {
                if ((*it)->tradeDay <= d.day && Apply(**it, d)) {
                    moved = true;
                    it = m_waiting.erase(it);
                } else {
                    ++it;
                }
            }
            // The first day of the history has no previous NAV: only a holding that starts that
            // day has an income then.
            if ((prevNav > 0 || unitsStart == 0) && (unitsStart > 0 || m_book.units > 0 || moved)) {
                const int64_t micro = ValueMicro(m_book.units, d.nav) - ValueMicro(unitsStart, prevNav) -
                                      m_paidIn * 10000 + m_paidOut * 10000;
                m_out.income.emplace_back(d.day, RoundMicroToFen(micro));
            }
            prevNav = d.nav;
        }
        // Corrections take effect even before their day has a NAV: they say what is held now.
        for (; nextAdjust < m_adjusts.size(); ++nextAdjust) ApplyAdjust(*m_adjusts[nextAdjust]);
        for (TradeRecord* t : m_waiting) {
            t->status = TradeStatus::Pending;
            if (IsSale(*t)) m_out.frozen += t->units;
        }
        m_out.units = m_book.units;
        m_out.cost = m_book.cost;
    }

  private:
    void ApplyAdjust(TradeRecord& t) {
        m_book.units = t.units;
        m_book.cost = t.cost;
        m_book.Stamp(t, TradeStatus::Confirmed, t.tradeDay, 0);
    }

    // The day's events: those already taken, then any new one the holding is owed.
    // True when a new event was taken.
    bool TakeEvents(const NavDay& d, Hundredths unitsStart) {
        auto found = m_events.find(d.day);
        if (found != m_events.end())
            for (TradeRecord* t : found->second) ApplyEvent(*t, d, unitsStart);
        const bool haveDividend = m_dividendDays.count(d.day) > 0;
        const bool haveSplit = m_splitDays.count(d.day) > 0;
        if (unitsStart <= 0) return false;
        bool taken = false;
        if (d.dividendMicro > 0 && !haveDividend) {
            TradeRecord t = NewEvent(d, m_in.reinvest ? TradeKind::Reinvest : TradeKind::CashDividend);
            // As published: four places, more only when the figure has them (0.0300, 0.01235).
            std::string perUnit = FormatScaled(d.dividendMicro, 6);
            while (perUnit.size() > perUnit.find('.') + 5 && perUnit.back() == '0') perUnit.pop_back();
            t.remark = Utf8ToGbk("每份派现 ") + perUnit;
            ApplyEvent(t, d, unitsStart);
            m_out.added.push_back(std::move(t));
            taken = true;
        }
        if (!d.split.empty() && !haveSplit) {
            TradeRecord t = NewEvent(d, TradeKind::Adjust);
            t.splitRatio = d.split;
            t.remark = SplitRemarkPrefix() + " " + d.split;
            ApplyEvent(t, d, unitsStart);
            m_out.added.push_back(std::move(t));
        }
        return taken;
    }

    TradeRecord NewEvent(const NavDay& d, TradeKind kind) const {
        TradeRecord t;
        t.holding = m_in.holding;
        t.code = m_in.code;
        t.kind = kind;
        t.automatic = true;
        t.eventDay = d.day;
        t.tradeDay = d.day;
        t.placed = d.day + " 00:00";
        return t;
    }

    void ApplyEvent(TradeRecord& t, const NavDay& d, Hundredths unitsStart) {
        t.fee = 0;
        if (t.kind == TradeKind::Adjust) {
            if (d.split.empty()) return m_book.Stamp(t, TradeStatus::Failed, d.day, d.nav);
            const Hundredths before = m_book.units;
            m_book.units = SplitUnits(m_book.units, t.splitRatio.empty() ? d.split : t.splitRatio);
            t.units = m_book.units;
            t.cost = m_book.cost;
            t.confirmUnits = m_book.units - before;
            return m_book.Stamp(t, TradeStatus::Confirmed, d.day, d.nav);
        }
        if (d.dividendMicro <= 0) return m_book.Stamp(t, TradeStatus::Failed, d.day, d.nav);
        const Fen cash = DividendCash(unitsStart, d.dividendMicro);
        t.amount = cash;
        t.confirmAmount = cash;
        if (t.kind == TradeKind::Reinvest) {
            t.confirmUnits = DividendUnits(unitsStart, d.dividendMicro, d.nav);
            m_book.units += t.confirmUnits;
        } else {
            m_paidOut += cash;
        }
        m_book.Stamp(t, TradeStatus::Confirmed, d.day, d.nav);
    }

    // A trade of the day's NAV; false when it must wait (a purchase whose sale is not through).
    bool Apply(TradeRecord& t, const NavDay& d) {
        switch (t.kind) {
            case TradeKind::CashDividend:
                t.confirmAmount = t.amount;
                m_paidOut += t.amount;
                break;
            case TradeKind::Reinvest:
                t.confirmAmount = t.amount;
                t.confirmUnits = MulDivCut(t.amount, 10000, d.nav);
                m_book.units += t.confirmUnits;
                break;
            case TradeKind::Buy: {
                Fen amount = t.amount;
                RatePpm rate = t.rate;
                if (t.link != 0) {
                    // A conversion's purchase spends what its sale paid out, on the same trade day.
                    const SaleOutcome* sale = nullptr;
                    if (m_in.sales) {
                        auto it = m_in.sales->find(t.link);
                        if (it != m_in.sales->end()) sale = &it->second;
                    }
                    if (!sale || sale->status == TradeStatus::Pending) return false;
                    if (sale->status != TradeStatus::Confirmed) {
                        m_book.Stamp(t, TradeStatus::Failed, d.day, d.nav);
                        return true;
                    }
                    amount = sale->amount;
                    rate = 0;
                }
                const BuyConfirmation c = ConfirmBuy(amount, rate, d.nav);
                t.confirmAmount = amount;
                t.confirmUnits = c.units;
                t.fee = c.fee;
                m_book.units += c.units;
                m_book.cost += amount;
                m_paidIn += amount;
                break;
            }
            case TradeKind::Sell:
            case TradeKind::Convert: {
                if (t.units <= 0 || t.units > m_book.units) {
                    m_book.Stamp(t, TradeStatus::Failed, d.day, d.nav);
                    return true;
                }
                const SellConfirmation c = ConfirmSell(t.units, t.rate, d.nav);
                // Average cost: the sale takes the cost of the units it sells.
                const Fen removed = t.units == m_book.units
                                        ? m_book.cost
                                        : MulDivRoundHalfUp(m_book.cost, t.units, m_book.units);
                m_book.cost -= removed;
                m_book.units -= t.units;
                t.confirmUnits = t.units;
                t.confirmAmount = c.amount;
                t.fee = c.fee;
                m_paidOut += c.amount;
                break;
            }
            case TradeKind::Adjust:
                break;
        }
        m_book.Stamp(t, TradeStatus::Confirmed, d.day, d.nav);
        return true;
    }

    const ReplayInput& m_in;
    ReplayResult& m_out;
    Book m_book;
    Fen m_paidIn = 0;   // paid in today
    Fen m_paidOut = 0;  // paid out today
    std::map<std::string, std::vector<TradeRecord*>> m_events;
    std::vector<TradeRecord*> m_adjusts;
    std::vector<TradeRecord*> m_waiting;
    std::set<std::string> m_dividendDays;
    std::set<std::string> m_splitDays;
};

void ResetConfirmation(TradeRecord& t) {
    t.tradeDay = t.automatic ? t.eventDay : TradeDayOf(t.placed);
    if (t.status == TradeStatus::Cancelled) return;
    t.status = TradeStatus::Pending;
    t.confirmDay.clear();
    t.confirmNav = 0;
    t.confirmUnits = 0;
    t.confirmAmount = 0;
    t.fee = 0;
    t.unitsAfter = 0;
    t.costAfter = 0;
}

}  // namespace

bool PlacedBefore(const TradeRecord& a, const TradeRecord& b) {
    if (a.placed != b.placed) return a.placed < b.placed;
    // Not yet stored (id 0) comes after what is.
    if ((a.id == 0) != (b.id == 0)) return b.id == 0;
    return a.id < b.id;
}

ReplayResult Replay(const ReplayInput& in) {
    static const std::vector<NavDay> kNoDays;
    ReplayInput input = in;
    if (!input.navs) input.navs = &kNoDays;
    ReplayResult out;
    out.trades = input.trades;
    for (TradeRecord& t : out.trades) ResetConfirmation(t);
    out.derived = !out.trades.empty();

    if (!out.derived) {
        // A hand-typed holding: its units earn from the day after the ledger first knew it, and
        // the first event it is owed opens its record with its typed units and cost.
        out.units = input.typedUnits;
        out.cost = input.typedCost;
        const auto& navs = *input.navs;
        const bool owed = input.typedUnits > 0 && !input.since.empty() &&
                          std::any_of(navs.begin(), navs.end(), [&](const NavDay& d) {
                              return d.day > input.since && (d.dividendMicro > 0 || !d.split.empty());
                          });
        if (!owed) {
            for (size_t i = 1; i < navs.size(); ++i)
                if (navs[i].day > input.since && !input.since.empty() && input.typedUnits > 0)
                    out.income.emplace_back(navs[i].day,
                                            RoundMicroToFen(ValueMicro(input.typedUnits, navs[i].nav) -
                                                            ValueMicro(input.typedUnits, navs[i - 1].nav)));
            return out;
        }
        TradeRecord opening;
        opening.holding = input.holding;
        opening.code = input.code;
        opening.kind = TradeKind::Adjust;
        opening.placed = input.since + " 00:00";
        opening.tradeDay = TradeDayOf(opening.placed);
        opening.units = input.typedUnits;
        opening.cost = input.typedCost;
        opening.remark = Utf8ToGbk("期初份额");
        out.added.push_back(opening);
        out.derived = true;
    }

    // The added list grows while the days are played; the player keeps pointers into the
    // trades it was given, so the opening (if any) is played from a copy put back afterwards.
    std::vector<TradeRecord> opening = std::move(out.added);
    out.added.clear();
    std::vector<TradeRecord*> work;
    for (TradeRecord& t : out.trades)
        if (t.status != TradeStatus::Cancelled) work.push_back(&t);
    for (TradeRecord& t : opening) work.push_back(&t);
    Player(input, out).Run(work);
    out.added.insert(out.added.begin(), opening.begin(), opening.end());
    return out;
}

}  // namespace zeza::ledger
