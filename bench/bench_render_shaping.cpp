// What fades and loudness add to a render: the same renders with and without them (both fades
// of 1 s and "Even out loudness"), of a generated 4-minute song through the render core:
//   1. a 30-second section to MP3 (22050 Hz, 128 kbit/s, stereo);
//   2. the whole song to Ogg Vorbis (24000 Hz, 160 kbit/s, stereo);
//   3. the 30-second section to WAV (22050 Hz, stereo): no encoder, so the pass weighs most.
// Runs alternate; each figure is the median and the best (the machine may be shared). The
// shaping pass is also timed alone on the prepared WAV.
// Usage: bench_render_shaping OUTPUT_FOLDER
#include "platform/audio/AudioDocument.h"
#include "platform/core/AppFolder.h"
#include "platform/wav/WavWriter.h"
#include "render/RingtoneRender.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace chimora;

namespace {

constexpr int kRuns = 7;
constexpr double kLimit = 1.05;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double best(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

struct Case {
    const char* what;
    RingtoneFormat format;
    const char* rate;
    const char* bitrate;
    int section;
    const char* output;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const QString work = out + QStringLiteral("/render-shaping");
    QDir().mkpath(work);
    setAppFolderForTesting(work);

    const QString song = work + QStringLiteral("/song.wav");
    if (!QFile::exists(song)) {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {"-v", "error", "-y", "-f", "lavfi", "-i",
                      "aevalsrc=0.3*sin(2*PI*440*t)+0.2*sin(2*PI*(660+50*sin(t))*t)+0.05*(random(0)"
                      "-0.5)|0.3*sin(2*PI*550*t)+0.05*(random(1)-0.5):s=44100:d=240",
                      "-c:a", "pcm_s16le", song});
        if (!ffmpeg.waitForFinished(300000) || ffmpeg.exitCode() != 0) {
            std::fprintf(stderr, "could not make the test song\n");
            return 1;
        }
    }
    AudioDocument document;
    document.load(song);
    document.waitForLoad();
    if (document.isEmpty()) {
        std::fprintf(stderr, "the song did not load: %s\n", qPrintable(document.loadError()));
        return 1;
    }
    const int64_t rate = document.format().sampleRate;
    document.setSelection(60 * rate, 90 * rate);

    OutputFormat chosen;
    RenderEditor editor;
    editor.setFormat = [&](int r, int c, int b) { chosen = {r, c, b}; };
    editor.save = [&](const QString& path, bool selectionOnly, int) {
        return writeWav(document, path, chosen, selectionOnly);
    };
    RenderShaping shaping;
    shaping.fadeInSeconds = 1.0;
    shaping.fadeOutSeconds = 1.0;
    shaping.evenLoudness = true;

    const Case cases[] = {
        {"30 s section to MP3 (22050 Hz, 128 kbit/s, stereo)", RingtoneFormat::Mp3, "22050", "128",
         1, "/section.mp3"},
        {"4 min song to Ogg Vorbis (24000 Hz, 160 kbit/s, stereo)", RingtoneFormat::Ogg, "24000",
         "160", 0, "/whole.ogg"},
        {"30 s section to WAV (22050 Hz, stereo)", RingtoneFormat::Wav, "22050", "128", 1,
         "/section.wav"},
    };
    std::printf("%d runs each; with = both fades of 1 s and loudness evened out\n", kRuns);
    for (const Case& c : cases) {
        RenderChoices choices;
        choices.format = c.format;
        choices.sampleRateText = QString::fromLatin1(c.rate);
        choices.bitrateText = QString::fromLatin1(c.bitrate);
        choices.channelsIndex = 1;
        choices.sectionIndex = c.section;
        std::vector<double> plain, shaped, passAlone;
        for (int i = 0; i < kRuns; ++i) {
            for (bool withShaping : {false, true}) {
                choices.shaping = withShaping ? shaping : RenderShaping{};
                RenderObserver observer;
                QElapsedTimer clock;
                clock.start();
                const auto result =
                    renderRingtone(work + QString::fromLatin1(c.output), choices, editor, observer);
                if (!result.ok()) {
                    std::fprintf(stderr, "render failed: %s\n", qPrintable(result.error().message));
                    return 1;
                }
                (withShaping ? shaped : plain).push_back(clock.nsecsElapsed() / 1e9);
            }
            // The pass alone, on a fresh copy of the editor's WAV.
            const QString wav = work + QStringLiteral("/pass.wav");
            QFile::remove(wav);
            if (!writeWav(document, wav, {std::atoi(c.rate), 2, 0}, c.section == 1).ok())
                return 1;
            QElapsedTimer clock;
            clock.start();
            if (!shapeWavFile(wav, shaping).ok())
                return 1;
            passAlone.push_back(clock.nsecsElapsed() / 1e9);
        }
        std::printf("%s\n", c.what);
        for (auto [label, without, with] : {std::tuple{"median", median(plain), median(shaped)},
                                            std::tuple{"best", best(plain), best(shaped)}}) {
            const double ratio = with / without;
            std::printf("  %-6s without %.3f s   with %.3f s   ratio %.3f (limit %.2f) %s\n", label,
                        without, with, ratio, kLimit, ratio <= kLimit ? "ok" : "OVER");
        }
        std::printf("  the pass alone: median %.3f s, best %.3f s\n", median(passAlone),
                    best(passAlone));
    }
    return 0;
}
