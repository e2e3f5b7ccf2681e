// The process runner against a stand-in program that can exit with a code, crash, hang, chatter
// on standard error or stop reading early.
#include "TestSupport.h"
#include "platform/core/ChildProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/wait.h>

using chimora::ChildProcess;
using chimora::ProcessExit;

Q_DECLARE_METATYPE(ProcessExit::How)

namespace {

QByteArray pattern(int bytes) {
    QByteArray data(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        data[i] = char((i * 7 + i / 251) & 0xff);
    return data;
}

QString fakeEncoder() {
    return testsupport::toolsFolder() + QStringLiteral("/fake_encoder");
}

} // namespace

class TestChildProcess : public QObject {
    Q_OBJECT

private slots:
    void outcomes_data();
    void outcomes();
    void stallingChildIsKilled();
    void unreadInputIsNoticed();
    void missingProgram();
    void destructorReapsRunningChild();
};

void TestChildProcess::outcomes_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("inputBytes");
    QTest::addColumn<bool>("writeSucceeds");
    QTest::addColumn<bool>("inputArrives"); // the child's copy equals what we wrote
    QTest::addColumn<ProcessExit::How>("how");
    QTest::addColumn<int>("codeOrSignal");
    QTest::addColumn<QString>("errorEnd"); // what the error output ends with

    const int mb = 1 << 20;
    QTest::newRow("clean exit") << QStringList{} << 3 * mb << true << true
                                << ProcessExit::How::Exited << 0 << QString();
    QTest::newRow("exit code and message")
        << QStringList{QStringLiteral("--fake-exit=3"),
                       QStringLiteral("--fake-message=Mode_initialisation_failed")}
        << 100000 << true << true << ProcessExit::How::Exited << 3
        << QStringLiteral("Mode initialisation failed\n");
    // 4 MiB of chatter against 4 MiB of input: a runner that only writes would deadlock here.
    QTest::newRow("chatter while reading")
        << QStringList{QStringLiteral("--fake-stderr=4194304"),
                       QStringLiteral("--fake-message=done")}
        << 4 * mb << true << true << ProcessExit::How::Exited << 0 << QStringLiteral("done\n");
    QTest::newRow("crash") << QStringList{QStringLiteral("--fake-crash")} << 50000 << true << true
                           << ProcessExit::How::Crashed << int(SIGSEGV) << QString();
    QTest::newRow("stops reading early")
        << QStringList{QStringLiteral("--fake-read=10000"), QStringLiteral("--fake-exit=2")}
        << 4 * mb << false << false << ProcessExit::How::Exited << 2 << QString();
    QTest::newRow("hangs after input")
        << QStringList{QStringLiteral("--fake-hang-after")} << 1000 << true << true
        << ProcessExit::How::Killed << int(SIGTERM) << QString();
    QTest::newRow("hangs and ignores SIGTERM")
        << QStringList{QStringLiteral("--fake-hang-after"), QStringLiteral("--fake-ignore-term")}
        << 1000 << true << true << ProcessExit::How::Killed << int(SIGKILL) << QString();
}

void TestChildProcess::outcomes() {
    QFETCH(QStringList, options);
    QFETCH(int, inputBytes);
    QFETCH(bool, writeSucceeds);
    QFETCH(bool, inputArrives);
    QFETCH(ProcessExit::How, how);
    QFETCH(int, codeOrSignal);
    QFETCH(QString, errorEnd);

    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("copy.bin"));
    options << QStringLiteral("--fake-out=") + copy;

    ChildProcess child;
    QVERIFY(child.start(fakeEncoder(), options).ok());
    const QByteArray input = pattern(inputBytes);
    // Several writes, like pulls of a decoder.
    bool wrote = true;
    for (int at = 0; at < input.size() && wrote; at += 20000)
        wrote = child.write(input.constData() + at, std::min(20000, int(input.size()) - at)).ok();
    QCOMPARE(wrote, writeSucceeds);
    QCOMPARE(child.inputRefused(), !writeSucceeds);
    child.closeInput();

    const ProcessExit exit = child.waitForExit(how == ProcessExit::How::Killed ? 300 : 20000);
    QCOMPARE(exit.how, how);
    if (how == ProcessExit::How::Exited)
        QCOMPARE(exit.exitCode, codeOrSignal);
    else
        QCOMPARE(exit.signal, codeOrSignal);
    QCOMPARE(exit.succeeded(), how == ProcessExit::How::Exited && codeOrSignal == 0);

    QFile f(copy);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray got = f.readAll();
    if (inputArrives)
        QVERIFY(got == input);
    else
        QVERIFY(got.size() < input.size());

    QVERIFY(child.errorOutput().size() <= ChildProcess::kErrorTailBytes);
    if (!errorEnd.isEmpty())
        QVERIFY2(child.errorOutput().endsWith(errorEnd.toUtf8()), child.errorOutput().right(80));
}

void TestChildProcess::stallingChildIsKilled() {
    // A child that never reads: our writes fill the pipe and then must give up, not block.
    ChildProcess child;
    child.setStallTimeoutMs(300);
    QVERIFY(child.start(fakeEncoder(), {QStringLiteral("--fake-hang")}).ok());
    const QByteArray input = pattern(4 << 20);
    QElapsedTimer clock;
    clock.start();
    const auto written = child.write(input);
    QVERIFY(!written.ok());
    QVERIFY(clock.elapsed() < 10000);
    QCOMPARE(child.exitStatus().how, ProcessExit::How::Killed);
    QVERIFY(!child.isRunning());
}

void TestChildProcess::unreadInputIsNoticed() {
    // All input fits into the pipe, so no write fails; the child leaves most of it unread and
    // still exits 0.
    ChildProcess child;
    QVERIFY(child.start(fakeEncoder(), {QStringLiteral("--fake-read=1000")}).ok());
    QVERIFY(child.write(pattern(100000)).ok());
    QVERIFY(!child.finishInput().ok());
    QVERIFY(child.inputRefused());
    QVERIFY(child.waitForExit(10000).succeeded());

    // A child that reads everything passes.
    ChildProcess reader;
    QVERIFY(reader.start(fakeEncoder(), {}).ok());
    QVERIFY(reader.write(pattern(100000)).ok());
    QVERIFY(reader.finishInput().ok());
    QVERIFY(!reader.inputRefused());
    QVERIFY(reader.waitForExit(10000).succeeded());
}

void TestChildProcess::missingProgram() {
    QTemporaryDir dir;
    for (const QString& program :
         {dir.filePath(QStringLiteral("no-such-encoder")), QStringLiteral("no-such-encoder-xyz")}) {
        ChildProcess child;
        const auto started = child.start(program, {});
        QVERIFY(!started.ok());
        QVERIFY2(started.error().message.contains(QFileInfo(program).fileName()),
                 qPrintable(started.error().message));
        QCOMPARE(child.exitStatus().how, ProcessExit::How::NotStarted);
        QVERIFY(!child.write(QByteArray("x")).ok());
    }
}

void TestChildProcess::destructorReapsRunningChild() {
    pid_t pid = -1;
    {
        ChildProcess child;
        QVERIFY(child
                    .start(fakeEncoder(),
                           {QStringLiteral("--fake-hang"), QStringLiteral("--fake-ignore-term")})
                    .ok());
        pid = child.pid();
        QVERIFY(child.isRunning());
    }
    // Reaped: it is no longer our child, not even a zombie.
    int status = 0;
    QCOMPARE(::waitpid(pid, &status, WNOHANG), pid_t(-1));
    QCOMPARE(errno, ECHILD);
}

QTEST_GUILESS_MAIN(TestChildProcess)
#include "test_childprocess.moc"
