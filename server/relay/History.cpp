#include "server/relay/History.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/GbkCodec.h"
#include "server/relay/JsReader.h"
#include "server/relay/Method.h"
#include "server/relay/OwnEstimate.h"
#include "server/relay/Schedule.h"
#include "server/relay/Snapshot.h"
#include "server/relay/Sources.h"

namespace zeza::relay {
namespace {

// A timestamp of the scripts (Beijing midnight in milliseconds) as the Beijing date.
std::string DayOfMs(double ms) {
    return BeijingTime(static_cast<int64_t>(ms / 1000)).substr(0, 10);
}

// The first decimal number after marker in text; 0 when there is none.
double NumberAfter(std::string_view text, std::string_view marker) {
    size_t at = text.find(marker);
    if (at == std::string_view::npos) return 0;
    at += marker.size();
    size_t end = at;
    while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.')) ++end;
    return ParsePositive(text.substr(at, end - at)).value_or(0);
}

// v with at least `least` decimals, more while fewer would change it (0.01235 keeps its five).
std::string Decimals(double v, int least) {
    char buf[64];
    for (int d = least; d < 10; ++d) {
        std::snprintf(buf, sizeof(buf), "%.*f", d, v);
        if (std::fabs(std::strtod(buf, nullptr) - v) <= 1e-12 * std::max(1.0, v)) return buf;
    }
    return buf;
}

}  // namespace

void ReadUnitMoney(std::string_view text, NavPoint& p) {
    p.dividend = NumberAfter(text, "派现金");
    p.split = NumberAfter(text, "折算");
}

bool ParseNavHistory(std::string_view script, NavHistory& out, std::string& error, size_t keep) {
    auto value = ScriptValue(script, "Data_netWorthTrend", error);
    if (!value) return false;
    if (!value->IsArray()) {
        error = "Data_netWorthTrend is not a list";
        return false;
    }
    std::map<std::string, NavPoint> days;
    for (const JsValue& item : value->items) {
        const JsValue* x = item.Get("x");
        const JsValue* y = item.Get("y");
        auto ms = x ? ParsePositive(x->Text()) : std::nullopt;
        auto nav = y ? ParsePositive(y->Text()) : std::nullopt;
        if (!ms || !nav) continue;
        NavPoint p;
        p.day = DayOfMs(*ms);
        p.nav = *nav;
        if (const JsValue* money = item.Get("unitMoney")) ReadUnitMoney(money->text, p);
        days[p.day] = p;
    }
    if (days.empty()) {
        error = "no net value in Data_netWorthTrend";
        return false;
    }
    // The accumulated values come as [ms, value] pairs in a list of their own.
    {
        std::string accError;
        if (auto list = ScriptValue(script, "Data_ACWorthTrend", accError); list && list->IsArray())
            for (const JsValue& pair : list->items) {
                if (!pair.IsArray() || pair.items.size() < 2) continue;
                auto ms = ParsePositive(pair.items[0].Text());
                auto v = ParsePositive(pair.items[1].Text());
                if (!ms || !v) continue;
                if (auto it = days.find(DayOfMs(*ms)); it != days.end()) it->second.acc = *v;
            }
    }
    out.clear();
    const size_t skip = days.size() > keep ? days.size() - keep : 0;
    size_t i = 0;
    for (auto& [day, p] : days)
        if (i++ >= skip) out.push_back(std::move(p));
    return true;
}

bool ParseDailyBars(std::string_view body, const std::string& key, IndexHistory& out, std::string& error) {
    auto value = ParseJs(body, error);
    if (!value) return false;
    const JsValue* data = value->Get("data");
    const JsValue* mine = data ? data->Get(key) : nullptr;
    const JsValue* bars = mine ? mine->Get("day") : nullptr;
    if (!bars && mine) bars = mine->Get("qfqday");
    if (!bars || !bars->IsArray()) {
        error = "no daily bars of " + key + " in the answer";
        return false;
    }
    out.clear();
    for (const JsValue& bar : bars->items) {
        if (!bar.IsArray() || bar.items.size() < 3) continue;
        std::string day(bar.items[0].Text());
        auto close = ParsePositive(bar.items[2].Text());
        if (!IsIsoDate(day) || !close) continue;
        RecordClose(out, day, *close, static_cast<size_t>(-1));
    }
    if (out.empty()) {
        error = "no readable daily bar of " + key;
        return false;
    }
    return true;
}

void RecordClose(IndexHistory& h, const std::string& day, double close, size_t keep) {
    auto it = std::lower_bound(h.begin(), h.end(), day,
                               [](const IndexClose& c, const std::string& d) { return c.day < d; });
    if (it != h.end() && it->day == day)
        it->close = close;
    else
        h.insert(it, IndexClose{day, close});
    if (h.size() > keep) h.erase(h.begin(), h.end() - static_cast<std::ptrdiff_t>(keep));
}

namespace {
// The last close on or before day; nullptr when the history starts after it.
const IndexClose* CloseAt(const IndexHistory& h, const std::string& day) {
    auto it = std::upper_bound(h.begin(), h.end(), day,
                               [](const std::string& d, const IndexClose& c) { return d < c.day; });
    return it == h.begin() ? nullptr : &*(it - 1);
}
}  // namespace

std::vector<FitDay> FitDaysOf(const NavHistory& fund,
                              const std::map<std::string, std::shared_ptr<const IndexHistory>>& indices,
                              const std::vector<TrackDay>* record, const std::string& report) {
    std::vector<FitDay> days;
    if (fund.size() < 2) return days;
    days.reserve(fund.size() - 1);
    for (size_t i = 1; i < fund.size(); ++i) {
        const NavPoint &before = fund[i - 1], &p = fund[i];
        FitDay d;
        const double units = p.split > 0 ? p.split : 1;
        d.navChange = (p.nav * units + p.dividend) / before.nav - 1;
        for (int k = 0; k < kIndexCount; ++k) {
            auto h = indices.find(std::string(kIndexKeys[k]));
            if (h == indices.end() || !h->second) continue;
            const IndexClose* from = CloseAt(*h->second, before.day);
            const IndexClose* to = CloseAt(*h->second, p.day);
            // Known only when the history has the day before (an A-share index trades on the
            // fund's days; Hong Kong's last session may be earlier) and reaches the day.
            if (!from || !to || h->second->back().day < p.day || (k != kHangSeng && from->day != before.day))
                continue;
            d.index[k] = to->close / from->close - 1;
        }
        if (record && !report.empty()) {
            auto r = std::lower_bound(record->begin(), record->end(), p.day,
                                      [](const TrackDay& t, const std::string& day) { return t.day < day; });
            if (r != record->end() && r->day == p.day && r->listReport == report) d.topTen = r->listMove;
        }
        days.push_back(d);
    }
    return days;
}

std::string NavHistoryAnswer(const NavHistory& h) {
    static const std::string kDividend = Utf8ToGbk("分红 ");
    static const std::string kSplit = Utf8ToGbk("拆分 ");
    // A day the script gives no accumulated value for (the answer always has one) takes it from
    // the nearest day that has, moved as the unit NAV moved, its events left out; a script
    // without any gives the unit NAV.
    std::vector<double> acc(h.size());
    const auto move = [&](size_t i) {
        return h[i].nav * (h[i].split > 0 ? h[i].split : 1) + h[i].dividend - h[i - 1].nav;
    };
    size_t known = h.size();
    for (size_t i = 0; i < h.size(); ++i) {
        acc[i] = h[i].acc > 0 ? h[i].acc : i > 0 && acc[i - 1] > 0 ? std::max(0.0, acc[i - 1] + move(i)) : 0;
        if (h[i].acc > 0 && known == h.size()) known = i;
    }
    for (size_t i = known; i-- > 0;)
        acc[i] = known == h.size() ? h[i].nav : std::max(0.0, acc[i + 1] - move(i + 1));
    std::string out;
    out.reserve(h.size() * 28);
    for (size_t i = 0; i < h.size(); ++i) {
        const NavPoint& p = h[i];
        out += p.day + "|" + Value4(p.nav) + "|" + Value4(acc[i]) + "|";
        // One event a day: a split changes the units held, so it wins over cash (the relay logs such a day).
        if (p.split > 0)
            out += kSplit + Decimals(p.split, 6);
        else if (p.dividend > 0)
            out += kDividend + Decimals(p.dividend, 4);
        out += "\r\n";
    }
    return out;
}

std::string NavHistoryText(const NavHistory& h) {
    std::string out;
    out.reserve(h.size() * 32);
    for (const NavPoint& p : h) {
        out += p.day + "," + Value4(p.nav) + "," + Value4(p.acc);
        if (p.dividend > 0 || p.split > 0) out += "," + Value4(p.dividend) + "," + std::to_string(p.split);
        out += ';';
    }
    return out;
}

NavHistory NavHistoryFromText(std::string_view text) {
    NavHistory h;
    for (std::string_view item : SplitGbk(text, ';')) {
        auto f = SplitGbk(item, ',');
        if (f.size() < 3 || !IsIsoDate(f[0])) continue;
        NavPoint p;
        p.day = std::string(f[0]);
        p.nav = ParsePositive(f[1]).value_or(0);
        p.acc = ParsePositive(f[2]).value_or(0);
        if (f.size() >= 5) {
            p.dividend = ParsePositive(f[3]).value_or(0);
            p.split = ParsePositive(f[4]).value_or(0);
        }
        if (p.nav > 0) h.push_back(std::move(p));
    }
    return h;
}

std::string IndexHistoryText(const IndexHistory& h) {
    std::string out;
    out.reserve(h.size() * 20);
    for (const IndexClose& c : h) out += c.day + "," + Value4(c.close) + ";";
    return out;
}

IndexHistory IndexHistoryFromText(std::string_view text) {
    IndexHistory h;
    for (std::string_view item : SplitGbk(text, ';')) {
        auto f = SplitGbk(item, ',');
        if (f.size() < 2 || !IsIsoDate(f[0])) continue;
        if (auto v = ParsePositive(f[1])) h.push_back({std::string(f[0]), *v});
    }
    return h;
}

}  // namespace zeza::relay
