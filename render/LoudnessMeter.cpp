#include "render/LoudnessMeter.h"

#include <algorithm>
#include <cmath>

namespace chimora {

void LoudnessMeter::Deleter::operator()(ebur128_state* state) const {
    ebur128_destroy(&state);
}

LoudnessMeter::LoudnessMeter(ebur128_state* state, int channels)
    : m_state(state), m_channels(channels) {}

Result<LoudnessMeter> LoudnessMeter::create(int channels, int sampleRateHz, Measures measures) {
    if (channels < 1 || sampleRateHz < 1)
        return Error::internal(
            QStringLiteral("The loudness of audio with %1 channels at %2 Hz cannot be measured.")
                .arg(channels)
                .arg(sampleRateHz));
    ebur128_state* state =
        ebur128_init(unsigned(channels), static_cast<unsigned long>(sampleRateHz),
                     measures == Measures::Loudness ? EBUR128_MODE_I : EBUR128_MODE_TRUE_PEAK);
    if (!state)
        return Error::internal(QStringLiteral("The loudness meter could not be started."));
    return LoudnessMeter(state, channels);
}

bool LoudnessMeter::addFrames(const float* samples, int64_t frames) {
    return frames <= 0 ||
           ebur128_add_frames_float(m_state.get(), samples, size_t(frames)) == EBUR128_SUCCESS;
}

double LoudnessMeter::integratedLufs() const {
    double lufs = -HUGE_VAL;
    if (ebur128_loudness_global(m_state.get(), &lufs) != EBUR128_SUCCESS)
        return -HUGE_VAL;
    return lufs;
}

double LoudnessMeter::truePeak() const {
    double highest = 0;
    for (int c = 0; c < m_channels; ++c) {
        double peak = 0;
        if (ebur128_true_peak(m_state.get(), unsigned(c), &peak) == EBUR128_SUCCESS)
            highest = std::max(highest, peak);
    }
    return highest;
}

} // namespace chimora
