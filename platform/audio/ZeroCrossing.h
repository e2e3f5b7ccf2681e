#pragma once
// Moving selection edges onto zero crossings, so a cut (and the seam of a repeated ringtone)
// starts and ends near silence instead of with a click.

#include "platform/audio/AudioSnapshot.h"
#include "platform/audio/AudioTypes.h"

#include <cstdint>

namespace chimora {

/// How far an edge may move to reach a zero crossing: 10 ms of `sampleRate`, at least 1 frame.
int64_t zeroCrossingReachFrames(int sampleRate);

/// The frame boundary nearest to `frame` (within `maxDistance` frames either way) where the
/// signal crosses zero: the samples on its two sides differ in sign or one of them is 0. Stereo
/// is judged on the sum of the channels. The very start and end of the audio count as crossings.
/// Returns `frame` (clamped to [0, frames()]) when no crossing lies within reach. Any thread.
int64_t nearestZeroCrossing(const AudioSnapshot& audio, int64_t frame, int64_t maxDistance);

/// Both edges of `selection` moved to their nearest zero crossings within `maxDistance`. The
/// result lies within the audio and is never empty when `selection` was not: an edge that would
/// meet or pass the other one stays where it was. An empty selection comes back unchanged.
Selection snapToZeroCrossings(const AudioSnapshot& audio, Selection selection, int64_t maxDistance);

} // namespace chimora
