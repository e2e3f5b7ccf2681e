#include "platform/pulse/PulseSources.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace chimora {

namespace {

Error serverError(PulseConnection& connection) {
    return Error::environment(QStringLiteral("The audio server did not answer about its inputs."),
                              connection.lastErrorText());
}

Error noAnswer() {
    return Error::environment(QStringLiteral("The audio server did not answer in time."),
                              QStringLiteral("timed out"));
}

Error noSuchSource(const QString& source) {
    return Error::badInput(
        QStringLiteral("The sound input \"%1\" is not there any more.").arg(source));
}

// Waits for an operation that was just asked for (with the lock held).
Result<void> await(PulseConnection& connection, pulse::OperationPtr op, int timeoutMs) {
    if (!op)
        return serverError(connection);
    if (!connection.waitForOperation(std::move(op), timeoutMs))
        return noAnswer();
    return {};
}

struct VolumeReply {
    PulseConnection* connection;
    std::optional<pa_cvolume> volume;
};

// Reads the source's current volume (with the lock held).
Result<pa_cvolume> readVolume(PulseConnection& connection, const QString& source, int timeoutMs) {
    VolumeReply reply{&connection, std::nullopt};
    const QByteArray name = source.toUtf8();
    pulse::OperationPtr op(pa_context_get_source_info_by_name(
        connection.context(), name.constData(),
        [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* r = static_cast<VolumeReply*>(data);
            if (eol == 0 && info)
                r->volume = info->volume;
            r->connection->signal();
        },
        &reply));
    if (auto done = await(connection, std::move(op), timeoutMs); !done)
        return done.error();
    if (!reply.volume)
        return noSuchSource(source);
    return *reply.volume;
}

} // namespace

Result<QList<PulseSource>> listSources(PulseConnection& connection, int timeoutMs) {
    struct Reply {
        PulseConnection* connection;
        QList<PulseSource> sources;
        bool failed = false;
    } reply{&connection, {}, false};
    PulseConnection::Lock lock(connection);
    pulse::OperationPtr op(pa_context_get_source_info_list(
        connection.context(),
        [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* r = static_cast<Reply*>(data);
            if (eol < 0)
                r->failed = true;
            else if (eol == 0 && info && info->name) {
                PulseSource s;
                s.name = QString::fromUtf8(info->name);
                s.description = info->description && *info->description
                                    ? QString::fromUtf8(info->description)
                                    : s.name;
                s.monitor = info->monitor_of_sink != PA_INVALID_INDEX;
                r->sources << s;
            }
            r->connection->signal();
        },
        &reply));
    if (auto done = await(connection, std::move(op), timeoutMs); !done)
        return done.error();
    if (reply.failed)
        return serverError(connection);
    return reply.sources;
}

Result<int> sourceVolumePercent(PulseConnection& connection, const QString& source, int timeoutMs) {
    PulseConnection::Lock lock(connection);
    auto volume = readVolume(connection, source, timeoutMs);
    if (!volume)
        return volume.error();
    const double percent = 100.0 * double(pa_cvolume_max(&*volume)) / double(PA_VOLUME_NORM);
    return std::clamp(int(std::lround(percent)), 0, 100);
}

Result<void> setSourceVolumePercent(PulseConnection& connection, const QString& source, int percent,
                                    int timeoutMs) {
    percent = std::clamp(percent, 0, 100);
    PulseConnection::Lock lock(connection);
    auto volume = readVolume(connection, source, timeoutMs);
    if (!volume)
        return volume.error();
    const pa_volume_t target = pa_volume_t(std::lround(double(PA_VOLUME_NORM) * percent / 100.0));
    pa_cvolume wanted = *volume;
    // Scaling keeps the balance; from silence there is no balance left to keep.
    if (pa_cvolume_max(&wanted) == PA_VOLUME_MUTED)
        pa_cvolume_set(&wanted, wanted.channels, target);
    else
        pa_cvolume_scale(&wanted, target);

    struct Ack {
        PulseConnection* connection;
        bool success = false;
    } ack{&connection};
    const QByteArray name = source.toUtf8();
    pulse::OperationPtr op(pa_context_set_source_volume_by_name(
        connection.context(), name.constData(), &wanted,
        [](pa_context*, int success, void* data) {
            auto* a = static_cast<Ack*>(data);
            a->success = success != 0;
            a->connection->signal();
        },
        &ack));
    if (auto done = await(connection, std::move(op), timeoutMs); !done)
        return done.error();
    if (!ack.success)
        return noSuchSource(source);
    return {};
}

} // namespace chimora
