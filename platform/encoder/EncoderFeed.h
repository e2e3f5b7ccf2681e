#pragma once
// An encoder fed from another thread: captured audio is queued by whoever produces it (the
// audio thread) and written to the encoder process by a thread of its own, so a slow encoder
// never holds up the audio server's thread. The queue is bounded: an encoder that falls that
// far behind is stopped rather than let memory grow.

#include "platform/core/UniqueFd.h"
#include "platform/encoder/StreamEncoder.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace chimora {

class EncoderFeed {
public:
    /// Most PCM bytes waiting for the encoder: about 47 s of 44100 Hz 16-bit stereo, far more
    /// than a working encoder ever lags behind.
    static constexpr qint64 kMaxQueuedBytes = 8 * 1024 * 1024;

    /// Starts the encoder process (see StreamEncoder::start) and its feeding thread. Null, with
    /// *failure filled, when the program could not be started. Owner's thread.
    static std::unique_ptr<EncoderFeed> start(const EncoderCommand& command, int sampleRate,
                                              int channels, EncoderOutcome* failure);
    /// Finishes the encoder if finish() was not called (the outcome is lost then).
    ~EncoderFeed();
    EncoderFeed(const EncoderFeed&) = delete;
    EncoderFeed& operator=(const EncoderFeed&) = delete;

    /// Queues a copy of `bytes` of PCM; never waits for the encoder. Any thread. Ignored after
    /// finish() has begun and once the encoder has ended. Data that would take the queue past
    /// kMaxQueuedBytes ends the encoder instead (it has stalled); what it wrote stays.
    void push(const char* data, size_t bytes);
    /// True while the encoder runs and takes data; false soon after its process ends, even
    /// when nothing is pushed meanwhile. Any thread.
    bool isActive() const { return m_active.load(); }
    /// PCM bytes the encoder has accepted so far. Any thread.
    int64_t bytesFed() const { return m_bytesFed.load(); }

    /// Writes everything still queued, closes the encoder's input and waits for it to end (with
    /// the encoder time limits). Owner's thread; once.
    EncoderOutcome finish();

private:
    EncoderFeed() = default;
    void run();
    /// Sleeps until data is queued, finish() begins or the encoder process ends.
    void waitForWork();
    void wake();

    std::unique_ptr<StreamEncoder> m_encoder; // touched by the feeding thread until it is joined
    UniqueFd m_processFd;                     // the encoder process (pidfd); -1 where unsupported
    UniqueFd m_wakeFd;                        // eventfd: something for the feeding thread
    std::mutex m_mutex;
    std::deque<QByteArray> m_queue; // with m_mutex
    qint64 m_queuedBytes = 0;       // with m_mutex: pushed and not yet written
    bool m_closing = false;         // with m_mutex
    bool m_overflowed = false;      // with m_mutex
    std::atomic<bool> m_active{true};
    std::atomic<int64_t> m_bytesFed{0};
    std::thread m_thread;
    bool m_finished = false;
};

} // namespace chimora
