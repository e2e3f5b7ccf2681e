#pragma once
// An immutable view of the audio at one moment: an ordered list of shared sample blocks.

#include "platform/audio/AudioTypes.h"

#include <cstdint>
#include <memory>

namespace chimora {

/// The audio at one moment, read-only and safe to use from any thread (the player reads it on
/// the audio server's thread while the user edits on).
class AudioSnapshot {
public:
    /// No audio.
    AudioSnapshot() = default;
    /// The audio made of `blocks` (each of `format.channels` channels) in order.
    static std::shared_ptr<const AudioSnapshot> make(AudioFormat format, BlockList blocks);

    AudioFormat format() const;
    int64_t frames() const;
    /// Copies up to `count` frames from `startFrame` into `dst` (interleaved). Returns the number
    /// of frames copied (fewer at the end).
    int64_t read(int64_t startFrame, int64_t count, int16_t* dst) const;
    /// For each of `columns` columns i, the min/max of `channel` over frames
    /// [startFrame + i * framesPerColumn, startFrame + (i + 1) * framesPerColumn). Columns past
    /// the end get {0, 0}. Cost depends on `columns`, not on the length of the audio.
    /// A column always covers at least one frame: its range is [floor(a), max(floor(b),
    /// floor(a) + 1)) for a = startFrame + i * framesPerColumn, b = a + framesPerColumn, cut to
    /// the audio; so zoomed in past single samples, neighbouring columns repeat a sample.
    /// The values are exact (not estimates) at any zoom.
    void peaks(int channel, double startFrame, double framesPerColumn, int columns,
               Peak* out) const;

    const BlockList& blocks() const { return m_blocks; }
    /// First frame of block `index`; blockStart(blocks().size()) is frames().
    int64_t blockStart(size_t index) const { return m_starts[index]; }
    /// Index of the block holding `frame` (0 <= frame < frames()).
    size_t blockAt(int64_t frame) const;
    /// The blocks covering frames [from, to) (clamped): whole blocks are shared, a block cut by
    /// either end is copied in part, so at most two new blocks are made.
    BlockList slice(int64_t from, int64_t to) const;

private:
    AudioFormat m_format;
    BlockList m_blocks;
    std::vector<int64_t> m_starts{0}; ///< prefix sums of block lengths, size blocks + 1
};

} // namespace chimora
