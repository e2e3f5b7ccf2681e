#include "platform/encoder/EncoderFeed.h"

namespace chimora {

std::unique_ptr<EncoderFeed> EncoderFeed::start(const EncoderCommand& command, int sampleRate,
                                                int channels, EncoderOutcome* failure) {
    std::unique_ptr<EncoderFeed> f(new EncoderFeed);
    f->m_encoder = StreamEncoder::start(command, sampleRate, channels, failure);
    if (!f->m_encoder)
        return nullptr;
    f->m_thread = std::thread([raw = f.get()] { raw->run(); });
    return f;
}

EncoderFeed::~EncoderFeed() {
    if (m_encoder && !m_finished)
        finish();
}

void EncoderFeed::push(const char* data, size_t bytes) {
    if (bytes == 0 || !m_active.load())
        return;
    {
        std::lock_guard guard(m_mutex);
        if (m_closing)
            return;
        m_queue.emplace_back(data, qsizetype(bytes));
    }
    m_wake.notify_one();
}

void EncoderFeed::run() {
    for (;;) {
        std::deque<QByteArray> batch;
        bool closing = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
            batch.swap(m_queue);
            closing = m_closing;
        }
        for (const QByteArray& piece : batch) {
            if (!m_active.load())
                break;
            m_encoder->feed(piece.constData(), piece.size());
            if (m_encoder->isActive())
                m_bytesFed += piece.size();
            else
                m_active = false;
        }
        // Pieces queued after the closing flag was seen were refused by push(): the batch taken
        // with it is the last.
        if (closing)
            return;
    }
}

EncoderOutcome EncoderFeed::finish() {
    m_finished = true;
    {
        std::lock_guard guard(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    m_active = false;
    return m_encoder->finish();
}

} // namespace chimora
