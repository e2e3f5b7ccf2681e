// The device operations against real folders: listing, confinement of device paths, uploads,
// and finding the device folder (settings key, a desktop MTP mount, nothing at all).

#include "device/DeviceAccess.h"
#include "device/FolderDevice.h"
#include "device_support.h"
#include "platform/core/AppFolder.h"
#include "platform/core/IniFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <utility>

using namespace chimora;
using devicetest::readFile;
using devicetest::writeFile;

class TestDeviceFolder : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_phone;
    QStringList m_statuses;
    QList<double> m_progress;

    CopyProgress recorder() {
        m_statuses.clear();
        m_progress.clear();
        return {[this](double p) { m_progress << p; },
                [this](const QString& s) { m_statuses << s; }};
    }

    void connectToFolder(const QString& folder,
                         DeviceFolder::Kind kind = DeviceFolder::Kind::Named) {
        setDeviceBackend(std::make_unique<FolderDeviceBackend>(DeviceFolder{folder, kind}));
        QVERIFY(ConnectDevice());
    }

private slots:
    void initTestCase() {
        m_phone = devicetest::makePhoneFolder(m_dir.path());
        QDir().mkpath(m_dir.filePath("app"));
        setAppFolderForTesting(m_dir.filePath("app"));
        // Nothing of this machine's own mounts may be found.
        qputenv("XDG_RUNTIME_DIR", m_dir.filePath("run").toUtf8());
        qputenv("USER", "chimora-test-nobody");
        setConnectTimeoutForTesting(300);
    }

    void listsSubFoldersOnly_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QStringList>("folders");
        QTest::newRow("root") << "\\*.*" << QStringList{"Alarms", "Files", "Music"};
        QTest::newRow("nested, without . and ..") << "\\Music\\*.*" << QStringList{"Ringtones"};
        QTest::newRow("empty folder") << "\\Music\\Ringtones\\*.*" << QStringList{};
        QTest::newRow("files only") << "\\Files\\*.*" << QStringList{};
        QTest::newRow("parent step") << "\\Music\\..\\*.*" << QStringList{};
        QTest::newRow("not absolute") << "Music\\*.*" << QStringList{};
        QTest::newRow("link to outside") << "\\escape\\*.*" << QStringList{};
        QTest::newRow("missing folder") << "\\Nope\\*.*" << QStringList{};
    }
    void listsSubFoldersOnly() {
        QFETCH(QString, pattern);
        QFETCH(QStringList, folders);
        connectToFolder(m_phone);
        QStringList names{"stale"};
        GetDeviceFolders(pattern, names);
        QCOMPARE(names, folders);
    }

    void refusesPathsLeadingOutOrTaken_data() {
        QTest::addColumn<QString>("devicePath");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("mustNotExist"); // relative to the temporary folder
        const QString invalid = "A parameter was invalid.";
        QTest::newRow("parent of the root") << "\\..\\x.wav" << invalid << "x.wav";
        QTest::newRow("through a link") << "\\escape\\x.wav" << invalid << "outside/x.wav";
        QTest::newRow("not absolute") << "...\\x.wav" << invalid << "phone/.../x.wav";
        QTest::newRow("missing folder") << "\\Nope\\x.wav" << invalid << "phone/Nope";
        QTest::newRow("dangling link") << "\\Music\\link.wav"
                                       << "A file already exists with the specified name."
                                       << "outside/target.wav";
    }
    void refusesPathsLeadingOutOrTaken() {
        QFETCH(QString, devicePath);
        QFETCH(QString, message);
        QFETCH(QString, mustNotExist);
        connectToFolder(m_phone);
        const QString local = m_dir.filePath("local.wav");
        QVERIFY(writeFile(local, "RIFF...."));
        const Result<void> copied = CopyFileToDevice(local, devicePath, recorder());
        QVERIFY(!copied);
        QCOMPARE(copied.error().message, message);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(mustNotExist)));
        QVERIFY(m_statuses.isEmpty());
    }

    void uploadsByteForByteAndNeverOverwrites_data() {
        QTest::addColumn<int>("kind");
        QTest::newRow("folder") << int(DeviceFolder::Kind::Named);
        QTest::newRow("written whole at close") << int(DeviceFolder::Kind::MtpMount);
    }
    void uploadsByteForByteAndNeverOverwrites() {
        QFETCH(int, kind);
        connectToFolder(m_phone, DeviceFolder::Kind(kind));
        const QString name = QStringLiteral("\\Music\\Ringtones\\tone%1.mp3").arg(kind);
        const QString onPhone = m_phone + QStringLiteral("/Music/Ringtones/tone%1.mp3").arg(kind);
        const QByteArray first = devicetest::randomBytes(5000, 1);
        QVERIFY(writeFile(m_dir.filePath("first.mp3"), first));
        QVERIFY(CopyFileToDevice(m_dir.filePath("first.mp3"), name, recorder()).ok());
        QCOMPARE(readFile(onPhone), first);
        QCOMPARE(m_progress.last(), 100.0);
        QCOMPARE(m_statuses, QStringList{"Status: Transfer Completed."});

        QVERIFY(writeFile(m_dir.filePath("second.mp3"), devicetest::randomBytes(3000, 2)));
        const Result<void> again = CopyFileToDevice(m_dir.filePath("second.mp3"), name, recorder());
        QVERIFY(!again);
        QCOMPARE(again.error().message, QString("A file already exists with the specified name."));
        QCOMPARE(readFile(onPhone), first);
        QVERIFY(m_statuses.isEmpty());
    }

    void uploadsAnEmptyFile() {
        connectToFolder(m_phone);
        QVERIFY(writeFile(m_dir.filePath("empty.wav"), {}));
        QVERIFY(
            CopyFileToDevice(m_dir.filePath("empty.wav"), "\\Alarms\\empty.wav", recorder()).ok());
        const QFileInfo onPhone(m_phone + "/Alarms/empty.wav");
        QVERIFY(onPhone.exists());
        QCOMPARE(onPhone.size(), 0);
        QVERIFY(m_progress.isEmpty());
        QCOMPARE(m_statuses, QStringList{"Status: Transfer Completed."});
    }

    void anUnreadableRingtoneIsNamedAndNothingCreated() {
        connectToFolder(m_phone);
        const QString missing = m_dir.filePath("never-rendered.wav");
        const Result<void> copied = CopyFileToDevice(missing, "\\Alarms\\gone.wav", recorder());
        QVERIFY(!copied);
        QVERIFY(copied.error().message.contains(missing));
        QVERIFY(!QFileInfo::exists(m_phone + "/Alarms/gone.wav"));
    }

    // A failed copy removes the file it made, and never one that has taken its name since.
    void aFailedCopyRemovesOnlyWhatItMade_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("intruder"); // another program takes the name after the first piece
        QTest::addColumn<QString>("message");
        QTest::newRow("disk full") << int(DeviceFolder::Kind::Named) << false << "Disk if Full.";
        QTest::newRow("disk full, our file replaced")
            << int(DeviceFolder::Kind::Named) << true << "Disk if Full.";
        QTest::newRow("written whole, the name taken meanwhile")
            << int(DeviceFolder::Kind::MtpMount) << true
            << "A file already exists with the specified name.";
    }
    void aFailedCopyRemovesOnlyWhatItMade() {
        QFETCH(int, kind);
        QFETCH(bool, intruder);
        QFETCH(QString, message);
        connectToFolder(m_phone, DeviceFolder::Kind(kind));
        const QString onPhone = m_phone + "/Alarms/full.wav";
        QFile::remove(onPhone);
        QVERIFY(writeFile(m_dir.filePath("full.wav"), devicetest::randomBytes(5000, 6)));
        CopyProgress progress = recorder();
        progress.setProgress = [&](double) {
            if (!std::exchange(intruder, false))
                return;
            QFile::rename(onPhone, m_phone + "/Alarms/moved.wav");
            writeFile(onPhone, "theirs");
        };
        const bool theirs = intruder;

        // A file may not grow past 3000 bytes: the second piece fills the "disk".
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 3000;
        setrlimit(RLIMIT_FSIZE, &small);
        const Result<void> copied =
            CopyFileToDevice(m_dir.filePath("full.wav"), "\\Alarms\\full.wav", progress);
        setrlimit(RLIMIT_FSIZE, &saved);

        QVERIFY(!copied);
        QCOMPARE(copied.error().message, message);
        QCOMPARE(QFileInfo::exists(onPhone), theirs);
        QCOMPARE(readFile(onPhone), theirs ? QByteArray("theirs") : QByteArray());
        QFile::remove(onPhone);
        QFile::remove(m_phone + "/Alarms/moved.wav");
    }

    // A folder swapped for a link to elsewhere, over and over while the device works in it:
    // whatever the timing, nothing is written or listed outside the phone's folder.
    void aLinkSwappedInMidwayLeadsNowhere() {
        const QString phone = m_dir.filePath("swapped/phone");
        const QString outside = m_dir.filePath("swapped/outside");
        QVERIFY(QDir().mkpath(phone + "/Music/Ringtones/Mine"));
        QVERIFY(QDir().mkpath(outside + "/Ringtones/Secret"));
        QVERIFY(QFile::link(outside, phone + "/Elsewhere"));
        QVERIFY(writeFile(m_dir.filePath("swapped/tone.wav"), "RIFF...."));
        const QByteArray music = QFile::encodeName(phone + "/Music");
        const QByteArray elsewhere = QFile::encodeName(phone + "/Elsewhere");
        if (::renameat2(AT_FDCWD, music, AT_FDCWD, elsewhere, RENAME_EXCHANGE) != 0)
            QSKIP("this file system cannot exchange two names");
        ::renameat2(AT_FDCWD, music, AT_FDCWD, elsewhere, RENAME_EXCHANGE);

        connectToFolder(phone);
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
            while (!stop)
                ::renameat2(AT_FDCWD, music, AT_FDCWD, elsewhere, RENAME_EXCHANGE);
        });
        QSet<QString> listed;
        // Enough rounds that a gap between checking a path and opening it would be hit.
        for (int i = 0; i < 3000; ++i) {
            (void)CopyFileToDevice(m_dir.filePath("swapped/tone.wav"),
                                   QStringLiteral("\\Music\\Ringtones\\t%1.wav").arg(i), {});
            QStringList names;
            GetDeviceFolders("\\Music\\Ringtones\\*.*", names);
            for (const QString& name : names)
                listed.insert(name);
        }
        stop = true;
        swapper.join();

        QCOMPARE(QDir(outside + "/Ringtones").entryList(QDir::Files), QStringList{});
        QVERIFY(!listed.contains("Secret"));
    }

    void findsTheFolderNamedInTheSettings() {
        const QString settings = appFilePath("settings.ini");
        QVERIFY(writeFile(settings, "[Main]\n5=bell\n[Device]\nFolder=" + m_phone.toUtf8() + "\n"));
        setDeviceBackend(std::make_unique<FolderDeviceBackend>());
        QVERIFY(ConnectDevice());
        QVERIFY(GetDeviceVersion().contains(m_phone));
        DisconnectDevice();
        QVERIFY(!IsDeviceConnected());
        QFile::remove(settings);
    }

    void findsADesktopMtpMountAppearingWhileItWaits() {
        setConnectTimeoutForTesting(0); // the full wait: the mount appears long before its end
        const QString storage =
            m_dir.filePath("run/gvfs/mtp:host=Phone_1234/Internal shared storage");
        setDeviceBackend(std::make_unique<FolderDeviceBackend>());
        ConnectAttempt attempt;
        QSignalSpy finished(&attempt, &ConnectAttempt::finished);
        attempt.start();
        QTimer::singleShot(50, this, [&] { QDir().mkpath(storage + "/Ringtones"); });
        QVERIFY(finished.wait(ConnectTimeoutMs));
        QCOMPARE(finished.first().first().toBool(), true);
        setConnectTimeoutForTesting(300);
        QVERIFY(GetDeviceVersion().contains("mtp:host=Phone_1234"));
        QStringList names;
        GetDeviceFolders("\\*.*", names);
        QCOMPARE(names, QStringList{"Internal shared storage"});

        const QByteArray bytes = devicetest::randomBytes(4097, 3);
        QVERIFY(writeFile(m_dir.filePath("mtp.ogg"), bytes));
        QVERIFY(CopyFileToDevice(m_dir.filePath("mtp.ogg"),
                                 "\\Internal shared storage\\Ringtones\\bell.ogg", recorder())
                    .ok());
        QCOMPARE(readFile(storage + "/Ringtones/bell.ogg"), bytes);
        QDir(m_dir.filePath("run")).removeRecursively();
        QVERIFY(!IsDeviceConnected());
    }

    void connectsToNothingWhenNothingIsThere() {
        setDeviceBackend(std::make_unique<FolderDeviceBackend>());
        QVERIFY(!ConnectDevice());
        QVERIFY(!IsDeviceConnected());
        QStringList names;
        GetDeviceFolders("\\*.*", names);
        QVERIFY(names.isEmpty());
    }

    void cleanupTestCase() {
        setDeviceBackend(nullptr);
        setConnectTimeoutForTesting(0);
    }
};

QTEST_MAIN(TestDeviceFolder)
#include "test_device_folder.moc"
