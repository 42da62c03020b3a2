#include "server/relay/Relay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <tuple>

#include "platform/GbkCodec.h"
#include "server/relay/JsReader.h"
#include "server/relay/Method.h"
#include "server/relay/Sources.h"

namespace zeza::relay {
namespace {

constexpr size_t kFundInfoBatch = 200;
constexpr size_t kEstimateBatch = 50;
constexpr int64_t kHoldingsMaxAge = 7 * 86400;    // top tens change quarterly; a week keeps up
constexpr int kTrackKeepDays = 120;               // days of the estimate record kept in relay.db
constexpr int64_t kAskedRetrySeconds = 3 * 3600;  // an asked fund's script is fetched at most this often
constexpr size_t kWholeHistory = static_cast<size_t>(-1);

std::string Today(int64_t utc) {
    return BeijingTime(utc).substr(0, 10);
}

// The day `days` before a Beijing date, for pruning the record.
std::string DaysBefore(int64_t utc, int days) {
    return Today(utc - static_cast<int64_t>(days) * 86400);
}

// The new time of a feed: unchanged with unchanged content, else now and always later than before.
int64_t NextTime(bool changed, int64_t old, int64_t now) {
    return changed ? std::max(now, old + 1) : old;
}

// Sources as their rests are kept: one source resting leaves the others on its host alone.
const std::string kCatalogueSource = "catalogue";
const std::string kNetValueSource = "net values";
const std::string kFundInfoSource = "fund information";
const std::string kValuationSource = "valuations";
const std::string kHoldingsSource = "holdings";
const std::string kScriptSource = "data script";
const std::string kQuoteSource = "quotes";
const std::string kQuoteFallbackSource = "quotes (fallback)";
const std::string kIndexHistorySource = "index history";

// Minutes after midnight in Beijing (UTC+8 all year).
int BeijingMinute(int64_t utc) {
    return static_cast<int>(((utc + 8 * 3600) % 86400 + 86400) % 86400 / 60);
}

constexpr int64_t kQuietValuationSeconds = 3600;  // a fund without a valuation is asked hourly
constexpr size_t kMaxNavPages = 200;              // more is not the net value list

// The net value page's address for page n of size rows.
std::string NavPageUrl(const std::string& base, size_t n, size_t size) {
    std::string url = base;
    const std::string param = "page=" + std::to_string(n) + "," + std::to_string(size);
    size_t at = url.find("page=");
    while (at != std::string::npos && at > 0 && url[at - 1] != '?' && url[at - 1] != '&')
        at = url.find("page=", at + 1);
    if (at != std::string::npos) {
        size_t end = url.find('&', at);
        return url.replace(at, end == std::string::npos ? std::string::npos : end - at, param);
    }
    return url + (url.find('?') == std::string::npos ? "?" : "&") + param;
}

// The valuation address with the fields public clients ask for, unless it names its own.
std::string WithFields(const std::string& url) {
    if (url.find("FIELDS=") != std::string::npos) return url;
    return url + (url.find('?') == std::string::npos ? "?" : "&") +
           "FIELDS=FCODE,SHORTNAME,GSZZL,GZTIME,GSZ,NAV,PDATE";
}

// Holdings are due again after this long: weekly while a newer report may be out (a quarter's
// top ten are published within weeks of its end), else every four weeks.
int64_t HoldingsMaxAge(const FundHoldings* h, const std::string& today) {
    if (!h || DaysBetween(h->reportDate, today) >= 100) return 7 * 86400;
    return 28 * 86400;
}

// Each active fund's fit to the broad indices from its published days: made once a day, when
// the day's net values came, and for funds whose history just arrived.
void Refit(OwnBook& book, const Snapshot& s, const std::vector<std::string>* only = nullptr) {
    auto fits = book.fits ? std::make_shared<std::unordered_map<std::string, FundFit>>(*book.fits)
                          : std::make_shared<std::unordered_map<std::string, FundFit>>();
    auto fit = [&](const std::string& code) {
        auto h = book.history.find(code);
        auto held = book.holdings.find(code);
        const RelayFund* fund = s.FindFund(code);
        if (h == book.history.end() || !h->second || held == book.holdings.end() || !fund ||
            !fund->ownEstimate) {
            fits->erase(code);
            return;
        }
        const bool hongKong = std::any_of(held->second.stocks.begin(), held->second.stocks.end(),
                                          [](const HeldStock& st) { return st.key.rfind("hk", 0) == 0; });
        auto t = book.tracks.find(code);
        (*fits)[code] =
            FitFund(FitDaysOf(*h->second, book.indices, t == book.tracks.end() ? nullptr : t->second.get(),
                              held->second.reportDate),
                    hongKong);
    };
    if (only)
        for (const std::string& code : *only) fit(code);
    else
        for (const auto& [code, h] : book.history) fit(code);
    book.fits = std::move(fits);
}

// The name of a fund without its share class letter ("...混合A", "...混合C" are one fund).
std::string ClassStem(const std::string& gbkName) {
    size_t last = 0, chars = 0;
    for (size_t i = 0; i < gbkName.size(); i += GbkCharLength(gbkName, i)) {
        last = i;
        ++chars;
    }
    const char c = chars > 2 ? gbkName[last] : 0;
    return c >= 'A' && c <= 'Z' && last + 1 == gbkName.size() ? gbkName.substr(0, last) : gbkName;
}

std::string Shorten(std::string s, size_t n = 160) {
    if (s.size() > n) s = s.substr(0, n) + "...";
    return s;
}

}  // namespace

Relay::Relay(RelayOptions options) : m_options(std::move(options)), m_fetcher(m_options.fetch) {
    m_snapshot = std::make_shared<Snapshot>();
}

Relay::~Relay() {
    Stop();
}

int64_t Relay::Now() const {
    return m_options.clock ? m_options.clock() : static_cast<int64_t>(std::time(nullptr));
}

bool Relay::Open(std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(m_options.dataDir, ec);
    if (!m_store.Open(m_options.dataDir / "relay.db", error)) return false;
    auto snap = std::make_shared<Snapshot>();
    if (!m_store.Load(*snap, m_runs, error)) return false;
    auto book = std::make_shared<OwnBook>(*snap->own);
    Refit(*book, *snap);
    snap->own = std::move(book);
    std::vector<std::pair<std::string, std::string>> asked;
    if (!m_store.LoadAskedHistories(asked, error)) return false;
    {
        std::lock_guard lock(m_askedMutex);
        m_asked.clear();
        for (auto& [code, answer] : asked) m_asked[code] = MakeAskedHistory(std::move(answer));
    }
    std::lock_guard lock(m_snapMutex);
    m_snapshot = std::move(snap);
    return true;
}

std::shared_ptr<const Relay::AskedHistory> Relay::MakeAskedHistory(std::string answer) {
    auto h = std::make_shared<AskedHistory>();
    h->answer = std::move(answer);
    for (size_t at = 0; at < h->answer.size();) {
        h->starts.push_back(static_cast<uint32_t>(at));
        const size_t end = h->answer.find('\n', at);
        at = end == std::string::npos ? h->answer.size() : end + 1;
    }
    return h;
}

std::string Relay::AskedHistory::Newest() const {
    return starts.empty() ? std::string() : answer.substr(starts.back(), 10);
}

std::string Relay::NavHistoryFeed(const std::string& code, const std::string& from) {
    if (code.size() != 6 ||
        !std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    std::shared_ptr<const AskedHistory> h;
    {
        std::lock_guard lock(m_askedMutex);
        auto it = m_asked.find(code);
        if (it != m_asked.end())
            h = it->second;
        else if (m_asked.size() < m_options.maxAskedFunds)
            m_asked.emplace(code, nullptr);  // bond, money and QDII funds too: any fund may be held
    }
    if (!h) return {};
    // The lines are in day order: the answer starts at the first one of `from` or later.
    auto first =
        std::lower_bound(h->starts.begin(), h->starts.end(), from,
                         [&](uint32_t at, const std::string& f) { return h->answer.compare(at, 10, f) < 0; });
    return first == h->starts.end() ? std::string() : h->answer.substr(*first);
}

bool Relay::RefreshAskedHistories(size_t maxFunds, std::string* why) {
    std::lock_guard pass(m_askedPassMutex);
    const int64_t now = Now();
    auto snap = Current();
    std::erase_if(m_askedTried, [&](const auto& t) { return t.second + kAskedRetrySeconds <= now; });
    struct Due {
        bool missing;
        std::string newest;  // of the history kept
        std::string code;
    };
    std::vector<Due> due;
    {
        std::lock_guard lock(m_askedMutex);
        for (const auto& [code, h] : m_asked) {
            if (m_askedTried.count(code)) continue;
            if (!h) {
                due.push_back({true, "", code});
                continue;
            }
            // Once a day, after the evening's net values: the fund's own NAV day where the feed
            // has one (a late fund's is earlier), else the feed's day.
            const RelayNav* nav = snap->FindNav(code);
            const std::string& latest = nav ? nav->date : snap->quoteDate;
            std::string newest = h->Newest();
            if (!latest.empty() && newest < latest) due.push_back({false, std::move(newest), code});
        }
    }
    std::sort(due.begin(), due.end(), [](const Due& x, const Due& y) {
        if (x.missing != y.missing) return x.missing;
        return std::tie(x.newest, x.code) < std::tie(y.newest, y.code);
    });
    if (due.size() > maxFunds) due.resize(maxFunds);

    std::string lastError;
    for (const Due& d : due) {
        FetchResult r =
            m_fetcher.Get(m_options.positionUrl + d.code + ".js", m_options.referer, kScriptSource);
        if (r.resting || r.cancelled) {
            lastError = r.error;
            break;
        }
        m_askedTried[d.code] = now;
        NavHistory days;
        std::string error;
        // The whole history: a trade years ago is confirmed at its day's NAV.
        if (!r.ok || !ParseNavHistory(r.body, days, error, kWholeHistory)) {
            lastError = d.code + ": " + (r.ok ? error : r.error);
            m_store.Log(Now(), kScriptSource, r.status, r.body.size(), 0, false, "history of " + lastError);
            // A code the site has no script for is no fund: it gives its place on the list back.
            if (r.status == 404 && d.missing) {
                std::lock_guard lock(m_askedMutex);
                if (auto it = m_asked.find(d.code); it != m_asked.end() && !it->second) m_asked.erase(it);
            }
            if (!r.ok && m_fetcher.Resting(kScriptSource)) break;
            continue;
        }
        // A script older than what is kept (a stale copy on the way) changes nothing.
        if (!d.missing && days.back().day < d.newest) {
            m_store.Log(
                Now(), kScriptSource, r.status, r.body.size(), days.size(), true,
                "history of " + d.code + " ends " + days.back().day + ", kept the one to " + d.newest);
            continue;
        }
        std::string note = "history of " + d.code;
        for (const NavPoint& p : days)
            if (p.dividend > 0 && p.split > 0)
                note += "; " + p.day + " has a split and a dividend, the split sent";
        auto h = MakeAskedHistory(NavHistoryAnswer(days));
        if (!m_store.SaveAskedHistory(d.code, h->answer, error))
            std::fprintf(stderr, "zeza-dataserver: cannot store the history of %s: %s\n", d.code.c_str(),
                         error.c_str());
        m_store.Log(Now(), kScriptSource, r.status, r.body.size(), days.size(), true, note);
        std::lock_guard lock(m_askedMutex);
        m_asked[d.code] = std::move(h);
    }
    if (!lastError.empty()) {
        if (why) *why = "asked histories: " + lastError;
        return false;
    }
    return true;
}

std::shared_ptr<const Snapshot> Relay::Current() const {
    std::lock_guard lock(m_snapMutex);
    return m_snapshot;
}

void Relay::Publish(Feed feed, std::shared_ptr<Snapshot> next) {
    next->Build();
    // The record's feed moves with the estimates and the net values behind it; the indices come
    // with the estimates, and any other feed carries them over unchanged.
    const auto current = Current();
    const int64_t now = Now();
    next->StampAccTime(*current, now);
    next->StampIdxTime(*current, now);
    std::string error;
    // The data is good whether or not it reached the disk; a failed write is only reported.
    if (!m_store.Save(feed, *next, m_runs, error))
        std::fprintf(stderr, "zeza-dataserver: cannot store the %s: %s\n", FeedLabel(feed), error.c_str());
    std::lock_guard lock(m_snapMutex);
    m_snapshot = std::move(next);
}

bool Relay::Fail(const std::string& source, const FetchResult& r, size_t rows, const std::string& message,
                 std::string* why) {
    m_store.Log(Now(), source, r.status, r.body.size(), rows, false, message);
    if (why) *why = source + ": " + message;
    return false;
}

bool Relay::Refuse(const std::string& source, const FetchResult& r, size_t rows, const std::string& message,
                   std::string* why) {
    m_fetcher.Refused(source);
    return Fail(source, r, rows, message, why);
}

void Relay::Prioritize(const std::string& code) {
    auto snap = Current();
    const RelayFund* f = snap->FindFund(code);
    if (!f || !f->ownEstimate || snap->own->holdings.count(code)) return;
    std::lock_guard lock(m_priorityMutex);
    if (std::find(m_priority.begin(), m_priority.end(), code) == m_priority.end()) m_priority.push_back(code);
    if (m_priority.size() > 100) m_priority.erase(m_priority.begin());  // a crawler cannot grow it
}

std::string Relay::WithCodes(const std::string& url, const char* param, const std::vector<std::string>& codes,
                             size_t from, size_t count) {
    std::string out = url + (url.find('?') == std::string::npos ? "?" : "&") + param + "=";
    for (size_t i = from; i < std::min(codes.size(), from + count); ++i) {
        if (i > from) out += ',';
        out += codes[i];
    }
    return out;
}

bool Relay::RefreshCatalogue(std::string* why) {
    std::lock_guard run(m_runMutex);
    FetchResult r = m_fetcher.Get(m_options.catalogueUrl, m_options.referer, kCatalogueSource);
    if (!r.ok) return Fail(kCatalogueSource, r, 0, r.error, why);
    std::vector<CatalogueRow> rows;
    std::string error;
    if (!ParseCatalogue(r.body, rows, error)) return Refuse(kCatalogueSource, r, 0, error, why);
    auto prev = Current();
    // A catalogue far shorter than the last one is a page cut short, not funds gone.
    if (rows.size() < prev->funds.size() / 2)
        return Refuse(
            kCatalogueSource, r, rows.size(),
            "only " + std::to_string(rows.size()) + " funds, had " + std::to_string(prev->funds.size()), why);
    const int64_t now = Now();
    const int64_t stamp = std::max(now, prev->listTime + 1);
    auto next = std::make_shared<Snapshot>(*prev);
    next->funds = FundsFromCatalogue(rows, *prev, stamp);
    next->Build();
    next->listTime = NextTime(next->ListContent() != prev->ListContent(), prev->listTime, stamp);
    m_runs.catalogue = now;
    m_store.Log(now, kCatalogueSource, r.status, r.body.size(), next->funds.size(), true, "");
    Publish(Feed::Catalogue, next);
    return true;
}

bool Relay::RefreshNetValues(std::string* why) {
    std::lock_guard run(m_runMutex);
    // The service caps rows per request: read every page, publish only the whole list.
    NavPage page;
    FetchResult r;
    size_t bytes = 0, items = 0;
    for (size_t n = 1;; ++n) {
        r = m_fetcher.Get(NavPageUrl(m_options.netValueUrl, n, m_options.netValuePageSize), m_options.referer,
                          kNetValueSource);
        const std::string which = "page " + std::to_string(n) + ": ";
        if (!r.ok) return Fail(kNetValueSource, r, 0, which + r.error, why);
        bytes += r.body.size();
        NavPage part;
        std::string error;
        if (!ParseNavPage(r.body, part, error)) return Refuse(kNetValueSource, r, 0, which + error, why);
        if (n == 1) {
            page.day = part.day;
            page.prevDay = part.prevDay;
            page.record = part.record;
            page.pages = std::max<size_t>(part.pages, 1);
        } else if (part.day != page.day || part.record != page.record) {
            // New values came out between two pages: the next run reads the list again.
            return Fail(kNetValueSource, r, 0, which + "the list changed while it was read", why);
        }
        if (part.curpage && part.curpage != n)
            return Refuse(kNetValueSource, r, 0,
                          which + "the service sent page " + std::to_string(part.curpage), why);
        items += part.rows.size();
        page.rows.insert(page.rows.end(), std::make_move_iterator(part.rows.begin()),
                         std::make_move_iterator(part.rows.end()));
        if (n >= page.pages) break;
        if (n >= kMaxNavPages) return Refuse(kNetValueSource, r, 0, "more than 200 pages", why);
    }
    r.body.resize(bytes);  // for the log: the size of all pages
    auto prev = Current();
    if (page.record && items < page.record)
        return Refuse(kNetValueSource, r, items,
                      "only " + std::to_string(items) + " of " + std::to_string(page.record) + " funds came",
                      why);
    if (page.rows.size() < prev->navs.size() / 2)
        return Refuse(
            kNetValueSource, r, page.rows.size(),
            "only " + std::to_string(page.rows.size()) + " funds, had " + std::to_string(prev->navs.size()),
            why);
    NetValueBuild build = NetValuesFromPage(page);
    // Late funds: their newest value from the fund information source, in batches.
    std::vector<FundInfo> info;
    std::vector<std::string> lateCodes;
    for (const NavPageRow& row : build.late) lateCodes.push_back(row.code);
    for (size_t i = 0; i < lateCodes.size(); i += kFundInfoBatch) {
        FetchResult fr = m_fetcher.Get(
            WithCodes(m_options.fundInfoUrl, "Fcodes", lateCodes, i, kFundInfoBatch), "", kFundInfoSource);
        if (fr.resting || fr.cancelled) break;
        std::vector<FundInfo> part;
        std::string perr;
        if (!fr.ok || !ParseFundInfo(fr.body, part, perr)) {
            // Without it the late funds still get the page's older value.
            if (fr.ok) m_fetcher.Refused(kFundInfoSource);
            m_store.Log(Now(), kFundInfoSource, fr.status, fr.body.size(), 0, false, fr.ok ? perr : fr.error);
            continue;
        }
        info.insert(info.end(), part.begin(), part.end());
    }
    AddLateFunds(build, info, *prev);

    const int64_t now = Now();
    auto next = std::make_shared<Snapshot>(*prev);
    next->quoteDate = build.quoteDate;
    next->navs = std::move(build.navs);
    next->Build();
    next->stkTime = NextTime(next->NavFeed() != prev->NavFeed(), prev->stkTime, now);
    // An estimate is for the day after its NAV: once that day's NAV is out, it is no forecast.
    const size_t before = next->estimates.size();
    std::erase_if(next->estimates, [&](const RelayEstimate& e) {
        const RelayNav* n = next->FindNav(e.code);
        return !e.day.empty() && n && e.day <= n->date;
    });
    if (next->estimates.size() != before) {
        next->Build();
        next->estTime = NextTime(true, prev->estTime, now);
    }
    // The day's NAV goes into the record of every fund the relay estimates or has estimated,
    // beside that day's last estimate.
    auto book = std::make_shared<OwnBook>(*prev->own);
    std::vector<std::pair<std::string, TrackDay>> rows;
    for (const RelayNav& n : next->navs) {
        auto t = book->tracks.find(n.code);
        if (t == book->tracks.end() && !book->holdings.count(n.code)) continue;
        std::shared_ptr<const Track> old = t == book->tracks.end() ? nullptr : t->second;
        if (old && std::any_of(old->begin(), old->end(),
                               [&](const TrackDay& d) { return d.day == n.date && d.nav == n.latest; }))
            continue;
        auto track = WithNav(old, n.date, n.latest);
        for (const TrackDay& d : *track)
            if (d.day == n.date) rows.emplace_back(n.code, d);
        book->tracks[n.code] = std::move(track);
    }
    // Each followed fund's history gains the day's NAV, so its fit stays current between
    // refreshes of its data script.
    std::vector<std::pair<std::string, std::shared_ptr<const NavHistory>>> grown;
    for (const RelayNav& n : next->navs) {
        auto h = book->history.find(n.code);
        if (h == book->history.end() || !h->second ||
            (!h->second->empty() && h->second->back().day >= n.date))
            continue;
        auto more = std::make_shared<NavHistory>(*h->second);
        more->push_back({n.date, n.latest, n.accumulated});
        if (more->size() > 130) more->erase(more->begin());
        h->second = more;
        grown.emplace_back(n.code, h->second);
    }
    // Only a fund whose history grew has a new day to fit; the others' fits stand.
    std::vector<std::string> refit;
    for (const auto& [code, h] : grown) refit.push_back(code);
    Refit(*book, *next, &refit);
    if (!grown.empty()) {
        std::string herr;
        if (!m_store.SaveHistories(grown, {}, herr))
            std::fprintf(stderr, "zeza-dataserver: cannot store the funds' history: %s\n", herr.c_str());
    }
    if (!rows.empty()) {
        std::string terr;
        if (!m_store.SaveTrack(rows, terr))
            std::fprintf(stderr, "zeza-dataserver: cannot store the estimate record: %s\n", terr.c_str());
    }
    next->own = std::move(book);
    m_runs.netValues = now;
    m_store.Log(now, kNetValueSource, r.status, bytes, next->navs.size(), true,
                std::to_string(page.pages) + " page(s)");
    Publish(Feed::NetValues, next);
    if (next->estimates.size() != before) Publish(Feed::Estimates, std::make_shared<Snapshot>(*next));
    return true;
}

bool Relay::RefreshEstimates(std::string* why) {
    std::lock_guard run(m_runMutex);
    auto prev = Current();
    const int64_t now = Now();
    const std::string today = Today(now);
    // A kept estimate lives only while its day is after its fund's NAV day.
    auto stillDue = [&](const RelayEstimate& e) {
        const RelayNav* n = prev->FindNav(e.code);
        return !e.day.empty() && (!n || e.day > n->date);
    };
    // The valuation source for the funds it can have one for; a fund it had none for last time
    // is asked again hourly, not every round.
    std::vector<std::string> codes;
    size_t wanted = 0;
    for (const RelayFund& f : prev->funds) {
        if (!WantsEstimate(f)) continue;
        ++wanted;
        auto q = m_valuationQuiet.find(f.code);
        if (q == m_valuationQuiet.end() || q->second + kQuietValuationSeconds <= now) codes.push_back(f.code);
    }
    const std::string valuationUrl = WithFields(m_options.estimateUrl);
    std::vector<RelayEstimate> estimates;
    // Fresh public estimates by fund: preferred over the relay's own.
    std::unordered_map<std::string, bool> publicCodes;
    std::vector<std::pair<std::string, TrackDay>> record;
    std::string stamp;
    size_t answered = 0;
    FetchResult last;
    std::string lastError;
    for (size_t i = 0; i < codes.size(); i += kEstimateBatch) {
        const size_t end = std::min(codes.size(), i + kEstimateBatch);
        FetchResult fr =
            m_fetcher.Get(WithCodes(valuationUrl, "FCODES", codes, i, kEstimateBatch), "", kValuationSource);
        std::vector<EstimateRow> rows;
        std::string perr;
        if (!fr.ok || !ParseEstimates(fr.body, rows, perr)) {
            if (fr.ok) m_fetcher.Refused(kValuationSource);
            lastError = fr.ok ? perr : fr.error;
            last = fr;
            // The batch's funds keep their last estimates while those are of a day still to come.
            for (size_t k = i; k < end; ++k)
                if (const RelayEstimate* e = prev->FindEstimate(codes[k]); e && !e->own && stillDue(*e)) {
                    estimates.push_back(*e);
                    publicCodes[e->code] = true;
                }
            if (fr.resting || fr.cancelled) break;
            continue;
        }
        ++answered;
        for (size_t k = i; k < end; ++k) m_valuationQuiet[codes[k]] = now;
        for (const EstimateRow& row : rows) {
            if (!row.value) continue;
            RelayEstimate e{row.code, *row.value, false,
                            IsIsoDate(row.time.substr(0, 10)) ? row.time.substr(0, 10) : today};
            // A valuation of a day whose NAV is out already is yesterday's, not today's.
            if (!stillDue(e)) continue;
            m_valuationQuiet.erase(row.code);
            estimates.push_back(e);
            publicCodes[row.code] = true;
            stamp = std::max(stamp, row.time);
            TrackDay d;
            d.day = e.day;
            d.estimate = e.value;
            d.publicEstimate = true;
            record.emplace_back(row.code, d);
        }
    }

    // The relay's own estimates for the funds the public valuation leaves out.
    // The broad indices come with every round: the market line and each fund's fit need them.
    const std::vector<std::string> fundKeys = QuoteKeys(*prev, today, publicCodes);
    std::vector<std::string> keys = fundKeys;
    keys.insert(keys.end(), std::begin(kBroadIndices), std::end(kBroadIndices));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    QuoteMap quotes;
    const bool quoted = FetchQuotes(keys, quotes);
    if (answered == 0 && !quoted) {
        if (wanted == 0 && fundKeys.empty()) {
            if (why) *why = "estimates: no fund to estimate yet";
            return false;
        }
        if (codes.empty() && fundKeys.empty()) {
            if (why) *why = "estimates: nothing to ask this round";
            return false;
        }
        // Nothing came: the feed stays as it was, but nothing outlives its day.
        lastError = lastError.empty() ? "no quotes" : lastError;
    }
    size_t own = 0;
    auto refused = std::make_shared<std::unordered_map<std::string, Verdict>>();
    std::unordered_map<std::string, bool> ownNow;
    std::vector<std::pair<std::string, FundEstimate>> round;
    if (quoted) {
        round = EstimateRound(*prev, quotes, today, publicCodes, refused.get());
        for (auto& [code, e] : round) {
            // Kept as the feed shows it, so the error on record is that of the figure people saw.
            const double shown = std::round(e.value * 10000) / 10000;
            e.value = shown;
            estimates.push_back({code, shown, true, e.day});
            ownNow[code] = true;
            TrackDay d;
            d.day = e.day;
            d.estimate = shown;
            // The list's move goes on record with its report: the fit learns the fund's split from it.
            if (auto h = prev->own->holdings.find(code); h != prev->own->holdings.end()) {
                d.listMove = e.listMove;
                d.listReport = h->second.reportDate;
            }
            record.emplace_back(code, d);
            ++own;
        }
        if (own) stamp = std::max(stamp, BeijingTime(now) + ":00");
    } else {
        *refused = *prev->refused;
    }
    // Estimates this round did not renew stay while their day is still to come: own ones of funds
    // without a new one (no quotes, a failed batch), public ones of funds not asked (asked hourly).
    std::unordered_map<std::string, bool> asked;
    for (const std::string& c : codes) asked[c] = true;
    for (const RelayEstimate& e : prev->estimates)
        if (stillDue(e) && !publicCodes.count(e.code) && !(e.own ? ownNow : asked).count(e.code))
            estimates.push_back(e);

    // Each run overwrites the day's estimate, so after the close the record holds the last one.
    auto book = std::make_shared<OwnBook>(*prev->own);
    std::vector<std::pair<std::string, TrackDay>> rows;
    rows.reserve(record.size());
    for (const auto& [code, d] : record) {
        auto& track = book->tracks[code];
        // A day whose estimate did not move since the last round needs no write.
        if (track && std::any_of(track->begin(), track->end(), [&d = d](const TrackDay& t) {
                return t.day == d.day && t.estimate == d.estimate && t.publicEstimate == d.publicEstimate &&
                       t.listMove == d.listMove && t.listReport == d.listReport;
            }))
            continue;
        track = WithEstimate(track, d.day, d.estimate, d.publicEstimate, d.listMove, d.listReport);
        for (const TrackDay& t : *track)
            if (t.day == d.day) rows.emplace_back(code, t);
    }
    std::string terr;
    if (!rows.empty() && !m_store.SaveTrack(rows, terr))
        std::fprintf(stderr, "zeza-dataserver: cannot store the estimate record: %s\n", terr.c_str());

    // The indices' levels of the day: the last round of the day leaves its close.
    QuoteMap indexQuotes = prev->indexQuotes;
    std::vector<std::pair<std::string, std::shared_ptr<const IndexHistory>>> indexRows;
    for (const char* key : kBroadIndices) {
        auto q = quotes.find(key);
        if (q == quotes.end()) continue;
        indexQuotes[key] = q->second;
        auto& hist = book->indices[key];
        auto h = hist ? std::make_shared<IndexHistory>(*hist) : std::make_shared<IndexHistory>();
        RecordClose(*h, q->second.date, q->second.price);
        hist = h;
        indexRows.emplace_back(key, hist);
    }
    if (!indexRows.empty() && !m_store.SaveHistories({}, indexRows, terr))
        std::fprintf(stderr, "zeza-dataserver: cannot store the index history: %s\n", terr.c_str());
    if (own) prev->intraday->Add(today, BeijingMinute(now), round, *book);

    std::sort(estimates.begin(), estimates.end(),
              [](const RelayEstimate& x, const RelayEstimate& y) { return x.code < y.code; });
    auto next = std::make_shared<Snapshot>(*prev);
    next->indexQuotes = std::move(indexQuotes);
    next->estimates = std::move(estimates);
    next->own = std::move(book);
    next->refused = std::move(refused);
    if (!stamp.empty()) next->estimateStamp = stamp;
    next->Build();
    next->estTime = NextTime(next->EstimateFeed() != prev->EstimateFeed(), prev->estTime, now);
    m_runs.estimates = now;
    const bool ok = answered > 0 || quoted;
    m_store.Log(now, "estimates", ok ? 200 : last.status, 0, next->estimates.size(), ok,
                lastError + (own ? " own " + std::to_string(own) : ""));
    Publish(Feed::Estimates, next);
    if (!ok) {
        if (why) *why = "estimates: " + lastError;
        return false;
    }
    return true;
}

bool Relay::FetchQuoteBatch(const std::string& source, const std::string& url, const std::string& referer,
                            size_t asked, bool sina, QuoteMap& quotes) {
    FetchResult r = m_fetcher.Get(url, referer, source);
    QuoteMap got;
    QuoteRead read;
    std::string error;
    bool ok = r.ok && (sina ? ParseSinaQuotes(r.body, got, read, error)
                            : ParseTencentQuotes(r.body, got, read, error));
    // An answer for fewer than half of the codes is a cut or empty answer, not the market.
    if (ok && read.answered * 2 < asked) {
        ok = false;
        error = "answered " + std::to_string(read.answered) + " of " + std::to_string(asked) + " codes";
    }
    if (r.ok && !ok) m_fetcher.Refused(source);
    m_store.Log(Now(), source, r.status, r.body.size(), ok ? read.quotes : 0, ok,
                ok ? "" : (r.ok ? error : r.error));
    if (ok)
        for (auto& [k, q] : got) quotes[k] = std::move(q);
    return ok;
}

bool Relay::FetchQuotes(const std::vector<std::string>& keys, QuoteMap& quotes) {
    size_t good = 0;
    const size_t batch = std::max<size_t>(m_options.quoteBatch, 1);
    for (size_t i = 0; i < keys.size(); i += batch) {
        std::vector<std::string> part(keys.begin() + i, keys.begin() + std::min(keys.size(), i + batch));
        if (FetchQuoteBatch(kQuoteSource, QuoteUrls(m_options.quoteUrl, part, batch).front(), "", part.size(),
                            false, quotes)) {
            ++good;
            continue;
        }
        // The fallback knows the mainland markets only.
        std::vector<std::string> mainland;
        for (const std::string& k : part)
            if (k.rfind("hk", 0) != 0) mainland.push_back(k);
        if (!mainland.empty() &&
            FetchQuoteBatch(kQuoteFallbackSource,
                            QuoteUrls(m_options.quoteFallbackUrl, mainland, batch).front(),
                            m_options.quoteFallbackReferer, mainland.size(), true, quotes))
            ++good;
    }
    return good > 0;
}

bool Relay::RefreshHoldings(size_t maxFunds, std::string* why) {
    std::lock_guard pass(m_holdingsMutex);
    auto prev = Current();
    const int64_t now = Now();
    const std::string today = Today(now);
    // In trading hours only funds without holdings are asked (a fresh install, a new fund), so
    // they get an estimate the same day; the rest waits for the evening.
    const bool trading = InTradingHours(now);
    std::vector<std::string> priority;
    {
        std::lock_guard lock(m_priorityMutex);
        priority = m_priority;
    }
    // Share classes of one fund hold the same shares: one group, asked once, lead first by code.
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> groups;
    for (const RelayFund& f : prev->funds)
        if (f.ownEstimate) groups[{ClassStem(f.name), f.typeCode}].push_back(f.code);
    struct Due {
        int rank;  // 0 looked at, 1 missing, 2 old
        int64_t at;
        const std::vector<std::string>* codes;
    };
    std::vector<Due> due;
    for (const auto& [stem, codes] : groups) {
        const FundHoldings* have = nullptr;
        int64_t at = 0;
        bool looked = false;
        for (const std::string& c : codes) {
            auto h = prev->own->holdings.find(c);
            if (h != prev->own->holdings.end() && (!have || h->second.fetchedAt > have->fetchedAt))
                have = &h->second;
            if (auto t = m_holdingsTried.find(c); t != m_holdingsTried.end()) at = std::max(at, t->second);
            looked = looked || std::find(priority.begin(), priority.end(), c) != priority.end();
        }
        if (have) at = std::max(at, have->fetchedAt);
        if (have && trading) continue;
        if (at + HoldingsMaxAge(have, today) > now && !(looked && !have)) continue;
        due.push_back({looked && !have ? 0 : have ? 2 : 1, at, &codes});
    }
    std::sort(due.begin(), due.end(), [](const Due& x, const Due& y) {
        return std::tie(x.rank, x.at, *x.codes) < std::tie(y.rank, y.at, *y.codes);
    });
    const size_t missing = std::count_if(due.begin(), due.end(), [](const Due& d) { return d.rank < 2; });
    if (due.size() > maxFunds) due.resize(maxFunds);
    m_holdingsBacklog = missing > due.size() ? missing - due.size() : 0;
    if (due.empty()) return true;

    std::vector<std::pair<std::string, FundHoldings>> fetched;
    std::vector<std::pair<std::string, std::shared_ptr<const NavHistory>>> histories;
    std::string lastError;
    bool stopped = false;
    for (const Due& d : due) {
        const std::string& code = d.codes->front();
        std::vector<std::string> one{code};
        FetchResult r =
            m_fetcher.Get(WithCodes(m_options.holdingsUrl, "FCODE", one, 0, 1), "", kHoldingsSource);
        // A resting source ends the pass; the funds it never asked stay as they were.
        if (r.resting || r.cancelled) {
            lastError = r.error;
            stopped = true;
            break;
        }
        // A failure that rests the source says nothing of the fund: it is asked again after the rest.
        if (!r.ok && m_fetcher.Resting(kHoldingsSource)) {
            lastError = code + ": " + r.error;
            m_store.Log(Now(), kHoldingsSource, r.status, r.body.size(), 0, false, lastError);
            stopped = true;
            break;
        }
        for (const std::string& c : *d.codes) m_holdingsTried[c] = now;
        FundHoldings h;
        std::string error;
        if (!r.ok || !ParseHoldings(r.body, h, error)) {
            lastError = code + ": " + (r.ok ? error : r.error);
            std::string jsError;
            // An answer that is no JSON at all is a bad answer; a fund without a report is not.
            if (r.ok && !ParseJs(r.body, jsError)) m_fetcher.Refused(kHoldingsSource);
            m_store.Log(Now(), kHoldingsSource, r.status, r.body.size(), 0, false, lastError);
            continue;
        }
        FetchResult p = m_fetcher.Get(m_options.positionUrl + code + ".js", m_options.referer, kScriptSource);
        // The same script carries the fund's published days: the share classes move alike.
        NavHistory days;
        std::string historyError;
        if (p.ok && ParseNavHistory(p.body, days, historyError)) {
            auto shared = std::make_shared<const NavHistory>(std::move(days));
            for (const std::string& c : *d.codes) histories.emplace_back(c, shared);
        }
        if (!p.ok || !ParseEquityPosition(p.body, h, error)) {
            // The last position known may still fit the report; UseCurrentPosition decides.
            if (auto old = prev->own->holdings.find(code); old != prev->own->holdings.end()) {
                h.equityPct = old->second.equityPct;
                h.equityDate = old->second.equityDate;
            }
            if (p.ok) m_fetcher.Refused(kScriptSource);
            m_store.Log(Now(), kScriptSource, p.status, p.body.size(), 0, false,
                        code + ": " + (p.ok ? error : p.error));
        }
        UseCurrentPosition(h);
        h.fetchedAt = now;
        for (const std::string& c : *d.codes) fetched.emplace_back(c, h);
    }
    m_store.Log(Now(), kHoldingsSource, 200, 0, fetched.size(), !fetched.empty(), lastError);
    if (!fetched.empty()) {
        std::string error;
        if (!m_store.SaveHoldings(fetched, error) || !m_store.SaveHistories(histories, {}, error))
            std::fprintf(stderr, "zeza-dataserver: cannot store the holdings: %s\n", error.c_str());
        std::lock_guard run(m_runMutex);
        auto cur = Current();
        auto book = std::make_shared<OwnBook>(*cur->own);
        for (auto& [code, h] : fetched) book->holdings[code] = std::move(h);
        for (auto& [code, h] : histories) book->history[code] = h;
        std::vector<std::string> refit;
        for (auto& [code, h] : histories) refit.push_back(code);
        Refit(*book, *cur, &refit);
        auto next = std::make_shared<Snapshot>(*cur);
        next->own = std::move(book);
        std::lock_guard lock(m_snapMutex);
        m_snapshot = std::move(next);
    }
    {
        // A fund looked at is asked once ahead of the others, whatever came of it.
        std::lock_guard lock(m_priorityMutex);
        std::erase_if(m_priority, [&](const std::string& c) {
            auto t = m_holdingsTried.find(c);
            return t != m_holdingsTried.end() && t->second == now;
        });
    }
    if (stopped) m_holdingsBacklog = 0;  // rest first
    if (fetched.empty() || stopped) {
        if (why) *why = "holdings: " + lastError;
        return !stopped && !fetched.empty();
    }
    return true;
}

bool Relay::RefreshIndexHistory(std::string* why) {
    std::lock_guard run(m_runMutex);
    auto prev = Current();
    const int64_t now = Now();
    const std::string today = Today(now);
    std::vector<std::pair<std::string, std::shared_ptr<const IndexHistory>>> seeded;
    std::string lastError;
    for (const char* key : kBroadIndices) {
        auto known = prev->own->indices.find(key);
        if (known != prev->own->indices.end() && known->second && !known->second->empty() &&
            DaysBetween(known->second->back().day, today) <= 10)
            continue;
        FetchResult r = m_fetcher.Get(m_options.klineUrl + key + ",day,,,320,qfq", "", kIndexHistorySource);
        if (r.resting || r.cancelled) {
            lastError = r.error;
            break;
        }
        IndexHistory bars;
        std::string error;
        if (!r.ok || !ParseDailyBars(r.body, key, bars, error)) {
            if (r.ok) m_fetcher.Refused(kIndexHistorySource);
            lastError = std::string(key) + ": " + (r.ok ? error : r.error);
            m_store.Log(Now(), kIndexHistorySource, r.status, r.body.size(), 0, false, lastError);
            continue;
        }
        // What the relay recorded itself since is kept: the bars end where they were fetched.
        if (known != prev->own->indices.end() && known->second)
            for (const IndexClose& c : *known->second) RecordClose(bars, c.day, c.close);
        m_store.Log(Now(), kIndexHistorySource, r.status, r.body.size(), bars.size(), true, key);
        seeded.emplace_back(key, std::make_shared<const IndexHistory>(std::move(bars)));
    }
    if (!seeded.empty()) {
        std::string error;
        if (!m_store.SaveHistories({}, seeded, error))
            std::fprintf(stderr, "zeza-dataserver: cannot store the index history: %s\n", error.c_str());
        auto book = std::make_shared<OwnBook>(*prev->own);
        for (auto& [key, h] : seeded) book->indices[key] = h;
        auto next = std::make_shared<Snapshot>(*prev);
        next->own = std::move(book);
        std::lock_guard lock(m_snapMutex);
        m_snapshot = std::move(next);
    }
    if (!lastError.empty()) {
        if (why) *why = kIndexHistorySource + ": " + lastError;
        return false;
    }
    return true;
}

void Relay::RunDue(bool atStart) {
    const int64_t now = Now();
    auto snap = Current();
    auto report = [](bool ok, const std::string& why) {
        if (!ok) std::fprintf(stderr, "zeza-dataserver: %s\n", why.c_str());
    };
    std::string why;
    // The record and the fetch log are trimmed once a Beijing day, not at every save.
    report(m_store.PruneTrack(DaysBefore(now, kTrackKeepDays), why), why);
    if (IsDue(Feed::Catalogue, m_runs.catalogue, now) || snap->funds.empty())
        report(RefreshCatalogue(&why), why);
    if (atStart || IsDue(Feed::NetValues, m_runs.netValues, now)) report(RefreshNetValues(&why), why);
    if (IsDue(Feed::Estimates, m_runs.estimates, now) || (atStart && Current()->estimates.empty()))
        report(RefreshEstimates(&why), why);
    // An index without history (a fresh relay) or with a gap (a relay that was off) is seeded
    // from the daily bars; looked at once a day.
    if (const std::string today = Today(now); m_indexHistoryDay != today) {
        m_indexHistoryDay = today;
        report(RefreshIndexHistory(&why), why);
    }
}

void Relay::StartSchedule() {
    if (m_thread.joinable()) return;
    m_thread = std::thread([this] { ScheduleLoop(); });
}

void Relay::ScheduleLoop() {
    bool first = true;
    std::unique_lock lock(m_wakeMutex);
    while (!m_stopping) {
        lock.unlock();
        RunDue(first);
        first = false;
        // Holdings a slice per pass, so the estimates never wait long on them. While funds have
        // none (a fresh install) the slices follow each other; otherwise the pass rests.
        std::string why;
        if (!RefreshHoldings(m_options.holdingsPerPass, &why))
            std::fprintf(stderr, "zeza-dataserver: %s\n", why.c_str());
        // Funds asked for by navhist.php, a few a pass, through the same polite fetcher.
        if (!RefreshAskedHistories(m_options.askedHistoriesPerPass, &why))
            std::fprintf(stderr, "zeza-dataserver: %s\n", why.c_str());
        const bool more = HoldingsBacklog() > 0;
        lock.lock();
        if (!more)
            m_wake.wait_for(lock, std::chrono::seconds(m_options.checkSeconds),
                            [this] { return m_stopping; });
    }
}

void Relay::Stop() {
    {
        std::lock_guard lock(m_wakeMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_fetcher.Cancel();
    if (m_thread.joinable()) m_thread.join();
}

std::vector<ProbeLine> Relay::Probe() {
    std::vector<ProbeLine> out;
    auto probe = [&](const std::string& source, const std::string& url, const std::string& referer,
                     auto&& parse) {
        ProbeLine line;
        line.source = source;
        line.url = url;
        FetchResult r = m_fetcher.Get(url, referer, source);
        line.ok = r.ok;
        line.status = r.status;
        line.bytes = r.body.size();
        line.error = r.error;
        if (r.ok) {
            std::string error;
            line.ok = parse(r.body, line, error);
            if (!line.ok) line.error = error;
        }
        out.push_back(line);
    };
    std::vector<std::string> catalogueCodes, navCodes, ownCodes;
    probe(kCatalogueSource, m_options.catalogueUrl, m_options.referer,
          [&](const std::string& body, ProbeLine& l, std::string& e) {
              std::vector<CatalogueRow> rows;
              if (!ParseCatalogue(body, rows, e)) return false;
              l.rows = rows.size();
              const auto& f = rows.front();
              l.firstRow = f.code + " " + f.name + " " + f.typeText;
              for (const auto& row : rows) {
                  auto kind = KindFor(row.typeText);
                  if (!kind) continue;
                  RelayFund fund{row.code, FeedName(row.name), kind->typeCode,
                                 0,        kind->late,         kind->ownEstimate};
                  if (WantsEstimate(fund) && catalogueCodes.size() < kEstimateBatch)
                      catalogueCodes.push_back(row.code);
                  if (fund.ownEstimate && ownCodes.size() < 5) ownCodes.push_back(row.code);
              }
              return true;
          });
    probe(kNetValueSource, NavPageUrl(m_options.netValueUrl, 1, m_options.netValuePageSize),
          m_options.referer, [&](const std::string& body, ProbeLine& l, std::string& e) {
              NavPage page;
              if (!ParseNavPage(body, page, e)) return false;
              l.rows = page.rows.size();
              const auto& r = page.rows.front();
              l.firstRow = page.day + "/" + page.prevDay + " page " + std::to_string(page.curpage) + " of " +
                           std::to_string(page.pages) + " (" + std::to_string(page.record) + " funds) " +
                           r.code + " latest " + r.latest + " accumulated " + r.accumulated + " previous " +
                           r.prevLatest;
              for (size_t i = 0; i < page.rows.size() && navCodes.size() < 3; ++i)
                  navCodes.push_back(page.rows[i].code);
              return true;
          });
    if (navCodes.empty()) navCodes = {"000001", "110022"};
    probe(kFundInfoSource, WithCodes(m_options.fundInfoUrl, "Fcodes", navCodes, 0, navCodes.size()), "",
          [&](const std::string& body, ProbeLine& l, std::string& e) {
              std::vector<FundInfo> rows;
              if (!ParseFundInfo(body, rows, e)) return false;
              l.rows = rows.size();
              if (!rows.empty())
                  l.firstRow = rows[0].code + " " + rows[0].date + " NAV " + rows[0].nav + " ACCNAV " +
                               rows[0].accumulated;
              return true;
          });
    if (catalogueCodes.empty()) catalogueCodes = {"161725", "510300"};
    probe(kValuationSource,
          WithCodes(WithFields(m_options.estimateUrl), "FCODES", catalogueCodes, 0, catalogueCodes.size()),
          "", [&](const std::string& body, ProbeLine& l, std::string& e) {
              std::vector<EstimateRow> rows;
              if (!ParseEstimates(body, rows, e)) return false;
              l.rows = rows.size();
              if (!rows.empty())
                  l.firstRow = rows[0].code + " " + (rows[0].value ? Value4(*rows[0].value) : "null") + " " +
                               rows[0].time;
              return true;
          });
    // One active fund with holdings: its top ten, its data script, the quotes of its shares.
    const std::string fund = ownCodes.empty() ? "000001" : ownCodes.front();
    FundHoldings held;
    probe(kHoldingsSource, WithCodes(m_options.holdingsUrl, "FCODE", {fund}, 0, 1), "",
          [&](const std::string& body, ProbeLine& l, std::string& e) {
              if (!ParseHoldings(body, held, e)) return false;
              l.rows = held.stocks.size();
              l.firstRow = fund + " report " + held.reportDate;
              if (!held.stocks.empty())
                  l.firstRow += " " + held.stocks[0].key + " " + held.stocks[0].name + " " +
                                std::to_string(held.stocks[0].weight) + "%";
              return true;
          });
    probe(kScriptSource, m_options.positionUrl + fund + ".js", m_options.referer,
          [&](const std::string& body, ProbeLine& l, std::string& e) {
              if (!ParseEquityPosition(body, held, e)) return false;
              NavHistory days;
              std::string historyError;
              l.rows = ParseNavHistory(body, days, historyError) ? days.size() : 0;
              char pct[32];
              std::snprintf(pct, sizeof pct, "%.2f", held.equityPct);
              l.firstRow =
                  fund + " equity " + pct + "% on " + held.equityDate + ", report's stock share " +
                  (held.reportStockPct < 0 ? std::string("unknown") : std::to_string(held.reportStockPct));
              return true;
          });
    std::vector<std::string> keys;
    for (const HeldStock& st : held.stocks)
        if (!st.key.empty()) keys.push_back(st.key);
    if (keys.empty()) keys = {"sh600519", "sz000001", "hk00700"};
    auto quoteProbe = [&](bool sina) {
        return [&, sina](const std::string& body, ProbeLine& l, std::string& e) {
            QuoteMap q;
            QuoteRead read;
            if (!(sina ? ParseSinaQuotes(body, q, read, e) : ParseTencentQuotes(body, q, read, e)))
                return false;
            l.rows = read.quotes;
            if (!q.empty()) {
                const auto& [key, quote] = *q.begin();
                l.firstRow = key + " " + std::to_string(quote.price) + " (previous close " +
                             std::to_string(quote.prevClose) + ") on " + quote.date;
            }
            return true;
        };
    };
    probe(kQuoteSource, QuoteUrls(m_options.quoteUrl, keys, keys.size()).front(), "", quoteProbe(false));
    std::vector<std::string> mainland;
    for (const std::string& k : keys)
        if (k.rfind("hk", 0) != 0) mainland.push_back(k);
    if (mainland.empty()) mainland = {"sh600519"};
    probe(kQuoteFallbackSource, QuoteUrls(m_options.quoteFallbackUrl, mainland, mainland.size()).front(),
          m_options.quoteFallbackReferer, quoteProbe(true));
    // The broad indices, as every round asks for them, and one index's daily bars.
    std::vector<std::string> indices(std::begin(kBroadIndices), std::end(kBroadIndices));
    probe("index quotes", QuoteUrls(m_options.quoteUrl, indices, indices.size()).front(), "",
          quoteProbe(false));
    probe(kIndexHistorySource, m_options.klineUrl + "sh000300,day,,,320,qfq", "",
          [&](const std::string& body, ProbeLine& l, std::string& e) {
              IndexHistory bars;
              if (!ParseDailyBars(body, "sh000300", bars, e)) return false;
              l.rows = bars.size();
              l.firstRow = "sh000300 " + bars.front().day + " .. " + bars.back().day + " close " +
                           Value4(bars.back().close);
              return true;
          });
    for (ProbeLine& l : out) l.firstRow = Shorten(l.firstRow);
    return out;
}

}  // namespace zeza::relay
