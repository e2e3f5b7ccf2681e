// Decode streams and their encoders through the audio layer's calls.
#include "TestSupport.h"
#include "platform/bass/Bass.h"
#include "platform/bass/BassEncode.h"
#include "platform/wav/WavHeader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace chimora;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// The samples of a canonical WAV written by ffmpeg (its data chunk).
QByteArray wavData(const QString& path) {
    const QByteArray all = readAll(path);
    const int at = all.indexOf("data");
    return at < 0 ? QByteArray() : all.mid(at + 8);
}

HSTREAM open(const QString& path) {
    return BASS_StreamCreateFile(FALSE, QFile::encodeName(path).constData(), 0, 0,
                                 BASS_STREAM_DECODE);
}

/// Pulls a stream to its end in pieces of `piece` bytes.
QByteArray pullAll(HSTREAM s, DWORD piece, int* pulls = nullptr) {
    QByteArray all;
    QByteArray buf(int(piece), '\0');
    int n = 0;
    while (BASS_ChannelIsActive(s)) {
        const DWORD got = BASS_ChannelGetData(s, buf.data(), piece);
        if (got == DWORD(-1))
            break;
        all.append(buf.constData(), int(got));
        ++n;
        if (n > 100000)
            break;
    }
    if (pulls)
        *pulls = n;
    return all;
}

} // namespace

class TestBassStream : public QObject {
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void refusesBadInput();
    void feedsEncoder();
    void encoderFailures_data();
    void encoderFailures();

private:
    QTemporaryDir m_dir;
};

void TestBassStream::decodes_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<QStringList>("ffmpegArgs");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("exact"); // the decoded bytes equal the WAV's samples

    QTest::newRow("wav stereo") << 22050 << 2 << QStringList{"-c:a", "pcm_s16le"} << ".wav" << true;
    QTest::newRow("wav mono") << 8000 << 1 << QStringList{"-c:a", "pcm_s16le"} << ".wav" << true;
    QTest::newRow("wav float") << 24000 << 2 << QStringList{"-c:a", "pcm_f32le"} << ".wav" << false;
    QTest::newRow("mp3") << 44100 << 2 << QStringList{"-c:a", "libmp3lame", "-b:a", "128k"}
                         << ".mp3" << false;
}

void TestBassStream::decodes() {
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(QStringList, ffmpegArgs);
    QFETCH(QString, extension);
    QFETCH(bool, exact);

    const QString path = m_dir.filePath(QStringLiteral("in") + QTest::currentDataTag() + extension);
    QVERIFY(testsupport::makeTone(path, 2.0, rate, channels, ffmpegArgs));
    const HSTREAM s = open(path);
    QVERIFY(s);
    QCOMPARE(BASS_ChannelGetPosition(s, 0), QWORD(0));
    const QWORD length = BASS_ChannelGetLength(s, 0);

    // An odd piece size: pulls still come in whole frames.
    const DWORD piece = 20001;
    int pulls = 0;
    const QByteArray pcm = pullAll(s, piece, &pulls);
    QCOMPARE(pcm.size() % (channels * 2), 0);
    QCOMPARE(BASS_ChannelGetPosition(s, 0), QWORD(pcm.size()));
    QCOMPARE(BASS_ChannelIsActive(s), DWORD(BASS_ACTIVE_STOPPED));
    // The end is seen by the pull that delivers the last bytes, not one later.
    QCOMPARE(pulls, int((pcm.size() + piece - piece % (channels * 2) - 1) /
                        (piece - piece % (channels * 2))));
    char byte;
    QCOMPARE(BASS_ChannelGetData(s, &byte, 1), DWORD(-1));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_ENDED));

    const double seconds = double(pcm.size()) / (rate * channels * 2);
    QVERIFY2(std::abs(seconds - 2.0) < 0.06, qPrintable(QString::number(seconds)));
    if (exact) {
        QCOMPARE(length, QWORD(pcm.size()));
        QVERIFY(pcm == wavData(path));
    } else {
        QVERIFY(length > 0 && std::abs(double(length) - pcm.size()) < rate * channels * 2 * 0.1);
    }
    QVERIFY(BASS_StreamFree(s));
    QVERIFY(!BASS_StreamFree(s));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_HANDLE));
}

void TestBassStream::refusesBadInput() {
    const QString garbage = m_dir.filePath(QStringLiteral("garbage.wav"));
    {
        QFile f(garbage);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(5000, '\x5a'));
    }
    QCOMPARE(open(m_dir.filePath(QStringLiteral("missing.wav"))), HSTREAM(0));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_FILEOPEN));
    // A pipe is refused at once: opening it would wait for a writer that never comes.
    const QString pipe = m_dir.filePath(QStringLiteral("pipe.wav"));
    QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QCOMPARE(open(pipe), HSTREAM(0));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_FILEOPEN));
    QCOMPARE(open(garbage), HSTREAM(0));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_FILEFORM));
    QCOMPARE(BASS_StreamCreateFile(TRUE, "x", 0, 0, BASS_STREAM_DECODE), HSTREAM(0));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_ILLPARAM));

    char buf[16];
    QCOMPARE(BASS_ChannelGetData(12345, buf, sizeof buf), DWORD(-1));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_HANDLE));
    QCOMPARE(BASS_ChannelGetLength(12345, 0), QWORD(-1));
    QCOMPARE(BASS_Encode_Start(12345, {QStringLiteral("cat"), {}}, 0, nullptr, nullptr),
             HENCODE(0));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_HANDLE));
}

void TestBassStream::feedsEncoder() {
    // The encoder gets a streaming WAV header and then exactly the decoded samples.
    const QString in = m_dir.filePath(QStringLiteral("feed.wav"));
    const QString copy = m_dir.filePath(QStringLiteral("fed.bin"));
    QVERIFY(testsupport::makeTone(in, 1.5, 16000, 1, {"-c:a", "pcm_s16le"}));
    const HSTREAM s = open(in);
    QVERIFY(s);
    const EncoderCommand command{testsupport::toolsFolder() + QStringLiteral("/fake_encoder"),
                                 {QStringLiteral("--fake-out=") + copy}};
    QCOMPARE(BASS_Encode_Start(s, command, BASS_ENCODE_AUTOFREE, nullptr, nullptr), HENCODE(s));
    QCOMPARE(BASS_Encode_Start(s, command, BASS_ENCODE_AUTOFREE, nullptr, nullptr), HENCODE(0));
    QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_ALREADY));
    QVERIFY(BASS_Encode_IsActive(s));
    const QByteArray pcm = pullAll(s, 20000);
    QVERIFY(BASS_StreamFree(s));

    const EncoderOutcome outcome = bass::lastEncoderOutcome();
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.failure));
    QCOMPARE(readAll(copy), wavHeader(16000, 1, kWavStreamingSize) + pcm);
    QVERIFY(pcm == wavData(in));
}

void TestBassStream::encoderFailures_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("failure");

    const QString fake = testsupport::toolsFolder() + QStringLiteral("/fake_encoder");
    QTest::newRow("missing program") << m_dir.filePath(QStringLiteral("nope")) << QStringList{}
                                     << false << "nope could not be started";
    QTest::newRow("exit code") << fake
                               << QStringList{"--fake-exit=4", "--fake-message=bad_input_file"}
                               << true << "fake_encoder failed (exit code 4): bad input file";
    // The error stands before the last redraw of a progress display.
    QTest::newRow("message before progress")
        << fake
        << QStringList{"--fake-exit=1", "--fake-message=Error:_disk_full",
                       "--fake-message=[_45.3%]_[_0m01s_remaining]_|"}
        << true << "fake_encoder failed (exit code 1): Error: disk full";
    QTest::newRow("crash") << fake << QStringList{"--fake-crash"} << true << "fake_encoder crashed";
}

void TestBassStream::encoderFailures() {
    QFETCH(QString, program);
    QFETCH(QStringList, args);
    QFETCH(bool, starts);
    QFETCH(QString, failure);

    const QString in = m_dir.filePath(QStringLiteral("fail.wav"));
    QVERIFY(testsupport::makeTone(in, 0.5, 8000, 1, {"-c:a", "pcm_s16le"}));
    const HSTREAM s = open(in);
    QVERIFY(s);
    const HENCODE e = BASS_Encode_Start(s, {program, args}, BASS_ENCODE_AUTOFREE, nullptr, nullptr);
    QCOMPARE(e != 0, starts);
    if (!starts)
        QCOMPARE(BASS_ErrorGetCode(), int(BASS_ERROR_FILEOPEN));
    pullAll(s, 20000);
    QVERIFY(BASS_ChannelStop(s)); // stopping ends the encoder too
    QVERIFY(!BASS_Encode_IsActive(s));
    QVERIFY(BASS_StreamFree(s));
    const EncoderOutcome outcome = bass::lastEncoderOutcome();
    QVERIFY(!outcome.succeeded());
    QVERIFY2(outcome.failure.startsWith(failure), qPrintable(outcome.failure));
}

QTEST_GUILESS_MAIN(TestBassStream)
#include "test_bass_stream.moc"
