// Recording through the audio layer against the private test server: the inputs as the server
// lists them, switching and their level read back with pactl (on a source of this test's own),
// and recordings from the 440 Hz source and from a null sink's monitor, measured by what was
// captured, not by the clock.

#include "TestSupport.h"

#include "platform/bass/Bass.h"
#include "platform/bass/BassEncode.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <mutex>

using namespace chimora;
using testsupport::pactl;
using testsupport::recordStreamsOnServer;

namespace {

QStringList serverDescriptions() {
    QStringList d;
    static const QRegularExpression line(QStringLiteral("^\\s*Description: (.*)$"),
                                         QRegularExpression::MultilineOption);
    for (const auto& m : line.globalMatch(pactl({"list", "sources"})))
        d << m.captured(1).trimmed();
    return d;
}

int pactlVolumePercent(const QString& source) {
    static const QRegularExpression percent(QStringLiteral("(\\d+)%"));
    return percent.match(pactl({"get-source-volume", source})).captured(1).toInt();
}

QStringList inputNames() {
    QStringList names;
    for (int i = 0; const char* n = BASS_RecordGetInputName(i); ++i)
        names << QString::fromUtf8(n);
    return names;
}

int inputNamed(const QString& prefix) {
    const QStringList names = inputNames();
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].startsWith(prefix))
            return i;
    }
    return -1;
}

/// What the recording callback saw: its bytes, and (when asked) the PCM itself.
struct Captured {
    std::mutex mutex;
    QByteArray pcm;
    bool keep = false;
    std::atomic<qint64> bytes{0};
    bool needEncoder = true;
};

BOOL countingCallback(HRECORD channel, const void* buffer, DWORD length, void* user) {
    auto* c = static_cast<Captured*>(user);
    c->bytes += length;
    if (c->keep) {
        std::lock_guard guard(c->mutex);
        c->pcm.append(static_cast<const char*>(buffer), length);
    }
    return c->needEncoder ? BASS_Encode_IsActive(channel) : TRUE;
}

/// Frees a recording channel however the test ends, before what its callback writes to goes.
struct ChannelGuard {
    HRECORD channel;
    ~ChannelGuard() { BASS_StreamFree(channel); }
};

} // namespace

class TestBassRecord : public QObject {
    Q_OBJECT
private slots:
    void init() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "no test audio server (PULSE_SERVER is not set)");
        QVERIFY(BASS_RecordInit(-1));
    }

    void cleanup() { BASS_RecordFree(); }

    void inputsAreTheServersSourcesInItsOrder() {
        // Other tests add and remove sources meanwhile: the two lists are compared when they
        // were read with no change in between.
        QStringList names;
        QTRY_VERIFY((names = inputNames()) == serverDescriptions() && names == inputNames());
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM); // null past the last
        QVERIFY(names.size() >= 2);
        QVERIFY(inputNamed(QStringLiteral("Monitor of")) >= 0);

        // Exactly one is on: the server's default source, until another is switched on.
        const int sine = inputNamed(QStringLiteral("Sine"));
        const int monitor = inputNamed(QStringLiteral("Monitor of"));
        QVERIFY(sine >= 0);
        QCOMPARE(BASS_RecordGetInput(sine) & BASS_INPUT_OFF, 0u);
        QCOMPARE(BASS_RecordGetInput(monitor) & BASS_INPUT_OFF, DWORD(BASS_INPUT_OFF));
        QVERIFY(BASS_RecordSetInput(monitor, BASS_INPUT_ON));
        QCOMPARE(BASS_RecordGetInput(monitor) & BASS_INPUT_OFF, 0u);
        QCOMPARE(BASS_RecordGetInput(sine) & BASS_INPUT_OFF, DWORD(BASS_INPUT_OFF));
        QVERIFY(BASS_RecordSetInput(monitor, BASS_INPUT_OFF));
        QCOMPARE(BASS_RecordGetInput(sine) & BASS_INPUT_OFF, 0u);
        // Other programs keep their default.
        QVERIFY(pactl({"get-default-source"}).contains(QStringLiteral("sine440")));
    }

    void levelIsTheSourceVolume_data() {
        QTest::addColumn<int>("set");
        QTest::addColumn<int>("expected");
        QTest::newRow("silent") << 0 << 0;
        QTest::newRow("half (cubic)") << 50 << 50;
        QTest::newRow("normal") << 100 << 100;
        QTest::newRow("beyond normal is held") << 150 << 100;
    }

    void levelIsTheSourceVolume() {
        QFETCH(int, set);
        QFETCH(int, expected);
        // Not the shared source: other tests record from it meanwhile.
        const QString name = testsupport::uniqueServerName(QStringLiteral("levelsine"));
        const testsupport::ServerModule source({"module-sine-source", "source_name=" + name,
                                                "source_properties=device.description=" + name});
        QVERIFY(source.ok());
        const int sine = inputNamed(name);
        QVERIFY(BASS_RecordSetInput(sine, BASS_INPUT_LEVEL | DWORD(set)));
        QCOMPARE(pactlVolumePercent(name), expected);
        QCOMPARE(int(BASS_RecordGetInput(sine) & 0xFFFF), expected);
        // A level changed elsewhere (a mixer) reads back too.
        pactl({"set-source-volume", name, "37%"});
        QCOMPARE(int(BASS_RecordGetInput(sine) & 0xFFFF), 37);
    }

    void recordingIsEncodedWhole() {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("temp.mp3"));
        Captured captured;
        const HRECORD channel =
            BASS_RecordStart(44100, 2, BASS_RECORD_PAUSE, &countingCallback, &captured);
        QVERIFY(channel);
        ChannelGuard guard{channel};
        QCOMPARE(BASS_ChannelIsActive(channel), DWORD(BASS_ACTIVE_PAUSED));
        const EncoderCommand lame{QStringLiteral("lame"), {"--alt-preset", "standard", "-", out}};
        QCOMPARE(BASS_Encode_Start(channel, lame, BASS_ENCODE_AUTOFREE, nullptr, nullptr), channel);
        QVERIFY(BASS_ChannelPlay(channel, FALSE));
        QTRY_VERIFY_WITH_TIMEOUT(captured.bytes >= 3 * 44100 * 4, 30000);
        QVERIFY(BASS_ChannelStop(channel));
        QVERIFY(bass::lastEncoderOutcome().succeeded());
        const qint64 frames = qint64(BASS_ChannelGetPosition(channel, 0)) / 4;
        QCOMPARE(frames, captured.bytes / 4);
        QVERIFY(BASS_StreamFree(channel));
        QCOMPARE(recordStreamsOnServer(), 0);

        int rate = 0;
        const std::vector<int16_t> decoded = testsupport::decodeWithFfmpeg(out, &rate);
        QCOMPARE(rate, 44100);
        // Nothing lost at the end: all that was captured is in the file, give or take lame's
        // frame and padding.
        QVERIFY2(
            std::abs(qint64(decoded.size()) - frames) <= 1152 + 1152,
            qPrintable(QStringLiteral("%1 decoded, %2 captured").arg(decoded.size()).arg(frames)));
        const double f =
            testsupport::zeroCrossingFrequency(decoded.data() + 4410, decoded.size() - 8820, rate);
        QVERIFY2(std::abs(f - 440.0) < 5.0, qPrintable(QString::number(f)));
    }

    void monitorRecordsWhatTheSinkPlays() {
        QTemporaryDir dir;
        const QString tone = dir.filePath(QStringLiteral("tone.wav"));
        QVERIFY(testsupport::makeTone(tone, 6, 44100, 2, {}, 1000.0));
        // A sink of this test's own: other tests running meanwhile play into the shared one.
        const QString sink = testsupport::uniqueServerName(QStringLiteral("recordtest"));
        const testsupport::ServerModule module({"module-null-sink", "sink_name=" + sink,
                                                "sink_properties=device.description=" + sink});
        QVERIFY(module.ok());
        const int monitor = inputNamed(QStringLiteral("Monitor of ") + sink);
        QVERIFY(monitor >= 0);
        QVERIFY(BASS_RecordSetInput(monitor, BASS_INPUT_ON));
        Captured captured;
        captured.keep = true;
        captured.needEncoder = false;
        const HRECORD channel = BASS_RecordStart(44100, 2, 0, &countingCallback, &captured);
        QVERIFY(channel);
        ChannelGuard guard{channel};
        QProcess player;
        player.start(QStringLiteral("paplay"), {QStringLiteral("--device=") + sink, tone});
        // Wait for a second of sound (the monitor may start late and begin with silence).
        const auto loudFrames = [&] {
            std::lock_guard guard(captured.mutex);
            const auto* s = reinterpret_cast<const int16_t*>(captured.pcm.constData());
            qint64 loud = 0;
            for (qsizetype i = 0; i + 1 < captured.pcm.size() / 2; i += 2)
                loud += std::abs(s[i]) > 1000;
            return loud;
        };
        QTRY_VERIFY_WITH_TIMEOUT(loudFrames() > 44100, 30000);
        QVERIFY(BASS_StreamFree(channel));
        player.kill();
        player.waitForFinished();
        BASS_RecordSetInput(monitor, BASS_INPUT_OFF);

        // The loud part is the 1000 Hz tone.
        const auto* s = reinterpret_cast<const int16_t*>(captured.pcm.constData());
        const qsizetype frames = captured.pcm.size() / 4;
        qsizetype first = 0;
        while (first < frames && std::abs(s[2 * first]) < 1000)
            ++first;
        std::vector<int16_t> left;
        for (qsizetype i = first + 4410; i < frames && left.size() < 22050; ++i)
            left.push_back(s[2 * i]);
        const double f = testsupport::zeroCrossingFrequency(left.data(), left.size(), 44100);
        QVERIFY2(std::abs(f - 1000.0) < 15.0, qPrintable(QString::number(f)));
    }

    void anEncoderThatCannotStartEndsTheRecording() {
        Captured captured;
        const HRECORD channel =
            BASS_RecordStart(44100, 2, BASS_RECORD_PAUSE, &countingCallback, &captured);
        QVERIFY(channel);
        ChannelGuard guard{channel};
        const EncoderCommand missing{QStringLiteral("/nonexistent/lame"), {"-", "x.mp3"}};
        QCOMPARE(BASS_Encode_Start(channel, missing, BASS_ENCODE_AUTOFREE, nullptr, nullptr),
                 HENCODE(0));
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
        QVERIFY(!bass::lastEncoderOutcome().failure.isEmpty());
        QVERIFY(BASS_ChannelPlay(channel, FALSE));
        // The callback answers "no encoder" to the first data, which ends the capture.
        QTRY_COMPARE_WITH_TIMEOUT(BASS_ChannelIsActive(channel), DWORD(BASS_ACTIVE_STOPPED), 30000);
        QVERIFY(BASS_StreamFree(channel));
        QCOMPARE(recordStreamsOnServer(), 0);
        QVERIFY(!BASS_StreamFree(channel));
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    }
};

QTEST_GUILESS_MAIN(TestBassRecord)
#include "test_bass_record.moc"
