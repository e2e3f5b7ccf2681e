// Files written whole: the target is either the old file or the complete new one, with the
// permissions it had, and nothing is left behind.

#include "platform/core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace chimora;

namespace {
QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}
mode_t modeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}
} // namespace

class TestAtomicFile : public QObject {
    Q_OBJECT
private slots:
    void outcomes_data() {
        QTest::addColumn<bool>("existing");
        QTest::addColumn<bool>("commit");
        QTest::addColumn<QByteArray>("expected");
        QTest::addRow("new file, committed") << false << true << QByteArray("new");
        QTest::addRow("new file, abandoned") << false << false << QByteArray("<missing>");
        QTest::addRow("replaced, committed") << true << true << QByteArray("new");
        QTest::addRow("replaced, abandoned") << true << false << QByteArray("old");
    }
    void outcomes() {
        QFETCH(bool, existing);
        QFETCH(bool, commit);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        const QString target = dir.filePath("tone.mp3");
        if (existing) {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old");
            old.close();
            QVERIFY(::chmod(QFile::encodeName(target).constData(), 0640) == 0);
        }
        const mode_t mask = ::umask(022);
        {
            AtomicFile file(target);
            QVERIFY(file.open());
            QVERIFY(file.write(QByteArray("new")));
            // Until it is committed the target is the old file.
            QCOMPARE(contents(target), existing ? QByteArray("old") : QByteArray("<missing>"));
            if (commit)
                QVERIFY2(file.commit(), qPrintable(file.errorString()));
        }
        ::umask(mask);
        QCOMPARE(contents(target), expected);
        if (commit)
            QCOMPARE(modeOf(target), existing ? mode_t(0640) : mode_t(0644));
        // Only the target (or nothing) is left in the folder.
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left, expected == "<missing>" ? QStringList{} : QStringList{"tone.mp3"});
    }

    void missingFolderFailsToOpen() {
        QTemporaryDir dir;
        AtomicFile file(dir.filePath("no/such/folder/tone.wav"));
        QVERIFY(!file.open());
        QVERIFY(!file.errorString().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "test_atomic_file.moc"
