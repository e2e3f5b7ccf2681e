// Opening, editing and querying long audio in the audio document, each figure printed beside a
// baseline measured in the same run. argv[1]: folder for the generated audio.

#include "platform/audio/AudioDocument.h"
#include "platform/audio/SampleBlock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace chimora;

namespace {

// CPU seconds (user + system) of this process, all threads, or of its waited-for children.
double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
// The system's share of that (page faults and the zeroing of fresh memory among it).
double systemSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double runSeconds(const QString& program, const QStringList& args) {
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed\n", qPrintable(program));
        std::exit(1);
    }
    return t.elapsed() / 1000.0;
}

QString makeMp3(const QString& folder, int seconds) {
    const QString path = QDir(folder).filePath(QStringLiteral("bench-%1s.mp3").arg(seconds));
    if (QFile::exists(path))
        return path;
    std::printf("making %s ...\n", qPrintable(path));
    std::fflush(stdout);
    // A chord with some movement, so the encoder works as it would on music.
    runSeconds("ffmpeg",
               {"-v", "error", "-y", "-f", "lavfi", "-i",
                QStringLiteral("aevalsrc=0.3*sin(2*PI*440*t)+0.2*sin(2*PI*(550+50*sin(t))*t)|"
                               "0.3*sin(2*PI*660*t)+0.1*random(0):s=44100:d=%1")
                    .arg(seconds),
                "-c:a", "libmp3lame", "-b:a", "192k", path + ".tmp.mp3"});
    QFile::rename(path + ".tmp.mp3", path);
    return path;
}

struct Timing {
    double wall = 1e9; ///< best of the runs
    double cpu = 1e9;
};

Timing ffmpegDecode(const QString& path, int runs) {
    Timing best;
    for (int i = 0; i < runs; ++i) {
        const double cpu = cpuSeconds(RUSAGE_CHILDREN);
        best.wall = std::min(best.wall,
                             runSeconds("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"}));
        best.cpu = std::min(best.cpu, cpuSeconds(RUSAGE_CHILDREN) - cpu);
    }
    return best;
}

struct LoadTimes {
    double firstWaveform = -1; ///< first contentChanged with audio
    double complete = 0;
    double cpu = 0;    ///< CPU seconds of all our threads
    double system = 0; ///< of which in the system
};

LoadTimes timeLoad(AudioDocument& doc, const QString& path) {
    LoadTimes times;
    QElapsedTimer t;
    QEventLoop loop;
    auto c1 = QObject::connect(&doc, &AudioDocument::contentChanged, [&] {
        if (times.firstWaveform < 0 && doc.frameCount() > 0)
            times.firstWaveform = t.elapsed() / 1000.0;
    });
    auto c2 = QObject::connect(&doc, &AudioDocument::loadFinished, &loop, &QEventLoop::quit);
    const double cpu = cpuSeconds(RUSAGE_SELF);
    const double system = systemSeconds(RUSAGE_SELF);
    t.start();
    doc.load(path);
    loop.exec();
    times.complete = t.elapsed() / 1000.0;
    times.cpu = cpuSeconds(RUSAGE_SELF) - cpu;
    times.system = systemSeconds(RUSAGE_SELF) - system;
    QObject::disconnect(c1);
    QObject::disconnect(c2);
    if (!doc.loadError().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(doc.loadError()));
        std::exit(1);
    }
    return times;
}

double statusMiB(const char* key) {
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(strlen(key))).trimmed().split(' ').first().toDouble() / 1024;
    return 0;
}

void row(const char* what, double value, const char* unit, double baseline, const char* against,
         double limit) {
    std::printf("%-44s %10.3f %-4s  baseline %10.3f %-4s (%s)  %s\n", what, value, unit, baseline,
                unit, against, value <= limit ? "ok" : "OVER TARGET");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    QDir().mkpath(folder);
    const QString song = makeMp3(folder, 240);
    const QString hour = makeMp3(folder, 3600);

    // 1. A 4-minute song until the whole waveform is ready.
    {
        const Timing ff = ffmpegDecode(song, 3);
        Timing best;
        for (int i = 0; i < 3; ++i) {
            AudioDocument doc;
            const LoadTimes t = timeLoad(doc, song);
            best.wall = std::min(best.wall, t.complete);
            best.cpu = std::min(best.cpu, t.cpu);
        }
        row("4-min MP3 opened, whole waveform [s]", best.wall, "s", ff.wall, "ffmpeg decode",
            1.3 * ff.wall);
        row("  the same in CPU time [s]", best.cpu, "s", ff.cpu, "ffmpeg decode", 1.15 * ff.cpu);
    }

    // 2. An hour: first waveform, whole load, peak memory.
    const Timing ffHour = ffmpegDecode(hour, 2);
    AudioDocument doc;
    const double rssBefore = statusMiB("VmRSS:");
    const LoadTimes hourTimes = timeLoad(doc, hour);
    const double pcmMiB = doc.frameCount() * doc.format().channels * 2 / 1048576.0;
    row("60-min MP3 first waveform [s]", hourTimes.firstWaveform, "s", 0.5, "target", 0.5);
    row("60-min MP3 opened, whole waveform [s]", hourTimes.complete, "s", ffHour.wall,
        "ffmpeg decode", 1.3 * ffHour.wall);
    row("  the same in CPU time [s]", hourTimes.cpu, "s", ffHour.cpu, "ffmpeg decode",
        1.15 * ffHour.cpu);
    std::printf("    (of which in the system %.3f s)\n", hourTimes.system);
    const double hwm = statusMiB("VmHWM:");
    row("peak resident memory [MiB]", hwm, "MiB", pcmMiB, "16-bit PCM size", 1.25 * pcmMiB + 50);
    double hugeMiB = 0;
    if (QFile smaps("/proc/self/smaps_rollup"); smaps.open(QIODevice::ReadOnly))
        for (const QByteArray& line : smaps.readAll().split('\n'))
            if (line.startsWith("AnonHugePages:"))
                hugeMiB = line.mid(14).trimmed().split(' ').first().toDouble() / 1024;
    std::printf("    (resident before the load %.1f MiB; in huge pages after it %.1f MiB)\n",
                rssBefore, hugeMiB);

    // 3. Cutting 10 minutes out of the middle and undoing it.
    {
        const int64_t rate = doc.format().sampleRate;
        const int64_t bytesPerFrame = doc.format().channels * 2;
        doc.setSelection(20 * 60 * rate + 12345, 30 * 60 * rate + 777);
        QElapsedTimer t;
        int64_t made = SampleBlock::totalSampleBytesMade();
        t.start();
        doc.cut();
        const double cutMs = t.nsecsElapsed() / 1e6;
        const double cutMiB = (SampleBlock::totalSampleBytesMade() - made) / 1048576.0;
        made = SampleBlock::totalSampleBytesMade();
        t.start();
        doc.undoStack()->undo();
        const double undoMs = t.nsecsElapsed() / 1e6;
        const double undoMiB = (SampleBlock::totalSampleBytesMade() - made) / 1048576.0;
        // Baseline: copying the ten minutes, what an edit that copies audio would cost at least.
        std::vector<int16_t> copy(size_t(10 * 60 * rate * bytesPerFrame / 2));
        t.start();
        doc.snapshot()->read(20 * 60 * rate, 10 * 60 * rate, copy.data());
        const double copyMs = t.nsecsElapsed() / 1e6;
        const double tenMinMiB = copy.size() * 2 / 1048576.0;
        row("cut 10 min [ms]", cutMs, "ms", copyMs, "copying 10 min", 50);
        row("cut 10 min, new sample memory [MiB]", cutMiB, "MiB", tenMinMiB, "10 min of PCM", 1);
        row("undo the cut [ms]", undoMs, "ms", copyMs, "copying 10 min", 50);
        row("undo the cut, new sample memory [MiB]", undoMiB, "MiB", tenMinMiB, "10 min of PCM", 1);
    }

    // 4. Waveform queries for a 1000-column view at several zooms, both channels; the
    //    baseline is one plain min/max pass over the same frames.
    {
        auto snap = doc.snapshot();
        const int columns = 1000;
        std::vector<Peak> out(columns);
        std::vector<int16_t> buffer;
        struct Zoom {
            const char* name;
            double perColumn;
        };
        for (Zoom z : {Zoom{"whole hour", double(snap->frames()) / columns},
                       Zoom{"10 minutes", 600.0 * 44100 / columns},
                       Zoom{"10 seconds", 10.0 * 44100 / columns}, Zoom{"1000 samples", 1.0},
                       Zoom{"quarter sample", 0.25}}) {
            const double start = 0.37 * snap->frames();
            QElapsedTimer t;
            const int reps = 20;
            t.start();
            for (int r = 0; r < reps; ++r)
                for (int ch = 0; ch < snap->format().channels; ++ch)
                    snap->peaks(ch, start + r, z.perColumn, columns, out.data());
            const double queryMs = t.nsecsElapsed() / 1e6 / reps;
            // Baseline: reading and scanning the frames the view covers, once.
            const int64_t frames = std::min<int64_t>(int64_t(z.perColumn * columns) + 1,
                                                     snap->frames() - int64_t(start));
            t.start();
            int16_t lo = 0, hi = 0;
            for (int64_t pos = 0; pos < frames; pos += 1 << 20) {
                const int64_t n = std::min<int64_t>(1 << 20, frames - pos);
                buffer.resize(size_t(n * 2));
                snap->read(int64_t(start) + pos, n, buffer.data());
                for (int16_t v : buffer) {
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
            const double scanMs = t.nsecsElapsed() / 1e6;
            char what[80];
            std::snprintf(what, sizeof what, "peaks, 1000 columns, %s [ms]%s", z.name,
                          lo > hi ? " " : "");
            row(what, queryMs, "ms", scanMs, "scanning the samples", 8);
        }
    }
    return 0;
}
