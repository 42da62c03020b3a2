#include "server/DataServer.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <sys/socket.h>

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
    m_server = std::make_unique<httplib::Server>();
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
    if (m_server) m_server->stop();
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
    m_data.MoveEstimates(m_rng, static_cast<int64_t>(std::time(nullptr)));
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

void DataServer::ServeFeedbackPost(const httplib::Request& req, httplib::Response& res) {
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
    if (!AppendFeedback(text, contact)) {
        res.status = 500;
        res.set_content(SitePages::FeedbackFailed(), kHtml);
        return;
    }
    res.set_content(SitePages::FeedbackThanks(), kHtml);
}

bool DataServer::AppendFeedback(const std::string& text, const std::string& contact) {
    std::string entry = "----- " + NowStamp() + " -----\n";
    if (!contact.empty()) entry += "联系方式: " + contact + "\n";
    entry += text + "\n\n";
    std::lock_guard lock(m_feedbackMutex);
    std::ofstream out(m_options.dataDir / "feedback.txt", std::ios::binary | std::ios::app);
    out << entry;
    out.flush();
    return out.good();
}

}  // namespace zeza::server
