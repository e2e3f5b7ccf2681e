// The AAC encoder against FFmpeg's own tools: what it writes decodes to what it was fed, at
// every rate of the options lists; its bitrate rule matches the encoder; failures leave no file.

#include "TestSupport.h"

#include "platform/ffmpeg/AacEncoder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace chimora;

namespace {

const int kRates[] = {32000, 24000, 22050, 16000, 12000, 11025, 8000};
const int kBitrates[] = {320, 256, 224, 192, 160, 128, 112, 96, 80, 64, 56, 48, 32, 16, 8};

std::vector<int16_t> tone(int64_t frames, int rate, int channels) {
    std::vector<int16_t> s(size_t(frames * channels));
    for (int64_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            s[size_t(f * channels + c)] = int16_t(12000 * std::sin(2 * M_PI * 440 * f / rate));
    return s;
}

/// Encodes `samples` to `path` in blocks of `blockFrames`; empty on success, else the message.
QString encode(const QString& path, const AacSettings& settings,
               const std::vector<int16_t>& samples, int64_t blockFrames) {
    auto opened = AacEncoder::open(path, settings);
    if (!opened.ok())
        return opened.error().message;
    const int64_t frames = int64_t(samples.size()) / settings.channels;
    for (int64_t at = 0; at < frames; at += blockFrames) {
        const auto written = opened.value()->write(samples.data() + at * settings.channels,
                                                   std::min(blockFrames, frames - at));
        if (!written.ok())
            return written.error().message;
    }
    const auto done = opened.value()->finish();
    return done.ok() ? QString() : done.error().message;
}

} // namespace

class TestAacEncoder : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private slots:
    // Blocks of odd sizes cross the encoder's 1024-frame frames; the last frame is short. The
    // length holds within one AAC frame, the pitch shows rate and interleaving are right, and
    // the same input gives the same bytes.
    void decodesToWhatItWasFed_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("blockFrames");
        int row = 0;
        for (int rate : kRates) {
            const int channels = 1 + row % 2;
            const QString name = row % 2 ? QStringLiteral("tone.m4r") : QStringLiteral("tone.m4a");
            QTest::addRow("%d Hz, %s", rate, qPrintable(name))
                << rate << channels << (row % 3 ? 64 : 128) << name << qint64(777 + 500 * row);
            ++row;
        }
    }
    void decodesToWhatItWasFed() {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, bitrate);
        QFETCH(QString, name);
        QFETCH(qint64, blockFrames);
        const int64_t frames = int64_t(1.3 * rate) + 17;
        const auto samples = tone(frames, rate, channels);
        const QString path = m_dir.filePath(name);
        const QString again = m_dir.filePath(QStringLiteral("again-") + name);
        QCOMPARE(encode(path, {rate, channels, bitrate}, samples, blockFrames), QString());
        QCOMPARE(encode(again, {rate, channels, bitrate}, samples, 4096), QString());
        QCOMPARE(testsupport::readFile(again), testsupport::readFile(path));

        const testsupport::Probe p = testsupport::probe(path);
        QVERIFY(p.ok);
        QCOMPARE(p.codec, QStringLiteral("aac"));
        QCOMPARE(p.sampleRate, rate);
        QCOMPARE(p.channels, channels);
        const auto decoded = testsupport::decodeWithFfmpeg(path);
        QVERIFY2(std::abs(int64_t(decoded.size()) - frames) <= 1024,
                 qPrintable(
                     QStringLiteral("%1 frames decoded, %2 fed").arg(decoded.size()).arg(frames)));
        // The abrupt start and end of the tone ring in the first and last AAC frames.
        const double hz =
            testsupport::zeroCrossingFrequency(decoded.data() + 2048, decoded.size() - 4096, rate);
        QVERIFY2(std::abs(hz - 440) < 5, qPrintable(QString::number(hz)));
    }

    // What the options page will warn about must be what the encoder does, for every pair the
    // lists offer.
    void bitrateRuleMatchesTheEncoder() {
        QStringList wrong;
        for (int rate : kRates)
            for (int channels : {1, 2})
                for (int bitrate : kBitrates) {
                    const QString path = m_dir.filePath(QStringLiteral("rule.m4a"));
                    auto opened = AacEncoder::open(path, {rate, channels, bitrate});
                    QVERIFY2(opened.ok(),
                             qPrintable(opened.ok() ? QString() : opened.error().message));
                    const int predicted = aacBitrateKbps(rate, channels, bitrate);
                    if (opened.value()->bitrateKbps() != predicted)
                        wrong << QStringLiteral("%1 Hz %2 ch %3 kbit/s: %4, predicted %5")
                                     .arg(rate)
                                     .arg(channels)
                                     .arg(bitrate)
                                     .arg(opened.value()->bitrateKbps())
                                     .arg(predicted);
                    opened.value().reset();
                    QVERIFY(!QFile::exists(path)); // unfinished: removed again
                }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    // A refusal leaves no file behind, and a ringtone already at the path as it was.
    void refusalsLeaveNothing_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("kind");
        const int bad = int(Error::Kind::BadInput), env = int(Error::Kind::Environment);
        QTest::newRow("folder missing") << "missing/tone.m4a" << 22050 << 1 << env;
        QTest::newRow("a folder") << "folder" << 22050 << 1 << bad;
        QTest::newRow("rate AAC has not") << "old.m4a" << 22000 << 1 << bad;
        QTest::newRow("three channels") << "old.m4a" << 22050 << 3 << bad;
    }
    void refusalsLeaveNothing() {
        QFETCH(QString, name);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, kind);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QFile old(dir.filePath(QStringLiteral("old.m4a")));
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old ringtone") == 12);
        old.close();
        const auto opened = AacEncoder::open(dir.filePath(name), {rate, channels, 64});
        QVERIFY(!opened.ok());
        QCOMPARE(int(opened.error().kind), kind);
        QVERIFY(!opened.error().message.isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("old.m4a")});
        QCOMPARE(testsupport::readFile(old.fileName()), QByteArray("old ringtone"));
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder"))).isDir());
    }
};

QTEST_GUILESS_MAIN(TestAacEncoder)
#include "test_aac_encoder.moc"
