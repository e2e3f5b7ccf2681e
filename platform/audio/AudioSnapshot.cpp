#include "platform/audio/AudioSnapshot.h"

#include "platform/audio/SampleBlock.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace chimora {

std::shared_ptr<const AudioSnapshot> AudioSnapshot::make(AudioFormat format, BlockList blocks) {
    auto s = std::make_shared<AudioSnapshot>();
    s->m_format = format;
    std::erase_if(blocks, [](const BlockPtr& b) { return !b || b->frames() == 0; });
    s->m_blocks = std::move(blocks);
    s->m_starts.resize(s->m_blocks.size() + 1);
    s->m_starts[0] = 0;
    for (size_t i = 0; i < s->m_blocks.size(); ++i)
        s->m_starts[i + 1] = s->m_starts[i] + s->m_blocks[i]->frames();
    return s;
}

AudioFormat AudioSnapshot::format() const {
    return m_format;
}

int64_t AudioSnapshot::frames() const {
    return m_starts.back();
}

size_t AudioSnapshot::blockAt(int64_t frame) const {
    // The last start not after `frame`.
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end() - 1, frame);
    return size_t(it - m_starts.begin()) - 1;
}

int64_t AudioSnapshot::read(int64_t startFrame, int64_t count, int16_t* dst) const {
    if (startFrame < 0 || count <= 0 || startFrame >= frames())
        return 0;
    count = std::min(count, frames() - startFrame);
    const int ch = m_format.channels;
    int64_t done = 0;
    for (size_t b = blockAt(startFrame); done < count && b < m_blocks.size(); ++b) {
        const int64_t offset = startFrame + done - m_starts[b];
        const int64_t n = std::min(count - done, m_blocks[b]->frames() - offset);
        std::memcpy(dst + done * ch, m_blocks[b]->data() + offset * ch,
                    size_t(n * ch) * sizeof(int16_t));
        done += n;
    }
    return done;
}

void AudioSnapshot::peaks(int channel, double startFrame, double framesPerColumn, int columns,
                          Peak* out) const {
    const int64_t total = frames();
    if (columns <= 0)
        return;
    if (channel < 0 || channel >= m_format.channels || total == 0 || !(framesPerColumn > 0) ||
        !std::isfinite(startFrame)) {
        std::fill(out, out + columns, Peak{});
        return;
    }
    for (int i = 0; i < columns; ++i) {
        const double a = startFrame + i * framesPerColumn;
        int64_t lo = int64_t(std::floor(a));
        int64_t hi = int64_t(std::floor(a + framesPerColumn));
        hi = std::max(hi, lo + 1);
        lo = std::max<int64_t>(lo, 0);
        hi = std::min(hi, total);
        if (lo >= hi) {
            out[i] = Peak{};
            continue;
        }
        Peak acc{std::numeric_limits<int16_t>::max(), std::numeric_limits<int16_t>::min()};
        for (size_t b = blockAt(lo); b < m_blocks.size() && m_starts[b] < hi; ++b) {
            const SampleBlock& block = *m_blocks[b];
            const int64_t from = std::max(lo, m_starts[b]) - m_starts[b];
            const int64_t to = std::min(hi, m_starts[b + 1]) - m_starts[b];
            const Peak p = block.peak(channel, from, to);
            acc.min = std::min(acc.min, p.min);
            acc.max = std::max(acc.max, p.max);
        }
        out[i] = acc;
    }
}

BlockList AudioSnapshot::slice(int64_t from, int64_t to) const {
    from = std::clamp<int64_t>(from, 0, frames());
    to = std::clamp<int64_t>(to, from, frames());
    BlockList result;
    if (from == to)
        return result;
    for (size_t b = blockAt(from); b < m_blocks.size() && m_starts[b] < to; ++b) {
        const int64_t a = std::max(from, m_starts[b]) - m_starts[b];
        const int64_t e = std::min(to, m_starts[b + 1]) - m_starts[b];
        if (a == 0 && e == m_blocks[b]->frames())
            result.push_back(m_blocks[b]);
        else
            result.push_back(SampleBlock::copyOf(*m_blocks[b], a, e));
    }
    return result;
}

} // namespace chimora
