#include "platform/audio/BeatTimeline.h"

#include "platform/audio/BeatGrid.h"

#include <algorithm>
#include <cmath>

namespace chimora {

namespace {

constexpr int kChroma = FeatureStream::kChroma;
constexpr int kBands = FeatureStream::kBands;
constexpr int kDims = BeatFeatures::kDims;
// Where a song has no steady beat, its timeline counts in steps of this many seconds.
constexpr double kPseudoBeatSeconds = 0.5;
constexpr double kLongestBarSeconds = 2.8;

} // namespace

Timeline makeTimeline(const FeatureStream& f, const BeatGrid& grid) {
    Timeline t;
    t.hopsPerSecond = f.hopsPerSecond();
    const double hops = double(f.hops());
    if (grid.hasBeat()) {
        t.onBeat = true;
        t.beatsPerBar = grid.beatsPerBar;
        t.edges = grid.beats;
        while (t.edges.back() + grid.periodHops <= hops)
            t.edges.push_back(t.edges.back() + grid.periodHops);
        // A bar of over 2.8 s of four beats is as often two bars of a beat found at half the
        // tempo: its halves are the units then, so that a section can still start on the bar
        // that the music starts it on.
        if (t.beatsPerBar == 4 && 4 * grid.periodHops / t.hopsPerSecond > kLongestBarSeconds)
            t.beatsPerBar = 2;
        for (size_t b = size_t(grid.firstDownbeat % t.beatsPerBar); b < t.edges.size();
             b += size_t(t.beatsPerBar))
            t.bars.push_back(int(b));
    } else {
        const double step = kPseudoBeatSeconds * t.hopsPerSecond;
        for (double h = 0; h <= hops; h += step)
            t.edges.push_back(h);
        for (size_t b = 0; b < t.edges.size(); b += size_t(t.beatsPerBar))
            t.bars.push_back(int(b));
    }
    return t;
}

double dot(const float* a, const float* b) {
    double sum = 0;
    for (int k = 0; k < kDims; ++k)
        sum += double(a[k]) * b[k];
    return sum;
}

BeatFeatures beatFeatures(const FeatureStream& f, const Timeline& t) {
    const int n = t.beats();
    std::vector<double> v(size_t(n) * kDims, 0.0), power(size_t(n), 0.0);
    std::vector<int> ticks(size_t(n), 0), hops(size_t(n), 0);
    std::vector<double> flux(size_t(n), 0.0);
    int beat = 0;
    for (int64_t tick = 0; tick < f.ticks(); ++tick) {
        const double at = double(tick * FeatureStream::kHopsPerTick) + 2.5;
        while (beat + 1 < n && t.edges[size_t(beat) + 1] <= at)
            ++beat;
        if (at < t.edges[0] || at >= t.edges.back())
            continue;
        const float* x = f.tick(tick);
        for (int k = 0; k < kDims; ++k)
            v[size_t(beat) * kDims + size_t(k)] += x[k];
        ++ticks[size_t(beat)];
    }
    beat = 0;
    for (int64_t h = 0; h < f.hops(); ++h) {
        const double at = double(h) + 2; // a hop's power is that of its window's last quarter
        while (beat + 1 < n && t.edges[size_t(beat) + 1] <= at)
            ++beat;
        if (at < t.edges[0] || at >= t.edges.back())
            continue;
        power[size_t(beat)] += f.power(h);
        flux[size_t(beat)] += f.flux(h);
        ++hops[size_t(beat)];
    }
    BeatFeatures out;
    out.levelDb.resize(size_t(n));
    out.activity.resize(size_t(n));
    for (int b = 0; b < n; ++b) {
        out.activity[size_t(b)] = flux[size_t(b)] / std::max(1, hops[size_t(b)]);
        out.levelDb[size_t(b)] =
            10 * std::log10(power[size_t(b)] / std::max(1, hops[size_t(b)]) + 1e-10);
        double* x = &v[size_t(b) * kDims];
        double norm = 1e-9;
        for (int k = 0; k < kChroma; ++k)
            norm += x[k] * x[k];
        norm = std::sqrt(norm);
        for (int k = 0; k < kChroma; ++k)
            x[k] /= norm;
        for (int k = kChroma; k < kDims; ++k)
            x[k] = std::log10(x[k] / std::max(1, ticks[size_t(b)]) + 1e-9);
    }
    // Each kind centred on the song's average, so that unrelated beats score about zero, and
    // scaled as a group so that both kinds weigh the same: a band holding only steady noise
    // must stay small rather than be blown up to count as much as the rest.
    const auto standardise = [&](int first, int count) {
        double square = 0;
        for (int k = first; k < first + count; ++k) {
            double mean = 0;
            for (int b = 0; b < n; ++b)
                mean += v[size_t(b) * kDims + size_t(k)];
            mean /= std::max(1, n);
            for (int b = 0; b < n; ++b) {
                double& x = v[size_t(b) * kDims + size_t(k)];
                x -= mean;
                square += x * x;
            }
        }
        const double scale = 1.0 / (std::sqrt(square / (double(std::max(1, n)) * count)) + 1e-9);
        for (int b = 0; b < n; ++b)
            for (int k = first; k < first + count; ++k)
                v[size_t(b) * kDims + size_t(k)] *= scale;
    };
    standardise(0, kChroma);
    standardise(kChroma, kBands);
    out.vectors.resize(v.size());
    for (int b = 0; b < n; ++b) {
        double norm = 1e-9;
        for (int k = 0; k < kDims; ++k)
            norm += v[size_t(b) * kDims + size_t(k)] * v[size_t(b) * kDims + size_t(k)];
        norm = std::sqrt(norm);
        for (int k = 0; k < kDims; ++k)
            out.vectors[size_t(b) * kDims + size_t(k)] =
                float(v[size_t(b) * kDims + size_t(k)] / norm);
    }
    return out;
}

double mean(const std::vector<double>& v, int start, int end) {
    double sum = 0;
    for (int b = start; b < end; ++b)
        sum += v[size_t(b)];
    return sum / std::max(1, end - start);
}

// How clearly the music changes at each beat: a checkerboard kernel two bars wide slid along
// the similarity's diagonal, 0 to 1.
std::vector<double> novelty(const BeatFeatures& bf, const Timeline& t) {
    const int n = t.beats();
    const int half = std::clamp(2 * t.beatsPerBar, 4, 16);
    const double sigma = half / 2.0;
    std::vector<double> out(size_t(n) + 1, 0.0);
    double highest = 0;
    for (int b = 1; b < n; ++b) {
        double sum = 0;
        for (int x = -half; x < half; ++x) {
            if (b + x < 0 || b + x >= n)
                continue;
            for (int y = x + 1; y < half; ++y) {
                if (b + y < 0 || b + y >= n)
                    continue;
                const double taper = std::exp(-((x + 0.5) * (x + 0.5) + (y + 0.5) * (y + 0.5)) /
                                              (2 * sigma * sigma));
                const double sign = (x < 0) == (y < 0) ? 1.0 : -1.0;
                sum += 2 * sign * taper * dot(bf.at(b + x), bf.at(b + y));
            }
        }
        out[size_t(b)] = std::max(0.0, sum);
        highest = std::max(highest, out[size_t(b)]);
    }
    if (highest > 0)
        for (double& v : out)
            v /= highest;
    return out;
}

} // namespace chimora
