#pragma once
// The audio devices started by BASS_Init and BASS_RecordInit, kept in one place so that the
// player and the recorder reach the same server connections.

#include "platform/pulse/PulseConnection.h"

#include <QString>

#include <memory>

namespace chimora {

/// A started device: its server connection and the sink or source to use (empty: whatever the
/// server's default is at the time a stream is made).
struct AudioDevice {
    std::shared_ptr<PulseConnection> connection; ///< null while not started
    QString name;
    explicit operator bool() const { return connection != nullptr; }
};

/// Registry of the two started devices. Any thread. A stream keeps its own reference to the
/// connection, so freeing a device while a stream still plays releases the connection only when
/// that stream is done.
class AudioDevices {
public:
    static AudioDevice playback();
    static AudioDevice recording();
    static void setPlayback(AudioDevice device);  ///< an empty device clears the slot
    static void setRecording(AudioDevice device); ///< an empty device clears the slot
};

} // namespace chimora
