// The MTP backend against the real library on a machine with no phone attached, and against a
// phone in memory for what a failed send leaves behind.

#include "device/DeviceAccess.h"
#include "device/MtpDevice.h"
#include "device/SystemDeviceBackend.h"
#include "device_support.h"
#include "platform/core/AppFolder.h"

#include <QTemporaryDir>
#include <QTest>

using namespace chimora;
using Files = QMap<QString, QByteArray>;

class TestMtpDevice : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        setAppFolderForTesting(m_dir.path());
        qputenv("XDG_RUNTIME_DIR", m_dir.filePath("run").toUtf8());
        qputenv("USER", "chimora-test-nobody");
        setConnectTimeoutForTesting(300);
    }

    void noPhoneMeansNoConnection_data() {
        QTest::addColumn<bool>("system"); // the program's backend, folder search first
        QTest::newRow("libmtp") << false;
        QTest::newRow("folder, then libmtp") << true;
    }
    void noPhoneMeansNoConnection() {
        QFETCH(bool, system);
        if (system)
            setDeviceBackend(std::make_unique<SystemDeviceBackend>());
        else
            setDeviceBackend(std::make_unique<MtpDeviceBackend>());
        RapiInit init;
        QVERIFY(deviceBackend().CeRapiInitEx(&init) >= 0);
        QVERIFY(!deviceBackend().CeRapiInitSignalled(&init));
        QVERIFY(!ConnectDevice());
        QVERIFY(!IsDeviceConnected());
        QStringList names;
        GetDeviceFolders("\\*.*", names);
        QVERIFY(names.isEmpty());
        const QString local = m_dir.filePath("tone.wav");
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("RIFF") == 4);
        f.close();
        const Result<void> copied = CopyFileToDevice(local, "\\Music\\tone.wav", {});
        QVERIFY(!copied);
        QCOMPARE(copied.error().message, QString("An unknown error occurred."));
    }

    void aFailedSendRemovesOnlyTheObjectItMade_data() {
        using devicetest::FakePhone;
        QTest::addColumn<int>("failure");
        QTest::addColumn<bool>("intruder"); // another program puts "bell.ogg" there as we send
        QTest::addColumn<quint64>("freeBytes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<Files>("left"); // the files in Ringtones afterwards
        QTest::addColumn<int>("removed");

        const QByteArray ours = devicetest::randomBytes(3000, 5);
        const Files theirs{{"bell.ogg", "theirs"}};
        const QString unknown = "An unknown error occurred.";
        QTest::newRow("sent whole") << int(FakePhone::SendFailure::None) << false
                                    << quint64(1 << 20) << "" << Files{{"bell.ogg", ours}} << 0;
        QTest::newRow("fails after the phone made the object")
            << int(FakePhone::SendFailure::AfterCreating) << false << quint64(1 << 20) << unknown
            << Files{} << 1;
        QTest::newRow("refused while another took the name")
            << int(FakePhone::SendFailure::BeforeCreating) << true << quint64(1 << 20) << unknown
            << theirs << 0;
        QTest::newRow("fails part way while another took the name")
            << int(FakePhone::SendFailure::AfterCreating) << true << quint64(1 << 20) << unknown
            << theirs << 1;
        QTest::newRow("no room") << int(FakePhone::SendFailure::None) << false << quint64(100)
                                 << "Disk if Full." << Files{} << 0;
    }
    void aFailedSendRemovesOnlyTheObjectItMade() {
        using devicetest::FakePhone;
        QFETCH(int, failure);
        QFETCH(bool, intruder);
        QFETCH(quint64, freeBytes);
        QFETCH(QString, message);
        QFETCH(Files, left);
        QFETCH(int, removed);

        auto phone = std::make_shared<FakePhone>();
        phone->storages.first().freeBytes = freeBytes;
        const uint32_t ringtones = phone->add(MtpLink::Top, "Ringtones", true);
        const uint32_t alarms = phone->add(MtpLink::Top, "Alarms", true);
        phone->add(alarms, "bell.ogg", false, "an alarm of the same name");
        phone->sendFailure = FakePhone::SendFailure(failure);
        if (intruder)
            phone->beforeSend = [phone, ringtones] {
                phone->add(ringtones, "bell.ogg", false, "theirs");
            };
        setDeviceBackend(std::make_unique<MtpDeviceBackend>(
            [phone] { return std::make_unique<devicetest::FakeMtpLink>(phone, nullptr); }));
        QVERIFY(ConnectDevice());

        const QString local = m_dir.filePath("bell.ogg");
        QVERIFY(devicetest::writeFile(local, devicetest::randomBytes(3000, 5)));
        const Result<void> copied =
            CopyFileToDevice(local, "\\Internal shared storage\\Ringtones\\bell.ogg", {});
        QCOMPARE(copied ? QString() : copied.error().message, message);
        QCOMPARE(phone->filesIn(ringtones), left);
        QCOMPARE(phone->removed.size(), removed);
        QCOMPARE(phone->filesIn(alarms).value("bell.ogg"), QByteArray("an alarm of the same name"));
        phone->beforeSend = nullptr; // it holds the phone
    }

    void cleanupTestCase() { setDeviceBackend(nullptr); }
};

QTEST_MAIN(TestMtpDevice)
#include "test_mtp_device.moc"
