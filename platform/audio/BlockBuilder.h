#pragma once
// Gathering decoded frames into the document's sample blocks, as the decoder's sink.

#include "platform/audio/AudioTypes.h"
#include "platform/ffmpeg/AudioDecoder.h"

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <vector>

namespace chimora {

class Slab;

/// Gathers decoded frames into blocks of SampleBlock::kLoadFrames frames and hands each one on
/// when full (the last, partial one at finish()). The blocks' memory comes from slabs that
/// start small (short files stay small) and grow to 16 blocks; the next slab is prepared on
/// another thread meanwhile, so the decoder meets no page faults. Decoding thread only.
class BlockBuilder : public DecodeSink {
public:
    BlockBuilder(std::function<void(AudioFormat)> onFormat, std::function<void(BlockPtr)> onBlock);
    ~BlockBuilder() override;

    void format(AudioFormat format) override;
    int16_t* reserve(int64_t frames) override;
    void commit(int64_t frames) override;
    void finish() override;

private:
    bool ensureBlock();
    void append(const int16_t* samples, int64_t frames);
    void flush();

    std::function<void(AudioFormat)> m_onFormat;
    std::function<void(BlockPtr)> m_onBlock;
    int m_channels = 0;
    std::shared_ptr<Slab> m_slab;
    std::future<std::shared_ptr<Slab>> m_next; ///< the slab after this one, being prepared
    int m_slabBlocks = 1;
    size_t m_slabUsed = 0; ///< samples of m_slab given to blocks
    int16_t* m_block = nullptr;
    int64_t m_filled = 0;           ///< frames in the current block
    bool m_direct = false;          ///< the last reserve() gave room in the block itself
    std::vector<int16_t> m_scratch; ///< room for frames that do not fit the current block
};

} // namespace chimora
