// The recording engine's state machine over a fake device: the opening sequence's choice of
// input, what each way of ending a recording hands on, and the elapsed time.

#include "fake_record_device_support.h"

#include "platform/core/AppFolder.h"
#include "record/RecordEngine.h"
#include "record/RecordState.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace chimora;
using State = RecordEngine::State;

Q_DECLARE_METATYPE(QList<bool>)

class TestRecordEngine : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_folder;
    int64_t m_nowMs = 0;

    std::unique_ptr<RecordEngine> makeEngine(FakeRecordDevice& device) {
        return std::make_unique<RecordEngine>(device, nullptr, [this] { return m_nowMs; });
    }

private slots:
    void initTestCase() { setAppFolderForTesting(m_folder.path()); }
    void cleanupTestCase() { setAppFolderForTesting({}); }

    void openingChoosesTheLastInputThatIsOn_data() {
        QTest::addColumn<QList<bool>>("on");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QList<int>>("switchedOff");
        QTest::newRow("only the third on") << QList<bool>{false, false, true} << 2 << QList<int>{};
        QTest::newRow("two on: the second wins")
            << QList<bool>{true, true} << 1 << QList<int>{0, 1};
        QTest::newRow("none on") << QList<bool>{false, false} << -1 << QList<int>{};
        QTest::newRow("no inputs") << QList<bool>{} << -1 << QList<int>{};
    }

    void openingChoosesTheLastInputThatIsOn() {
        QFETCH(QList<bool>, on);
        QFETCH(int, chosen);
        QFETCH(QList<int>, switchedOff);
        FakeRecordDevice device;
        for (int i = 0; i < on.size(); ++i)
            device.inputs << FakeRecordDevice::Input{QStringLiteral("in %1").arg(i), on[i], 10 + i};
        auto engine = makeEngine(device);
        QSignalSpy listed(engine.get(), &RecordEngine::inputsListed);
        QSignalSpy level(engine.get(), &RecordEngine::levelRead);

        engine->open();
        QCOMPARE(engine->state(), State::Idle);
        QCOMPARE(listed.count(), 1);
        QCOMPARE(listed[0][0].toStringList().size(), on.size());
        QCOMPARE(listed[0][1].toInt(), chosen);
        QCOMPARE(InputIndex, chosen);
        QCOMPARE(device.switchedOff, switchedOff);
        if (chosen >= 0) {
            QVERIFY(device.inputs[chosen].on);
            QCOMPARE(level.last()[0].toInt(), 10 + chosen);
        } else {
            QCOMPARE(level.count(), 0);
        }
    }

    void endingsOfARecording_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("audioError"); // how the audio error box begins; "" for none
        QTest::addColumn<int>("encoderErrors");
        QTest::addColumn<bool>("handedOn");
        QTest::addColumn<bool>("kept");
        QTest::newRow("stop") << "stop"
                              << "" << 0 << true << true;
        QTest::newRow("capture cannot start") << "capture fails"
                                              << "Couldn't start recording" << 0 << false << false;
        QTest::newRow("encoder cannot start") << "encoder fails"
                                              << "" << 1 << false << false;
        QTest::newRow("server goes away: what was captured is kept")
            << "server lost"
            << "The recording stopped because the sound server" << 0 << true << true;
        QTest::newRow("encoder ends on its own: what it wrote is kept")
            << "encoder died"
            << "The MP3 encoder stopped: lame crashed" << 0 << true << true;
        QTest::newRow("encoder fails at stop: what it wrote is kept")
            << "encoder fails at stop"
            << "The MP3 encoder stopped: lame crashed" << 0 << true << true;
        QTest::newRow("encoder ends before writing anything")
            << "encoder died at once"
            << "The MP3 encoder stopped before" << 0 << false << false;
        QTest::newRow("discarded by the user") << "discard"
                                               << "" << 0 << false << false;
        QTest::newRow("engine goes while recording: kept") << "destroyed"
                                                           << "" << 0 << false << true;
    }

    void endingsOfARecording() {
        QFETCH(QString, ending);
        QFETCH(QString, audioError);
        QFETCH(int, encoderErrors);
        QFETCH(bool, handedOn);
        QFETCH(bool, kept);
        // An earlier recording must never pass for this one, and one planted as a link to
        // another file must not have that file written through it.
        QTemporaryDir elsewhere;
        QFile old(elsewhere.filePath(QStringLiteral("old")));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        QFile::remove(RecordEngine::outputPath());
        QVERIFY(QFile::link(old.fileName(), RecordEngine::outputPath()));

        FakeRecordDevice device;
        device.inputs << FakeRecordDevice::Input{QStringLiteral("line"), false, 50}
                      << FakeRecordDevice::Input{QStringLiteral("mic"), true, 50};
        device.captureFails = ending == "capture fails";
        device.encoderFails = ending == "encoder fails";
        device.encoderFailsAtStop =
            ending.startsWith("encoder died") || ending == "encoder fails at stop";
        if (ending == "encoder died at once")
            device.encoderWrites.clear();
        auto engine = makeEngine(device);
        QSignalSpy audio(engine.get(), &RecordEngine::audioError);
        QSignalSpy encoder(engine.get(), &RecordEngine::encoderError);
        QSignalSpy finished(engine.get(), &RecordEngine::recordingFinished);
        engine->open();
        engine->StartRecording();

        if (ending == "stop" || ending == "encoder fails at stop") {
            engine->StopRecording();
        } else if (ending == "server lost") {
            device.capturing = false;
            engine->tick();
        } else if (ending.startsWith("encoder died")) {
            device.encoderRunning = false;
            device.capturing = false;
            engine->tick();
        } else if (ending == "discard") {
            engine->discard();
        } else if (ending == "destroyed") {
            engine.reset();
        }

        if (engine)
            QCOMPARE(engine->state(), State::Closed);
        QCOMPARE(audio.count(), audioError.isEmpty() ? 0 : 1);
        if (!audioError.isEmpty())
            QVERIFY2(audio[0][0].toString().startsWith(audioError),
                     qPrintable(audio[0][0].toString()));
        QCOMPARE(encoder.count(), encoderErrors);
        QCOMPARE(finished.count(), handedOn ? 1 : 0);
        QCOMPARE(RecordChannel, DWORD(0));
        if (!device.captureFails)
            QCOMPARE(device.frees, 1);
        if (ending == "capture fails")
            QCOMPARE(audio[0][1].toInt(), int(BASS_ERROR_DEVICE));
        if (handedOn)
            QCOMPARE(finished[0][0].toString(), RecordEngine::outputPath());
        QCOMPARE(QFile::exists(RecordEngine::outputPath()), kept);
        QVERIFY(!QFileInfo(RecordEngine::outputPath()).isSymLink());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
        // However it ended, the user's input stays chosen for the next window.
        QVERIFY(device.inputs[1].on);
        QCOMPARE(device.switchedOff, QList<int>{});
    }

    void elapsedTimeIsTheTrueTime_data() {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << qint64(0) << "00:00:00.00";
        QTest::newRow("nine tenths are not a second") << qint64(900) << "00:00:00.90";
        QTest::newRow("one second") << qint64(1000) << "00:00:01.00";
        QTest::newRow("a minute") << qint64(60000) << "00:01:00.00";
        QTest::newRow("hundredths") << qint64(3723456) << "01:02:03.45";
        QTest::newRow("a day wraps") << qint64(86400000 + 61000) << "00:01:01.00";
    }

    void elapsedTimeIsTheTrueTime() {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        FakeRecordDevice device;
        device.inputs << FakeRecordDevice::Input{QStringLiteral("mic"), true, 50};
        auto engine = makeEngine(device);
        QSignalSpy shown(engine.get(), &RecordEngine::elapsedChanged);
        engine->open();
        m_nowMs = 5000;
        engine->StartRecording();
        QCOMPARE(shown.last()[0].toString(), QStringLiteral("00:00:00.00"));
        m_nowMs += ms;
        engine->tick();
        QCOMPARE(shown.last()[0].toString(), text);
        engine->StopRecording();
    }

    void words_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<uint>("hi");
        QTest::addColumn<uint>("lo");
        QTest::newRow("version") << qint64(0x02030001) << 0x0203u << 0x0001u;
        QTest::newRow("input off, level 75") << qint64(0x1004B) << 0x0001u << 0x004Bu;
        QTest::newRow("negative truncates toward zero") << qint64(-65537) << 0xFFFFu << 0xFFFFu;
        QTest::newRow("small negative") << qint64(-1) << 0u << 0xFFFFu;
    }

    void words() {
        QFETCH(qint64, value);
        QFETCH(uint, hi);
        QFETCH(uint, lo);
        QCOMPARE(HiWord(value), hi);
        QCOMPARE(LoWord(value), lo);
    }
};

QTEST_GUILESS_MAIN(TestRecordEngine)
#include "test_record_engine.moc"
