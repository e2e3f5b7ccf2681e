#pragma once
// A request to stop work that runs on another thread (a talk with the mail server, a keyring
// call). The user-interface thread cancels; the worker polls isCancelled() or has a hook run
// at the moment of cancelling, to interrupt a call that blocks.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace chimora {

class Cancellation {
public:
    /// Any thread. Runs the hooks registered now (on the cancelling thread); later ones run at
    /// once when registered.
    void cancel() {
        // Under the lock, so no hook runs after its guard has gone (and with it what it uses).
        const std::lock_guard lock(m_mutex);
        if (m_cancelled.exchange(true))
            return;
        for (auto& [id, hook] : m_hooks)
            hook();
    }

    /// Any thread.
    bool isCancelled() const { return m_cancelled.load(); }

    /// While the returned object lives, `hook` is called when cancel() is (at once, when it
    /// has been already). The hook must be quick, safe on any thread, and not use this object.
    [[nodiscard]] std::shared_ptr<void> onCancel(std::function<void()> hook) const {
        std::unique_lock lock(m_mutex);
        if (m_cancelled.load()) {
            lock.unlock();
            hook();
            return {};
        }
        const int id = ++m_lastId;
        m_hooks.emplace(id, std::move(hook));
        return std::shared_ptr<void>(nullptr, [this, id](void*) {
            const std::lock_guard guard(m_mutex);
            m_hooks.erase(id);
        });
    }

private:
    std::atomic<bool> m_cancelled{false};
    // Watching is no change of state: a worker given a const Cancellation may register hooks.
    mutable std::mutex m_mutex;
    mutable std::map<int, std::function<void()>> m_hooks;
    mutable int m_lastId = 0;
};

using CancellationPtr = std::shared_ptr<Cancellation>;

} // namespace chimora
