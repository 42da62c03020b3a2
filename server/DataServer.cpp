#include "server/DataServer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <set>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>

#include "platform/LocalTime.h"
#include "server/DataFolderIni.h"
#include "server/SitePages.h"
#include "server/relay/Relay.h"
#include "server/relay/RelayPages.h"

namespace zeza::server {
namespace {

constexpr const char* kGbkText = "text/plain; charset=GBK";
constexpr const char* kHtml = "text/html; charset=utf-8";

using Clock = std::chrono::steady_clock;

// Serving: enough workers that a handful of slow or idle connections leave room for the others,
// and a deadline per request so that none holds a worker for long, however slowly it trickles in.
constexpr size_t kWorkers = 48;
constexpr auto kRequestDeadline = std::chrono::seconds(10);  // request line, headers and body
constexpr int kWriteWaitMs = 10000;                          // per write: a slow reader of a big feed
constexpr int kKeepAliveIdleMs = 2000;
constexpr int kKeepAliveRequests = 5;

// Feedback: one message's size, messages per client address in a window.
constexpr size_t kFeedbackMaxBytes = 16 * 1024;
constexpr size_t kFeedbackPerWindow = 5;
constexpr auto kFeedbackWindow = std::chrono::minutes(10);

// Waits up to ms for the socket to become readable (POLLIN) or writable (POLLOUT).
bool WaitSocket(int sock, short events, long long ms) {
    if (ms <= 0) return false;
    pollfd p{sock, events, 0};
    int rc;
    do {
        rc = poll(&p, 1, static_cast<int>(std::min<long long>(ms, 60000)));
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

std::string AddressOf(const sockaddr_storage& addr, socklen_t len, int& port) {
    char host[NI_MAXHOST] = {0}, serv[NI_MAXSERV] = {0};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), len, host, sizeof(host), serv, sizeof(serv),
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "";
    port = std::atoi(serv);
    return host;
}

// A connection whose reads end at the request's deadline rather than after an idle spell.
class DeadlineStream : public httplib::Stream {
  public:
    explicit DeadlineStream(int sock) : m_sock(sock) {}
    void SetDeadline(Clock::time_point deadline) { m_deadline = deadline; }

    bool is_readable() const override { return m_pos < m_end || WaitSocket(m_sock, POLLIN, LeftMs()); }
    bool is_writable() const override { return WaitSocket(m_sock, POLLOUT, kWriteWaitMs); }
    ssize_t read(char* ptr, size_t size) override {
        // The request's lines are read a byte at a time: serve them from a buffer, not a call each.
        if (m_pos == m_end) {
            if (!is_readable()) return -1;
            ssize_t n;
            do {
                n = recv(m_sock, m_buffer, sizeof(m_buffer), 0);
            } while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            m_pos = 0;
            m_end = static_cast<size_t>(n);
        }
        const size_t n = std::min(size, m_end - m_pos);
        std::copy(m_buffer + m_pos, m_buffer + m_pos + n, ptr);
        m_pos += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        ssize_t n;
        do {
            n = send(m_sock, ptr, size, MSG_NOSIGNAL);
        } while (n < 0 && errno == EINTR);
        return n;
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof(addr);
        if (getpeername(m_sock, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            ip = AddressOf(addr, len, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage addr{};
        socklen_t len = sizeof(addr);
        if (getsockname(m_sock, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
            ip = AddressOf(addr, len, port);
    }
    socket_t socket() const override { return m_sock; }

  private:
    long long LeftMs() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now()).count();
    }
    int m_sock;
    Clock::time_point m_deadline = Clock::now() + kRequestDeadline;
    char m_buffer[4096];
    size_t m_pos = 0, m_end = 0;
};

}  // namespace

// cpp-httplib's server with its connections read against a deadline per request, and closed
// all at once on stop so that no open connection keeps a worker (and the stop) waiting.
class GuardedServer : public httplib::Server {
  public:
    GuardedServer() {
        new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    }
    // Ends every open connection and every one accepted from now on.
    void CloseAll() {
        std::lock_guard lock(m_mutex);
        m_closing = true;
        for (int sock : m_open) shutdown(sock, SHUT_RDWR);
    }

  private:
    bool process_and_close_socket(socket_t sock) override {
        {
            std::lock_guard lock(m_mutex);
            if (!m_closing) m_open.insert(sock);
        }
        DeadlineStream stream(sock);
        bool closed = false;
        for (int n = 0; n < kKeepAliveRequests && !closed; ++n) {
            stream.SetDeadline(Clock::now() +
                               (n == 0 ? kRequestDeadline : std::chrono::milliseconds(kKeepAliveIdleMs)));
            if (n > 0 && !stream.is_readable()) break;
            stream.SetDeadline(Clock::now() + kRequestDeadline);
            {
                std::lock_guard lock(m_mutex);
                if (m_closing) break;
            }
            if (!process_request(stream, n + 1 == kKeepAliveRequests, closed, [](httplib::Request&) {}))
                break;
        }
        {
            std::lock_guard lock(m_mutex);
            m_open.erase(sock);
        }
        shutdown(sock, SHUT_RDWR);
        close(sock);
        return true;
    }

    std::mutex m_mutex;
    std::set<int> m_open;
    bool m_closing = false;
};

namespace {

// A Host header fit to be copied into the control file: host name or address and
// port, nothing that could end the line or the URL.
bool IsPlainHost(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    for (char c : host) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-' || c == ':' || c == '[' || c == ']';
        if (!ok) return false;
    }
    return true;
}

std::string NowStamp() {
    const std::tm tm = LocalTimeOf(std::time(nullptr));
    char buf[40];
    std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S %z", &tm);
    return buf;
}

// Feedback as one block of LF-ended lines, whatever line ends the browser sent.
std::string NormaliseLines(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ' || out.back() == '\t')) out.pop_back();
    size_t start = out.find_first_not_of(" \t\n");
    return start == std::string::npos ? std::string() : out.substr(start);
}

}  // namespace

std::filesystem::path SampleDataDir() {
    return ZEZA_SAMPLE_DATA_DIR;
}

DataServer::DataServer(Options options) : m_options(std::move(options)), m_rng(m_options.seed) {}

DataServer::~DataServer() {
    Stop();
}

bool DataServer::Start(std::string& error) {
    {
        std::lock_guard lock(m_dataMutex);
        if (!m_options.relay && !m_data.Load(m_options.dataDir, error)) return false;
    }
    m_server = std::make_unique<GuardedServer>();
    m_server->set_payload_max_length(64 * 1024);
    // SO_REUSEADDR only: a restart may take the port at once, but a second server on a
    // taken port must fail instead of silently sharing it (the library's default, SO_REUSEPORT).
    m_server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    Route();
    if (m_options.port == 0) {
        m_port = m_server->bind_to_any_port(m_options.host);
    } else {
        m_port = m_server->bind_to_port(m_options.host, m_options.port) ? m_options.port : -1;
    }
    if (m_port <= 0) {
        error = "cannot listen on " + m_options.host + ":" + std::to_string(m_options.port);
        m_server.reset();
        return false;
    }
    m_listenThread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() only takes effect once the accept loop runs, so Start returns after that.
    for (int i = 0; i < 5000 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    if (m_options.liveIntervalSeconds > 0 && !m_options.relay)
        m_liveThread = std::thread([this] { LiveLoop(); });
    return true;
}

void DataServer::Stop() {
    {
        std::lock_guard lock(m_liveMutex);
        m_stopping = true;
    }
    m_liveWake.notify_all();
    if (m_liveThread.joinable()) m_liveThread.join();
    if (m_server) {
        m_server->CloseAll();
        m_server->stop();
    }
    if (m_listenThread.joinable()) m_listenThread.join();
}

std::string DataServer::Url() const {
    std::string host = m_options.host;
    if (host == "0.0.0.0") host = "127.0.0.1";
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(m_port) + "/";
}

void DataServer::Tick() {
    std::lock_guard lock(m_dataMutex);
    const auto now = static_cast<int64_t>(std::time(nullptr));
    m_data.MoveEstimates(m_rng, now);
    m_data.MoveIndices(m_rng, now);
}

std::vector<std::string> DataServer::Warnings() const {
    std::lock_guard lock(m_dataMutex);
    return m_data.Warnings();
}

void DataServer::LiveLoop() {
    std::unique_lock lock(m_liveMutex);
    const auto interval = std::chrono::seconds(m_options.liveIntervalSeconds);
    while (!m_liveWake.wait_for(lock, interval, [this] { return m_stopping; })) {
        lock.unlock();
        Tick();
        lock.lock();
    }
}

void DataServer::Route() {
    httplib::Server& s = *m_server;

    // Every answer is current data: no client or proxy may keep a copy.
    s.set_post_routing_handler(
        [](const httplib::Request&, httplib::Response& res) { res.set_header("Cache-Control", "no-store"); });
    s.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        if (res.status == 404)
            res.set_content(SitePages::NotFound("没有这个页面：" + req.path), kHtml);
        else
            res.set_content(std::to_string(res.status) + "\n", "text/plain");
    });

    s.Get(R"(/fund/fund\.php)", [this](const auto& req, auto& res) { ServeControl(req, res); });
    s.Get(R"(/fund/gdata\.php)", [this](const auto& req, auto& res) { ServeFeed(req, res); });
    s.Get(R"(/fund/thanks\.php)", [this](const auto&, auto& res) {
        ++m_thanks;
        res.set_content("ok\r\n", "text/plain");
    });
    s.Get(R"(/fund/fuCap\.php)", [this](const auto&, auto& res) {
        if (m_options.relay) return res.set_content(relay::BannerPage(*m_options.relay->Current()), kHtml);
        std::lock_guard lock(m_dataMutex);
        res.set_content(SitePages::Banner(m_data), kHtml);
    });
    s.Get(R"(/fund/feedback\.php)",
          [](const auto&, auto& res) { res.set_content(SitePages::FeedbackForm(""), kHtml); });
    s.Post(R"(/fund/feedback\.php)", [this](const auto& req, auto& res) { ServeFeedbackPost(req, res); });
    s.Get(R"(/fund/fuskip\.php)", [this](const auto& req, auto& res) { ServeFund(req, res); });
    s.Get(R"(/fund/navhist\.php)", [this](const auto& req, auto& res) { ServeNavHistory(req, res); });
    s.Get(R"(/update/([^/]+))", [this](const auto& req, auto& res) { ServeUpdateFile(req, res); });
    s.Get("/", [this](const auto&, auto& res) {
        if (m_options.relay) return res.set_content(relay::HomePage(*m_options.relay->Current()), kHtml);
        std::lock_guard lock(m_dataMutex);
        res.set_content(SitePages::Home(m_data), kHtml);
    });
}

std::string DataServer::BaseUrlFor(const httplib::Request& req) const {
    std::string host = req.get_header_value("Host");
    if (!IsPlainHost(host)) {
        std::string addr = req.local_addr.empty() ? m_options.host : req.local_addr;
        if (addr.find(':') != std::string::npos) addr = "[" + addr + "]";
        host = addr + ":" + std::to_string(m_port);
    }
    return "http://" + host + "/";
}

void DataServer::ServeControl(const httplib::Request& req, httplib::Response& res) {
    if (m_options.relay) return res.set_content(m_options.relay->Current()->ControlFile(), kGbkText);
    std::string base = BaseUrlFor(req);
    std::lock_guard lock(m_dataMutex);
    res.set_content(m_data.ControlFile(base), kGbkText);
}

void DataServer::ServeFeed(const httplib::Request& req, httplib::Response& res) {
    const std::string tp = req.get_param_value("tp");
    // The program sends the time of the data it has; anything unreadable asks for everything.
    const int64_t dt = ParseInteger(req.get_param_value("dt")).value_or(0);
    if (m_options.relay) {
        // The snapshot holds the feeds as text already: a request only copies them.
        auto snap = m_options.relay->Current();
        if (tp == "list") return res.set_content(snap->ListFeed(dt), kGbkText);
        if (tp == "stk") return res.set_content(snap->NavFeed(), kGbkText);
        if (tp == "est") return res.set_content(snap->EstimateFeed(), kGbkText);
        if (tp == "acc") return res.set_content(snap->AccFeed(), kGbkText);
        if (tp == "idx") return res.set_content(snap->IdxFeed(), kGbkText);
        res.status = 404;
        return res.set_content("unknown feed\r\n", "text/plain");
    }
    std::lock_guard lock(m_dataMutex);
    if (tp == "list") {
        res.set_content(m_data.ListFeed(dt), kGbkText);
    } else if (tp == "stk") {
        // Net values replace the client's whole table, so they always go out complete.
        res.set_content(m_data.NavFeed(), kGbkText);
    } else if (tp == "est") {
        res.set_content(m_data.EstimateFeed(), kGbkText);
    } else if (tp == "acc") {
        res.set_content(m_data.AccuracyFeed(), kGbkText);
    } else if (tp == "idx" && !m_data.Indices().empty()) {
        res.set_content(m_data.IndexFeed(), kGbkText);
    } else {
        res.status = 404;
        res.set_content("unknown feed\r\n", "text/plain");
    }
}

void DataServer::ServeUpdateFile(const httplib::Request& req, httplib::Response& res) {
    std::lock_guard lock(m_dataMutex);
    const auto& offer = m_data.Update();
    // Only the announced file: the folder is not browsable.
    if (!offer || req.matches[1] != offer->fileName) {
        res.status = 404;
        return;
    }
    res.set_content(offer->bytes, "application/octet-stream");
}

void DataServer::ServeFund(const httplib::Request& req, httplib::Response& res) {
    const std::string code = req.get_param_value("code");
    if (m_options.relay) {
        m_options.relay->Prioritize(code);  // no holdings yet: asked for first
        std::string page = relay::FundPage(*m_options.relay->Current(), code);
        if (!page.empty()) return res.set_content(page, kHtml);
        res.status = 404;
        return res.set_content(SitePages::NotFound("没有这只基金。"), kHtml);
    }
    std::lock_guard lock(m_dataMutex);
    const FundRecord* fund = m_data.FindFund(code);
    if (!fund) {
        res.status = 404;
        res.set_content(SitePages::NotFound("没有这只基金。"), kHtml);
        return;
    }
    res.set_content(SitePages::Fund(m_data, *fund), kHtml);
}

void DataServer::ServeNavHistory(const httplib::Request& req, httplib::Response& res) {
    const std::string code = req.get_param_value("code");
    const std::string from = req.get_param_value("from");
    // The program sends sound ones only: anything else is a mistake worth saying, not "no days".
    if (!IsFundCode(code) || !IsCalendarDate(from)) {
        res.status = 400;
        return res.set_content("code must be six digits and from a date yyyy-mm-dd\r\n", "text/plain");
    }
    if (m_options.relay) return res.set_content(m_options.relay->NavHistoryFeed(code, from), kGbkText);
    std::lock_guard lock(m_dataMutex);
    res.set_content(m_data.NavHistoryFeed(code, from), kGbkText);
}

void DataServer::ServeFeedbackPost(const httplib::Request& req, httplib::Response& res) {
    if (req.body.size() > kFeedbackMaxBytes) {
        res.status = 413;
        res.set_content(SitePages::FeedbackForm("您的意见太长了，请删减到 16 KB 以内再提交。"), kHtml);
        return;
    }
    std::string text = req.get_param_value("text");
    if (!req.has_param("text") && req.get_header_value("Content-Type").rfind("text/plain", 0) == 0)
        text = req.body;
    text = NormaliseLines(text);
    std::string contact = NormaliseLines(req.get_param_value("contact"));
    for (char& c : contact)
        if (c == '\n') c = ' ';
    if (text.empty()) {
        res.status = 400;
        res.set_content(SitePages::FeedbackForm("请填写您的意见后再提交。"), kHtml);
        return;
    }
    if (!TakeFeedbackTurn(req.remote_addr)) {
        res.status = 429;
        res.set_content(SitePages::FeedbackForm("您提交得太频繁了，请过十分钟再提交。"), kHtml);
        return;
    }
    const int saved = AppendFeedback(text, contact);
    if (saved == 0) {
        res.status = 507;
        res.set_content(SitePages::FeedbackForm("意见箱已满，暂时不能接收新的意见，请以后再试。"), kHtml);
        return;
    }
    if (saved < 0) {
        res.status = 500;
        res.set_content(SitePages::FeedbackFailed(), kHtml);
        return;
    }
    res.set_content(SitePages::FeedbackThanks(), kHtml);
}

bool DataServer::TakeFeedbackTurn(const std::string& address) {
    const auto now = Clock::now();
    std::lock_guard lock(m_feedbackMutex);
    // Forget the addresses whose window has passed, so the table stays as small as the traffic.
    for (auto it = m_feedbackTimes.begin(); it != m_feedbackTimes.end();) {
        auto& times = it->second;
        while (!times.empty() && now - times.front() >= kFeedbackWindow) times.pop_front();
        it = times.empty() ? m_feedbackTimes.erase(it) : std::next(it);
    }
    auto& times = m_feedbackTimes[address];
    if (times.size() >= kFeedbackPerWindow) return false;
    times.push_back(now);
    return true;
}

int DataServer::AppendFeedback(const std::string& text, const std::string& contact) {
    std::string entry = "----- " + NowStamp() + " -----\n";
    if (!contact.empty()) entry += "联系方式: " + contact + "\n";
    entry += text + "\n\n";
    const auto path = m_options.dataDir / "feedback.txt";
    std::lock_guard lock(m_feedbackMutex);
    std::error_code ec;
    const auto size = std::filesystem::exists(path, ec) ? std::filesystem::file_size(path, ec) : 0;
    if (ec) return -1;
    if (size + entry.size() > m_options.feedbackFileLimit) return 0;
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << entry;
    out.flush();
    return out.good() ? 1 : -1;
}

}  // namespace zeza::server
