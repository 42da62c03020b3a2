#include "app/UiBridge.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace zeza {

std::shared_ptr<UiBridge> UiBridge::Create() {
    return std::shared_ptr<UiBridge>(new UiBridge());
}

bool UiBridge::Call(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        if (IsShutDown()) return false;
        fn();
        return true;
    }
    auto job = std::make_shared<Job>();
    job->fn = std::move(fn);
    std::unique_lock lock(m_mutex);
    if (m_bShutdown || !app) return false;
    // Queued while holding the lock, so that Shutdown() (which takes it)
    // cannot overlap a post to an application that is going away.
    QMetaObject::invokeMethod(
        app, [self = shared_from_this(), job] { self->Run(job); }, Qt::QueuedConnection);
    m_cv.wait(lock, [&] { return job->done || m_bShutdown; });
    return job->done;
}

void UiBridge::Post(std::function<void()> fn) {
    auto job = std::make_shared<Job>();
    job->fn = std::move(fn);
    std::lock_guard lock(m_mutex);
    QCoreApplication* app = QCoreApplication::instance();
    if (m_bShutdown || !app) return;
    QMetaObject::invokeMethod(
        app, [self = shared_from_this(), job] { self->Run(job); }, Qt::QueuedConnection);
}

void UiBridge::Run(const std::shared_ptr<Job>& job) {
    // Runs on the UI thread, as does Shutdown(): a step either runs wholly
    // before the window starts to go away or not at all.
    if (IsShutDown()) return;
    job->fn();
    {
        std::lock_guard lock(m_mutex);
        job->done = true;
    }
    m_cv.notify_all();
}

void UiBridge::Shutdown() {
    {
        std::lock_guard lock(m_mutex);
        m_bShutdown = true;
    }
    m_cv.notify_all();
}

bool UiBridge::IsShutDown() const {
    std::lock_guard lock(m_mutex);
    return m_bShutdown;
}

}  // namespace zeza
