#pragma once
// The section suggestion as a stream: fed the audio in order, block by block, while it loads,
// it keeps only short-frame features (a few megabytes an hour) and finds the sections when
// told the audio is complete, so that at the end of a load only that last step remains.

#include "platform/audio/AudioTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace chimora {

class FeatureStream;

/// One suggested section, in frames of the analysed audio.
struct SuggestedSection {
    Selection frames;
    bool startsOnBeat = false; ///< the start lies on a detected downbeat
    double score = 0;          ///< higher is better; only comparable within one analysis
    /// 0 an instance of the chorus (the most repeated section), 1 the next most repeated
    /// section, -1 the loudest stretch of a song that repeats nothing.
    int group = 0;
};

class SuggestionAnalysis {
public:
    /// Shortest and longest section, and the longest suggestion: a longer section ends at its
    /// last bar line before this.
    static constexpr double kShortestSeconds = 8.0;
    static constexpr double kLongestSeconds = 40.0;
    static constexpr double kSelectionSeconds = 30.0;
    /// The length suggested where nothing repeats.
    static constexpr double kFallbackSeconds = 20.0;
    static constexpr int kMaxSections = 3;

    /// Audio of `format` (any rate, mono or stereo) will be fed.
    explicit SuggestionAnalysis(AudioFormat format);
    ~SuggestionAnalysis();
    SuggestionAnalysis(const SuggestionAnalysis&) = delete;
    SuggestionAnalysis& operator=(const SuggestionAnalysis&) = delete;

    /// The next `frames` interleaved frames. Cheap enough to run beside a decoder.
    void feed(const int16_t* interleaved, int64_t frames);
    /// The sections of everything fed so far, best first (at most kMaxSections): the chorus
    /// instance to suggest, its other instances, then the next most repeated section. Audio of
    /// up to kSelectionSeconds is one section, all of it; less than a second has none. Returns
    /// no sections when `cancel` becomes true. May be called again after more is fed.
    std::vector<SuggestedSection> finish(const std::atomic<bool>* cancel = nullptr);

    /// After finish(): the beat period in frames (0 when no steady beat was found) and the
    /// beats to a bar.
    double beatPeriodFrames() const { return m_beatPeriodFrames; }
    int beatsPerBar() const { return m_beatsPerBar; }
    /// Bytes of features kept.
    size_t memoryBytes() const;

private:
    std::unique_ptr<FeatureStream> m_features;
    double m_beatPeriodFrames = 0;
    int m_beatsPerBar = 0;
};

} // namespace chimora
