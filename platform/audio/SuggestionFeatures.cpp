#include "platform/audio/SuggestionFeatures.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

namespace chimora {

namespace {

constexpr double kTargetRate = 11025;
constexpr int kBins = FeatureStream::kFftSize / 2 + 1;
constexpr int kTickValues = FeatureStream::kChroma + FeatureStream::kBands;
constexpr double kBassTopHz = 200;

// Natural log of 1 + x for x >= 0, to about 0.01: taken for every bin of every frame, where the
// library call would be the largest cost of the analysis.
inline float fastLog1p(float x) {
    const float y = 1.0f + x;
    uint32_t bits;
    std::memcpy(&bits, &y, sizeof bits);
    const int exponent = int((bits >> 23) & 0xff) - 127;
    bits = (bits & 0x007fffffu) | 0x3f800000u; // mantissa in [1, 2)
    float m;
    std::memcpy(&m, &bits, sizeof m);
    // log2(m) on [1, 2) by a cubic; its small, smooth error cancels in frame-to-frame rises.
    const float t = m - 1.0f;
    const float log2m = t * (1.4425449f + t * (-0.7181452f + t * 0.2755905f));
    return (float(exponent) + log2m) * 0.69314718f;
}

struct AlignedFree {
    void operator()(void* p) const { av_free(p); }
};

} // namespace

struct FeatureStream::Fft {
    AVTXContext* context = nullptr;
    av_tx_fn transform = nullptr;
    std::unique_ptr<float, AlignedFree> in;
    std::unique_ptr<AVComplexFloat, AlignedFree> out;
    ~Fft() { av_tx_uninit(&context); }
};

FeatureStream::FeatureStream(AudioFormat format) : m_format(format) {
    if (!format.isValid())
        return;
    m_decimation = std::max(1, int(std::lround(format.sampleRate / kTargetRate)));
    m_rate = double(format.sampleRate) / m_decimation;

    auto fft = std::make_unique<Fft>();
    const float unit = 1.0f;
    fft->in.reset(static_cast<float*>(av_malloc(sizeof(float) * (kFftSize + 2))));
    fft->out.reset(static_cast<AVComplexFloat*>(av_malloc(sizeof(AVComplexFloat) * (kBins + 1))));
    if (!fft->in || !fft->out ||
        av_tx_init(&fft->context, &fft->transform, AV_TX_FLOAT_RDFT, 0, kFftSize, &unit, 0) < 0 ||
        !fft->context)
        return; // no analysis: the stream stays empty
    m_fft = std::move(fft);

    m_pitchClass.assign(kBins, -1);
    m_band.assign(kBins, -1);
    const double lowBand = 50.0, highBand = m_rate / 2;
    for (int k = 1; k < kBins; ++k) {
        const double hz = k * m_rate / kFftSize;
        if (hz >= 100 && hz <= 4000) {
            const double semis = 12 * std::log2(hz / 261.6256);
            m_pitchClass[size_t(k)] = ((int(std::lround(semis)) % 12) + 12) % 12;
        }
        if (hz >= lowBand)
            m_band[size_t(k)] = std::min(
                kBands - 1, int(kBands * std::log(hz / lowBand) / std::log(highBand / lowBand)));
    }
    m_window.resize(kFftSize);
    for (int i = 0; i < kFftSize; ++i)
        m_window[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / kFftSize));
    m_previous.assign(kBins, 0.0f);
    m_current.assign(kBins, 0.0f);
    m_tickSum.assign(kTickValues, 0.0);
    m_pending.reserve(kFftSize + 4096);
}

FeatureStream::~FeatureStream() = default;

size_t FeatureStream::memoryBytes() const {
    return (m_flux.size() + m_bassFlux.size() + m_power.size() + m_tickValues.size()) *
               sizeof(float) +
           m_fine.size();
}

const float* FeatureStream::tick(int64_t t) const {
    // A deque keeps each tick's values together only within a node; copy out when needed.
    thread_local float values[kTickValues];
    const size_t first = size_t(t) * kTickValues;
    for (int k = 0; k < kTickValues; ++k)
        values[k] = m_tickValues[first + size_t(k)];
    return values;
}

double FeatureStream::fineLevelDb(int64_t i) const {
    return m_fine[size_t(i)] * 0.5 - 100.0;
}

void FeatureStream::feed(const int16_t* interleaved, int64_t frames) {
    if (!m_fft || frames <= 0)
        return;
    m_framesFed += frames;
    const int channels = m_format.channels;
    const double scale = 1.0 / (32768.0 * channels * m_decimation);
    for (int64_t i = 0; i < frames; ++i) {
        int sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += interleaved[i * channels + c];
        m_runSum += sum;
        if (++m_runLength < m_decimation)
            continue;
        const float x = float(m_runSum * scale);
        m_runSum = 0;
        m_runLength = 0;
        m_pending.push_back(x);
        m_fineSum += double(x) * x;
        if (++m_fineLength == kFineStep) {
            const double db = 10 * std::log10(m_fineSum / kFineStep + 1e-10);
            m_fine.push_back(uint8_t(std::clamp(std::lround((db + 100.0) * 2), 0L, 255L)));
            m_fineSum = 0;
            m_fineLength = 0;
        }
        if (m_pending.size() == size_t(kFftSize)) {
            analyseFrame(m_pending.data());
            m_pending.erase(m_pending.begin(), m_pending.begin() + kHop);
        }
    }
}

void FeatureStream::analyseFrame(const float* x) {
    Fft& fft = *m_fft;
    for (int i = 0; i < kFftSize; ++i)
        fft.in.get()[i] = x[i] * m_window[size_t(i)];
    fft.transform(fft.context, fft.out.get(), fft.in.get(), sizeof(float));
    // This FFmpeg leaves the imaginary part of the last bin (half the rate) unwritten; it is
    // zero for a real input.
    fft.out.get()[kBins - 1].im = 0.0f;

    const int bassBins = int(kBassTopHz * kFftSize / m_rate);
    float rise = 0, bassRise = 0;
    for (int k = 1; k < kBins; ++k) {
        const float re = fft.out.get()[k].re, im = fft.out.get()[k].im;
        const float power = re * re + im * im;
        const float magnitude = std::sqrt(power);
        m_current[size_t(k)] = fastLog1p(magnitude);
        const float up = std::max(0.0f, m_current[size_t(k)] - m_previous[size_t(k)]);
        rise += up;
        if (k <= bassBins)
            bassRise += up;
        if (m_pitchClass[size_t(k)] >= 0)
            m_tickSum[size_t(m_pitchClass[size_t(k)])] += magnitude;
        if (m_band[size_t(k)] >= 0)
            m_tickSum[size_t(kChroma + m_band[size_t(k)])] += power;
    }
    m_flux.push_back(m_havePrevious ? rise : 0.0f);
    m_bassFlux.push_back(m_havePrevious ? bassRise : 0.0f);
    m_havePrevious = true;
    std::swap(m_previous, m_current);

    // The power of the samples this hop adds (the window's last hop).
    double energy = 0;
    for (int i = kFftSize - kHop; i < kFftSize; ++i)
        energy += double(x[i]) * x[i];
    m_power.push_back(float(energy / kHop));

    if (++m_tickHops == kHopsPerTick) {
        for (int k = 0; k < kTickValues; ++k)
            m_tickValues.push_back(float(m_tickSum[size_t(k)] / kHopsPerTick));
        std::fill(m_tickSum.begin(), m_tickSum.end(), 0.0);
        m_tickHops = 0;
    }
}

} // namespace chimora
