// The size estimate against real renders with the real lame and oggenc, of a generated song
// whose parts differ (so the encoders spend differently on them).
#include "TestSupport.h"
#include "platform/audio/AudioDocument.h"
#include "platform/core/AppFolder.h"
#include "platform/wav/WavWriter.h"
#include "render/RingtoneEstimate.h"
#include "render/RingtoneRender.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace chimora;

Q_DECLARE_METATYPE(chimora::RingtoneFormat)

class TestEstimate : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    AudioDocument m_song;

private slots:
    void initTestCase() {
        setAppFolderForTesting(m_dir.path());
        // 36 s: a quiet tonal part, a busy part with noise and a wandering tone, and the two
        // channels different.
        const QString path = m_dir.filePath(QStringLiteral("song.wav"));
        QCOMPARE(
            testsupport::run(QStringLiteral("ffmpeg"),
                             {"-v", "error", "-y", "-f", "lavfi", "-i",
                              "aevalsrc=0.3*sin(2*PI*440*t)+0.2*sin(2*PI*(660+50*sin(t))*t)"
                              "+gt(t\\,12)*0.15*(random(0)-0.5)*(1+sin(t))"
                              "|0.3*sin(2*PI*550*t)+gt(t\\,12)*0.1*(random(1)-0.5):s=44100:d=36",
                              "-c:a", "pcm_s16le", path}),
            0);
        m_song.load(path);
        m_song.waitForLoad();
        QVERIFY(!m_song.isEmpty());
        m_song.setSelection(5 * 44100, 30 * 44100);
    }
    void cleanupTestCase() { setAppFolderForTesting({}); }

    void withinTenPercentOfTheFile_data() {
        QTest::addColumn<RingtoneFormat>("format");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("selection");

        QTest::newRow("wav stereo whole") << RingtoneFormat::Wav << 22050 << 128 << 2 << false;
        QTest::newRow("wav mono section") << RingtoneFormat::Wav << 8000 << 8 << 1 << true;
        QTest::newRow("mp3 stereo section") << RingtoneFormat::Mp3 << 22050 << 128 << 2 << true;
        QTest::newRow("mp3 mono 32000") << RingtoneFormat::Mp3 << 32000 << 320 << 1 << true;
        QTest::newRow("mp3 bitrate lowered") << RingtoneFormat::Mp3 << 22050 << 320 << 2 << true;
        QTest::newRow("mp3 rate lowered") << RingtoneFormat::Mp3 << 24000 << 32 << 1 << false;
        QTest::newRow("ogg stereo section") << RingtoneFormat::Ogg << 22050 << 64 << 2 << true;
        QTest::newRow("ogg stereo 32000") << RingtoneFormat::Ogg << 32000 << 160 << 2 << false;
        QTest::newRow("ogg mono 11025") << RingtoneFormat::Ogg << 11025 << 32 << 1 << true;
        QTest::newRow("ogg stereo 8000") << RingtoneFormat::Ogg << 8000 << 16 << 2 << false;
    }

    void withinTenPercentOfTheFile() {
        QFETCH(RingtoneFormat, format);
        QFETCH(int, rate);
        QFETCH(int, bitrate);
        QFETCH(int, channels);
        QFETCH(bool, selection);

        EstimateRequest request;
        request.frames = selection ? m_song.selection().length() : m_song.frameCount();
        request.sourceRateHz = m_song.format().sampleRate;
        request.sourceChannels = m_song.format().channels;
        request.format = format;
        request.rateHz = rate;
        request.channels = channels;
        request.bitrateKbps = bitrate;
        if (format == RingtoneFormat::Ogg) {
            const Selection s = m_song.selection();
            const auto measured = measureVorbisRate(*m_song.snapshot(), selection ? s.start : 0,
                                                    selection ? s.end : m_song.frameCount(),
                                                    {rate, channels, 0}, bitrate);
            QVERIFY2(measured.ok(), qPrintable(measured.ok() ? "" : measured.error().message));
            request.vorbisBytesPerSecond = measured->bytesPerSecond;
            request.vorbisHeaderBytes = measured->headerBytes;
        }
        const RingtoneEstimate estimate = estimateRingtone(request);

        OutputFormat chosen;
        RenderEditor editor;
        editor.setFormat = [&](int r, int c, int b) { chosen = {r, c, b}; };
        editor.save = [&](const QString& path, bool selectionOnly, int) {
            return writeWav(m_song, path, chosen, selectionOnly);
        };
        RenderChoices choices;
        choices.format = format;
        choices.sampleRateText = QString::number(rate);
        choices.bitrateText = QString::number(bitrate);
        choices.channelsIndex = channels - 1;
        choices.sectionIndex = selection ? 1 : 0;
        RenderObserver observer;
        const QString output = m_dir.filePath(QStringLiteral("tone") + ringtoneExtension(format));
        const auto rendered = renderRingtone(output, choices, editor, observer);
        QVERIFY2(rendered.ok(), qPrintable(rendered.ok() ? "" : rendered.error().message));

        const double real = double(QFileInfo(output).size());
        const QString seen =
            QStringLiteral("estimated %1, rendered %2 bytes").arg(estimate.bytes).arg(real);
        QVERIFY2(std::abs(estimate.bytes - real) <= 0.1 * real, qPrintable(seen));
        const testsupport::Probe p = testsupport::probe(output);
        QCOMPARE(p.sampleRate, estimate.rateHz);
        QVERIFY(std::abs(p.durationSeconds - estimate.seconds) < 0.15);
    }
};

QTEST_GUILESS_MAIN(TestEstimate)
#include "test_estimate.moc"
