#pragma once

#include <chrono>
#include <string>
#include <thread>

#include <httplib.h>

namespace zeza::test {

// A cpp-httplib server on a free port of 127.0.0.1 that listens on a thread of
// its own. Set the routes (and options) on Http(), then Start(). An owner whose
// handlers use its other members calls Stop() in its own destructor, so no
// handler runs while those members go away.
class LocalHttpServer {
  public:
    LocalHttpServer() = default;
    ~LocalHttpServer() { Stop(); }
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    httplib::Server& Http() { return m_server; }

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
};

}  // namespace zeza::test
