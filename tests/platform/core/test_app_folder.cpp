// Where the program keeps its settings and temporary files: an installed program always in the
// per-user data folder, a copied one in its own folder, and the data folder's XDG rules; and
// which helper programs of that folder may be run.

#include "platform/core/AppFolder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace chimora;

class TestAppFolder : public QObject {
    Q_OBJECT
private slots:
    void folderFor_data() {
        QTest::addColumn<QString>("exeFolder");    // under the temporary folder
        QTest::addColumn<QString>("desktopEntry"); // created under the temporary folder, or none
        QTest::addColumn<QString>("xdgDataHome");  // "@" stands for the temporary folder
        QTest::addColumn<QString>("expected");     // "@" as above, "~" for HOME
        QTest::addRow("installed prefix") << "usr/bin"
                                          << "usr/share/applications/chimora.desktop"
                                          << ""
                                          << "~/.local/share/chimora";
        QTest::addRow("installed prefix, XDG_DATA_HOME set")
            << "usr/bin"
            << "usr/share/applications/chimora.desktop"
            << "@/data"
            << "@/data/chimora";
        QTest::addRow("installed prefix, relative XDG_DATA_HOME")
            << "usr/bin"
            << "usr/share/applications/chimora.desktop"
            << "data"
            << "~/.local/share/chimora";
        QTest::addRow("bin without the desktop entry") << "usr/bin"
                                                       << ""
                                                       << "@/data"
                                                       << "@/usr/bin";
        QTest::addRow("other program's desktop entry") << "usr/bin"
                                                       << "usr/share/applications/other.desktop"
                                                       << ""
                                                       << "@/usr/bin";
        QTest::addRow("own folder beside a share folder")
            << "tools/chimora"
            << "tools/share/applications/chimora.desktop"
            << ""
            << "@/tools/chimora";
    }
    void folderFor() {
        QFETCH(QString, exeFolder);
        QFETCH(QString, desktopEntry);
        QFETCH(QString, xdgDataHome);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString home = dir.filePath("home");
        QVERIFY(QDir().mkpath(dir.filePath(exeFolder)));
        if (!desktopEntry.isEmpty()) {
            QVERIFY(QDir().mkpath(QFileInfo(dir.filePath(desktopEntry)).path()));
            QFile entry(dir.filePath(desktopEntry));
            QVERIFY(entry.open(QIODevice::WriteOnly));
        }
        const QByteArray oldHome = qgetenv("HOME"), oldXdg = qgetenv("XDG_DATA_HOME");
        qputenv("HOME", home.toLocal8Bit());
        qputenv("XDG_DATA_HOME", xdgDataHome.replace('@', dir.path()).toLocal8Bit());
        const QString folder = appFolderFor(dir.filePath(exeFolder));
        qputenv("HOME", oldHome);
        qputenv("XDG_DATA_HOME", oldXdg);
        QCOMPARE(folder, expected.replace('@', dir.path()).replace('~', home));
    }

    void helpersComeOnlyFromFoldersNobodyElseWrites_data() {
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<QString>("owner"); // "", "file" or "folder": given to another user
        QTest::addColumn<bool>("viaLink");  // the helper is a link into a folder all may write
        QTest::addColumn<bool>("fromApp");  // the application folder's copy is the one run
        QTest::addRow("own folder and file") << 0755 << 0755 << "" << false << true;
        QTest::addRow("folder writable by the group") << 0775 << 0755 << "" << false << false;
        QTest::addRow("folder writable by all") << 0777 << 0755 << "" << false << false;
        QTest::addRow("file writable by others") << 0755 << 0757 << "" << false << false;
        QTest::addRow("file of another user") << 0755 << 0755 << "file" << false << false;
        QTest::addRow("folder of another user") << 0755 << 0755 << "folder" << false << false;
        QTest::addRow("link into an open folder") << 0755 << 0755 << "" << true << false;
    }
    void helpersComeOnlyFromFoldersNobodyElseWrites() {
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        QFETCH(QString, owner);
        QFETCH(bool, viaLink);
        QFETCH(bool, fromApp);
        if (!owner.isEmpty() && ::geteuid() != 0)
            QSKIP("only root can give files to another user");
        const QString name = QStringLiteral("chimora-test-helper");
        QTemporaryDir dir;
        const auto makeHelper = [&](const QString& folder, int mode) {
            QVERIFY(QDir().mkpath(folder));
            QFile f(folder + '/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\n");
            f.close();
            QVERIFY(::chmod(QFile::encodeName(f.fileName()).constData(), mode_t(mode)) == 0);
        };
        const QString app = dir.filePath("app"), path = dir.filePath("path");
        makeHelper(path, 0755);
        if (viaLink) {
            makeHelper(dir.filePath("open"), fileMode);
            QVERIFY(::chmod(QFile::encodeName(dir.filePath("open")).constData(), 0777) == 0);
            QVERIFY(QDir().mkpath(app));
            QVERIFY(QFile::link(dir.filePath("open/") + name, app + '/' + name));
        } else {
            makeHelper(app, fileMode);
        }
        QVERIFY(::chmod(QFile::encodeName(app).constData(), mode_t(folderMode)) == 0);
        const QString given = owner == "file" ? app + '/' + name : owner == "folder" ? app : "";
        if (!given.isEmpty())
            QVERIFY(::chown(QFile::encodeName(given).constData(), 65534, 65534) == 0);

        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(path));
        setAppFolderForTesting(app);
        if (!fromApp) // the log says why the copy was passed over
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Not running .*" + name));
        const QString found = findProgram(name);
        setAppFolderForTesting({});
        qputenv("PATH", oldPath);
        QCOMPARE(found, (fromApp ? app : path) + '/' + name);
    }
};

QTEST_GUILESS_MAIN(TestAppFolder)
#include "test_app_folder.moc"
