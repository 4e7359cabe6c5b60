#include "stop_signal.h"

#include <pthread.h>

namespace nightjar::native {

StopSignal::StopSignal()
{
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    sigaddset(&signals_, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    thread_ = std::thread([this] { Wait(); });
}

StopSignal::~StopSignal()
{
    closing_.store(true);
    pthread_kill(thread_.native_handle(), SIGTERM);
    thread_.join();
}

StopSignal::Hook StopSignal::OnStop(std::function<void()> callback)
{
    Set(std::move(callback));
    return Hook(*this);
}

void StopSignal::Set(std::function<void()> callback)
{
    const std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
    if (requested_.load() && callback_) callback_();
}

void StopSignal::Wait()
{
    int signal = 0;
    while (sigwait(&signals_, &signal) != 0) {
    }
    if (closing_.load()) return;
    const std::lock_guard lock(mutex_);
    requested_.store(true);
    if (callback_) callback_();
}

}  // namespace nightjar::native
