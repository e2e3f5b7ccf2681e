// The audio document's waveform queries and edits, checked against plain vectors.

#include "TestSupport.h"
#include "engine_support.h"

#include "platform/audio/AudioDocument.h"
#include "platform/audio/SampleBlock.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <random>

using namespace chimora;

namespace {

constexpr int64_t kBlock = SampleBlock::kLoadFrames;

// The column ranges peaks() promises, computed the slow way.
std::vector<Peak> bruteForcePeaks(const std::vector<int16_t>& s, int channels, int channel,
                                  double start, double perColumn, int columns) {
    const int64_t frames = int64_t(s.size()) / channels;
    std::vector<Peak> out(static_cast<size_t>(columns));
    for (int i = 0; i < columns; ++i) {
        const double a = start + i * perColumn;
        int64_t lo = int64_t(std::floor(a)), hi = int64_t(std::floor(a + perColumn));
        hi = std::max(hi, lo + 1);
        lo = std::max<int64_t>(lo, 0);
        hi = std::min(hi, frames);
        if (lo >= hi)
            continue;
        Peak p{32767, -32768};
        for (int64_t f = lo; f < hi; ++f) {
            p.min = std::min(p.min, s[size_t(f * channels + channel)]);
            p.max = std::max(p.max, s[size_t(f * channels + channel)]);
        }
        out[size_t(i)] = p;
    }
    return out;
}

struct ModelState {
    std::vector<int16_t> samples;
    Selection selection;
    int64_t cursor = 0;
};

} // namespace

class TestAudioEditing : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_files = 0;

    // A document holding `samples`, loaded from a WAV file as a user's would be.
    void load(AudioDocument& doc, int channels, const std::vector<int16_t>& samples,
              int rate = 44100) {
        const QString path = m_dir.filePath(QStringLiteral("a%1.wav").arg(++m_files));
        QVERIFY(enginetest::writeWav(path, rate, channels, samples));
        QVERIFY2(enginetest::loadAndWait(doc, path), qPrintable(doc.loadError()));
        QCOMPARE(doc.frameCount(), int64_t(samples.size()) / channels);
    }

private slots:
    void peaksAreExactAtEveryZoom_data() {
        QTest::addColumn<bool>("fragmented");
        QTest::addColumn<double>("start");
        QTest::addColumn<double>("perColumn");
        for (bool fragmented : {false, true}) {
            const char* tag = fragmented ? "edited" : "loaded";
            struct Zoom {
                double start, perColumn;
            };
            for (Zoom z :
                 {Zoom{0, 0.25}, Zoom{kBlock - 7.5, 0.3}, Zoom{-20, 1}, Zoom{kBlock - 300, 1},
                  Zoom{5, 3.7}, Zoom{kBlock - 1000, 255}, Zoom{1, 256}, Zoom{0, 257},
                  Zoom{kBlock - 4096 * 3, 4096}, Zoom{13, 5000.5}, Zoom{0, 65536},
                  Zoom{-100000, 1234.5}, Zoom{2 * kBlock + 1, 977.25}, Zoom{0, 250000.0 / 300}})
                QTest::newRow(
                    qPrintable(QStringLiteral("%1 %2 %3").arg(tag).arg(z.start).arg(z.perColumn)))
                    << fragmented << z.start << z.perColumn;
        }
    }
    void peaksAreExactAtEveryZoom() {
        QFETCH(bool, fragmented);
        QFETCH(double, start);
        QFETCH(double, perColumn);
        // Ramps (rising on the left, falling on the right) put each range's extremes on its
        // first and last frame, so a range end that is off by one always shows; pulses sit on
        // and beside block and summary-unit edges.
        std::vector<int16_t> model(250000 * 2);
        for (int64_t f = 0; f < 250000; ++f) {
            model[size_t(2 * f)] = int16_t((f * 3) % 60000 - 30000);
            model[size_t(2 * f + 1)] = int16_t(30000 - (f * 5) % 60000);
        }
        int16_t pulse = 32767;
        for (int64_t f :
             {int64_t(0), int64_t(255), int64_t(256), int64_t(4095), int64_t(4096), kBlock - 1,
              kBlock, kBlock + 1, 2 * kBlock - 1, 2 * kBlock, 3 * kBlock, int64_t(250000 - 1)}) {
            model[size_t(2 * f)] = model[size_t(2 * f + 1)] = pulse;
            pulse = pulse > 0 ? -32768 : 32767;
        }
        AudioDocument doc;
        load(doc, 2, model);
        if (fragmented) {
            // Blocks of odd sizes: cut a ragged piece and paste it elsewhere, twice.
            for (auto [a, b, at] : {std::tuple{1000, 70001, 150003}, std::tuple{3, 300, 99}}) {
                doc.setSelection(a, b);
                QVERIFY(doc.cut());
                doc.setCursor(at);
                QVERIFY(doc.paste());
                std::vector<int16_t> piece(model.begin() + a * 2, model.begin() + b * 2);
                model.erase(model.begin() + a * 2, model.begin() + b * 2);
                model.insert(model.begin() + at * 2, piece.begin(), piece.end());
            }
            QVERIFY(doc.snapshot()->blocks().size() > 6);
        }
        const int columns = 1000;
        for (int channel : {0, 1}) {
            std::vector<Peak> got(columns);
            doc.snapshot()->peaks(channel, start, perColumn, columns, got.data());
            const auto want = bruteForcePeaks(model, 2, channel, start, perColumn, columns);
            for (int i = 0; i < columns; ++i)
                if (got[size_t(i)].min != want[size_t(i)].min ||
                    got[size_t(i)].max != want[size_t(i)].max)
                    QFAIL(qPrintable(QStringLiteral("channel %1 column %2: %3..%4, want %5..%6")
                                         .arg(channel)
                                         .arg(i)
                                         .arg(got[size_t(i)].min)
                                         .arg(got[size_t(i)].max)
                                         .arg(want[size_t(i)].min)
                                         .arg(want[size_t(i)].max)));
        }
    }

    // Random selections, copies, cuts, pastes, removes, undos and redos, each compared with
    // the same operation on a plain vector: samples, selection and cursor must agree exactly.
    void randomEditsMatchAPlainModel_data() {
        QTest::addColumn<uint32_t>("seed");
        QTest::addColumn<int>("channels");
        QTest::newRow("mono 1") << 1u << 1;
        QTest::newRow("stereo 2") << 2u << 2;
        QTest::newRow("stereo 3") << 3u << 2;
    }
    void randomEditsMatchAPlainModel() {
        QFETCH(uint32_t, seed);
        QFETCH(int, channels);
        std::mt19937 rng(seed);
        ModelState m{enginetest::noiseWithPulses(150001, channels, seed, {kBlock}), {}, 0};
        AudioDocument doc;
        load(doc, channels, m.samples);

        std::vector<std::pair<ModelState, ModelState>> history; // before, after
        size_t done = 0;                                        // steps not undone
        std::vector<int16_t> clipboard;
        auto frames = [&] { return int64_t(m.samples.size()) / channels; };
        auto pick = [&](int64_t lo, int64_t hi) {
            return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
        };
        auto push = [&](const ModelState& before) {
            history.resize(done);
            history.push_back({before, m});
            ++done;
        };
        auto at = [&](int64_t frame) { return m.samples.begin() + frame * channels; };

        for (int step = 0; step < 400; ++step) {
            const int op = int(pick(0, 7));
            const Selection sel = m.selection;
            const ModelState before = m;
            QString what;
            switch (op) {
            case 0: { // selection, either order, possibly out of range
                int64_t a = pick(-10, frames() + 10), b = pick(-10, frames() + 10);
                // Mostly short ranges so the audio does not run away or vanish.
                if (pick(0, 3) > 0)
                    b = a + pick(-30000, 30000);
                doc.setSelection(a, b);
                if (a > b)
                    std::swap(a, b);
                a = std::clamp<int64_t>(a, 0, frames());
                b = std::clamp<int64_t>(b, 0, frames());
                m.selection = {a, b};
                m.cursor = a;
                what = "select";
                break;
            }
            case 1: {
                const int64_t c = pick(-5, frames() + 5);
                doc.setCursor(c);
                m.cursor = std::clamp<int64_t>(c, 0, frames());
                m.selection = {m.cursor, m.cursor};
                what = "cursor";
                break;
            }
            case 2:
                QCOMPARE(doc.copy(), !sel.isEmpty());
                if (!sel.isEmpty())
                    clipboard.assign(at(sel.start), at(sel.end));
                what = "copy";
                break;
            case 3:
            case 5: {
                const bool isCut = op == 3;
                QCOMPARE(isCut ? doc.cut() : doc.remove(), !sel.isEmpty());
                if (!sel.isEmpty()) {
                    if (isCut)
                        clipboard.assign(at(sel.start), at(sel.end));
                    m.samples.erase(at(sel.start), at(sel.end));
                    m.selection = {sel.start, sel.start};
                    m.cursor = sel.start;
                    push(before);
                }
                what = isCut ? "cut" : "remove";
                break;
            }
            case 4: {
                QCOMPARE(doc.paste(), !clipboard.empty());
                if (!clipboard.empty()) {
                    const int64_t a = sel.isEmpty() ? m.cursor : sel.start;
                    const int64_t b = sel.isEmpty() ? m.cursor : sel.end;
                    m.samples.erase(at(a), at(b));
                    m.samples.insert(at(a), clipboard.begin(), clipboard.end());
                    m.selection = {a, a + int64_t(clipboard.size()) / channels};
                    m.cursor = a;
                    push(before);
                }
                what = "paste";
                break;
            }
            case 6:
                QCOMPARE(doc.undoStack()->canUndo(), done > 0);
                doc.undoStack()->undo();
                if (done > 0)
                    m = history[--done].first;
                what = "undo";
                break;
            case 7:
                QCOMPARE(doc.undoStack()->canRedo(), done < history.size());
                doc.undoStack()->redo();
                if (done < history.size())
                    m = history[done++].second;
                what = "redo";
                break;
            }
            const QByteArray where = QStringLiteral("step %1 (%2)").arg(step).arg(what).toUtf8();
            QVERIFY2(doc.frameCount() == frames(), where);
            QVERIFY2(enginetest::allSamples(*doc.snapshot()) == m.samples, where);
            QVERIFY2(doc.selection() == m.selection, where);
            QVERIFY2(doc.cursor() == m.cursor, where);
        }
    }

    // An edit shares the untouched blocks: cutting from a long file, pasting it back and
    // undoing make at most the partial blocks at the edit's edges, never a copy of the file.
    void editsCostTheirEdgesNotTheFile() {
        const int64_t frames = 40 * kBlock + 123;
        std::vector<int16_t> samples(size_t(frames * 2));
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = int16_t(i * 31);
        AudioDocument doc;
        load(doc, 2, samples);
        const int64_t blockBytes = kBlock * 2 * 2;
        auto made = [] { return SampleBlock::totalSampleBytesMade(); };

        int64_t before = made();
        doc.setSelection(3 * kBlock + 17, 30 * kBlock + 5);
        QVERIFY(doc.cut());
        QVERIFY(made() - before <= 2 * blockBytes);
        before = made();
        doc.setCursor(kBlock / 2);
        QVERIFY(doc.paste());
        QVERIFY(made() - before <= 2 * blockBytes);
        before = made();
        doc.undoStack()->undo();
        doc.undoStack()->undo();
        doc.undoStack()->redo();
        QCOMPARE(made(), before);
        doc.undoStack()->undo();
        QCOMPARE(enginetest::allSamples(*doc.snapshot()), samples);
    }

    // The clipboard keeps its format: audio copied from a 44.1 kHz stereo file is not pasted
    // into an 8 kHz mono one (that would play at the wrong speed with channels crossed).
    void pasteRefusesAnotherFormat() {
        AudioDocument doc;
        load(doc, 2, enginetest::noiseWithPulses(5000, 2, 1, {}));
        doc.setSelection(0, 1000);
        QVERIFY(doc.copy());
        const auto mono = enginetest::noiseWithPulses(3000, 1, 2, {});
        load(doc, 1, mono, 8000);
        QVERIFY(!doc.canPaste());
        QVERIFY(!doc.paste());
        QCOMPARE(enginetest::allSamples(*doc.snapshot()), mono);
    }

    // A listener that answers a failed load by opening another file hears only about that
    // other file from then on: the failure is not reported a second time as the new load's.
    void aLoadStartedFromAFailureHearsOnlyItsOwnEnd() {
        const QString bad = m_dir.filePath("broken.mp3");
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        const QString good = m_dir.filePath("good.wav");
        QVERIFY(enginetest::writeWav(good, 8000, 1, enginetest::noiseWithPulses(4000, 1, 3, {})));

        AudioDocument doc;
        QList<bool> finished;
        connect(&doc, &AudioDocument::loadFinished, this, [&](bool ok) { finished << ok; });
        connect(&doc, &AudioDocument::contentChanged, this, [&] {
            if (!doc.loadError().isEmpty() && doc.path() == bad)
                doc.load(good);
        });
        doc.load(bad);
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(finished.first(), true);
        QCOMPARE(doc.path(), good);
        QCOMPARE(doc.frameCount(), int64_t(4000));
    }
};

QTEST_GUILESS_MAIN(TestAudioEditing)
#include "test_audio_editing.moc"
