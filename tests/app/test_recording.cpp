// "Record new file" in the wizard: the recording window over a disabled wizard that refuses to
// close meanwhile, and a recording that ends in the editor on the editing page; closing the
// window instead leaves the wizard on the source page; the session's end keeps a recording.

#include "TestSupport.h"
#include "app/ui/EditingPage.h"
#include "app/ui/Form1.h"
#include "app/ui/PictureButton.h"
#include "app/ui/SourcePage.h"
#include "app/ui/Startup.h"
#include "platform/audio/AudioDocument.h"
#include "platform/core/AppFolder.h"
#include "platform/editor/ui/AudioEditor.h"
#include "record/ui/Form2.h"

#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

using namespace chimora;

class TestRecording : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_wizard;

    Form2* openRecorder() {
        QTest::mouseClick(m_wizard->sourcePage->Command4, Qt::LeftButton);
        return m_wizard->findChild<Form2*>();
    }

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        setAppFolderForTesting(m_dir.path());
        m_wizard = StartChimora();
        QVERIFY(m_wizard);
    }

    void closingTheWindowStaysOnTheSourcePage() {
        QPointer<Form2> form = openRecorder();
        QVERIFY(form && form->isVisible());
        QVERIFY(!m_wizard->isEnabled());
        form->close();
        QTRY_VERIFY(!form);
        QVERIFY(m_wizard->isEnabled());
        QCOMPARE(m_wizard->fPos, qint16(0));
        QVERIFY(m_wizard->mainP[0]->isVisible());
    }

    void aRecordingEndsInTheEditor() {
        QPointer<Form2> form = openRecorder();
        QVERIFY(form);
        form->toolbarButton(1)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form->engine()->capturedFrames() >= 44100, 30000);
        // Its close box (or the window manager) cannot take the recording away with it.
        QVERIFY(!m_wizard->close());
        QVERIFY(m_wizard->isVisible() && form);
        QCOMPARE(form->engine()->state(), RecordEngine::State::Recording);
        form->toolbarButton(2)->trigger();
        QTRY_COMPARE(m_wizard->fPos, qint16(1));
        QVERIFY(!form);
        QVERIFY(m_wizard->isEnabled());
        QVERIFY(m_wizard->mainP[1]->isVisible());
        QCOMPARE(m_wizard->SrcAudioFile, appFilePath(QStringLiteral("temp.mp3")));
        AudioDocument* doc = m_wizard->editingPage->AE->document();
        doc->waitForLoad();
        QTRY_VERIFY(doc->frameCount() >= 44100 - 2304);
        QCOMPARE(doc->format().sampleRate, 44100);
    }

    // Last: the wizard may close afterwards.
    void theSessionEndingStopsTheRecordingAndKeepsIt() {
        m_wizard->fPos = 0;
        m_wizard->ShowFrame(0);
        QPointer<Form2> form = openRecorder();
        QVERIFY(form);
        form->toolbarButton(1)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(form->engine()->capturedFrames() >= 44100, 30000);
        m_wizard->endSession();
        QTRY_VERIFY(!form);
        const std::vector<int16_t> decoded =
            testsupport::decodeWithFfmpeg(appFilePath(QStringLiteral("temp.mp3")));
        QVERIFY2(decoded.size() + 2304 >= 44100, qPrintable(QString::number(decoded.size())));
        QVERIFY(m_wizard->close());
    }
};

QTEST_MAIN(TestRecording)
#include "test_recording.moc"
