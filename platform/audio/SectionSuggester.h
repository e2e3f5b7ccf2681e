#pragma once
// Finds the stretch of a song that makes the best ringtone: the most repeated, most energetic
// 20 to 30 seconds (its chorus, where it has one), judged from the audio alone, starting on a
// beat where the song has a steady one.

#include "platform/audio/AudioSnapshot.h"
#include "platform/audio/AudioTypes.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace chimora {

/// One suggested section, in frames of the analysed audio.
struct SuggestedSection {
    Selection frames;
    bool startsOnBeat = false; ///< the start was moved onto a detected beat onset
    double score = 0;          ///< higher is better; only comparable within one analysis
};

class SectionSuggester {
public:
    /// Shortest and longest section suggested (a section is only shorter when the audio is).
    static constexpr double kMinSeconds = 20.0;
    static constexpr double kMaxSeconds = 29.9;

    /// No audio, no sections.
    SectionSuggester() = default;

    /// Analyses `audio` (any rate, mono or stereo). Runs on the calling thread, any thread; a
    /// 4-minute song takes a small fraction of a second. Returns early with no sections when
    /// `cancel` becomes true.
    explicit SectionSuggester(const AudioSnapshot& audio,
                              const std::atomic<bool>* cancel = nullptr);

    /// Best first and non-overlapping; each starts away from those before it and from their
    /// closest repeats, so pressing on offers other parts of the song before the same part
    /// again. Empty for audio shorter than a second.
    const std::vector<SuggestedSection>& sections() const { return m_sections; }
    /// The song's beat period in frames; 0 when no steady beat was found.
    double beatPeriodFrames() const { return m_beatPeriodFrames; }

private:
    std::vector<SuggestedSection> m_sections;
    double m_beatPeriodFrames = 0;
};

} // namespace chimora
