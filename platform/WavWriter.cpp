#include "platform/WavWriter.h"

#include "platform/FfmpegPtr.h"
#include "platform/WavHeader.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace chimora {

namespace {

Q_LOGGING_CATEGORY(lcWav, "chimora.wav")

constexpr int64_t kChunkFrames = 16384;

// A resampler for interleaved s16 with the same channel count on both sides; the soxr engine
// where this FFmpeg has it, its own engine otherwise.
ff::ResamplerPtr makeResampler(int channels, int inRate, int outRate) {
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
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

    ff::ResamplerPtr swr;
    if (outRate != src.sampleRate) {
        swr = makeResampler(outChannels, src.sampleRate, outRate);
        if (!swr)
            return Error::internal(
                QStringLiteral("The audio could not be converted to %1 Hz.").arg(outRate));
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return writeError(path, file.errorString());
    auto put = [&](const int16_t* samples, int64_t frames) {
        const qint64 bytes = frames * outChannels * 2;
        return bytes == 0 || file.write(reinterpret_cast<const char*>(samples), bytes) == bytes;
    };
    if (file.write(wavHeader(outRate, outChannels, uint32_t(dataBytes))) != 44)
        return writeError(path, file.errorString());

    std::vector<int16_t> in(size_t(kChunkFrames * src.channels));
    std::vector<int16_t> mixed(size_t(kChunkFrames * outChannels));
    std::vector<int16_t> resampled;
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
        const int capacity = swr_get_out_samples(swr.get(), frames) + 16;
        resampled.resize(size_t(capacity) * size_t(outChannels));
        uint8_t* dst = reinterpret_cast<uint8_t*>(resampled.data());
        const uint8_t* srcp = reinterpret_cast<const uint8_t*>(samples);
        const int n = swr_convert(swr.get(), &dst, capacity, samples ? &srcp : nullptr, frames);
        return n >= 0 && deliver(resampled.data(), n);
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
