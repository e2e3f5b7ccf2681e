#include "platform/audio/ZeroCrossing.h"

#include <algorithm>
#include <vector>

namespace chimora {

int64_t zeroCrossingReachFrames(int sampleRate) {
    return std::max<int64_t>(1, sampleRate / 100);
}

int64_t nearestZeroCrossing(const AudioSnapshot& audio, int64_t frame, int64_t maxDistance) {
    const int64_t total = audio.frames();
    frame = std::clamp<int64_t>(frame, 0, total);
    const int channels = audio.format().channels;
    if (total == 0 || channels <= 0 || maxDistance <= 0)
        return frame;

    // Boundary b lies between frames b - 1 and b; look at frames [first, last).
    const int64_t first = std::max<int64_t>(0, frame - maxDistance - 1);
    const int64_t last = std::min(total, frame + maxDistance + 1);
    std::vector<int16_t> raw(size_t((last - first) * channels));
    const int64_t got = audio.read(first, last - first, raw.data());
    std::vector<int32_t> mix(static_cast<size_t>(got));
    for (int64_t i = 0; i < got; ++i) {
        int32_t sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += raw[size_t(i * channels + c)];
        mix[size_t(i)] = sum;
    }
    const auto isCrossing = [&](int64_t b) {
        if (b <= 0 || b >= total)
            return b == 0 || b == total;
        const int64_t before = b - 1 - first;
        const int64_t after = b - first;
        if (before < 0 || after >= got)
            return false;
        return int64_t(mix[size_t(before)]) * mix[size_t(after)] <= 0;
    };
    const auto stepSize = [&](int64_t b) {
        if (b <= 0 || b >= total)
            return int64_t(0);
        return int64_t(std::abs(mix[size_t(b - first)] - mix[size_t(b - 1 - first)]));
    };
    for (int64_t d = 0; d <= maxDistance; ++d) {
        const int64_t below = frame - d;
        const int64_t above = frame + d;
        const bool belowOk = below >= 0 && isCrossing(below);
        const bool aboveOk = d > 0 && above <= total && isCrossing(above);
        if (belowOk && aboveOk) // equally near: the smaller jump across zero is the quieter cut
            return stepSize(above) < stepSize(below) ? above : below;
        if (belowOk)
            return below;
        if (aboveOk)
            return above;
    }
    return frame;
}

Selection snapToZeroCrossings(const AudioSnapshot& audio, Selection selection,
                              int64_t maxDistance) {
    if (selection.isEmpty())
        return selection;
    const int64_t total = audio.frames();
    const Selection clamped{std::clamp<int64_t>(selection.start, 0, total),
                            std::clamp<int64_t>(selection.end, 0, total)};
    if (clamped.isEmpty())
        return clamped;
    Selection out{nearestZeroCrossing(audio, clamped.start, maxDistance),
                  nearestZeroCrossing(audio, clamped.end, maxDistance)};
    if (out.isEmpty()) {
        // Both edges reached for the same crossing: keep the start where it was instead.
        out.start = clamped.start;
        if (out.isEmpty())
            out = clamped;
    }
    return out;
}

} // namespace chimora
