#include "platform/audio/SectionSuggester.h"

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/tx.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numeric>

// How the suggestion is found:
//  1. The song is mixed to mono at about 11 kHz and cut into short overlapping frames; each
//     frame's spectrum gives pitch-class energies (harmony), band energies (timbre) and the
//     rise in level since the previous frame (onsets).
//  2. Frames are pooled into half-second segments. Every pair of segments gets a similarity, so
//     a passage heard again later shows as a run of similar pairs along a diagonal.
//  3. Each possible 20-second window scores by how strongly it recurs elsewhere (its best few
//     diagonal matches), by how loud it is compared with the rest of the song, and by whether
//     it begins where the music changes (a section boundary).
//  4. The onset curve gives the beat period; the chosen window then starts on the beat onset
//     nearest to its start and lasts a whole number of bars, so it repeats in time.

namespace chimora {

namespace {

constexpr double kAnalysisRate = 11025;
constexpr int kFftSize = 1024;
constexpr int kHop = 256;
constexpr int kBins = kFftSize / 2 + 1;
constexpr double kSegmentSeconds = 0.5;
// Longer audio gets longer segments, so the similarity table stays a few megabytes.
constexpr int kMaxSegments = 1200;
constexpr int kChroma = 12;
constexpr int kBands = 12;
constexpr int kFeatures = kChroma + kBands;
constexpr int kRepeatsCounted = 3;
constexpr int kMaxCandidates = 5;
// Weights of loudness and of starting on a boundary against repetition (0 to 3).
constexpr double kLoudnessWeight = 0.35;
constexpr double kBoundaryWeight = 0.5;
constexpr int kBeatsPerBar = 4;

struct TxDeleter {
    void operator()(AVTXContext* c) const { av_tx_uninit(&c); }
};
using TxPtr = std::unique_ptr<AVTXContext, TxDeleter>;

// Natural log of 1 + x for x >= 0, to about 0.01: the onset curve takes one for every bin of
// every frame, and the library call is the largest cost of the whole analysis.
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

bool isCancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Mono, decimated by averaging runs of `decimation` frames. Enough for pitch up to 4 kHz and for
// onsets; the little that folds back from above 5 kHz does not move either.
struct MonoSignal {
    std::vector<float> samples;
    int decimation = 1;
    double rate = 0;
};

MonoSignal downmix(const AudioSnapshot& audio) {
    MonoSignal out;
    const AudioFormat format = audio.format();
    out.decimation = std::max(1, int(std::lround(format.sampleRate / kAnalysisRate)));
    out.rate = double(format.sampleRate) / out.decimation;
    const int channels = format.channels;
    const int dec = out.decimation;
    const int64_t count = audio.frames() / dec;
    out.samples.resize(size_t(count));
    const float scale = 1.0f / (32768.0f * float(channels * dec));
    const int64_t chunkOut = 16384;
    std::vector<int16_t> buffer(size_t(chunkOut * dec * channels));
    for (int64_t done = 0; done < count; done += chunkOut) {
        const int64_t n = std::min(chunkOut, count - done);
        audio.read(done * dec, n * dec, buffer.data());
        const int16_t* s = buffer.data();
        const int per = dec * channels;
        for (int64_t i = 0; i < n; ++i) {
            int sum = 0;
            for (int k = 0; k < per; ++k)
                sum += s[k];
            s += per;
            out.samples[size_t(done + i)] = float(sum) * scale;
        }
    }
    return out;
}

struct Features {
    int hopsPerSegment = 1;
    int segments = 0;
    std::vector<float> flux;      // onset strength per hop
    std::vector<float> vectors;   // [segment * kFeatures + k], unit length
    std::vector<float> loudness;  // dB per segment
};

// Euclidean length of `count` values; never zero, so silence can be divided by it.
double vectorLength(const double* x, int count) {
    double sum = 1e-9;
    for (int k = 0; k < count; ++k)
        sum += x[k] * x[k];
    return std::sqrt(sum);
}

bool analyseFrames(const MonoSignal& signal, Features& f, const std::atomic<bool>* cancel) {
    const int64_t length = int64_t(signal.samples.size());
    const int64_t frames = length < kFftSize ? 0 : (length - kFftSize) / kHop + 1;
    if (frames < 2)
        return false;
    const double hopsPerSecond = signal.rate / kHop;
    f.hopsPerSegment = std::max<int>(int(std::lround(kSegmentSeconds * hopsPerSecond)),
                                     int((frames + kMaxSegments - 1) / kMaxSegments));
    f.segments = int(frames / f.hopsPerSegment);
    if (f.segments < 2)
        return false;

    AVTXContext* raw = nullptr;
    av_tx_fn transform = nullptr;
    const float unit = 1.0f;
    if (av_tx_init(&raw, &transform, AV_TX_FLOAT_RDFT, 0, kFftSize, &unit, 0) < 0 || !raw)
        return false;
    TxPtr tx(raw);

    // Pitch class and band of each bin (-1: not used).
    std::vector<int> pitchClass(kBins, -1), band(kBins, -1);
    const double lowBand = 50.0, highBand = signal.rate / 2;
    for (int k = 1; k < kBins; ++k) {
        const double hz = k * signal.rate / kFftSize;
        if (hz >= 80 && hz <= 4000) {
            const double semis = 12 * std::log2(hz / 261.6256);
            pitchClass[size_t(k)] = ((int(std::lround(semis)) % 12) + 12) % 12;
        }
        if (hz >= lowBand)
            band[size_t(k)] = std::min(
                kBands - 1, int(kBands * std::log(hz / lowBand) / std::log(highBand / lowBand)));
    }
    std::vector<float> window(kFftSize);
    for (int i = 0; i < kFftSize; ++i)
        window[size_t(i)] = float(0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / kFftSize));

    struct AlignedFree {
        void operator()(void* p) const { av_free(p); }
    };
    std::unique_ptr<float, AlignedFree> in(
        static_cast<float*>(av_malloc(sizeof(float) * (kFftSize + 2))));
    std::unique_ptr<AVComplexFloat, AlignedFree> out(
        static_cast<AVComplexFloat*>(av_malloc(sizeof(AVComplexFloat) * (kBins + 1))));
    if (!in || !out)
        return false;

    f.flux.assign(size_t(frames), 0.0f);
    std::vector<double> chroma(size_t(f.segments) * kChroma, 0.0);
    std::vector<double> bands(size_t(f.segments) * kBands, 0.0);
    std::vector<float> previous(kBins, 0.0f), current(kBins);
    for (int64_t n = 0; n < frames; ++n) {
        if ((n & 255) == 0 && isCancelled(cancel))
            return false;
        const float* x = signal.samples.data() + n * kHop;
        for (int i = 0; i < kFftSize; ++i)
            in.get()[i] = x[i] * window[size_t(i)];
        transform(tx.get(), out.get(), in.get(), sizeof(float));
        // This FFmpeg leaves the imaginary part of the last bin (half the rate) unwritten; it
        // is zero for a real input.
        out.get()[kBins - 1].im = 0.0f;
        const int64_t segment = n / f.hopsPerSegment;
        const bool pooled = segment < f.segments;
        double* c = pooled ? &chroma[size_t(segment) * kChroma] : nullptr;
        double* b = pooled ? &bands[size_t(segment) * kBands] : nullptr;
        float rise = 0;
        for (int k = 1; k < kBins; ++k) {
            const float re = out.get()[k].re, im = out.get()[k].im;
            const float power = re * re + im * im;
            const float magnitude = std::sqrt(power);
            current[size_t(k)] = fastLog1p(magnitude);
            rise += std::max(0.0f, current[size_t(k)] - previous[size_t(k)]);
            if (pooled) {
                if (pitchClass[size_t(k)] >= 0)
                    c[pitchClass[size_t(k)]] += magnitude;
                if (band[size_t(k)] >= 0)
                    b[band[size_t(k)]] += power;
            }
        }
        f.flux[size_t(n)] = n == 0 ? 0.0f : rise;
        std::swap(previous, current);
    }

    // Loudness per segment from the samples themselves.
    const int64_t segmentSamples = int64_t(f.hopsPerSegment) * kHop;
    f.loudness.resize(size_t(f.segments));
    for (int s = 0; s < f.segments; ++s) {
        double energy = 0;
        const float* x = signal.samples.data() + s * segmentSamples;
        for (int64_t i = 0; i < segmentSamples; ++i)
            energy += double(x[i]) * x[i];
        f.loudness[size_t(s)] = float(10 * std::log10(energy / double(segmentSamples) + 1e-10));
    }

    // Harmony as shape (each segment's pitch classes to unit length), timbre as log band
    // energies; then each is centred on the song's average so that unrelated segments score about
    // zero, and scaled so that both kinds weigh the same.
    std::vector<double> v(size_t(f.segments) * kFeatures);
    for (int s = 0; s < f.segments; ++s) {
        const double norm = vectorLength(&chroma[size_t(s) * kChroma], kChroma);
        for (int k = 0; k < kChroma; ++k)
            v[size_t(s) * kFeatures + k] = chroma[size_t(s) * kChroma + k] / norm;
        for (int k = 0; k < kBands; ++k)
            v[size_t(s) * kFeatures + kChroma + k] =
                std::log10(bands[size_t(s) * kBands + k] / f.hopsPerSegment + 1e-6);
    }
    const auto standardise = [&](int first, int count) {
        double square = 0;
        for (int k = first; k < first + count; ++k) {
            double mean = 0;
            for (int s = 0; s < f.segments; ++s)
                mean += v[size_t(s) * kFeatures + k];
            mean /= f.segments;
            for (int s = 0; s < f.segments; ++s) {
                double& x = v[size_t(s) * kFeatures + k];
                x -= mean;
                square += x * x;
            }
        }
        // One scale for the whole group: a dimension that hardly varies (a band holding only
        // steady noise) must stay small rather than be blown up to count as much as the rest.
        const double scale = 1.0 / (std::sqrt(square / (double(f.segments) * count)) + 1e-9);
        for (int s = 0; s < f.segments; ++s)
            for (int k = first; k < first + count; ++k)
                v[size_t(s) * kFeatures + k] *= scale;
    };
    standardise(0, kChroma);
    standardise(kChroma, kBands);
    f.vectors.resize(v.size());
    for (int s = 0; s < f.segments; ++s) {
        const double norm = vectorLength(&v[size_t(s) * kFeatures], kFeatures);
        for (int k = 0; k < kFeatures; ++k)
            f.vectors[size_t(s) * kFeatures + k] = float(v[size_t(s) * kFeatures + k] / norm);
    }
    return true;
}

// The beat period in hops from the onset curve's autocorrelation, preferring tempos near
// 120 per minute; 0 when the curve has no clear periodicity.
double beatPeriodHops(const std::vector<float>& flux, double hopsPerSecond) {
    const int64_t n = int64_t(flux.size());
    // Onsets against their local average, so slow swells in level do not count as beats.
    const int64_t half = std::max<int64_t>(1, std::lround(hopsPerSecond / 2));
    std::vector<double> prefix(size_t(n + 1), 0.0);
    for (int64_t i = 0; i < n; ++i)
        prefix[size_t(i + 1)] = prefix[size_t(i)] + flux[size_t(i)];
    std::vector<double> o(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const int64_t a = std::max<int64_t>(0, i - half), b = std::min(n, i + half + 1);
        o[size_t(i)] = std::max(0.0, flux[size_t(i)] - (prefix[size_t(b)] - prefix[size_t(a)]) /
                                                          double(b - a));
    }
    const auto correlation = [&](int64_t lag) {
        double sum = 0;
        for (int64_t i = 0; i + lag < n; ++i)
            sum += o[size_t(i)] * o[size_t(i + lag)];
        return sum / double(n - lag);
    };
    // A steady tone's spectrum flickers periodically too, but by a hair: real onsets add up to
    // a few hundredths of a unit (the log of a magnitude) a frame even in quiet music.
    const double fluxMean = prefix[size_t(n)] / double(n);
    const double onsetMean = std::accumulate(o.begin(), o.end(), 0.0) / double(n);
    if (!(fluxMean > 0) || onsetMean < 0.05 || onsetMean < 0.03 * fluxMean)
        return 0;
    const double zero = correlation(0);
    if (zero <= 0)
        return 0;
    const int64_t minLag = std::max<int64_t>(2, int64_t(std::floor(0.3 * hopsPerSecond)));
    const int64_t maxLag = int64_t(std::ceil(1.0 * hopsPerSecond));
    if (maxLag * 4 >= n)
        return 0;
    std::vector<double> r(size_t(maxLag + 2), 0.0);
    for (int64_t lag = minLag - 1; lag <= maxLag + 1; ++lag)
        r[size_t(lag)] = correlation(lag) / zero;
    int64_t best = -1;
    double bestWeighted = 0;
    for (int64_t lag = minLag; lag <= maxLag; ++lag) {
        if (r[size_t(lag)] < r[size_t(lag - 1)] || r[size_t(lag)] < r[size_t(lag + 1)])
            continue;
        const double octaves = std::log2(lag / hopsPerSecond / 0.5);
        const double weighted = r[size_t(lag)] * std::exp(-0.5 * octaves * octaves);
        if (weighted > bestWeighted) {
            bestWeighted = weighted;
            best = lag;
        }
    }
    if (best < 0)
        return 0;
    // A steady beat correlates clearly better at its period than at lags in between.
    std::vector<double> sorted(r.begin() + minLag, r.begin() + maxLag + 1);
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    if (r[size_t(best)] < 0.2 || r[size_t(best)] - sorted[sorted.size() / 2] < 0.08)
        return 0;

    // Refine on a multiple of the period: the peak near 8 periods pins one period 8 times
    // more finely, which keeps the bar-length section end in time with the beat.
    double period = double(best);
    for (const int multiple : {2, 4, 8}) {
        const int64_t centre = std::lround(period * multiple);
        if (centre + 2 >= n / 2)
            break;
        int64_t peak = centre;
        double peakValue = -1;
        for (int64_t lag = centre - multiple / 2 - 1; lag <= centre + multiple / 2 + 1; ++lag) {
            const double value = correlation(lag);
            if (value > peakValue) {
                peakValue = value;
                peak = lag;
            }
        }
        const double a = correlation(peak - 1), b = peakValue, c = correlation(peak + 1);
        const double curve = a - 2 * b + c;
        const double offset = curve < 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
        period = (double(peak) + offset) / multiple;
    }
    return period;
}

// The onset in [from, to) (analysis samples) where the level rises most sharply, found on
// short bins of the samples themselves, finer than the spectral hops.
int64_t sharpestRise(const MonoSignal& signal, int64_t from, int64_t to) {
    constexpr int kBin = 32;
    constexpr int kBefore = 6; // bins of context before a rise
    const int64_t length = int64_t(signal.samples.size());
    from = std::clamp<int64_t>(from, kBin * kBefore, length);
    to = std::clamp<int64_t>(to, from, length - kBin);
    const auto binEnergy = [&](int64_t start) {
        double e = 1e-9;
        for (int64_t i = start; i < start + kBin; ++i)
            e += double(signal.samples[size_t(i)]) * signal.samples[size_t(i)];
        return e;
    };
    int64_t best = -1;
    double bestRise = 0;
    for (int64_t start = from; start < to; start += kBin / 2) {
        double before = 0;
        for (int k = 1; k <= kBefore; ++k)
            before += binEnergy(start - k * kBin);
        const double rise = std::log(binEnergy(start) / (before / kBefore));
        if (rise > bestRise) {
            bestRise = rise;
            best = start;
        }
    }
    return best;
}

struct BeatGrid {
    const MonoSignal* signal = nullptr;
    const std::vector<float>* flux = nullptr;
    double periodHops = 0;

    // Onset of the beat nearest to `sample` (analysis samples), or -1 when there is no beat.
    int64_t nearestBeat(int64_t sample) const {
        if (periodHops <= 0)
            return -1;
        const std::vector<float>& o = *flux;
        const int64_t n = int64_t(o.size());
        // A hop's flux reflects onsets near its window's middle.
        const double hopOffset = (kFftSize - kHop) / 2.0;
        const double here = (sample - hopOffset) / kHop;
        const auto at = [&](double h) {
            const int64_t i = int64_t(std::floor(h));
            if (i < 0 || i + 1 >= n)
                return 0.0;
            const double t = h - double(i);
            return double(o[size_t(i)]) * (1 - t) + double(o[size_t(i + 1)]) * t;
        };
        // The phase of the local beat grid: the one whose beats over a few bars around `here`
        // collect the most onset strength.
        const double first = here - 4 * periodHops;
        double bestPhase = 0, bestSum = -1;
        for (double phase = 0; phase < periodHops; phase += 0.25) {
            double sum = 0;
            for (int k = 0; k < 12; ++k)
                sum += at(first + phase + k * periodHops);
            if (sum > bestSum) {
                bestSum = sum;
                bestPhase = phase;
            }
        }
        if (bestSum <= 0)
            return -1;
        const double k = std::round((here - first - bestPhase) / periodHops);
        const double beatHop = first + bestPhase + k * periodHops;
        const int64_t centre = std::llround(beatHop * kHop + hopOffset);
        const int64_t reach = int64_t(1.5 * kHop);
        const int64_t onset = sharpestRise(*signal, centre - reach, centre + reach);
        return onset >= 0 ? onset : centre;
    }
};

} // namespace

SectionSuggester::SectionSuggester(const AudioSnapshot& audio, const std::atomic<bool>* cancel) {
    const AudioFormat format = audio.format();
    const int64_t total = audio.frames();
    if (!format.isValid() || total < format.sampleRate)
        return;
    const int64_t minFrames = std::llround(kMinSeconds * format.sampleRate);
    const int64_t maxFrames = std::llround(kMaxSeconds * format.sampleRate);
    if (total <= maxFrames) {
        m_sections.push_back({{0, total}, false, 0});
        return;
    }

    const MonoSignal signal = downmix(audio);
    Features f;
    if (isCancelled(cancel) || !analyseFrames(signal, f, cancel) || isCancelled(cancel))
        return;
    const double hopsPerSecond = signal.rate / kHop;
    const double segmentSeconds = f.hopsPerSegment / hopsPerSecond;
    const int n = f.segments;
    const int window = int(std::ceil(kMinSeconds / segmentSeconds));
    const int longest = std::max(window, int(std::floor(kMaxSeconds / segmentSeconds)));
    const int starts = n - window + 1; // windows that fit
    if (starts < 2) {
        m_sections.push_back({{0, std::min(total, maxFrames)}, false, 0});
        return;
    }

    // Similarity of every pair of segments.
    std::vector<float> similar(size_t(n) * n);
    for (int i = 0; i < n; ++i) {
        const float* a = &f.vectors[size_t(i) * kFeatures];
        for (int j = i; j < n; ++j) {
            const float* b = &f.vectors[size_t(j) * kFeatures];
            float dot = 0;
            for (int k = 0; k < kFeatures; ++k)
                dot += a[k] * b[k];
            similar[size_t(i) * n + j] = similar[size_t(j) * n + i] = dot;
        }
    }
    if (isCancelled(cancel))
        return;

    // How alike the windows starting at i and j are: the mean along their diagonal.
    std::vector<float> windows(size_t(starts) * starts, 0.0f);
    std::vector<double> run(size_t(n) + 1);
    for (int lag = 1; lag < starts; ++lag) {
        run[0] = 0;
        for (int i = 0; i + lag < n; ++i)
            run[size_t(i) + 1] = run[size_t(i)] + similar[size_t(i) * n + i + lag];
        for (int i = 0; i + lag < starts; ++i) {
            const float mean = float((run[size_t(i + window)] - run[size_t(i)]) / window);
            windows[size_t(i) * starts + i + lag] = windows[size_t(i + lag) * starts + i] = mean;
        }
    }

    // Repetition: the best few distinct places where each window is heard again.
    const int minLag = std::max(1, window / 2);
    std::vector<double> repetition(size_t(starts), 0.0);
    std::vector<std::vector<int>> repeats(static_cast<size_t>(starts));
    std::vector<std::pair<float, int>> peaks;
    for (int i = 0; i < starts; ++i) {
        const float* row = &windows[size_t(i) * starts];
        const auto usable = [&](int j) { return j >= 0 && j < starts && std::abs(j - i) >= minLag; };
        peaks.clear();
        for (int j = 0; j < starts; ++j) {
            if (!usable(j))
                continue;
            if ((usable(j - 1) && row[j - 1] > row[j]) || (usable(j + 1) && row[j + 1] > row[j]))
                continue;
            peaks.emplace_back(row[j], j);
        }
        std::sort(peaks.begin(), peaks.end(), std::greater<>());
        std::vector<int>& taken = repeats[size_t(i)];
        for (const auto& [value, lag] : peaks) {
            if (int(taken.size()) == kRepeatsCounted || value <= 0)
                break;
            const int j = lag; // a lambda may not capture a structured binding in every compiler
            if (std::any_of(taken.begin(), taken.end(),
                            [&](int t) { return std::abs(t - j) < minLag; }))
                continue;
            taken.push_back(j);
            repetition[size_t(i)] += value;
        }
    }

    // Loudness of each window against the other windows, in standard deviations.
    std::vector<double> loudness(static_cast<size_t>(starts));
    {
        std::vector<double> prefix(size_t(n) + 1, 0.0);
        for (int s = 0; s < n; ++s)
            prefix[size_t(s) + 1] = prefix[size_t(s)] + f.loudness[size_t(s)];
        double mean = 0, square = 0;
        for (int i = 0; i < starts; ++i) {
            loudness[size_t(i)] = (prefix[size_t(i + window)] - prefix[size_t(i)]) / window;
            mean += loudness[size_t(i)];
        }
        mean /= starts;
        for (double l : loudness)
            square += (l - mean) * (l - mean);
        const double deviation = std::sqrt(square / starts) + 1e-6;
        for (double& l : loudness)
            l = (l - mean) / deviation;
    }

    // Section boundaries: a checkerboard kernel slid along the similarity table's diagonal
    // peaks where the music before and after a point differ while each side is self-alike.
    std::vector<double> boundary(size_t(n) + 1, 0.0);
    {
        const int half = std::clamp(int(std::lround(8.0 / segmentSeconds)), 2, 16);
        const double sigma = half / 2.0;
        double highest = 0;
        for (int t = 1; t < n; ++t) {
            double sum = 0;
            for (int a = -half; a < half; ++a) {
                const int ia = t + a;
                if (ia < 0 || ia >= n)
                    continue;
                for (int b = -half; b < half; ++b) {
                    const int ib = t + b;
                    if (ib < 0 || ib >= n)
                        continue;
                    const double taper =
                        std::exp(-((a + 0.5) * (a + 0.5) + (b + 0.5) * (b + 0.5)) /
                                 (2 * sigma * sigma));
                    const double sign = (a < 0) == (b < 0) ? 1.0 : -1.0;
                    sum += sign * taper * similar[size_t(ia) * n + ib];
                }
            }
            boundary[size_t(t)] = std::max(0.0, sum);
            highest = std::max(highest, boundary[size_t(t)]);
        }
        if (highest > 0)
            for (double& b : boundary)
                b /= highest;
    }
    if (isCancelled(cancel))
        return;

    std::vector<double> score(static_cast<size_t>(starts));
    for (int i = 0; i < starts; ++i)
        score[size_t(i)] = repetition[size_t(i)] + kLoudnessWeight * loudness[size_t(i)] +
                           kBoundaryWeight * boundary[size_t(i)];

    const double periodHops = beatPeriodHops(f.flux, hopsPerSecond);
    const BeatGrid beats{&signal, &f.flux, periodHops};
    const int dec = signal.decimation;
    m_beatPeriodFrames = periodHops * kHop * dec;
    const int64_t segmentSamples = int64_t(f.hopsPerSegment) * kHop;
    const int64_t analysisTotal = int64_t(signal.samples.size());

    std::vector<bool> suppressed(size_t(starts), false);
    while (int(m_sections.size()) < kMaxCandidates) {
        int best = -1;
        for (int i = 0; i < starts; ++i)
            if (!suppressed[size_t(i)] && (best < 0 || score[size_t(i)] > score[size_t(best)]))
                best = i;
        if (best < 0)
            break;
        // Later candidates are other material: neither overlapping this one nor one of its
        // repeats.
        for (int i = std::max(0, best - longest); i < std::min(starts, best + longest); ++i)
            suppressed[size_t(i)] = true;
        for (int j : repeats[size_t(best)])
            for (int i = std::max(0, j - window / 2); i < std::min(starts, j + window / 2); ++i)
                suppressed[size_t(i)] = true;

        // The end: the clearest boundary in the allowed length, else the shortest length.
        int endSegment = best + window;
        for (int e = best + window; e <= std::min(n, best + longest); ++e)
            if (boundary[size_t(e)] > boundary[size_t(endSegment)])
                endSegment = e;
        if (boundary[size_t(endSegment)] < 0.2)
            endSegment = best + window;

        // Segment content starts half a window after the first hop's start.
        int64_t start = best * segmentSamples + (kFftSize - kHop) / 2;
        int64_t wanted = int64_t(endSegment - best) * segmentSamples;
        const int64_t minSamples = (minFrames + dec - 1) / dec;
        const int64_t maxSamples = maxFrames / dec;
        bool onBeat = false;
        const int64_t beat = beats.nearestBeat(start);
        if (beat >= 0) {
            start = beat;
            onBeat = true;
            // A whole number of bars, ending on the onset that begins the next bar.
            const double bar = kBeatsPerBar * periodHops * kHop;
            const int fewest = int(std::ceil(minSamples / bar));
            const int most = std::max(fewest, int(std::floor(maxSamples / bar)));
            const int bars = std::clamp(int(std::lround(wanted / bar)), fewest, most);
            const int64_t end = beats.nearestBeat(start + std::llround(bars * bar));
            wanted = end > start ? end - start : std::llround(bars * bar);
        }
        wanted = std::clamp(wanted, minSamples, maxSamples);
        start = std::clamp<int64_t>(start, 0, std::max<int64_t>(0, analysisTotal - wanted));
        const int64_t startFrame = std::min(total, start * dec);
        const int64_t endFrame = std::min(total, (start + wanted) * dec);
        m_sections.push_back({{startFrame, endFrame}, onBeat, score[size_t(best)]});
    }
}

} // namespace chimora
