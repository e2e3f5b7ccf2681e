// Recording in the audio layer: the server's sources as inputs, and recording channels that
// capture from the input switched on and feed an encoder.

#include "platform/bass/BassRecord.h"

#include "platform/bass/BassChannels.h"
#include "platform/encoder/EncoderFeed.h"
#include "platform/pulse/AudioDevices.h"
#include "platform/pulse/CaptureStream.h"
#include "platform/pulse/PulseSources.h"

#include <QDebug>

#include <map>
#include <mutex>
#include <vector>

using namespace chimora;
using chimora::bass::fail;
using chimora::bass::setError;

namespace {

// A local server answers in milliseconds; this only bounds one that hangs.
constexpr int kServerTimeoutMs = 5000;

// The inputs as of the last listing; every input index refers to it. UI thread.
struct InputListing {
    QList<PulseSource> sources;
    std::vector<QByteArray> names; // what BASS_RecordGetInputName hands out
};

InputListing& listing() {
    static InputListing l;
    return l;
}

bool refreshListing(const AudioDevice& device) {
    auto sources = listSources(*device.connection, kServerTimeoutMs);
    if (!sources || !device.connection->refreshServerInfo(kServerTimeoutMs))
        return false;
    InputListing fresh;
    fresh.sources = *sources;
    std::map<QString, int> seen;
    for (const PulseSource& s : fresh.sources) {
        const int count = ++seen[s.description];
        const QString name =
            count == 1 ? s.description : QStringLiteral("%1 (%2)").arg(s.description).arg(count);
        fresh.names.push_back(name.toUtf8());
    }
    listing() = std::move(fresh);
    return true;
}

// The listed source behind `input`, or null with the error set. Lists first when nothing has
// been listed yet.
const PulseSource* listedInput(const AudioDevice& device, int input) {
    if (!device) {
        setError(BASS_ERROR_INIT);
        return nullptr;
    }
    if (listing().sources.isEmpty() && !refreshListing(device)) {
        setError(BASS_ERROR_DRIVER);
        return nullptr;
    }
    if (input < 0 || input >= listing().sources.size()) {
        setError(BASS_ERROR_ILLPARAM);
        return nullptr;
    }
    return &listing().sources[input];
}

QString switchedOnSource(const AudioDevice& device) {
    return device.name.isEmpty() ? device.connection->defaultSourceName() : device.name;
}

// One recording channel. The capture's handler runs on the audio thread with the connection's
// lock held; `encoder` is set and taken only under that lock.
struct RecordChannel {
    DWORD handle = 0;
    std::shared_ptr<PulseConnection> connection;
    RECORDPROC* proc = nullptr;
    void* user = nullptr;
    int sampleRate = 0;
    int channels = 0;
    std::unique_ptr<CaptureStream> capture; // UI thread
    std::unique_ptr<EncoderFeed> encoder;
    std::atomic<int64_t> bytesCaptured{0}; // kept when the capture is released

    ~RecordChannel() {
        capture.reset(); // no handler call after this, so the encoder can go
        PulseConnection::Lock lock(*connection);
        encoder.reset();
    }

    bool onData(const char* data, size_t bytes) {
        if (encoder)
            encoder->push(data, bytes);
        bytesCaptured += int64_t(bytes);
        return !proc || proc(handle, data, DWORD(bytes), user) != 0;
    }
};

// The table is locked only to find or change entries, never while the connection's lock is
// taken, so the audio thread's look-ups cannot deadlock with the UI thread.
std::mutex tableMutex;
std::map<DWORD, std::shared_ptr<RecordChannel>> recordChannels;

std::shared_ptr<RecordChannel> findRecordChannel(DWORD handle) {
    std::lock_guard guard(tableMutex);
    auto it = recordChannels.find(handle);
    return it == recordChannels.end() ? nullptr : it->second;
}

DWORD nextRecordHandle() {
    // A range of their own, apart from devices and decode streams.
    constexpr DWORD kFirst = 0x30000001;
    static DWORD next = kFirst;
    const DWORD h = next++;
    if (next < kFirst)
        next = kFirst;
    return h;
}

void stopChannel(RecordChannel& channel) {
    if (channel.capture) {
        channel.capture->stop(kServerTimeoutMs);
        channel.capture.reset(); // the server's record stream goes now
    }
    std::unique_ptr<EncoderFeed> encoder;
    {
        PulseConnection::Lock lock(*channel.connection);
        encoder = std::move(channel.encoder);
    }
    if (encoder)
        bass::detail::lastOutcome() = encoder->finish();
}

} // namespace

namespace chimora::bass::detail {

bool isRecordChannel(DWORD handle) {
    return findRecordChannel(handle) != nullptr;
}

BOOL stopRecordChannel(DWORD handle) {
    auto channel = findRecordChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, BOOL(FALSE));
    stopChannel(*channel);
    setError(BASS_OK);
    return TRUE;
}

BOOL freeRecordChannel(DWORD handle) {
    std::shared_ptr<RecordChannel> channel;
    {
        std::lock_guard guard(tableMutex);
        auto it = recordChannels.find(handle);
        if (it == recordChannels.end())
            return fail(BASS_ERROR_HANDLE, BOOL(FALSE));
        channel = std::move(it->second);
        recordChannels.erase(it);
    }
    stopChannel(*channel);
    setError(BASS_OK);
    return TRUE;
}

DWORD recordChannelIsActive(DWORD handle) {
    auto channel = findRecordChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, DWORD(BASS_ACTIVE_STOPPED));
    setError(BASS_OK);
    if (!channel->capture)
        return BASS_ACTIVE_STOPPED;
    switch (channel->capture->state()) {
    case CaptureStream::State::Paused:
        return BASS_ACTIVE_PAUSED;
    case CaptureStream::State::Running:
        return BASS_ACTIVE_PLAYING;
    default:
        return BASS_ACTIVE_STOPPED;
    }
}

QWORD recordChannelPosition(DWORD handle, DWORD mode) {
    auto channel = findRecordChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, QWORD(-1));
    if (mode != 0)
        return fail(BASS_ERROR_ILLPARAM, QWORD(-1));
    setError(BASS_OK);
    return QWORD(channel->bytesCaptured.load());
}

HENCODE startRecordEncoder(DWORD handle, const EncoderCommand& command, DWORD flags) {
    auto channel = findRecordChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, HENCODE(0));
    if (command.program.isEmpty() || (flags & ~DWORD(BASS_ENCODE_AUTOFREE)))
        return fail(BASS_ERROR_ILLPARAM, HENCODE(0));
    {
        PulseConnection::Lock lock(*channel->connection);
        if (channel->encoder)
            return fail(BASS_ERROR_ALREADY, HENCODE(0));
    }
    EncoderOutcome failure;
    auto encoder = EncoderFeed::start(command, channel->sampleRate, channel->channels, &failure);
    if (!encoder) {
        lastOutcome() = failure;
        return fail(BASS_ERROR_FILEOPEN, HENCODE(0));
    }
    PulseConnection::Lock lock(*channel->connection);
    channel->encoder = std::move(encoder);
    setError(BASS_OK);
    return handle;
}

DWORD recordEncoderIsActive(DWORD handle) {
    auto channel = findRecordChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, DWORD(BASS_ACTIVE_STOPPED));
    PulseConnection::Lock lock(*channel->connection);
    setError(BASS_OK);
    return channel->encoder && channel->encoder->isActive() ? BASS_ACTIVE_PLAYING
                                                            : BASS_ACTIVE_STOPPED;
}

} // namespace chimora::bass::detail

const char* BASS_RecordGetInputName(int input) {
    const AudioDevice device = AudioDevices::recording();
    if (!device)
        return fail(BASS_ERROR_INIT, static_cast<const char*>(nullptr));
    if (input == 0 && !refreshListing(device))
        return fail(BASS_ERROR_DRIVER, static_cast<const char*>(nullptr));
    if (!listedInput(device, input))
        return nullptr;
    setError(BASS_OK);
    return listing().names[size_t(input)].constData();
}

DWORD BASS_RecordGetInput(int input) {
    const AudioDevice device = AudioDevices::recording();
    const PulseSource* source = listedInput(device, input);
    if (!source)
        return DWORD(-1);
    auto level = sourceVolumePercent(*device.connection, source->name, kServerTimeoutMs);
    if (!level)
        return fail(BASS_ERROR_NOTAVAIL, DWORD(-1));
    setError(BASS_OK);
    const DWORD off = source->name == switchedOnSource(device) ? 0 : DWORD(BASS_INPUT_OFF);
    return off | DWORD(*level);
}

BOOL BASS_RecordSetInput(int input, DWORD setting) {
    const AudioDevice device = AudioDevices::recording();
    const PulseSource* source = listedInput(device, input);
    if (!source)
        return FALSE;
    if ((setting & BASS_INPUT_ON) && (setting & BASS_INPUT_OFF))
        return fail(BASS_ERROR_ILLPARAM, BOOL(FALSE));
    if (setting & BASS_INPUT_LEVEL) {
        const int percent = int(std::min<DWORD>(setting & 0xFFFF, 100));
        if (!setSourceVolumePercent(*device.connection, source->name, percent, kServerTimeoutMs))
            return fail(BASS_ERROR_NOTAVAIL, BOOL(FALSE));
    }
    if (setting & BASS_INPUT_ON)
        AudioDevices::setRecording({device.connection, source->name});
    else if ((setting & BASS_INPUT_OFF) && source->name == device.name)
        AudioDevices::setRecording({device.connection, {}});
    setError(BASS_OK);
    return TRUE;
}

HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user) {
    const AudioDevice device = AudioDevices::recording();
    if (!device)
        return fail(BASS_ERROR_INIT, HRECORD(0));
    if (freq == 0 || freq > PA_RATE_MAX || chans == 0 || chans > PA_CHANNELS_MAX ||
        (flags & ~DWORD(BASS_RECORD_PAUSE)))
        return fail(BASS_ERROR_ILLPARAM, HRECORD(0));
    if (!device.connection->isAlive())
        return fail(BASS_ERROR_DRIVER, HRECORD(0));

    auto channel = std::make_shared<RecordChannel>();
    channel->handle = nextRecordHandle();
    channel->connection = device.connection;
    channel->proc = proc;
    channel->user = user;
    channel->sampleRate = int(freq);
    channel->channels = int(chans);
    CaptureStream::Request request;
    request.source = device.name;
    request.sampleRate = int(freq);
    request.channels = int(chans);
    request.startPaused = flags & BASS_RECORD_PAUSE;
    RecordChannel* raw = channel.get();
    auto capture = CaptureStream::open(
        device.connection, request,
        [raw](const char* data, size_t bytes) { return raw->onData(data, bytes); },
        kServerTimeoutMs);
    if (!capture) {
        qWarning().noquote() << "recording:" << capture.error().message << capture.error().detail;
        return fail(BASS_ERROR_START, HRECORD(0));
    }
    channel->capture = std::move(*capture);
    {
        std::lock_guard guard(tableMutex);
        recordChannels[channel->handle] = channel;
    }
    setError(BASS_OK);
    return channel->handle;
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL) {
    auto channel = findRecordChannel(handle);
    if (!channel)
        return fail(bass::detail::findChannel(handle) ? BASS_ERROR_DECODE : BASS_ERROR_HANDLE,
                    BOOL(FALSE));
    if (!channel->capture)
        return fail(BASS_ERROR_ENDED, BOOL(FALSE));
    // Judged under the lock by resume() itself: once it lets go, the audio thread may hand the
    // first piece to a callback that ends the capture, and a look at the state then would call
    // a start that worked a failure.
    if (!channel->capture->resume())
        return fail(BASS_ERROR_ENDED, BOOL(FALSE));
    setError(BASS_OK);
    return TRUE;
}
