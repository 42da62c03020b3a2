#include "server/relay/OwnEstimate.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "platform/GbkCodec.h"
#include "server/relay/JsReader.h"
#include "server/relay/Method.h"
#include "server/relay/Schedule.h"
#include "server/relay/Snapshot.h"
#include "server/relay/Sources.h"

namespace zeza::relay {
namespace {

std::string Member(const JsValue& obj, std::string_view key) {
    const JsValue* v = obj.Get(key);
    return v ? std::string(v->Text()) : std::string();
}

std::optional<double> Number(std::string_view s) {
    if (s.empty()) return std::nullopt;
    double v = 0;
    char tail = 0;
    if (std::sscanf(std::string(s).c_str(), "%lf%c", &v, &tail) != 1 || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// The market a holding trades on, as the holdings answer numbers them.
std::string QuoteKey(std::string_view market, const std::string& code) {
    if (market == "1") return "sh" + code;
    if (market == "0") {
        // Beijing exchange shares come under the Shenzhen number, told apart by their code.
        if (!code.empty() && (code[0] == '4' || code[0] == '8' || code.rfind("92", 0) == 0))
            return "bj" + code;
        return "sz" + code;
    }
    if (market == "116") return "hk" + code;
    return "";
}

// yyyymmdd... (or yyyy-mm-dd, yyyy/mm/dd) at the start of a time field, as yyyy-mm-dd.
std::string DateOf(std::string_view s) {
    std::string digits;
    for (char c : s) {
        if (c >= '0' && c <= '9')
            digits += c;
        else if (c != '-' && c != '/')
            break;
        if (digits.size() == 8) break;
    }
    if (digits.size() != 8) return "";
    return digits.substr(0, 4) + "-" + digits.substr(4, 2) + "-" + digits.substr(6, 2);
}

// Each `v_xxx="..."` / `var hq_str_xxx="..."` statement: key and the quoted text. cut is set
// when a statement starts but does not end: the answer was cut off, and its last line is no data.
template <typename F>
size_t ForEachQuoteLine(std::string_view body, std::string_view prefix, bool& cut, F&& f) {
    size_t lines = 0, at = 0;
    cut = false;
    while ((at = body.find(prefix, at)) != std::string_view::npos) {
        size_t keyStart = at + prefix.size();
        size_t eq = body.find('=', keyStart);
        if (eq == std::string_view::npos || eq + 1 >= body.size() || body[eq + 1] != '"') {
            cut = true;
            break;
        }
        // From the opening quote on, so the search stays on character boundaries without
        // walking the whole answer again for every line.
        std::string_view rest = body.substr(eq + 2);
        size_t close = FindGbkChar(rest, '"');
        if (close == std::string_view::npos) {
            cut = true;
            break;
        }
        ++lines;
        f(body.substr(keyStart, eq - keyStart), rest.substr(0, close));
        at = eq + 2 + close + 1;
    }
    return lines;
}

bool IsZeroPrice(std::string_view s) {
    return !s.empty() && s.find_first_not_of("0.") == std::string_view::npos;
}

// hh:mm:ss of a time field whose digits run on after the day's (yyyymmddhhmmss, "yyyy/mm/dd
// hh:mm:ss"); "" when it names the day only.
std::string ClockOf(std::string_view s) {
    std::string digits;
    for (char c : s)
        if (c >= '0' && c <= '9') digits += c;
    if (digits.size() < 14) return "";
    return digits.substr(8, 2) + ":" + digits.substr(10, 2) + ":" + digits.substr(12, 2);
}

void TakeQuote(QuoteMap& quotes, QuoteRead& read, std::string_view key, std::string_view price,
               std::string_view prev, std::string_view time) {
    auto p = ParsePositive(price), c = ParsePositive(prev);
    std::string date = DateOf(time);
    if (!c || date.empty()) return;
    // A share suspended for the day shows a price of 0: it has not moved, it has not fallen to zero.
    if (!p && IsZeroPrice(price)) p = c;
    if (!p) return;
    quotes[std::string(key)] = {*p, *c, date, ClockOf(time)};
    ++read.quotes;
}

// Days since 1970-01-01 of a Gregorian date.
int64_t DayNumber(int y, int m, int d) {
    using namespace std::chrono;
    return sys_days{year{y} / month{static_cast<unsigned>(m)} / day{static_cast<unsigned>(d)}}
        .time_since_epoch()
        .count();
}

}  // namespace

std::string_view ScriptVariable(std::string_view script, std::string_view name) {
    const std::string head = "var " + std::string(name);
    size_t at = 0;
    while ((at = script.find(head, at)) != std::string_view::npos) {
        size_t i = at + head.size();
        while (i < script.size() && script[i] == ' ') ++i;
        if (i < script.size() && script[i] == '=') break;
        at = i;  // a longer name that starts the same
    }
    if (at == std::string_view::npos) return {};
    // Up to the ';' that ends the statement, outside strings and brackets.
    int depth = 0;
    char quote = 0;
    for (size_t i = at + head.size(); i < script.size(); ++i) {
        char c = script[i];
        if (quote) {
            if (c == '\\')
                ++i;
            else if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            --depth;
        } else if (c == ';' && depth == 0) {
            return script.substr(at, i + 1 - at);
        }
    }
    return {};
}

std::optional<JsValue> ScriptValue(std::string_view script, std::string_view name, std::string& error) {
    std::string_view text = ScriptVariable(script, name);
    if (text.empty()) {
        error = "no " + std::string(name) + " in the fund's script";
        return std::nullopt;
    }
    return ParseJs(text, error);
}

bool ParseHoldings(std::string_view body, FundHoldings& h, std::string& error) {
    auto value = ParseJs(body, error);
    if (!value) return false;
    const JsValue* datas = value->Get("Datas");
    const JsValue* stocks = datas ? datas->Get("fundStocks") : nullptr;
    const JsValue* ok = value->Get("Success");
    if (!value->IsObject() || (ok && ok->text != "true") || !datas || !datas->IsObject()) {
        error = "not a successful holdings answer";
        return false;
    }
    std::string report = Member(*value, "Expansion");
    if (!IsIsoDate(report.substr(0, 10))) {
        error = "the holdings answer has no report date";
        return false;
    }
    h.reportDate = report.substr(0, 10);
    h.stocks.clear();
    if (stocks && stocks->IsArray())
        for (const JsValue& s : stocks->items) {
            HeldStock st;
            st.code = Member(s, "GPDM");
            st.name = Member(s, "GPJC");
            std::string market = Member(s, "NEWTEXCH");
            if (market.empty()) market = Member(s, "TEXCH");
            // A code that is not one would break the request's list of codes for every share after it.
            st.key = IsShareCode(st.code) ? QuoteKey(market, st.code) : "";
            // JZBL is the weight; PCTNVCHG beside it is how the weight moved since the last report.
            auto w = ParsePositive(Member(s, "JZBL"));
            if (st.code.empty() || !w) continue;
            st.weight = *w;
            h.stocks.push_back(std::move(st));
        }
    return true;
}

bool IsShareCode(std::string_view code) {
    return code.size() >= 4 && code.size() <= 6 && std::all_of(code.begin(), code.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
           });
}

void UseCurrentPosition(FundHoldings& h) {
    if (h.equityPct >= 0 && !h.equityDate.empty() && h.equityDate >= h.reportDate) return;
    if (h.reportStockPct >= 0) {
        h.equityPct = h.reportStockPct;
        h.equityDate = h.reportDate;
    } else {
        h.equityPct = -1;
        h.equityDate.clear();
    }
}

namespace {
// The stock share of net assets at `day` from the script's asset allocation:
// {"series":[{"name":"股票占净比","data":[...]},...],"categories":["2026-06-30",...]}.
double ReportStockShare(std::string_view script, const std::string& day) {
    std::string error;
    auto value = ScriptValue(script, "Data_assetAllocation", error);
    const JsValue* series = value ? value->Get("series") : nullptr;
    const JsValue* days = value ? value->Get("categories") : nullptr;
    if (!series || !series->IsArray() || !days || !days->IsArray()) return -1;
    size_t at = days->items.size();
    for (size_t i = 0; i < days->items.size(); ++i)
        if (days->items[i].Text() == day) at = i;
    if (at == days->items.size()) return -1;
    for (const JsValue& s : series->items) {
        const JsValue* name = s.Get("name");
        const JsValue* data = s.Get("data");
        if (!name || name->text.rfind("股票", 0) != 0 || !data || !data->IsArray() ||
            at >= data->items.size())
            continue;
        auto pct = Number(data->items[at].Text());
        return pct && *pct >= 0 && *pct <= 200 ? *pct : -1;
    }
    return -1;
}
}  // namespace

bool ParseEquityPosition(std::string_view script, FundHoldings& h, std::string& error) {
    h.reportStockPct = h.reportDate.empty() ? -1 : ReportStockShare(script, h.reportDate);
    auto value = ScriptValue(script, "Data_fundSharesPositions", error);
    if (!value) return false;
    if (!value->IsArray() || value->items.empty()) {
        error = "no equity position";
        return false;
    }
    const JsValue& last = value->items.back();
    auto ms = last.IsArray() && last.items.size() >= 2 ? Number(last.items[0].Text()) : std::nullopt;
    auto pct = last.IsArray() && last.items.size() >= 2 ? Number(last.items[1].Text()) : std::nullopt;
    if (!ms || !pct || *pct < 0 || *pct > 200) {
        error = "unreadable equity position";
        return false;
    }
    h.equityPct = *pct;
    // Stamped at midnight in Beijing: the date is Beijing's, one day later than UTC's.
    h.equityDate = BeijingTime(static_cast<int64_t>(*ms / 1000)).substr(0, 10);
    return true;
}

namespace {
bool QuoteLinesRead(size_t lines, bool cut, std::string& error) {
    if (cut) {
        error = "the answer is cut off";
        return false;
    }
    if (lines == 0) {
        error = "no quote line in the answer";
        return false;
    }
    return true;
}
}  // namespace

bool ParseTencentQuotes(std::string_view body, QuoteMap& quotes, QuoteRead& read, std::string& error) {
    read = {};
    bool cut = false;
    size_t lines = ForEachQuoteLine(body, "v_", cut, [&](std::string_view key, std::string_view text) {
        if (key == "pv_none_match") {  // a code the service does not know: an answer all the same
            ++read.answered;
            return;
        }
        auto f = SplitGbk(text, '~');
        // 3 price, 4 previous close, 30 time of the price (yyyymmddhhmmss, or yyyy/mm/dd for Hong Kong).
        // The code is the key without its market, as short as HSI for the Hang Seng index.
        if (f.size() > 30 && f[2].size() >= 3 && key.find(f[2]) != std::string_view::npos) {
            ++read.answered;
            TakeQuote(quotes, read, key, f[3], f[4], f[30]);
        }
    });
    return QuoteLinesRead(lines, cut, error);
}

bool ParseSinaQuotes(std::string_view body, QuoteMap& quotes, QuoteRead& read, std::string& error) {
    read = {};
    bool cut = false;
    size_t lines =
        ForEachQuoteLine(body, "var hq_str_", cut, [&](std::string_view key, std::string_view text) {
            // An empty text is the service's word for a code it does not know.
            if (text.empty()) {
                ++read.answered;
                return;
            }
            auto f = SplitGbk(text, ',');
            // 0 name, 1 open, 2 previous close, 3 price, ..., 30 date, 31 time (hh:mm:ss).
            if (f.size() > 31) {
                ++read.answered;
                TakeQuote(quotes, read, key, f[3], f[2], std::string(f[30]) + " " + std::string(f[31]));
            }
        });
    return QuoteLinesRead(lines, cut, error);
}

int DaysBetween(std::string_view a, std::string_view b) {
    if (!IsIsoDate(a) || !IsIsoDate(b)) return 1 << 30;
    auto num = [](std::string_view s) {
        auto n = [&](size_t at, size_t len) { return std::stoi(std::string(s.substr(at, len))); };
        return DayNumber(n(0, 4), n(5, 2), n(8, 2));
    };
    return static_cast<int>(num(b) - num(a));
}

const char* VerdictText(Verdict v) {
    switch (v) {
        case Verdict::Published:
            return "已发布";
        case Verdict::NotStockFund:
            return "不是主动股票型或混合型基金";
        case Verdict::NoHoldings:
            return "没有前十大持仓或与报告相符的股票仓位";
        case Verdict::StaleHoldings:
            return "持仓报告过旧";
        case Verdict::NoNetValue:
            return "没有净值";
        case Verdict::StaleNetValue:
            return "净值不是最近一个交易日的，当日涨跌无从推算";
        case Verdict::LowCoverage:
            return "有行情的股票占持仓比例不足";
        case Verdict::NoMove:
            return "没有净值日之后的行情";
    }
    return "";
}

FundEstimate EstimateFund(const RelayFund& fund, const RelayNav* nav, const FundHoldings* h,
                          const QuoteMap& quotes, std::string_view today, std::string_view lastTradingDay,
                          const FundFit* fit) {
    FundEstimate e;
    // Bond funds move with rates, funds abroad and funds of funds with what they hold: the top
    // ten shares say little of either.
    if (!fund.ownEstimate) {
        e.verdict = Verdict::NotStockFund;
        return e;
    }
    // A position older than the report would scale this quarter's shares by last year's stake.
    if (!h || h->stocks.empty() || h->equityPct < 0 || h->equityDate < h->reportDate) {
        e.verdict = Verdict::NoHoldings;
        return e;
    }
    if (DaysBetween(h->reportDate, today) >= kMaxReportAgeDays) {
        e.verdict = Verdict::StaleHoldings;
        return e;
    }
    if (!nav || nav->latest <= 0) {
        e.verdict = Verdict::NoNetValue;
        return e;
    }
    // On a NAV two trading days old the day's move would be charged to the wrong day.
    if (nav->date != lastTradingDay) {
        e.verdict = Verdict::StaleNetValue;
        return e;
    }
    const std::string* day = nullptr;
    // A price from the NAV's own day (or before) is already in the NAV.
    auto change = [&](const std::string& key, bool share) -> std::optional<double> {
        auto q = quotes.find(key);
        if (q == quotes.end() || q->second.date <= nav->date) return std::nullopt;
        if (share && (!day || *day < q->second.date)) day = &q->second.date;
        return q->second.price / q->second.prevClose - 1;
    };
    MethodInput in{.topTen = &h->stocks, .equityPct = h->equityPct, .fit = fit};
    MethodResult m = EstimateChange(
        in, [&](const std::string& k) { return change(k, true); },
        [&](const std::string& k) { return change(k, false); });
    if (day) e.day = *day;
    e.coverage = m.coverage;
    e.method = std::string(m.method);
    e.exposure = m.exposure;
    e.fittedExposure = m.fittedExposure;
    if (m.ok) e.listMove = m.listMove;
    if (!m.ok) {
        e.verdict = Verdict::NoMove;
        return e;
    }
    if (e.coverage < kMinCoverage) {
        e.verdict = Verdict::LowCoverage;
        return e;
    }
    e.value = nav->latest * (1 + m.change);
    // Rounded as the feed sends it, an unmoved estimate would be the last NAV passed off as one.
    e.verdict = Value4(e.value) == Value4(nav->latest) ? Verdict::NoMove : Verdict::Published;
    return e;
}

namespace {
// A fund the round estimates at all: in the catalogue, a kind estimated, with holdings.
template <typename F>
void ForEachEstimated(const Snapshot& s, const std::unordered_map<std::string, bool>& skip, F&& f) {
    for (const auto& [code, h] : s.own->holdings) {
        if (skip.count(code)) continue;
        const RelayFund* fund = s.FindFund(code);
        if (!fund || !fund->ownEstimate || h.stocks.empty()) continue;
        f(code, *fund, h);
    }
}
}  // namespace

std::vector<std::pair<std::string, FundEstimate>> EstimateRound(
    const Snapshot& s, const QuoteMap& quotes, std::string_view today,
    const std::unordered_map<std::string, bool>& skip, std::unordered_map<std::string, Verdict>* refused) {
    std::vector<std::pair<std::string, FundEstimate>> out;
    ForEachEstimated(s, skip, [&](const std::string& code, const RelayFund& fund, const FundHoldings& h) {
        const FundFit* fit = nullptr;
        if (s.own->fits)
            if (auto f = s.own->fits->find(code); f != s.own->fits->end()) fit = &f->second;
        FundEstimate e = EstimateFund(fund, s.FindNav(code), &h, quotes, today, s.quoteDate, fit);
        if (e.verdict == Verdict::Published)
            out.emplace_back(code, std::move(e));
        else if (refused)
            (*refused)[code] = e.verdict;
    });
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

std::vector<std::string> QuoteKeys(const Snapshot& s, std::string_view today,
                                   const std::unordered_map<std::string, bool>& skip) {
    std::vector<std::string> keys;
    ForEachEstimated(s, skip, [&](const std::string&, const RelayFund&, const FundHoldings& h) {
        // Shares of a fund the round would refuse for its report's age are not worth asking.
        if (h.equityPct < 0 || DaysBetween(h.reportDate, today) >= kMaxReportAgeDays) return;
        for (const HeldStock& st : h.stocks)
            if (!st.key.empty()) keys.push_back(st.key);
    });
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

std::vector<std::string> QuoteUrls(const std::string& base, const std::vector<std::string>& keys,
                                   size_t batch) {
    std::vector<std::string> urls;
    for (size_t i = 0; i < keys.size(); i += batch) {
        std::string url = base;
        for (size_t k = i; k < std::min(keys.size(), i + batch); ++k) url += (k > i ? "," : "") + keys[k];
        urls.push_back(std::move(url));
    }
    return urls;
}

Accuracy MeanAbsError(const Track& t, size_t days) {
    Accuracy a;
    double sum = 0;
    size_t seen = 0;
    for (auto it = t.rbegin(); it != t.rend() && seen < days; ++it) {
        if (it->nav <= 0) continue;
        ++seen;
        if (!it->HasError()) continue;
        sum += std::fabs(it->ErrorPct());
        ++a.estimatedDays;
    }
    if (a.estimatedDays) a.meanAbsPct = sum / a.estimatedDays;
    return a;
}

DayAccuracy LatestDayAccuracy(const OwnBook& book) {
    DayAccuracy a;
    for (const auto& [code, t] : book.tracks)
        for (const TrackDay& d : *t)
            if (d.HasError() && !d.publicEstimate) a.day = std::max(a.day, d.day);
    double sum = 0;
    for (const auto& [code, t] : book.tracks)
        for (const TrackDay& d : *t)
            if (d.day == a.day && d.HasError() && !d.publicEstimate) {
                sum += std::fabs(d.ErrorPct());
                ++a.funds;
            }
    if (a.funds) a.meanAbsPct = sum / a.funds;
    return a;
}

namespace {
std::shared_ptr<Track> Edited(const std::shared_ptr<const Track>& t, const std::string& day, TrackDay*& row) {
    auto next = t ? std::make_shared<Track>(*t) : std::make_shared<Track>();
    auto it = std::lower_bound(next->begin(), next->end(), day,
                               [](const TrackDay& d, const std::string& v) { return d.day < v; });
    if (it == next->end() || it->day != day) it = next->insert(it, TrackDay{day});
    row = &*it;
    return next;
}
void Trim(Track& t) {
    if (t.size() > kTrackDays) t.erase(t.begin(), t.end() - kTrackDays);
}
}  // namespace

std::shared_ptr<const Track> WithEstimate(const std::shared_ptr<const Track>& t, const std::string& day,
                                          double estimate, bool publicEstimate, double listMove,
                                          const std::string& listReport) {
    TrackDay* row = nullptr;
    auto next = Edited(t, day, row);
    row->estimate = estimate;
    row->publicEstimate = publicEstimate;
    row->listMove = listMove;
    row->listReport = listReport;
    Trim(*next);
    return next;
}

std::shared_ptr<const Track> WithNav(const std::shared_ptr<const Track>& t, const std::string& day,
                                     double nav) {
    TrackDay* row = nullptr;
    auto next = Edited(t, day, row);
    row->nav = nav;
    Trim(*next);
    return next;
}

}  // namespace zeza::relay
