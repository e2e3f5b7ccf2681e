#include "platform/ffmpeg/AudioDecoder.h"

#include "platform/ffmpeg/AudioInput.h"
#include "platform/ffmpeg/PcmConverter.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <functional>

namespace chimora {

namespace {

Q_LOGGING_CATEGORY(lcDecode, "chimora.decode")

int64_t g_availableMemoryForTesting = -1;

// Memory the system can give us without swapping, from the kernel's own estimate.
int64_t availableMemoryBytes() {
    if (g_availableMemoryForTesting >= 0)
        return g_availableMemoryForTesting;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : meminfo.readAll().split('\n')) {
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

QString byteText(int64_t bytes) {
    return bytes >= (int64_t(1) << 30)
               ? QStringLiteral("%1 GiB").arg(double(bytes) / double(int64_t(1) << 30), 0, 'f', 1)
               : QStringLiteral("%1 MiB").arg((bytes + (1 << 20) - 1) >> 20);
}

// The decoded audio is held in memory whole; a file whose audio could not be held (a
// headerless file of several gigabytes, say) is refused before the memory runs out.
Result<void> checkFitsInMemory(const QString& path, const AudioInput& input) {
    const int rate = input.decoder().sample_rate;
    const int channels = std::min(2, std::max(1, input.decoder().ch_layout.nb_channels));
    const int64_t frames = rate > 0 ? input.lengthFrames(rate) : 0;
    const int64_t available = availableMemoryBytes();
    const int64_t needed = frames * channels * int64_t(sizeof(int16_t));
    if (frames <= 0 || available < 0 || needed <= available)
        return {};
    const int64_t seconds = frames / rate;
    const QString length = QStringLiteral("%1:%2:%3")
                               .arg(seconds / 3600)
                               .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                               .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return Error::environment(
        QStringLiteral("%1 could not be read: its audio lasts %2 and would need %3 of memory, "
                       "more than the %4 free now. Open a shorter file, or close other "
                       "programs and try again.")
            .arg(QFileInfo(path).fileName(), length, byteText(needed), byteText(available)));
}

} // namespace

void setAvailableMemoryForTesting(int64_t bytes) {
    g_availableMemoryForTesting = bytes;
}

Result<void> decodeAudioFile(const QString& path, const RawPcmParams* raw,
                             const std::atomic<bool>& cancel, DecodeSink& sink) {
    auto opened = AudioInput::open(path, raw, &cancel);
    if (!opened)
        return cancel ? Result<void>{} : opened.error();
    AudioInput& input = *opened.value();
    if (auto fits = checkFitsInMemory(path, input); !fits)
        return fits.error();
    ff::FramePtr frame(av_frame_alloc());
    if (!frame)
        return Error::environment(QStringLiteral("Out of memory."));

    PcmConverter converter(input.decoder().sample_rate);
    bool started = false;
    int64_t total = 0;
    QString failure;
    // Converts straight into the room the sink gives, so no frame is copied on the way.
    auto convertInto = [&](int capacity, const std::function<Result<int>(int16_t*)>& convert) {
        int16_t* room = sink.reserve(capacity);
        if (!room) {
            failure = QStringLiteral("out of memory");
            return;
        }
        const Result<int> n = convert(room);
        if (!n) {
            failure = n.error().message;
            sink.commit(0);
            return;
        }
        sink.commit(*n);
        total += *n;
    };
    while (failure.isEmpty() && input.nextFrame(frame.get())) {
        const Result<int> capacity = converter.prepare(*frame);
        if (!capacity) {
            failure = capacity.error().message;
        } else if (*capacity > 0) {
            if (!started) {
                sink.format(converter.format());
                started = true;
            }
            convertInto(*capacity,
                        [&](int16_t* room) { return converter.convert(*frame, room, *capacity); });
        }
        av_frame_unref(frame.get());
    }
    if (cancel)
        return {};
    if (started) { // the converter may hold back a few frames
        convertInto(4096,
                    [&](int16_t* room) -> Result<int> { return converter.drain(room, 4096); });
        sink.finish();
    }
    if (!failure.isEmpty())
        qCDebug(lcDecode) << path << "decoding stopped:" << failure;
    if (total == 0)
        return input.noDecodableAudio();
    return {};
}

} // namespace chimora
