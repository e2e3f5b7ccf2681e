// Device start and release of the audio layer on top of PulseAudio connections.

#include "platform/bass/Bass.h"
#include "platform/pulse/AudioDevices.h"

#include <QDebug>

namespace {

using chimora::AudioDevice;
using chimora::AudioDevices;
using chimora::PulseConnection;
using chimora::bass::fail;

// A local server answers in milliseconds; this only bounds a server that accepted the
// connection and then hangs.
constexpr int kServerTimeoutMs = 5000;

enum class Side { Playback, Recording };

BOOL startDevice(Side side, int device) {
    const bool playback = side == Side::Playback;
    if (device < -1)
        return fail(BASS_ERROR_DEVICE, FALSE);
    if (playback ? AudioDevices::playback() : AudioDevices::recording())
        return fail(BASS_ERROR_ALREADY, FALSE);

    bool timedOut = false;
    auto connected = PulseConnection::connect(playback ? QStringLiteral("Chimora playback")
                                                       : QStringLiteral("Chimora recording"),
                                              kServerTimeoutMs, &timedOut);
    if (!connected) {
        qWarning().noquote() << "audio server:" << connected.error().message
                             << connected.error().detail;
        return fail(timedOut ? BASS_ERROR_TIMEOUT : BASS_ERROR_DRIVER, FALSE);
    }
    std::shared_ptr<PulseConnection> connection = std::move(*connected);

    auto names = playback ? connection->sinkNames(kServerTimeoutMs)
                          : connection->sourceNames(kServerTimeoutMs);
    if (!names)
        return fail(BASS_ERROR_DRIVER, FALSE);

    AudioDevice started{connection, {}};
    if (device == -1) {
        // The server names a default even when it has just lost that device; insist that it
        // exists, or the first stream would fail much later.
        const QString defaultName =
            playback ? connection->defaultSinkName() : connection->defaultSourceName();
        if (defaultName.isEmpty() || !names->contains(defaultName))
            return fail(BASS_ERROR_DEVICE, FALSE);
    } else {
        if (device >= names->size())
            return fail(BASS_ERROR_DEVICE, FALSE);
        started.name = names->at(device);
    }

    if (playback)
        AudioDevices::setPlayback(std::move(started));
    else
        AudioDevices::setRecording(std::move(started));
    chimora::bass::setError(BASS_OK);
    return TRUE;
}

BOOL freeDevice(Side side) {
    const bool playback = side == Side::Playback;
    if (!(playback ? AudioDevices::playback() : AudioDevices::recording()))
        return fail(BASS_ERROR_INIT, FALSE);
    if (playback)
        AudioDevices::setPlayback({});
    else
        AudioDevices::setRecording({});
    chimora::bass::setError(BASS_OK);
    return TRUE;
}

} // namespace

BOOL BASS_RecordInit(int device) {
    return startDevice(Side::Recording, device);
}

BOOL BASS_Init(int device, DWORD, DWORD, void*, const void*) {
    return startDevice(Side::Playback, device);
}

BOOL BASS_RecordFree() {
    return freeDevice(Side::Recording);
}

BOOL BASS_Free() {
    return freeDevice(Side::Playback);
}
