// The program's one argument: the first argument naming an existing file is opened (as an
// absolute path, since start-up changes the working folder); every other one is reported.

#include "app/ui/Startup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace chimora;

class TestCommandLine : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        for (const char* name : {"song.mp3", "other.wav"}) {
            QFile f(m_dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QDir().mkpath(m_dir.filePath("folder")));
        QVERIFY(QDir::setCurrent(m_dir.path()));
    }

    void argument_data() {
        // "@" stands for the temporary folder.
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QStringList>("ignored");
        QTest::addRow("none") << QStringList{} << "" << QStringList{};
        QTest::addRow("absolute path")
            << QStringList{"@/song.mp3"} << "@/song.mp3" << QStringList{};
        QTest::addRow("relative path") << QStringList{"song.mp3"} << "@/song.mp3" << QStringList{};
        QTest::addRow("missing file") << QStringList{"gone.mp3"} << "" << QStringList{"gone.mp3"};
        QTest::addRow("folder") << QStringList{"folder"} << "" << QStringList{"folder"};
        QTest::addRow("option before the file")
            << QStringList{"--help", "song.mp3"} << "@/song.mp3" << QStringList{"--help"};
        QTest::addRow("second file")
            << QStringList{"song.mp3", "other.wav"} << "@/song.mp3" << QStringList{"other.wav"};
    }
    void argument() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QFETCH(QStringList, ignored);
        arguments.replaceInStrings("@", m_dir.path());
        QStringList lines;
        QCOMPARE(audioFileArgument(arguments, &lines), expected.replace('@', m_dir.path()));
        QCOMPARE(lines.size(), ignored.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].contains('"' + ignored[i] + '"'), qPrintable(lines[i]));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
