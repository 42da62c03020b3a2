#include "server/relay/Replay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <unordered_map>
#include <utility>

#include "server/relay/Method.h"

namespace zeza::relay {
namespace {

// A CSV file with a header row; fields may be quoted ("a, b" and "" inside).
struct Table {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    int Col(std::string_view name) const {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == name) return static_cast<int>(i);
        return -1;
    }
    static const std::string& Field(const std::vector<std::string>& row, int col) {
        static const std::string empty;
        return col >= 0 && static_cast<size_t>(col) < row.size() ? row[col] : empty;
    }
};

std::vector<std::string> SplitCsvLine(const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                out.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                out.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out.emplace_back();
        } else if (c != '\r') {
            out.back() += c;
        }
    }
    return out;
}

// 1 read; -1 not opened or without a header.
int ReadTable(const std::filesystem::path& file, Table& t) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return -1;
    std::string line;
    if (!std::getline(in, line)) return -1;
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte order mark some tools write
    t.header = SplitCsvLine(line);
    while (std::getline(in, line))
        if (!line.empty() && line != "\r") t.rows.push_back(SplitCsvLine(line));
    return 1;
}

std::optional<double> Number(const std::string& s) {
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || !std::isfinite(v)) return std::nullopt;
    return v;
}

// The quote key the relay's sources use for a share of the folder.
std::string ShareKey(const std::string& market, const std::string& code) {
    if (market == "HK") return "hk" + code;
    if (code.empty()) return "";
    if (code[0] == '6' || code[0] == '9') return "sh" + code;
    if (code[0] == '4' || code[0] == '8') return "bj" + code;
    return "sz" + code;
}

std::string IndexKey(const std::string& code) {
    if (code == "HSI") return "hkHSI";
    if (code.rfind("399", 0) == 0) return "sz" + code;
    return "sh" + code;
}

// Daily changes of one share or index, by date.
struct Series {
    bool hongKong = false;
    std::vector<std::pair<std::string, double>> days;  // sorted by date

    // The change on A-share day d after the A-share day prev: a Hong Kong series compounds its
    // sessions in (prev, d], so sessions on A-share holidays feed the next A-share day; nullopt
    // when an A-share series has no row on d.
    std::optional<double> Change(const std::string& prev, const std::string& d) const {
        auto from = std::upper_bound(days.begin(), days.end(), prev,
                                     [](const std::string& v, const auto& e) { return v < e.first; });
        if (!hongKong) {
            if (from != days.end() && from->first == d) return from->second;
            return std::nullopt;
        }
        double r = 1;
        for (auto it = from; it != days.end() && it->first <= d; ++it) r *= 1 + it->second;
        return r - 1;
    }
};

struct Report {
    std::string date, inUse;
    double equityPct = -1;
    std::vector<HeldStock> top;
};

struct FullList {
    std::string date, publicBy;
    std::vector<HeldStock> stocks;
};

struct FundData {
    std::vector<std::string> dates;
    std::vector<double> nav, dividend;
    std::map<std::string, Report> reports;  // by report date
    std::vector<FullList> full;
    std::set<std::string> windowDays;
};

struct Window {
    std::string fund, report, first, last;
};

// When a full list without its date became public: the statutory deadlines of the half-year
// (two months) and annual (three months) reports.
std::string PublicBy(const std::string& report) {
    if (report.size() != 10) return "";
    if (report.substr(5) == "06-30") return report.substr(0, 5) + "08-31";
    if (report.substr(5) == "12-31") return std::to_string(std::stoi(report.substr(0, 4)) + 1) + "-03-31";
    return "";
}

class Replayer {
  public:
    int Load(const std::filesystem::path& dir, std::string& error);
    void Run(ReplayResult& out) const;

  private:
    int Need(const std::filesystem::path& dir, const char* name, Table& t, std::string& error) const {
        if (ReadTable(dir / name, t) == 1) return 1;
        error = std::string("cannot read ") + name;
        return -1;
    }
    // Lookup of the day's share changes, as the method sees them: nullopt for a share the folder
    // has no prices for; an A share without a row that day was suspended (0 %).
    std::optional<double> ShareChange(const std::string& key, const std::string& prev,
                                      const std::string& d) const {
        auto s = m_stocks.find(key);
        if (s == m_stocks.end()) return std::nullopt;
        return s->second.Change(prev, d).value_or(0.0);
    }
    std::optional<double> IndexChange(const std::string& key, const std::string& prev,
                                      const std::string& d) const {
        auto s = m_indices.find(key);
        if (s == m_indices.end() || s->second.days.empty() || d < s->second.days.front().first ||
            prev >= s->second.days.back().first)
            return std::nullopt;
        return s->second.Change(prev, d);
    }
    // The list's move on day d (sum w r / sum w over shares with prices); kUnknown without any.
    double ListMove(const std::vector<HeldStock>& list, const std::string& prev, const std::string& d) const {
        double covered = 0, moved = 0;
        for (const HeldStock& s : list)
            if (auto c = ShareChange(s.key, prev, d)) {
                covered += s.weight;
                moved += s.weight * *c;
            }
        return covered > 0 ? moved / covered : kUnknown;
    }
    std::optional<double> MethodChange(const FundData& f, size_t i) const;

    std::vector<std::string> m_order;
    std::unordered_map<std::string, FundData> m_funds;
    std::vector<Window> m_windows;
    std::unordered_map<std::string, Series> m_stocks, m_indices;
};

int Replayer::Load(const std::filesystem::path& dir, std::string& error) {
    Table funds, windows, positions, top, nav, stocks;
    if (Need(dir, "funds.csv", funds, error) < 0 || Need(dir, "windows.csv", windows, error) < 0 ||
        Need(dir, "positions.csv", positions, error) < 0 || Need(dir, "holdings_top10.csv", top, error) < 0 ||
        Need(dir, "nav.csv", nav, error) < 0 || Need(dir, "stock_daily.csv", stocks, error) < 0)
        return -1;
    auto bad = [&](const char* file, const std::string& what) {
        error = std::string(file) + ": " + what;
        return -2;
    };
    for (const auto& r : funds.rows) {
        const std::string& code = Table::Field(r, funds.Col("fund_code"));
        if (!m_funds.count(code)) m_order.push_back(code);
        m_funds[code];
    }
    {
        int f = nav.Col("fund_code"), d = nav.Col("date"), v = nav.Col("unit_nav"),
            dv = nav.Col("dividend_per_unit");
        std::unordered_map<std::string, std::vector<std::tuple<std::string, double, double>>> rows;
        for (const auto& r : nav.rows) {
            auto value = Number(Table::Field(r, v));
            if (!value || *value <= 0) return bad("nav.csv", "unreadable unit_nav on " + Table::Field(r, d));
            rows[Table::Field(r, f)].emplace_back(Table::Field(r, d), *value,
                                                  Number(Table::Field(r, dv)).value_or(0.0));
        }
        for (auto& [code, list] : rows) {
            std::sort(list.begin(), list.end());
            FundData& fd = m_funds[code];
            for (auto& [date, value, div] : list) {
                fd.dates.push_back(date);
                fd.nav.push_back(value);
                fd.dividend.push_back(div);
            }
        }
    }
    std::map<std::pair<std::string, std::string>, double> position;
    for (const auto& r : positions.rows) {
        auto pct = Number(Table::Field(r, positions.Col("stock_pct_of_nav")));
        if (pct)
            position[{Table::Field(r, positions.Col("fund_code")),
                      Table::Field(r, positions.Col("report_date"))}] = *pct;
    }
    auto held = [](const Table& t, const std::vector<std::string>& r) -> std::optional<HeldStock> {
        HeldStock s;
        s.code = Table::Field(r, t.Col("stock_code"));
        std::string market = Table::Field(r, t.Col("market"));
        s.key = ShareKey(market.empty() ? "A" : market, s.code);
        s.name = Table::Field(r, t.Col("stock_name"));
        auto w = Number(Table::Field(r, t.Col("weight_pct_of_nav")));
        if (!w) return std::nullopt;
        s.weight = *w;
        return s;
    };
    for (const auto& r : top.rows) {
        auto s = held(top, r);
        if (!s) return bad("holdings_top10.csv", "unreadable weight");
        const std::string& fund = Table::Field(r, top.Col("fund_code"));
        const std::string& date = Table::Field(r, top.Col("report_date"));
        Report& rep = m_funds[fund].reports[date];
        rep.date = date;
        rep.top.push_back(std::move(*s));
    }
    for (const auto& r : windows.rows) {
        Window w{Table::Field(r, windows.Col("fund_code")), Table::Field(r, windows.Col("report_date")),
                 Table::Field(r, windows.Col("window_first_day")),
                 Table::Field(r, windows.Col("window_last_day"))};
        auto p = position.find({w.fund, w.report});
        FundData& fd = m_funds[w.fund];
        auto rep = fd.reports.find(w.report);
        if (p == position.end() || rep == fd.reports.end())
            return bad("windows.csv", "no top ten or position for " + w.fund + " " + w.report);
        rep->second.inUse = Table::Field(r, windows.Col("report_assumed_in_use_from"));
        rep->second.equityPct = p->second;
        for (const std::string& d : fd.dates)
            if (d >= w.first && d <= w.last) fd.windowDays.insert(d);
        m_windows.push_back(std::move(w));
    }
    Table full;
    const char* fullName = std::filesystem::exists(dir / "holdings_full.csv") ? "holdings_full.csv"
                           : std::filesystem::exists(dir / "holdings_full_h1_annual.csv")
                               ? "holdings_full_h1_annual.csv"
                               : nullptr;
    if (fullName && Need(dir, fullName, full, error) < 0) return -1;
    {
        std::map<std::pair<std::string, std::string>, FullList> lists;
        for (const auto& r : full.rows) {
            auto s = held(full, r);
            if (!s) return bad(fullName, "unreadable weight");
            const std::string& fund = Table::Field(r, full.Col("fund_code"));
            FullList& l = lists[{fund, Table::Field(r, full.Col("report_date"))}];
            l.date = Table::Field(r, full.Col("report_date"));
            std::string by = Table::Field(r, full.Col("public_by_deadline"));
            l.publicBy = by.empty() ? PublicBy(l.date) : by;
            l.stocks.push_back(std::move(*s));
        }
        for (auto& [key, l] : lists)
            if (!l.publicBy.empty()) m_funds[key.first].full.push_back(std::move(l));
    }
    for (const auto& r : stocks.rows) {
        auto c = Number(Table::Field(r, stocks.Col("pct_change")));
        if (!c) continue;  // the first row of a series has no change
        std::string market = Table::Field(r, stocks.Col("market"));
        Series& s =
            m_stocks[ShareKey(market.empty() ? "A" : market, Table::Field(r, stocks.Col("stock_code")))];
        s.hongKong = market == "HK";
        s.days.emplace_back(Table::Field(r, stocks.Col("date")), *c / 100);
    }
    Table index;
    if (std::filesystem::exists(dir / "index_daily.csv")) {
        if (Need(dir, "index_daily.csv", index, error) < 0) return -1;
        for (const auto& r : index.rows) {
            auto c = Number(Table::Field(r, index.Col("pct_change")));
            if (!c) continue;
            std::string code = Table::Field(r, index.Col("index_code"));
            Series& s = m_indices[IndexKey(code)];
            s.hongKong = code == "HSI";
            s.days.emplace_back(Table::Field(r, index.Col("date")), *c / 100);
        }
    }
    for (auto* map : {&m_stocks, &m_indices})
        for (auto& [key, s] : *map) std::sort(s.days.begin(), s.days.end());
    return 1;
}

std::optional<double> Replayer::MethodChange(const FundData& f, size_t i) const {
    const std::string& d = f.dates[i];
    const std::string& prev = f.dates[i - 1];
    // The newest report in use on d: never one assumed in use only later.
    const Report* rep = nullptr;
    for (const auto& [date, r] : f.reports)
        if (!r.inUse.empty() && r.inUse <= d && r.equityPct >= 0) rep = &r;
    if (!rep) return std::nullopt;
    const FullList* full = nullptr;
    for (const FullList& l : f.full)
        if (l.publicBy <= d && l.date >= rep->date && (!full || l.date > full->date)) full = &l;
    MethodInput in{.topTen = &rep->top, .equityPct = rep->equityPct};
    if (full) {
        auto p = f.reports.find(full->date);
        in.full = &full->stocks;
        in.fullEquityPct =
            p != f.reports.end() && p->second.equityPct >= 0 ? p->second.equityPct : rep->equityPct;
    }
    const std::vector<HeldStock>& list = full ? full->stocks : rep->top;
    FundFit fit;
    if (!m_indices.empty()) {
        std::vector<FitDay> days;
        for (size_t j = i > kFitDays ? i - kFitDays : 1; j < i; ++j) {
            FitDay day;
            day.navChange = (f.nav[j] + f.dividend[j]) / f.nav[j - 1] - 1;
            for (int k = 0; k < kIndexCount; ++k)
                day.index[k] =
                    IndexChange(std::string(kIndexKeys[k]), f.dates[j - 1], f.dates[j]).value_or(kUnknown);
            // The record under the list: only days it was in use and had its prices.
            if (f.dates[j] >= rep->inUse && f.windowDays.count(f.dates[j]))
                day.topTen = ListMove(list, f.dates[j - 1], f.dates[j]);
            days.push_back(day);
        }
        bool hongKong = std::any_of(list.begin(), list.end(),
                                    [](const HeldStock& s) { return s.key.rfind("hk", 0) == 0; });
        fit = FitFund(days, hongKong);
        in.fit = &fit;
    }
    MethodResult r = EstimateChange(
        in, [&](const std::string& key) { return ShareChange(key, prev, d); },
        [&](const std::string& key) { return IndexChange(key, prev, d); });
    if (!r.ok) return std::nullopt;
    return r.change;
}

void Replayer::Run(ReplayResult& out) const {
    struct Sums {
        int days = 0;
        double method = 0, plain = 0, naive = 0;
        void Add(double m, double p, double n) {
            ++days;
            method += std::fabs(m);
            plain += std::fabs(p);
            naive += std::fabs(n);
        }
        ReplayScore Score(const std::string& fund) const {
            ReplayScore s{fund, days};
            if (days) {
                s.method = method / days;
                s.plain = plain / days;
                s.naive = naive / days;
            }
            return s;
        }
    };
    std::unordered_map<std::string, Sums> perFund;
    Sums all;
    for (const Window& w : m_windows) {
        const FundData& f = m_funds.at(w.fund);
        const Report& rep = f.reports.at(w.report);
        double listed = 0;
        for (const HeldStock& s : rep.top) listed += s.weight;
        for (size_t i = 1; i < f.dates.size(); ++i) {
            const std::string& d = f.dates[i];
            if (d < w.first || d > w.last) continue;
            const std::string& prev = f.dates[i - 1];
            double moved = 0;
            for (const HeldStock& s : rep.top) moved += s.weight * ShareChange(s.key, prev, d).value_or(0.0);
            const double navPrev = f.nav[i - 1], target = f.nav[i] + f.dividend[i];
            const double plain = navPrev * (1 + rep.equityPct / 100 * moved / listed);
            // A day the method declines is a day of no change.
            const double method = navPrev * (1 + MethodChange(f, i).value_or(0.0));
            auto err = [&](double estimate) { return (estimate / target - 1) * 100; };
            perFund[w.fund].Add(err(method), err(plain), err(navPrev));
            all.Add(err(method), err(plain), err(navPrev));
        }
    }
    out.funds.clear();
    for (const std::string& code : m_order) {
        auto it = perFund.find(code);
        if (it != perFund.end() && it->second.days) out.funds.push_back(it->second.Score(code));
    }
    out.overall = all.Score("");
}

}  // namespace

int RunReplay(const std::filesystem::path& dir, ReplayResult& out, std::string& error) {
    Replayer r;
    int loaded = r.Load(dir, error);
    if (loaded < 0) return loaded;
    r.Run(out);
    return 1;
}

std::string ReplayReport(const ReplayResult& r) {
    std::string text;
    char line[200];
    for (const ReplayScore& s : r.funds) {
        std::snprintf(line, sizeof(line), "%-8s %5d fund-days  MAE %.2f pp (plain %.2f pp, naive %.2f pp)\n",
                      s.fund.c_str(), s.days, s.method, s.plain, s.naive);
        text += line;
    }
    std::snprintf(line, sizeof(line),
                  "overall MAE %.2f pp (plain %.2f pp, naive %.2f pp) over %d fund-days\n", r.overall.method,
                  r.overall.plain, r.overall.naive, r.overall.days);
    return text + line;
}

}  // namespace zeza::relay
