#include "render/RingtoneShaping.h"

#include "platform/core/UniqueFd.h"
#include "render/LoudnessMeter.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>

namespace chimora {

namespace {

constexpr int64_t kChunkFrames = 16384;

struct PcmLayout {
    int channels = 0;
    int sampleRateHz = 0;
    qsizetype dataOffset = 0;
    int64_t frames = 0;
};

/// Finds the format and the samples of a 16-bit PCM WAV held in `bytes`. A data size past the
/// end of the file (a streaming header, a file cut short) is cut to what is there.
std::optional<PcmLayout> parsePcmWav(const QByteArray& bytes) {
    const auto u16 = [&](qsizetype at) {
        return qFromLittleEndian<quint16>(bytes.constData() + at);
    };
    const auto u32 = [&](qsizetype at) {
        return qFromLittleEndian<quint32>(bytes.constData() + at);
    };
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;
    PcmLayout layout;
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const qint64 size = u32(at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= bytes.size()) {
            const int tag = u16(body);
            const int bits = u16(body + 14);
            // WAVE_FORMAT_EXTENSIBLE carries the PCM tag in its sub-format GUID.
            const bool pcm = tag == 1 || (tag == 0xFFFE && size >= 40 &&
                                          body + 26 <= bytes.size() && u16(body + 24) == 1);
            if (!pcm || bits != 16)
                return std::nullopt;
            layout.channels = u16(body + 2);
            layout.sampleRateHz = int(u32(body + 4));
            haveFormat = layout.channels > 0 && layout.sampleRateHz > 0;
        } else if (id == "data") {
            if (!haveFormat)
                return std::nullopt;
            const qint64 available = std::min<qint64>(size, bytes.size() - body);
            layout.dataOffset = body;
            layout.frames = available / (2 * layout.channels);
            return layout;
        }
        at = body + size + (size & 1);
    }
    return std::nullopt;
}

/// The gain of both fades at each frame of a file of `total` frames.
class FadeEnvelope {
public:
    FadeEnvelope(const RenderShaping& shaping, int rateHz, int64_t total)
        : m_total(total), m_in(framesOf(shaping.fadeInSeconds, rateHz)),
          m_out(framesOf(shaping.fadeOutSeconds, rateHz)) {}

    double at(int64_t frame) const {
        double gain = 1.0;
        if (frame < m_in)
            gain *= double(frame) / double(m_in);
        const int64_t fromEnd = m_total - 1 - frame;
        if (fromEnd < m_out)
            gain *= double(fromEnd) / double(m_out);
        return gain;
    }
    /// True when no frame of [from, to) is faded.
    bool flat(int64_t from, int64_t to) const { return from >= m_in && to <= m_total - m_out; }

private:
    int64_t framesOf(double seconds, int rateHz) const {
        if (seconds <= 0)
            return 0;
        return std::min(m_total, std::max<int64_t>(1, std::llround(seconds * rateHz)));
    }
    int64_t m_total;
    int64_t m_in;
    int64_t m_out;
};

double toDb(double amplitude) {
    return amplitude > 0 ? 20.0 * std::log10(amplitude) : -HUGE_VAL;
}

/// How far a true peak may lie above the highest sample near it. A 4x oversampled meter reads
/// at most 3 dB more on a sine at a quarter of the rate; audio rarely comes near that.
constexpr double kOvershootDb = 4.0;
/// Frames fed before a run of chunks, so that the meter's filter does not start from silence
/// at a loud sample (its ringing would read as a peak).
constexpr int64_t kTruePeakLeadFrames = 64;

/// The highest true peak of the chunks whose sample peak lies within kOvershootDb of the
/// highest sample `samplePeak`: no other chunk can reach it. Each run of such chunks is
/// measured with a meter of its own. `faded(from, to)` gives the samples of frames [from, to)
/// (at most kChunkFrames).
template <typename Faded>
Result<double> truePeakNear(const std::vector<float>& chunkPeaks, float samplePeak, int channels,
                            int rateHz, int64_t frames, Faded&& faded) {
    const double threshold = samplePeak * std::pow(10.0, -kOvershootDb / 20.0);
    double highest = samplePeak;
    const int64_t chunks = int64_t(chunkPeaks.size());
    for (int64_t first = 0; first < chunks; ++first) {
        if (chunkPeaks[size_t(first)] < threshold)
            continue;
        int64_t last = first;
        while (last + 1 < chunks && chunkPeaks[size_t(last + 1)] >= threshold)
            ++last;
        auto meter = LoudnessMeter::create(channels, rateHz, LoudnessMeter::Measures::TruePeak);
        if (!meter.ok())
            return meter.error();
        const int64_t start = first * kChunkFrames;
        const int64_t lead = std::min(start, kTruePeakLeadFrames);
        if (lead > 0 && !meter->addFrames(faded(start - lead, start), lead))
            return Error::internal(QStringLiteral("The loudness meter failed."));
        for (int64_t from = start; from < std::min(frames, (last + 1) * kChunkFrames);
             from += kChunkFrames) {
            const int64_t to = std::min(frames, from + kChunkFrames);
            if (!meter->addFrames(faded(from, to), to - from))
                return Error::internal(QStringLiteral("The loudness meter failed."));
        }
        highest = std::max(highest, meter->truePeak());
        first = last;
    }
    return highest;
}

} // namespace

Result<ShapingOutcome> shapeWavFile(const QString& path, const RenderShaping& shaping) {
    const QString shown = QDir::toNativeSeparators(path);
    // The render's scratch file has a fixed name: a link put in its place is neither read nor
    // written through. Read and rewritten through the one descriptor.
    const UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    QFile out;
    if (!fd.isOpen() || !out.open(fd.get(), QIODevice::ReadWrite))
        return Error::environment(
            QStringLiteral("The prepared audio %1 could not be read.").arg(shown),
            fd.isOpen() ? out.errorString() : QString::fromLocal8Bit(std::strerror(errno)));
    QByteArray bytes = out.readAll();
    const std::optional<PcmLayout> layout = parsePcmWav(bytes);
    if (!layout)
        return Error::internal(
            QStringLiteral("The prepared audio %1 is not a 16-bit PCM WAV file.").arg(shown));

    ShapingOutcome outcome;
    if (!shaping.changesAudio() || layout->frames == 0)
        return outcome;

    const int channels = layout->channels;
    char* const data = bytes.data() + layout->dataOffset;
    const FadeEnvelope fade(shaping, layout->sampleRateHz, layout->frames);
    const auto sample = [&](int64_t index) { return qFromLittleEndian<qint16>(data + 2 * index); };

    // The faded samples of frames [from, to), as floats in [-1, 1].
    std::vector<float> chunk(size_t(kChunkFrames * channels));
    const auto faded = [&](int64_t from, int64_t to) {
        const bool flat = fade.flat(from, to);
        float* out = chunk.data();
        for (int64_t f = from; f < to; ++f) {
            const float g = flat ? 1.0f : float(fade.at(f));
            for (int c = 0; c < channels; ++c)
                *out++ = float(sample(f * channels + c)) * (g / 32768.0f);
        }
        return chunk.data();
    };

    double gain = 1.0;
    if (shaping.evenLoudness) {
        auto meter = LoudnessMeter::create(channels, layout->sampleRateHz,
                                           LoudnessMeter::Measures::Loudness);
        if (!meter.ok())
            return meter.error();
        std::vector<float> chunkPeaks;
        for (int64_t from = 0; from < layout->frames; from += kChunkFrames) {
            const int64_t to = std::min(layout->frames, from + kChunkFrames);
            const float* samples = faded(from, to);
            float peak = 0;
            for (int64_t i = 0; i < (to - from) * channels; ++i)
                peak = std::max(peak, std::abs(samples[i]));
            chunkPeaks.push_back(peak);
            if (!meter->addFrames(samples, to - from))
                return Error::internal(QStringLiteral("The loudness meter failed."));
        }
        outcome.loudnessBeforeLufs = meter->integratedLufs();
        const float samplePeak = *std::max_element(chunkPeaks.begin(), chunkPeaks.end());
        if (std::isfinite(outcome.loudnessBeforeLufs) && samplePeak > 0) {
            outcome.gainDb = shaping.loudnessTargetLufs - outcome.loudnessBeforeLufs;
            // The true peak (four times the work of the loudness) matters only where the
            // samples come near the ceiling, and only in chunks near the highest sample.
            if (toDb(samplePeak) + outcome.gainDb > shaping.peakCeilingDbtp - kOvershootDb) {
                const auto truePeak = truePeakNear(chunkPeaks, samplePeak, channels,
                                                   layout->sampleRateHz, layout->frames, faded);
                if (!truePeak.ok())
                    return truePeak.error();
                outcome.truePeakBeforeDbtp = toDb(*truePeak);
                outcome.gainDb =
                    std::min(outcome.gainDb, shaping.peakCeilingDbtp - outcome.truePeakBeforeDbtp);
            } else {
                outcome.truePeakBeforeDbtp = toDb(samplePeak); // at least; no need to know more
            }
            gain = std::pow(10.0, outcome.gainDb / 20.0);
        }
    }

    // The file is the render's own scratch copy: only the changed runs of samples are written
    // back, in place (a fade alone touches a few KB).
    for (int64_t from = 0; from < layout->frames; from += kChunkFrames) {
        const int64_t to = std::min(layout->frames, from + kChunkFrames);
        const bool flat = fade.flat(from, to);
        if (flat && gain == 1.0)
            continue; // the middle of a file that is only faded stays bit for bit
        for (int64_t f = from; f < to; ++f) {
            const double g = flat ? gain : gain * fade.at(f);
            for (int c = 0; c < channels; ++c) {
                const int64_t i = f * channels + c;
                const long v = std::lround(double(sample(i)) * g);
                qToLittleEndian<qint16>(qint16(std::clamp<long>(v, -32768, 32767)), data + 2 * i);
            }
        }
        const qint64 offset = layout->dataOffset + from * channels * 2;
        const qint64 length = (to - from) * channels * 2;
        if (!out.seek(offset) || out.write(bytes.constData() + offset, length) != length)
            return Error::environment(
                QStringLiteral("The prepared audio %1 could not be rewritten.").arg(shown),
                out.errorString());
    }
    if (!out.flush())
        return Error::environment(
            QStringLiteral("The prepared audio %1 could not be rewritten.").arg(shown),
            out.errorString());
    return outcome;
}

} // namespace chimora
