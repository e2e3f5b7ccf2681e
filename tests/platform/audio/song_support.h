#pragma once
// Generated songs whose structure is known: intro, verses, pre-choruses, choruses, bridge and
// outro built from distinct generated material (chords, bass line, melody, drums) and laid out
// in a known order, with background noise and a tempo of their own. Shared by the suggestion
// test and the benchmark.

#include "platform/audio/AudioSnapshot.h"

#include <QString>

#include <memory>
#include <vector>

namespace songtest {

struct SongRecipe {
    QString name;
    double bpm = 120;
    QString pattern;        ///< one letter a section: I intro, V verse, P pre-chorus, C chorus,
                            ///< B bridge, O outro
    int chorusBars = 8;     ///< bars of 4 beats
    int verseBars = 8;
    double noiseDb = -40;   ///< background noise level (dB of full scale)
    double chorusLiftDb = 5; ///< chorus louder than the verses by this much
    bool drums = true;
    bool lastChorusUp = false; ///< the last chorus moves up a whole tone
    unsigned seed = 1;
};

/// The recipes the suggestion quality is measured on (ten songs of about three minutes).
std::vector<SongRecipe> knownSongs();

struct Song {
    std::shared_ptr<const chimora::AudioSnapshot> audio;
    std::vector<chimora::Selection> choruses; ///< frames of every chorus
    double beatFrames = 0;                    ///< one beat; beat k starts at k * beatFrames
    double seconds = 0;
};

/// Renders `recipe` as 16-bit audio at `rate` with `channels` (1 or 2). Deterministic.
Song makeSong(const SongRecipe& recipe, int rate, int channels);

/// Share (0 to 1) of `section` that lies inside one of `song`'s choruses.
double chorusShare(const Song& song, chimora::Selection section);

/// Distance in frames from `frame` to the nearest beat of `song`.
double beatDistance(const Song& song, int64_t frame);

} // namespace songtest
