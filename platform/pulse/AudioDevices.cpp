#include "platform/pulse/AudioDevices.h"

#include <mutex>

namespace chimora {

namespace {

std::mutex registryMutex;
AudioDevice playbackDevice;
AudioDevice recordingDevice;

} // namespace

AudioDevice AudioDevices::playback() {
    std::lock_guard guard(registryMutex);
    return playbackDevice;
}

AudioDevice AudioDevices::recording() {
    std::lock_guard guard(registryMutex);
    return recordingDevice;
}

void AudioDevices::setPlayback(AudioDevice device) {
    std::lock_guard guard(registryMutex);
    playbackDevice = std::move(device);
}

void AudioDevices::setRecording(AudioDevice device) {
    std::lock_guard guard(registryMutex);
    recordingDevice = std::move(device);
}

} // namespace chimora
