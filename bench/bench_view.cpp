// Repainting the waveform view of a 60-minute stereo recording at several zooms, beside the
// time to paint an empty view of the same size. Target: at most 8 ms per repaint at any zoom.
// argv[1]: a folder for the generated audio (about 640 MB of headerless PCM, reused when there).

#include "platform/audio/AudioDocument.h"
#include "platform/editor/ui/WaveformView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace chimora;

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;
constexpr int64_t kFrames = int64_t(60) * 60 * kRate;
constexpr int kWidth = 1000;
constexpr int kHeight = 300;
constexpr int kRuns = 100;

// A tone whose loudness wanders, so every zoom has something to draw.
bool writeRecording(const QString& path) {
    const qint64 bytes = kFrames * kChannels * 2;
    if (QFileInfo(path).size() == bytes)
        return true;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    std::vector<int16_t> chunk(size_t(kRate) * kChannels);
    for (int64_t first = 0; first < kFrames; first += kRate) {
        for (int64_t i = 0; i < kRate; ++i) {
            const double t = double(first + i) / kRate;
            const double loud = 0.2 + 0.7 * std::abs(std::sin(t * 0.37));
            const double s = loud * std::sin(2 * M_PI * 220 * t) * 32000;
            chunk[size_t(i) * 2] = int16_t(s);
            chunk[size_t(i) * 2 + 1] = int16_t(-s * 0.5);
        }
        if (f.write(reinterpret_cast<const char*>(chunk.data()), qint64(chunk.size()) * 2) !=
            qint64(chunk.size()) * 2)
            return false;
    }
    return true;
}

struct Figures {
    double medianMs;
    double bestMs;
    double worstMs;
};

Figures timeRepaints(WaveformView& view) {
    QImage image(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
    view.render(&image); // warm caches
    std::vector<double> ms;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        view.render(&image);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const QString path = QDir(folder).filePath(QStringLiteral("view-60min.raw"));
    if (!writeRecording(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }

    AudioDocument empty;
    WaveformView emptyView(&empty);
    emptyView.resize(kWidth, kHeight);
    emptyView.show();
    const Figures baseline = timeRepaints(emptyView);

    AudioDocument document;
    RawPcmParams raw;
    raw.sampleRate = kRate;
    raw.channels = kChannels;
    document.load(path, &raw);
    document.waitForLoad();
    QCoreApplication::processEvents();
    if (document.frameCount() != kFrames) {
        std::fprintf(stderr, "loaded %lld of %lld frames: %s\n",
                     static_cast<long long>(document.frameCount()), static_cast<long long>(kFrames),
                     qPrintable(document.loadError()));
        return 1;
    }
    WaveformView view(&document);
    view.resize(kWidth, kHeight);
    view.show();
    QCoreApplication::processEvents();

    std::printf("repaint of a %dx%d view, 60-minute stereo 44.1 kHz, median (best-worst) of %d; "
                "target <= 8 ms\n",
                kWidth, kHeight, kRuns);
    std::printf("  %-22s %7.3f ms (%.3f-%.3f)\n", "baseline: empty view", baseline.medianMs,
                baseline.bestMs, baseline.worstMs);
    struct Zoom {
        const char* name;
        double visibleFrames;
    };
    const Zoom zooms[] = {{"whole file", double(kFrames)},
                          {"1 minute", 60.0 * kRate},
                          {"1 second", double(kRate)},
                          {"single samples", kWidth * view.minFramesPerPixel()}};
    bool ok = true;
    for (const Zoom& z : zooms) {
        const double fpp = z.visibleFrames / kWidth;
        // The middle of the file, where a view must skip the most blocks.
        view.setView(kFrames / 2.0 - z.visibleFrames / 2, fpp);
        const Figures f = timeRepaints(view);
        ok = ok && f.medianMs <= 8.0;
        std::printf("  %-22s %7.3f ms (%.3f-%.3f)   baseline %7.3f ms\n", z.name, f.medianMs,
                    f.bestMs, f.worstMs, baseline.medianMs);
    }
    std::printf("  %s\n", ok ? "within target" : "OVER TARGET");
    return 0;
}
