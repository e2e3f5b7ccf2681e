// Rendering speed against the encoders alone. A 4-minute song is generated, loaded into an
// audio document, and rendered through RenderRingtone:
//   1. a 30-second section to MP3 (22050 Hz, 128 kbit/s, stereo), against lame encoding the
//      same section from a ready WAV;
//   2. the whole song to Ogg Vorbis (24000 Hz, 160 kbit/s, stereo), against oggenc encoding the
//      same WAV.
// Runs alternate between render and baseline; each figure is given as the median and the best
// of the runs (the machine may be shared, and the best run shows the cost without contention).
// Usage: bench_render OUTPUT_FOLDER
#include "platform/audio/AudioDocument.h"
#include "platform/core/AppFolder.h"
#include "platform/wav/WavWriter.h"
#include "render/EncoderCommands.h"
#include "render/ui/RenderRingtone.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <tuple>
#include <vector>

using namespace chimora;

namespace {

constexpr int kRuns = 7;
constexpr double kLimit = 1.15;

struct Figure {
    double median;
    double best;
};

Figure figureOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v.front()};
}

/// Seconds one run of `program` takes with `input` on its standard input.
double timeProgram(const QString& program, const QStringList& args, const QString& input) {
    QProcess p;
    p.setStandardInputFile(input);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        return -1;
    }
    return clock.nsecsElapsed() / 1e9;
}

/// Stands in for the wizard: the options page's lists, the section choice and the editor.
struct Wizard {
    QWidget window;
    QComboBox* combo1 = new QComboBox(&window);
    QComboBox* combo2 = new QComboBox(&window);
    QComboBox* combo3 = new QComboBox(&window);
    QComboBox* combo4 = new QComboBox(&window);
    QRadioButton* option1 = new QRadioButton(&window);
    QRadioButton* option2 = new QRadioButton(&window);
    QRadioButton* option3 = new QRadioButton(&window);
    QTimer* timer4 = new QTimer(&window);
    QString outAudioFile;
    OutputFormat format;

    explicit Wizard(AudioDocument& document) {
        combo1->addItems({"Use the entire song as ringtone", "Use just the following song "
                                                             "section:"});
        combo2->addItems(sampleRateTexts());
        combo3->addItems(bitrateTexts());
        combo4->addItems({"Mono", "Stereo"});
        RenderControls c;
        c.wizard = &window;
        c.Combo1 = combo1;
        c.Combo2 = combo2;
        c.Combo3 = combo3;
        c.Combo4 = combo4;
        c.Option1 = option1;
        c.Option2 = option2;
        c.Option3 = option3;
        c.Timer4 = timer4;
        c.OutAudioFile = &outAudioFile;
        c.setEditorFormat = [this](int rate, int channels, int bitrate) {
            format = {rate, channels, bitrate};
        };
        c.saveEditorAudio = [this, &document](const QString& path, bool selectionOnly, int) {
            return writeWav(document, path, format, selectionOnly);
        };
        setRenderControls(c);
    }

    void choose(QRadioButton* option, const char* rate, const char* bitrate, int section) {
        option->setChecked(true);
        combo2->setCurrentText(QString::fromLatin1(rate));
        combo3->setCurrentText(QString::fromLatin1(bitrate));
        combo4->setCurrentIndex(1);
        combo1->setCurrentIndex(section);
    }
};

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

double timeRender(const QString& output) {
    QElapsedTimer clock;
    clock.start();
    const double self = cpuSeconds(RUSAGE_SELF);
    const double children = cpuSeconds(RUSAGE_CHILDREN);
    if (!RenderRingtone(output)) {
        std::fprintf(stderr, "render of %s failed\n", qPrintable(output));
        return -1;
    }
    if (qEnvironmentVariableIsSet("BENCH_CPU"))
        std::fprintf(stderr, "cpu: ours %.3f s, encoder %.3f s\n", cpuSeconds(RUSAGE_SELF) - self,
                     cpuSeconds(RUSAGE_CHILDREN) - children);
    return clock.nsecsElapsed() / 1e9;
}

void report(const char* what, const std::vector<double>& render,
            const std::vector<double>& baseline, const char* baselineName) {
    const Figure r = figureOf(render);
    const Figure b = figureOf(baseline);
    std::printf("%s\n", what);
    for (auto [label, rv, bv] :
         {std::tuple{"median", r.median, b.median}, std::tuple{"best", r.best, b.best}}) {
        const double ratio = rv / bv;
        std::printf("  %-6s render %.3f s   %s alone %.3f s   ratio %.2f (limit %.2f) %s\n", label,
                    rv, baselineName, bv, ratio, kLimit, ratio <= kLimit ? "ok" : "OVER");
    }
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const QString work = out + QStringLiteral("/render");
    QDir().mkpath(work);
    setAppFolderForTesting(work);
    // Any message of the render goes to the console, not into a box nobody closes.
    setRenderMessageHandlerForTesting([](QMessageBox::Icon, const QString& text) {
        std::fprintf(stderr, "render says: %s\n", qPrintable(text));
    });

    // A 4-minute song: two tones and some noise, so the encoders have real work.
    const QString song = work + QStringLiteral("/song.mp3");
    if (!QFile::exists(song)) {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {"-v", "error", "-y", "-f", "lavfi", "-i",
                      "aevalsrc=0.3*sin(2*PI*440*t)+0.2*sin(2*PI*(660+50*sin(t))*t)+0.05*(random(0)"
                      "-0.5)|0.3*sin(2*PI*550*t)+0.05*(random(1)-0.5):s=44100:d=240",
                      "-c:a", "libmp3lame", "-b:a", "192k", song});
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

    Wizard wizard(document);
    wizard.window.show();

    // Baseline inputs: the WAVs the editor writes for these renders.
    const QString sectionWav = work + QStringLiteral("/section.wav");
    const QString wholeWav = work + QStringLiteral("/whole.wav");
    if (!writeWav(document, sectionWav, {22050, 2, 128}, true).ok() ||
        !writeWav(document, wholeWav, {24000, 2, 160}, false).ok()) {
        std::fprintf(stderr, "could not write the baseline WAVs\n");
        return 1;
    }
    const QString lame = findProgram(QStringLiteral("lame"));
    const QString oggenc = findProgram(QStringLiteral("oggenc"));

    // The editor's save is part of every render: timed on its own to show what the rest costs.
    auto timeSave = [&](const OutputFormat& format, bool selectionOnly) {
        QElapsedTimer clock;
        clock.start();
        const bool ok =
            writeWav(document, work + QStringLiteral("/save.wav"), format, selectionOnly).ok();
        return ok ? clock.nsecsElapsed() / 1e9 : -1.0;
    };

    std::vector<double> mp3Render, mp3Base, mp3Save, oggRender, oggBase, oggSave;
    for (int i = 0; i < kRuns; ++i) {
        mp3Save.push_back(timeSave({22050, 2, 128}, true));
        oggSave.push_back(timeSave({24000, 2, 160}, false));
        mp3Base.push_back(timeProgram(
            lame, {"-h", "-ms", "-b128", "-s22.05", "-", work + QStringLiteral("/base.mp3")},
            sectionWav));
        wizard.choose(wizard.option2, "22050", "128", 1);
        mp3Render.push_back(timeRender(work + QStringLiteral("/section.mp3")));

        oggBase.push_back(timeProgram(
            oggenc, {"-b", "160", "-", "-o", work + QStringLiteral("/base.ogg")}, wholeWav));
        wizard.choose(wizard.option3, "24000", "160", 0);
        oggRender.push_back(timeRender(work + QStringLiteral("/whole.ogg")));
    }
    for (const auto* v : {&mp3Render, &mp3Base, &mp3Save, &oggRender, &oggBase, &oggSave})
        if (std::find(v->begin(), v->end(), -1.0) != v->end())
            return 1;

    std::printf("%d runs each\n", kRuns);
    report("30 s section of a 4 min MP3 to MP3 (22050 Hz, 128 kbit/s, stereo, -h)", mp3Render,
           mp3Base, "lame");
    std::printf("  of which the editor's WAV save: median %.3f s, best %.3f s\n",
                figureOf(mp3Save).median, figureOf(mp3Save).best);
    report("4 min song to Ogg Vorbis (24000 Hz, 160 kbit/s, stereo)", oggRender, oggBase, "oggenc");
    std::printf("  of which the editor's WAV save: median %.3f s, best %.3f s\n",
                figureOf(oggSave).median, figureOf(oggSave).best);
    return 0;
}
