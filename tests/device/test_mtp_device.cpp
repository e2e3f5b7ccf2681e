// The MTP backend against the real library on a machine with no phone attached.

#include "device/DeviceAccess.h"
#include "device/MtpDevice.h"
#include "device/SystemDeviceBackend.h"
#include "platform/core/AppFolder.h"

#include <QTemporaryDir>
#include <QTest>

using namespace chimora;

class TestMtpDevice : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        setAppFolderForTesting(m_dir.path());
        qputenv("XDG_RUNTIME_DIR", m_dir.filePath("run").toUtf8());
        qputenv("USER", "chimora-test-nobody");
        setConnectTimeoutForTesting(300);
    }

    void noPhoneMeansNoConnection_data()
    {
        QTest::addColumn<bool>("system"); // the program's backend, folder search first
        QTest::newRow("libmtp") << false;
        QTest::newRow("folder, then libmtp") << true;
    }
    void noPhoneMeansNoConnection()
    {
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

    void cleanupTestCase() { setDeviceBackend(nullptr); }
};

QTEST_MAIN(TestMtpDevice)
#include "test_mtp_device.moc"
