#include "platform/pulse/AudioPlayer.h"

#include "platform/pulse/AudioDevices.h"
#include "platform/pulse/PulseConnection.h"

#include <QDebug>

#include <algorithm>

namespace chimora {

namespace {

constexpr int kServerTimeoutMs = 3000;
// How much audio the server keeps queued ahead: short enough that stop and pause feel
// immediate, long enough that a busy machine does not run dry.
constexpr pa_usec_t kTargetLatencyUs = 200 * 1000;

} // namespace

struct AudioPlayer::Private {
    // One play() call's stream and everything its callbacks touch. The callbacks run on the
    // audio thread with the mainloop lock held; the UI thread touches the mutable members only
    // under PulseConnection::Lock.
    struct Session {
        std::shared_ptr<PulseConnection> connection; // declared first: outlives the stream
        pulse::StreamPtr stream;
        pulse::OperationPtr drain;
        AudioPlayer* player = nullptr;
        quint64 generation = 0;
        Reader reader;
        AudioFormat format;
        size_t frameBytes = 0;
        int64_t startFrame = 0;
        int64_t endFrame = 0;  // lowered when the reader runs out early
        int64_t nextFrame = 0; // next frame to hand to the server

        ~Session();
        void fill(size_t bytes);
        void startDrain();
        void notify(void (Private::*handler)(quint64));
        int64_t position() const;
    };

    AudioPlayer* q;
    std::shared_ptr<PulseConnection> ownConnection; // made on demand when BASS_Init was not
    std::unique_ptr<Session> session;
    bool paused = false;
    int64_t pausedPosition = 0; // what was heard when pause() was called
    quint64 generation = 0;
    mutable int64_t lastPosition = 0;

    explicit Private(AudioPlayer* owner) : q(owner) {}
    Result<AudioDevice> device();
    void onDrained(quint64 generation);
    void onFailed(quint64 generation);
    void endSession(int64_t position);
};

AudioPlayer::Private::Session::~Session() {
    if (!connection)
        return;
    PulseConnection::Lock lock(*connection);
    drain.reset();
    if (stream) {
        // Drop what is queued so the sound stops now, not after the buffer has played.
        pulse::forget(pa_stream_flush(stream.get(), nullptr, nullptr));
        stream.reset();
    }
}

void AudioPlayer::Private::Session::fill(size_t bytes) {
    while (bytes >= frameBytes && nextFrame < endFrame) {
        void* data = nullptr;
        size_t size = bytes;
        if (pa_stream_begin_write(stream.get(), &data, &size) < 0 || !data)
            return;
        const int64_t wanted = std::min<int64_t>(int64_t(size / frameBytes), endFrame - nextFrame);
        int64_t got = 0;
        if (wanted > 0) {
            try {
                got = reader(nextFrame, wanted, static_cast<int16_t*>(data));
            } catch (...) {
                got = 0; // an exception must not cross the C library; treat it as the end
            }
            got = std::clamp<int64_t>(got, 0, wanted);
        }
        if (got == 0) {
            pa_stream_cancel_write(stream.get());
            endFrame = nextFrame;
            break;
        }
        if (pa_stream_write(stream.get(), data, size_t(got) * frameBytes, nullptr, 0,
                            PA_SEEK_RELATIVE) < 0)
            return; // the stream is failing; its state callback ends the session
        nextFrame += got;
        bytes -= std::min(bytes, size_t(got) * frameBytes);
        if (got < wanted)
            endFrame = nextFrame;
    }
    if (nextFrame >= endFrame)
        startDrain();
}

void AudioPlayer::Private::Session::startDrain() {
    if (drain)
        return;
    // A short tail may never reach the server's start threshold; start playing regardless.
    pulse::forget(pa_stream_trigger(stream.get(), nullptr, nullptr));
    drain.reset(pa_stream_drain(
        stream.get(),
        [](pa_stream*, int success, void* data) {
            if (success)
                static_cast<Session*>(data)->notify(&Private::onDrained);
        },
        this));
}

void AudioPlayer::Private::Session::notify(void (Private::*handler)(quint64)) {
    // Runs on the audio thread. The UI side checks the generation, so a notice from a session
    // that was stopped meanwhile is ignored; a deleted player drops its queued calls.
    const quint64 id = generation;
    AudioPlayer* target = player;
    QMetaObject::invokeMethod(
        target, [target, handler, id] { (target->d.get()->*handler)(id); }, Qt::QueuedConnection);
}

int64_t AudioPlayer::Private::Session::position() const {
    pa_usec_t playedUs = 0;
    if (pa_stream_get_time(stream.get(), &playedUs) < 0)
        return startFrame; // no timing information yet
    const int64_t played = int64_t(playedUs * pa_usec_t(format.sampleRate) / PA_USEC_PER_SEC);
    // The clock is extrapolated between updates and runs on through an underrun; nothing can be
    // heard that was not yet handed to the server.
    return std::clamp<int64_t>(startFrame + played, startFrame, std::min(nextFrame, endFrame));
}

Result<AudioDevice> AudioPlayer::Private::device() {
    AudioDevice started = AudioDevices::playback();
    if (started && started.connection->isAlive())
        return started;
    if (!ownConnection || !ownConnection->isAlive()) {
        ownConnection.reset();
        auto connected =
            PulseConnection::connect(QStringLiteral("Chimora player"), kServerTimeoutMs);
        if (!connected)
            return connected.error();
        ownConnection = std::move(*connected);
    }
    return AudioDevice{ownConnection, {}};
}

void AudioPlayer::Private::endSession(int64_t position) {
    lastPosition = position;
    session.reset();
    paused = false;
}

void AudioPlayer::Private::onDrained(quint64 id) {
    if (!session || session->generation != id)
        return;
    int64_t end = 0;
    {
        PulseConnection::Lock lock(*session->connection);
        end = session->endFrame;
    }
    endSession(end);
    emit q->finished();
}

void AudioPlayer::Private::onFailed(quint64 id) {
    if (!session || session->generation != id)
        return;
    QString reason;
    {
        PulseConnection::Lock lock(*session->connection);
        reason = session->connection->lastErrorText();
    }
    qWarning().noquote() << "playback ended by the audio server:" << reason;
    // A failed stream has no clock any more: keep the last position the UI was given.
    endSession(paused ? pausedPosition : lastPosition);
}

AudioPlayer::AudioPlayer(QObject* parent) : QObject(parent), d(std::make_unique<Private>(this)) {}

AudioPlayer::~AudioPlayer() {
    stop();
}

Result<void> AudioPlayer::play(AudioFormat format, Reader reader, int64_t startFrame,
                               int64_t endFrame) {
    if (!format.isValid() || format.channels > int(PA_CHANNELS_MAX) ||
        uint32_t(format.sampleRate) > PA_RATE_MAX)
        return Error::badInput(tr("This audio cannot be played: %1 Hz with %2 channels is not "
                                  "supported.")
                                   .arg(format.sampleRate)
                                   .arg(format.channels));
    if (!reader)
        return Error::internal(tr("Nothing to read the audio from."));
    if (startFrame < 0 || endFrame <= startFrame)
        return Error::badInput(tr("There is nothing to play in this range."));

    stop();
    auto device = d->device();
    if (!device)
        return device.error();

    auto session = std::make_unique<Private::Session>();
    session->connection = device->connection;
    session->player = this;
    session->generation = ++d->generation;
    session->reader = std::move(reader);
    session->format = format;
    session->frameBytes = size_t(format.channels) * sizeof(int16_t);
    session->startFrame = session->nextFrame = startFrame;
    session->endFrame = endFrame;

    PulseConnection& connection = *session->connection;
    {
        PulseConnection::Lock lock(connection);
        const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, uint32_t(format.sampleRate),
                                        uint8_t(format.channels)};
        pa_channel_map map;
        pa_channel_map_init_extend(&map, sampleSpec.channels, PA_CHANNEL_MAP_DEFAULT);
        session->stream.reset(
            pa_stream_new(connection.context(), "Chimora playback", &sampleSpec, &map));
        if (!session->stream)
            return Error::environment(tr("The sound output could not be opened."),
                                      connection.lastErrorText());
        pa_stream* stream = session->stream.get();
        pa_stream_set_state_callback(
            stream,
            [](pa_stream* s, void* data) {
                auto* self = static_cast<Private::Session*>(data);
                self->connection->signal();
                if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
                    self->notify(&Private::onFailed);
            },
            session.get());
        pa_stream_set_write_callback(
            stream,
            [](pa_stream*, size_t bytes, void* data) {
                static_cast<Private::Session*>(data)->fill(bytes);
            },
            session.get());

        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(pa_usec_to_bytes(kTargetLatencyUs, &sampleSpec));
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(-1);
        const auto flags = pa_stream_flags_t(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
        const QByteArray sink = device->name.toUtf8();
        if (pa_stream_connect_playback(stream, sink.isEmpty() ? nullptr : sink.constData(), &attr,
                                       flags, nullptr, nullptr) < 0)
            return Error::environment(tr("The sound output could not be started."),
                                      connection.lastErrorText());
        const bool settled = connection.waitUntil(
            [stream] {
                const pa_stream_state_t state = pa_stream_get_state(stream);
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            kServerTimeoutMs);
        if (!settled || pa_stream_get_state(stream) != PA_STREAM_READY)
            return Error::environment(tr("The sound output could not be started."),
                                      settled ? connection.lastErrorText()
                                              : QStringLiteral("timed out"));
    }
    // A failure notice posted while we waited carries this generation and is handled later.
    d->session = std::move(session);
    d->paused = false;
    d->lastPosition = startFrame;
    return {};
}

void AudioPlayer::pause() {
    if (!d->session || d->paused)
        return;
    PulseConnection::Lock lock(*d->session->connection);
    // A corked stream's time no longer subtracts the sink's latency, and the server then takes
    // back what the sink had not played yet; the clock wobbles meanwhile, so the position is
    // held as it was when the user paused.
    d->pausedPosition = d->session->position();
    pulse::forget(pa_stream_cork(d->session->stream.get(), 1, nullptr, nullptr));
    d->paused = true;
}

void AudioPlayer::resume() {
    if (!d->session || !d->paused)
        return;
    PulseConnection::Lock lock(*d->session->connection);
    pulse::forget(pa_stream_cork(d->session->stream.get(), 0, nullptr, nullptr));
    d->paused = false;
}

void AudioPlayer::stop() {
    if (!d->session)
        return;
    d->endSession(positionFrame());
}

bool AudioPlayer::isPlaying() const {
    return d->session != nullptr;
}

bool AudioPlayer::isPaused() const {
    return d->session && d->paused;
}

int64_t AudioPlayer::positionFrame() const {
    if (!d->session)
        return d->lastPosition;
    if (d->paused)
        return d->lastPosition = d->pausedPosition;
    PulseConnection::Lock lock(*d->session->connection);
    d->lastPosition = d->session->position();
    return d->lastPosition;
}

} // namespace chimora

// Compiled here rather than in the library-wide moc unit, so that using the player links only
// the player.
#include "moc_AudioPlayer.cpp"
