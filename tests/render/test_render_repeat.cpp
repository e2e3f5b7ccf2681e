// Rendering one section twice with the same choices gives the same ringtone: the render's whole
// path, from the editor's document through the resampling, the shaping and the encoder.

#include "TestSupport.h"

#include "platform/audio/AudioDocument.h"
#include "platform/core/AppFolder.h"
#include "platform/wav/WavWriter.h"
#include "render/RingtoneRender.h"

#include <QTemporaryDir>
#include <QTest>

using namespace chimora;

Q_DECLARE_METATYPE(chimora::RingtoneFormat)

constexpr int kSongRate = 44100;

class TestRenderRepeat : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    AudioDocument m_song;

private slots:
    void initTestCase() {
        setAppFolderForTesting(m_dir.path());
        const QString song = m_dir.filePath(QStringLiteral("song.wav"));
        QVERIFY(testsupport::makeTone(song, 4.0, kSongRate, 2,
                                      {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}));
        m_song.load(song);
        m_song.waitForLoad();
        QVERIFY2(m_song.loadError().isEmpty(), qPrintable(m_song.loadError()));
        m_song.setSelection(kSongRate / 2, kSongRate * 7 / 2);
    }
    void cleanupTestCase() { setAppFolderForTesting({}); }

    // WAV and MP3 come out byte for byte; Ogg Vorbis streams carry a serial number of their
    // own each time, so there the decoded samples must be the same.
    void sameChoicesSameRingtone_data() {
        QTest::addColumn<RingtoneFormat>("format");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("channelsIndex");
        QTest::addColumn<bool>("shaped");
        QTest::newRow("wav 22050 mono") << RingtoneFormat::Wav << "22050" << 0 << false;
        QTest::newRow("wav 8000 stereo, faded and evened out")
            << RingtoneFormat::Wav << "8000" << 1 << true;
        QTest::newRow("mp3 22050 mono") << RingtoneFormat::Mp3 << "22050" << 0 << false;
        QTest::newRow("ogg 16000 stereo, evened out")
            << RingtoneFormat::Ogg << "16000" << 1 << true;
    }
    void sameChoicesSameRingtone() {
        QFETCH(RingtoneFormat, format);
        QFETCH(QString, rate);
        QFETCH(int, channelsIndex);
        QFETCH(bool, shaped);
        RenderChoices choices;
        choices.format = format;
        choices.sampleRateText = rate;
        choices.bitrateText = QStringLiteral("64");
        choices.channelsIndex = channelsIndex;
        choices.sectionIndex = 1;
        if (shaped) {
            choices.shaping.fadeInSeconds = 0.5;
            choices.shaping.fadeOutSeconds = 1.0;
            choices.shaping.evenLoudness = true;
        }
        OutputFormat chosen;
        RenderEditor editor;
        editor.setFormat = [&](int r, int c, int b) { chosen = {r, c, b}; };
        editor.save = [&](const QString& path, bool selectionOnly, int) {
            return writeWav(m_song, path, chosen, selectionOnly);
        };
        RenderObserver observer;

        QByteArray first;
        std::vector<int16_t> firstSamples;
        for (int pass = 0; pass < 2; ++pass) {
            const QString out =
                m_dir.filePath(QStringLiteral("tone%1").arg(pass) + ringtoneExtension(format));
            const auto r = renderRingtone(out, choices, editor, observer);
            QVERIFY2(r.ok(), qPrintable(r.ok() ? QString() : r.error().message));
            if (format == RingtoneFormat::Ogg) {
                const auto samples = testsupport::decodeWithFfmpeg(out);
                QVERIFY(!samples.empty());
                if (pass == 0)
                    firstSamples = samples;
                else
                    QVERIFY(samples == firstSamples);
            } else if (pass == 0) {
                first = testsupport::readFile(out);
                QVERIFY(!first.isEmpty());
            } else {
                QVERIFY(testsupport::readFile(out) == first);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRenderRepeat)
#include "test_render_repeat.moc"
