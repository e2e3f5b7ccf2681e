#include "platform/pulse/PulseConnection.h"

#include <QCoreApplication>

namespace chimora {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("PulseConnection", text);
}

Error serverError(const QString& detail) {
    return Error::environment(
        tr("No audio server could be reached. Check that the PulseAudio sound server is running."),
        detail);
}

const QString kNoAnswerDetail = QStringLiteral("timed out");

Error noAnswerError() {
    return Error::environment(tr("The audio server did not answer in time."), kNoAnswerDetail);
}

} // namespace

// Sink and source lists arrive the same way: one call per device, then one with eol set
// (negative on failure).
struct PulseConnection::NameReply {
    PulseConnection* connection;
    QStringList names;
    bool failed = false;
};

template <typename Info>
void PulseConnection::collectName(pa_context*, const Info* info, int eol, void* data) {
    auto* reply = static_cast<NameReply*>(data);
    if (eol < 0)
        reply->failed = true;
    else if (eol == 0 && info && info->name)
        reply->names << QString::fromUtf8(info->name);
    reply->connection->signal();
}

PulseConnection::Lock::Lock(const PulseConnection& connection)
    : m_mainloop(connection.m_mainloop.get()),
      m_locked(!pa_threaded_mainloop_in_thread(m_mainloop)) {
    if (m_locked)
        pa_threaded_mainloop_lock(m_mainloop);
}

PulseConnection::Lock::~Lock() {
    if (m_locked)
        pa_threaded_mainloop_unlock(m_mainloop);
}

Result<std::unique_ptr<PulseConnection>> PulseConnection::connect(const QString& clientName,
                                                                  int timeoutMs, bool* timedOut) {
    if (timedOut)
        *timedOut = false;
    std::unique_ptr<PulseConnection> c(new PulseConnection);
    c->m_mainloop.reset(pa_threaded_mainloop_new());
    if (!c->m_mainloop)
        return Error::internal(tr("The audio thread could not be created."));
    pa_threaded_mainloop_set_name(c->mainloop(), "chimora-audio");

    c->m_context.reset(pa_context_new(pa_threaded_mainloop_get_api(c->mainloop()),
                                      clientName.toUtf8().constData()));
    if (!c->m_context)
        return Error::internal(tr("The audio connection could not be created."));
    pa_context_set_state_callback(
        c->context(),
        [](pa_context*, void* self) { static_cast<PulseConnection*>(self)->signal(); }, c.get());

    if (pa_threaded_mainloop_start(c->mainloop()) < 0)
        return Error::internal(tr("The audio thread could not be started."));

    {
        Lock lock(*c);
        // No autospawn: when nothing listens, connecting fails at once instead of starting a
        // server behind the user's back.
        if (pa_context_connect(c->context(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return serverError(c->lastErrorText());
        pa_context* context = c->context();
        const bool settled = c->waitUntil(
            [context] {
                const pa_context_state_t state = pa_context_get_state(context);
                return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
            },
            timeoutMs);
        if (!settled) {
            if (timedOut)
                *timedOut = true;
            return noAnswerError();
        }
        if (pa_context_get_state(context) != PA_CONTEXT_READY)
            return serverError(c->lastErrorText());
    }

    if (auto info = c->refreshServerInfo(timeoutMs); !info) {
        if (timedOut)
            *timedOut = info.error().detail == kNoAnswerDetail;
        return info.error();
    }
    return c;
}

PulseConnection::~PulseConnection() {
    // The audio thread cannot stop itself: the last owner must let go elsewhere.
    Q_ASSERT(!m_mainloop || !pa_threaded_mainloop_in_thread(m_mainloop.get()));
    if (m_context) {
        Lock lock(*this);
        m_context.reset();
    }
    // m_mainloop is stopped and freed after this body, without the lock.
}

bool PulseConnection::isAlive() const {
    Lock lock(*this);
    return pa_context_get_state(m_context.get()) == PA_CONTEXT_READY;
}

QString PulseConnection::lastErrorText() const {
    return QString::fromUtf8(pa_strerror(pa_context_errno(m_context.get())));
}

bool PulseConnection::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    struct Timer {
        PulseConnection* connection;
        bool expired = false;
    } timer{this};
    const pa_usec_t deadline = pa_rtclock_now() + pa_usec_t(std::max(timeoutMs, 0)) * 1000;
    pa_time_event* event = pa_context_rttime_new(
        context(), deadline,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
            auto* t = static_cast<Timer*>(data);
            t->expired = true;
            t->connection->signal();
        },
        &timer);
    bool ok = done();
    while (!ok && !timer.expired) {
        pa_threaded_mainloop_wait(mainloop());
        ok = done();
    }
    if (event)
        pa_threaded_mainloop_get_api(mainloop())->time_free(event);
    return ok;
}

bool PulseConnection::waitForOperation(pulse::OperationPtr operation, int timeoutMs) {
    if (!operation)
        return false;
    pa_operation* op = operation.get();
    // The deleter cancels the operation when it is still running after a time-out.
    return waitUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; },
                     timeoutMs);
}

Result<void> PulseConnection::refreshServerInfo(int timeoutMs) {
    struct Reply {
        PulseConnection* connection;
        QString sink;
        QString source;
    } reply{this, {}, {}};
    Lock lock(*this);
    pulse::OperationPtr op(pa_context_get_server_info(
        context(),
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* r = static_cast<Reply*>(data);
            if (info) {
                r->sink = QString::fromUtf8(info->default_sink_name);
                r->source = QString::fromUtf8(info->default_source_name);
            }
            r->connection->signal();
        },
        &reply));
    if (!op)
        return serverError(lastErrorText());
    if (!waitForOperation(std::move(op), timeoutMs))
        return noAnswerError();
    m_defaultSink = reply.sink;
    m_defaultSource = reply.source;
    return {};
}

Result<QStringList> PulseConnection::sinkNames(int timeoutMs) {
    return deviceNames(true, timeoutMs);
}

Result<QStringList> PulseConnection::sourceNames(int timeoutMs) {
    return deviceNames(false, timeoutMs);
}

Result<QStringList> PulseConnection::deviceNames(bool sinks, int timeoutMs) {
    NameReply reply{this, {}, false};
    Lock lock(*this);
    pulse::OperationPtr op(
        sinks ? pa_context_get_sink_info_list(context(), &collectName<pa_sink_info>, &reply)
              : pa_context_get_source_info_list(context(), &collectName<pa_source_info>, &reply));
    if (!op)
        return serverError(lastErrorText());
    if (!waitForOperation(std::move(op), timeoutMs))
        return noAnswerError();
    if (reply.failed)
        return serverError(lastErrorText());
    return reply.names;
}

} // namespace chimora
