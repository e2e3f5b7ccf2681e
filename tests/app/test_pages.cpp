// The source and editing pages with the real open dialog and the real editor: cancelling and
// choosing a file, opening a second file after going back, dropping a file on the window, and
// the editor toolbar; a file's name shown as it is written.

#include "TestSupport.h"
#include "app/ui/EditingPage.h"
#include "app/ui/Form1.h"
#include "app/ui/PictureButton.h"
#include "app/ui/SourcePage.h"
#include "app/ui/Startup.h"
#include "platform/core/AppFolder.h"
#include "platform/editor/ui/AudioEditor.h"
#include "wizard_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

using namespace chimora;

namespace {

int shownPage(const Form1& w) {
    for (int i = 0; i < int(w.mainP.size()); ++i) {
        if (w.mainP[i]->isVisible())
            return i;
    }
    return -1;
}

} // namespace

class TestPages : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_wizard;
    QString m_first, m_second;

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        setAppFolderForTesting(m_dir.path());
        m_first = m_dir.filePath("first.wav");
        m_second = m_dir.filePath("second tone.ogg");
        QVERIFY(testsupport::makeTone(m_first, 1.0, 8000, 1));
        QVERIFY(testsupport::makeTone(m_second, 2.0, 22050, 2, {"-c:a", "libvorbis"}));
        m_wizard = StartChimora();
        QVERIFY(m_wizard);
    }

    void cancellingTheOpenDialogStaysOnTheSourcePage() {
        wizardtest::FileDialogAnswer answer;
        answer.arm(QString());
        QTest::mouseClick(m_wizard->sourcePage->Command5, Qt::LeftButton);
        QVERIFY(answer.seen);
        QCOMPARE(answer.title, QString("Open audio file"));
        QCOMPARE(answer.filters.size(), 1);
        QCOMPARE(answer.filters.first(),
                 QString("All supported formats (*.mp3 *.mp2 *.mpeg *.wav *.ogg *.avi *.g721 "
                         "*.g723 *.g726 *.vox *.raw *.pcm *.wma *.cda)"));
        QCOMPARE(m_wizard->fPos, qint16(0));
        QCOMPARE(shownPage(*m_wizard), 0);
    }

    void choosingAFileShowsTheEditingPageAndLoadsIt() {
        wizardtest::FileDialogAnswer answer;
        answer.arm(m_first);
        QTest::mouseClick(m_wizard->sourcePage->Command5, Qt::LeftButton);
        QCOMPARE(m_wizard->fPos, qint16(1));
        QCOMPARE(shownPage(*m_wizard), 1);
        QVERIFY(m_wizard->Command1->isEnabled() && m_wizard->Command2->isEnabled());
        QCOMPARE(m_wizard->SrcAudioFile, m_first);
        AudioDocument* doc = m_wizard->editingPage->AE->document();
        doc->waitForLoad();
        QTRY_COMPARE(doc->frameCount(), int64_t(8000));
        QCOMPARE(doc->format().sampleRate, 8000);
    }

    void secondFileAfterBackReplacesTheFirst() {
        QTest::mouseClick(m_wizard->Command1, Qt::LeftButton);
        QCOMPARE(shownPage(*m_wizard), 0);
        wizardtest::FileDialogAnswer answer;
        answer.arm(m_second);
        QTest::mouseClick(m_wizard->sourcePage->Command5, Qt::LeftButton);
        QCOMPARE(m_wizard->fPos, qint16(1));
        AudioDocument* doc = m_wizard->editingPage->AE->document();
        doc->waitForLoad();
        QTRY_COMPARE(doc->format().sampleRate, 22050);
        QCOMPARE(doc->format().channels, 2);
        QVERIFY(qAbs(doc->frameCount() - 44100) < 50);
    }

    void toolbarSendsEditorCommandsAndSeparatorsDoNothing() {
        AudioDocument* doc = m_wizard->editingPage->AE->document();
        doc->setSelection(0, 22050);
        const int64_t before = doc->frameCount();
        for (int separator : {4, 7, 12, 0, 15})
            m_wizard->editingPage->Toolbar1_ButtonClick(separator);
        QCOMPARE(doc->frameCount(), before);

        const auto actions = m_wizard->editingPage->Toolbar1->actions();
        QCOMPARE(actions.size(), 14);
        QCOMPARE(actions.at(10)->toolTip(), QString("Remove"));
        actions.at(10)->trigger();
        QCOMPARE(doc->frameCount(), before - 22050);
        QCOMPARE(actions.at(4)->toolTip(), QString("Undo"));
        actions.at(4)->trigger();
        QCOMPARE(doc->frameCount(), before);
    }

    void droppingAFileOpensIt() {
        m_wizard->fPos = 2;
        m_wizard->ShowFrame(2);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(m_first)});
        QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(m_wizard.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(300, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_wizard.get(), &drop);
        QTRY_COMPARE(m_wizard->fPos, qint16(1));
        QCOMPARE(shownPage(*m_wizard), 1);
        QTRY_COMPARE(m_wizard->editingPage->AE->document()->format().sampleRate, 8000);
        QCOMPARE(m_wizard->SrcAudioFile, m_first);
    }

    void aFileNameWithMarkupIsShownAsWritten() {
        // A headerless file: the editor asks how it is laid out, naming it.
        const QString name = "<b>loud<br>tone.raw";
        wizardtest::writeFile(m_dir.filePath(name), QByteArray(8000, '\0'));
        QStringList shown;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                shown << wizardtest::shownText(label);
            dialog->reject();
        });
        poll.start(20);
        m_wizard->editingPage->AE->load(m_dir.filePath(name));
        QVERIFY2(shown.join('\n').contains(name), qPrintable(shown.join('\n')));
    }

    void cleanupTestCase() {
        if (m_wizard)
            m_wizard->Form_Unload();
    }
};

QTEST_MAIN(TestPages)
#include "test_pages.moc"
