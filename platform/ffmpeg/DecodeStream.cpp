#include "platform/ffmpeg/DecodeStream.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace chimora {

Result<std::unique_ptr<DecodeStream>> DecodeStream::open(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    std::unique_ptr<DecodeStream> s(new DecodeStream);

    AVFormatContext* rawFormat = nullptr;
    int rc = avformat_open_input(&rawFormat, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (rc < 0) {
        const bool missing = rc == AVERROR(ENOENT) || rc == AVERROR(EACCES);
        const QString message = QStringLiteral("%1 could not be opened.").arg(name);
        return missing ? Error::environment(message, ff::errorText(rc))
                       : Error::badInput(message, ff::errorText(rc));
    }
    s->m_format.reset(rawFormat);
    if ((rc = avformat_find_stream_info(rawFormat, nullptr)) < 0)
        return Error::badInput(QStringLiteral("%1 is not a readable audio file.").arg(name),
                               ff::errorText(rc));

    const AVCodec* decoder = nullptr;
    s->m_streamIndex = av_find_best_stream(rawFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (s->m_streamIndex < 0 || !decoder)
        return Error::badInput(QStringLiteral("%1 holds no audio.").arg(name));
    AVStream* stream = rawFormat->streams[s->m_streamIndex];

    s->m_codec.reset(avcodec_alloc_context3(decoder));
    if (!s->m_codec || avcodec_parameters_to_context(s->m_codec.get(), stream->codecpar) < 0)
        return Error::internal(QStringLiteral("No decoder for %1.").arg(name));
    if ((rc = avcodec_open2(s->m_codec.get(), decoder, nullptr)) < 0)
        return Error::badInput(QStringLiteral("%1 cannot be decoded.").arg(name),
                               ff::errorText(rc));

    AVCodecContext* codec = s->m_codec.get();
    s->m_sampleRate = codec->sample_rate;
    s->m_channels = codec->ch_layout.nb_channels;
    if (s->m_sampleRate <= 0 || s->m_channels <= 0)
        return Error::badInput(QStringLiteral("%1 has no usable sample format.").arg(name));

    s->m_directCopy = codec->sample_fmt == AV_SAMPLE_FMT_S16;
    if (!s->m_directCopy) {
        SwrContext* swr = nullptr;
        rc = swr_alloc_set_opts2(&swr, &codec->ch_layout, AV_SAMPLE_FMT_S16, codec->sample_rate,
                                 &codec->ch_layout, codec->sample_fmt, codec->sample_rate, 0,
                                 nullptr);
        s->m_resampler.reset(swr);
        if (rc < 0 || swr_init(swr) < 0)
            return Error::internal(QStringLiteral("Cannot convert the samples of %1.").arg(name),
                                   ff::errorText(rc));
    }

    int64_t frames = 0;
    if (stream->duration > 0 && stream->duration != AV_NOPTS_VALUE)
        frames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, s->m_sampleRate});
    else if (rawFormat->duration > 0)
        frames = av_rescale_q(rawFormat->duration, AV_TIME_BASE_Q, AVRational{1, s->m_sampleRate});
    s->m_lengthBytes = frames * s->bytesPerFrame();

    s->m_frame.reset(av_frame_alloc());
    s->m_packet.reset(av_packet_alloc());
    if (!s->m_frame || !s->m_packet)
        return Error::internal(QStringLiteral("Out of memory opening %1.").arg(name));
    return s;
}

DecodeStream::~DecodeStream() = default;

bool DecodeStream::decodeMore() {
    AVCodecContext* codec = m_codec.get();
    for (;;) {
        int rc = avcodec_receive_frame(codec, m_frame.get());
        if (rc == 0) {
            const int frames = m_frame->nb_samples;
            const int bytes = frames * bytesPerFrame();
            m_pending.resize(bytes);
            m_pendingOffset = 0;
            if (m_directCopy) {
                memcpy(m_pending.data(), m_frame->data[0], size_t(bytes));
            } else {
                auto* out = reinterpret_cast<uint8_t*>(m_pending.data());
                const int got =
                    swr_convert(m_resampler.get(), &out, frames,
                                const_cast<const uint8_t**>(m_frame->extended_data), frames);
                m_pending.resize(std::max(0, got) * bytesPerFrame());
            }
            av_frame_unref(m_frame.get());
            if (!m_pending.isEmpty())
                return true;
            continue;
        }
        if (rc == AVERROR_EOF)
            return false;
        if (rc != AVERROR(EAGAIN)) {
            m_failed = true;
            return false;
        }
        if (m_flushed)
            return false;

        rc = av_read_frame(m_format.get(), m_packet.get());
        if (rc < 0) {
            // End of the file (or of what can be read of it): let the decoder give what it holds.
            avcodec_send_packet(codec, nullptr);
            m_flushed = true;
            continue;
        }
        if (m_packet->stream_index == m_streamIndex) {
            rc = avcodec_send_packet(codec, m_packet.get());
            // A damaged packet is skipped, as players do; only the decoder's state matters.
            Q_UNUSED(rc);
        }
        av_packet_unref(m_packet.get());
    }
}

int64_t DecodeStream::read(char* dst, int64_t maxBytes) {
    maxBytes -= maxBytes % bytesPerFrame();
    int64_t written = 0;
    while (written < maxBytes && !m_atEnd) {
        if (m_pendingOffset >= m_pending.size()) {
            if (!decodeMore()) {
                m_atEnd = true;
                break;
            }
        }
        const int64_t n = std::min<int64_t>(maxBytes - written, m_pending.size() - m_pendingOffset);
        memcpy(dst + written, m_pending.constData() + m_pendingOffset, size_t(n));
        m_pendingOffset += n;
        written += n;
    }
    // Look ahead so that a read that took the last bytes already reports the end.
    if (!m_atEnd && m_pendingOffset >= m_pending.size() && !decodeMore())
        m_atEnd = true;
    m_positionBytes += written;
    if (written == 0 && m_failed)
        return -1;
    return written;
}

} // namespace chimora
