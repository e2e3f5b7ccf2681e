#include "platform/audio/SectionLoop.h"

#include <algorithm>

namespace chimora {

SectionLoop::SectionLoop(std::shared_ptr<const AudioSnapshot> audio, Selection section)
    : m_audio(std::move(audio)) {
    const int64_t total = m_audio ? m_audio->frames() : 0;
    m_section = {std::clamp<int64_t>(section.start, 0, total),
                 std::clamp<int64_t>(section.end, 0, total)};
}

int64_t SectionLoop::frameAt(int64_t position) const {
    if (m_section.isEmpty() || position < m_section.start)
        return m_section.start;
    return m_section.start + (position - m_section.start) % m_section.length();
}

int64_t SectionLoop::read(int64_t position, int64_t count, int16_t* dst) const {
    if (m_section.isEmpty() || position < m_section.start || count <= 0)
        return 0;
    const int channels = m_audio->format().channels;
    int64_t done = 0;
    while (done < count) {
        const int64_t from = frameAt(position + done);
        const int64_t n = std::min(count - done, m_section.end - from);
        const int64_t got = m_audio->read(from, n, dst + done * channels);
        if (got != n)
            return done + got; // cannot happen with the section inside the audio
        done += n;
    }
    return done;
}

} // namespace chimora
