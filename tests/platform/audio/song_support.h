#pragma once
// Generated songs whose structure is known: intro, verses, pre-choruses, choruses, bridge and
// outro built from distinct generated material (chords, bass line, melody, drums) and laid out
// in a known order, with background noise and a tempo of their own. Shared by the suggestion
// test and the benchmark.

#include "platform/audio/AudioSnapshot.h"

#include <QString>
#include <QStringList>

#include <functional>

#include <memory>
#include <vector>

namespace songtest {

struct SongRecipe {
    QString name;
    double bpm = 120;
    QString pattern;    ///< one letter a section: I intro, V verse, P pre-chorus, C chorus,
                        ///< B bridge, O outro
    int chorusBars = 8; ///< bars of 4 beats
    int verseBars = 8;
    double noiseDb = -40;    ///< background noise level (dB of full scale)
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

namespace songtest {

/// A song of the rendered evaluation set (tests/data/chorus_songs.py): its WAV file and its
/// annotated sections.
struct RenderedSong {
    QString name;
    QString wavPath;
    double bpm = 0;
    int beatsPerBar = 4; ///< counted beats: 2 in 6/8
    struct Part {
        char label;
        double start, end; ///< seconds
    };
    std::vector<Part> parts;
};

/// Renders the songs named in `only` (all when empty) into `folder` at `rate` with the
/// generator and fluidsynth; a song rendered before with the same content is reused. Returns
/// the songs, or none with `error` set.
std::vector<RenderedSong> renderChorusSongs(const QString& folder, const QStringList& only,
                                            int rate, QString* error);

/// Feeds a 16-bit WAV file to `feed(format, samples, frames)` in blocks, as a loader would,
/// until it returns false. Returns false when the file cannot be read.
bool streamWav(const QString& path,
               const std::function<bool(chimora::AudioFormat, const int16_t*, int64_t)>& feed);

/// How a suggestion [start, end) (seconds) meets `song`'s choruses.
struct ChorusScore {
    double iou = 0;        ///< best intersection over union with one chorus instance
    double startError = 0; ///< seconds to the nearest chorus start
    double endError = 0;   ///< seconds from the end to that chorus's end (its last bar line
                           ///< before 30 s where it is longer)
};
ChorusScore scoreSuggestion(const RenderedSong& song, double start, double end);

} // namespace songtest
