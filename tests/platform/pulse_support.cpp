#include "pulse_support.h"

#include "platform/pulse/AudioPlayer.h"

#include <QSignalSpy>

#include <algorithm>

namespace pulsetest {

bool letServerPlayBriefly() {
    constexpr int kRate = 8000;
    chimora::AudioPlayer player;
    QSignalSpy finished(&player, &chimora::AudioPlayer::finished);
    const auto silence = [](int64_t, int64_t count, int16_t* dst) {
        std::fill(dst, dst + count, int16_t(0));
        return count;
    };
    if (!player.play({kRate, 1}, silence, 0, kRate / 4).ok())
        return false;
    return finished.wait(10000);
}

} // namespace pulsetest
