#pragma once
// The server's sources as a mixer sees them: listed in the server's order (monitors of the
// outputs included), and their volume read and set as a percentage of normal volume.

#include "platform/core/Result.h"
#include "platform/pulse/PulseConnection.h"

#include <QList>
#include <QString>

namespace chimora {

struct PulseSource {
    QString name;         ///< the server's name, for streams and volume calls
    QString description;  ///< what a person calls it ("Monitor of Null Output")
    bool monitor = false; ///< records what an output plays
};

/// The server's sources in its own order. Off the audio thread; `timeoutMs` bounds the wait.
Result<QList<PulseSource>> listSources(PulseConnection& connection, int timeoutMs);

/// The loudest channel's volume of `source` in percent of normal volume (PA_VOLUME_NORM is 100),
/// held to 0..100. Percentages are the server's own (cubic in amplitude: 50 % is 0.125).
Result<int> sourceVolumePercent(PulseConnection& connection, const QString& source, int timeoutMs);

/// Sets `source`'s volume to `percent` (0..100) of normal volume, keeping the balance between
/// its channels, as a mixer's slider does.
Result<void> setSourceVolumePercent(PulseConnection& connection, const QString& source, int percent,
                                    int timeoutMs);

} // namespace chimora
