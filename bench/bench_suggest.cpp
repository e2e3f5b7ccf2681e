// The suggestion's published score: on the rendered songs of known structure
// (tests/data/chorus_songs.py), the share of songs whose first suggestion overlaps a chorus with
// an intersection over union of at least 0.7, the share starting within 0.5 s of a chorus start
// and ending within 1 s of that chorus's end, and the median start error. Then the time the
// last step takes once a load has finished (targets: 0.3 s for 4 minutes, 3 s for an hour) and
// the memory an hour adds (target: 20 MiB). argv[1]: folder for the audio.

#include "platform/audio/SuggestionAnalysis.h"

#include "../tests/platform/audio/song_support.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace chimora;

namespace {

// Peak resident memory of this process so far, in KiB.
long peakKib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

struct Run {
    std::vector<SuggestedSection> sections;
    AudioFormat format;
    double feedSeconds = 0, finishSeconds = 0, audioSeconds = 0;
    int beatsPerBar = 0;
    double bpm = 0;
    size_t featureBytes = 0;
};

// Feeds the files in turn, as one long recording, until `seconds` of audio went in (each file
// once when `seconds` is 0), then finishes.
Run analyse(const QStringList& paths, double seconds) {
    Run run;
    std::unique_ptr<SuggestionAnalysis> analysis;
    int64_t frames = 0, limit = -1;
    QElapsedTimer timer;
    const auto feed = [&](AudioFormat format, const int16_t* samples, int64_t count) {
        if (!analysis) {
            run.format = format;
            analysis = std::make_unique<SuggestionAnalysis>(format);
            limit = seconds > 0 ? int64_t(seconds * format.sampleRate) : -1;
        }
        if (limit >= 0)
            count = std::min(count, limit - frames);
        if (count <= 0 || format != run.format)
            return false;
        timer.start();
        analysis->feed(samples, count);
        run.feedSeconds += timer.nsecsElapsed() / 1e9;
        frames += count;
        return true;
    };
    do {
        for (const QString& path : paths)
            songtest::streamWav(path, feed);
    } while (seconds > 0 && frames < limit && frames > 0);
    if (!analysis)
        return run;
    timer.start();
    run.sections = analysis->finish();
    run.finishSeconds = timer.nsecsElapsed() / 1e9;
    run.audioSeconds = double(frames) / run.format.sampleRate;
    run.beatsPerBar = analysis->beatsPerBar();
    if (analysis->beatPeriodFrames() > 0)
        run.bpm = 60.0 * run.format.sampleRate / analysis->beatPeriodFrames();
    run.featureBytes = analysis->memoryBytes();
    return run;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString folder = QDir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath())
                               .filePath(QStringLiteral("chorus-songs"));
    QString error;
    const std::vector<songtest::RenderedSong> songs =
        songtest::renderChorusSongs(folder, {}, 44100, &error);
    if (songs.empty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    // An hour first, while this process's peak memory is still the baseline.
    QStringList paths;
    for (const songtest::RenderedSong& s : songs)
        paths << s.wavPath;
    const bool scoreOnly = argc > 2 && QByteArray(argv[2]) == "--score-only";
    const long baseline = peakKib();
    const Run hour = scoreOnly ? Run{} : analyse(paths, 3600);
    const double addedMib = (peakKib() - baseline) / 1024.0;

    std::printf("%-22s %9s %5s %8s %8s %6s %7s %7s\n", "song", "bpm found", "bar", "start s",
                "end s", "IoU", "start", "end");
    int iouHits = 0, startHits = 0, endHits = 0;
    std::vector<double> startErrors, finishTimes;
    double fourMinutes = 0;
    for (const songtest::RenderedSong& song : songs) {
        const Run run = analyse({song.wavPath}, 0);
        finishTimes.push_back(run.finishSeconds);
        if (run.audioSeconds > 200 && run.audioSeconds < 280)
            fourMinutes = std::max(fourMinutes, run.finishSeconds);
        double start = 0, end = 0;
        if (!run.sections.empty()) {
            start = double(run.sections[0].frames.start) / run.format.sampleRate;
            end = double(run.sections[0].frames.end) / run.format.sampleRate;
        }
        const songtest::ChorusScore score = songtest::scoreSuggestion(song, start, end);
        iouHits += score.iou >= 0.7;
        startHits += score.startError <= 0.5;
        endHits += score.startError <= 0.5 && score.endError <= 1.0;
        startErrors.push_back(score.startError);
        std::printf("%-22s %3.0f %5.1f %3d/%d %8.2f %8.2f %6.2f %7.2f %7.2f\n",
                    qPrintable(song.name), song.bpm, run.bpm, run.beatsPerBar, song.beatsPerBar,
                    start, end, score.iou, score.startError, score.endError);
    }
    std::sort(startErrors.begin(), startErrors.end());
    const double median =
        startErrors.size() % 2
            ? startErrors[startErrors.size() / 2]
            : 0.5 * (startErrors[startErrors.size() / 2 - 1] + startErrors[startErrors.size() / 2]);
    const double n = double(songs.size());
    std::printf("\nsongs: %zu\n", songs.size());
    std::printf("IoU >= 0.7 with a chorus:            %5.1f%% (target 90%%)\n", 100 * iouHits / n);
    std::printf("start within 0.5 s of a chorus start: %5.1f%% (target 80%%)\n",
                100 * startHits / n);
    std::printf("and end within 1 s of its end:        %5.1f%% (target 80%%)\n", 100 * endHits / n);
    std::printf("median start error:                   %5.2f s\n", median);

    if (scoreOnly)
        return 0;
    std::sort(finishTimes.begin(), finishTimes.end());
    std::printf("\nlast step after a load of a 4-minute song: %.3f s (slowest of the set %.3f s), "
                "target 0.3 s\n",
                fourMinutes, finishTimes.back());
    std::printf("an hour (%.0f s): feeding %.2f s over the load, last step %.2f s (target 3 s), "
                "features %.1f MiB, peak memory added %.1f MiB (target 20 MiB)\n",
                hour.audioSeconds, hour.feedSeconds, hour.finishSeconds,
                hour.featureBytes / 1048576.0, addedMib);
    return 0;
}
