#pragma once
// What an audio file really holds, read from its headers (no full decode).

#include "platform/core/Result.h"

#include <QString>

namespace chimora {

struct AudioFileInfo {
    QString codec;      ///< FFmpeg's codec name: "mp3", "vorbis", "pcm_s16le" ...
    int sampleRate = 0; ///< Hz
    int channels = 0;
    int bitrateKbps = 0; ///< nominal bitrate of the audio stream; 0 when the file states none
    double durationSeconds = 0;
};

/// Reads the parameters of the best audio stream of `path`, opened as the editor opens it.
/// Errors as AudioInput::open(): Environment when the file cannot be opened at all, BadInput
/// when it is not audio that can be decoded.
Result<AudioFileInfo> probeAudioFile(const QString& path);

} // namespace chimora
