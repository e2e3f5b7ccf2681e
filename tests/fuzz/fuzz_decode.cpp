// Fuzzes the decoding core through both of its faces with every kind of file the program
// opens. The first byte of an input chooses the kind (its extension), the rest is the file.
// Invariants beyond "no crash": a decode that succeeds has audio and one format, every block
// has that format's channel count, and the pull face hands out whole frames of its format.

#include "platform/ffmpeg/AudioDecoder.h"
#include "platform/ffmpeg/AudioFileKinds.h"
#include "platform/ffmpeg/DecodeStream.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace chimora;

namespace {

// Memory-backed where the system has it: every save syncs its file, which on a disk would
// make each run wait for it.
QString scratchFolder() {
    return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                     : QDir::tempPath();
}

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

QString scratchFile(const char* extension) {
    static const QString dir = [] {
        const QString d =
            scratchFolder() +
            QStringLiteral("/chimora-fuzz-%1").arg(QCoreApplication::applicationPid());
        QDir().mkpath(d);
        return d;
    }();
    return dir + QStringLiteral("/input.") + QLatin1String(extension);
}

void decodePushed(const QString& path, const RawPcmParams& raw) {
    std::atomic<bool> cancel{false};
    // Counts what the decoder gives and holds it to the sink's rules.
    struct Counter : DecodeSink {
        int formats = 0;
        AudioFormat seen;
        int64_t frames = 0, reserved = 0;
        std::vector<int16_t> room;
        void format(AudioFormat f) override {
            ++formats;
            seen = f;
            check(f.isValid() && f.channels <= 2, "the format is usable");
        }
        int16_t* reserve(int64_t n) override {
            check(formats == 1, "frames come after exactly one format");
            reserved = n;
            room.assign(size_t(n) * size_t(seen.channels), 0);
            return room.data();
        }
        void commit(int64_t n) override {
            check(n >= 0 && n <= reserved, "a commit holds at most the frames reserved");
            frames += n;
        }
        void finish() override {}
    } sink;
    const Result<void> result = decodeAudioFile(path, &raw, cancel, sink);
    if (result.ok())
        check(sink.formats == 1 && sink.frames > 0, "a decode that succeeds has audio");
    else
        check(!result.error().message.isEmpty(), "a failure says why");
}

void decodePulled(const QString& path, const RawPcmParams& raw) {
    auto opened = DecodeStream::open(path, &raw);
    if (!opened.ok())
        return;
    DecodeStream& stream = *opened.value();
    check(stream.sampleRate() > 0 && stream.channels() >= 1 && stream.channels() <= 2,
          "a decode stream has a usable format");
    std::vector<char> buffer(20000);
    int64_t total = 0;
    while (!stream.atEnd() && total < (int64_t(64) << 20)) {
        const int64_t n = stream.read(buffer.data(), int64_t(buffer.size()));
        if (n < 0)
            break;
        check(n % stream.bytesPerFrame() == 0, "reads hand out whole frames");
        total += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const auto kinds = audioFileTypes();
    const AudioFileType& kind = kinds[data[0] % kinds.size()];
    const QString path = scratchFile(kind.extension);
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data + 1), qint64(size - 1));
    }
    const RawPcmParams raw{22050, 1, RawPcmParams::SampleFormat::S16LE};
    decodePushed(path, raw);
    decodePulled(path, raw);
    return 0;
}
