#include "platform/ffmpeg/AudioDecoder.h"

#include "platform/ffmpeg/AudioFileKinds.h"
#include "platform/ffmpeg/FfmpegPtr.h"
#include "platform/audio/SampleBlock.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstring>
#include <future>
#include <mutex>

#include <sys/mman.h>

namespace chimora {

namespace {

Q_LOGGING_CATEGORY(lcDecode, "chimora.decode")

Error unreadable(const QString& path, const QString& why, const QString& detail = {}) {
    return Error::badInput(
        QStringLiteral("%1 could not be read: %2").arg(QFileInfo(path).fileName(), why), detail);
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

// A file given a headerless kind's extension that really carries a container of its own
// (a WAV or MP3 renamed .vox, say) is opened by its content: forcing the headerless format
// would turn it into noise without any error.
bool hasContainerSignature(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(16);
    static const char asfGuid[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11";
    return head.startsWith("RIFF") || head.startsWith("OggS") || head.startsWith("ID3") ||
           head.startsWith("fLaC") || head.startsWith(QByteArray(asfGuid, 8));
}

// A CD track as the file manager shows it: a small RIFF "CDDA" file, whatever its name.
bool isCdTrackPointer(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(12);
    return head.startsWith("RIFF") && head.mid(8, 4) == "CDDA";
}

// How to open a file: a forced input format with its options, or probing (format null).
struct OpenPlan {
    const AVInputFormat* format = nullptr;
    AVDictionary* options = nullptr;
    AVCodecID forcedCodec = AV_CODEC_ID_NONE;
    ~OpenPlan() { av_dict_free(&options); }
};

Result<void> planOpen(const QString& path, const RawPcmParams* raw, OpenPlan& plan) {
    const AudioFileKind kind = audioFileKind(path);
    if (kind == AudioFileKind::CdTrack || isCdTrackPointer(path))
        return unreadable(path, QStringLiteral("it is only a pointer to a track on an audio CD, "
                                               "not the audio itself. Rip the track to a file "
                                               "first, then open that file."));
    if (kind == AudioFileKind::Probed || hasContainerSignature(path))
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
            return Error::internal(
                QStringLiteral("%1 could not be read: its sample format was not given.")
                    .arg(QFileInfo(path).fileName()));
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
        return Error::internal(QStringLiteral("%1 could not be read: this build cannot decode "
                                              "its kind.")
                                   .arg(QFileInfo(path).fileName()));
    return {};
}

// A large buffer of samples that many blocks share. Large ones are aligned to 2 MiB and asked
// to use huge pages: fresh memory otherwise faults in 4 KiB at a time, which for an hour of
// audio cost more than a second of a load (measured: 1.5 s against 0.07 s for 605 MiB).
class Slab {
public:
    static std::shared_ptr<Slab> make(size_t bytes) {
        constexpr size_t kHuge = size_t(2) << 20;
        if (bytes < kHuge) {
            void* p =
                mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            return p == MAP_FAILED
                       ? nullptr
                       : std::shared_ptr<Slab>(new Slab(static_cast<int16_t*>(p), bytes));
        }
        // Map more than needed, then give back the unaligned head and the tail.
        void* raw = mmap(nullptr, bytes + kHuge, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED)
            return nullptr;
        const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
        const uintptr_t aligned = (start + kHuge - 1) & ~uintptr_t(kHuge - 1);
        if (aligned > start)
            munmap(raw, aligned - start);
        if (const size_t tail = (start + bytes + kHuge) - (aligned + bytes); tail > 0)
            munmap(reinterpret_cast<void*>(aligned + bytes), tail);
        madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE); // a hint only
        return std::shared_ptr<Slab>(new Slab(reinterpret_cast<int16_t*>(aligned), bytes));
    }
    /// Writes to every page so the system maps it now rather than when the decoder gets
    /// there; run on another thread, that takes first-touch costs off the decoding thread.
    void prefault() const {
        volatile char* p = reinterpret_cast<char*>(m_data);
        for (size_t i = 0; i < m_bytes; i += 4096)
            p[i] = 0;
    }
    ~Slab() { munmap(m_data, m_bytes); }
    int16_t* data() const { return m_data; }
    size_t samples() const { return m_bytes / sizeof(int16_t); }

private:
    Slab(int16_t* data, size_t bytes) : m_data(data), m_bytes(bytes) {}
    int16_t* m_data;
    size_t m_bytes;
};

// Gathers converted frames into blocks of SampleBlock::kLoadFrames frames and hands each one
// on when full. The blocks' memory comes from slabs that start small (short files stay small)
// and grow to 16 blocks; the next slab is prepared on another thread meanwhile.
class BlockBuilder {
public:
    BlockBuilder(int channels, const DecodeSink& sink) : m_channels(channels), m_sink(sink) {}

    /// Where `frames` frames can be written straight into the current block, or null when they
    /// do not fit (then use append()).
    int16_t* writePointer(int64_t frames) {
        if (!ensureBlock() || frames > SampleBlock::kLoadFrames - m_filled)
            return nullptr;
        return m_block + m_filled * m_channels;
    }
    /// Counts `frames` frames written at writePointer().
    void commit(int64_t frames) {
        m_filled += frames;
        m_total += frames;
        if (m_filled == SampleBlock::kLoadFrames)
            flush();
    }
    bool append(const int16_t* samples, int64_t frames) {
        while (frames > 0) {
            if (!ensureBlock())
                return false;
            const int64_t n = std::min(SampleBlock::kLoadFrames - m_filled, frames);
            std::memcpy(m_block + m_filled * m_channels, samples,
                        size_t(n * m_channels) * sizeof(int16_t));
            samples += n * m_channels;
            frames -= n;
            commit(n);
        }
        return true;
    }
    void flush() {
        if (m_filled > 0)
            m_sink.block(SampleBlock::adopt(m_channels, m_slab, m_block, m_filled));
        m_block = nullptr;
        m_filled = 0;
    }
    int64_t total() const { return m_total; }

private:
    bool ensureBlock() {
        if (m_block)
            return true;
        const size_t blockSamples = size_t(SampleBlock::kLoadFrames * m_channels);
        if (!m_slab || m_slabUsed + blockSamples > m_slab->samples()) {
            m_slab = m_next.valid() ? m_next.get() : makeSlab(m_slabBlocks, m_channels);
            m_slabBlocks = std::min(m_slabBlocks * 2, 16);
            m_next = std::async(std::launch::async, [n = m_slabBlocks, ch = m_channels] {
                auto slab = makeSlab(n, ch);
                if (slab)
                    slab->prefault();
                return slab;
            });
            m_slabUsed = 0;
            if (!m_slab)
                return false;
        }
        m_block = m_slab->data() + m_slabUsed;
        m_slabUsed += blockSamples;
        return true;
    }
    static std::shared_ptr<Slab> makeSlab(int blocks, int channels) {
        return Slab::make(size_t(blocks) * size_t(SampleBlock::kLoadFrames) * size_t(channels) *
                          sizeof(int16_t));
    }

    int m_channels;
    const DecodeSink& m_sink;
    std::shared_ptr<Slab> m_slab;
    std::future<std::shared_ptr<Slab>> m_next; ///< the slab after this one, being prepared
    int m_slabBlocks = 1;
    size_t m_slabUsed = 0; ///< samples of m_slab given to blocks
    int16_t* m_block = nullptr;
    int64_t m_filled = 0; ///< frames in the current block
    int64_t m_total = 0;
};

} // namespace

Result<void> decodeAudioFile(const QString& path, const RawPcmParams* raw,
                             const std::atomic<bool>& cancel, const DecodeSink& sink) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });

    const QFileInfo info(path);
    if (!info.exists())
        return unreadable(path, QStringLiteral("the file does not exist."));
    if (info.isDir())
        return unreadable(path, QStringLiteral("it is a folder, not a file."));
    if (!info.isFile()) // a pipe or a device would never end
        return unreadable(path, QStringLiteral("it is not an ordinary file."));
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly))
            return unreadable(
                path, QStringLiteral("the file cannot be opened (%1).").arg(probe.errorString()));
    }
    if (info.size() == 0)
        return unreadable(path, QStringLiteral("the file is empty."));

    OpenPlan plan;
    if (auto planned = planOpen(path, raw, plan); !planned)
        return planned.error();

    AVFormatContext* rawFmt = avformat_alloc_context();
    if (!rawFmt)
        return Error::environment(QStringLiteral("Out of memory."));
    rawFmt->interrupt_callback.callback = interruptCallback;
    rawFmt->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(&cancel);
    int rc = avformat_open_input(&rawFmt, QFile::encodeName(path).constData(), plan.format,
                                 &plan.options);
    if (rc < 0) { // rawFmt is freed by FFmpeg on failure
        if (cancel)
            return {};
        return unreadable(path,
                          QStringLiteral("its format is not recognised, or the file is damaged."),
                          ff::errorText(rc));
    }
    ff::FormatContextPtr fmt(rawFmt);
    if (plan.forcedCodec != AV_CODEC_ID_NONE && fmt->nb_streams > 0) {
        fmt->streams[0]->codecpar->codec_id = plan.forcedCodec;
        fmt->streams[0]->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    }
    if (!plan.format) {
        rc = avformat_find_stream_info(fmt.get(), nullptr);
        if (rc < 0 && !cancel)
            qCDebug(lcDecode) << "stream info:" << ff::errorText(rc);
    }
    if (cancel)
        return {};

    const AVCodec* codec = nullptr;
    const int streamIndex = av_find_best_stream(fmt.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (streamIndex == AVERROR_STREAM_NOT_FOUND)
        return unreadable(path, QStringLiteral("it contains no audio."));
    if (streamIndex < 0 || !codec)
        return unreadable(path, QStringLiteral("its kind of audio cannot be decoded."),
                          ff::errorText(streamIndex));
    for (unsigned i = 0; i < fmt->nb_streams; ++i)
        if (int(i) != streamIndex)
            fmt->streams[i]->discard = AVDISCARD_ALL;
    AVStream* stream = fmt->streams[streamIndex];

    ff::CodecContextPtr dec(avcodec_alloc_context3(codec));
    if (!dec || avcodec_parameters_to_context(dec.get(), stream->codecpar) < 0)
        return Error::environment(QStringLiteral("Out of memory."));
    dec->pkt_timebase = stream->time_base;
    if (dec->ch_layout.nb_channels <= 0 && !raw)
        av_channel_layout_default(&dec->ch_layout, 1);
    if ((rc = avcodec_open2(dec.get(), codec, nullptr)) < 0)
        return unreadable(path, QStringLiteral("its audio could not be decoded."),
                          ff::errorText(rc));

    ff::PacketPtr packet(av_packet_alloc());
    ff::FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        return Error::environment(QStringLiteral("Out of memory."));

    ff::ResamplerPtr swr;
    AVChannelLayout swrInLayout{};
    AVSampleFormat swrInFormat = AV_SAMPLE_FMT_NONE;
    int swrInRate = 0;
    AudioFormat out;
    std::unique_ptr<BlockBuilder> builder;
    std::vector<int16_t> converted;
    QString lastError;
    int badPackets = 0;

    // Converts one decoded frame to interleaved s16 at the first frame's rate. A change of
    // format, layout or rate midstream (some streams do that) gets a fresh converter.
    auto consume = [&](AVFrame* f) -> Result<void> {
        AVChannelLayout inLayout{};
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f->ch_layout.nb_channels <= 0)
            av_channel_layout_default(&inLayout, std::max(1, f->ch_layout.nb_channels));
        else
            av_channel_layout_copy(&inLayout, &f->ch_layout);
        const int inRate = f->sample_rate > 0 ? f->sample_rate : dec->sample_rate;
        if (inRate <= 0) {
            av_channel_layout_uninit(&inLayout);
            return Error::badInput(QStringLiteral("no sample rate"));
        }
        if (!out.isValid()) {
            out.sampleRate = inRate;
            out.channels = std::min(2, inLayout.nb_channels);
            sink.format(out);
            builder = std::make_unique<BlockBuilder>(out.channels, sink);
        }
        if (!swr || av_channel_layout_compare(&inLayout, &swrInLayout) != 0 ||
            f->format != swrInFormat || inRate != swrInRate) {
            AVChannelLayout outLayout;
            av_channel_layout_default(&outLayout, out.channels);
            SwrContext* s = nullptr;
            rc = swr_alloc_set_opts2(&s, &outLayout, AV_SAMPLE_FMT_S16, out.sampleRate, &inLayout,
                                     AVSampleFormat(f->format), inRate, 0, nullptr);
            av_channel_layout_uninit(&outLayout);
            swr.reset(s);
            if (rc < 0 || (rc = swr_init(swr.get())) < 0) {
                av_channel_layout_uninit(&inLayout);
                swr.reset();
                return Error::badInput(ff::errorText(rc));
            }
            av_channel_layout_uninit(&swrInLayout);
            av_channel_layout_copy(&swrInLayout, &inLayout);
            swrInFormat = AVSampleFormat(f->format);
            swrInRate = inRate;
        }
        av_channel_layout_uninit(&inLayout);
        const int capacity = swr_get_out_samples(swr.get(), f->nb_samples);
        if (capacity <= 0)
            return {};
        // Straight into the block when it fits (nearly always), else through a buffer.
        int16_t* direct = builder->writePointer(capacity);
        if (!direct)
            converted.resize(size_t(capacity) * size_t(out.channels));
        uint8_t* dst = reinterpret_cast<uint8_t*>(direct ? direct : converted.data());
        const int n = swr_convert(swr.get(), &dst, capacity,
                                  const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
        if (n < 0)
            return Error::badInput(ff::errorText(n));
        if (direct)
            builder->commit(n);
        else if (!builder->append(converted.data(), n))
            return Error::environment(QStringLiteral("out of memory"));
        return {};
    };

    auto receiveAll = [&]() -> Result<void> {
        for (;;) {
            rc = avcodec_receive_frame(dec.get(), frame.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return {};
            if (rc < 0) {
                lastError = ff::errorText(rc);
                ++badPackets;
                return {};
            }
            auto r = consume(frame.get());
            av_frame_unref(frame.get());
            if (!r)
                return r;
        }
    };

    bool failed = false;
    while (!cancel) {
        rc = av_read_frame(fmt.get(), packet.get());
        if (rc < 0) {
            if (rc != AVERROR_EOF)
                lastError = ff::errorText(rc); // a truncated or damaged file: keep what decoded
            break;
        }
        if (packet->stream_index == streamIndex) {
            rc = avcodec_send_packet(dec.get(), packet.get());
            if (rc < 0 && rc != AVERROR(EAGAIN)) {
                lastError = ff::errorText(rc);
                ++badPackets;
            }
            if (auto r = receiveAll(); !r) {
                lastError = r.error().message;
                failed = true;
            }
        }
        av_packet_unref(packet.get());
        if (failed)
            break;
    }
    av_channel_layout_uninit(&swrInLayout);
    if (cancel)
        return {};
    if (!failed) {
        avcodec_send_packet(dec.get(), nullptr);
        if (auto r = receiveAll(); !r)
            lastError = r.error().message;
    }
    if (swr && builder) { // the converter may hold back a few frames
        converted.resize(size_t(4096) * size_t(out.channels));
        uint8_t* dst = reinterpret_cast<uint8_t*>(converted.data());
        const int n = swr_convert(swr.get(), &dst, 4096, nullptr, 0);
        if (n > 0 && !builder->append(converted.data(), n))
            lastError = QStringLiteral("out of memory");
    }
    if (builder)
        builder->flush();
    if (badPackets > 0)
        qCDebug(lcDecode) << path << badPackets << "undecodable packets;" << lastError;
    if (!builder || builder->total() == 0)
        return unreadable(path,
                          QStringLiteral("it contains no audio that can be decoded; the "
                                         "file may be damaged or not of the kind its "
                                         "name says."),
                          lastError);
    return {};
}

} // namespace chimora
