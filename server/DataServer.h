#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server/FundData.h"

namespace zeza::relay {
class Relay;
}

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace zeza::server {

class GuardedServer;

// The folder of sample data in the source tree, the server's default data folder.
std::filesystem::path SampleDataDir();

// The reference data server: answers the program's control, feed and thanks
// requests and serves the site's pages, from one data folder held in memory.
class DataServer {
  public:
    struct Options {
        std::filesystem::path dataDir;
        std::string host = "127.0.0.1";
        int port = 8419;              // 0: any free port
        int liveIntervalSeconds = 0;  // > 0: move the estimates this often
        unsigned seed = std::random_device{}();
        // Set: serve the relay's snapshots of public data instead of the data folder's files
        // (the folder then only takes the feedback).
        std::shared_ptr<relay::Relay> relay;
        // feedback.txt takes no message that would make it larger than this.
        size_t feedbackFileLimit = 5u << 20;
    };

    explicit DataServer(Options options);
    ~DataServer();
    DataServer(const DataServer&) = delete;
    DataServer& operator=(const DataServer&) = delete;

    // Loads the data folder, binds and starts serving on a thread of its own.
    // False, with the reason in error, when the data cannot be read or the address is taken.
    bool Start(std::string& error);
    // Stops serving and waits for the threads; safe to call twice.
    void Stop();

    int Port() const { return m_port; }
    // "http://host:port/".
    std::string Url() const;
    // One step of live mode: new estimates and index levels, each with a new time.
    void Tick();
    int ThanksCount() const { return m_thanks.load(); }
    // Lines of the data folder that were skipped while loading.
    std::vector<std::string> Warnings() const;

  private:
    void Route();
    void ServeControl(const httplib::Request& req, httplib::Response& res);
    void ServeFeed(const httplib::Request& req, httplib::Response& res);
    void ServeUpdateFile(const httplib::Request& req, httplib::Response& res);
    void ServeFeedbackPost(const httplib::Request& req, httplib::Response& res);
    void ServeFund(const httplib::Request& req, httplib::Response& res);
    void ServeNavHistory(const httplib::Request& req, httplib::Response& res);
    std::string BaseUrlFor(const httplib::Request& req) const;
    // Appends one message to feedback.txt. 1 written; 0 the file is full; -1 not written.
    int AppendFeedback(const std::string& text, const std::string& contact);
    // Whether the client at address may post another message now; counts it when it may.
    bool TakeFeedbackTurn(const std::string& address);
    void LiveLoop();

    Options m_options;
    std::unique_ptr<GuardedServer> m_server;
    std::thread m_listenThread;
    int m_port = 0;

    mutable std::mutex m_dataMutex;  // guards m_data and m_rng: handlers run on a thread pool
    FundData m_data;
    std::mt19937 m_rng;

    std::mutex m_feedbackMutex;  // guards feedback.txt and m_feedbackTimes
    std::map<std::string, std::deque<std::chrono::steady_clock::time_point>> m_feedbackTimes;  // per address
    std::atomic<int> m_thanks{0};

    std::thread m_liveThread;
    std::mutex m_liveMutex;
    std::condition_variable m_liveWake;
    bool m_stopping = false;
};

}  // namespace zeza::server
