// Opening audio files: every kind the program reads, through the editor's loader and the
// audio layer's pull decoder alike, bad input of every kind, and loads that overlap or are
// cancelled.

#include "TestSupport.h"
#include "engine_support.h"

#include "platform/audio/AudioDocument.h"
#include "platform/ffmpeg/AudioDecoder.h"
#include "platform/ffmpeg/AudioFileKinds.h"
#include "platform/ffmpeg/AudioProbe.h"
#include "platform/ffmpeg/DecodeStream.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace chimora;
using testsupport::makeTone;

namespace {

// What the pull decoder makes of a file: its format and every sample, or its error.
struct Pulled {
    AudioFormat format;
    std::vector<int16_t> samples;
    QString error;
};

Pulled pullAll(const QString& path, const RawPcmParams* raw = nullptr) {
    Pulled p;
    auto opened = DecodeStream::open(path, raw);
    if (!opened) {
        p.error = opened.error().message;
        return p;
    }
    DecodeStream& s = *opened.value();
    p.format = {s.sampleRate(), s.channels()};
    std::vector<int16_t> piece(10001 * 2);
    while (!s.atEnd()) {
        const int64_t bytes = s.read(reinterpret_cast<char*>(piece.data()), 20001 * 2);
        if (bytes < 0)
            break;
        p.samples.insert(p.samples.end(), piece.begin(), piece.begin() + bytes / 2);
    }
    return p;
}

// Returns once everything posted to `to` so far has been delivered: a call queued now runs
// after all of it.
bool deliverPosted(QObject* to) {
    bool ran = false;
    QMetaObject::invokeMethod(
        to, [&] { ran = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([&] { return ran; }, 60000);
}

} // namespace

class TestAudioLoading : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString file(const QString& name) const { return m_dir.filePath(name); }

    // A 2-second 440 Hz tone of each kind; the sox/ffmpeg command lines that make them.
    QString makeKind(const QString& ext, int* rate = nullptr) {
        const QString path = file(QStringLiteral("tone.") + ext);
        if (QFile::exists(path))
            return path;
        bool ok = false;
        int r = 44100;
        const QStringList enc8k{"-ar", "8000"};
        if (ext == "mp3")
            ok = makeTone(path, 2, 44100, 2, {"-c:a", "libmp3lame", "-b:a", "128k"});
        else if (ext == "mp2")
            ok = makeTone(path, 2, 44100, 2, {"-c:a", "mp2", "-f", "mp2"});
        else if (ext == "mpeg")
            ok = makeTone(path, 2, 44100, 2, {"-c:a", "mp2", "-f", "mpeg"});
        else if (ext == "wav")
            ok = makeTone(path, 2, 44100, 2, {"-c:a", "pcm_s16le"});
        else if (ext == "ogg")
            ok = makeTone(path, 2, 44100, 2, {"-c:a", "libvorbis"});
        else if (ext == "avi")
            ok = makeTone(path, 2, 44100, 2, {"-c:a", "pcm_s16le", "-f", "avi"});
        else if (ext == "wma")
            ok = makeTone(path, 2, 44100, 2, {"-c:a", "wmav2", "-f", "asf"});
        else if (ext == "vox") {
            r = 8000;
            const QString wav = file("vox-source.wav");
            ok =
                makeTone(wav, 2, 8000, 1) && testsupport::run("sox", {wav, "-t", "vox", path}) == 0;
        } else if (ext == "g726" || ext == "g721") {
            r = 8000;
            ok = makeTone(path, 2, 8000, 1, {"-c:a", "g726", "-b:a", "32k", "-f", "g726"});
        } else if (ext == "g723") {
            r = 8000;
            ok = makeTone(path, 2, 8000, 1, {"-c:a", "g723_1", "-b:a", "6300", "-f", "g723_1"});
        } else if (ext == "raw" || ext == "pcm") {
            r = 22050;
            ok = makeTone(path, 2, 22050, 1, {"-f", "s16le"});
        }
        if (rate)
            *rate = r;
        return ok ? path : QString();
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void decodesEveryKind_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("toleranceFrames"); // codecs without exact length information
        QTest::newRow("mp3") << "mp3" << 44100 << 2 << 0;
        QTest::newRow("mp2") << "mp2" << 44100 << 2 << 2 * 1152;
        QTest::newRow("mpeg") << "mpeg" << 44100 << 2 << 2 * 1152;
        QTest::newRow("wav") << "wav" << 44100 << 2 << 0;
        QTest::newRow("ogg") << "ogg" << 44100 << 2 << 0;
        QTest::newRow("avi") << "avi" << 44100 << 2 << 0;
        QTest::newRow("wma") << "wma" << 44100 << 2 << 4096;
        QTest::newRow("vox") << "vox" << 8000 << 1 << 0;
        QTest::newRow("g726") << "g726" << 8000 << 1 << 0;
        QTest::newRow("g721") << "g721" << 8000 << 1 << 0;
        QTest::newRow("g723") << "g723" << 8000 << 1 << 240;
        QTest::newRow("raw") << "raw" << 22050 << 1 << 0;
        QTest::newRow("pcm") << "pcm" << 22050 << 1 << 0;
    }
    void decodesEveryKind() {
        QFETCH(QString, ext);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, toleranceFrames);
        const QString path = makeKind(ext);
        QVERIFY2(!path.isEmpty(), "could not make the test file");
        RawPcmParams raw{22050, 1, RawPcmParams::SampleFormat::S16LE};
        QCOMPARE(needsRawPcmParams(path), ext == "raw" || ext == "pcm");

        AudioDocument doc;
        QSignalSpy finished(&doc, &AudioDocument::loadFinished);
        QVERIFY2(enginetest::loadAndWait(doc, path, &raw), qPrintable(doc.loadError()));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(doc.format(), (AudioFormat{rate, channels}));
        QVERIFY2(qAbs(doc.frameCount() - 2 * rate) <= toleranceFrames,
                 qPrintable(QString::number(doc.frameCount())));
        // The middle second: lossy codecs start and end with a little noise around zero.
        const auto samples = enginetest::allSamples(*doc.snapshot());
        const double hz = testsupport::zeroCrossingFrequency(samples.data() + rate / 2 * channels,
                                                             size_t(rate), rate, channels);
        QVERIFY2(qAbs(hz - 440) < 440 * 0.01, qPrintable(QString::number(hz)));

        const Pulled pulled = pullAll(path, &raw);
        QVERIFY2(pulled.error.isEmpty(), qPrintable(pulled.error));
        QCOMPARE(pulled.format, doc.format());
        QVERIFY(pulled.samples == samples);
    }

    // The encoder's own padding must not lengthen the audio: a tone of N samples made by the
    // lame program decodes to exactly N samples, at odd lengths too.
    void mp3DecodesToItsTrueLength_data() {
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("channels");
        QTest::newRow("1 s stereo") << 44100 << 2;
        QTest::newRow("odd mono") << 12345 << 1;
    }
    void mp3DecodesToItsTrueLength() {
        QFETCH(int, frames);
        QFETCH(int, channels);
        std::vector<int16_t> s(size_t(frames * channels));
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                s[size_t(i * channels + c)] = int16_t(8000 * std::sin(i * 2 * M_PI * 440 / 44100));
        const QString wav = file(QStringLiteral("gapless-%1.wav").arg(frames));
        const QString mp3 = file(QStringLiteral("gapless-%1.mp3").arg(frames));
        QVERIFY(enginetest::writeWav(wav, 44100, channels, s));
        QCOMPARE(testsupport::run("lame", {"--quiet", "-b", "128", wav, mp3}), 0);
        AudioDocument doc;
        QVERIFY2(enginetest::loadAndWait(doc, mp3), qPrintable(doc.loadError()));
        QCOMPARE(doc.frameCount(), int64_t(frames));
    }

    void mixesManyChannelsDownToStereo() {
        const QString path = file("six.wav");
        QVERIFY(makeTone(path, 1, 48000, 6, {"-c:a", "pcm_s16le"}));
        AudioDocument doc;
        QVERIFY2(enginetest::loadAndWait(doc, path), qPrintable(doc.loadError()));
        QCOMPARE(doc.format(), (AudioFormat{48000, 2}));
        QCOMPARE(doc.frameCount(), int64_t(48000));
        Peak p;
        doc.snapshot()->peaks(1, 0, 48000, 1, &p);
        QVERIFY(p.max > 1000); // sound reaches both sides
        const Pulled pulled = pullAll(path);
        QCOMPARE(pulled.format, doc.format());
        QVERIFY(pulled.samples == enginetest::allSamples(*doc.snapshot()));
    }

    // An MP3 whose rate and channel count change part way (two files joined) comes out in the
    // first part's format, the second part resampled and remixed, from both decoders alike.
    void formatChangeMidStream_data() {
        QTest::addColumn<int>("firstRate");
        QTest::addColumn<int>("firstChannels");
        QTest::addColumn<int>("secondRate");
        QTest::addColumn<int>("secondChannels");
        QTest::newRow("22050 stereo, then 44100 mono") << 22050 << 2 << 44100 << 1;
        QTest::newRow("44100 mono, then 22050 stereo") << 44100 << 1 << 22050 << 2;
    }
    void formatChangeMidStream() {
        QFETCH(int, firstRate);
        QFETCH(int, firstChannels);
        QFETCH(int, secondRate);
        QFETCH(int, secondChannels);
        const QString path = file(QStringLiteral("joined-%1.mp3").arg(firstRate));
        QByteArray joined;
        for (const auto& [rate, channels] :
             {std::pair{firstRate, firstChannels}, std::pair{secondRate, secondChannels}}) {
            // No gapless header: in the middle of a stream it would cut the wrong samples.
            const QString part = file(QStringLiteral("part-%1-%2.mp3").arg(rate).arg(channels));
            QVERIFY(makeTone(part, 1, rate, channels,
                             {"-c:a", "libmp3lame", "-b:a", "64k", "-write_xing", "0"}));
            QFile f(part);
            QVERIFY(f.open(QIODevice::ReadOnly));
            joined += f.readAll();
        }
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(joined);
        out.close();

        AudioDocument doc;
        QVERIFY2(enginetest::loadAndWait(doc, path), qPrintable(doc.loadError()));
        QCOMPARE(doc.format(), (AudioFormat{firstRate, firstChannels}));
        // Each part brings its encoder's delay and padding.
        QVERIFY2(qAbs(doc.frameCount() - 2 * firstRate) < firstRate / 8,
                 qPrintable(QString::number(doc.frameCount())));
        const auto samples = enginetest::allSamples(*doc.snapshot());
        const double hz = testsupport::zeroCrossingFrequency(
            samples.data() + size_t(firstRate * 5 / 4 * firstChannels), size_t(firstRate / 2),
            firstRate, firstChannels);
        QVERIFY2(qAbs(hz - 440) < 440 * 0.02, qPrintable(QString::number(hz)));

        const Pulled pulled = pullAll(path);
        QCOMPARE(pulled.format, doc.format());
        QVERIFY(pulled.samples == samples);
    }

    // Every extension with an empty, a garbage and a truncated file: an error or (for
    // headerless kinds, where any bytes are valid samples) audio, never a crash or stale audio.
    void badFilesOfEveryKind_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QString>("damage");
        const QStringList exts{"mp3", "mp2",  "mpeg", "wav",  "ogg", "avi", "wma",
                               "vox", "g721", "g726", "g723", "raw", "pcm", "cda"};
        for (const QString& e : exts)
            for (const char* damage : {"empty", "garbage", "truncated"})
                QTest::newRow(qPrintable(e + " " + damage)) << e << QString(damage);
    }
    void badFilesOfEveryKind() {
        QFETCH(QString, ext);
        QFETCH(QString, damage);
        const bool headerless =
            QStringList{"vox", "g721", "g726", "g723", "raw", "pcm"}.contains(ext);
        const QString path = file(QStringLiteral("bad-%1.%2").arg(damage, ext));
        QByteArray bytes;
        if (damage == "garbage") {
            for (int i = 0; i < 20000; ++i)
                bytes.append(char((i * 7919 + (i >> 3) * 31) & 0xff));
        } else if (damage == "truncated") {
            QFile f(ext == "cda" ? QString() : makeKind(ext));
            bytes = ext == "cda" ? QByteArray("RIFF\x24\0\0\0CD", 10)
                                 : (f.open(QIODevice::ReadOnly) ? f.read(f.size() / 3) : "");
        }
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        out.close();

        AudioDocument doc;
        // Stale audio from an earlier load must not survive a failed one.
        QVERIFY(enginetest::loadAndWait(doc, makeKind("wav")));
        doc.setSelection(10, 1000);
        RawPcmParams raw;
        const bool ok = enginetest::loadAndWait(doc, path, &raw);
        QCOMPARE(doc.undoStack()->count(), 0);
        if (!ok) {
            QVERIFY(doc.isEmpty());
            QCOMPARE(doc.selection(), Selection{});
            QVERIFY2(doc.loadError().startsWith(QFileInfo(path).fileName() + " "),
                     qPrintable(doc.loadError()));
            return;
        }
        QVERIFY2(damage == "truncated" || (headerless && damage == "garbage"),
                 "a damaged file was taken as audio");
        QVERIFY(doc.frameCount() > 0);
    }

    void unusableFilesSayWhy_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << "empty.mp3"
                               << "empty";
        QTest::newRow("folder") << "folder.wav"
                                << "folder";
        QTest::newRow("missing") << "missing.ogg"
                                 << "does not exist";
        QTest::newRow("cd track") << "Track01.cda"
                                  << "audio CD";
        QTest::newRow("cd track renamed") << "Track02.wav"
                                          << "audio CD";
        QTest::newRow("video without audio") << "video.avi"
                                             << "no audio";
        QTest::newRow("text") << "notes.wav"
                              << "not recognised";
        QTest::newRow("pipe") << "pipe.mp3"
                              << "not an ordinary file"; // opening it would wait for a writer
    }
    void unusableFilesSayWhy() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString path = file(name);
        if (name == "empty.mp3") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (name == "folder.wav") {
            QVERIFY(QDir(m_dir.path()).mkpath(name));
        } else if (name.startsWith("Track0")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QByteArray cda("RIFF\x24\0\0\0CDDAfmt \x18\0\0\0", 20);
            cda.append(QByteArray(24, '\x01'));
            f.write(cda);
        } else if (name == "video.avi") {
            QCOMPARE(testsupport::run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                 "testsrc=duration=1:size=64x48:rate=10", "-c:v",
                                                 "mpeg4", path}),
                     0);
        } else if (name == "notes.wav") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("Shopping list\nmilk\neggs\nbread\n").repeated(50));
        } else if (name == "pipe.mp3") {
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        AudioDocument doc;
        QVERIFY(!enginetest::loadAndWait(doc, path));
        QVERIFY(doc.isEmpty());
        QVERIFY2(doc.loadError().startsWith(name + " could not be read: "),
                 qPrintable(doc.loadError()));
        QVERIFY2(doc.loadError().contains(reason), qPrintable(doc.loadError()));
        // The pull decoder and the probe refuse it in the same words.
        QCOMPARE(pullAll(path).error, doc.loadError());
        const auto probed = probeAudioFile(path);
        QVERIFY(!probed);
        QCOMPARE(probed.error().message, doc.loadError());
    }

    void unreadableFile() {
        if (geteuid() == 0)
            QSKIP("root reads every file");
        const QString path = file("locked.wav");
        QVERIFY(QFile::copy(makeKind("wav"), path));
        QFile::setPermissions(path, QFileDevice::Permissions{});
        AudioDocument doc;
        QVERIFY(!enginetest::loadAndWait(doc, path));
        QVERIFY(doc.loadError().startsWith("locked.wav could not be read"));
    }

    // Content decides, not the name: a WAV called .mp3 and a WAV called .vox both load as WAV.
    void wrongExtensionLoadsByContent_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("wav named mp3") << "really-wav.mp3";
        QTest::newRow("wav named vox") << "really-wav.vox";
        QTest::newRow("mp3 named g726") << "really-mp3.g726";
    }
    void wrongExtensionLoadsByContent() {
        QFETCH(QString, name);
        const QString source = makeKind(name.contains("mp3.") ? "mp3" : "wav");
        const QString path = file(name);
        QVERIFY(QFile::copy(source, path));
        AudioDocument doc;
        QVERIFY2(enginetest::loadAndWait(doc, path), qPrintable(doc.loadError()));
        QCOMPARE(doc.format(), (AudioFormat{44100, 2}));
        QCOMPARE(doc.frameCount(), int64_t(88200));
    }

    // A second load replaces the first while it is still decoding, and a cleared document
    // stays empty: nothing from an abandoned load arrives late. Both happen in the slot that
    // shows the first audio, where the first load has not been reported finished.
    void newLoadOrClearCancelsRunningLoad() {
        const QString longFile = file("long.mp3");
        QVERIFY(makeTone(longFile, 600, 44100, 2, {"-c:a", "libmp3lame", "-b:a", "64k"}, 300));
        const QString shortFile = makeKind("ogg");

        AudioDocument doc;
        QSignalSpy finished(&doc, &AudioDocument::loadFinished);
        bool acted = false;
        bool wasLoading = false;
        bool cutWhileLoading = false;
        auto replace = connect(&doc, &AudioDocument::contentChanged, this, [&] {
            if (acted || doc.frameCount() == 0)
                return;
            acted = true;
            wasLoading = doc.isLoading();
            doc.setSelection(0, 1000);
            cutWhileLoading = wasLoading && doc.cut(); // no edits until the audio is complete
            doc.load(shortFile);
        });
        doc.load(longFile);
        QVERIFY(finished.wait(60000));
        QVERIFY(acted);
        QVERIFY(!cutWhileLoading);
        QCOMPARE(finished.first().first().toBool(), true);
        QVERIFY(deliverPosted(&doc));
        QCOMPARE(doc.frameCount(), int64_t(88200));
        QCOMPARE(doc.path(), shortFile);
        QCOMPARE(finished.count(), 1);
        disconnect(replace);

        acted = false;
        connect(&doc, &AudioDocument::contentChanged, this, [&] {
            if (acted || doc.frameCount() == 0)
                return;
            acted = true;
            doc.clear();
        });
        doc.load(longFile);
        QTRY_VERIFY_WITH_TIMEOUT(acted, 60000);
        QVERIFY(!doc.isLoading());
        QVERIFY(deliverPosted(&doc));
        QVERIFY(doc.isEmpty());
        QCOMPARE(finished.count(), 1);
    }

    // A slot that opens another file as soon as audio shows (a user clicking fast) must
    // neither hang nor end up with the first file's audio, whether the first load is still
    // running or delivering its last piece.
    void loadFromASlotWhileLoading_data() {
        QTest::addColumn<int>("firstSeconds");
        QTest::newRow("first load running") << 120;
        QTest::newRow("first load ending") << 1;
    }
    void loadFromASlotWhileLoading() {
        QFETCH(int, firstSeconds);
        const QString first = file(QStringLiteral("first-%1.ogg").arg(firstSeconds));
        QVERIFY(makeTone(first, firstSeconds, 44100, 2, {"-c:a", "libvorbis"}));
        const QString other = makeKind("vox");
        AudioDocument doc;
        bool switched = false;
        connect(&doc, &AudioDocument::contentChanged, this, [&] {
            if (!switched && doc.frameCount() > 0) {
                switched = true;
                doc.load(other);
            }
        });
        QSignalSpy finished(&doc, &AudioDocument::loadFinished);
        doc.load(first);
        QVERIFY(finished.wait(60000));
        QVERIFY(deliverPosted(&doc));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(doc.path(), other);
        QCOMPARE(doc.format(), (AudioFormat{8000, 1}));
        QCOMPARE(doc.frameCount(), int64_t(16000));
    }

    // A file whose audio cannot be held is refused before decoding, saying what it would need;
    // the same file loads once there is room.
    void audioTooLargeForMemoryIsRefused() {
        const QString path = makeKind("pcm"); // 2 s of 22050 Hz mono: 88200 bytes of samples
        QVERIFY(!path.isEmpty());
        RawPcmParams raw{22050, 1, RawPcmParams::SampleFormat::S16LE};
        AudioDocument doc;
        setAvailableMemoryForTesting(50000);
        const bool loaded = enginetest::loadAndWait(doc, path, &raw);
        setAvailableMemoryForTesting(-1);
        QVERIFY(!loaded);
        QVERIFY2(doc.loadError().contains("lasts 0:00:02 and would need 1 MiB of memory, more "
                                          "than the 1 MiB free"),
                 qPrintable(doc.loadError()));
        QVERIFY(doc.isEmpty());
        QVERIFY2(enginetest::loadAndWait(doc, path, &raw), qPrintable(doc.loadError()));
    }
};

QTEST_GUILESS_MAIN(TestAudioLoading)
#include "test_audio_loading.moc"
