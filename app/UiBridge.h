#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace zeza {

// Hands work from the refresh and ping threads to the UI thread. A background
// thread never touches a window itself: it asks the bridge to run a step on
// the UI thread and waits until the step has run. Once the window starts to
// close, the bridge is shut down: no further step runs, and every thread
// waiting on one is released at once, so closing never waits on them.
class UiBridge : public std::enable_shared_from_this<UiBridge> {
  public:
    static std::shared_ptr<UiBridge> Create();

    // Runs fn on the UI thread and returns true once it has run; false when
    // the bridge was shut down first (fn then never runs). On the UI thread
    // itself fn runs directly.
    bool Call(std::function<void()> fn);

    // Queues fn for the UI thread without waiting; dropped after shutdown.
    void Post(std::function<void()> fn);

    // Called on the UI thread when the window goes away.
    void Shutdown();
    bool IsShutDown() const;

  private:
    UiBridge() = default;
    struct Job {
        std::function<void()> fn;
        bool done = false;
    };
    void Run(const std::shared_ptr<Job>& job);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bShutdown = false;
};

}  // namespace zeza
