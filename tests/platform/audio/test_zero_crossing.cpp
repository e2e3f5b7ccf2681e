// Selection edges snapped to zero crossings: they land on sign changes within 10 ms, stay put
// where none is in reach, and the selection never grows past the audio or collapses.

#include "platform/audio/SampleBlock.h"
#include "platform/audio/ZeroCrossing.h"

#include <QTest>

#include <cmath>

using namespace chimora;

namespace {
constexpr int kRate = 8000; // 10 ms = 80 frames
constexpr int64_t kFrames = 8000;

enum class Signal { Sine, Offset, StereoOpposed, Noise };

std::shared_ptr<const AudioSnapshot> makeAudio(Signal signal) {
    const int channels = signal == Signal::StereoOpposed ? 2 : 1;
    std::vector<int16_t> s(size_t(kFrames * channels));
    uint32_t state = 12345;
    for (int64_t i = 0; i < kFrames; ++i) {
        // A 37 Hz sine crosses zero about every 108 frames, so some edges are out of reach.
        const double sine = 10000 * std::sin(2 * M_PI * 37.0 * double(i) / kRate + 0.3);
        switch (signal) {
        case Signal::Sine:
            s[size_t(i)] = int16_t(sine);
            break;
        case Signal::Offset:
            s[size_t(i)] = int16_t(sine / 4 + 5000); // never reaches zero
            break;
        case Signal::StereoOpposed: // the sum crosses where the louder left channel does
            s[size_t(2 * i)] = int16_t(sine);
            s[size_t(2 * i + 1)] = int16_t(-sine / 2);
            break;
        case Signal::Noise:
            state = state * 1664525u + 1013904223u;
            s[size_t(i)] = int16_t(int(state >> 16) - 32768);
            break;
        }
    }
    // Blocks of uneven size, so edges fall on and near block boundaries.
    BlockList blocks;
    const int64_t sizes[] = {1000, 3, 2997, 4000};
    int64_t at = 0;
    for (const int64_t n : sizes) {
        blocks.push_back(
            SampleBlock::make(channels, std::vector<int16_t>(s.begin() + at * channels,
                                                             s.begin() + (at + n) * channels)));
        at += n;
    }
    return AudioSnapshot::make({kRate, channels}, std::move(blocks));
}

int32_t mixAt(const AudioSnapshot& audio, int64_t frame) {
    int16_t f[2] = {};
    audio.read(frame, 1, f);
    return audio.format().channels == 2 ? f[0] + f[1] : f[0];
}

bool isCrossing(const AudioSnapshot& audio, int64_t b) {
    if (b == 0 || b == audio.frames())
        return true;
    return int64_t(mixAt(audio, b - 1)) * mixAt(audio, b) <= 0;
}
} // namespace

class TestZeroCrossing : public QObject {
    Q_OBJECT
private slots:
    void snapsEdges_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int64_t>("start");
        QTest::addColumn<int64_t>("end");
        QTest::addColumn<bool>("expectMoved");
        const auto row = [](const char* name, Signal s, int64_t a, int64_t b, bool moved) {
            QTest::newRow(name) << int(s) << a << b << moved;
        };
        row("sine, edges between crossings", Signal::Sine, 1234, 5678, true);
        row("sine, edges on block boundaries", Signal::Sine, 1000, 4000, true);
        row("stereo judged on the sum", Signal::StereoOpposed, 1234, 5678, true);
        row("noise crosses everywhere", Signal::Noise, 1001, 7001, true);
        row("no crossing in reach: edges stay", Signal::Offset, 1234, 5678, false);
        row("end near the audio's end: never past it", Signal::Offset, 3000, kFrames - 5, true);
        row("start near the audio's start", Signal::Offset, 7, 3000, true);
        row("a few frames: never collapses", Signal::Sine, 2000, 2003, true);
        row("the whole audio", Signal::Sine, 0, kFrames, false);
    }
    void snapsEdges() {
        QFETCH(int, signal);
        QFETCH(int64_t, start);
        QFETCH(int64_t, end);
        QFETCH(bool, expectMoved);
        const auto audio = makeAudio(Signal(signal));
        const int64_t reach = zeroCrossingReachFrames(kRate);
        QCOMPARE(reach, int64_t(80));
        const Selection in{start, end};
        const Selection out = snapToZeroCrossings(*audio, in, reach);

        QVERIFY(!out.isEmpty());
        QVERIFY(out.start >= 0 && out.end <= audio->frames());
        if (expectMoved)
            QVERIFY(out != in);
        else
            QCOMPARE(out, in);
        for (const auto& [before, after] : {std::pair{in.start, out.start}, {in.end, out.end}}) {
            const int64_t moved = std::abs(after - before);
            QVERIFY(moved <= reach);
            if (moved > 0)
                QVERIFY2(isCrossing(*audio, after), qPrintable(QString::number(after)));
            // No nearer crossing was passed over (unless the edges would have met).
            for (int64_t b = std::max<int64_t>(0, before - moved + 1);
                 in.length() > 2 * reach && b < std::min(audio->frames(), before + moved); ++b)
                QVERIFY2(!isCrossing(*audio, b), qPrintable(QString::number(b)));
        }
    }
};

QTEST_GUILESS_MAIN(TestZeroCrossing)
#include "test_zero_crossing.moc"
