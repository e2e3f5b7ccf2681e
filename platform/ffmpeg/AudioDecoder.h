#pragma once
// Decoding an audio file into 16-bit interleaved frames with FFmpeg. Runs on any thread; the
// document runs it on its loading thread.

#include "platform/core/AudioFormat.h"
#include "platform/core/Result.h"

#include <QString>

#include <atomic>
#include <cstdint>

namespace chimora {

/// Receives what a decode produces, on the decoding thread: the format once before the first
/// frames, then the frames in order, converted straight into room the sink gives.
class DecodeSink {
public:
    virtual ~DecodeSink() = default;
    virtual void format(AudioFormat format) = 0;
    /// Room for up to `frames` interleaved frames, or null when there is none (out of memory).
    virtual int16_t* reserve(int64_t frames) = 0;
    /// `frames` frames (at most those reserved) were written into the room reserve() gave.
    virtual void commit(int64_t frames) = 0;
    /// The decode has given its last frames.
    virtual void finish() = 0;
};

/// Decodes `path` at the file's own rate to interleaved int16 (more than two channels mixed
/// down to stereo). Headerless kinds are
/// chosen by extension (.vox, .g721, .g726, .g723; .raw and .pcm need `raw`). Stops early,
/// without an error, once `cancel` is set. A file that breaks off after some audio decoded
/// keeps that audio and succeeds. Errors name the file and say why it could not be read; a
/// file whose decoded audio would not fit in the memory available now is refused before
/// decoding (Environment), saying how long it is and what it would need.
Result<void> decodeAudioFile(const QString& path, const RawPcmParams* raw,
                             const std::atomic<bool>& cancel, DecodeSink& sink);

/// Pretends that `bytes` of memory are available (tests); -1 asks the system again.
void setAvailableMemoryForTesting(int64_t bytes);

} // namespace chimora
