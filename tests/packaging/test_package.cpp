// The Debian package, built from this build tree as scripts/package builds it: its files pass
// the desktop-entry and AppStream validators, it depends on every package the program's
// libraries come from, and its program, unpacked into a temporary root, opens a file given on
// the command line and keeps its settings in the per-user data folder, as root and as an
// unprivileged user.

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <pwd.h>
#include <unistd.h>

namespace {

// Every step takes its time from one budget that ends before CTest's limit for this test
// (tests/CMakeLists.txt), so even the slowest run ends with a message naming the step.
constexpr int kBudgetMs = 540000;
QDeadlineTimer budget(kBudgetMs);

int run(const QString& program, const QStringList& args, QString* output = nullptr) {
    return testsupport::run(program, args, output,
                            int(std::max<qint64>(1, budget.remainingTime())));
}

QStringList fileList(const QString& root) {
    QStringList files;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

bool giveTo(const QString& path, const passwd* user) {
    return ::chown(QFile::encodeName(path).constData(), user->pw_uid, user->pw_gid) == 0;
}

bool makeFolder(const QString& path, QFile::Permissions permissions) {
    return QDir().mkpath(path) && QFile::setPermissions(path, permissions);
}

constexpr QFile::Permissions kOpen = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                     QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                     QFile::ExeOther;
constexpr QFile::Permissions kPrivate = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

} // namespace

class TestPackage : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_deb;
    QString m_root;
    QStringList m_rootFiles;
    QString m_tone;

    QString rootPath(const QString& relative) const { return m_root + '/' + relative; }

private slots:
    void initTestCase() {
        const QString build = QCoreApplication::applicationDirPath() + "/..";
        if (!QFile::exists(build + "/CPackConfig.cmake"))
            QSKIP("no package configuration in this build tree");
        QVERIFY(QFile::setPermissions(m_dir.path(), kOpen));
        QString out;
        QVERIFY2(run("cpack",
                     {"--config", build + "/CPackConfig.cmake", "-B", m_dir.filePath("out")},
                     &out) == 0,
                 qPrintable(out));
        const QStringList debs = QDir(m_dir.filePath("out")).entryList({"chimora_*.deb"});
        QCOMPARE(debs.size(), 1);
        m_deb = m_dir.filePath("out/" + debs.first());
        m_root = m_dir.filePath("root");
        QVERIFY2(run("dpkg-deb", {"-x", m_deb, m_root}, &out) == 0, qPrintable(out));
        QVERIFY(QFile::setPermissions(m_root, kOpen));
        m_rootFiles = fileList(m_root);
        m_tone = m_dir.filePath("tone.wav");
        QVERIFY(testsupport::makeTone(m_tone, 1.0, 8000, 1));
    }

    void installedFiles_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("check"); // a validator's command line, or an icon size
        QTest::addRow("desktop entry")
            << "usr/share/applications/chimora.desktop" << QStringList{"desktop-file-validate"};
        QTest::addRow("AppStream data") << "usr/share/metainfo/org.example.chimora.metainfo.xml"
                                        << QStringList{"appstreamcli", "validate", "--no-net"};
        QTest::addRow("scalable icon")
            << "usr/share/icons/hicolor/scalable/apps/chimora.svg" << QStringList{"64"};
        QTest::addRow("48 px icon")
            << "usr/share/icons/hicolor/48x48/apps/chimora.png" << QStringList{"48"};
        QTest::addRow("256 px icon")
            << "usr/share/icons/hicolor/256x256/apps/chimora.png" << QStringList{"256"};
        QTest::addRow("man page") << "usr/share/man/man1/chimora.1.gz" << QStringList{"gzip", "-t"};
    }
    void installedFiles() {
        QFETCH(QString, path);
        QFETCH(QStringList, check);
        QVERIFY2(QFile::exists(rootPath(path)), qPrintable(path));
        bool isSize = false;
        const int size = check.first().toInt(&isSize);
        if (isSize) {
            const QImage image(rootPath(path));
            QCOMPARE(image.size(), QSize(size, size));
            return;
        }
        QString out;
        QVERIFY2(run(check.first(), check.mid(1) << rootPath(path), &out) == 0, qPrintable(out));
    }

    void dependsOnWhatTheProgramNeeds() {
        QString depends;
        QVERIFY(run("dpkg-deb", {"-f", m_deb, "Depends"}, &depends) == 0);
        QSet<QString> listed;
        for (const QString& item : depends.split(QRegularExpression("[,|]"), Qt::SkipEmptyParts))
            listed << item.trimmed().section(' ', 0, 0);
        // The programs it starts, the fonts it draws with and the libraries of parts linked in
        // on other branches.
        for (const char* name : {"lame", "vorbis-tools", "fonts-liberation2", "libpulse0",
                                 "libcurl4", "libsecret-1-0", "libmtp9", "qt6-qpa-plugins"})
            QVERIFY2(listed.contains(name), qPrintable(name + (" missing from: " + depends)));

        // Every library the program links comes from a listed package or one they pull in.
        QSet<QString> reachable = listed;
        for (const QString& name : listed) {
            QString theirs;
            run("dpkg-query", {"-W", "-f=${Depends}", name}, &theirs);
            for (const QString& item : theirs.split(QRegularExpression("[,|]"), Qt::SkipEmptyParts))
                reachable << item.trimmed().section(' ', 0, 0).section(':', 0, 0);
        }
        QString headers, ldd;
        QVERIFY(run("objdump", {"-p", rootPath("usr/bin/chimora")}, &headers) == 0);
        QVERIFY(run("ldd", {rootPath("usr/bin/chimora")}, &ldd) == 0);
        QHash<QString, QString> found; // file name -> where the loader finds it
        for (const QString& line : ldd.split('\n')) {
            const QStringList words = line.simplified().split(' ');
            const QString path = words.value(1) == "=>" ? words.value(2) : words.value(0);
            if (path.startsWith('/'))
                found.insert(QFileInfo(words.value(0)).fileName(), path);
        }
        QStringList libraries;
        const QRegularExpression needed(R"(NEEDED\s+(\S+))");
        for (auto m = needed.globalMatch(headers); m.hasNext();) {
            const QString name = m.next().captured(1);
            // The sanitizers' run-time libraries are there only in a sanitized test build.
            if (name.startsWith("libasan") || name.startsWith("libubsan"))
                continue;
            QVERIFY2(found.contains(name), qPrintable(name + " not found by ldd"));
            libraries << QFileInfo(found.value(name)).canonicalFilePath();
        }
        QVERIFY(!libraries.isEmpty());
        for (const QString& library : libraries) {
            QString owner;
            // dpkg records the merged /usr/lib paths under either name.
            if (run("dpkg", {"-S", library}, &owner) != 0) {
                owner.clear();
                QString other = library;
                other.remove(QRegularExpression("^/usr"));
                QVERIFY2(run("dpkg", {"-S", other}, &owner) == 0, qPrintable(library));
            }
            const QString package = owner.section(':', 0, 0).trimmed();
            QVERIFY2(reachable.contains(package),
                     qPrintable(library + " comes from " + package + ", not in: " + depends));
        }
    }

    void installedProgramKeepsSettingsPerUser_data() {
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<bool>("xdgDataHome");
        QTest::addRow("this user, default data folder") << false << false;
        QTest::addRow("unprivileged user, XDG_DATA_HOME") << true << true;
    }
    void installedProgramKeepsSettingsPerUser() {
        QFETCH(bool, unprivileged);
        QFETCH(bool, xdgDataHome);
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        const passwd* nobody = ::getpwnam("nobody");
        if (unprivileged && (::geteuid() != 0 || !nobody))
            QSKIP("switching to the user nobody needs root");

        QTemporaryDir dir;
        const QString home = dir.filePath("home"), runtime = dir.filePath("run");
        const QString data = xdgDataHome ? dir.filePath("data") : home + "/.local/share";
        QVERIFY(QFile::setPermissions(dir.path(), kOpen));
        QVERIFY(makeFolder(home, kPrivate) && makeFolder(runtime, kPrivate));
        if (xdgDataHome)
            QVERIFY(makeFolder(data, kPrivate));

        QProcessEnvironment env;
        env.insert("PATH", "/usr/bin:/bin");
        env.insert("HOME", home);
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("CHIMORA_QUIT_AFTER_LOAD", "1");
        env.insert("PULSE_SERVER", qEnvironmentVariable("PULSE_SERVER"));
        if (xdgDataHome)
            env.insert("XDG_DATA_HOME", data);
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) // a sanitized build's settings
            if (qEnvironmentVariableIsSet(name))
                env.insert(name, qEnvironmentVariable(name));

        QString program = rootPath("usr/bin/chimora");
        QStringList args{m_tone};
        QString pulseModule;
        if (unprivileged) {
            for (const QString& path : {home, runtime, data})
                QVERIFY(giveTo(path, nobody));
            // The test server's socket lies in root's private folder: give this user one of
            // its own for the run.
            const QString socketFolder = dir.filePath("pulse");
            QVERIFY(makeFolder(socketFolder, kOpen));
            QVERIFY(run("pactl",
                        {"load-module", "module-native-protocol-unix", "auth-anonymous=1",
                         "socket=" + socketFolder + "/native"},
                        &pulseModule) == 0);
            env.insert("PULSE_SERVER", "unix:" + socketFolder + "/native");
            args = QStringList{"--reuid=nobody", "--regid=" + QString::number(nobody->pw_gid),
                               "--clear-groups", "--",
                               program,          m_tone};
            program = "setpriv";
        }

        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        const bool finished = p.waitForFinished(int(std::max<qint64>(1, budget.remainingTime())));
        if (!pulseModule.isEmpty())
            run("pactl", {"unload-module", pulseModule.trimmed()});
        if (!finished)
            p.kill();
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
                 qPrintable(err));
        QCOMPARE(out.trimmed(), "loaded ok=1 page=1 frames=8000 file=" + m_tone);
        const QByteArray settings = [&] {
            QFile f(data + "/chimora/settings.ini");
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        QVERIFY2(settings.startsWith("[Main]\n1=test\n"), settings.constData());
        QCOMPARE(fileList(m_root), m_rootFiles);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "test_package.moc"
