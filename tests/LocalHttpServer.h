#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>

namespace zeza::test {

// A cpp-httplib server on a free port of 127.0.0.1 that listens on a thread of
// its own. Answers come from its own table (Serve, Route: exact paths, any time,
// also while it runs) or from routes and options set on Http() before Start();
// a path in neither gets 404. Every request is recorded. An owner whose handlers
// use its other members calls Stop() in its own destructor, so no handler runs
// while those members go away.
class LocalHttpServer {
  public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // A request as it arrived.
    struct Seen {
        std::string method;
        std::string path;    // without the query
        std::string target;  // path and query as sent
        httplib::Headers headers;
        std::string Header(const std::string& name) const {
            auto it = headers.find(name);
            return it == headers.end() ? std::string() : it->second;
        }
    };

    LocalHttpServer() {
        m_server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            Handler h;
            {
                std::lock_guard lock(m_mutex);
                m_seen.push_back({req.method, req.path, req.target, req.headers});
                auto it = m_routes.find(req.path);
                if (it != m_routes.end()) h = it->second;
            }
            if (!h) return httplib::Server::HandlerResponse::Unhandled;
            h(req, res);
            return httplib::Server::HandlerResponse::Handled;
        });
    }
    ~LocalHttpServer() { Stop(); }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    httplib::Server& Http() { return m_server; }

    // path answers body with status.
    void Serve(const std::string& path, std::string body, std::string contentType = "text/plain",
               int status = 200) {
        Route(path, [body = std::move(body), contentType = std::move(contentType), status](
                        const httplib::Request&, httplib::Response& res) {
            res.status = status;
            res.set_content(body, contentType);
        });
    }
    // path is answered by handler (which runs on the server's thread); an empty one removes it.
    void Route(const std::string& path, Handler handler) {
        std::lock_guard lock(m_mutex);
        if (handler)
            m_routes[path] = std::move(handler);
        else
            m_routes.erase(path);
    }

    // Every request so far, oldest first.
    std::vector<Seen> Requests() const {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }
    // The path and query of every request so far.
    std::vector<std::string> Targets() const {
        std::vector<std::string> out;
        for (const Seen& s : Requests()) out.push_back(s.target);
        return out;
    }
    // Whether path was asked for.
    bool Asked(const std::string& path) const {
        const auto seen = Requests();
        return std::any_of(seen.begin(), seen.end(), [&](const Seen& s) { return s.path == path; });
    }
    void ForgetRequests() {
        std::lock_guard lock(m_mutex);
        m_seen.clear();
    }

    // Returns once the server takes requests.
    void Start() {
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    void Stop() {
        if (!m_thread.joinable()) return;
        m_server.stop();
        m_thread.join();
    }

    int Port() const { return m_port; }
    // "http://127.0.0.1:<port>/"
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }

  private:
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::map<std::string, Handler> m_routes;
    std::vector<Seen> m_seen;
};

}  // namespace zeza::test
