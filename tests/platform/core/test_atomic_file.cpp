// Files written whole: the target is either the old file or the complete new one, with the
// permissions it had (never its set-ID bits), links written through or replaced as asked, and
// nothing is left behind.

#include "platform/core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace chimora;

namespace {
QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
void writeOld(const QString& path, mode_t mode) {
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
}
mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}
bool commitNew(const QString& target, LinkPolicy links = LinkPolicy::WriteThrough) {
    AtomicFile file(target, links);
    return file.open() && file.write(QByteArray("new")) && file.commit();
}
QStringList filesIn(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}
QString umaskLine() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("Umask:"))
            return QString::fromLatin1(line);
    return {};
}
} // namespace

Q_DECLARE_METATYPE(chimora::LinkPolicy)

class TestAtomicFile : public QObject {
    Q_OBJECT
private slots:
    void outcomes_data() {
        QTest::addColumn<int>("oldMode"); // -1: no file there before
        QTest::addColumn<bool>("commit");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<int>("expectedMode");
        QTest::addRow("new file, committed") << -1 << true << QByteArray("new") << 0644;
        QTest::addRow("new file, abandoned") << -1 << false << QByteArray("<missing>") << 0;
        QTest::addRow("replaced, committed") << 0640 << true << QByteArray("new") << 0640;
        QTest::addRow("replaced, abandoned") << 0640 << false << QByteArray("old") << 0640;
        QTest::addRow("set-ID bits are not carried over")
            << 06755 << true << QByteArray("new") << 0755;
        QTest::addRow("sticky bit is not carried over")
            << 01644 << true << QByteArray("new") << 0644;
    }
    void outcomes() {
        QFETCH(int, oldMode);
        QFETCH(bool, commit);
        QFETCH(QByteArray, expected);
        QFETCH(int, expectedMode);
        QTemporaryDir dir;
        const QString target = dir.filePath("tone.mp3");
        if (oldMode >= 0)
            writeOld(target, mode_t(oldMode));
        const mode_t mask = ::umask(022);
        {
            AtomicFile file(target);
            QVERIFY(file.open());
            QVERIFY(file.write(QByteArray("new")));
            // Until it is committed the target is the old file.
            QCOMPARE(contents(target), oldMode >= 0 ? QByteArray("old") : QByteArray("<missing>"));
            if (commit)
                QVERIFY2(file.commit(), qPrintable(file.errorString()));
        }
        ::umask(mask);
        QCOMPARE(contents(target), expected);
        if (expectedMode)
            QCOMPARE(modeOf(target), mode_t(expectedMode));
        // Only the target (or nothing) is left in the folder.
        QCOMPARE(filesIn(dir.path()),
                 expected == "<missing>" ? QStringList{} : QStringList{"tone.mp3"});
    }

    void links_data() {
        QTest::addColumn<LinkPolicy>("policy");
        QTest::addColumn<QString>("leadsTo"); // the link's text; "@" stands for the folder
        QTest::addColumn<bool>("foreign");    // the link belongs to another user
        QTest::addColumn<bool>("through");    // the file it leads to gets the new bytes
        QTest::addRow("absolute link")
            << LinkPolicy::WriteThrough << "@/kept/tone.mp3" << false << true;
        QTest::addRow("relative link")
            << LinkPolicy::WriteThrough << "kept/tone.mp3" << false << true;
        QTest::addRow("link to a link") << LinkPolicy::WriteThrough << "hop.mp3" << false << true;
        QTest::addRow("dangling link")
            << LinkPolicy::WriteThrough << "kept/new.mp3" << false << true;
        QTest::addRow("another user's link")
            << LinkPolicy::WriteThrough << "kept/tone.mp3" << true << false;
        QTest::addRow("link replaced") << LinkPolicy::Replace << "kept/tone.mp3" << false << false;
    }
    void links() {
        QFETCH(LinkPolicy, policy);
        QFETCH(QString, leadsTo);
        QFETCH(bool, foreign);
        QFETCH(bool, through);
        if (foreign && ::geteuid() != 0)
            QSKIP("only root can give a link to another user");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("kept"));
        const QString kept = dir.filePath("kept/tone.mp3");
        writeOld(kept, 0640);
        QVERIFY(QFile::link("kept/tone.mp3", dir.filePath("hop.mp3")));
        const QString target = dir.filePath("tone.mp3");
        QVERIFY(::symlink(QFile::encodeName(leadsTo.replace('@', dir.path())).constData(),
                          QFile::encodeName(target).constData()) == 0);
        if (foreign)
            QVERIFY(::lchown(QFile::encodeName(target).constData(), 65534, 65534) == 0);
        const QString reached = QFileInfo(dir.path(), leadsTo).absoluteFilePath();
        const QByteArray before = contents(reached);

        QVERIFY(commitNew(target, policy));

        QCOMPARE(QFileInfo(target).isSymLink(), through);
        QCOMPARE(contents(target), QByteArray("new"));
        QCOMPARE(contents(reached), through ? QByteArray("new") : before);
        if (through && before != "<missing>")
            QCOMPARE(modeOf(reached), mode_t(0640));
        QVERIFY(filesIn(dir.filePath("kept")).filter(".part").isEmpty());
        QCOMPARE(filesIn(dir.path()), (QStringList{"hop.mp3", "tone.mp3"}));
    }

    void nameAtTheSystemsLimit() {
        // The temporary name must not grow past 255 bytes with the target's.
        QTemporaryDir dir;
        const QString target = dir.filePath(QString(251, 'x') + ".wav");
        QVERIFY(commitNew(target));
        QCOMPARE(contents(target), QByteArray("new"));
    }

    void missingFolderFailsToOpen() {
        QTemporaryDir dir;
        AtomicFile file(dir.filePath("no/such/folder/tone.wav"));
        QVERIFY(!file.open());
        QVERIFY(!file.errorString().isEmpty());
    }

    void theUmaskIsNeverChanged() {
        // Another thread creating files meanwhile would get the permissions of whatever umask
        // is set for that moment. A folder in memory makes many commits quick.
        QTemporaryDir dir(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/atomic-XXXXXX")
                                                    : QString());
        QVERIFY(dir.isValid());
        const QString expected = umaskLine();
        QVERIFY(!expected.isEmpty());
        std::atomic<bool> done{false};
        std::atomic<int> changes{0};
        std::thread watcher([&] {
            while (!done)
                if (umaskLine() != expected)
                    ++changes;
        });
        for (int i = 0; i < 1500 && changes == 0; ++i)
            QVERIFY(commitNew(dir.filePath(QStringLiteral("t%1.wav").arg(i))));
        done = true;
        watcher.join();
        QCOMPARE(changes.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "test_atomic_file.moc"
