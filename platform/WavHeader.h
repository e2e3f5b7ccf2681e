#pragma once
// The 44-byte header of a 16-bit PCM WAV file.

#include <QByteArray>

#include <cstdint>

namespace chimora {

/// Data size that marks a header of unknown length (a WAV streamed to an encoder's input).
inline constexpr uint32_t kStreamingWavDataBytes = 0xFFFFFFFFu;

/// Header of a canonical 16-bit PCM WAV file ("RIFF", "fmt " of 16 bytes, "data") for
/// `sampleRate` frames per second and `channels` interleaved channels, followed by `dataBytes`
/// bytes of samples. With kStreamingWavDataBytes the RIFF size is also 0xFFFFFFFF, which the
/// encoders read as "until the end of the input".
QByteArray wavHeader(int sampleRate, int channels, uint32_t dataBytes);

} // namespace chimora
