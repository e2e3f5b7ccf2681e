#pragma once
// Runs blocking work (a talk with the mail server) on a thread of its own while the calling
// thread keeps processing its events, so its windows stay painted.

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <optional>
#include <thread>
#include <type_traits>

namespace chimora {

/// Calls `work` on a new thread and returns its result. Meanwhile the caller's event loop runs
/// (timers, painting, input: the caller must keep its windows from starting a second call).
/// Without an application object it simply waits.
template <typename Work> auto runOffThread(Work work) -> std::invoke_result_t<Work> {
    std::optional<std::invoke_result_t<Work>> result;
    if (!QCoreApplication::instance()) {
        std::thread([&] { result.emplace(work()); }).join();
        return std::move(*result);
    }
    QEventLoop loop;
    std::thread worker([&] {
        result.emplace(work());
        // Queued: reaches the loop even when the work ends before the loop has started.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    return std::move(*result);
}

} // namespace chimora
