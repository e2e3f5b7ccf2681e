#pragma once
// The 44-byte header of a 16-bit PCM WAV file.

#include <QByteArray>

#include <cstdint>

namespace chimora {

/// Size value that marks a stream of unknown length (encoders reading standard input accept it).
inline constexpr uint32_t kWavStreamingSize = 0xFFFFFFFFu;

/// Header for 16-bit PCM at `sampleRate` Hz with `channels` interleaved channels followed by
/// `dataBytes` bytes of samples. With kWavStreamingSize the RIFF size is kWavStreamingSize too.
QByteArray wavHeader(int sampleRate, int channels, uint32_t dataBytes);

/// Largest data size a WAV header can describe.
inline constexpr uint64_t kWavMaxDataBytes = 0xFFFFFFFFull - 36;

} // namespace chimora
