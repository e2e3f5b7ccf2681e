// "Save as file" and "Email ringtone" from the options page through the real editor, renderer
// and encoders: the save dialog, the extension rule, a ringtone of exactly the chosen section,
// and the e-mail window opened over the wizard with the rendered attachment.

#include "TestSupport.h"
#include "app/Settings.h"
#include "app/ui/EditingPage.h"
#include "app/ui/Form1.h"
#include "app/ui/OptionsPage.h"
#include "app/ui/PictureButton.h"
#include "app/ui/Startup.h"
#include "mail/ui/Form5.h"
#include "platform/core/AppFolder.h"
#include "platform/editor/ui/AudioEditor.h"
#include "render/RenderState.h"
#include "render/ui/RenderRingtone.h"
#include "wizard_support.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace chimora;

class TestDelivery : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_wizard;
    QStringList m_messages;

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        setAppFolderForTesting(m_dir.filePath("app"));
        m_wizard = StartChimora();
        QVERIFY(m_wizard);
        setRenderMessageHandlerForTesting(
            [this](QMessageBox::Icon, const QString& text) { m_messages << text; });

        const QString song = m_dir.filePath("song.wav");
        QVERIFY(testsupport::makeTone(song, 4.0, 44100, 2));
        m_wizard->openAudioFile(song);
        m_wizard->editingPage->AE->document()->waitForLoad();
        QTRY_COMPARE(m_wizard->editingPage->AE->document()->frameCount(), int64_t(4 * 44100));
        m_wizard->fPos = 2;
        m_wizard->ShowFrame(2);
    }

    void savesTheChosenSectionInTheChosenFormat_data() {
        QTest::addColumn<QString>("answer");   // what the user types in the save dialog
        QTest::addColumn<QString>("expected"); // the file that must appear
        QTest::addColumn<int>("format");       // 0 WAV, 1 MP3, 2 OGG
        QTest::addColumn<int>("rateIndex");
        QTest::addColumn<int>("channelsIndex");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");

        QTest::newRow("mp3 gets its extension") << "tone"
                                                << "tone.mp3" << 1 << 2 << 1 << "mp3" << 22050 << 2;
        QTest::newRow("upper-case extension kept")
            << "tone2.MP3"
            << "tone2.MP3" << 1 << 1 << 0 << "mp3" << 24000 << 1;
        QTest::newRow("ogg") << "bell"
                             << "bell.ogg" << 2 << 1 << 1 << "vorbis" << 24000 << 2;
        QTest::newRow("wav in a folder named like a wav")
            << "sounds.wav/ring"
            << "sounds.wav/ring.wav" << 0 << 6 << 0 << "pcm_s16le" << 8000 << 1;
    }
    void savesTheChosenSectionInTheChosenFormat() {
        QFETCH(QString, answer);
        QFETCH(QString, expected);
        QFETCH(int, format);
        QFETCH(int, rateIndex);
        QFETCH(int, channelsIndex);
        QFETCH(QString, codec);
        QFETCH(int, rate);
        QFETCH(int, channels);

        QDir().mkpath(m_dir.filePath("out/sounds.wav"));
        QRadioButton* options[] = {m_wizard->optionsPage->Option1, m_wizard->optionsPage->Option2,
                                   m_wizard->optionsPage->Option3};
        options[format]->setChecked(true);
        m_wizard->optionsPage->Combo2->setCurrentIndex(rateIndex);
        m_wizard->optionsPage->Combo3->setCurrentIndex(5); // 128 kbit/s
        m_wizard->optionsPage->Combo4->setCurrentIndex(channelsIndex);
        m_wizard->editingPage->Combo1->setCurrentIndex(1); // just the section
        m_wizard->editingPage->AE->document()->setSelection(44100, 44100 + 66150); // 1.5 s
        m_wizard->optionsPage->Text1->setText("proposed name");
        m_messages.clear();

        wizardtest::FileDialogAnswer dialog;
        dialog.arm(m_dir.filePath("out/" + answer));
        QTest::mouseClick(m_wizard->optionsPage->Command7, Qt::LeftButton);
        QCOMPARE(dialog.title, QString("Save file"));
        QCOMPARE(dialog.filters.size(), 1);
        QVERIFY(dialog.prefilled.endsWith("proposed name"));

        const QString file = m_dir.filePath("out/" + expected);
        QCOMPARE(RingtoneFile, file);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QVERIFY(m_wizard->isEnabled());
        const testsupport::Probe got = testsupport::probe(file);
        QVERIFY2(got.ok, qPrintable(file));
        QCOMPARE(got.codec, codec);
        QCOMPARE(got.sampleRate, rate);
        QCOMPARE(got.channels, channels);
        // Decoded length (encoder padding removed), not the container's estimate.
        int decodedRate = 0;
        const double seconds =
            double(testsupport::decodeWithFfmpeg(file, &decodedRate).size()) / decodedRate;
        QVERIFY2(qAbs(seconds - 1.5) < 0.01, qPrintable(QString::number(seconds)));
        QCOMPARE(m_wizard->fPos, qint16(2)); // stays on the options page for another delivery
    }

    void cancellingTheSaveDialogRendersNothing() {
        RingtoneFile = "untouched";
        wizardtest::FileDialogAnswer dialog;
        dialog.arm(QString());
        QTest::mouseClick(m_wizard->optionsPage->Command7, Qt::LeftButton);
        QCOMPARE(RingtoneFile, QString("untouched"));
    }

    void closingDuringARenderIsRefused() {
        const QString settings = m_dir.filePath("app/settings.ini");
        const QByteArray before = wizardtest::readFile(settings);
        bool triedDuringRender = false;
        // Runs in the render's first event-loop pass, as a click on the close box would.
        QTimer::singleShot(0, m_wizard.get(), [&] {
            triedDuringRender = renderInProgress();
            m_wizard->close();
        });
        m_wizard->optionsPage->Option1->setChecked(true);
        QVERIFY(RenderRingtone(m_dir.filePath("out/during.wav")));
        QVERIFY(triedDuringRender);
        QVERIFY(m_wizard->isVisible());
        QCOMPARE(wizardtest::readFile(settings), before);
    }

    static Form5* openMailWindow() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<Form5*>(w); form && form->isVisible())
                return form;
        }
        return nullptr;
    }

    void emailRendersIntoTheAppFolderAndOpensTheWindow() {
        m_wizard->optionsPage->Option3->setChecked(true);
        m_wizard->optionsPage->Combo2->setCurrentIndex(2);
        m_wizard->optionsPage->Combo3->setCurrentIndex(10);
        m_wizard->editingPage->Combo1->setCurrentIndex(0);
        m_wizard->optionsPage->Text1->setText("ringtone");
        MailAddress = "fan@example.org";
        MailSubject = "My tone";
        MailMessage = "line one\nline two";
        m_messages.clear();
        // A link lying in wait where the attachment goes is replaced, not written through.
        const QString file = m_dir.filePath("app/ringtone.ogg");
        wizardtest::writeFile(m_dir.filePath("someone's"), "kept");
        QFile::remove(file);
        QVERIFY(QFile::link(m_dir.filePath("someone's"), file));
        QTest::mouseClick(m_wizard->optionsPage->Command8, Qt::LeftButton);

        QCOMPARE(wizardtest::readFile(m_dir.filePath("someone's")), QByteArray("kept"));
        QCOMPARE(RingtoneFile, file);
        QCOMPARE(testsupport::probe(file).codec, QString("vorbis"));
        Form5* form = openMailWindow();
        QVERIFY(form);
        QCOMPARE(form->parentWidget(), m_wizard.get());
        QVERIFY(!m_wizard->isEnabled());
        QVERIFY(form->isEnabled());
        QCOMPARE(form->txtAddress1->text(), MailAddress);
        QCOMPARE(form->txtMessage->toPlainText(), MailMessage);
        form->txtSubject->setText("edited");
        form->Command2->click();
        QTRY_VERIFY(!openMailWindow());
        QVERIFY(m_wizard->isEnabled());
        QCOMPARE(MailSubject, QString("edited"));
    }

    void emailOpensNothingForABadNameOrAFailedRender_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("refusedBeforeRender"); // else the render fails: nothing selected
        QTest::newRow("folder separator") << "../<b>escape</b>" << true;
        QTest::newRow("dot") << "." << true;
        QTest::newRow("dot dot") << ".." << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("too long for a file name") << QString(300, 'x') << true;
        QTest::newRow("too long with the extension") << QString(252, 'x') << true;
        QTest::newRow("failed render") << "ringtone" << false;
    }
    void emailOpensNothingForABadNameOrAFailedRender() {
        QFETCH(QString, name);
        QFETCH(bool, refusedBeforeRender);
        m_wizard->optionsPage->Option1->setChecked(true);
        m_wizard->optionsPage->Text1->setText(name);
        m_wizard->editingPage->Combo1->setCurrentIndex(refusedBeforeRender ? 0 : 1);
        m_wizard->editingPage->AE->document()->setSelection(0, 0);
        RingtoneFile = "untouched";
        m_messages.clear();
        wizardtest::MessageBoxAnswer box;
        if (refusedBeforeRender)
            box.arm();
        QTest::mouseClick(m_wizard->optionsPage->Command8, Qt::LeftButton);
        if (refusedBeforeRender) {
            QCOMPARE(RingtoneFile, QString("untouched"));
            QVERIFY(box.text.contains("cannot be used as a file name"));
            QVERIFY2(box.shown.contains('"' + name + '"'), qPrintable(box.shown));
        } else {
            QCOMPARE(m_messages.size(), 1); // the render's own message
        }
        QVERIFY(!openMailWindow());
        QVERIFY(m_wizard->isEnabled());
        m_wizard->editingPage->Combo1->setCurrentIndex(0);
    }

    void cleanupTestCase() {
        setRenderMessageHandlerForTesting({});
        if (m_wizard)
            m_wizard->Form_Unload();
    }
};

QTEST_MAIN(TestDelivery)
#include "test_delivery.moc"
