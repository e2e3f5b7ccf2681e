#pragma once
// A record stream from one source of the audio server: 16-bit PCM for recording, or the
// server's peak values for a level meter. The data arrives on the audio thread.

#include "platform/core/Result.h"
#include "platform/pulse/PulseConnection.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace chimora {

class CaptureStream {
public:
    enum class Kind {
        Pcm16, ///< interleaved signed 16-bit frames at the asked rate and channel count
        Peaks, ///< one float (0..1) per 1/rate seconds: the loudest sample of that span, mono
    };

    struct Request {
        QString source; ///< the server's source name; empty: its default source
        Kind kind = Kind::Pcm16;
        int sampleRate = 44100;   ///< frames (or peak values) per second
        int channels = 2;         ///< Pcm16 only
        bool startPaused = false; ///< created corked: nothing is captured until resume()
    };

    /// Called with every piece of captured data, in order, with the connection's lock held
    /// (normally on the audio thread; during stop() on the caller's). Returning false ends the
    /// capture: the stream is corked and the handler is not called again.
    using DataHandler = std::function<bool(const char* data, size_t bytes)>;

    enum class State {
        Paused,  ///< created paused, resume() not called yet
        Running, ///< capturing
        Ended,   ///< the handler ended it, or stop() was called
        Failed,  ///< the server went away or dropped the stream
    };

    /// Connects a record stream to `request.source` and waits (at most `timeoutMs`) until the
    /// server has accepted it. Errors: a request that cannot be captured (BadInput); no server or a
    /// source that is not there (Environment). Off the audio thread.
    static Result<std::unique_ptr<CaptureStream>> open(std::shared_ptr<PulseConnection> connection,
                                                       const Request& request, DataHandler handler,
                                                       int timeoutMs);

    /// Disconnects the stream (no handler call after this returns). Off the audio thread.
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    /// Starts a paused stream. True when it runs now, or ran and was ended by its own handler
    /// since: the handler may end it at its first piece, before this returns. False when it had
    /// ended or failed already. Off the audio thread.
    bool resume();

    /// Ends the capture without losing what the server already captured: the stream is corked,
    /// and everything that reached us before the server confirmed that is handed to the handler
    /// before this returns (waits at most `timeoutMs`). Off the audio thread.
    void stop(int timeoutMs);

    /// Any thread.
    State state() const { return m_state.load(); }
    /// Bytes handed to the handler so far. Any thread.
    int64_t bytesDelivered() const { return m_bytesDelivered.load(); }
    /// The server's words when the stream failed (after state() became Failed).
    QString failureText() const;

private:
    CaptureStream() = default;
    void readAvailable();

    std::shared_ptr<PulseConnection> m_connection; // declared first: outlives the stream
    pulse::StreamPtr m_stream;
    DataHandler m_handler;
    std::atomic<State> m_state{State::Paused};
    std::atomic<int64_t> m_bytesDelivered{0};
    bool m_stopping = false; // with the lock held
    QString m_failure;       // with the lock held
};

} // namespace chimora
