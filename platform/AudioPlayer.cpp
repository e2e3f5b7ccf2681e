#include "platform/AudioPlayer.h"

namespace chimora {

struct AudioPlayer::Private {};

AudioPlayer::AudioPlayer(QObject* parent) : QObject(parent), d(std::make_unique<Private>()) {}
AudioPlayer::~AudioPlayer() = default;

Result<void> AudioPlayer::play(AudioFormat, Reader, int64_t, int64_t) {
    return Error::internal(tr("Playback is not available yet."));
}
void AudioPlayer::pause() {}
void AudioPlayer::resume() {}
void AudioPlayer::stop() {}
bool AudioPlayer::isPlaying() const {
    return false;
}
bool AudioPlayer::isPaused() const {
    return false;
}
int64_t AudioPlayer::positionFrame() const {
    return 0;
}

} // namespace chimora
