#pragma once
// Finds the stretch of a song that makes the best ringtone: its chorus as a listener hears it
// (the most repeated, loudest section, from its first downbeat to its own end), judged from the
// audio alone; the loudest 20 seconds where nothing repeats.

#include "platform/audio/AudioSnapshot.h"
#include "platform/audio/SuggestionAnalysis.h"

#include <atomic>
#include <vector>

namespace chimora {

/// The whole analysis of one snapshot at once: SuggestionAnalysis fed every frame, then
/// finished, with the section edges put on zero crossings.
class SectionSuggester {
public:
    /// Shortest and longest section suggested (a section is only shorter when the audio is).
    static constexpr double kMinSeconds = SuggestionAnalysis::kShortestSeconds;
    static constexpr double kMaxSeconds = SuggestionAnalysis::kSelectionSeconds;

    /// No audio, no sections.
    SectionSuggester() = default;

    /// Analyses `audio` (any rate, mono or stereo). Runs on the calling thread, any thread; a
    /// 4-minute song takes a fraction of a second. Returns early with no sections when `cancel`
    /// becomes true.
    explicit SectionSuggester(const AudioSnapshot& audio,
                              const std::atomic<bool>* cancel = nullptr);

    /// Best first and non-overlapping: the chorus, its other instances, then the next most
    /// repeated section. Empty for audio shorter than a second.
    const std::vector<SuggestedSection>& sections() const { return m_sections; }
    /// The song's beat period in frames; 0 when no steady beat was found.
    double beatPeriodFrames() const { return m_beatPeriodFrames; }
    int beatsPerBar() const { return m_beatsPerBar; }

private:
    std::vector<SuggestedSection> m_sections;
    double m_beatPeriodFrames = 0;
    int m_beatsPerBar = 0;
};

} // namespace chimora
