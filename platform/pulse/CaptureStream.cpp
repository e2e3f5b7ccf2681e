#include "platform/pulse/CaptureStream.h"

namespace chimora {

namespace {

// Pieces of a twentieth of a second: little waiting in the server's buffers, few wake-ups.
constexpr pa_usec_t kFragmentUs = 50 * 1000;

} // namespace

Result<std::unique_ptr<CaptureStream>>
CaptureStream::open(std::shared_ptr<PulseConnection> connection, const Request& request,
                    DataHandler handler, int timeoutMs) {
    const bool peaks = request.kind == Kind::Peaks;
    const int channels = peaks ? 1 : request.channels;
    if (!connection || !handler || request.sampleRate <= 0 ||
        uint32_t(request.sampleRate) > PA_RATE_MAX || channels <= 0 ||
        channels > int(PA_CHANNELS_MAX))
        return Error::badInput(QStringLiteral("This sound format cannot be recorded: %1 Hz with "
                                              "%2 channels.")
                                   .arg(request.sampleRate)
                                   .arg(request.channels));

    std::unique_ptr<CaptureStream> c(new CaptureStream);
    c->m_connection = std::move(connection);
    c->m_handler = std::move(handler);
    c->m_state = request.startPaused ? State::Paused : State::Running;

    PulseConnection& pc = *c->m_connection;
    PulseConnection::Lock lock(pc);
    const pa_sample_spec sampleSpec{peaks ? PA_SAMPLE_FLOAT32LE : PA_SAMPLE_S16LE,
                                    uint32_t(request.sampleRate), uint8_t(channels)};
    pa_channel_map map;
    pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);
    c->m_stream.reset(pa_stream_new(pc.context(), peaks ? "Chimora level" : "Chimora recording",
                                    &sampleSpec, &map));
    if (!c->m_stream)
        return Error::environment(QStringLiteral("The sound input could not be opened."),
                                  pc.lastErrorText());
    pa_stream* stream = c->m_stream.get();
    pa_stream_set_state_callback(
        stream,
        [](pa_stream* s, void* data) {
            auto* self = static_cast<CaptureStream*>(data);
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)) && !self->m_stopping) {
                self->m_failure = self->m_connection->lastErrorText();
                self->m_state = State::Failed;
            }
            self->m_connection->signal();
        },
        c.get());
    pa_stream_set_read_callback(
        stream,
        [](pa_stream*, size_t, void* data) { static_cast<CaptureStream*>(data)->readAvailable(); },
        c.get());

    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
    // A meter wants every peak value as soon as it exists.
    attr.fragsize =
        peaks ? uint32_t(sizeof(float)) : uint32_t(pa_usec_to_bytes(kFragmentUs, &sampleSpec));
    auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY);
    if (peaks)
        flags =
            pa_stream_flags_t(flags | PA_STREAM_PEAK_DETECT | PA_STREAM_DONT_INHIBIT_AUTO_SUSPEND);
    if (request.startPaused)
        flags = pa_stream_flags_t(flags | PA_STREAM_START_CORKED);
    const QByteArray source = request.source.toUtf8();
    if (pa_stream_connect_record(stream, source.isEmpty() ? nullptr : source.constData(), &attr,
                                 flags) < 0)
        return Error::environment(QStringLiteral("The sound input could not be started."),
                                  pc.lastErrorText());
    const bool settled = pc.waitUntil(
        [stream] {
            const pa_stream_state_t state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        },
        timeoutMs);
    if (!settled || pa_stream_get_state(stream) != PA_STREAM_READY)
        return Error::environment(QStringLiteral("The sound input could not be started."),
                                  settled ? pc.lastErrorText() : QStringLiteral("timed out"));
    return c;
}

CaptureStream::~CaptureStream() {
    PulseConnection::Lock lock(*m_connection);
    m_stopping = true;
    m_stream.reset();
}

void CaptureStream::readAvailable() {
    pa_stream* s = m_stream.get();
    while (pa_stream_readable_size(s) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0)
            return;
        // A hole (data null) is a gap the server could not fill; there is nothing to hand on.
        if (data && m_state.load() != State::Ended) {
            bool more = false;
            try {
                more = m_handler(static_cast<const char*>(data), bytes);
            } catch (...) {
                more = false; // an exception must not cross the C library
            }
            m_bytesDelivered += int64_t(bytes);
            if (!more) {
                m_state = State::Ended;
                pulse::forget(pa_stream_cork(s, 1, nullptr, nullptr));
            }
        }
        pa_stream_drop(s);
    }
}

bool CaptureStream::resume() {
    PulseConnection::Lock lock(*m_connection);
    const State was = m_state.load();
    if (was != State::Paused)
        return was == State::Running;
    m_state = State::Running;
    pulse::forget(pa_stream_cork(m_stream.get(), 0, nullptr, nullptr));
    return true;
}

void CaptureStream::stop(int timeoutMs) {
    PulseConnection::Lock lock(*m_connection);
    const State was = m_state.load();
    if (was == State::Failed || m_stopping)
        return;
    m_stopping = true;
    if (was != State::Running) {
        m_state = State::Ended;
        return;
    }
    // The server answers the cork after every piece it captured before it; those pieces arrive
    // (and go through the read callback) before the answer.
    struct Ack {
        PulseConnection* connection;
        bool done = false;
    } ack{m_connection.get()};
    pulse::OperationPtr op(pa_stream_cork(
        m_stream.get(), 1,
        [](pa_stream*, int, void* data) {
            auto* a = static_cast<Ack*>(data);
            a->done = true;
            a->connection->signal();
        },
        &ack));
    if (op)
        m_connection->waitForOperation(std::move(op), timeoutMs);
    readAvailable();
    m_state = State::Ended;
}

QString CaptureStream::failureText() const {
    PulseConnection::Lock lock(*m_connection);
    return m_failure;
}

} // namespace chimora
