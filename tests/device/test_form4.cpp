// The device browser over a real folder: connecting on show, walking folders, the destination
// line, uploading, and giving the wizard back.

#include "device/DeviceAccess.h"
#include "device/FolderDevice.h"
#include "device/ui/Form4.h"
#include "device_support.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace chimora;

class TestForm4 : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_phone;
    QString m_local;
    QByteArray m_bytes;
    QStringList m_messages;
    std::unique_ptr<QWidget> m_wizard;

    Form4* open()
    {
        m_wizard->setEnabled(false);
        auto* form = new Form4(m_wizard.get(), {m_local, "bell", ".ogg"});
        form->show();
        return form;
    }
    QStringList items(Form4* form)
    {
        QStringList texts;
        for (int i = 0; i < form->LW1->count(); ++i)
            texts << form->LW1->item(i)->text();
        return texts;
    }
    QPoint at(Form4* form, const QString& text)
    {
        const QList<QListWidgetItem*> found = form->LW1->findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? QPoint() : form->LW1->visualItemRect(found.first()).center();
    }
    void click(Form4* form, const QString& text)
    {
        QTest::mouseClick(form->LW1->viewport(), Qt::LeftButton, {}, at(form, text));
    }
    void openFolder(Form4* form, const QString& text)
    {
        QTest::mouseClick(form->LW1->viewport(), Qt::LeftButton, {}, at(form, text));
        QTest::mouseDClick(form->LW1->viewport(), Qt::LeftButton, {}, at(form, text));
    }

private slots:
    void initTestCase()
    {
        m_phone = devicetest::makePhoneFolder(m_dir.path());
        m_local = m_dir.filePath("upload-temp.ogg");
        m_bytes = devicetest::randomBytes(6000, 4);
        QVERIFY(devicetest::writeFile(m_local, m_bytes));
        m_wizard = std::make_unique<QWidget>();
        m_wizard->show();
        Form4::setMessageHandlerForTesting(
            [this](QMessageBox::Icon, const QString& text) { m_messages << text; });
        setConnectTimeoutForTesting(300);
    }

    void walksFoldersAndUploadsIntoTheChosenOne()
    {
        setDeviceBackend(std::make_unique<FolderDeviceBackend>(
            DeviceFolder{m_phone, DeviceFolder::Kind::Named}));
        QPointer<Form4> form = open();
        QTRY_COMPARE(form->Label5->text(), QString("Status: Connected"));
        QCOMPARE(items(form), (QStringList{"Alarms", "Files", "Music"}));
        QCOMPARE(form->Label1->text(), QString("..."));
        QVERIFY(!form->Command1->isEnabled() && form->Command3->isEnabled());

        click(form, "Music");
        QCOMPARE(form->Label1->text(), QString("\\Music"));
        openFolder(form, "Music");
        QCOMPARE(items(form), (QStringList{"..", "Ringtones"}));
        QCOMPARE(form->Label1->text(), QString("\\Music"));
        click(form, "..");
        QCOMPARE(form->Label1->text(), QString("\\Music"));
        openFolder(form, "..");
        QCOMPARE(items(form), (QStringList{"Alarms", "Files", "Music"}));
        QCOMPARE(form->Label1->text(), QString("\\"));
        openFolder(form, "Music");
        openFolder(form, "Ringtones");
        QCOMPARE(items(form), QStringList{".."});
        QCOMPARE(form->CurrentFolder, QString("\\Music\\Ringtones"));

        m_messages.clear();
        QTest::mouseClick(form->Command4, Qt::LeftButton);
        QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
        QCOMPARE(devicetest::readFile(m_phone + "/Music/Ringtones/bell.ogg"), m_bytes);
        QCOMPARE(form->Label5->text(), QString("Status: Transfer Completed."));
        QCOMPARE(form->ProgressBar1->value(), 100);

        QTest::mouseClick(form->Command4, Qt::LeftButton);
        QCOMPARE(m_messages, QStringList{"A file already exists with the specified name."});
        QCOMPARE(devicetest::readFile(m_phone + "/Music/Ringtones/bell.ogg"), m_bytes);

        QTest::mouseClick(form->Command3, Qt::LeftButton);
        QCOMPARE(form->Label5->text(), QString("Status: Disconnected"));
        QVERIFY(form->Label1->text().isEmpty());
        QCOMPARE(form->LW1->count(), 0);
        QVERIFY(!form->Command4->isEnabled() && form->Command1->isEnabled());

        QTest::mouseClick(form->Command2, Qt::LeftButton);
        QTRY_VERIFY(form.isNull());
        QVERIFY(m_wizard->isEnabled());
    }

    void opensDisconnectedAndConnectsLater()
    {
        const QString card = m_dir.filePath("card");
        setDeviceBackend(std::make_unique<FolderDeviceBackend>(
            DeviceFolder{card, DeviceFolder::Kind::Removable}));
        QPointer<Form4> form = open();
        // The attempt has ended when the destination line loses its "...".
        QTRY_VERIFY(form->Label1->text().isEmpty());
        QCOMPARE(form->Label5->text(), QString("Status: Disconnected"));
        QVERIFY(form->Command1->isEnabled());
        QVERIFY(!form->Command4->isEnabled());

        // The card is put in: Connect finds it, and with no folder chosen the ringtone goes
        // into its root.
        QDir().mkpath(card);
        QTest::mouseClick(form->Command1, Qt::LeftButton);
        QCOMPARE(form->Label5->text(), QString("Status: Connected"));
        QTest::mouseClick(form->Command4, Qt::LeftButton);
        QCOMPARE(devicetest::readFile(card + "/bell.ogg"), m_bytes);

        // The card is pulled out: the upload says so, and nothing changes.
        QDir(card).removeRecursively();
        m_messages.clear();
        QTest::mouseClick(form->Command4, Qt::LeftButton);
        QCOMPARE(m_messages, QStringList{"Device is not connected. Please connect first."});
        QCOMPARE(form->Label5->text(), QString("Status: Transfer Completed."));

        // Closing through the frame does not disconnect but gives the wizard back.
        form->close();
        QTRY_VERIFY(form.isNull());
        QVERIFY(m_wizard->isEnabled());
    }

    void cleanupTestCase()
    {
        Form4::setMessageHandlerForTesting({});
        setDeviceBackend(nullptr);
        setConnectTimeoutForTesting(0);
    }
};

QTEST_MAIN(TestForm4)
#include "test_form4.moc"
