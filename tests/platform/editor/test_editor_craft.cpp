// The suggested section, the loop preview and snapped edges in the editor. The loop's samples
// are counted where the player reads them, on the test audio server.

#include "editor_support.h"
#include "engine_support.h"

#include "TestSupport.h"
#include "platform/audio/SampleBlock.h"
#include "platform/audio/SectionLoop.h"
#include "platform/audio/ZeroCrossing.h"
#include "platform/editor/ui/WaveformView.h"
#include "platform/pulse/AudioPlayer.h"

#include <QAction>
#include <QTest>

#include <mutex>

using namespace chimora;
using namespace editortest;

namespace {
constexpr int kRate = 44100;
constexpr int kServerWaitMs = 15000;

bool onZeroCrossing(const AudioSnapshot& audio, int64_t b) {
    if (b == 0 || b == audio.frames())
        return true;
    int16_t f[4] = {};
    audio.read(b - 1, 2, f);
    const int channels = audio.format().channels;
    const int before = channels == 2 ? f[0] + f[1] : f[0];
    const int after = channels == 2 ? f[2] + f[3] : f[1];
    return int64_t(before) * after <= 0;
}
} // namespace

class TestEditorCraft : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_wav;
    QString m_song;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_wav = makeToneWav(m_dir, QStringLiteral("tone.wav"), 80 * kRate, kRate, 2);
        QVERIFY(!m_wav.isEmpty());
        // Two kinds of material in turn, 25 s each: a pulsing tone and noise.
        constexpr int kSongRate = 22050;
        std::vector<int16_t> song;
        uint32_t state = 1;
        for (int part = 0; part < 5; ++part)
            for (int64_t i = 0; i < 25 * kSongRate; ++i) {
                state = state * 1664525u + 1013904223u;
                const double t = double(i) / kSongRate;
                const int16_t v = part % 2 == 0 ? int16_t(9000 * std::sin(2 * M_PI * 330 * t) *
                                                          (0.6 + 0.4 * std::sin(2 * M_PI * 2 * t)))
                                                : int16_t((int(state >> 16) - 32768) / 8);
                song.push_back(v);
                song.push_back(v);
            }
        m_song = m_dir.filePath(QStringLiteral("song.wav"));
        QVERIFY(enginetest::writeWav(m_song, kSongRate, 2, song));
    }

    void loopReaderRepeatsTheSectionExactly() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        // Every frame different, so a repeat, a gap or a shift cannot pass for the right audio.
        std::vector<int16_t> samples(size_t(kRate) * 2);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = int16_t(i * 7919 % 65536 - 32768);
        // Blocks of uneven size, so the loop crosses block boundaries.
        BlockList blocks;
        for (size_t at = 0, n = 1000; at < samples.size(); at += n * 2, n = n * 3 % 9973 + 500)
            blocks.push_back(SampleBlock::make(
                2, std::vector<int16_t>(samples.begin() + long(at),
                                        samples.begin() +
                                            long(std::min(samples.size(), at + n * 2)))));
        const auto audio = AudioSnapshot::make({kRate, 2}, std::move(blocks));
        const Selection section{12345, 12345 + 3001}; // an odd length, not a block multiple
        auto loop = std::make_shared<const SectionLoop>(audio, section);

        std::mutex lock;
        std::vector<int16_t> heard;
        int64_t expectedNext = section.start;
        bool contiguous = true;
        AudioPlayer player;
        AudioPlayer::Reader reader = [&](int64_t first, int64_t count, int16_t* dst) {
            const int64_t got = loop->read(first, count, dst);
            std::lock_guard<std::mutex> guard(lock);
            contiguous = contiguous && first == expectedNext && got == count;
            expectedNext = first + got;
            heard.insert(heard.end(), dst, dst + got * 2);
            return got;
        };
        QVERIFY(player.play({kRate, 2}, reader, section.start, SectionLoop::kEndless));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                std::lock_guard<std::mutex> guard(lock);
                return heard.size() >= size_t(section.length()) * 2 * 5;
            }(),
            kServerWaitMs);
        player.stop();

        QVERIFY(contiguous);
        for (size_t i = 0; i < heard.size(); ++i) {
            const size_t frame = size_t(section.start) + (i / 2) % size_t(section.length());
            if (heard[i] != samples[frame * 2 + i % 2])
                QFAIL(qPrintable(QStringLiteral("sample %1 differs").arg(i)));
        }
    }

    void suggestionSelectsSnappedSectionsInTurn() {
        constexpr int kRate = 22050;
        auto editor = openEditor(m_song);
        QVERIFY(editor);
        AudioDocument* doc = editor->document();
        QVERIFY(!editor->snapsToZeroCrossings());
        QVERIFY(editor->suggestSection());
        QTRY_VERIFY(!doc->selection().isEmpty());
        const Selection first = doc->selection();
        QVERIFY(first.length() >= 20 * kRate - zeroCrossingReachFrames(kRate) * 2);
        QVERIFY(first.length() <= 30 * kRate);
        QVERIFY(editor->snapsToZeroCrossings());
        QVERIFY(editor->snapAction()->isChecked());
        const auto audio = doc->snapshot();
        QVERIFY(onZeroCrossing(*audio, first.start));
        QVERIFY(onZeroCrossing(*audio, first.end));

        QVERIFY(editor->suggestSection());
        QTRY_VERIFY(doc->selection() != first);
        const Selection second = doc->selection();
        QVERIFY(second.end <= first.start || second.start >= first.end);

        // With snapping on, edges made by dragging land on zero crossings too.
        WaveformView* view = editor->view();
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(100, 150));
        QTest::mouseMove(view, QPoint(400, 150));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(400, 150));
        const Selection dragged = doc->selection();
        QVERIFY(!dragged.isEmpty());
        QVERIFY(std::abs(dragged.start - view->frameAt(100)) <= zeroCrossingReachFrames(kRate));
        QVERIFY(onZeroCrossing(*audio, dragged.start));
        QVERIFY(onZeroCrossing(*audio, dragged.end));
    }

    void loopEndsWithStopOrAnotherPlay() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        QVERIFY(!editor->loopSelection()); // nothing selected
        const Selection section{kRate, kRate + kRate / 5};
        editor->document()->setSelection(section.start, section.end);
        QVERIFY(editor->loopSelection());
        QVERIFY(editor->isLooping());
        QVERIFY(editor->loopAction()->isChecked());
        // The playhead comes round again and never leaves the section.
        int64_t last = -1;
        bool wrapped = false, strayed = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const int64_t at = editor->playheadFrame();
                strayed = strayed || at < section.start || at >= section.end;
                wrapped = wrapped || (last > section.start + kRate / 10 && at < last);
                last = at;
                return wrapped;
            }(),
            kServerWaitMs);
        QVERIFY(!strayed);

        QVERIFY(editor->play()); // plain play ends the loop
        QVERIFY(editor->isPlaying());
        QVERIFY(!editor->isLooping());
        QVERIFY(!editor->loopAction()->isChecked());

        QVERIFY(editor->loopSelection());
        QVERIFY(editor->stop());
        QVERIFY(!editor->isPlaying());
        QVERIFY(!editor->isLooping());
    }
};

QTEST_MAIN(TestEditorCraft)
#include "test_editor_craft.moc"
