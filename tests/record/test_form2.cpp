// The recording window against the private test server, recording from a sine source of its
// own: its controls as designed, the input chosen kept for the next window, and every way a
// recording ends - Stop, Stop at once, the close box's three answers, lame missing, lame dying,
// the server killed - judged by what the wizard is handed and what the server is left with.

#include "TestSupport.h"

#include "platform/bass/Bass.h"
#include "platform/core/AppFolder.h"
#include "record/RecordState.h"
#include "record/ui/Form2.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

using namespace chimora;
using testsupport::pactl;
using testsupport::recordStreamsOnServer;

namespace {

/// Answers every message box that opens - with the button named `press`, or its default - and
/// keeps its texts. Every box must show its text as plain text (it holds outside names).
struct BoxAnswerer {
    QStringList texts;
    QString press;
    bool allPlain = true;
    QTimer timer;
    explicit BoxAnswerer(QString button = {}) : press(std::move(button)) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts << box->windowTitle() + QLatin1Char('|') + box->text();
            allPlain = allPlain && box->textFormat() == Qt::PlainText;
            for (QAbstractButton* b : box->buttons()) {
                if (!press.isEmpty() && b->text() == press) {
                    b->click();
                    return;
                }
            }
            box->accept();
        });
        timer.start();
    }
};

/// Sets an environment variable for one scope.
struct EnvOverride {
    QByteArray name, saved;
    EnvOverride(const char* n, const QByteArray& value) : name(n), saved(qgetenv(n)) {
        qputenv(n, value);
    }
    ~EnvOverride() { qputenv(name.constData(), saved); }
};

} // namespace

class TestForm2 : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_folder;
    std::unique_ptr<QWidget> m_wizard;
    // Other tests set the shared source's volume meanwhile; this one is ours alone.
    const QString m_source = testsupport::uniqueServerName(QStringLiteral("form2sine"));
    std::unique_ptr<testsupport::ServerModule> m_sine;

    int inputNamed(const QString& name) {
        for (int i = 0; const char* n = BASS_RecordGetInputName(i); ++i) {
            if (QString::fromUtf8(n) == name)
                return i;
        }
        return -1;
    }

    Form2* openWindow() {
        m_wizard->setEnabled(false);
        auto* form = new Form2(m_wizard.get());
        form->show();
        return form;
    }

    void pressStart(Form2* form) { form->toolbarButton(1)->trigger(); }
    void pressStop(Form2* form) { form->toolbarButton(2)->trigger(); }

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "no test audio server (PULSE_SERVER is not set)");
        setAppFolderForTesting(m_folder.path());
        m_sine = std::make_unique<testsupport::ServerModule>(
            QStringList{"module-sine-source", "source_name=" + m_source, "frequency=440",
                        "source_properties=device.description=" + m_source});
        QVERIFY(m_sine->ok());
    }

    void init() {
        QVERIFY(BASS_RecordInit(-1));
        const int ours = inputNamed(m_source);
        QVERIFY(ours >= 0);
        QVERIFY(BASS_RecordSetInput(ours, BASS_INPUT_ON));
        m_wizard = std::make_unique<QWidget>();
        m_wizard->setGeometry(100, 100, 617, 473);
        m_wizard->show();
    }

    void cleanup() {
        m_wizard.reset(); // the recording window goes with its owner
        BASS_RecordFree();
    }

    void cleanupTestCase() {
        m_sine.reset();
        setAppFolderForTesting({});
    }

    void windowAsDesigned() {
        pactl({"set-source-volume", m_source, "64%"});
        Form2* form = openWindow();
        QCOMPARE(form->windowTitle(), QStringLiteral("Record your ringtone"));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QCOMPARE(form->width(), 274);
        QVERIFY(form->height() >= 116 && form->height() <= 126);
        const QList<std::pair<const char*, QRect>> places = {
            {"Label1", {9, 16, 121, 17}},    {"cmbInput", {9, 32, 137, 21}},
            {"Label2", {9, 64, 129, 17}},    {"sldInputLevel", {8, 80, 137, 20}},
            {"Toolbar1", {168, 16, 92, 42}}, {"Label3", {168, 80, 81, 17}}};
        for (const auto& [name, rect] : places) {
            auto* w = form->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(w, name);
            QCOMPARE(w->geometry(), rect);
        }
        QCOMPARE(form->Label1->text(), QStringLiteral("Recording device:"));
        QCOMPARE(form->Label2->text(), QStringLiteral("Volume:"));
        QCOMPARE(form->Label3->text(), QStringLiteral("00:00:00.00"));
        QCOMPARE(form->toolbarButton(1)->toolTip(), QStringLiteral("Start Recording"));
        QCOMPARE(form->toolbarButton(2)->toolTip(), QStringLiteral("Stop Recording"));
        QVERIFY(form->toolbarButton(1)->isEnabled());
        QVERIFY(!form->toolbarButton(2)->isEnabled());
        QVERIFY(!form->Timer2->isActive());
        QCOMPARE(form->Timer2->interval(), 100);
        QCOMPARE(form->sldInputLevel->maximum(), 100);
        QCOMPARE(form->cmbInput->currentText(), m_source);
        QCOMPARE(form->sldInputLevel->value(), 64);
        for (QLabel* label : form->findChildren<QLabel*>())
            QCOMPARE(label->textFormat(), Qt::PlainText);
        // Centred on the wizard (to a frame border's width).
        QVERIFY((form->frameGeometry().center() - m_wizard->frameGeometry().center())
                    .manhattanLength() <= 6);

        // Moving the slider sets the input's level on the server.
        form->sldInputLevel->setValue(30);
        QVERIFY(pactl({"get-source-volume", m_source}).contains(QStringLiteral(" 30%")));
        pactl({"set-source-volume", m_source, "100%"});

        // Choosing the shared sink's monitor records from it, and the next window starts from
        // that choice.
        const int monitor = form->cmbInput->findText(QStringLiteral("Monitor of Null Output"));
        QVERIFY(monitor >= 0);
        form->cmbInput_Click(monitor);
        QCOMPARE(InputIndex, monitor);
        QCOMPARE(BASS_RecordGetInput(monitor) & BASS_INPUT_OFF, 0u);
        form->close();
        QVERIFY(m_wizard->isEnabled());
        QCOMPARE(BASS_RecordGetInput(monitor) & BASS_INPUT_OFF, 0u);
        form = openWindow();
        QCOMPARE(form->cmbInput->currentIndex(), monitor);
        QCOMPARE(InputIndex, monitor);
        form->close();
    }

    void stopHandsTheWholeRecordingOn_data() {
        QTest::addColumn<int>("seconds");
        QTest::newRow("stop after two seconds") << 2;
        QTest::newRow("stop right after start") << 0;
    }

    void stopHandsTheWholeRecordingOn() {
        QFETCH(int, seconds);
        Form2* form = openWindow();
        QSignalSpy ready(form, &Form2::recordingReady);
        RecordEngine* engine = form->engine();
        pressStart(form);
        QVERIFY(form->Timer2->isActive());
        QVERIFY(form->toolbarButton(2)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(engine->capturedFrames() >= seconds * 44100, 30000);
        pressStop(form);
        QCOMPARE(ready.count(), 1);
        const int64_t frames = engine->capturedFrames();
        const QString path = ready[0][0].toString();
        QCOMPARE(path, m_folder.filePath(QStringLiteral("temp.mp3")));
        QVERIFY(QFile::exists(path));
        QVERIFY(m_wizard->isEnabled());
        QCOMPARE(recordStreamsOnServer(), 0);
        if (seconds == 0)
            return;
        int rate = 0;
        const std::vector<int16_t> decoded = testsupport::decodeWithFfmpeg(path, &rate);
        QVERIFY2(
            std::abs(int64_t(decoded.size()) - frames) <= 2304,
            qPrintable(QStringLiteral("%1 decoded, %2 captured").arg(decoded.size()).arg(frames)));
        const double f =
            testsupport::zeroCrossingFrequency(decoded.data() + 4410, decoded.size() - 8820, rate);
        QVERIFY2(std::abs(f - 440.0) < 5.0, qPrintable(QString::number(f)));
    }

    void closeBoxAsksWhatBecomesOfTheRecording_data() {
        QTest::addColumn<QString>("answer");
        QTest::newRow("keep: as Stop") << "Keep";
        QTest::newRow("discard") << "Discard";
        QTest::newRow("go on, then stop") << "Go on recording";
    }

    void closeBoxAsksWhatBecomesOfTheRecording() {
        QFETCH(QString, answer);
        Form2* form = openWindow();
        QPointer<Form2> alive(form);
        QSignalSpy ready(form, &Form2::recordingReady);
        pressStart(form);
        QTRY_VERIFY_WITH_TIMEOUT(form->engine()->capturedFrames() > 0, 30000);
        {
            BoxAnswerer boxes(answer);
            form->close();
            QCOMPARE(boxes.texts.size(), 1);
            QVERIFY(boxes.allPlain);
        }
        const QString file = m_folder.filePath(QStringLiteral("temp.mp3"));
        if (answer == "Go on recording") {
            QVERIFY(alive && alive->isVisible());
            QCOMPARE(form->engine()->state(), RecordEngine::State::Recording);
            QVERIFY(!m_wizard->isEnabled());
            pressStop(form);
        }
        QTRY_VERIFY(!alive);
        QCOMPARE(ready.count(), answer == "Discard" ? 0 : 1);
        QCOMPARE(QFile::exists(file), answer != "Discard");
        QVERIFY(m_wizard->isEnabled());
        QCOMPARE(recordStreamsOnServer(), 0);
    }

    void lameMissingIsReported() {
        QTemporaryDir emptyPath;
        EnvOverride path("PATH", emptyPath.path().toLocal8Bit());
        BoxAnswerer boxes;
        Form2* form = openWindow();
        QPointer<Form2> alive(form);
        QSignalSpy ready(form, &Form2::recordingReady);
        pressStart(form);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].contains(QStringLiteral("lame")), qPrintable(boxes.texts[0]));
        QVERIFY(boxes.allPlain);
        QCOMPARE(ready.count(), 0);
        QTRY_VERIFY(!alive);
        QVERIFY(m_wizard->isEnabled());
        QCOMPARE(recordStreamsOnServer(), 0);
    }

    void lameDyingKeepsWhatItWrote() {
        // A lame that takes two seconds of sound, writes them (as WAV) and crashes.
        const QString lame = m_folder.filePath(QStringLiteral("lame"));
        QVERIFY(QFile::link(testsupport::toolsFolder() + QStringLiteral("/fake_encoder"), lame));
        struct Remove {
            QString path;
            ~Remove() { QFile::remove(path); }
        } removeLater{lame};
        constexpr int kWritten = 2 * 44100;
        EnvOverride fake("FAKE_ENCODER", "--fake-out-last-arg --fake-crash --fake-read=" +
                                             QByteArray::number(44 + kWritten * 4));
        BoxAnswerer boxes;
        Form2* form = openWindow();
        QSignalSpy ready(form, &Form2::recordingReady);
        pressStart(form);
        QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 30000);
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts[0].startsWith(QStringLiteral("Error|The MP3 encoder stopped: lame "
                                                          "crashed")) &&
                     boxes.texts[0].contains(QStringLiteral("up to that moment is kept")),
                 qPrintable(boxes.texts[0]));
        QVERIFY(boxes.allPlain);
        const std::vector<int16_t> decoded = testsupport::decodeWithFfmpeg(ready[0][0].toString());
        QCOMPARE(int(decoded.size()), kWritten);
        QVERIFY(m_wizard->isEnabled());
        QCOMPARE(recordStreamsOnServer(), 0);
    }

    void serverKilledKeepsWhatWasRecorded() {
        const QString script =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../../scripts/test-services");
        if (!QFile::exists(script))
            QSKIP("scripts/test-services not found beside the build folder");
        QTemporaryDir services;
        QString started;
        QCOMPARE(testsupport::run(script, {QStringLiteral("start"), services.path()}, &started), 0);
        const QString server = started.trimmed().section(QLatin1Char('='), 1);
        QFile pidFile(services.filePath(QStringLiteral("pa.pid")));
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const QString pid = QString::fromLatin1(pidFile.readAll()).trimmed();
        struct Stop {
            QString script, dir;
            ~Stop() { testsupport::run(script, {QStringLiteral("stop"), dir}); }
        } stopLater{script, services.path()};

        {
            EnvOverride onPrivateServer("PULSE_SERVER", server.toLocal8Bit());
            BASS_RecordFree();
            QVERIFY(BASS_RecordInit(-1));
            BoxAnswerer boxes;
            Form2* form = openWindow();
            QSignalSpy ready(form, &Form2::recordingReady);
            pressStart(form);
            QTRY_VERIFY_WITH_TIMEOUT(form->engine()->capturedFrames() >= 44100, 30000);
            const int64_t before = form->engine()->capturedFrames();
            QCOMPARE(testsupport::run(QStringLiteral("kill"), {QStringLiteral("-9"), pid}), 0);
            QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, 30000);
            QCOMPARE(boxes.texts.size(), 1);
            QVERIFY(boxes.texts[0].startsWith(QStringLiteral("Error|")));
            QVERIFY(boxes.texts[0].contains(QStringLiteral("error code: ")));
            const std::vector<int16_t> decoded =
                testsupport::decodeWithFfmpeg(ready[0][0].toString());
            QVERIFY(int64_t(decoded.size()) + 2304 >= before);
            QVERIFY(m_wizard->isEnabled());
            BASS_RecordFree();
        }
        QVERIFY(BASS_RecordInit(-1));
    }
};

QTEST_MAIN(TestForm2)
#include "test_form2.moc"
