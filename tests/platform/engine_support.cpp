#include "engine_support.h"

#include "platform/wav/WavHeader.h"

#include <QFile>
#include <QtEndian>

#include <random>

namespace enginetest {

bool writeWav(const QString& path, int sampleRate, int channels,
              const std::vector<int16_t>& samples) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(chimora::wavHeader(sampleRate, channels, uint32_t(samples.size() * 2)));
    f.write(reinterpret_cast<const char*>(samples.data()), qint64(samples.size() * 2));
    return f.error() == QFile::NoError;
}

bool loadAndWait(chimora::AudioDocument& doc, const QString& path,
                 const chimora::RawPcmParams* raw) {
    doc.load(path, raw);
    doc.waitForLoad();
    return doc.loadError().isEmpty();
}

std::vector<int16_t> allSamples(const chimora::AudioSnapshot& audio) {
    std::vector<int16_t> out(size_t(audio.frames() * std::max(1, audio.format().channels)));
    audio.read(0, audio.frames(), out.data());
    return out;
}

WavData readWav(const QString& path) {
    WavData w;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return w;
    const QByteArray all = f.readAll();
    if (all.size() < 44 || !all.startsWith("RIFF") || all.mid(8, 4) != "WAVE" ||
        all.mid(36, 4) != "data")
        return w;
    w.channels = qFromLittleEndian<uint16_t>(all.constData() + 22);
    w.sampleRate = int(qFromLittleEndian<uint32_t>(all.constData() + 24));
    const uint32_t bytes = qFromLittleEndian<uint32_t>(all.constData() + 40);
    if (qsizetype(bytes) != all.size() - 44)
        return w;
    w.samples.resize(bytes / 2);
    memcpy(w.samples.data(), all.constData() + 44, bytes);
    w.ok = true;
    return w;
}

std::vector<int16_t> noiseWithPulses(int64_t frames, int channels, uint32_t seed,
                                     const std::vector<int64_t>& pulseFrames) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-3000, 3000);
    std::vector<int16_t> s(size_t(frames * channels));
    for (auto& v : s)
        v = int16_t(dist(rng));
    int sign = 1;
    for (int64_t f : pulseFrames) {
        if (f < 0 || f >= frames)
            continue;
        for (int c = 0; c < channels; ++c)
            s[size_t(f * channels + c)] = int16_t(sign > 0 ? 32767 - c : -32768 + c);
        sign = -sign;
    }
    return s;
}

} // namespace enginetest
