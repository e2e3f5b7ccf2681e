// The device browser over a real folder: connecting on show, walking folders, the destination
// line, uploading, and giving the wizard back; outside names shown as they are; a phone that
// hangs while it is looked for.

#include "device/DeviceAccess.h"
#include "device/FolderDevice.h"
#include "device/MtpDevice.h"
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

#include <atomic>
#include <future>

using namespace chimora;

class TestForm4 : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_phone;
    QString m_local;
    QByteArray m_bytes;
    QStringList m_messages;
    QList<Qt::TextFormat> m_formats;
    std::unique_ptr<QWidget> m_wizard;

    // Shows `label` its text as it stands, markup and all.
    static bool showsLiterally(const QLabel* label) {
        return label->textFormat() == Qt::PlainText ||
               (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text()));
    }

    Form4* open() {
        m_wizard->setEnabled(false);
        auto* form = new Form4(m_wizard.get(), {m_local, "bell", ".ogg"});
        form->show();
        return form;
    }
    QStringList items(Form4* form) {
        QStringList texts;
        for (int i = 0; i < form->LW1->count(); ++i)
            texts << form->LW1->item(i)->text();
        return texts;
    }
    QPoint at(Form4* form, const QString& text) {
        const QList<QListWidgetItem*> found = form->LW1->findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? QPoint() : form->LW1->visualItemRect(found.first()).center();
    }
    void click(Form4* form, const QString& text) {
        QTest::mouseClick(form->LW1->viewport(), Qt::LeftButton, {}, at(form, text));
    }
    void openFolder(Form4* form, const QString& text) {
        QTest::mouseClick(form->LW1->viewport(), Qt::LeftButton, {}, at(form, text));
        QTest::mouseDClick(form->LW1->viewport(), Qt::LeftButton, {}, at(form, text));
    }

private slots:
    void initTestCase() {
        m_phone = devicetest::makePhoneFolder(m_dir.path());
        m_local = m_dir.filePath("upload-temp.ogg");
        m_bytes = devicetest::randomBytes(6000, 4);
        QVERIFY(devicetest::writeFile(m_local, m_bytes));
        m_wizard = std::make_unique<QWidget>();
        m_wizard->show();
        Form4::setMessageHandlerForTesting([this](QMessageBox& box) {
            m_messages << box.text();
            m_formats << box.textFormat();
        });
        setConnectTimeoutForTesting(300);
    }

    void walksFoldersAndUploadsIntoTheChosenOne() {
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

    void opensDisconnectedAndConnectsLater() {
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
        QVERIFY(form->NoDeviceHint->isVisible());
        QVERIFY(form->NoDeviceHint->text().contains("File transfer"));
        QVERIFY(form->NoDeviceHint->text().contains("[Device]"));
        QDir().mkpath(card);
        QTest::mouseClick(form->Command1, Qt::LeftButton);
        QTRY_COMPARE(form->Label5->text(), QString("Status: Connected"));
        QVERIFY(!form->NoDeviceHint->isVisible());
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

    void showsOutsideNamesAsTheyAre() {
        const QString phone = m_dir.filePath("marked");
        QVERIFY(QDir().mkpath(phone + "/<b>x"));
        setDeviceBackend(
            std::make_unique<FolderDeviceBackend>(DeviceFolder{phone, DeviceFolder::Kind::Named}));
        m_wizard->setEnabled(false);
        QPointer<Form4> form =
            new Form4(m_wizard.get(), {m_dir.filePath("<i>gone</i>.ogg"), "bell", ".ogg"});
        form->show();
        QTRY_COMPARE(form->Label5->text(), QString("Status: Connected"));
        click(form, "<b>x");
        QCOMPARE(form->Label1->text(), QString("\\<b>x"));
        m_messages.clear();
        m_formats.clear();
        QTest::mouseClick(form->Command4, Qt::LeftButton);
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().contains("<i>gone</i>.ogg"));
        QCOMPARE(m_formats, QList<Qt::TextFormat>{Qt::PlainText});
        for (const QLabel* label : form->findChildren<QLabel*>())
            QVERIFY2(showsLiterally(label), qPrintable(label->objectName()));
        form->close();
        QTRY_VERIFY(form.isNull());
    }

    // libmtp's detection stuck in USB: the window goes on working, closes, and the phone that
    // turns up after all is released, not kept.
    void aPhoneThatHangsLeavesTheWindowFree() {
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        auto entered = std::make_shared<std::atomic<bool>>(false);
        auto phone = std::make_shared<devicetest::FakePhone>();
        auto links = std::make_shared<std::atomic<int>>(0);
        setConnectTimeoutForTesting(0);
        setDeviceBackend(std::make_unique<MtpDeviceBackend>([=] {
            *entered = true;
            released.wait();
            return std::make_unique<devicetest::FakeMtpLink>(phone, links);
        }));
        QPointer<Form4> form = open();
        QTRY_VERIFY(entered->load());
        QCOMPARE(form->Label5->text(), QString("Status: Connecting..."));
        QVERIFY(form->Command2->isEnabled());
        QTest::mouseClick(form->Command2, Qt::LeftButton);
        QTRY_VERIFY(form.isNull());
        QVERIFY(m_wizard->isEnabled());

        release.set_value();
        QTRY_COMPARE(links->load(), 1);
        QVERIFY(!IsDeviceConnected());
        setConnectTimeoutForTesting(300);
    }

    void cleanupTestCase() {
        Form4::setMessageHandlerForTesting({});
        setDeviceBackend(nullptr);
        setConnectTimeoutForTesting(0);
    }
};

QTEST_MAIN(TestForm4)
#include "test_form4.moc"
