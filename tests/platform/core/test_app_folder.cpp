// Where the program keeps its settings and temporary files: an installed program always in the
// per-user data folder, a copied one in its own folder, and the data folder's XDG rules.

#include "platform/core/AppFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TestAppFolder)
#include "test_app_folder.moc"
