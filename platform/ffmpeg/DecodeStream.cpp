#include "platform/ffmpeg/DecodeStream.h"

#include "platform/ffmpeg/AudioInput.h"
#include "platform/ffmpeg/PcmConverter.h"

#include <cstring>

namespace chimora {

DecodeStream::DecodeStream() = default;
DecodeStream::~DecodeStream() = default;

Result<std::unique_ptr<DecodeStream>> DecodeStream::open(const QString& path,
                                                         const RawPcmParams* raw) {
    auto input = AudioInput::open(path, raw);
    if (!input)
        return input.error();
    std::unique_ptr<DecodeStream> s(new DecodeStream);
    s->m_input = std::move(input.value());
    s->m_converter = std::make_unique<PcmConverter>(s->m_input->decoder().sample_rate);
    s->m_frame.reset(av_frame_alloc());
    if (!s->m_frame)
        return Error::environment(QStringLiteral("Out of memory."));
    // The first frame fixes the format handed out, so decode it now: the stream's rate and
    // channel count are known before the first read, and a file without audio fails here.
    if (!s->decodeMore())
        return s->m_input->noDecodableAudio();
    const AudioFormat format = s->m_converter->format();
    s->m_sampleRate = format.sampleRate;
    s->m_channels = format.channels;
    s->m_lengthBytes = s->m_input->lengthFrames(format.sampleRate) * s->bytesPerFrame();
    return s;
}

bool DecodeStream::decodeMore() {
    m_pendingOffset = 0;
    m_pendingFrames = 0;
    while (!m_failed && m_input->nextFrame(m_frame.get())) {
        const Result<int> capacity = m_converter->prepare(*m_frame);
        Result<int> got = 0;
        if (capacity && *capacity > 0) {
            m_pending.resize(size_t(*capacity) * size_t(m_converter->format().channels));
            got = m_converter->convert(*m_frame, m_pending.data(), *capacity);
        }
        av_frame_unref(m_frame.get());
        if (!capacity || !got) {
            m_failed = true;
            break;
        }
        if (*got > 0) {
            m_pendingFrames = size_t(*got);
            return true;
        }
    }
    if (m_drained || !m_converter->format().isValid())
        return false;
    m_drained = true;
    constexpr int kDrainFrames = 4096;
    m_pending.resize(size_t(kDrainFrames) * size_t(m_converter->format().channels));
    m_pendingFrames = size_t(m_converter->drain(m_pending.data(), kDrainFrames));
    return m_pendingFrames > 0;
}

int64_t DecodeStream::read(char* dst, int64_t maxBytes) {
    const int64_t frameBytes = bytesPerFrame();
    const int64_t maxFrames = maxBytes / frameBytes;
    int64_t written = 0; // frames
    while (written < maxFrames && !m_atEnd) {
        if (m_pendingOffset >= m_pendingFrames && !decodeMore()) {
            m_atEnd = true;
            break;
        }
        const int64_t n =
            std::min<int64_t>(maxFrames - written, int64_t(m_pendingFrames - m_pendingOffset));
        std::memcpy(dst + written * frameBytes, m_pending.data() + m_pendingOffset * m_channels,
                    size_t(n * frameBytes));
        m_pendingOffset += size_t(n);
        written += n;
    }
    // Look ahead so that a read that took the last bytes already reports the end.
    if (!m_atEnd && m_pendingOffset >= m_pendingFrames && !decodeMore())
        m_atEnd = true;
    m_positionBytes += written * frameBytes;
    if (written == 0 && m_failed)
        return -1;
    return written * frameBytes;
}

} // namespace chimora
