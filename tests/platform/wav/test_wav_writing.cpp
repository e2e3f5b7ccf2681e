// Writing the document as WAV: exact copies, conversions of rate and channels, and failures
// that leave nothing behind.

#include "TestSupport.h"
#include "engine_support.h"

#include "platform/audio/AudioDocument.h"
#include "platform/wav/WavWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace chimora;

class TestWavWriting : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString file(const QString& name) const { return m_dir.filePath(name); }

    void load(AudioDocument& doc, const QString& name, int rate, int channels,
              const std::vector<int16_t>& samples) {
        QVERIFY(enginetest::writeWav(file(name), rate, channels, samples));
        QVERIFY2(enginetest::loadAndWait(doc, file(name)), qPrintable(doc.loadError()));
    }

    static std::vector<int16_t> tone(int64_t frames, int rate, int channels, double hz = 440) {
        std::vector<int16_t> s(size_t(frames * channels));
        for (int64_t f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                s[size_t(f * channels + c)] = int16_t(12000 * std::sin(2 * M_PI * hz * f / rate));
        return s;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // At the source format the file written is the file read, byte for byte, and a selection
    // is exactly its frames.
    void sourceFormatIsCopiedBitForBit_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::newRow("stereo whole") << 2 << qint64(-1) << qint64(-1);
        QTest::newRow("mono whole") << 1 << qint64(-1) << qint64(-1);
        QTest::newRow("stereo across blocks") << 2 << qint64(65535) << qint64(140001);
        QTest::newRow("mono one frame") << 1 << qint64(7) << qint64(8);
    }
    void sourceFormatIsCopiedBitForBit() {
        QFETCH(int, channels);
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        const auto samples = enginetest::noiseWithPulses(150000, channels, 11, {65535, 65536});
        AudioDocument doc;
        load(doc, "source.wav", 32000, channels, samples);
        const bool selection = from >= 0;
        if (selection)
            doc.setSelection(from, to);
        const QString out = file("copy.wav");
        const auto r = writeWav(doc, out, OutputFormat{}, selection);
        QVERIFY2(r.ok(), qPrintable(r.ok() ? QString() : r.error().message));
        if (!selection) {
            QFile a(file("source.wav")), b(out);
            QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
            QCOMPARE(b.readAll(), a.readAll());
            return;
        }
        const auto w = enginetest::readWav(out);
        QVERIFY(w.ok);
        QCOMPARE(w.sampleRate, 32000);
        QCOMPARE(w.channels, channels);
        QVERIFY(w.samples == std::vector<int16_t>(samples.begin() + from * channels,
                                                  samples.begin() + to * channels));
    }

    // Resampling keeps the length (rounded) and the pitch; ffprobe must agree on the format.
    void resamplingKeepsLengthAndPitch_data() {
        QTest::addColumn<int>("inRate");
        QTest::addColumn<int>("outRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("frames");
        QTest::newRow("44100 to 8000 stereo") << 44100 << 8000 << 2 << 88201;
        QTest::newRow("44100 to 22050 mono") << 44100 << 22050 << 1 << 44101;
        QTest::newRow("48000 to 11025 mono") << 48000 << 11025 << 1 << 96000;
        QTest::newRow("8000 to 32000 stereo") << 8000 << 32000 << 2 << 16003;
        QTest::newRow("22050 to 16000 stereo") << 22050 << 16000 << 2 << 33333;
    }
    void resamplingKeepsLengthAndPitch() {
        QFETCH(int, inRate);
        QFETCH(int, outRate);
        QFETCH(int, channels);
        QFETCH(int, frames);
        AudioDocument doc;
        load(doc, "in.wav", inRate, channels, tone(frames, inRate, channels));
        const QString out = file("resampled.wav");
        QVERIFY(writeWav(doc, out, OutputFormat{outRate, 0, 128}, false).ok());
        const auto w = enginetest::readWav(out);
        QVERIFY(w.ok);
        QCOMPARE(w.sampleRate, outRate);
        QCOMPARE(w.channels, channels);
        const int64_t want = std::llround(double(frames) * outRate / inRate);
        QCOMPARE(int64_t(w.samples.size()) / channels, want);
        const double hz = testsupport::zeroCrossingFrequency(
            w.samples.data(), w.samples.size() / channels, outRate, channels);
        QVERIFY2(std::abs(hz - 440) < 440 * 0.005, qPrintable(QString::number(hz)));
        // Not shifted in time: the tone's level holds to the very end (no lost tail).
        const auto tail =
            std::max_element(w.samples.end() - outRate / 100 * channels, w.samples.end());
        QVERIFY(*tail > 10000);
        const auto probe = testsupport::probe(out);
        QVERIFY(probe.ok);
        QCOMPARE(probe.sampleRate, outRate);
        QCOMPARE(probe.channels, channels);
    }

    // Stereo to mono averages the two sides; mono to stereo copies to both.
    void channelConversion() {
        std::vector<int16_t> stereo{1000, 3000, -32768, -32768, 32767, 32767, -5, 6, 100, -100};
        AudioDocument doc;
        load(doc, "stereo.wav", 22050, 2, stereo);
        QVERIFY(writeWav(doc, file("mono.wav"), OutputFormat{0, 1, 0}, false).ok());
        auto w = enginetest::readWav(file("mono.wav"));
        QVERIFY(w.ok);
        QCOMPARE(w.channels, 1);
        QCOMPARE(w.samples, (std::vector<int16_t>{2000, -32768, 32767, 0, 0}));

        const std::vector<int16_t> mono{1, -2, 32767, -32768};
        load(doc, "mono-in.wav", 22050, 1, mono);
        QVERIFY(writeWav(doc, file("stereo-out.wav"), OutputFormat{0, 2, 0}, false).ok());
        w = enginetest::readWav(file("stereo-out.wav"));
        QVERIFY(w.ok);
        QCOMPARE(w.channels, 2);
        QCOMPARE(w.samples, (std::vector<int16_t>{1, 1, -2, -2, 32767, 32767, -32768, -32768}));
    }

    // Failures are reported, leave an existing file untouched and leave no stray file.
    void failuresLeaveNothingBehind_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("selectionOnly");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing selected") << "keep.wav" << true << true << "Nothing is selected";
        QTest::newRow("nothing loaded") << "keep.wav" << false << false << "no audio";
        QTest::newRow("missing folder")
            << "no/such/folder/x.wav" << false << true << "could not be written";
        QTest::newRow("target is a folder") << "adir" << false << true << "could not be written";
        QTest::newRow("unwritable folder")
            << "/proc/chimora-test.wav" << false << true << "could not be written";
    }
    void failuresLeaveNothingBehind() {
        QFETCH(QString, target);
        QFETCH(bool, selectionOnly);
        QFETCH(bool, loaded);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("adir"));
        const QString path = QDir(dir.path()).filePath(target);
        if (target == "keep.wav") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("precious");
        }
        AudioDocument doc;
        if (loaded)
            load(doc, "some.wav", 8000, 1, tone(800, 8000, 1));
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden);
        const QStringList procBefore = QDir("/proc").entryList({"chimora*"});
        const auto r = writeWav(doc, path, OutputFormat{}, selectionOnly);
        QVERIFY(!r.ok());
        QVERIFY2(r.error().message.contains(message), qPrintable(r.error().message));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
        QCOMPARE(QDir("/proc").entryList({"chimora*"}), procBefore);
        if (target == "keep.wav") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("precious"));
        }
    }

    // A save during a load waits for the whole file.
    void saveWaitsForLoad() {
        const QString src = file("tone.ogg");
        QVERIFY(testsupport::makeTone(src, 30, 44100, 2, {"-c:a", "libvorbis"}));
        AudioDocument doc;
        doc.load(src);
        QVERIFY(writeWav(doc, file("during-load.wav"), OutputFormat{}, false).ok());
        const auto w = enginetest::readWav(file("during-load.wav"));
        QVERIFY(w.ok);
        QCOMPARE(int64_t(w.samples.size()), int64_t(30 * 44100 * 2));
    }
};

QTEST_GUILESS_MAIN(TestWavWriting)
#include "test_wav_writing.moc"
