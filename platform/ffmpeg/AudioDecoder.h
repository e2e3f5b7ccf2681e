#pragma once
// Decoding an audio file into 16-bit sample blocks with FFmpeg. Runs on any thread; the
// document runs it on its loading thread.

#include "platform/audio/AudioTypes.h"
#include "platform/core/Result.h"

#include <QString>

#include <atomic>
#include <functional>

namespace chimora {

/// Receives what a decode produces, on the decoding thread: the format once before the first
/// block, then the blocks in order.
struct DecodeSink {
    std::function<void(AudioFormat)> format;
    std::function<void(BlockPtr)> block;
};

/// Decodes `path` at the file's own rate to interleaved int16 (more than two channels mixed
/// down to stereo), in blocks of about SampleBlock::kLoadFrames frames. Headerless kinds are
/// chosen by extension (.vox, .g721, .g726, .g723; .raw and .pcm need `raw`). Stops early,
/// without an error, once `cancel` is set. A file that breaks off after some audio decoded
/// keeps that audio and succeeds. Errors name the file and say why it could not be read; a
/// file whose decoded audio would not fit in the memory available now is refused before
/// decoding (Environment), saying how long it is and what it would need.
Result<void> decodeAudioFile(const QString& path, const RawPcmParams* raw,
                             const std::atomic<bool>& cancel, const DecodeSink& sink);

/// Pretends that `bytes` of memory are available (tests); -1 asks the system again.
void setAvailableMemoryForTesting(int64_t bytes);

} // namespace chimora
