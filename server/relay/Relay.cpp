#include "server/relay/Relay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/GbkCodec.h"
#include "server/relay/Sources.h"

namespace zeza::relay {
namespace {

constexpr size_t kFundInfoBatch = 200;
constexpr size_t kEstimateBatch = 50;
constexpr int64_t kHoldingsMaxAge = 7 * 86400;  // top tens change quarterly; a week keeps up
constexpr int kTrackKeepDays = 120;             // days of the estimate record kept in relay.db

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
    std::lock_guard lock(m_snapMutex);
    m_snapshot = std::move(snap);
    return true;
}

std::shared_ptr<const Snapshot> Relay::Current() const {
    std::lock_guard lock(m_snapMutex);
    return m_snapshot;
}

void Relay::Publish(Feed feed, std::shared_ptr<Snapshot> next) {
    next->Build();
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
    FetchResult r = m_fetcher.Get(m_options.catalogueUrl, m_options.referer);
    if (!r.ok) return Fail("catalogue", r, 0, r.error, why);
    std::vector<CatalogueRow> rows;
    std::string error;
    if (!ParseCatalogue(r.body, rows, error)) return Fail("catalogue", r, 0, error, why);
    auto prev = Current();
    // A catalogue far shorter than the last one is a page cut short, not funds gone.
    if (rows.size() < prev->funds.size() / 2)
        return Fail(
            "catalogue", r, rows.size(),
            "only " + std::to_string(rows.size()) + " funds, had " + std::to_string(prev->funds.size()), why);
    const int64_t now = Now();
    const int64_t stamp = std::max(now, prev->listTime + 1);
    auto next = std::make_shared<Snapshot>(*prev);
    next->funds = FundsFromCatalogue(rows, *prev, stamp);
    next->Build();
    next->listTime = NextTime(next->ListContent() != prev->ListContent(), prev->listTime, stamp);
    m_runs.catalogue = now;
    m_store.Log(now, "catalogue", r.status, r.body.size(), next->funds.size(), true, "");
    Publish(Feed::Catalogue, next);
    return true;
}

bool Relay::RefreshNetValues(std::string* why) {
    std::lock_guard run(m_runMutex);
    FetchResult r = m_fetcher.Get(m_options.netValueUrl, m_options.referer);
    if (!r.ok) return Fail("net values", r, 0, r.error, why);
    NavPage page;
    std::string error;
    if (!ParseNavPage(r.body, page, error)) return Fail("net values", r, 0, error, why);
    auto prev = Current();
    if (page.rows.size() < prev->navs.size() / 2)
        return Fail(
            "net values", r, page.rows.size(),
            "only " + std::to_string(page.rows.size()) + " funds, had " + std::to_string(prev->navs.size()),
            why);
    NetValueBuild build = NetValuesFromPage(page);
    // Late funds: their newest value from the fund information source, in batches.
    std::vector<FundInfo> info;
    std::vector<std::string> lateCodes;
    for (const NavPageRow& row : build.late) lateCodes.push_back(row.code);
    for (size_t i = 0; i < lateCodes.size(); i += kFundInfoBatch) {
        FetchResult fr =
            m_fetcher.Get(WithCodes(m_options.fundInfoUrl, "Fcodes", lateCodes, i, kFundInfoBatch));
        std::vector<FundInfo> part;
        std::string perr;
        if (!fr.ok || !ParseFundInfo(fr.body, part, perr)) {
            // Without it the late funds still get the page's older value.
            m_store.Log(Now(), "fund information", fr.status, fr.body.size(), 0, false,
                        fr.ok ? perr : fr.error);
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
    if (!rows.empty()) {
        std::string terr;
        if (!m_store.SaveTrack(rows, terr))
            std::fprintf(stderr, "zeza-dataserver: cannot store the estimate record: %s\n", terr.c_str());
    }
    next->own = std::move(book);
    m_runs.netValues = now;
    m_store.Log(now, "net values", r.status, r.body.size(), next->navs.size(), true, "");
    Publish(Feed::NetValues, next);
    return true;
}

bool Relay::RefreshEstimates(std::string* why) {
    std::lock_guard run(m_runMutex);
    auto prev = Current();
    const int64_t now = Now();
    const std::string today = Today(now);
    std::vector<std::string> codes;
    for (const RelayFund& f : prev->funds)
        if (WantsEstimate(f)) codes.push_back(f.code);
    std::vector<RelayEstimate> estimates;
    // Fresh public estimates by fund, with the day they are for: preferred over the relay's own.
    std::unordered_map<std::string, bool> publicCodes;
    std::vector<std::pair<std::string, TrackDay>> record;
    std::string stamp;
    size_t answered = 0;
    FetchResult last;
    std::string lastError;
    for (size_t i = 0; i < codes.size(); i += kEstimateBatch) {
        FetchResult fr = m_fetcher.Get(WithCodes(m_options.estimateUrl, "FCODES", codes, i, kEstimateBatch));
        std::vector<EstimateRow> rows;
        std::string perr;
        if (!fr.ok || !ParseEstimates(fr.body, rows, perr)) {
            lastError = fr.ok ? perr : fr.error;
            last = fr;
            // The batch's funds keep their last estimates rather than lose them.
            for (size_t k = i; k < std::min(codes.size(), i + kEstimateBatch); ++k)
                if (const RelayEstimate* e = prev->FindEstimate(codes[k]); e && !e->own) {
                    estimates.push_back(*e);
                    publicCodes[e->code] = true;
                }
            continue;
        }
        ++answered;
        for (const EstimateRow& row : rows) {
            if (!row.value) continue;
            estimates.push_back({row.code, *row.value});
            publicCodes[row.code] = true;
            stamp = std::max(stamp, row.time);
            TrackDay d;
            d.day = IsIsoDate(row.time.substr(0, 10)) ? row.time.substr(0, 10) : today;
            d.estimate = *row.value;
            d.publicEstimate = true;
            record.emplace_back(row.code, d);
        }
    }

    // The relay's own estimates for the funds the public valuation leaves out.
    const std::vector<std::string> keys = QuoteKeys(*prev, today, publicCodes);
    QuoteMap quotes;
    const bool quoted = !keys.empty() && FetchQuotes(keys, quotes);
    if (answered == 0 && !quoted) {
        if (codes.empty() && keys.empty()) {
            if (why) *why = "estimates: no catalogue yet";
            return false;
        }
        return Fail("estimates", last, 0, lastError.empty() ? "no quotes" : lastError, why);
    }
    size_t own = 0;
    if (quoted) {
        for (auto& [code, e] : EstimateRound(*prev, quotes, today, publicCodes)) {
            // Kept as the feed shows it, so the error on record is that of the figure people saw.
            const double shown = std::round(e.value * 10000) / 10000;
            estimates.push_back({code, shown, true});
            TrackDay d;
            d.day = e.day;
            d.estimate = shown;
            record.emplace_back(code, d);
            ++own;
        }
        if (own) stamp = std::max(stamp, BeijingTime(now) + ":00");
    } else {
        // No quotes this time: the funds keep their last own estimates.
        for (const RelayEstimate& e : prev->estimates)
            if (e.own && !publicCodes.count(e.code)) estimates.push_back(e);
    }

    // Each run overwrites the day's estimate, so after the close the record holds the last one.
    auto book = std::make_shared<OwnBook>(*prev->own);
    std::vector<std::pair<std::string, TrackDay>> rows;
    rows.reserve(record.size());
    for (auto& [code, d] : record) {
        auto& track = book->tracks[code];
        track = WithEstimate(track, d.day, d.estimate, d.publicEstimate);
        for (const TrackDay& t : *track)
            if (t.day == d.day) rows.emplace_back(code, t);
    }
    std::string terr;
    if (!rows.empty() && !m_store.SaveTrack(rows, terr))
        std::fprintf(stderr, "zeza-dataserver: cannot store the estimate record: %s\n", terr.c_str());

    auto next = std::make_shared<Snapshot>(*prev);
    next->estimates = std::move(estimates);
    next->own = std::move(book);
    if (!stamp.empty()) next->estimateStamp = stamp;
    next->Build();
    next->estTime = NextTime(next->EstimateFeed() != prev->EstimateFeed(), prev->estTime, now);
    m_runs.estimates = now;
    m_store.Log(now, "estimates", 200, 0, next->estimates.size(), true,
                lastError + (own ? " own " + std::to_string(own) : ""));
    Publish(Feed::Estimates, next);
    return true;
}

bool Relay::FetchQuotes(const std::vector<std::string>& keys, QuoteMap& quotes) {
    size_t good = 0;
    for (size_t i = 0; i < keys.size(); i += kQuoteBatch) {
        std::vector<std::string> batch(keys.begin() + i,
                                       keys.begin() + std::min(keys.size(), i + kQuoteBatch));
        FetchResult r = m_fetcher.Get(QuoteUrls(m_options.quoteUrl, batch).front());
        size_t read = 0;
        std::string error;
        if (r.ok && ParseTencentQuotes(r.body, quotes, read, error)) {
            ++good;
            m_store.Log(Now(), "quotes", r.status, r.body.size(), read, true, "");
            continue;
        }
        m_store.Log(Now(), "quotes", r.status, r.body.size(), 0, false, r.ok ? error : r.error);
        // The fallback knows the mainland markets only.
        std::vector<std::string> mainland;
        for (const std::string& k : batch)
            if (k.rfind("hk", 0) != 0) mainland.push_back(k);
        if (mainland.empty()) continue;
        FetchResult f = m_fetcher.Get(QuoteUrls(m_options.quoteFallbackUrl, mainland).front(),
                                      m_options.quoteFallbackReferer);
        bool ok = f.ok && ParseSinaQuotes(f.body, quotes, read, error);
        m_store.Log(Now(), "quotes (fallback)", f.status, f.body.size(), ok ? read : 0, ok,
                    ok ? "" : (f.ok ? error : f.error));
        if (ok) ++good;
    }
    return good > 0;
}

bool Relay::RefreshHoldings(size_t maxFunds, std::string* why) {
    std::lock_guard pass(m_holdingsMutex);
    auto prev = Current();
    const int64_t now = Now();
    std::vector<std::pair<int64_t, std::string>> due;
    for (const RelayFund& f : prev->funds) {
        if (f.qdii || f.typeCode == "zhai") continue;
        auto h = prev->own->holdings.find(f.code);
        int64_t at = h == prev->own->holdings.end() ? 0 : h->second.fetchedAt;
        if (auto t = m_holdingsTried.find(f.code); t != m_holdingsTried.end()) at = std::max(at, t->second);
        if (at + kHoldingsMaxAge <= now) due.emplace_back(at, f.code);
    }
    if (due.empty()) return true;
    std::sort(due.begin(), due.end());
    if (due.size() > maxFunds) due.resize(maxFunds);

    std::vector<std::pair<std::string, FundHoldings>> fetched;
    std::string lastError;
    for (const auto& [at, code] : due) {
        m_holdingsTried[code] = now;
        std::vector<std::string> one{code};
        FetchResult r = m_fetcher.Get(WithCodes(m_options.holdingsUrl, "FCODE", one, 0, 1));
        FundHoldings h;
        std::string error;
        if (!r.ok || !ParseHoldings(r.body, h, error)) {
            lastError = code + ": " + (r.ok ? error : r.error);
            m_store.Log(Now(), "holdings", r.status, r.body.size(), 0, false, lastError);
            continue;
        }
        FetchResult p = m_fetcher.Get(m_options.positionUrl + code + ".js", m_options.referer);
        if (!p.ok || !ParseEquityPosition(p.body, h, error)) {
            // The position moves little from one report to the next: the last one known will do.
            if (auto old = prev->own->holdings.find(code); old != prev->own->holdings.end()) {
                h.equityPct = old->second.equityPct;
                h.equityDate = old->second.equityDate;
            }
            m_store.Log(Now(), "equity position", p.status, p.body.size(), 0, false,
                        code + ": " + (p.ok ? error : p.error));
        }
        h.fetchedAt = now;
        fetched.emplace_back(code, std::move(h));
    }
    m_store.Log(Now(), "holdings", 200, 0, fetched.size(), !fetched.empty(), lastError);
    if (fetched.empty()) {
        if (why) *why = "holdings: " + lastError;
        return false;
    }
    std::string error;
    if (!m_store.SaveHoldings(fetched, error))
        std::fprintf(stderr, "zeza-dataserver: cannot store the holdings: %s\n", error.c_str());
    std::lock_guard run(m_runMutex);
    auto cur = Current();
    auto book = std::make_shared<OwnBook>(*cur->own);
    for (auto& [code, h] : fetched) book->holdings[code] = std::move(h);
    auto next = std::make_shared<Snapshot>(*cur);
    next->own = std::move(book);
    std::lock_guard lock(m_snapMutex);
    m_snapshot = std::move(next);
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
        // Holdings outside trading hours, a slice per pass, so the estimates never wait on them.
        if (!InTradingHours(Now())) {
            std::string why;
            if (!RefreshHoldings(m_options.holdingsPerPass, &why))
                std::fprintf(stderr, "zeza-dataserver: %s\n", why.c_str());
        }
        lock.lock();
        m_wake.wait_for(lock, std::chrono::seconds(m_options.checkSeconds), [this] { return m_stopping; });
    }
}

void Relay::Stop() {
    {
        std::lock_guard lock(m_wakeMutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

std::vector<ProbeLine> Relay::Probe() {
    std::vector<ProbeLine> out;
    auto probe = [&](const std::string& source, const std::string& url, const std::string& referer,
                     auto&& parse) {
        ProbeLine line;
        line.source = source;
        line.url = url;
        FetchResult r = m_fetcher.Get(url, referer);
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
    std::vector<std::string> catalogueCodes, navCodes;
    probe("catalogue", m_options.catalogueUrl, m_options.referer,
          [&](const std::string& body, ProbeLine& l, std::string& e) {
              std::vector<CatalogueRow> rows;
              if (!ParseCatalogue(body, rows, e)) return false;
              l.rows = rows.size();
              const auto& f = rows.front();
              l.firstRow = f.code + " " + f.name + " " + f.typeText;
              for (const auto& row : rows) {
                  RelayFund fund{row.code, FeedName(row.name), TypeCodeFor(row.typeText).value_or(""), 0};
                  if (WantsEstimate(fund) && catalogueCodes.size() < kEstimateBatch)
                      catalogueCodes.push_back(row.code);
              }
              return true;
          });
    probe("net values", m_options.netValueUrl, m_options.referer,
          [&](const std::string& body, ProbeLine& l, std::string& e) {
              NavPage page;
              if (!ParseNavPage(body, page, e)) return false;
              l.rows = page.rows.size();
              const auto& r = page.rows.front();
              l.firstRow = page.day + "/" + page.prevDay + " " + r.code + " latest " + r.latest +
                           " accumulated " + r.accumulated + " previous " + r.prevLatest;
              for (size_t i = 0; i < page.rows.size() && navCodes.size() < 3; ++i)
                  navCodes.push_back(page.rows[i].code);
              return true;
          });
    if (navCodes.empty()) navCodes = {"000001", "110022"};
    probe("fund information", WithCodes(m_options.fundInfoUrl, "Fcodes", navCodes, 0, navCodes.size()), "",
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
    probe("estimates", WithCodes(m_options.estimateUrl, "FCODES", catalogueCodes, 0, catalogueCodes.size()),
          "", [&](const std::string& body, ProbeLine& l, std::string& e) {
              std::vector<EstimateRow> rows;
              if (!ParseEstimates(body, rows, e)) return false;
              l.rows = rows.size();
              if (!rows.empty())
                  l.firstRow = rows[0].code + " " + (rows[0].value ? Value4(*rows[0].value) : "null") + " " +
                               rows[0].time;
              return true;
          });
    for (ProbeLine& l : out) l.firstRow = Shorten(l.firstRow);
    return out;
}

}  // namespace zeza::relay
