#include "platform/ffmpeg/AacEncoder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cstring>

namespace chimora {

namespace {

Q_LOGGING_CATEGORY(lcAac, "chimora.aac")

QString nativePath(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

int aacBitrateKbps(int sampleRateHz, int channels, int bitrateKbps) {
    if (bitrateKbps <= 0 || sampleRateHz <= 0 || channels <= 0)
        return bitrateKbps;
    // An AAC frame carries at most 6144 bits a channel for its 1024 samples.
    const int64_t maxBitsPerSecond = int64_t(6144) * channels * sampleRateHz / 1024;
    return int(std::min<int64_t>(int64_t(bitrateKbps) * 1000, maxBitsPerSecond) / 1000);
}

Result<std::unique_ptr<AacEncoder>> AacEncoder::open(const QString& path,
                                                     const AacSettings& settings) {
    ff::quietLibraryLog();
    const AVCodec* codec = avcodec_find_encoder_by_name("aac");
    if (!codec)
        return Error::environment(QStringLiteral(
            "This FFmpeg has no AAC encoder. Install Debian's libavcodec59 package."));
    bool rateKnown = false;
    for (const int* r = codec->supported_samplerates; r && *r; ++r)
        rateKnown = rateKnown || *r == settings.sampleRateHz;
    if (!rateKnown || settings.channels < 1 || settings.channels > 2 || settings.bitrateKbps < 0)
        return Error::badInput(
            QStringLiteral("An AAC ringtone cannot be made at %1 Hz with %2 channels. Choose "
                           "another sample rate or channel count.")
                .arg(settings.sampleRateHz)
                .arg(settings.channels));

    // Only a file of ours may be removed again when the encoding fails.
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return Error::badInput(
            QStringLiteral("%1 is not a file. Choose a file name for the ringtone.")
                .arg(nativePath(path)));

    auto self = std::unique_ptr<AacEncoder>(new AacEncoder);
    self->m_path = path;
    const QByteArray name = QFile::encodeName(path);

    AVFormatContext* output = nullptr;
    int rc = avformat_alloc_output_context2(&output, nullptr, "ipod", name.constData());
    if (rc < 0 || !output)
        return Error::internal(QStringLiteral("The AAC file could not be prepared."),
                               ff::errorText(rc));
    self->m_output.reset(output);

    self->m_codec.reset(avcodec_alloc_context3(codec));
    self->m_frame.reset(av_frame_alloc());
    self->m_packet.reset(av_packet_alloc());
    if (!self->m_codec || !self->m_frame || !self->m_packet)
        return Error::internal(QStringLiteral("The AAC encoder could not be prepared."));
    AVCodecContext& c = *self->m_codec;
    c.sample_fmt = AV_SAMPLE_FMT_FLTP;
    c.sample_rate = settings.sampleRateHz;
    av_channel_layout_default(&c.ch_layout, settings.channels);
    c.bit_rate = int64_t(settings.bitrateKbps) * 1000;
    c.time_base = AVRational{1, settings.sampleRateHz};
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(&c, codec, nullptr);
    if (rc < 0)
        return Error::badInput(
            QStringLiteral("The AAC encoder refuses %1 Hz, %2 channels at %3 kbit/s. Choose "
                           "another sample rate, bitrate or channel count.")
                .arg(settings.sampleRateHz)
                .arg(settings.channels)
                .arg(settings.bitrateKbps),
            ff::errorText(rc));

    self->m_stream = avformat_new_stream(output, nullptr);
    if (!self->m_stream || (rc = avcodec_parameters_from_context(self->m_stream->codecpar, &c)) < 0)
        return Error::internal(QStringLiteral("The AAC file could not be prepared."),
                               ff::errorText(rc));
    self->m_stream->time_base = c.time_base;

    rc = avio_open(&output->pb, name.constData(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return Error::environment(
            QStringLiteral("%1 could not be created: %2. Choose another folder.")
                .arg(nativePath(path), ff::errorText(rc)));
    self->m_created = true;
    rc = avformat_write_header(output, nullptr);
    if (rc < 0)
        return self->writeError(rc);

    AVFrame& f = *self->m_frame;
    f.format = c.sample_fmt;
    f.sample_rate = c.sample_rate;
    av_channel_layout_copy(&f.ch_layout, &c.ch_layout);
    f.nb_samples = c.frame_size;
    if ((rc = av_frame_get_buffer(&f, 0)) < 0)
        return Error::internal(QStringLiteral("The AAC encoder could not be prepared."),
                               ff::errorText(rc));
    return self;
}

AacEncoder::~AacEncoder() {
    // A file that was there is left alone until the encoder has replaced it.
    if (m_finished || !m_created)
        return;
    // Close before removing, so no handle keeps writing to a name that is gone.
    m_output.reset();
    QFile::remove(m_path);
}

int AacEncoder::bitrateKbps() const {
    return int(m_codec->bit_rate / 1000);
}

Error AacEncoder::finishedError() const {
    return Error::internal(m_finished ? QStringLiteral("The AAC file is already complete.")
                                      : QStringLiteral("The AAC encoding has already failed."));
}

Error AacEncoder::writeError(int code) const {
    return Error::environment(
        QStringLiteral("%1 could not be written: %2. Free some space or choose another folder.")
            .arg(nativePath(m_path), ff::errorText(code)));
}

Result<void> AacEncoder::write(const int16_t* samples, int64_t frames) {
    if (m_finished || m_failed)
        return finishedError();
    if (frames <= 0)
        return {};
    const size_t count = size_t(frames) * size_t(m_codec->ch_layout.nb_channels);
    const size_t old = m_pending.size();
    m_pending.resize(old + count);
    std::transform(samples, samples + count, m_pending.begin() + ptrdiff_t(old),
                   [](int16_t s) { return float(s) / 32768.0f; });
    return sendBuffered(false);
}

Result<void> AacEncoder::sendBuffered(bool all) {
    const int channels = m_codec->ch_layout.nb_channels;
    const int frameSize = m_codec->frame_size;
    const int64_t buffered = int64_t(m_pending.size()) / channels;
    int64_t taken = 0;
    while (buffered - taken >= frameSize || (all && taken < buffered)) {
        const int n = int(std::min<int64_t>(frameSize, buffered - taken));
        // The encoder may still hold the previous frame's buffer.
        int rc = av_frame_make_writable(m_frame.get());
        if (rc < 0)
            return Error::internal(QStringLiteral("The AAC encoder ran out of memory."),
                                   ff::errorText(rc));
        const float* in = m_pending.data() + taken * channels;
        for (int ch = 0; ch < channels; ++ch) {
            auto* out = reinterpret_cast<float*>(m_frame->extended_data[ch]);
            for (int i = 0; i < n; ++i)
                out[i] = in[i * channels + ch];
        }
        m_frame->nb_samples = n;
        m_frame->pts = m_sentFrames;
        const auto sent = encode(m_frame.get());
        if (!sent.ok())
            return sent;
        m_sentFrames += n;
        taken += n;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + ptrdiff_t(taken * channels));
    return {};
}

Result<void> AacEncoder::encode(const AVFrame* frame) {
    int rc = avcodec_send_frame(m_codec.get(), frame);
    while (rc >= 0) {
        rc = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return {};
        if (rc < 0)
            break;
        av_packet_rescale_ts(m_packet.get(), m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        rc = av_interleaved_write_frame(m_output.get(), m_packet.get());
        if (rc < 0) {
            m_failed = true;
            return writeError(rc);
        }
    }
    m_failed = true;
    qCWarning(lcAac) << "encoding failed:" << ff::errorText(rc);
    return Error::internal(QStringLiteral("The audio could not be encoded as AAC."),
                           ff::errorText(rc));
}

Result<void> AacEncoder::finish() {
    if (m_finished || m_failed)
        return finishedError();
    auto done = sendBuffered(true);
    if (done.ok())
        done = encode(nullptr);
    if (!done.ok())
        return done;
    m_failed = true; // until the file is complete
    int rc = av_write_trailer(m_output.get());
    if (rc >= 0)
        rc = avio_closep(&m_output->pb);
    if (rc < 0)
        return writeError(rc);
    m_failed = false;
    m_finished = true;
    return {};
}

} // namespace chimora
