// A long recording from the test server's 440 Hz source: frames captured against frames in
// temp.mp3, the time from Stop until the recording is loaded for the editor, and the CPU the
// capture and meter use beside lame. argv[1]: folder for temp.mp3. CHIMORA_BENCH_RECORD_SECONDS
// sets the length (60).

#include "platform/audio/AudioDocument.h"
#include "platform/bass/Bass.h"
#include "platform/core/AppFolder.h"
#include "record/BassRecordDevice.h"
#include "record/RecordEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

using namespace chimora;

namespace {

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    setAppFolderForTesting(folder);
    const int seconds = qEnvironmentVariableIntValue("CHIMORA_BENCH_RECORD_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("CHIMORA_BENCH_RECORD_SECONDS")
                            : 60;
    if (!BASS_RecordInit(-1)) {
        std::fprintf(stderr, "no audio server (error %d)\n", BASS_ErrorGetCode());
        return 1;
    }
    BassRecordDevice device;
    RecordEngine engine(device);
    QString recorded;
    QObject::connect(&engine, &RecordEngine::recordingFinished,
                     [&](const QString& path) { recorded = path; });
    engine.open();

    // The window's meter pace, so its cost is counted.
    QTimer meter;
    QObject::connect(&meter, &QTimer::timeout, [&] { engine.takePeak(); });
    meter.start(40);
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    engine.StartRecording();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (engine.capturedFrames() >= int64_t(seconds) * 44100)
            loop.quit();
    });
    poll.start(100);
    loop.exec();
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    const double elapsed = wall.elapsed() / 1000.0;

    QElapsedTimer stop;
    stop.start();
    engine.StopRecording();
    const int64_t captured = engine.capturedFrames();
    AudioDocument doc;
    doc.load(recorded);
    doc.waitForLoad();
    const double stopToEditor = stop.elapsed() / 1000.0;
    const int64_t decoded = doc.frameCount();

    std::printf("recording of %d s\n", seconds);
    std::printf("  frames captured %lld, in temp.mp3 %lld, difference %lld (target: within "
                "1152 plus padding)\n",
                (long long)captured, (long long)decoded, (long long)(decoded - captured));
    std::printf("  Stop to loaded for the editor: %.3f s (target 0.5 s)\n", stopToEditor);
    std::printf("  capture and meter CPU: %.2f %% of one core (target under 5 %%; lame runs "
                "apart)\n",
                100.0 * cpu / elapsed);
    BASS_RecordFree();
    return 0;
}
