#pragma once
// Integrated loudness (EBU R128) and true peak of interleaved float audio, measured with
// libebur128. One meter owns one ebur128_state.

#include "platform/core/Result.h"

#include <ebur128.h>

#include <cstdint>
#include <memory>

namespace chimora {

class LoudnessMeter {
public:
    /// What a meter measures: the true peak costs four times the loudness.
    enum class Measures { Loudness, TruePeak };

    /// A meter for `channels` interleaved channels at `sampleRateHz`. Fails (Internal) when the
    /// library refuses the format or has no memory.
    static Result<LoudnessMeter> create(int channels, int sampleRateHz, Measures measures);

    /// Adds `frames` frames of interleaved samples in [-1, 1]. False when the library failed.
    bool addFrames(const float* samples, int64_t frames);

    /// Integrated loudness in LUFS of everything added (Measures::Loudness); minus infinity
    /// for silence or audio shorter than one 400 ms block.
    double integratedLufs() const;

    /// Highest true peak (4x oversampled) over all channels, as a linear amplitude (1 = full
    /// scale) (Measures::TruePeak).
    double truePeak() const;

private:
    struct Deleter {
        void operator()(ebur128_state* state) const;
    };
    explicit LoudnessMeter(ebur128_state* state, int channels);
    std::unique_ptr<ebur128_state, Deleter> m_state;
    int m_channels = 0;
};

} // namespace chimora
