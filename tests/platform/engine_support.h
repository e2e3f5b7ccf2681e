#pragma once
// Helpers for the audio engine's tests: WAV files with exact samples, blocking loads.

#include "platform/audio/AudioDocument.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace enginetest {

/// Writes interleaved 16-bit samples as a WAV file; returns false on failure.
bool writeWav(const QString& path, int sampleRate, int channels,
              const std::vector<int16_t>& samples);

/// Loads `path` into `doc` and waits for the load to end; returns doc.loadError().isEmpty().
bool loadAndWait(chimora::AudioDocument& doc, const QString& path,
                 const chimora::RawPcmParams* raw = nullptr);

/// Every sample of a snapshot, interleaved.
std::vector<int16_t> allSamples(const chimora::AudioSnapshot& audio);

/// Reads the samples of a 16-bit PCM WAV file (the 44-byte header form we write).
struct WavData {
    bool ok = false;
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> samples;
};
WavData readWav(const QString& path);

/// Deterministic noise with loud pulses on the given frames (all channels).
std::vector<int16_t> noiseWithPulses(int64_t frames, int channels, uint32_t seed,
                                     const std::vector<int64_t>& pulseFrames);

} // namespace enginetest
