#pragma once
// Writing audio as a 16-bit PCM WAV file in a chosen rate and channel count.

#include "platform/audio/AudioDocument.h"
#include "platform/audio/AudioSnapshot.h"
#include "platform/core/Result.h"

#include <QString>

namespace chimora {

/// Frames a run of `frames` frames has after resampling from `inRate` to `outRate`:
/// round(frames * outRate / inRate).
int64_t resampledFrames(int64_t frames, int inRate, int outRate);

/// Writes frames [from, to) of `audio` to `path` as 16-bit PCM WAV converted to `format`
/// (0 = as the source for rate and channels; stereo to mono by averaging, mono to stereo by
/// copying; rate by high-quality resampling). At the source format the samples are copied bit
/// for bit. Writes a temporary file beside `path` and renames it into place only when complete,
/// so on failure `path` is untouched and no stray file is left; a symbolic link at `path` is
/// replaced, not written through. Blocks the calling thread.
Result<void> writeWavFile(const AudioSnapshot& audio, int64_t from, int64_t to,
                          const OutputFormat& format, const QString& path);

/// Writes the document's audio (or only its selection) as a 16-bit PCM WAV file converted to
/// `format`, as writeWavFile() does. Waits for a running load. Errors: nothing loaded, an empty
/// selection with `selectionOnly`, a file that cannot be written. UI thread (the document's).
Result<void> writeWav(AudioDocument& document, const QString& path, const OutputFormat& format,
                      bool selectionOnly);

} // namespace chimora
