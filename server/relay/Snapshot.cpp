#include "server/relay/Snapshot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "platform/GbkCodec.h"

namespace zeza::relay {
namespace {

bool StartsWith(std::string_view s, std::string_view p) {
    return s.substr(0, p.size()) == p;
}
bool Contains(std::string_view s, std::string_view p) {
    return s.find(p) != std::string_view::npos;
}

// The kind a QDII fund invests in, from the rest of its type text ("QDII-普通股票").
std::string QdiiKind(std::string_view rest) {
    if (Contains(rest, "指数")) return "zhi";
    if (Contains(rest, "债")) return "zhai";
    if (Contains(rest, "股票")) return "gu";
    return "hun";
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

std::optional<std::string> TypeCodeFor(std::string_view t) {
    if (StartsWith(t, "股票")) return "gu";
    if (StartsWith(t, "债券")) return "zhai";
    if (StartsWith(t, "混合")) return "hun";
    if (StartsWith(t, "指数")) return "zhi";
    // Money market and wealth funds publish a yield per 10,000 units, not a net value
    // per unit: nothing the views could show, so they stay out of the catalogue.
    if (StartsWith(t, "货币") || StartsWith(t, "理财")) return std::nullopt;
    if (StartsWith(t, "QDII")) return QdiiKind(t.substr(4));
    // A fund of funds spreads over stock and bond funds; REITs are listed units priced
    // like shares; commodity funds follow a price index (gold, for the most part).
    if (StartsWith(t, "FOF")) return "hun";
    if (StartsWith(t, "REIT") || StartsWith(t, "Reit") || StartsWith(t, "reit")) return "gu";
    if (StartsWith(t, "商品")) return "zhi";
    // A kind the source adds later is shown as a mixed fund rather than lost.
    return "hun";
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
        auto type = TypeCodeFor(row.typeText);
        if (!type) continue;
        RelayFund f{row.code, FeedName(row.name), *type, stamp, StartsWith(row.typeText, "QDII")};
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
    for (size_t i = 0; i < estimates.size(); ++i) {
        m_estIndex[estimates[i].code] = i;
        m_estFeed += estimates[i].code + "|" + Value4(estimates[i].value) + "\r\n";
    }
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
           "\r\nestTime=" + std::to_string(estTime) +
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

}  // namespace zeza::relay
