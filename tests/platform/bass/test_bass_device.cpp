// Starting and releasing the audio devices against the private test server, against no server
// at all, and against a server that accepts the connection but never answers.

#include "TestSupport.h"

#include "platform/bass/Bass.h"
#include "platform/pulse/AudioDevices.h"
#include "platform/pulse/PulseConnection.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace chimora;

namespace {

constexpr int kPastTheEnd = 1000;

/// Points PULSE_SERVER somewhere else for one scope.
class ServerOverride {
public:
    explicit ServerOverride(const QByteArray& server) : m_saved(qgetenv("PULSE_SERVER")) {
        qputenv("PULSE_SERVER", server);
    }
    ~ServerOverride() { qputenv("PULSE_SERVER", m_saved); }

private:
    QByteArray m_saved;
};

} // namespace

class TestPulseDevice : public QObject {
    Q_OBJECT
private slots:
    void init() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "no test audio server (PULSE_SERVER is not set)");
    }

    void cleanup() {
        // Leave nothing started for the next test, whatever failed.
        BASS_RecordFree();
        BASS_Free();
    }

    void startAndReleaseBothDevices() {
        QVERIFY(BASS_RecordInit(-1));
        QCOMPARE(BASS_ErrorGetCode(), BASS_OK);
        QVERIFY(BASS_Init(-1, 44100, 0, nullptr, nullptr));
        QCOMPARE(BASS_ErrorGetCode(), BASS_OK);

        const AudioDevice playback = AudioDevices::playback();
        const AudioDevice recording = AudioDevices::recording();
        QVERIFY(playback && recording);
        QVERIFY(playback.connection != recording.connection);
        QCOMPARE(playback.connection->defaultSinkName(), QStringLiteral("testsink"));
        QCOMPARE(recording.connection->defaultSourceName(), QStringLiteral("sine440"));
        QVERIFY(playback.name.isEmpty()); // follows the server's default

        QVERIFY(!BASS_RecordInit(-1));
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
        QVERIFY(!BASS_Init(-1, 44100, 0, nullptr, nullptr));
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);

        QVERIFY(BASS_RecordFree());
        QVERIFY(BASS_Free());
        QVERIFY(!AudioDevices::playback() && !AudioDevices::recording());
        QVERIFY(!BASS_Free());
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_INIT);
        QVERIFY(!BASS_RecordFree());
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_INIT);

        // Released devices can be started again.
        QVERIFY(BASS_Init(-1, 44100, 0, nullptr, nullptr));
        QVERIFY(BASS_RecordInit(-1));
    }

    void deviceIndexes_data() {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<int>("device"); // kPastTheEnd: the number of devices
        QTest::addColumn<int>("expectedError");
        QTest::addColumn<QString>("expectedName");
        // The test server starts with one sink (testsink) and two sources (its monitor,
        // sine440); other tests add theirs after them meanwhile.
        QTest::newRow("first sink") << false << 0 << int(BASS_OK) << "testsink";
        QTest::newRow("sink past the end") << false << kPastTheEnd << int(BASS_ERROR_DEVICE) << "";
        QTest::newRow("negative sink") << false << -2 << int(BASS_ERROR_DEVICE) << "";
        QTest::newRow("second source") << true << 1 << int(BASS_OK) << "sine440";
        QTest::newRow("source past the end") << true << kPastTheEnd << int(BASS_ERROR_DEVICE) << "";
    }

    void deviceIndexes() {
        QFETCH(bool, recording);
        QFETCH(int, device);
        QFETCH(int, expectedError);
        QFETCH(QString, expectedName);
        const auto count = [recording] {
            return int(testsupport::pactl({"list", "short", recording ? "sources" : "sinks"})
                           .count(QLatin1Char('\n')));
        };
        const auto start = [recording](int index) {
            return recording ? BASS_RecordInit(index)
                             : BASS_Init(index, 44100, 0, nullptr, nullptr);
        };
        int index = device == kPastTheEnd ? count() : device;
        BOOL ok = start(index);
        int error = BASS_ErrorGetCode();
        // A device another test added between the count and the start made the index a real
        // one: counted again.
        while (device == kPastTheEnd && ok && count() > index) {
            recording ? BASS_RecordFree() : BASS_Free();
            index = count();
            ok = start(index);
            error = BASS_ErrorGetCode();
        }
        QCOMPARE(error, expectedError);
        QCOMPARE(bool(ok), expectedError == BASS_OK);
        const AudioDevice started =
            recording ? AudioDevices::recording() : AudioDevices::playback();
        QCOMPARE(bool(started), bool(ok));
        if (ok)
            QCOMPARE(started.name, expectedName);
    }

    void noServerFailsAtOnce() {
        ServerOverride noServer("unix:/nonexistent/native");
        // Refused, not timed out: nobody waited for a server that is not there.
        QVERIFY(!BASS_RecordInit(-1));
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
        QVERIFY(!BASS_Init(-1, 44100, 0, nullptr, nullptr));
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_DRIVER);
        QVERIFY(!AudioDevices::playback() && !AudioDevices::recording());
        QVERIFY(!BASS_Free());
        QCOMPARE(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    }

    void silentServerTimesOut() {
        // Something listens on the socket but never speaks the protocol.
        QTemporaryDir dir;
        const QByteArray path = dir.filePath("native").toUtf8();
        const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(listener >= 0);
        auto closeListener = qScopeGuard([listener] { close(listener); });
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        QVERIFY(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        QVERIFY(listen(listener, 4) == 0);
        ServerOverride server("unix:" + path);

        bool timedOut = false;
        auto connected = PulseConnection::connect("test", 300, &timedOut);
        QVERIFY(!connected);
        QVERIFY(timedOut);
        QCOMPARE(connected.error().kind, Error::Kind::Environment);
    }
};

QTEST_GUILESS_MAIN(TestPulseDevice)
#include "test_bass_device.moc"
