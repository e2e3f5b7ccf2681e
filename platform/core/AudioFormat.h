#pragma once
// Plain audio types that every room of the audio platform shares: formats, peaks, selections.

#include <cstdint>

namespace chimora {

/// Rate and channel count of 16-bit interleaved PCM.
struct AudioFormat {
    int sampleRate = 0; ///< frames per second
    int channels = 0;   ///< 1 or 2 (more are mixed down on load)
    bool isValid() const { return sampleRate > 0 && channels > 0; }
    bool operator==(const AudioFormat&) const = default;
};

/// Smallest and largest sample value over a range of frames of one channel.
struct Peak {
    int16_t min = 0;
    int16_t max = 0;
};

/// Selection as a half-open range of frames.
struct Selection {
    int64_t start = 0;
    int64_t end = 0;
    bool isEmpty() const { return end <= start; }
    int64_t length() const { return isEmpty() ? 0 : end - start; }
    bool operator==(const Selection&) const = default;
};

/// Parameters for headerless PCM files (.raw, .pcm), asked of the user.
struct RawPcmParams {
    enum class SampleFormat { S16LE, S16BE, U8, S8, S24LE, S32LE, F32LE, MuLaw, ALaw };
    int sampleRate = 44100;
    int channels = 2;
    SampleFormat sampleFormat = SampleFormat::S16LE;
};

/// Format of a written file; 0 means "as the source" for rate and channels.
struct OutputFormat {
    int sampleRate = 0;  ///< Hz
    int channels = 0;    ///< 1 or 2
    int bitrateKbps = 0; ///< kept for the encoders; a 16-bit WAV does not use it
};

} // namespace chimora
