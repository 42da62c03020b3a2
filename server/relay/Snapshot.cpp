#include "server/relay/Snapshot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>

#include "platform/GbkCodec.h"
#include "server/relay/History.h"

namespace zeza::relay {
namespace {

bool StartsWith(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}
bool Contains(std::string_view s, std::string_view p) {
    return s.find(p) != std::string_view::npos;
}

// Two decimals, as the idx feed sends levels and changes; never "-0.00".
std::string Value2(double v) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%0.2f", v);
    return std::string(buf) == "-0.00" ? "0.00" : buf;
}

std::string IndexFeedOf(const QuoteMap& quotes) {
    std::string out;
    for (const IndexLine& line : kIndexLines) {
        auto q = quotes.find(line.key);
        if (q == quotes.end() || q->second.prevClose <= 0) continue;
        const StockQuote& quote = q->second;
        // A source that gives the day only: the level stands as of the day's close.
        const std::string time = quote.date + " " + (quote.time.empty() ? "15:00:00" : quote.time);
        out += std::string(line.key) + "|" + Utf8ToGbk(line.name) + "|" + Value2(quote.price) + "|" +
               Value2((quote.price / quote.prevClose - 1) * 100) + "|" + time + "\r\n";
    }
    return out;
}

std::string NavLine(const RelayNav& n) {
    return n.code + "|" + Value4(n.accumulated) + "|" + Value4(n.latest) + "|" + Value4(n.previous) + "\r\n";
}

}  // namespace

std::string Value4(double v) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%0.4f", v);
    return buf;
}

namespace {

// The catalogue's type texts, first match wins. Counts of the live catalogue in brackets.
struct KindRow {
    const char* text;
    bool prefix;       // text starts the type text; else the whole text
    const char* type;  // nullptr: left out
    bool late, own;
};
const KindRow kKinds[] = {
    // Money market and wealth funds publish a yield per 10,000 units, not a net value per unit:
    // nothing the views could show, so they stay out of the catalogue.
    {"货币型", true, nullptr, false, false},
    {"理财型", true, nullptr, false, false},
    {"股票型", false, "gu", false, true},            // 1084
    {"混合型-偏股", false, "hun", false, true},      // 5364
    {"混合型-灵活", false, "hun", false, true},      // 2404
    {"混合型-偏债", false, "hun", false, true},      // 1387
    {"混合型-平衡", false, "hun", false, true},      // 75
    {"混合型-绝对收益", false, "hun", false, true},  // 39
    {"指数型-股票", false, "zhi", false, false},     // 4973: the public valuation covers them
    {"指数型-海外股票", false, "zhi", true, false},  // 363: abroad, a day late
    {"指数型-固收", false, "zhai", false, false},    // 669
    {"指数型-其他", false, "zhi", false, false},     // 62
    {"商品", true, "zhi", false, false},             // 2: gold, for the most part
    {"债券型", true, "zhai", false, false},          // 长债, 混合二级, 中短债, 混合一级
    {"FOF", true, "hun", false, false},              // 稳健型, 均衡型, 进取型: funds of funds
    {"Reits", true, "gu", false, false},             // 78: listed units priced like shares
    {"REITs", true, "gu", false, false},
    {"QDII-普通股票", false, "gu", true, false},  // 81
    {"QDII-纯债", false, "zhai", true, false},    // 60
    {"QDII-混合债", false, "zhai", true, false},  // 23
    {"QDII-商品", false, "zhi", true, false},     // 22
    {"QDII-混合", true, "hun", true, false},      // 偏股, 灵活, 平衡
    {"QDII-FOF", false, "hun", true, false},      // 9
    {"QDII-REITs", false, "hun", true, false},    // 4
};

// A type text the table does not know is reported once per run, so a new kind is noticed.
void ReportUnknownKind(std::string_view text) {
    static std::mutex mutex;
    static std::set<std::string, std::less<>> seen;
    std::lock_guard lock(mutex);
    if (!seen.emplace(text).second) return;
    std::fprintf(stderr, "zeza-dataserver: unknown fund type \"%.*s\", served as a mixed fund\n",
                 static_cast<int>(text.size()), text.data());
}

}  // namespace

std::optional<FundKind> KindFor(std::string_view t) {
    for (const KindRow& row : kKinds) {
        if (row.prefix ? !StartsWith(t, row.text) : t != row.text) continue;
        if (!row.type) return std::nullopt;
        return FundKind{row.type, row.late, row.own, true};
    }
    // Another fund abroad is still late; anything else is shown as a mixed fund rather than lost.
    ReportUnknownKind(t);
    return FundKind{"hun", StartsWith(t, "QDII"), false, false};
}

std::string FeedName(std::string_view name) {
    std::string gbk = IsValidUtf8(name) ? Utf8ToGbk(name) : std::string(name);
    std::string out;
    out.reserve(gbk.size());
    for (size_t i = 0; i < gbk.size();) {
        size_t n = GbkCharLength(gbk, i);
        if (n == 1) {
            char c = gbk[i];
            // The feed splits at '|' and ends lines at CR LF; a quote breaks the program's statement.
            if (c == '|')
                c = '/';
            else if (c == '\'')
                c = '`';
            else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = ' ';
            out += c;
        } else {
            out.append(gbk, i, n);
        }
        i += n;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

bool WantsEstimate(const RelayFund& fund) {
    static const std::string feeder = Utf8ToGbk("联接");
    return fund.typeCode == "zhi" || Contains(fund.name, "ETF") || Contains(fund.name, "LOF") ||
           Contains(fund.name, feeder);
}

std::vector<RelayFund> FundsFromCatalogue(const std::vector<CatalogueRow>& rows, const Snapshot& previous,
                                          int64_t stamp) {
    std::vector<RelayFund> funds;
    funds.reserve(rows.size());
    std::unordered_map<std::string, size_t> seen;
    seen.reserve(rows.size());
    for (const CatalogueRow& row : rows) {
        auto kind = KindFor(row.typeText);
        if (!kind) continue;
        RelayFund f{row.code, FeedName(row.name), kind->typeCode, stamp, kind->late, kind->ownEstimate};
        if (f.name.empty()) continue;
        if (const RelayFund* old = previous.FindFund(f.code);
            old && old->name == f.name && old->typeCode == f.typeCode)
            f.changeTime = old->changeTime;
        auto [it, added] = seen.emplace(f.code, funds.size());
        if (added)
            funds.push_back(std::move(f));
        else
            funds[it->second] = std::move(f);  // the later row wins
    }
    return funds;
}

NetValueBuild NetValuesFromPage(const NavPage& page) {
    NetValueBuild b;
    b.quoteDate = page.day;
    b.prevDay = page.prevDay;
    b.navs.reserve(page.rows.size());
    for (const NavPageRow& row : page.rows) {
        auto latest = ParsePositive(row.latest);
        auto acc = ParsePositive(row.accumulated);
        if (!latest) {
            b.late.push_back(row);
            continue;
        }
        // A fund's first value has none before it: shown unchanged.
        double previous = ParsePositive(row.prevLatest).value_or(*latest);
        b.navs.push_back(RelayNav{row.code, page.day, acc.value_or(*latest), *latest, previous});
    }
    return b;
}

void AddLateFunds(NetValueBuild& b, const std::vector<FundInfo>& info, const Snapshot& previous) {
    std::map<std::string, const FundInfo*> byCode;
    for (const FundInfo& f : info) byCode[f.code] = &f;
    for (const NavPageRow& row : b.late) {
        // Every dated value known for the fund; the newest is its latest.
        std::vector<RelayNav> seen;
        if (auto v = ParsePositive(row.prevLatest); v && !b.prevDay.empty())
            seen.push_back({row.code, b.prevDay, ParsePositive(row.prevAccumulated).value_or(*v), *v, 0});
        auto fi = byCode.find(row.code);
        if (fi != byCode.end() && IsIsoDate(fi->second->date))
            if (auto v = ParsePositive(fi->second->nav))
                seen.push_back(
                    {row.code, fi->second->date, ParsePositive(fi->second->accumulated).value_or(*v), *v, 0});
        const RelayNav* old = previous.FindNav(row.code);
        if (seen.empty()) {
            if (old) b.navs.push_back(*old);  // nothing new anywhere: keep the fund in view
            continue;
        }
        std::sort(seen.begin(), seen.end(),
                  [](const RelayNav& x, const RelayNav& y) { return x.date > y.date; });
        RelayNav nav = seen.front();
        if (seen.size() > 1 && seen[1].date < nav.date) {
            nav.previous = seen[1].latest;
        } else if (old && old->date < nav.date) {
            nav.previous = old->latest;
        } else if (old && old->date == nav.date) {
            nav.previous = old->previous;
        } else if (fi != byCode.end() && fi->second->date == nav.date) {
            // Only the change on that day is known: the value before follows from it.
            auto pct = fi->second->changePercent;
            double change = 0;
            bool hasChange = !pct.empty() && std::sscanf(pct.c_str(), "%lf", &change) == 1 && change > -100;
            nav.previous =
                hasChange ? std::round(nav.latest / (1 + change / 100) * 10000) / 10000 : nav.latest;
        } else {
            nav.previous = nav.latest;
        }
        b.navs.push_back(nav);
    }
    b.late.clear();
}

void Snapshot::Build() {
    m_fundIndex.clear();
    m_navIndex.clear();
    m_estIndex.clear();
    m_listFeed.clear();
    m_listFeed.reserve(funds.size() * 32);
    for (size_t i = 0; i < funds.size(); ++i) {
        const RelayFund& f = funds[i];
        m_fundIndex[f.code] = i;
        m_listFeed += f.code + "|" + f.name + "|" + f.typeCode + "\r\n";
    }
    m_navFeed = quoteDate + "\r\n";
    m_navFeed.reserve(navs.size() * 36);
    for (size_t i = 0; i < navs.size(); ++i) {
        m_navIndex[navs[i].code] = i;
        m_navFeed += NavLine(navs[i]);
    }
    m_estFeed.clear();
    m_accFeed.clear();
    static const std::string kPublic = Utf8ToGbk("公开");
    static const std::string kOwn = Utf8ToGbk("自算");
    for (size_t i = 0; i < estimates.size(); ++i) {
        const RelayEstimate& e = estimates[i];
        m_estIndex[e.code] = i;
        m_estFeed += e.code + "|" + Value4(e.value) + "\r\n";
        Accuracy a;
        if (auto t = own->tracks.find(e.code); t != own->tracks.end() && t->second)
            a = MeanAbsError(*t->second, 20);
        char mae[32] = "";
        // Fewer days make no track record worth showing.
        if (a.estimatedDays >= 5) std::snprintf(mae, sizeof(mae), "%.2f", a.meanAbsPct);
        m_accFeed += e.code + "|" + (e.own ? kOwn : kPublic) + "|" + mae + "|" +
                     std::to_string(a.estimatedDays) + "\r\n";
    }
    m_idxFeed = IndexFeedOf(indexQuotes);
}

void Snapshot::StampAccTime(const Snapshot& previous, int64_t now) {
    const bool changed = m_accFeed != previous.m_accFeed || previous.accTime == 0;
    accTime = changed ? std::max(now, previous.accTime + 1) : previous.accTime;
}

void Snapshot::StampIdxTime(const Snapshot& previous, int64_t now) {
    if (m_idxFeed.empty()) {
        idxTime = 0;
        return;
    }
    const bool changed = m_idxFeed != previous.m_idxFeed || previous.idxTime == 0;
    idxTime = changed ? std::max(now, previous.idxTime + 1) : previous.idxTime;
}

std::string Snapshot::ListFeed(int64_t dt) const {
    if (dt <= 0) return m_listFeed;
    std::string out;
    for (const RelayFund& f : funds)
        if (f.changeTime > dt) out += f.code + "|" + f.name + "|" + f.typeCode + "\r\n";
    return out;
}

std::string Snapshot::ControlFile() const {
    return "[FU]\r\nlistTime=" + std::to_string(listTime) + "\r\nstkTime=" + std::to_string(stkTime) +
           "\r\nestTime=" + std::to_string(estTime) + "\r\naccTime=" + std::to_string(accTime) +
           // Absent until an index was quoted: the program then takes the feed for one this server lacks.
           (idxTime > 0 ? "\r\nidxTime=" + std::to_string(idxTime) : std::string()) +
           "\r\n[VER]\r\nLastVer=12\r\nUpdateVer=12\r\nUpdateFu=0\r\nUpdatePath=\r\nUpdateSha256=\r\n";
}

const RelayFund* Snapshot::FindFund(const std::string& code) const {
    auto it = m_fundIndex.find(code);
    return it == m_fundIndex.end() ? nullptr : &funds[it->second];
}
const RelayNav* Snapshot::FindNav(const std::string& code) const {
    auto it = m_navIndex.find(code);
    return it == m_navIndex.end() ? nullptr : &navs[it->second];
}
const RelayEstimate* Snapshot::FindEstimate(const std::string& code) const {
    auto it = m_estIndex.find(code);
    return it == m_estIndex.end() ? nullptr : &estimates[it->second];
}

void IntradayLog::Add(const std::string& day, int minute,
                      const std::vector<std::pair<std::string, FundEstimate>>& round, const OwnBook& book) {
    std::lock_guard lock(m_mutex);
    if (day != m_day) {
        m_day = day;
        m_points.clear();
        m_last.clear();
    }
    for (const auto& [code, e] : round) {
        auto& points = m_points[code];
        const Point p{static_cast<int16_t>(minute), static_cast<float>(e.value)};
        if (!points.empty() && points.back().minute == p.minute)
            points.back() = p;
        else
            points.push_back(p);
        Last& last = m_last[code];
        last.coverage = e.coverage;
        last.method = e.method;
        last.exposure = e.exposure;
        last.fittedExposure = e.fittedExposure;
        if (auto h = book.holdings.find(code); h != book.holdings.end()) {
            last.reportDate = h->second.reportDate;
            last.equityDate = h->second.equityDate;
            last.equityPct = h->second.equityPct;
        }
    }
}

std::string IntradayLog::Day() const {
    std::lock_guard lock(m_mutex);
    return m_day;
}

std::vector<IntradayLog::Point> IntradayLog::Points(const std::string& code) const {
    std::lock_guard lock(m_mutex);
    auto it = m_points.find(code);
    return it == m_points.end() ? std::vector<Point>() : it->second;
}

bool IntradayLog::LastOf(const std::string& code, Last& last) const {
    std::lock_guard lock(m_mutex);
    auto it = m_last.find(code);
    if (it == m_last.end()) return false;
    last = it->second;
    return true;
}

}  // namespace zeza::relay
