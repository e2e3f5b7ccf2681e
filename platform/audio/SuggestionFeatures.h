#pragma once
// The front end of the section suggestion: turns audio fed to it in order, block by block, into
// the few numbers per short frame that the analysis needs, and keeps only those (about 2.5 MB
// an hour of audio), never the samples.

#include "platform/audio/AudioTypes.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace chimora {

class FeatureStream {
public:
    /// Analysis frames: 1024 samples every 256 of the audio mixed to mono at about 11 kHz.
    static constexpr int kFftSize = 1024;
    static constexpr int kHop = 256;
    /// Pitch classes (C first) and spectral bands pooled over this many hops (a "tick").
    static constexpr int kHopsPerTick = 4;
    static constexpr int kChroma = 12;
    static constexpr int kBands = 12;
    /// Level is also kept in steps of this many analysis samples, to place onsets finely.
    static constexpr int kFineStep = 32;

    explicit FeatureStream(AudioFormat format);
    ~FeatureStream();
    FeatureStream(const FeatureStream&) = delete;
    FeatureStream& operator=(const FeatureStream&) = delete;

    /// Takes `frames` interleaved frames of the format given at construction.
    void feed(const int16_t* interleaved, int64_t frames);

    AudioFormat format() const { return m_format; }
    /// Frames of the audio per analysis sample.
    int decimation() const { return m_decimation; }
    double analysisRate() const { return m_rate; }
    double hopsPerSecond() const { return m_rate / kHop; }
    int64_t framesFed() const { return m_framesFed; }
    int64_t hops() const { return int64_t(m_flux.size()); }
    int64_t ticks() const { return int64_t(m_tickValues.size()) / (kChroma + kBands); }
    /// Bytes held by the kept features.
    size_t memoryBytes() const;

    /// Onset strength of hop `n`: the summed rise of log magnitudes since the hop before, over
    /// all bins and over the bass range only.
    float flux(int64_t n) const { return m_flux[size_t(n)]; }
    float bassFlux(int64_t n) const { return m_bassFlux[size_t(n)]; }
    /// Mean power of hop `n`'s new samples (linear, full scale 1).
    float power(int64_t n) const { return m_power[size_t(n)]; }
    /// Pitch-class magnitudes (kChroma values) then band powers (kBands) of tick `t`.
    const float* tick(int64_t t) const;
    /// Level in dB of fine step `i` (analysis samples [i * kFineStep, (i + 1) * kFineStep)).
    double fineLevelDb(int64_t i) const;
    int64_t fineSteps() const { return int64_t(m_fine.size()); }

private:
    void analyseFrame(const float* samples);

    struct Fft;
    AudioFormat m_format;
    int m_decimation = 1;
    double m_rate = 0;
    int64_t m_framesFed = 0;
    std::unique_ptr<Fft> m_fft;
    std::vector<int> m_pitchClass, m_band;
    std::vector<float> m_window, m_previous, m_current;
    bool m_havePrevious = false;
    // Mono samples not yet consumed by a frame, and the decimation run in progress.
    std::vector<float> m_pending;
    double m_runSum = 0;
    int m_runLength = 0;
    double m_fineSum = 0;
    int m_fineLength = 0;
    double m_hopPower = 0;
    // Sums of the tick being filled.
    std::vector<double> m_tickSum;
    int m_tickHops = 0;

    // Chunked storage: an hour must not need one large block nor leave half a doubled one.
    std::deque<float> m_flux, m_bassFlux, m_power, m_tickValues;
    std::deque<uint8_t> m_fine;
};

} // namespace chimora
