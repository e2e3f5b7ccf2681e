#include "platform/audio/SuggestionAnalysis.h"

#include "platform/audio/BeatGrid.h"
#include "platform/audio/SongStructure.h"
#include "platform/audio/SuggestionFeatures.h"

#include <algorithm>
#include <cmath>

// How the suggestion is found:
//  1. While the audio is fed, it is mixed to mono at about 11 kHz and cut into short
//     overlapping frames; each frame's spectrum gives its rise in level (onsets, also of the
//     bass alone), pitch-class energies (harmony) and band energies (timbre). Only these are
//     kept (FeatureStream).
//  2. At the end the onsets give the tempo, the beats and, with the chord changes, the meter
//     and the downbeats (BeatGrid).
//  3. Harmony and timbre averaged per beat are compared along every diagonal of their
//     self-similarity; stretches from bar line to bar line that recur closely seed groups of
//     instances, which grow bar by bar while the instances agree (a phrase repeated within a
//     section becomes the whole section) and split where the level steps at a clear change (a
//     build-up and its drop). The group whose instances recur most closely, with clear edges
//     and loudest, is the chorus (SongStructure).
//  4. Here the section's beats become frames, on the sharpest rise in level near each beat.

namespace chimora {

namespace {

// Hop times are those of a frame's rise over the frame before: between their middles.
constexpr double kHopTimeOffset = (FeatureStream::kFftSize - FeatureStream::kHop) / 2.0;

// The analysis sample in [from, to) where the level rises most sharply against the few
// milliseconds before it; -1 when it nowhere rises.
int64_t sharpestRise(const FeatureStream& f, int64_t from, int64_t to) {
    constexpr int kBefore = 6;
    const int64_t step = FeatureStream::kFineStep;
    const int64_t first = std::max<int64_t>(kBefore, from / step);
    const int64_t last = std::min(f.fineSteps(), (to + step - 1) / step);
    int64_t best = -1;
    double bestRise = 3; // dB
    for (int64_t i = first; i < last; ++i) {
        double before = 0;
        for (int k = 1; k <= kBefore; ++k)
            before += std::pow(10.0, f.fineLevelDb(i - k) / 10);
        const double rise = f.fineLevelDb(i) - 10 * std::log10(before / kBefore + 1e-10);
        if (rise > bestRise) {
            bestRise = rise;
            best = i * step;
        }
    }
    return best;
}

} // namespace

SuggestionAnalysis::SuggestionAnalysis(AudioFormat format)
    : m_features(std::make_unique<FeatureStream>(format)) {}

SuggestionAnalysis::~SuggestionAnalysis() = default;

void SuggestionAnalysis::feed(const int16_t* interleaved, int64_t frames) {
    m_features->feed(interleaved, frames);
}

size_t SuggestionAnalysis::memoryBytes() const {
    return m_features->memoryBytes();
}

std::vector<SuggestedSection> SuggestionAnalysis::finish(const std::atomic<bool>* cancel) {
    const FeatureStream& f = *m_features;
    const AudioFormat format = f.format();
    const int64_t total = f.framesFed();
    m_beatPeriodFrames = 0;
    m_beatsPerBar = 0;
    if (!format.isValid() || total < format.sampleRate)
        return {};
    if (total <= std::llround(kSelectionSeconds * format.sampleRate))
        return {{{0, total}, false, 0, -1}};

    const BeatGrid grid = findBeatGrid(f, cancel);
    if (cancel && cancel->load())
        return {};
    const int dec = f.decimation();
    if (grid.hasBeat()) {
        m_beatPeriodFrames = grid.periodHops * FeatureStream::kHop * dec;
        m_beatsPerBar = grid.beatsPerBar;
    }
    StructureLimits limits;
    limits.shortestSeconds = kShortestSeconds;
    limits.longestSeconds = kLongestSeconds;
    limits.selectionSeconds = kSelectionSeconds;
    limits.fallbackSeconds = kFallbackSeconds;
    limits.maxSections = kMaxSections;
    const std::vector<FoundSection> found = findSections(f, grid, limits, cancel);
    if (cancel && cancel->load())
        return {};

    // A beat's frame: the sharpest rise within a hop and a half of its hop time.
    const auto frameOf = [&](double hop, bool onBeat) {
        int64_t sample = std::llround(hop * FeatureStream::kHop + kHopTimeOffset);
        if (onBeat) {
            const int64_t reach = 3 * FeatureStream::kHop / 2;
            const int64_t rise = sharpestRise(f, sample - reach, sample + reach);
            if (rise >= 0)
                sample = rise;
        }
        return std::clamp<int64_t>(sample * dec, 0, total);
    };
    std::vector<SuggestedSection> out;
    for (const FoundSection& s : found) {
        SuggestedSection section;
        section.frames = {frameOf(s.startHop, s.onBeat), frameOf(s.endHop, s.onBeat)};
        if (section.frames.isEmpty())
            continue;
        section.startsOnBeat = s.onBeat;
        section.score = s.score;
        section.group = s.group;
        out.push_back(section);
    }
    return out;
}

} // namespace chimora
