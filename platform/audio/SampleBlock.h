#pragma once
// One immutable run of interleaved 16-bit frames with min/max summaries, shared between
// document versions, the undo history, the clipboard and the player.

#include "platform/audio/AudioTypes.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace chimora {

class SampleBlock {
public:
    /// Frames per summary entry at the fine and coarse resolutions.
    static constexpr int64_t kFineFrames = 256;
    static constexpr int64_t kCoarseFrames = 4096;
    /// Frames per block made while loading.
    static constexpr int64_t kLoadFrames = 65536;

    /// Takes `samples` (interleaved, a whole number of frames of `channels`) and computes the
    /// summaries. Any thread.
    static BlockPtr make(int channels, std::vector<int16_t> samples);
    /// A block over `frames` frames at `samples`, memory that `owner` keeps alive and that
    /// nobody changes any more (a loader's large buffer shared by many blocks).
    static BlockPtr adopt(int channels, std::shared_ptr<const void> owner, const int16_t* samples,
                          int64_t frames);
    /// Copies frames [from, to) of `source` into a new block.
    static BlockPtr copyOf(const SampleBlock& source, int64_t from, int64_t to);

    int channels() const { return m_channels; }
    int64_t frames() const { return m_frames; }
    const int16_t* data() const { return m_data; }

    /// Exact min/max of `channel` over frames [from, to) of this block (from < to, both within
    /// the block). Costs at most a few hundred steps whatever the range: summaries cover the
    /// middle, raw samples only the ragged ends.
    Peak peak(int channel, int64_t from, int64_t to) const;
    /// Min/max of `channel` over the whole block.
    Peak wholePeak(int channel) const { return m_whole[size_t(channel)]; }

    /// Bytes of sample data made by all blocks so far (a measure of what an edit costs).
    static int64_t totalSampleBytesMade();

    SampleBlock(const SampleBlock&) = delete;
    SampleBlock& operator=(const SampleBlock&) = delete;

private:
    SampleBlock(int channels, std::shared_ptr<const void> owner, const int16_t* samples,
                int64_t frames);
    Peak rawPeak(int channel, int64_t from, int64_t to) const;
    Peak finePeak(int channel, int64_t from, int64_t to) const;

    int m_channels;
    int64_t m_frames;
    std::shared_ptr<const void> m_owner; ///< keeps m_data alive
    const int16_t* m_data;
    std::vector<Peak> m_fine;   ///< [unit * channels + channel], unit = kFineFrames frames
    std::vector<Peak> m_coarse; ///< [unit * channels + channel], unit = kCoarseFrames frames
    std::vector<Peak> m_whole;  ///< [channel]
};

} // namespace chimora
