#include "platform/audio/AudioLoader.h"

#include "platform/audio/BlockBuilder.h"

#include <QElapsedTimer>

namespace chimora {

namespace {
// Time between two waveform updates while a file loads; the first comes at once.
constexpr qint64 kLoadUpdateMs = 250;
} // namespace

AudioLoader::AudioLoader(const QString& path, std::optional<RawPcmParams> raw,
                         std::function<void()> notify)
    : m_notify(std::move(notify)), m_thread([this, path, raw] { run(path, raw); }) {}

AudioLoader::~AudioLoader() {
    cancel();
    wait();
}

void AudioLoader::wait() {
    if (m_thread.joinable())
        m_thread.join();
}

AudioLoader::Batch AudioLoader::take() {
    std::lock_guard lock(m_mutex);
    Batch batch;
    batch.format = m_ready.format;
    batch.blocks.swap(m_ready.blocks);
    batch.finished = m_ready.finished;
    batch.error = m_ready.error;
    return batch;
}

void AudioLoader::run(const QString& path, const std::optional<RawPcmParams>& raw) {
    QElapsedTimer sinceNotify;
    bool notified = false;
    BlockBuilder sink(
        [&](AudioFormat f) {
            std::lock_guard lock(m_mutex);
            m_ready.format = f;
        },
        [&](BlockPtr b) {
            {
                std::lock_guard lock(m_mutex);
                m_ready.blocks.push_back(std::move(b));
            }
            if (!notified || sinceNotify.elapsed() >= kLoadUpdateMs) {
                notified = true;
                sinceNotify.start();
                m_notify();
            }
        });
    auto result = decodeAudioFile(path, raw ? &*raw : nullptr, m_cancel, sink);
    {
        std::lock_guard lock(m_mutex);
        m_ready.finished = true;
        if (!result)
            m_ready.error = result.error();
    }
    if (!m_cancel)
        m_notify();
}

} // namespace chimora
