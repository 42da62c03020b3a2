#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace zeza::server {

// One fund of the catalogue; the name is GBK bytes, typeCode one of gu/zhai/hun/zhi.
struct FundRecord {
    std::string code;
    std::string name;
    std::string typeCode;
    int64_t changeTime = 0;
};

// Net values of one fund for the quote date.
struct NavRecord {
    double accumulated = 0;
    double latest = 0;
    double previous = 0;
};

// One market index of the idx feed; the name is GBK bytes.
struct IndexRecord {
    std::string code;  // the quote key, e.g. sh000001, hkHSI
    std::string name;
    double level = 0;
    double previousClose = 0;
    double changePct = 0;  // against previousClose, as served
    std::string time;      // Beijing "YYYY-MM-DD HH:MM:SS" of the level
};

// A newer program file the server offers, from update/update.ini.
struct UpdateOffer {
    int lastVer = 12;
    int updateVer = 12;
    int updateFu = 0;
    std::string fileName;
    std::string bytes;
    std::string sha256;
};

// A real day of the calendar written yyyy-mm-dd (2008-02-30 is none).
bool IsCalendarDate(std::string_view s);
// Six ASCII digits.
bool IsFundCode(std::string_view s);

// Everything the data server answers with, read from one data folder (see
// server/README.md for the files) and then held in memory.
class FundData {
  public:
    // Reads the folder. False, with the reason in error, when a required file is
    // missing or unreadable; lines that do not parse are skipped and listed in Warnings().
    bool Load(const std::filesystem::path& dir, std::string& error);

    // The control file; baseUrl (ending in "/") prefixes the offered program's URL.
    std::string ControlFile(const std::string& baseUrl) const;
    // Funds whose change time is after dt; dt <= 0 sends all. CR LF lines, GBK.
    std::string ListFeed(int64_t dt) const;
    // Quote date line, then code|accumulated|latest|previous per fund.
    std::string NavFeed() const;
    // code|estimate per fund.
    std::string EstimateFeed() const;
    // code|source|mae|days per estimated fund: each estimate's track record. The sample
    // folder has no history, so the record is made up from the code, the same at every run.
    std::string AccuracyFeed() const;
    // A fund's published days from `from` (yyyy-mm-dd, inclusive) to the newest, oldest first:
    // "day|nav|acc|event" CR LF each; empty for a fund without history (navhist.txt).
    std::string NavHistoryFeed(const std::string& code, const std::string& from) const;
    // code|name|level|change%|time per index (indices.txt), two decimals each; empty without one.
    std::string IndexFeed() const;

    // Moves every estimate by at most +-1.5% (kept within 10% of the latest net
    // value, a day's price limit) and stamps the estimates with now, always later
    // than the stamp before so a client that polls sees the change.
    void MoveEstimates(std::mt19937& rng, int64_t now);
    // Moves every index level by at most +-0.5% (kept within 10% of its previous close), stamps
    // the levels with now and moves idxTime past its last value. Nothing without indices.
    void MoveIndices(std::mt19937& rng, int64_t now);

    const FundRecord* FindFund(const std::string& code) const;
    const NavRecord* FindNav(const std::string& code) const;
    std::optional<double> FindEstimate(const std::string& code) const;

    const std::vector<FundRecord>& Funds() const { return m_funds; }
    const std::string& QuoteDate() const { return m_quoteDate; }
    int64_t ListTime() const { return m_listTime; }
    int64_t StkTime() const { return m_stkTime; }
    int64_t EstTime() const { return m_estTime; }
    int64_t AccTime() const { return m_accTime; }
    // 0 when the folder has no indices: the control file then does not announce the feed.
    int64_t IdxTime() const { return m_idxTime; }
    const std::vector<IndexRecord>& Indices() const { return m_indices; }
    const std::optional<UpdateOffer>& Update() const { return m_update; }
    const std::vector<std::string>& Warnings() const { return m_warnings; }

  private:
    void LoadFunds(const std::string& text, const std::string& file);
    void LoadNavs(const std::string& text, const std::string& file);
    void LoadEstimates(const std::string& text, const std::string& file);
    void LoadNavHistory(const std::string& text, const std::string& file);
    void LoadIndices(const std::string& text, const std::string& file);
    void LoadUpdate(const std::filesystem::path& dir);

    std::vector<FundRecord> m_funds;  // file order
    std::map<std::string, size_t> m_fundIndex;
    std::string m_quoteDate;
    std::vector<std::pair<std::string, NavRecord>> m_navs;  // file order
    std::map<std::string, size_t> m_navIndex;
    std::vector<std::pair<std::string, double>> m_estimates;  // file order
    std::map<std::string, size_t> m_estimateIndex;
    // Per fund its days in order, each with its line as served.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> m_history;
    int64_t m_listTime = 0;
    int64_t m_stkTime = 0;
    int64_t m_estTime = 0;
    int64_t m_accTime = 0;
    std::vector<IndexRecord> m_indices;  // file order
    int64_t m_idxTime = 0;
    std::optional<UpdateOffer> m_update;
    std::vector<std::string> m_warnings;
};

}  // namespace zeza::server
