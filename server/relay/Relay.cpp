#include "server/relay/Relay.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "platform/GbkCodec.h"
#include "server/relay/Sources.h"

namespace zeza::relay {
namespace {

constexpr size_t kFundInfoBatch = 200;
constexpr size_t kEstimateBatch = 50;

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
    m_runs.netValues = now;
    m_store.Log(now, "net values", r.status, r.body.size(), next->navs.size(), true, "");
    Publish(Feed::NetValues, next);
    return true;
}

bool Relay::RefreshEstimates(std::string* why) {
    std::lock_guard run(m_runMutex);
    auto prev = Current();
    std::vector<std::string> codes;
    for (const RelayFund& f : prev->funds)
        if (WantsEstimate(f)) codes.push_back(f.code);
    if (codes.empty()) {
        if (why) *why = "estimates: no catalogue yet";
        return false;
    }
    std::vector<RelayEstimate> estimates;
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
                if (const RelayEstimate* e = prev->FindEstimate(codes[k])) estimates.push_back(*e);
            continue;
        }
        ++answered;
        for (const EstimateRow& row : rows) {
            if (!row.value) continue;
            estimates.push_back({row.code, *row.value});
            stamp = std::max(stamp, row.time);
        }
    }
    if (answered == 0) return Fail("estimates", last, 0, lastError, why);
    const int64_t now = Now();
    auto next = std::make_shared<Snapshot>(*prev);
    next->estimates = std::move(estimates);
    if (!stamp.empty()) next->estimateStamp = stamp;
    next->Build();
    next->estTime = NextTime(next->EstimateFeed() != prev->EstimateFeed(), prev->estTime, now);
    m_runs.estimates = now;
    m_store.Log(now, "estimates", 200, 0, next->estimates.size(), true, lastError);
    Publish(Feed::Estimates, next);
    return true;
}

void Relay::RunDue(bool atStart) {
    const int64_t now = Now();
    auto snap = Current();
    auto report = [](bool ok, const std::string& why) {
        if (!ok) std::fprintf(stderr, "zeza-dataserver: %s\n", why.c_str());
    };
    std::string why;
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
