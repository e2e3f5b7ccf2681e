// The wizard window against the real test audio server: start-up with missing, empty and odd
// settings files, page navigation and button states, choices kept across runs, and start-up
// without any audio server (the program ends and the settings file stays as it was).

#include "TestSupport.h"
#include "app/Settings.h"
#include "app/ui/EditingPage.h"
#include "app/ui/Form1.h"
#include "app/ui/OptionsPage.h"
#include "app/ui/PictureButton.h"
#include "app/ui/SourcePage.h"
#include "app/ui/Startup.h"
#include "platform/core/AppFolder.h"
#include "wizard_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace chimora;
using wizardtest::readFile;
using wizardtest::writeFile;

namespace {

int shownPage(const Form1& w) {
    int shown = -1;
    for (int i = 0; i < int(w.mainP.size()); ++i) {
        if (w.mainP[i]->isVisible()) {
            if (shown >= 0)
                return -2; // more than one page shown
            shown = i;
        }
    }
    return shown;
}

} // namespace

class TestWizard : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_settings;

    std::unique_ptr<Form1> start() {
        auto w = StartChimora();
        if (w)
            QTest::qWaitForWindowExposed(w.get());
        return w;
    }

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        setAppFolderForTesting(m_dir.path());
        m_settings = m_dir.filePath("settings.ini");
    }

    void firstStartCreatesDefaultsAndShowsSourcePage() {
        QFile::remove(m_settings);
        auto w = start();
        QVERIFY(w);
        QVERIFY(QFile::exists(m_settings));
        QCOMPARE(w->windowTitle(), QString("Chimora"));
        QCOMPARE(w->size(), QSize(617, 473));
        QCOMPARE(shownPage(*w), 0);
        QCOMPARE(w->fPos, qint16(0));
        QVERIFY(!w->Command1->isEnabled());
        QVERIFY(!w->Command2->isEnabled());
        QCOMPARE(w->editingPage->Combo1->currentText(), QString("Use the entire song as ringtone"));
        QCOMPARE(w->optionsPage->Text1->text(), QString("ringtone"));
        QVERIFY(w->optionsPage->Option2->isChecked());
        QCOMPARE(w->optionsPage->Combo2->currentText(), QString("24000"));
        QCOMPARE(w->optionsPage->Combo3->currentText(), QString("160"));
        QCOMPARE(w->optionsPage->Combo4->currentText(), QString("Stereo"));
        QCOMPARE(w->optionsPage->Combo3->count(), 15);
        QCOMPARE(w->optionsPage->Combo2->count(), 7);
        w->Form_Unload();
    }

    void navigationKeepsPageAndButtonsInStep() {
        auto w = start();
        QVERIFY(w);
        // Leaving the source page forward is the source buttons' job.
        w->fPos = 1;
        w->ShowFrame(w->fPos);
        QCOMPARE(shownPage(*w), 1);
        QVERIFY(w->Command1->isEnabled() && w->Command2->isEnabled());

        QTest::mouseClick(w->Command2, Qt::LeftButton);
        QCOMPARE(w->fPos, qint16(2));
        QCOMPARE(shownPage(*w), 2);
        QVERIFY(w->Command1->isEnabled());
        QVERIFY(!w->Command2->isEnabled());

        // Pages 3 to 8 do not exist: the options page stays, fPos stops at 8.
        for (int i = 0; i < 10; ++i)
            w->Command2_Click();
        QCOMPARE(w->fPos, qint16(8));
        QCOMPARE(shownPage(*w), 2);
        for (qint16 p : {qint16(-1), qint16(3), qint16(7), qint16(8)})
            w->ShowFrame(p);
        QCOMPARE(shownPage(*w), 2);
        QVERIFY(!w->Command2->isEnabled());

        w->fPos = 2;
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(shownPage(*w), 1);
        QTest::mouseClick(w->Command1, Qt::LeftButton);
        QCOMPARE(shownPage(*w), 0);
        w->Command1_Click();
        QCOMPARE(w->fPos, qint16(0));
        QVERIFY(!w->Command1->isEnabled() && !w->Command2->isEnabled());
        w->Form_Unload();
    }

    void savedChoicesComeBack_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("format"); // checked option's text
        QTest::addColumn<QString>("rate");   // "" = no selection
        QTest::addColumn<QString>("bitrate");
        QTest::addColumn<QString>("channels");
        QTest::addColumn<QByteArray>("savedLines"); // what closing writes back

        QTest::newRow("ogg and last bitrate")
            << QByteArray("[Main]\n1=x\n2=14\n3=0\n4=2\n5=bell\n6=6\n") << "OGG"
            << "8000"
            << "8"
            << "Mono" << QByteArray("2=14\n3=0\n4=2\n5=bell\n6=6\n");
        QTest::newRow("index past its list") << QByteArray("[Main]\n2=15\n3=2\n4=1\n6=7\n") << "MP3"
                                             << ""
                                             << ""
                                             << "" << QByteArray("2=-1\n3=-1\n4=1\n6=-1\n");
        QTest::newRow("unknown format shows wav")
            << QByteArray("[Main]\n2=0\n3=1\n4=7\n6=0\n") << "WAV"
            << "32000"
            << "320"
            << "Stereo" << QByteArray("4=0\n");
        QTest::newRow("empty file") << QByteArray() << "WAV"
                                    << "32000"
                                    << "320"
                                    << "Mono" << QByteArray("2=0\n3=0\n4=0\n5=\n6=0\n");
        QTest::newRow("odd file")
            << QByteArray(
                   "garbage\x01\x02\n[mAIN]\n2 = 3.5 kbps\n4=  1e0 \n6=-0.4\n3\n[Main]\n3=1\n")
            << "MP3"
            << "32000"
            << "160"
            << "Mono" << QByteArray("2=4\n4=1\n6=0\n3\n");
    }
    void savedChoicesComeBack() {
        QFETCH(QByteArray, file);
        QFETCH(QString, format);
        QFETCH(QString, rate);
        QFETCH(QString, bitrate);
        QFETCH(QString, channels);
        QFETCH(QByteArray, savedLines);
        writeFile(m_settings, file);
        auto w = start();
        QVERIFY(w);
        QCOMPARE(readFile(m_settings), file); // start-up never rewrites an existing file
        QRadioButton* checked = w->optionsPage->Option1->isChecked()   ? w->optionsPage->Option1
                                : w->optionsPage->Option2->isChecked() ? w->optionsPage->Option2
                                                                       : w->optionsPage->Option3;
        QCOMPARE(checked->text(), format);
        QCOMPARE(w->optionsPage->Combo2->currentText(), rate);
        QCOMPARE(w->optionsPage->Combo3->currentText(), bitrate);
        QCOMPARE(w->optionsPage->Combo4->currentText(), channels);
        w->close(); // the closing sequence
        const QByteArray saved = readFile(m_settings);
        QVERIFY2(saved.contains(savedLines), saved.constData());
    }

    void closingStoresTheChoicesForNextStart() {
        QFile::remove(m_settings);
        {
            auto w = start();
            QVERIFY(w);
            w->optionsPage->Option3->setChecked(true);
            w->optionsPage->Combo2->setCurrentIndex(5);
            w->optionsPage->Text1->setText("my tone");
            QTest::mouseClick(w->Command3, Qt::LeftButton); // "Cancel" closes too
        }
        auto w = start();
        QVERIFY(w);
        QVERIFY(w->optionsPage->Option3->isChecked());
        QCOMPARE(w->optionsPage->Combo2->currentText(), QString("11025"));
        QCOMPARE(w->optionsPage->Text1->text(), QString("my tone"));
        w->Form_Unload();
    }

    void nameFieldSelectsAllOnFocus() {
        auto w = start();
        QVERIFY(w);
        w->fPos = 2;
        w->ShowFrame(2);
        w->optionsPage->Text1->setText("ringtone");
        w->optionsPage->Text1->deselect();
        w->activateWindow();
        w->optionsPage->Text1->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(w->optionsPage->Text1->selectedText(), QString("ringtone"));
        w->Form_Unload();
    }

    void everyControlIsReachableByKeyboardAndNamed() {
        auto w = start();
        QVERIFY(w);
        w->activateWindow();
        QApplication::setActiveWindow(w.get());
        w->optionsPage->FadeInCheck->setChecked(true); // the fade length is used only then
        for (qint16 page : {qint16(0), qint16(1), qint16(2)}) {
            w->fPos = page;
            w->ShowFrame(page);
            // Walk the tab chain once round and collect what it reaches.
            QSet<QWidget*> reached;
            w->Command3->setFocus(Qt::TabFocusReason);
            for (int i = 0; i < 200; ++i) {
                QWidget* focus = QApplication::focusWidget();
                QVERIFY(focus);
                reached.insert(focus);
                QTest::keyClick(focus, Qt::Key_Tab);
            }
            QList<QWidget*> expected{w->Command3, static_cast<QWidget*>(w->Label38)};
            const SourcePage* source = w->sourcePage;
            const OptionsPage* options = w->optionsPage;
            if (page == 0)
                expected << source->Command5 << source->Command4;
            if (page == 2)
                expected << options->Text1 << options->Combo2 << options->Combo3 << options->Combo4
                         << options->Command7 << options->Command8 << options->Command6
                         << options->FadeInCheck << options->FadeOutCheck << options->FadeLengthBox
                         << options->EvenLoudnessCheck << options->EstimateLabel;
            if (page == 1)
                expected << w->editingPage->Combo1;
            for (QWidget* control : expected) {
                const bool inChain =
                    reached.contains(control) ||
                    std::any_of(reached.begin(), reached.end(),
                                [control](QWidget* r) { return control->isAncestorOf(r); });
                QVERIFY2(inChain, qPrintable(control->objectName()));
            }
        }
        const OptionsPage* options = w->optionsPage;
        for (PictureButton* button : {w->sourcePage->Command5, w->sourcePage->Command4,
                                      options->Command7, options->Command8, options->Command6})
            QVERIFY(!button->accessibleName().isEmpty());
        for (QWidget* control : {static_cast<QWidget*>(options->FadeLengthBox),
                                 static_cast<QWidget*>(options->EstimateLabel)})
            QVERIFY(!control->accessibleName().isEmpty());
        w->optionsPage->FadeInCheck->setChecked(false);
        w->Form_Unload();
    }

    void noAudioServerEndsWithoutTouchingSettings() {
        const QByteArray server = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/chimora-test/native");
        writeFile(m_settings, "[Main]\n4=2\n");
        wizardtest::MessageBoxAnswer box;
        box.arm();
        auto w = StartChimora();
        qputenv("PULSE_SERVER", server);
        QVERIFY(!w);
        QCOMPARE(box.title, QString("Error"));
        QCOMPARE(box.text, QString("Can't initialize device\n\nerror code: 3"));
        QCOMPARE(readFile(m_settings), QByteArray("[Main]\n4=2\n"));
    }

    void aSettingsFileThatCannotBeWrittenIsToldAtClose() {
        // A folder where the file should be: the choices cannot be kept, and the user hears it.
        QFile::remove(m_settings);
        QVERIFY(QDir().mkpath(m_settings));
        auto w = start();
        QVERIFY(w);
        wizardtest::MessageBoxAnswer box;
        box.arm();
        w->Form_Unload();
        QDir(m_settings).removeRecursively();
        QCOMPARE(box.title, QString("Chimora"));
        QVERIFY2(box.text.contains("settings.ini could not be read") &&
                     box.text.contains("could not be kept"),
                 qPrintable(box.text));
    }

    void copiedProgramKeepsSettingsInItsOwnFolder() {
        const QString built = QCoreApplication::applicationDirPath() + "/../chimora";
        if (!QFile::exists(built))
            QSKIP("the program is not built");
        QTemporaryDir install;
        const QString program = install.filePath("chimora");
        QVERIFY(QFile::copy(built, program));
        QProcess p;
        p.start(program, {});
        QVERIFY(p.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(install.filePath("settings.ini")), 20000);
        p.kill();
        p.waitForFinished();
        QVERIFY(readFile(install.filePath("settings.ini")).startsWith("[Main]\n1=test\n"));
    }
};

QTEST_MAIN(TestWizard)
#include "test_wizard.moc"
