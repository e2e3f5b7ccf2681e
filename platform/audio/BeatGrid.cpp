#include "platform/audio/BeatGrid.h"

#include "platform/audio/SuggestionFeatures.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace chimora {

namespace {

bool isCancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Onsets against their local average, so slow swells in level do not count as beats, in units
// of their own spread.
std::vector<float> onsetCurve(const FeatureStream& f, double hopsPerSecond) {
    const int64_t n = f.hops();
    const int64_t half = std::max<int64_t>(1, std::lround(hopsPerSecond / 4));
    std::vector<double> prefix(size_t(n + 1), 0.0);
    for (int64_t i = 0; i < n; ++i)
        prefix[size_t(i + 1)] = prefix[size_t(i)] + f.flux(i);
    std::vector<float> o(size_t(n), 0.0f);
    double square = 0;
    for (int64_t i = 0; i < n; ++i) {
        const int64_t a = std::max<int64_t>(0, i - half), b = std::min(n, i + half + 1);
        const double local = (prefix[size_t(b)] - prefix[size_t(a)]) / double(b - a);
        o[size_t(i)] = float(std::max(0.0, f.flux(i) - local));
        square += double(o[size_t(i)]) * o[size_t(i)];
    }
    const double spread = std::sqrt(square / std::max<int64_t>(1, n)) + 1e-9;
    for (float& v : o)
        v = float(v / spread);
    return o;
}

// The beat period in hops, preferring tempos near 110 a minute; 0 when the onsets show no
// clear periodicity.
double beatPeriod(const FeatureStream& f, const std::vector<float>& o, double hopsPerSecond) {
    const int64_t n = int64_t(o.size());
    // A steady tone's spectrum flickers periodically too, but by a hair: real onsets add up to
    // a few hundredths of a unit (the log of a magnitude) a frame even in quiet music.
    double fluxSum = 0, onsetSum = 0;
    {
        const int64_t half = std::max<int64_t>(1, std::lround(hopsPerSecond / 2));
        std::vector<double> prefix(size_t(n + 1), 0.0);
        for (int64_t i = 0; i < n; ++i)
            prefix[size_t(i + 1)] = prefix[size_t(i)] + f.flux(i);
        for (int64_t i = 0; i < n; ++i) {
            const int64_t a = std::max<int64_t>(0, i - half), b = std::min(n, i + half + 1);
            onsetSum +=
                std::max(0.0, f.flux(i) - (prefix[size_t(b)] - prefix[size_t(a)]) / double(b - a));
        }
        fluxSum = prefix[size_t(n)];
    }
    const double fluxMean = fluxSum / double(n), onsetMean = onsetSum / double(n);
    if (!(fluxMean > 0) || onsetMean < 0.05 || onsetMean < 0.03 * fluxMean)
        return 0;

    const auto correlation = [&](int64_t lag) {
        double sum = 0;
        for (int64_t i = 0; i + lag < n; ++i)
            sum += double(o[size_t(i)]) * o[size_t(i + lag)];
        return sum / double(n - lag);
    };
    const int64_t minLag = std::max<int64_t>(2, int64_t(std::floor(0.3 * hopsPerSecond)));
    const int64_t maxLag = int64_t(std::ceil(1.1 * hopsPerSecond));
    if (3 * maxLag * 4 >= n)
        return 0;
    std::vector<double> r(size_t(3 * maxLag + 2), 0.0);
    const double zero = correlation(0);
    if (zero <= 0)
        return 0;
    for (int64_t lag = 1; lag <= 3 * maxLag + 1; ++lag)
        r[size_t(lag)] = correlation(lag) / zero;
    int64_t best = -1;
    double bestWeighted = 0;
    for (int64_t lag = minLag; lag <= maxLag; ++lag) {
        if (r[size_t(lag)] < r[size_t(lag - 1)] || r[size_t(lag)] < r[size_t(lag + 1)])
            continue;
        const double octaves = std::log2(lag / hopsPerSecond / (60.0 / 110));
        // A beat is also a beat two and three periods on.
        const double support =
            r[size_t(lag)] + 0.5 * r[size_t(2 * lag)] + 0.25 * r[size_t(3 * lag)];
        const double weighted = support * std::exp(-0.5 * octaves * octaves);
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

    // Refine on multiples of the period: the peak near 8 periods pins one period 8 times more
    // finely.
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

// Beats by dynamic programming: the best chain of strong onsets spaced about one period apart.
std::vector<double> trackBeats(const std::vector<float>& o, double period,
                               const std::atomic<bool>* cancel) {
    constexpr double kTightness = 300;
    const int64_t n = int64_t(o.size());
    std::vector<float> score(static_cast<size_t>(n));
    std::vector<int32_t> back(size_t(n), -1);
    const int64_t nearest = std::max<int64_t>(1, std::lround(period / 2));
    const int64_t farthest = std::lround(period * 2);
    std::vector<float> cost(size_t(farthest + 1));
    for (int64_t d = nearest; d <= farthest; ++d) {
        const double l = std::log(double(d) / period);
        cost[size_t(d)] = float(kTightness * l * l);
    }
    for (int64_t t = 0; t < n; ++t) {
        if ((t & 4095) == 0 && isCancelled(cancel))
            return {};
        float best = 0;
        int32_t from = -1;
        for (int64_t d = nearest; d <= farthest && d <= t; ++d) {
            const float v = score[size_t(t - d)] - cost[size_t(d)];
            if (v > best) {
                best = v;
                from = int32_t(t - d);
            }
        }
        score[size_t(t)] = o[size_t(t)] + best;
        back[size_t(t)] = from;
    }
    int64_t last = std::max<int64_t>(0, n - farthest);
    for (int64_t t = last; t < n; ++t)
        if (score[size_t(t)] > score[size_t(last)])
            last = t;
    std::vector<double> beats;
    for (int64_t t = last; t >= 0; t = back[size_t(t)]) {
        // Between hops: the top of a parabola through the onset and its neighbours.
        double offset = 0;
        if (t > 0 && t + 1 < n) {
            const double a = o[size_t(t - 1)], b = o[size_t(t)], c = o[size_t(t + 1)];
            const double curve = a - 2 * b + c;
            if (curve < 0)
                offset = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
        }
        beats.push_back(double(t) + offset);
    }
    std::reverse(beats.begin(), beats.end());
    return beats;
}

// Meter and downbeat: chords change and the bass strikes mostly at the start of a bar, so the
// beat count that makes one phase stand out most is the bar's length.
void findMeter(const FeatureStream& f, BeatGrid& grid) {
    const size_t count = grid.beats.size();
    if (count < 16)
        return;
    constexpr int kChroma = FeatureStream::kChroma;
    std::vector<double> chroma(count * kChroma, 0.0);
    const int64_t ticks = f.ticks();
    size_t beat = 0;
    for (int64_t t = 0; t < ticks; ++t) {
        const double at = double(t * FeatureStream::kHopsPerTick) + 2.5;
        while (beat + 1 < count && grid.beats[beat + 1] <= at)
            ++beat;
        if (at < grid.beats[0] || (beat + 1 == count && at > grid.beats[beat] + grid.periodHops))
            continue;
        const float* v = f.tick(t);
        for (int k = 0; k < kChroma; ++k)
            chroma[beat * kChroma + size_t(k)] += v[k];
    }
    for (size_t b = 0; b < count; ++b) {
        double norm = 1e-9;
        for (int k = 0; k < kChroma; ++k)
            norm += chroma[b * kChroma + size_t(k)] * chroma[b * kChroma + size_t(k)];
        norm = std::sqrt(norm);
        for (int k = 0; k < kChroma; ++k)
            chroma[b * kChroma + size_t(k)] /= norm;
    }
    std::vector<double> change(count, 0.0), bass(count, 0.0);
    for (size_t b = 1; b < count; ++b) {
        double dot = 0;
        for (int k = 0; k < kChroma; ++k)
            dot += chroma[(b - 1) * kChroma + size_t(k)] * chroma[b * kChroma + size_t(k)];
        change[b] = 1 - dot;
    }
    for (size_t b = 0; b < count; ++b) {
        const int64_t h = std::llround(grid.beats[b]);
        for (int64_t k = std::max<int64_t>(0, h - 1); k <= std::min(f.hops() - 1, h + 1); ++k)
            bass[b] = std::max(bass[b], double(f.bassFlux(k)));
    }
    const auto standardise = [](std::vector<double>& v) {
        const double mean = std::accumulate(v.begin(), v.end(), 0.0) / double(v.size());
        double square = 0;
        for (double x : v)
            square += (x - mean) * (x - mean);
        const double spread = std::sqrt(square / double(v.size())) + 1e-9;
        for (double& x : v)
            x = (x - mean) / spread;
    };
    standardise(change);
    standardise(bass);

    double bestContrast = -1e9;
    for (const int meter : {4, 3, 2}) {
        std::vector<double> sum(size_t(meter), 0.0);
        std::vector<int> n(size_t(meter), 0);
        for (size_t b = 1; b < count; ++b) {
            sum[b % size_t(meter)] += change[b] + 0.5 * bass[b];
            ++n[b % size_t(meter)];
        }
        int phase = 0;
        double others = 0;
        for (int p = 0; p < meter; ++p) {
            sum[size_t(p)] /= std::max(1, n[size_t(p)]);
            if (sum[size_t(p)] > sum[size_t(phase)])
                phase = p;
        }
        for (int p = 0; p < meter; ++p)
            if (p != phase)
                others += sum[size_t(p)];
        const double contrast = sum[size_t(phase)] - others / (meter - 1);
        // Four to a bar unless another count shows clearly more.
        if (contrast > bestContrast + (meter == 4 ? 0.0 : 0.1 * std::abs(bestContrast))) {
            bestContrast = contrast;
            grid.beatsPerBar = meter;
            grid.firstDownbeat = phase;
        }
    }
}

} // namespace

BeatGrid findBeatGrid(const FeatureStream& f, const std::atomic<bool>* cancel) {
    BeatGrid grid;
    const double hopsPerSecond = f.hopsPerSecond();
    if (f.hops() < 8 * hopsPerSecond)
        return grid;
    const std::vector<float> o = onsetCurve(f, hopsPerSecond);
    const double period = beatPeriod(f, o, hopsPerSecond);
    if (period <= 0 || isCancelled(cancel))
        return grid;
    grid.beats = trackBeats(o, period, cancel);
    if (grid.beats.size() < 8)
        return {};
    grid.periodHops = (grid.beats.back() - grid.beats.front()) / double(grid.beats.size() - 1);
    findMeter(f, grid);
    return grid;
}

} // namespace chimora
