#include "platform/wav/WavWriter.h"

#include "platform/core/AtomicFile.h"
#include "platform/ffmpeg/FfmpegPtr.h"
#include "platform/wav/WavHeader.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace chimora {

namespace {

Q_LOGGING_CATEGORY(lcWav, "chimora.wav")

constexpr int64_t kChunkFrames = 65536;

// A resampler for one channel of s16; the soxr engine where this FFmpeg has it, its own engine
// otherwise.
ff::ResamplerPtr makeMonoResampler(int inRate, int outRate) {
    AVChannelLayout layout;
    av_channel_layout_default(&layout, 1);
    ff::ResamplerPtr result;
    for (bool soxr : {true, false}) {
        SwrContext* s = nullptr;
        if (swr_alloc_set_opts2(&s, &layout, AV_SAMPLE_FMT_S16, outRate, &layout, AV_SAMPLE_FMT_S16,
                                inRate, 0, nullptr) < 0)
            break;
        ff::ResamplerPtr candidate(s);
        if (soxr && av_opt_set(s, "resampler", "soxr", 0) < 0)
            continue;
        if (swr_init(s) >= 0) {
            result = std::move(candidate);
            break;
        }
        qCDebug(lcWav) << "resampler engine refused, soxr =" << soxr;
    }
    av_channel_layout_uninit(&layout);
    return result;
}

// Resamples interleaved s16 one channel per filter. Two channels run on two threads: the
// filters are independent, and a render waits for this file before its encoder can start.
class Resampler {
public:
    static std::unique_ptr<Resampler> make(int channels, int inRate, int outRate) {
        auto r = std::unique_ptr<Resampler>(new Resampler);
        for (int c = 0; c < channels; ++c) {
            r->m_channels.push_back({makeMonoResampler(inRate, outRate), {}, {}, 0});
            if (!r->m_channels.back().swr)
                return nullptr;
        }
        return r;
    }

    /// Converts `frames` interleaved frames (nullptr drains the filters). Returns the number of
    /// frames now in output(), or -1 on failure.
    int convert(const int16_t* samples, int frames) {
        const int channels = int(m_channels.size());
        for (int c = 0; c < channels; ++c) {
            Channel& ch = m_channels[size_t(c)];
            ch.in.resize(size_t(frames));
            for (int f = 0; f < frames; ++f)
                ch.in[size_t(f)] = samples[f * channels + c];
        }
        auto run = [this, samples, frames](size_t c) {
            Channel& ch = m_channels[c];
            const int capacity = swr_get_out_samples(ch.swr.get(), frames) + 16;
            ch.out.resize(size_t(capacity));
            uint8_t* dst = reinterpret_cast<uint8_t*>(ch.out.data());
            const uint8_t* src = reinterpret_cast<const uint8_t*>(ch.in.data());
            ch.produced = swr_convert(ch.swr.get(), &dst, capacity, samples ? &src : nullptr, frames);
        };
        if (channels == 2) {
            std::thread second(run, size_t(1));
            run(0);
            second.join();
        } else {
            run(0);
        }
        const int produced = m_channels[0].produced;
        for (const Channel& ch : m_channels) {
            // Identical filters fed identical counts give identical counts.
            if (ch.produced != produced || produced < 0)
                return -1;
        }
        m_out.resize(size_t(produced) * size_t(channels));
        for (int c = 0; c < channels; ++c) {
            const Channel& ch = m_channels[size_t(c)];
            for (int f = 0; f < produced; ++f)
                m_out[size_t(f * channels + c)] = ch.out[size_t(f)];
        }
        return produced;
    }

    const int16_t* output() const { return m_out.data(); }

private:
    Resampler() = default;
    struct Channel {
        ff::ResamplerPtr swr;
        std::vector<int16_t> in;
        std::vector<int16_t> out;
        int produced;
    };
    std::vector<Channel> m_channels;
    std::vector<int16_t> m_out;
};

// Converts interleaved frames between one and two channels.
void convertChannels(const int16_t* in, int inChannels, int16_t* out, int outChannels,
                     int64_t frames) {
    if (inChannels == outChannels) {
        std::copy(in, in + frames * inChannels, out);
    } else if (inChannels == 2) {
        for (int64_t f = 0; f < frames; ++f)
            out[f] = int16_t((int(in[2 * f]) + int(in[2 * f + 1])) / 2);
    } else {
        for (int64_t f = 0; f < frames; ++f)
            out[2 * f] = out[2 * f + 1] = in[f];
    }
}

Error writeError(const QString& path, const QString& why) {
    return Error::environment(
        QStringLiteral("%1 could not be written: %2").arg(QDir::toNativeSeparators(path), why));
}

} // namespace

int64_t resampledFrames(int64_t frames, int inRate, int outRate) {
    if (inRate == outRate)
        return frames;
    return int64_t(std::llround(double(frames) * outRate / inRate));
}

Result<void> writeWavFile(const AudioSnapshot& audio, int64_t from, int64_t to,
                          const OutputFormat& format, const QString& path) {
    const AudioFormat src = audio.format();
    from = std::clamp<int64_t>(from, 0, audio.frames());
    to = std::clamp<int64_t>(to, from, audio.frames());
    if (!src.isValid() || to <= from)
        return Error::badInput(QStringLiteral("There is no audio to save."));
    if (format.channels < 0 || format.channels > 2 || format.sampleRate < 0 ||
        format.sampleRate > 768000)
        return Error::badInput(QStringLiteral("A WAV file cannot be written with %1 Hz and %2 "
                                              "channels.")
                                   .arg(format.sampleRate)
                                   .arg(format.channels));
    const int outRate = format.sampleRate > 0 ? format.sampleRate : src.sampleRate;
    const int outChannels = format.channels > 0 ? format.channels : src.channels;
    const int64_t outFrames = resampledFrames(to - from, src.sampleRate, outRate);
    const uint64_t dataBytes = uint64_t(outFrames) * uint64_t(outChannels) * 2;
    if (dataBytes > kWavMaxDataBytes)
        return Error::badInput(QStringLiteral("The audio is too long for a WAV file (4 GiB at "
                                              "most). Choose a shorter section."));

    std::unique_ptr<Resampler> swr;
    if (outRate != src.sampleRate) {
        swr = Resampler::make(outChannels, src.sampleRate, outRate);
        if (!swr)
            return Error::internal(
                QStringLiteral("The audio could not be converted to %1 Hz.").arg(outRate));
    }

    AtomicFile file(path);
    if (!file.open())
        return writeError(path, file.errorString());
    auto put = [&](const int16_t* samples, int64_t frames) {
        const qint64 bytes = frames * outChannels * 2;
        return bytes == 0 || file.write(reinterpret_cast<const char*>(samples), bytes);
    };
    if (!file.write(wavHeader(outRate, outChannels, uint32_t(dataBytes))))
        return writeError(path, file.errorString());

    std::vector<int16_t> in(size_t(kChunkFrames * src.channels));
    std::vector<int16_t> mixed(size_t(kChunkFrames * outChannels));
    int64_t written = 0;
    // Writes what the resampler gives, never past the exact target length.
    auto deliver = [&](const int16_t* samples, int64_t frames) {
        frames = std::min(frames, outFrames - written);
        if (frames <= 0)
            return true;
        written += frames;
        return put(samples, frames);
    };
    auto resample = [&](const int16_t* samples, int frames) -> bool {
        const int n = swr->convert(samples, frames);
        return n >= 0 && deliver(swr->output(), n);
    };

    for (int64_t pos = from; pos < to;) {
        const int64_t n = audio.read(pos, std::min(kChunkFrames, to - pos), in.data());
        if (n <= 0)
            break;
        pos += n;
        convertChannels(in.data(), src.channels, mixed.data(), outChannels, n);
        const bool ok = swr ? resample(mixed.data(), int(n)) : deliver(mixed.data(), n);
        if (!ok)
            return writeError(path, file.errorString());
    }
    if (swr) {
        // Drain what the filter holds back; a few frames may still be missing after that.
        for (int i = 0; i < 64 && written < outFrames; ++i) {
            const int64_t before = written;
            if (!resample(nullptr, 0))
                return writeError(path, file.errorString());
            if (written == before)
                break;
        }
    }
    if (written < outFrames) {
        const std::vector<int16_t> silence(size_t((outFrames - written) * outChannels), 0);
        if (!deliver(silence.data(), outFrames - written))
            return writeError(path, file.errorString());
    }
    if (!file.commit())
        return writeError(path, file.errorString());
    return {};
}

} // namespace chimora
