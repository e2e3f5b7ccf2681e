#include "platform/encoder/EncoderFeed.h"

#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace chimora {

namespace {

// Without a process descriptor or a wake-up descriptor the feeding thread looks this often.
constexpr int kFallbackPollMs = 50;

// A process descriptor names one process for good: unlike its pid it cannot come to mean
// another process once the encoder has ended and been reaped.
void killThroughProcessFd(int fd) {
#ifdef SYS_pidfd_send_signal
    ::syscall(SYS_pidfd_send_signal, fd, SIGKILL, nullptr, 0);
#else
    Q_UNUSED(fd);
#endif
}

} // namespace

std::unique_ptr<EncoderFeed> EncoderFeed::start(const EncoderCommand& command, int sampleRate,
                                                int channels, EncoderOutcome* failure) {
    std::unique_ptr<EncoderFeed> f(new EncoderFeed);
    f->m_encoder = StreamEncoder::start(command, sampleRate, channels, failure);
    if (!f->m_encoder)
        return nullptr;
    // Nobody reaps the child before us, so its pid still names it here.
    f->m_processFd.reset(openProcessFd(f->m_encoder->processId()));
    f->m_wakeFd.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    f->m_thread = std::thread([raw = f.get()] { raw->run(); });
    return f;
}

EncoderFeed::~EncoderFeed() {
    if (m_encoder && !m_finished)
        finish();
}

void EncoderFeed::wake() {
    if (m_wakeFd.isOpen()) {
        const uint64_t one = 1;
        while (::write(m_wakeFd.get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

void EncoderFeed::push(const char* data, size_t bytes) {
    if (bytes == 0 || !m_active.load())
        return;
    {
        std::lock_guard guard(m_mutex);
        if (m_closing)
            return;
        if (m_queuedBytes + qint64(bytes) > kMaxQueuedBytes) {
            // The encoder has not taken data for a long time: it is stopped, and the queue
            // with it, so that a stalled encoder costs no more memory than this.
            m_overflowed = true;
            m_active = false;
            for (const QByteArray& piece : m_queue)
                m_queuedBytes -= piece.size();
            m_queue.clear();
            if (m_processFd.isOpen())
                killThroughProcessFd(m_processFd.get());
        } else {
            m_queue.emplace_back(data, qsizetype(bytes));
            m_queuedBytes += qint64(bytes);
        }
    }
    wake();
}

void EncoderFeed::waitForWork() {
    // Once the process has ended its descriptor stays readable: no longer watched then.
    const bool watchProcess = m_processFd.isOpen() && m_active.load();
    pollfd fds[2] = {{m_wakeFd.get(), POLLIN, 0},
                     {watchProcess ? m_processFd.get() : -1, POLLIN, 0}};
    const bool eventDriven = m_wakeFd.isOpen() && (watchProcess || !m_active.load());
    if (::poll(fds, 2, eventDriven ? -1 : kFallbackPollMs) < 0 && errno != EINTR)
        return;
    if (fds[1].revents)
        m_active = false; // the encoder ended while we had nothing for it
    else if (!m_processFd.isOpen() && m_active.load() && !m_encoder->isActive())
        m_active = false;
    if (fds[0].revents & POLLIN) {
        uint64_t count;
        while (::read(m_wakeFd.get(), &count, sizeof count) < 0 && errno == EINTR) {
        }
    }
}

void EncoderFeed::run() {
    for (;;) {
        std::deque<QByteArray> batch;
        bool closing = false;
        {
            std::lock_guard guard(m_mutex);
            batch.swap(m_queue);
            closing = m_closing;
        }
        if (batch.empty() && !closing) {
            waitForWork();
            continue;
        }
        for (const QByteArray& piece : batch) {
            if (m_active.load()) {
                m_encoder->feed(piece.constData(), piece.size());
                if (m_encoder->isActive())
                    m_bytesFed += piece.size();
                else
                    m_active = false;
            }
            std::lock_guard guard(m_mutex);
            m_queuedBytes -= piece.size();
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
    wake();
    if (m_thread.joinable())
        m_thread.join();
    m_active = false;
    EncoderOutcome outcome = m_encoder->finish();
    if (m_overflowed)
        outcome.failure = QStringLiteral("%1 could not keep up with the audio and was stopped.")
                              .arg(QFileInfo(outcome.program).fileName());
    return outcome;
}

} // namespace chimora
