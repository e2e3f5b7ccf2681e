#include "platform/audio/SectionSuggester.h"

#include "platform/audio/ZeroCrossing.h"

#include <algorithm>

namespace chimora {

SectionSuggester::SectionSuggester(const AudioSnapshot& audio, const std::atomic<bool>* cancel) {
    const AudioFormat format = audio.format();
    if (!format.isValid())
        return;
    SuggestionAnalysis analysis(format);
    constexpr int64_t kChunk = 16384;
    std::vector<int16_t> buffer(size_t(kChunk * format.channels));
    for (int64_t at = 0; at < audio.frames(); at += kChunk) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return;
        const int64_t got = audio.read(at, std::min(kChunk, audio.frames() - at), buffer.data());
        analysis.feed(buffer.data(), got);
    }
    m_sections = analysis.finish(cancel);
    m_beatPeriodFrames = analysis.beatPeriodFrames();
    m_beatsPerBar = analysis.beatsPerBar();
    const int64_t reach = zeroCrossingReachFrames(format.sampleRate);
    for (SuggestedSection& s : m_sections)
        s.frames = snapToZeroCrossings(audio, s.frames, reach);
}

} // namespace chimora
