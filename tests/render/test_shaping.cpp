// Fades and loudness of the rendered ringtone, measured on the decoded output of the real
// encoders: the ramps against the editor's samples, the loudness and true peak with FFmpeg's
// own EBU R128 meter (an independent measurement).
#include "TestSupport.h"
#include "platform/core/AppFolder.h"
#include "render/RingtoneRender.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace chimora;

Q_DECLARE_METATYPE(chimora::RingtoneFormat)

namespace {

constexpr double kSeconds = 3.0;

/// Plays the editor: writes `seconds` of the FFmpeg expression `signal` in the format it is
/// given (16-bit PCM, like the editor's save).
struct SignalEditor {
    QString signal;
    double seconds = kSeconds;
    int rate = 0, channels = 0;

    RenderEditor editor() {
        RenderEditor e;
        e.setFormat = [this](int r, int c, int) {
            rate = r;
            channels = c;
        };
        e.save = [this](const QString& path, bool, int) -> Result<void> {
            if (!writeSignal(path, signal, seconds, rate, channels))
                return Error::environment(QStringLiteral("ffmpeg failed"));
            return {};
        };
        return e;
    }

    static bool writeSignal(const QString& path, const QString& signal, double seconds, int rate,
                            int channels) {
        return testsupport::run(
                   QStringLiteral("ffmpeg"),
                   {"-v", "error", "-y", "-f", "lavfi", "-i",
                    QStringLiteral("aevalsrc=%1:s=%2:d=%3").arg(signal).arg(rate).arg(seconds),
                    "-ac", QString::number(channels), "-c:a", "pcm_s16le", path}) == 0;
    }
};

struct Loudness {
    double integratedLufs = NAN;
    double truePeakDbtp = NAN;
};

/// FFmpeg's EBU R128 summary of a file.
Loudness measure(const QString& path) {
    QString output;
    testsupport::run(QStringLiteral("ffmpeg"),
                     {"-nostats", "-i", path, "-af", "ebur128=peak=true", "-f", "null", "-"},
                     &output);
    Loudness l;
    const int summary = output.lastIndexOf(QStringLiteral("Summary:"));
    const QString tail = output.mid(summary);
    const auto i = QRegularExpression(QStringLiteral("I:\\s+(-?[0-9.]+|-inf) LUFS")).match(tail);
    const auto p = QRegularExpression(QStringLiteral("Peak:\\s+(-?[0-9.]+|-inf) dBFS")).match(tail);
    if (summary >= 0 && i.hasMatch() && p.hasMatch()) {
        l.integratedLufs = i.captured(1).toDouble();
        l.truePeakDbtp = p.captured(1).toDouble();
    }
    return l;
}

RenderChoices choicesFor(RingtoneFormat format, int channelsIndex, const RenderShaping& shaping) {
    RenderChoices c;
    c.format = format;
    c.sampleRateText = QStringLiteral("22050");
    c.bitrateText = QStringLiteral("64");
    c.channelsIndex = channelsIndex;
    c.sectionIndex = 0;
    c.shaping = shaping;
    return c;
}

} // namespace

class TestShaping : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { setAppFolderForTesting(m_dir.path()); }
    void cleanupTestCase() { setAppFolderForTesting({}); }

    void fadesRampTheEnds_data() {
        QTest::addColumn<double>("fadeIn");
        QTest::addColumn<double>("fadeOut");
        QTest::addColumn<double>("seconds");

        QTest::newRow("in only") << 0.5 << 0.0 << kSeconds;
        QTest::newRow("out only") << 0.0 << 1.0 << kSeconds;
        QTest::newRow("both, shortest") << 0.1 << 0.1 << kSeconds;
        QTest::newRow("both, overlapping") << 2.0 << 2.0 << kSeconds;
        QTest::newRow("longer than the audio") << 5.0 << 5.0 << 1.25;
    }

    void fadesRampTheEnds() {
        QFETCH(double, fadeIn);
        QFETCH(double, fadeOut);
        QFETCH(double, seconds);
        constexpr int rate = 22050;
        const QString signal = QStringLiteral("0.5*sin(2*PI*440*t)+0.3*sin(2*PI*97*t)");

        const QString reference = m_dir.filePath(QStringLiteral("reference.wav"));
        QVERIFY(SignalEditor::writeSignal(reference, signal, seconds, rate, 1));
        const std::vector<int16_t> in = testsupport::decodeWithFfmpeg(reference);

        SignalEditor fake{signal, seconds};
        RenderShaping shaping;
        shaping.fadeInSeconds = fadeIn;
        shaping.fadeOutSeconds = fadeOut;
        RenderObserver observer;
        const QString output = m_dir.filePath(QStringLiteral("faded.wav"));
        const auto result = renderRingtone(output, choicesFor(RingtoneFormat::Wav, 0, shaping),
                                           fake.editor(), observer);
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().message));
        const std::vector<int16_t> out = testsupport::decodeWithFfmpeg(output);
        QCOMPARE(out.size(), in.size());

        const int64_t total = int64_t(in.size());
        const int64_t inFrames =
            fadeIn > 0 ? std::min<int64_t>(total, std::llround(fadeIn * rate)) : 0;
        const int64_t outFrames =
            fadeOut > 0 ? std::min<int64_t>(total, std::llround(fadeOut * rate)) : 0;
        QVERIFY(inFrames == 0 || out.front() == 0);
        QVERIFY(outFrames == 0 || out.back() == 0);
        int64_t untouched = 0;
        for (int64_t i = 0; i < total; ++i) {
            double gain = 1.0;
            if (i < inFrames)
                gain *= double(i) / inFrames;
            if (total - 1 - i < outFrames)
                gain *= double(total - 1 - i) / outFrames;
            if (gain == 1.0) {
                QCOMPARE(out[i], in[i]); // the middle stays bit for bit
                ++untouched;
            } else if (std::abs(out[i] - in[i] * gain) > 1.0) {
                QFAIL(qPrintable(QStringLiteral("frame %1: %2, expected %3 x %4")
                                     .arg(i)
                                     .arg(out[i])
                                     .arg(in[i])
                                     .arg(gain)));
            }
        }
        QCOMPARE(untouched, std::max<int64_t>(0, total - inFrames - outFrames));
    }

    void loudnessIsEvenedOut_data() {
        QTest::addColumn<RingtoneFormat>("format");
        QTest::addColumn<int>("channelsIndex");
        QTest::addColumn<QString>("signal");
        QTest::addColumn<bool>("peakLimited"); // the peaks forbid reaching the target

        const QString quiet = QStringLiteral("0.01*sin(2*PI*440*t)");
        const QString loud = QStringLiteral("0.95*sin(2*PI*330*t)+0.04*(random(0)-0.5)");
        // Short full-scale clicks over a quiet tone: loud peaks, little loudness.
        const QString spiky = QStringLiteral("0.02*sin(2*PI*440*t)+0.97*lt(mod(t\\,0.5)\\,0.0005)");
        const QString spiky2 = QStringLiteral("0.05*sin(2*PI*220*t)-0.9*lt(mod(t\\,0.3)\\,0.002)");
        for (auto [name, format] :
             {std::pair{"wav", RingtoneFormat::Wav}, std::pair{"mp3", RingtoneFormat::Mp3},
              std::pair{"ogg", RingtoneFormat::Ogg}}) {
            QTest::addRow("%s quiet mono", name) << format << 0 << quiet << false;
            QTest::addRow("%s loud stereo", name) << format << 1 << loud << false;
            QTest::addRow("%s spiky stereo", name) << format << 1 << spiky << true;
            QTest::addRow("%s spiky mono", name) << format << 0 << spiky2 << true;
        }
    }

    void loudnessIsEvenedOut() {
        QFETCH(RingtoneFormat, format);
        QFETCH(int, channelsIndex);
        QFETCH(QString, signal);
        QFETCH(bool, peakLimited);

        SignalEditor fake{signal};
        RenderShaping shaping;
        shaping.evenLoudness = true;
        RenderObserver observer;
        const QString output = m_dir.filePath(QStringLiteral("even") + ringtoneExtension(format));
        const auto result = renderRingtone(output, choicesFor(format, channelsIndex, shaping),
                                           fake.editor(), observer);
        QVERIFY2(result.ok(), qPrintable(result.ok() ? QString() : result.error().message));

        const Loudness got = measure(output);
        const QString seen =
            QStringLiteral("%1 LUFS, %2 dBTP").arg(got.integratedLufs).arg(got.truePeakDbtp);
        QVERIFY2(got.truePeakDbtp <= -1.0, qPrintable(seen));
        if (peakLimited) {
            // As loud as the peaks allow (less the lossy encoders' headroom), and no louder.
            QVERIFY2(got.integratedLufs < -14.5 && got.truePeakDbtp > -3.0, qPrintable(seen));
        } else {
            QVERIFY2(std::abs(got.integratedLufs + 14.0) <= 0.5, qPrintable(seen));
        }
    }
};

QTEST_GUILESS_MAIN(TestShaping)
#include "test_shaping.moc"
