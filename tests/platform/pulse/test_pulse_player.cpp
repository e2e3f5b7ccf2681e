// Playback on a null sink of this test's own (the shared one plays other tests' sound
// meanwhile): the frames asked of the reader, the stream's life on the server, pause and
// position, the end notice, and a server that dies while playing.

#include "TestSupport.h"
#include "pulse_support.h"

#include "platform/bass/Bass.h"
#include "platform/pulse/AudioPlayer.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <mutex>

using namespace chimora;

namespace {

/// Serves a sine of `frames` frames and remembers what was asked of it.
class ToneSource {
public:
    ToneSource(AudioFormat format, int64_t frames) : m_format(format), m_frames(frames) {}

    AudioPlayer::Reader reader() {
        return [this](int64_t start, int64_t count, int16_t* dst) -> int64_t {
            const int64_t n = std::clamp<int64_t>(m_frames - start, 0, count);
            for (int64_t i = 0; i < n; ++i) {
                const double t = double(start + i) / m_format.sampleRate;
                const auto v = int16_t(8000 * std::sin(2 * M_PI * 440 * t));
                for (int c = 0; c < m_format.channels; ++c)
                    *dst++ = v;
            }
            std::lock_guard guard(m_mutex);
            m_requests.push_back({start, n});
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                m_calledOnUiThread = true;
            return n;
        };
    }

    struct Request {
        int64_t start;
        int64_t count;
    };
    std::vector<Request> requests() const {
        std::lock_guard guard(m_mutex);
        return m_requests;
    }
    int64_t framesServed() const {
        int64_t total = 0;
        for (const Request& r : requests())
            total += r.count;
        return total;
    }
    bool calledOnUiThread() const { return m_calledOnUiThread; }

private:
    AudioFormat m_format;
    int64_t m_frames;
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    std::atomic<bool> m_calledOnUiThread{false};
};

/// This process's playback streams on the server PULSE_SERVER names, as `pactl list
/// sink-inputs` describes them (other tests may play on the same server at the same time).
QStringList sinkInputs() {
    QString out;
    testsupport::run("pactl", {"list", "sink-inputs"}, &out, 10000);
    const QString ours =
        QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid());
    QStringList blocks;
    for (const QString& block : out.split("Sink Input #", Qt::SkipEmptyParts)) {
        if (block.contains(ours))
            blocks << block;
    }
    return blocks;
}

bool sinkInputCorked() {
    const QStringList ours = sinkInputs();
    return ours.size() == 1 && ours.first().contains("Corked: yes");
}

/// A private audio server of our own, to be killed while a stream plays on it.
class DisposableServer {
public:
    bool start() {
        const QString run = m_dir.filePath("run");
        QDir().mkpath(run);
        QDir().mkpath(m_dir.filePath("home"));
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile script(m_dir.filePath("server.pa"));
        if (!script.open(QIODevice::WriteOnly))
            return false;
        script.write(".fail\nload-module module-native-protocol-unix auth-anonymous=1 socket=" +
                     run.toUtf8() +
                     "/native\nload-module module-null-sink sink_name=s\n"
                     "set-default-sink s\n");
        script.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        env.remove("DISPLAY");
        env.remove("PULSE_SERVER");
        env.insert("HOME", m_dir.filePath("home"));
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("home"));
        env.insert("XDG_RUNTIME_DIR", run);
        m_process.setProcessEnvironment(env);
        m_process.start("pulseaudio",
                        {"-n", "-F", script.fileName(), "--daemonize=no", "--exit-idle-time=-1",
                         "--use-pid-file=no", "--log-target=file:" + m_dir.filePath("pa.log")});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int i = 0; i < 100; ++i) {
            if (QFile::exists(run + "/native"))
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    QByteArray address() const { return "unix:" + m_dir.filePath("run/native").toUtf8(); }
    void kill() {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    ~DisposableServer() { kill(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

} // namespace

class TestPulsePlayer : public QObject {
    Q_OBJECT
    std::unique_ptr<testsupport::ServerModule> m_sink;

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "no test audio server (PULSE_SERVER is not set)");
        const QString name = testsupport::uniqueServerName(QStringLiteral("playertest"));
        m_sink = std::make_unique<testsupport::ServerModule>(QStringList{
            "module-null-sink", "sink_name=" + name, "sink_properties=device.description=" + name});
        QVERIFY(m_sink->ok());
        // Streams made for the server's default sink go to this one.
        qputenv("PULSE_SINK", name.toUtf8());
    }

    void cleanupTestCase() {
        qunsetenv("PULSE_SINK");
        m_sink.reset();
    }

    void cleanup() { BASS_Free(); }

    void playsExactlyTheRange_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<qint64>("audioFrames");
        QTest::addColumn<qint64>("startFrame");
        QTest::addColumn<qint64>("endFrame");
        QTest::addColumn<qint64>("expectedEnd");
        QTest::newRow("first half of a mono second")
            << 44100 << 1 << 44100LL << 0LL << 22050LL << 22050LL;
        QTest::newRow("stereo middle") << 22050 << 2 << 22050LL << 5512LL << 11025LL << 11025LL;
        QTest::newRow("range past the audio") << 8000 << 1 << 4000LL << 2000LL << 8000LL << 4000LL;
        QTest::newRow("tail shorter than a buffer")
            << 44100 << 2 << 44100LL << 44000LL << 44100LL << 44100LL;
    }

    void playsExactlyTheRange() {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(qint64, audioFrames);
        QFETCH(qint64, startFrame);
        QFETCH(qint64, endFrame);
        QFETCH(qint64, expectedEnd);
        const AudioFormat format{rate, channels};
        ToneSource source(format, audioFrames);
        AudioPlayer player;
        QSignalSpy finished(&player, &AudioPlayer::finished);

        const auto started = player.play(format, source.reader(), startFrame, endFrame);
        QVERIFY2(started.ok(), qPrintable(started.ok() ? QString() : started.error().detail));
        QVERIFY(player.isPlaying());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QVERIFY(!player.isPlaying());
        QCOMPARE(player.positionFrame(), expectedEnd);

        // Asked in order, without gaps or overlaps, from the start to the end of the range.
        int64_t next = startFrame;
        for (const auto& r : source.requests()) {
            QCOMPARE(r.start, next);
            next += r.count;
        }
        QCOMPARE(next, expectedEnd);
        QVERIFY(!source.calledOnUiThread());
        QTRY_COMPARE(sinkInputs().size(), 0);
    }

    void pauseHoldsThePositionAndStopRemovesTheStream() {
        const AudioFormat format{8000, 1};
        ToneSource source(format, 8000 * 10);
        AudioPlayer player;
        QSignalSpy finished(&player, &AudioPlayer::finished);
        QVERIFY(player.play(format, source.reader(), 1000, 8000 * 10).ok());
        QCOMPARE(sinkInputs().size(), 1);
        QTRY_VERIFY(player.positionFrame() > 1000 + 800);
        // Never ahead of what the server was given, even while its clock is extrapolated.
        for (int i = 0; i < 5; ++i) {
            const int64_t at = player.positionFrame();
            QVERIFY(at <= 1000 + source.framesServed());
            QTRY_VERIFY(player.positionFrame() > at);
        }

        player.pause();
        QVERIFY(player.isPaused() && player.isPlaying());
        QTRY_VERIFY(sinkInputCorked());
        const int64_t held = player.positionFrame();
        QVERIFY(pulsetest::letServerPlayBriefly());
        QVERIFY(std::abs(player.positionFrame() - held) <= 80); // 10 ms of slack

        player.resume();
        QVERIFY(!player.isPaused());
        QTRY_VERIFY(player.positionFrame() > held + 800);

        player.stop();
        QVERIFY(!player.isPlaying());
        const int64_t stoppedAt = player.positionFrame();
        QVERIFY(stoppedAt > held && stoppedAt < 8000 * 10);
        const int64_t served = source.framesServed();
        QTRY_COMPARE(sinkInputs().size(), 0);
        QVERIFY(pulsetest::letServerPlayBriefly());
        QCOMPARE(source.framesServed(), served); // nothing read after stop()
        QCOMPARE(finished.size(), 0);
    }

    void playAgainReplacesTheStream() {
        const AudioFormat format{8000, 1};
        ToneSource longTone(format, 8000 * 10);
        ToneSource shortTone(format, 2000);
        AudioPlayer player;
        QSignalSpy finished(&player, &AudioPlayer::finished);
        QVERIFY(player.play(format, longTone.reader(), 0, 8000 * 10).ok());
        QVERIFY(player.play(format, shortTone.reader(), 0, 2000).ok());
        QCOMPARE(sinkInputs().size(), 1);
        const int64_t servedByFirst = longTone.framesServed();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QCOMPARE(shortTone.framesServed(), 2000);
        QCOMPARE(longTone.framesServed(), servedByFirst);
        QVERIFY(pulsetest::letServerPlayBriefly());
        QCOMPARE(finished.size(), 1);
    }

    void startedDeviceMayBeFreedWhilePlaying() {
        QVERIFY(BASS_Init(-1, 44100, 0, nullptr, nullptr));
        const AudioFormat format{8000, 2};
        ToneSource source(format, 2000);
        AudioPlayer player;
        QSignalSpy finished(&player, &AudioPlayer::finished);
        QVERIFY(player.play(format, source.reader(), 0, 2000).ok());
        QVERIFY(BASS_Free()); // the stream keeps its connection until it is done
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
        QCOMPARE(source.framesServed(), 2000);
        // With the device released the player connects by itself.
        QVERIFY(player.play(format, source.reader(), 0, 1000).ok());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 10000);
    }

    void refusesWhatCannotBePlayed_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<qint64>("startFrame");
        QTest::addColumn<qint64>("endFrame");
        QTest::newRow("no format") << 0 << 0 << 0LL << 100LL;
        QTest::newRow("too many channels") << 44100 << 64 << 0LL << 100LL;
        QTest::newRow("rate out of range") << 10000000 << 1 << 0LL << 100LL;
        QTest::newRow("empty range") << 44100 << 1 << 100LL << 100LL;
        QTest::newRow("reversed range") << 44100 << 1 << 100LL << 50LL;
        QTest::newRow("negative start") << 44100 << 1 << -10LL << 50LL;
    }

    void refusesWhatCannotBePlayed() {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(qint64, startFrame);
        QFETCH(qint64, endFrame);
        ToneSource source({44100, 1}, 44100);
        AudioPlayer player;
        const auto started = player.play({rate, channels}, source.reader(), startFrame, endFrame);
        QVERIFY(!started.ok());
        QCOMPARE(started.error().kind, Error::Kind::BadInput);
        QVERIFY(!player.isPlaying());
        QCOMPARE(sinkInputs().size(), 0);
    }

    void serverDeathStopsPlayback() {
        DisposableServer server;
        QVERIFY(server.start());
        const QByteArray saved = qgetenv("PULSE_SERVER");
        const QByteArray savedSink = qgetenv("PULSE_SINK");
        qputenv("PULSE_SERVER", server.address());
        qputenv("PULSE_SINK", "s");
        auto restore = qScopeGuard([&] {
            qputenv("PULSE_SERVER", saved);
            qputenv("PULSE_SINK", savedSink);
        });

        const AudioFormat format{8000, 1};
        ToneSource source(format, 8000 * 30);
        AudioPlayer player;
        QSignalSpy finished(&player, &AudioPlayer::finished);
        QVERIFY(player.play(format, source.reader(), 0, 8000 * 30).ok());
        QTRY_VERIFY(player.positionFrame() > 800);
        const int64_t heard = player.positionFrame();

        server.kill();
        QTRY_VERIFY(!player.isPlaying());
        QCOMPARE(finished.size(), 0);
        // The playhead stays where the sound broke off.
        const int64_t position = player.positionFrame();
        QVERIFY(position >= heard && position < 8000 * 30);

        const auto again = player.play(format, source.reader(), 0, 8000);
        QVERIFY(!again.ok());
        QCOMPARE(again.error().kind, Error::Kind::Environment);
        QVERIFY(!player.isPlaying());
    }
};

QTEST_GUILESS_MAIN(TestPulsePlayer)
#include "test_pulse_player.moc"
