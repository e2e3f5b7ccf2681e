#pragma once
// A section played over and over without a gap, as a phone repeats a ringtone: positions run on
// from the section's start without end and wrap onto the section.

#include "platform/audio/AudioSnapshot.h"
#include "platform/audio/AudioTypes.h"

#include <cstdint>
#include <memory>

namespace chimora {

class SectionLoop {
public:
    /// A position no loop reaches in practice (a player's end frame for "until stopped").
    static constexpr int64_t kEndless = INT64_MAX / 4;

    /// Repeats `section` of `audio` (cut to the audio; an empty section reads nothing).
    SectionLoop(std::shared_ptr<const AudioSnapshot> audio, Selection section);

    /// Copies `count` frames of the repeated section from loop position `position` (position
    /// section().start is the section's first frame, and every section length later it is again)
    /// into `dst`, interleaved. Returns `count`, or 0 for an empty section or a position before
    /// the start. Any thread: the audio is immutable.
    int64_t read(int64_t position, int64_t count, int16_t* dst) const;
    /// The frame of the audio heard at loop position `position`.
    int64_t frameAt(int64_t position) const;
    Selection section() const { return m_section; }

private:
    std::shared_ptr<const AudioSnapshot> m_audio;
    Selection m_section;
};

} // namespace chimora
