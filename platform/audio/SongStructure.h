#pragma once
// The repeated sections of a song: beat-synchronous harmony and timbre compared at every lag
// (a self-similarity read along its diagonals, never held whole, and only up to 7 minutes
// apart), candidate stretches from bar line to bar line scored by how often and how closely
// they recur; the best few grow into whole sections where their instances agree bar by bar,
// and those are compared as sections.

#include <atomic>
#include <cstdint>
#include <vector>

namespace chimora {

class FeatureStream;
struct BeatGrid;

struct FoundSection {
    double startHop = 0; ///< hop times, as the beat grid's
    double endHop = 0;
    /// 0 the chorus (the most repeated section), 1 the next most repeated one, -1 no repeat:
    /// the loudest stretch.
    int group = 0;
    int instances = 1; ///< how often the section's material is heard in all
    bool onBeat = false;
    double score = 0;
};

struct StructureLimits {
    double shortestSeconds = 8;   ///< a section of fewer seconds is not a section
    double longestSeconds = 40;   ///< nor one of more
    double selectionSeconds = 30; ///< a longer section ends at the last bar line before this
    double fallbackSeconds = 20;  ///< the length taken where nothing repeats
    int maxSections = 3;
};

/// Best first: the chorus instance to suggest, the chorus's other instances, then the next most
/// repeated section; all within the audio. Empty when `cancel` became true.
std::vector<FoundSection> findSections(const FeatureStream& features, const BeatGrid& grid,
                                       const StructureLimits& limits,
                                       const std::atomic<bool>* cancel);

} // namespace chimora
