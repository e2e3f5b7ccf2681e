#pragma once
// One connection to the PulseAudio server: a threaded mainloop (the audio thread) and a context
// on it. Playback and recording streams are made on the context; their callbacks run on the
// audio thread with the mainloop lock held. Anything else that touches the context or a stream
// takes the lock through PulseConnection::Lock.

#include "platform/core/Result.h"
#include "platform/pulse/PulsePtr.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace chimora {

class PulseConnection {
public:
    /// Holds the mainloop lock for its lifetime. On the audio thread itself (inside a callback)
    /// the lock is already held and the guard does nothing, so shared code can use it anywhere.
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_mainloop;
        bool m_locked;
    };

    /// Connects to the server named by PULSE_SERVER (or the usual per-user server), never
    /// starting one: with no server listening this fails within milliseconds. Reads the server's
    /// default sink and source. `timeoutMs` bounds the wait for a server that accepts but does
    /// not answer; *timedOut (when given) tells that case apart. Errors are Environment errors
    /// with libpulse's text as detail. Call off the audio thread (normally the UI thread).
    static Result<std::unique_ptr<PulseConnection>>
    connect(const QString& clientName, int timeoutMs, bool* timedOut = nullptr);
    /// Disconnects and stops the audio thread. Streams made on the context must be released
    /// first (their owners hold a shared reference to the connection for that reason). Never on
    /// the audio thread itself: it cannot stop itself.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    /// Use with the lock held.
    pa_context* context() const { return m_context.get(); }
    pa_threaded_mainloop* mainloop() const { return m_mainloop.get(); }

    /// False once the server has gone away (or closed the connection). Takes the lock.
    bool isAlive() const;

    /// The server's default sink and source as of connect() or the last refreshServerInfo();
    /// empty when the server has none.
    QString defaultSinkName() const { return m_defaultSink; }
    QString defaultSourceName() const { return m_defaultSource; }
    Result<void> refreshServerInfo(int timeoutMs);

    /// Names of the server's sinks and sources (monitors included), in the server's order.
    Result<QStringList> sinkNames(int timeoutMs);
    Result<QStringList> sourceNames(int timeoutMs);

    /// With the lock held and off the audio thread: waits (the lock is released meanwhile)
    /// until `done` returns true, re-checking whenever a callback calls signal(). Returns false
    /// when `timeoutMs` passed first.
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    /// Waits for an operation to complete and releases it; cancels it on time-out (false).
    bool waitForOperation(pulse::OperationPtr operation, int timeoutMs);
    /// Wakes waitUntil(); for callbacks on the audio thread.
    void signal() { pa_threaded_mainloop_signal(m_mainloop.get(), 0); }

    /// libpulse's text for the context's last error. With the lock held.
    QString lastErrorText() const;

private:
    PulseConnection() = default;
    Result<QStringList> deviceNames(bool sinks, int timeoutMs);
    struct NameReply;
    template <typename Info>
    static void collectName(pa_context*, const Info* info, int eol, void* data);

    pulse::MainloopPtr m_mainloop; // declared first: released last, after the context
    pulse::ContextPtr m_context;
    QString m_defaultSink;
    QString m_defaultSource;
};

} // namespace chimora
