#pragma once
// Decoding one file on a thread of its own, handing the decoded blocks over in batches.

#include "platform/audio/AudioTypes.h"
#include "platform/core/Result.h"

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace chimora {

class AudioLoader {
public:
    /// What has been decoded since the last take().
    struct Batch {
        AudioFormat format;
        BlockList blocks;
        bool finished = false;      ///< the decode has ended (take() gives nothing more)
        std::optional<Error> error; ///< with finished: why the file could not be read
    };

    /// Starts decoding `path` (with `raw` for headerless PCM). `notify` runs on the loader's
    /// thread when there is something to take: at the first block, then at most every 250 ms,
    /// and once at the end unless cancelled. It must only post to another thread.
    AudioLoader(const QString& path, std::optional<RawPcmParams> raw, std::function<void()> notify);
    /// Cancels the decode and waits for the thread.
    ~AudioLoader();
    AudioLoader(const AudioLoader&) = delete;
    AudioLoader& operator=(const AudioLoader&) = delete;

    /// Asks the decode to stop soon; nothing more is notified.
    void cancel() { m_cancel = true; }
    /// Blocks until the thread has ended.
    void wait();
    /// Takes what is ready. Any thread, usually the UI thread.
    Batch take();

private:
    void run(const QString& path, const std::optional<RawPcmParams>& raw);

    std::function<void()> m_notify;
    std::atomic<bool> m_cancel{false};
    std::mutex m_mutex; // guards m_ready
    Batch m_ready;
    std::thread m_thread; // last: started once everything above exists
};

} // namespace chimora
