#pragma once
// The beats of a song and how they group into bars, found from the onset strength and the
// harmony per analysis hop: the tempo from the onsets' periodicity, the beats by dynamic
// programming (each beat on a strong onset, one period after the last), then the meter (2, 3
// or 4 beats to a bar) and the downbeat from where the chords change and the bass strikes.

#include <atomic>
#include <cstdint>
#include <vector>

namespace chimora {

class FeatureStream;

struct BeatGrid {
    std::vector<double> beats; ///< beat times in hops (fractional), ascending
    double periodHops = 0;     ///< the average beat period; 0 when no steady beat was found
    int beatsPerBar = 4;
    int firstDownbeat = 0; ///< index into `beats` of the first downbeat (below beatsPerBar)

    bool hasBeat() const { return periodHops > 0; }
    bool isDownbeat(size_t beat) const {
        return beat >= size_t(firstDownbeat) &&
               (beat - size_t(firstDownbeat)) % size_t(beatsPerBar) == 0;
    }
};

/// Hop times are those of each analysis window's middle. Empty (no beat) when the onsets show
/// no clear periodicity, or when `cancel` became true.
BeatGrid findBeatGrid(const FeatureStream& features, const std::atomic<bool>* cancel);

} // namespace chimora
