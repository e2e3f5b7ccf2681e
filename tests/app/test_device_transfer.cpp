// "ActiveSync transfer" through the real editor and renderer into a folder standing for the
// phone: the upload file, the device browser over the disabled wizard, and no browser after a
// failed render.

#include "TestSupport.h"
#include "app/Settings.h"
#include "app/ui/EditingPage.h"
#include "app/ui/Form1.h"
#include "app/ui/OptionsPage.h"
#include "app/ui/PictureButton.h"
#include "app/ui/Startup.h"
#include "device/DeviceAccess.h"
#include "device/ui/Form4.h"
#include "platform/core/AppFolder.h"
#include "platform/core/IniFile.h"
#include "platform/editor/ui/AudioEditor.h"
#include "render/RenderState.h"
#include "render/ui/RenderRingtone.h"
#include "wizard_support.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace chimora;

class TestDeviceTransfer : public QObject {
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
        QDir().mkpath(m_dir.filePath("phone/Ringtones"));
        QVERIFY(WriteIniValue("Device", "Folder", m_dir.filePath("phone"),
                              appFilePath("settings.ini")));
        setRenderMessageHandlerForTesting(
            [this](QMessageBox::Icon, const QString& text) { m_messages << text; });
        Form4::setMessageHandlerForTesting([this](QMessageBox& box) { m_messages << box.text(); });

        const QString song = m_dir.filePath("song.wav");
        QVERIFY(testsupport::makeTone(song, 1.0, 22050, 1));
        m_wizard->openAudioFile(song);
        m_wizard->editingPage->AE->document()->waitForLoad();
        QTRY_COMPARE(m_wizard->editingPage->AE->document()->frameCount(), int64_t(22050));
        m_wizard->fPos = 2;
        m_wizard->ShowFrame(2);
    }

    void uploadsTheRenderedRingtoneUnderItsName() {
        m_wizard->optionsPage->Option1->setChecked(true);
        m_wizard->optionsPage->Text1->setText("my bell");
        QTest::mouseClick(m_wizard->optionsPage->Command6, Qt::LeftButton);
        QCOMPARE(RingtoneFile, appFilePath("upload-temp.wav"));
        Form4* form = m_wizard->findChild<Form4*>();
        QVERIFY(form && form->isVisible());
        QVERIFY(!m_wizard->isEnabled());
        QTRY_COMPARE(form->Label5->text(), QString("Status: Connected"));

        const QListWidgetItem* ringtones =
            form->LW1->findItems("Ringtones", Qt::MatchExactly).value(0);
        QVERIFY(ringtones);
        QTest::mouseClick(form->LW1->viewport(), Qt::LeftButton, {},
                          form->LW1->visualItemRect(ringtones).center());
        QTest::mouseClick(form->Command4, Qt::LeftButton);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        const QByteArray uploaded =
            wizardtest::readFile(m_dir.filePath("phone/Ringtones/my bell.wav"));
        QVERIFY(!uploaded.isEmpty());
        QCOMPARE(uploaded, wizardtest::readFile(RingtoneFile));

        QTest::mouseClick(form->Command2, Qt::LeftButton);
        QTRY_VERIFY(!m_wizard->findChild<Form4*>());
        QVERIFY(m_wizard->isEnabled());
        // The wizard's own settings are written around the device folder's key.
        QVERIFY(SaveSettings());
        QCOMPARE(ReadIniValue("Device", "Folder", appFilePath("settings.ini")),
                 m_dir.filePath("phone"));
    }

    void aFailedRenderOpensNoBrowser() {
        // A folder in the way of the upload file makes the render fail.
        QVERIFY(QDir().mkpath(appFilePath("upload-temp.ogg") + "/in-the-way"));
        m_wizard->optionsPage->Option3->setChecked(true);
        m_messages.clear();
        QTest::mouseClick(m_wizard->optionsPage->Command6, Qt::LeftButton);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(!m_wizard->findChild<Form4*>());
        QVERIFY(m_wizard->isEnabled());
    }

    void cleanupTestCase() {
        setRenderMessageHandlerForTesting({});
        Form4::setMessageHandlerForTesting({});
        setDeviceBackend(nullptr);
    }
};

QTEST_MAIN(TestDeviceTransfer)
#include "test_device_transfer.moc"
