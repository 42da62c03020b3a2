#include "server/FundData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>

#include "platform/GbkCodec.h"
#include "server/DataFolderIni.h"
#include "platform/Sha256.h"
#include "platform/TextLines.h"
#include "platform/WholeFile.h"

namespace zeza::server {
namespace {

bool IsTypeCode(std::string_view s) {
    return s == "gu" || s == "zhai" || s == "hun" || s == "zhi";
}

// A positive finite decimal number such as 1.0560.
std::optional<double> ParseValue(std::string_view s) {
    double v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v) || v <= 0) return std::nullopt;
    return v;
}

// File names the server will offer under /update/: no folders, nothing hidden.
bool IsSafeFileName(std::string_view s) {
    if (s.empty() || s.size() > 100 || s.front() == '.') return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '_' || c == '-';
    });
}

std::string Value4(double v) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%0.4f", v);
    return buf;
}

// Two decimals, as the idx feed sends levels and changes; never "-0.00".
std::string Value2(double v) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%0.2f", v);
    return std::string(buf) == "-0.00" ? "0.00" : buf;
}

// A finite decimal number, possibly negative, such as -0.31.
std::optional<double> ParseSigned(std::string_view s) {
    double v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// A quote key such as sh000001 or hkHSI: ASCII letters and digits.
bool IsIndexCode(std::string_view s) {
    return s.size() >= 2 && s.size() <= 12 && std::all_of(s.begin(), s.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
           });
}

// "YYYY-MM-DD HH:MM:SS" with a real day and clock.
bool IsStamp(std::string_view s) {
    if (s.size() != 19 || !IsCalendarDate(s.substr(0, 10)) || s[10] != ' ' || s[13] != ':' || s[16] != ':')
        return false;
    for (size_t i : {11, 12, 14, 15, 17, 18})
        if (s[i] < '0' || s[i] > '9') return false;
    auto two = [&](size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); };
    return two(11) < 24 && two(14) < 60 && two(17) < 60;
}

// Beijing time of a moment, as the idx feed stamps its levels, whatever the machine's zone.
std::string BeijingStamp(int64_t utc) {
    const std::time_t t = static_cast<std::time_t>(utc + 8 * 3600);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

int64_t ModificationTime(const std::filesystem::path& p) {
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return 0;
    return static_cast<int64_t>(st.st_mtime);
}

}  // namespace

bool IsFundCode(std::string_view s) {
    return s.size() == 6 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsCalendarDate(std::string_view s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (s[i] < '0' || s[i] > '9') return false;
    auto number = [&](size_t at, size_t n) {
        int v = 0;
        for (size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
        return v;
    };
    const int y = number(0, 4), m = number(5, 2), d = number(8, 2);
    if (y < 1900 || m < 1 || m > 12 || d < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

bool FundData::Load(const std::filesystem::path& dir, std::string& error) {
    *this = FundData();
    const std::filesystem::path fundsPath = dir / "funds.txt";
    const std::filesystem::path navsPath = dir / "navs.txt";
    const std::filesystem::path estPath = dir / "estimates.txt";

    std::string funds, navs, estimates;
    const std::pair<const std::filesystem::path*, std::string*> required[] = {
        {&fundsPath, &funds}, {&navsPath, &navs}, {&estPath, &estimates}};
    for (const auto& [path, text] : required) {
        if (ReadWholeFile(*path, *text) != WholeFileRead::Read) {
            error = "cannot read " + path->string();
            return false;
        }
    }
    LoadFunds(funds, "funds.txt");
    LoadNavs(navs, "navs.txt");
    if (m_quoteDate.empty()) {
        error = navsPath.string() + " has no quote date in its first line";
        return false;
    }
    LoadEstimates(estimates, "estimates.txt");

    // The times come from times.ini when it names them, else from the files themselves,
    // so an operator who just replaces a file has clients fetch it again.
    std::string timesText;
    DataFolderIni times;
    if (ReadWholeFile(dir / "times.ini", timesText) == WholeFileRead::Read)
        times = DataFolderIni::Parse(timesText);
    auto pickTime = [&](const char* key, const std::filesystem::path& file) -> int64_t {
        if (auto raw = times.Get("FU", key)) {
            if (auto v = ParseInteger(*raw); v && *v >= 0 && *v <= INT32_MAX) return *v;
            m_warnings.push_back(std::string("times.ini: ") + key +
                                 " is not a time in seconds; using the file's time");
        }
        return ModificationTime(file);
    };
    m_listTime = pickTime("listTime", fundsPath);
    m_stkTime = pickTime("stkTime", navsPath);
    m_estTime = pickTime("estTime", estPath);
    // The track records follow from the estimated funds, so they change with that file.
    m_accTime = pickTime("accTime", estPath);

    // The daily history is optional: without it every fund answers with no days.
    std::string history;
    const WholeFileRead historyRead = ReadWholeFile(dir / "navhist.txt", history);
    if (historyRead == WholeFileRead::Read)
        LoadNavHistory(history, "navhist.txt");
    else if (historyRead == WholeFileRead::ReadError)
        m_warnings.push_back("navhist.txt cannot be read; no fund has a history");

    // The indices are optional too: without them the idx feed does not exist (no idxTime, 404).
    std::string indices;
    const std::filesystem::path indicesPath = dir / "indices.txt";
    const WholeFileRead indicesRead = ReadWholeFile(indicesPath, indices);
    if (indicesRead == WholeFileRead::Read)
        LoadIndices(indices, "indices.txt");
    else if (indicesRead == WholeFileRead::ReadError)
        m_warnings.push_back("indices.txt cannot be read; no index feed");
    if (!m_indices.empty()) m_idxTime = pickTime("idxTime", indicesPath);

    LoadUpdate(dir);
    return true;
}

void FundData::LoadIndices(const std::string& text, const std::string& file) {
    int lineNo = 0;
    for (std::string_view line : SplitLines(text)) {
        ++lineNo;
        if (line.empty()) continue;
        auto fields = SplitGbk(line, '|');
        std::optional<double> level, change;
        if (fields.size() == 5) {
            level = ParseValue(fields[2]);
            change = ParseSigned(fields[3]);
        }
        if (fields.size() != 5 || !IsIndexCode(fields[0]) || fields[1].empty() || !IsValidGbk(fields[1]) ||
            !level || !change || *change <= -100 || !IsStamp(fields[4])) {
            m_warnings.push_back(file + ":" + std::to_string(lineNo) +
                                 ": not code|name|level|change%|YYYY-MM-DD HH:MM:SS, skipped");
            continue;
        }
        // Stored as served, so the first answer repeats the file's figures.
        const double shown = std::round(*level * 100) / 100;
        IndexRecord rec{
            std::string(fields[0]), std::string(fields[1]), shown, shown / (1 + *change / 100), *change,
            std::string(fields[4])};
        auto same = std::find_if(m_indices.begin(), m_indices.end(),
                                 [&](const IndexRecord& r) { return r.code == rec.code; });
        if (same == m_indices.end()) {
            m_indices.push_back(std::move(rec));
        } else {
            m_warnings.push_back(file + ":" + std::to_string(lineNo) + ": index " + rec.code +
                                 " again, replaces the earlier line");
            *same = std::move(rec);
        }
    }
}

void FundData::LoadFunds(const std::string& text, const std::string& file) {
    int lineNo = 0;
    for (std::string_view line : SplitLines(text)) {
        ++lineNo;
        if (line.empty()) continue;
        auto fields = SplitGbk(line, '|');
        std::optional<long long> changeTime;
        if (fields.size() == 4) changeTime = ParseInteger(fields[3]);
        if (fields.size() != 4 || !IsFundCode(fields[0]) || fields[1].empty() || !IsValidGbk(fields[1]) ||
            !IsTypeCode(fields[2]) || !changeTime || *changeTime < 0) {
            m_warnings.push_back(file + ":" + std::to_string(lineNo) +
                                 ": not code|name|gu/zhai/hun/zhi|time, skipped");
            continue;
        }
        FundRecord rec{std::string(fields[0]), std::string(fields[1]), std::string(fields[2]), *changeTime};
        auto [it, added] = m_fundIndex.emplace(rec.code, m_funds.size());
        if (added) {
            m_funds.push_back(std::move(rec));
        } else {
            m_warnings.push_back(file + ":" + std::to_string(lineNo) + ": fund " + rec.code +
                                 " again, replaces the earlier line");
            m_funds[it->second] = std::move(rec);
        }
    }
}

void FundData::LoadNavs(const std::string& text, const std::string& file) {
    auto lines = SplitLines(text);
    if (lines.empty()) return;
    std::string_view date = lines[0];
    while (!date.empty() && (date.back() == ' ' || date.back() == '\t')) date.remove_suffix(1);
    m_quoteDate = std::string(date);
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty()) continue;
        auto fields = SplitGbk(lines[i], '|');
        std::optional<double> acc, latest, previous;
        if (fields.size() == 4) {
            acc = ParseValue(fields[1]);
            latest = ParseValue(fields[2]);
            previous = ParseValue(fields[3]);
        }
        if (fields.size() != 4 || !IsFundCode(fields[0]) || !acc || !latest || !previous) {
            m_warnings.push_back(file + ":" + std::to_string(i + 1) +
                                 ": not code|accumulated|latest|previous, skipped");
            continue;
        }
        NavRecord nav{*acc, *latest, *previous};
        auto [it, added] = m_navIndex.emplace(std::string(fields[0]), m_navs.size());
        if (added)
            m_navs.emplace_back(std::string(fields[0]), nav);
        else
            m_navs[it->second].second = nav;
    }
}

void FundData::LoadEstimates(const std::string& text, const std::string& file) {
    int lineNo = 0;
    for (std::string_view line : SplitLines(text)) {
        ++lineNo;
        if (line.empty()) continue;
        auto fields = SplitGbk(line, '|');
        std::optional<double> value;
        if (fields.size() == 2) value = ParseValue(fields[1]);
        if (fields.size() != 2 || !IsFundCode(fields[0]) || !value) {
            m_warnings.push_back(file + ":" + std::to_string(lineNo) + ": not code|estimate, skipped");
            continue;
        }
        auto [it, added] = m_estimateIndex.emplace(std::string(fields[0]), m_estimates.size());
        if (added)
            m_estimates.emplace_back(std::string(fields[0]), *value);
        else
            m_estimates[it->second].second = *value;
    }
}

void FundData::LoadNavHistory(const std::string& text, const std::string& file) {
    static const std::string kDividend = Utf8ToGbk("分红 ");
    static const std::string kSplit = Utf8ToGbk("拆分 ");
    // An event is empty, or cash per unit or a unit factor as published (its digits kept).
    auto isEvent = [](std::string_view e) {
        if (e.empty()) return true;
        for (const std::string* kind : {&kDividend, &kSplit})
            if (e.substr(0, kind->size()) == *kind) return ParseValue(e.substr(kind->size())).has_value();
        return false;
    };
    int lineNo = 0;
    for (std::string_view line : SplitLines(text)) {
        ++lineNo;
        if (line.empty()) continue;
        auto fields = SplitGbk(line, '|');
        std::optional<double> nav, acc;
        if (fields.size() == 5) {
            nav = ParseValue(fields[2]);
            acc = ParseValue(fields[3]);
        }
        if (fields.size() != 5 || !IsFundCode(fields[0]) || !IsCalendarDate(fields[1]) || !nav || !acc ||
            !isEvent(fields[4])) {
            m_warnings.push_back(file + ":" + std::to_string(lineNo) +
                                 ": not code|day|nav|acc|event, skipped");
            continue;
        }
        std::string day(fields[1]);
        m_history[std::string(fields[0])].emplace_back(
            day, day + "|" + Value4(*nav) + "|" + Value4(*acc) + "|" + std::string(fields[4]) + "\r\n");
    }
    for (auto& [code, days] : m_history) {
        // Sorted by day, stable: of two lines for one day the later one stays.
        std::stable_sort(days.begin(), days.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (size_t i = days.size(); i-- > 1;)
            if (days[i - 1].first == days[i].first) {
                m_warnings.push_back(file + ": fund " + code + " has " + days[i].first +
                                     " twice; the later line counts");
                days.erase(days.begin() + static_cast<std::ptrdiff_t>(i) - 1);
            }
    }
}

void FundData::LoadUpdate(const std::filesystem::path& dir) {
    std::string text;
    if (ReadWholeFile(dir / "update" / "update.ini", text) != WholeFileRead::Read) return;
    DataFolderIni ini = DataFolderIni::Parse(text);
    UpdateOffer offer;
    offer.fileName = ini.GetAnySection("File").value_or("");
    if (!IsSafeFileName(offer.fileName)) {
        m_warnings.push_back(
            "update/update.ini: File= must name a file in update/ (letters, digits, . _ -); no update "
            "offered");
        return;
    }
    if (ReadWholeFile(dir / "update" / offer.fileName, offer.bytes) != WholeFileRead::Read) {
        m_warnings.push_back("update/" + offer.fileName + " cannot be read; no update offered");
        return;
    }
    auto intKey = [&](const char* key, int fallback) {
        auto raw = ini.GetAnySection(key);
        if (!raw) return fallback;
        auto v = ParseInteger(*raw);
        if (v && *v >= INT32_MIN && *v <= INT32_MAX) return static_cast<int>(*v);
        m_warnings.push_back(std::string("update/update.ini: ") + key + " is not a number; using " +
                             std::to_string(fallback));
        return fallback;
    };
    offer.lastVer = intKey("LastVer", 12);
    offer.updateVer = intKey("UpdateVer", 12);
    offer.updateFu = intKey("UpdateFu", 0);
    offer.sha256 = Sha256::Hex(offer.bytes);
    if (offer.sha256.empty()) {
        // Offered without its checksum, the file would be taken unchecked.
        m_warnings.push_back("update/" + offer.fileName + " cannot be hashed; no update offered");
        return;
    }
    m_update = std::move(offer);
}

std::string FundData::ControlFile(const std::string& baseUrl) const {
    std::string out;
    out += "[FU]\r\n";
    out += "listTime=" + std::to_string(m_listTime) + "\r\n";
    out += "stkTime=" + std::to_string(m_stkTime) + "\r\n";
    out += "estTime=" + std::to_string(m_estTime) + "\r\n";
    out += "accTime=" + std::to_string(m_accTime) + "\r\n";
    // Absent, not 0, when there are no indices: the program then knows the feed does not exist.
    if (m_idxTime > 0) out += "idxTime=" + std::to_string(m_idxTime) + "\r\n";
    out += "[VER]\r\n";
    UpdateOffer none;
    const UpdateOffer& u = m_update ? *m_update : none;
    out += "LastVer=" + std::to_string(u.lastVer) + "\r\n";
    out += "UpdateVer=" + std::to_string(u.updateVer) + "\r\n";
    out += "UpdateFu=" + std::to_string(u.updateFu) + "\r\n";
    out += "UpdatePath=" + (m_update ? baseUrl + "update/" + u.fileName : std::string()) + "\r\n";
    out += "UpdateSha256=" + u.sha256 + "\r\n";
    return out;
}

std::string FundData::ListFeed(int64_t dt) const {
    std::string out;
    out.reserve(m_funds.size() * 32);
    for (const FundRecord& f : m_funds) {
        if (dt > 0 && f.changeTime <= dt) continue;
        out += f.code + "|" + f.name + "|" + f.typeCode + "\r\n";
    }
    return out;
}

std::string FundData::NavFeed() const {
    std::string out = m_quoteDate + "\r\n";
    out.reserve(m_navs.size() * 40);
    for (const auto& [code, nav] : m_navs)
        out += code + "|" + Value4(nav.accumulated) + "|" + Value4(nav.latest) + "|" + Value4(nav.previous) +
               "\r\n";
    return out;
}

std::string FundData::EstimateFeed() const {
    std::string out;
    out.reserve(m_estimates.size() * 16);
    for (const auto& [code, value] : m_estimates) out += code + "|" + Value4(value) + "\r\n";
    return out;
}

std::string FundData::AccuracyFeed() const {
    static const std::string kPublic = Utf8ToGbk("公开");
    static const std::string kOwn = Utf8ToGbk("自算");
    std::string out;
    out.reserve(m_estimates.size() * 24);
    for (const auto& [code, value] : m_estimates) {
        // FNV-1a of the code: the same record for a fund at every start.
        uint32_t h = 2166136261u;
        for (unsigned char c : code) h = (h ^ c) * 16777619u;
        // One in five from the public valuation, which tracks closer; one in eight too new for a record.
        const bool publicSource = h % 5 == 0;
        const int days = (h >> 3) % 8 == 0 ? static_cast<int>((h >> 6) % 5) : 20;
        const double mae =
            (publicSource ? 0.05 : 0.15) + ((h >> 9) % 1000) / (publicSource ? 5000.0 : 1400.0);
        char buf[16];
        std::snprintf(buf, sizeof(buf), "%.2f", mae);
        out += code + "|" + (publicSource ? kPublic : kOwn) + "|" + (days >= 5 ? buf : "") + "|" +
               std::to_string(days) + "\r\n";
    }
    return out;
}

std::string FundData::NavHistoryFeed(const std::string& code, const std::string& from) const {
    auto it = m_history.find(code);
    if (it == m_history.end()) return {};
    const auto& days = it->second;
    auto first = std::lower_bound(days.begin(), days.end(), from,
                                  [](const auto& d, const std::string& f) { return d.first < f; });
    std::string out;
    for (; first != days.end(); ++first) out += first->second;
    return out;
}

std::string FundData::IndexFeed() const {
    std::string out;
    for (const IndexRecord& i : m_indices)
        out +=
            i.code + "|" + i.name + "|" + Value2(i.level) + "|" + Value2(i.changePct) + "|" + i.time + "\r\n";
    return out;
}

void FundData::MoveIndices(std::mt19937& rng, int64_t now) {
    if (m_indices.empty()) return;
    std::uniform_real_distribution<double> step(-0.005, 0.005);
    const std::string stamp = BeijingStamp(now);
    for (IndexRecord& i : m_indices) {
        const double s = step(rng);
        double moved = i.level * (1 + s);
        // Turned round rather than clamped, as the estimates are: a day's move stays believable.
        if (moved > i.previousClose * 1.1 || moved < i.previousClose * 0.9) moved = i.level * (1 - s);
        i.level = std::max(0.01, std::round(moved * 100) / 100);
        i.changePct = (i.level / i.previousClose - 1) * 100;
        i.time = stamp;
    }
    // Every move changes the stamps, so the feed's text changed: the time must move with it.
    m_idxTime = std::max(now, m_idxTime + 1);
}

void FundData::MoveEstimates(std::mt19937& rng, int64_t now) {
    std::uniform_real_distribution<double> step(-0.015, 0.015);
    for (auto& [code, value] : m_estimates) {
        double s = step(rng);
        double moved = value * (1 + s);
        if (const NavRecord* nav = FindNav(code)) {
            // Turn the step round rather than clamp, so no estimate jumps by more than a step.
            if (moved > nav->latest * 1.1 || moved < nav->latest * 0.9) moved = value * (1 - s);
        }
        // Stored as served, so the feed and the detail page agree.
        value = std::max(0.0001, std::round(moved * 10000) / 10000);
    }
    m_estTime = std::max(now, m_estTime + 1);
}

const FundRecord* FundData::FindFund(const std::string& code) const {
    auto it = m_fundIndex.find(code);
    return it == m_fundIndex.end() ? nullptr : &m_funds[it->second];
}

const NavRecord* FundData::FindNav(const std::string& code) const {
    auto it = m_navIndex.find(code);
    return it == m_navIndex.end() ? nullptr : &m_navs[it->second].second;
}

std::optional<double> FundData::FindEstimate(const std::string& code) const {
    auto it = m_estimateIndex.find(code);
    if (it == m_estimateIndex.end()) return std::nullopt;
    return m_estimates[it->second].second;
}

}  // namespace zeza::server
