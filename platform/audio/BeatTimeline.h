#pragma once
// The song counted in beats for the structure analysis: the beat grid (or fixed steps where the
// song has none) with its bar lines, harmony and timbre averaged per beat, and how clearly the
// music changes at each beat.

#include "platform/audio/SuggestionFeatures.h"

#include <vector>

namespace chimora {

struct BeatGrid;

// The song as a sequence of beats (or of fixed steps where it has none) with bar lines.
struct Timeline {
    std::vector<double> edges; ///< hop time of each beat's start, and one past the last beat
    std::vector<int> bars;     ///< beat index of each bar line, ascending, the last at the end
    int beatsPerBar = 4;
    bool onBeat = false;
    double hopsPerSecond = 1;

    int beats() const { return int(edges.size()) - 1; }
    double seconds(int beat) const { return edges[size_t(beat)] / hopsPerSecond; }
};

Timeline makeTimeline(const FeatureStream& f, const BeatGrid& grid);

// Per beat: harmony and timbre as one unit vector, the level in dB and the onset strength.
struct BeatFeatures {
    static constexpr int kDims = FeatureStream::kChroma + FeatureStream::kBands;
    std::vector<float> vectors; ///< [beat * kDims + k]
    std::vector<double> levelDb;
    std::vector<double> activity; ///< mean onset strength
    const float* at(int beat) const { return &vectors[size_t(beat) * kDims]; }
};

BeatFeatures beatFeatures(const FeatureStream& f, const Timeline& t);

/// The similarity of two beats' vectors, -1 to 1.
double dot(const float* a, const float* b);
/// Mean of v[start, end).
double mean(const std::vector<double>& v, int start, int end);
inline double meanLevel(const BeatFeatures& bf, int start, int end) {
    return mean(bf.levelDb, start, end);
}

/// How clearly the music changes at each beat (0 to 1), one value past the last beat.
std::vector<double> novelty(const BeatFeatures& bf, const Timeline& t);

} // namespace chimora
