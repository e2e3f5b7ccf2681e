#include "platform/ffmpeg/AudioInput.h"

#include "platform/ffmpeg/AudioFileKinds.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

namespace chimora {

namespace {

Q_LOGGING_CATEGORY(lcInput, "chimora.decode")

QString unreadableText(const QString& path, const QString& why) {
    return QStringLiteral("%1 could not be read: %2").arg(QFileInfo(path).fileName(), why);
}

Error unreadable(const QString& path, const QString& why, const QString& detail = {}) {
    return Error::badInput(unreadableText(path, why), detail);
}

Error unopenable(const QString& path, const QString& why) {
    return Error::environment(unreadableText(path, why));
}

// Refuses what can never be decoded before FFmpeg sees it; a pipe or a device is refused here
// because opening one could wait forever for a writer.
Result<void> checkFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return unopenable(path, QStringLiteral("the file does not exist."));
    if (info.isDir())
        return unopenable(path, QStringLiteral("it is a folder, not a file."));
    if (!info.isFile())
        return unopenable(path, QStringLiteral("it is not an ordinary file."));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unopenable(
            path, QStringLiteral("the file cannot be opened (%1).").arg(file.errorString()));
    if (info.size() == 0)
        return unreadable(path, QStringLiteral("the file is empty."));
    return {};
}

int interruptCallback(void* opaque) {
    return static_cast<const std::atomic<bool>*>(opaque)->load(std::memory_order_relaxed) ? 1 : 0;
}

const char* rawFormatName(RawPcmParams::SampleFormat f) {
    using F = RawPcmParams::SampleFormat;
    switch (f) {
    case F::S16LE:
        return "s16le";
    case F::S16BE:
        return "s16be";
    case F::U8:
        return "u8";
    case F::S8:
        return "s8";
    case F::S24LE:
        return "s24le";
    case F::S32LE:
        return "s32le";
    case F::F32LE:
        return "f32le";
    case F::MuLaw:
        return "mulaw";
    case F::ALaw:
        return "alaw";
    }
    return "s16le";
}

QByteArray fileHead(const QString& path, int bytes) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(bytes) : QByteArray();
}

// A file given a headerless kind's extension that really carries a container of its own
// (a WAV or MP3 renamed .vox, say) is opened by its content: forcing the headerless format
// would turn it into noise without any error.
bool hasContainerSignature(const QByteArray& head) {
    static const char asfGuid[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11";
    return head.startsWith("RIFF") || head.startsWith("OggS") || head.startsWith("ID3") ||
           head.startsWith("fLaC") || head.startsWith(QByteArray(asfGuid, 8));
}

// A CD track as the file manager shows it: a small RIFF "CDDA" file, whatever its name.
bool isCdTrackPointer(const QByteArray& head) {
    return head.startsWith("RIFF") && head.mid(8, 4) == "CDDA";
}

// How to open a file: a forced input format with its options, or probing (format null).
struct OpenPlan {
    const AVInputFormat* format = nullptr;
    AVDictionary* options = nullptr;
    AVCodecID forcedCodec = AV_CODEC_ID_NONE;
    OpenPlan() = default;
    OpenPlan(const OpenPlan&) = delete;
    ~OpenPlan() { av_dict_free(&options); }
};

Result<void> planOpen(const QString& path, const RawPcmParams* raw, OpenPlan& plan) {
    const AudioFileKind kind = audioFileKind(path);
    const QByteArray head = fileHead(path, 16);
    if (kind == AudioFileKind::CdTrack || isCdTrackPointer(head))
        return unreadable(path, QStringLiteral("it is only a pointer to a track on an audio CD, "
                                               "not the audio itself. Rip the track to a file "
                                               "first, then open that file."));
    if (kind == AudioFileKind::Probed || hasContainerSignature(head))
        return {};
    if (kind == AudioFileKind::Vox) {
        plan.format = av_find_input_format("u8");
        av_dict_set(&plan.options, "sample_rate", "8000", 0);
        av_dict_set(&plan.options, "ch_layout", "mono", 0);
        plan.forcedCodec = AV_CODEC_ID_ADPCM_IMA_OKI;
    } else if (kind == AudioFileKind::G726) {
        plan.format = av_find_input_format("g726");
        av_dict_set(&plan.options, "code_size", "4", 0);
        av_dict_set(&plan.options, "sample_rate", "8000", 0);
    } else if (kind == AudioFileKind::G723) {
        plan.format = av_find_input_format("g723_1");
    } else {
        if (!raw)
            return Error::internal(unreadableText(path, QStringLiteral("its sample format was "
                                                                       "not given.")));
        if (raw->sampleRate <= 0 || raw->sampleRate > 768000 || raw->channels < 1 ||
            raw->channels > 8)
            return unreadable(path, QStringLiteral("the sample rate or channel count given is "
                                                   "not possible."));
        plan.format = av_find_input_format(rawFormatName(raw->sampleFormat));
        av_dict_set(&plan.options, "sample_rate", QByteArray::number(raw->sampleRate), 0);
        AVChannelLayout layout;
        av_channel_layout_default(&layout, raw->channels);
        char name[64] = {};
        av_channel_layout_describe(&layout, name, sizeof name);
        av_channel_layout_uninit(&layout);
        av_dict_set(&plan.options, "ch_layout", name, 0);
    }
    if (!plan.format)
        return Error::internal(unreadableText(path, QStringLiteral("this build cannot decode "
                                                                   "its kind.")));
    return {};
}

} // namespace

Result<std::unique_ptr<AudioInput>> AudioInput::open(const QString& path, const RawPcmParams* raw,
                                                     const std::atomic<bool>* cancel) {
    ff::quietLibraryLog();

    if (auto checked = checkFile(path); !checked)
        return checked.error();
    OpenPlan plan;
    if (auto planned = planOpen(path, raw, plan); !planned)
        return planned.error();

    std::unique_ptr<AudioInput> in(new AudioInput);
    in->m_path = path;
    in->m_cancel = cancel;
    AVFormatContext* rawFormat = avformat_alloc_context();
    if (!rawFormat)
        return Error::environment(QStringLiteral("Out of memory."));
    if (cancel) {
        rawFormat->interrupt_callback.callback = interruptCallback;
        rawFormat->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(cancel);
    }
    // FFmpeg frees the context itself when the open fails.
    int rc = avformat_open_input(&rawFormat, QFile::encodeName(path).constData(), plan.format,
                                 &plan.options);
    if (rc < 0)
        return unreadable(path,
                          QStringLiteral("its format is not recognised, or the file is damaged."),
                          ff::errorText(rc));
    in->m_format.reset(rawFormat);
    AVFormatContext* fmt = rawFormat;
    if (plan.forcedCodec != AV_CODEC_ID_NONE && fmt->nb_streams > 0) {
        fmt->streams[0]->codecpar->codec_id = plan.forcedCodec;
        fmt->streams[0]->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        if (plan.forcedCodec == AV_CODEC_ID_ADPCM_IMA_OKI)
            in->m_voxBytes = QFileInfo(path).size();
    }
    if (!plan.format) {
        rc = avformat_find_stream_info(fmt, nullptr);
        if (rc < 0 && !in->cancelled())
            qCDebug(lcInput) << "stream info:" << ff::errorText(rc);
    }
    if (in->cancelled())
        return Error::badInput(unreadableText(path, QStringLiteral("the opening was cancelled.")));

    const AVCodec* codec = nullptr;
    in->m_streamIndex = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (in->m_streamIndex == AVERROR_STREAM_NOT_FOUND)
        return unreadable(path, QStringLiteral("it contains no audio."));
    if (in->m_streamIndex < 0 || !codec)
        return unreadable(path, QStringLiteral("its kind of audio cannot be decoded."),
                          ff::errorText(in->m_streamIndex));
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (int(i) != in->m_streamIndex)
            fmt->streams[i]->discard = AVDISCARD_ALL;
    const AVStream* stream = fmt->streams[in->m_streamIndex];

    in->m_decoder.reset(avcodec_alloc_context3(codec));
    AVCodecContext* dec = in->m_decoder.get();
    if (!dec || avcodec_parameters_to_context(dec, stream->codecpar) < 0)
        return Error::environment(QStringLiteral("Out of memory."));
    dec->pkt_timebase = stream->time_base;
    if (dec->ch_layout.nb_channels <= 0 && !raw)
        av_channel_layout_default(&dec->ch_layout, 1);
    if ((rc = avcodec_open2(dec, codec, nullptr)) < 0)
        return unreadable(path, QStringLiteral("its audio could not be decoded."),
                          ff::errorText(rc));
    in->m_packet.reset(av_packet_alloc());
    if (!in->m_packet)
        return Error::environment(QStringLiteral("Out of memory."));
    return in;
}

AudioInput::~AudioInput() {
    if (m_badPackets > 0)
        qCDebug(lcInput) << m_path << m_badPackets << "undecodable packets;" << m_lastError;
}

void AudioInput::noteBadPacket(int code) {
    m_lastError = ff::errorText(code);
    ++m_badPackets;
}

bool AudioInput::nextFrame(AVFrame* frame) {
    AVCodecContext* dec = m_decoder.get();
    while (!cancelled()) {
        int rc = avcodec_receive_frame(dec, frame);
        if (rc == 0) {
            // The MP3 decoders fill a frame in before they note its header's rate in the
            // context: after a change of rate the frame still states the one before (the
            // first frame states the rate the context was opened with). The context, read
            // after decoding, has the frame's true rate.
            if (dec->sample_rate > 0)
                frame->sample_rate = dec->sample_rate;
            return true;
        }
        if (rc == AVERROR_EOF)
            return false;
        if (rc != AVERROR(EAGAIN)) {
            noteBadPacket(rc);
            // After the end a failing decoder may go on failing; what it held is lost.
            if (m_flushed)
                return false;
            continue;
        }
        if (m_flushed)
            return false;
        rc = av_read_frame(m_format.get(), m_packet.get());
        if (rc < 0) {
            // The end, or of what can be read: a truncated file keeps what decoded.
            if (rc != AVERROR_EOF && !cancelled())
                m_lastError = ff::errorText(rc);
            avcodec_send_packet(dec, nullptr);
            m_flushed = true;
            continue;
        }
        if (m_packet->stream_index == m_streamIndex) {
            rc = avcodec_send_packet(dec, m_packet.get());
            if (rc < 0 && rc != AVERROR(EAGAIN))
                noteBadPacket(rc);
        }
        av_packet_unref(m_packet.get());
    }
    return false;
}

int64_t AudioInput::lengthFrames(int rate) const {
    const AVRational out{1, rate};
    if (m_voxBytes > 0) // two 4-bit samples a byte at 8000 Hz
        return av_rescale_q(m_voxBytes * 2, AVRational{1, 8000}, out);
    const AVStream& s = stream();
    if (s.duration > 0 && s.duration != AV_NOPTS_VALUE)
        return av_rescale_q(s.duration, s.time_base, out);
    if (m_format->duration > 0)
        return av_rescale_q(m_format->duration, AV_TIME_BASE_Q, out);
    // Headerless files state no length; their size and bitrate (fixed for these kinds) do.
    const AVCodecParameters& par = *s.codecpar;
    int64_t bitsPerSecond = par.bit_rate;
    if (bitsPerSecond <= 0 && par.sample_rate > 0)
        bitsPerSecond = int64_t(av_get_bits_per_sample(par.codec_id)) * par.sample_rate *
                        std::max(1, par.ch_layout.nb_channels);
    const int64_t bytes = m_format->pb ? avio_size(m_format->pb) : -1;
    if (bitsPerSecond > 0 && bytes > 0)
        return av_rescale(bytes * 8, rate, bitsPerSecond);
    return 0;
}

Error AudioInput::noDecodableAudio() const {
    return unreadable(m_path,
                      QStringLiteral("it contains no audio that can be decoded; the file may be "
                                     "damaged or not of the kind its name says."),
                      m_lastError);
}

} // namespace chimora
