// The suggested section on generated songs whose choruses are known: it must land in a chorus,
// be 8 to 30 seconds long, start on a beat where the song has drums, and the next candidate
// must not overlap it; on rendered songs it must be the chorus from its start to its end.
// Prints the quality tables.

#include "song_support.h"

#include "platform/audio/SampleBlock.h"
#include "platform/audio/SectionSuggester.h"

#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <random>

using namespace chimora;
using namespace songtest;

class TestSectionSuggestion : public QObject {
    Q_OBJECT
private slots:
    void knownStructureSongs() {
        constexpr int kRate = 11025;
        const std::vector<SongRecipe> recipes = knownSongs();
        int hits = 0;
        std::printf("%-28s %6s %7s %7s %7s %9s %7s\n", "song", "bpm", "start s", "length", "chorus",
                    "beat ms", "2nd");
        for (const SongRecipe& recipe : recipes) {
            const Song song = makeSong(recipe, kRate, 1);
            const SectionSuggester suggester(*song.audio);
            QVERIFY2(suggester.sections().size() >= 2, qPrintable(recipe.name));
            const Selection first = suggester.sections()[0].frames;
            const Selection second = suggester.sections()[1].frames;
            const double share = chorusShare(song, first);
            const double seconds = double(first.length()) / kRate;
            const double beatMs = 1000.0 * beatDistance(song, first.start) / kRate;
            hits += share >= 0.7;
            std::printf("%-28s %6.0f %7.2f %7.2f %6.0f%% %9.1f %6.0f%%\n", qPrintable(recipe.name),
                        recipe.bpm, double(first.start) / kRate, seconds, 100 * share,
                        suggester.sections()[0].startsOnBeat ? beatMs : -1.0,
                        100 * chorusShare(song, second));

            QVERIFY2(seconds >= SectionSuggester::kMinSeconds - 0.01 &&
                         seconds <= SectionSuggester::kMaxSeconds + 0.01,
                     qPrintable(recipe.name));
            QVERIFY(first.start >= 0 && first.end <= song.audio->frames());
            QVERIFY2(second.end <= first.start || second.start >= first.end,
                     qPrintable(recipe.name));
            // A song with drums has a beat, and the section starts on one (the generated
            // beats wander by up to 3 ms).
            if (recipe.drums) {
                QVERIFY2(suggester.sections()[0].startsOnBeat, qPrintable(recipe.name));
                QVERIFY2(beatMs < 25, qPrintable(recipe.name));
            }
        }
        std::printf("in a chorus (70%% or more): %d of %zu\n", hits, recipes.size());
        QVERIFY(hits >= int(recipes.size()) - int(recipes.size()) / 8);
    }

    // Four rendered songs, one for each way a fixed-length suggestion failed: a chorus shorter
    // than 20 s (pop and country: the end), three beats to a bar (the start), a build-up
    // before the drop (the drop).
    void renderedSongsScore() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QString error;
        const std::vector<RenderedSong> songs = renderChorusSongs(
            dir.path(), {"piano-pop", "folk-waltz", "dance-drop", "short-chorus-country"}, 22050,
            &error);
        QVERIFY2(songs.size() == 4, qPrintable(error));
        int starts = 0, ends = 0;
        for (const RenderedSong& song : songs) {
            std::unique_ptr<SuggestionAnalysis> analysis;
            int rate = 0;
            QVERIFY(streamWav(song.wavPath, [&](AudioFormat format, const int16_t* s, int64_t n) {
                if (!analysis)
                    analysis = std::make_unique<SuggestionAnalysis>(format);
                rate = format.sampleRate;
                analysis->feed(s, n);
                return true;
            }));
            const std::vector<SuggestedSection> sections = analysis->finish();
            QVERIFY2(!sections.empty(), qPrintable(song.name));
            const Selection first = sections[0].frames;
            const ChorusScore score =
                scoreSuggestion(song, double(first.start) / rate, double(first.end) / rate);
            std::printf("%-22s %d/%d beats a bar, IoU %.2f, start %+.2f s, end %+.2f s\n",
                        qPrintable(song.name), analysis->beatsPerBar(), song.beatsPerBar, score.iou,
                        score.startError, score.endError);
            QVERIFY2(score.iou >= 0.7, qPrintable(song.name));
            QCOMPARE(analysis->beatsPerBar(), song.beatsPerBar);
            starts += score.startError <= 0.5;
            ends += score.startError <= 0.5 && score.endError <= 1.0;
            // The other candidates: other choruses first, none overlapping another.
            for (size_t i = 1; i < sections.size(); ++i)
                for (size_t j = 0; j < i; ++j)
                    QVERIFY(sections[i].frames.end <= sections[j].frames.start ||
                            sections[i].frames.start >= sections[j].frames.end);
            QVERIFY(sections.size() >= 2 && sections[1].group == 0);
        }
        QVERIFY(starts >= 3);
        QVERIFY(ends >= 3);
    }

    // The analysis keeps no samples between blocks, so how the audio is cut must not matter.
    void blockSizeDoesNotMatter() {
        const Song song = makeSong(knownSongs()[0], 22050, 2);
        std::vector<int16_t> samples(size_t(song.audio->frames()) * 2);
        song.audio->read(0, song.audio->frames(), samples.data());
        const auto analyse = [&](const std::vector<int64_t>& cuts) {
            SuggestionAnalysis analysis({22050, 2});
            int64_t at = 0;
            for (size_t i = 0; at < song.audio->frames(); ++i) {
                const int64_t n = std::min(cuts[i % cuts.size()], song.audio->frames() - at);
                analysis.feed(samples.data() + at * 2, n);
                at += n;
            }
            return analysis.finish();
        };
        const auto whole = analyse({song.audio->frames()});
        const auto pieces = analyse({1, 7, 255, 1000, 4099});
        QVERIFY(!whole.empty());
        QCOMPARE(pieces.size(), whole.size());
        for (size_t i = 0; i < whole.size(); ++i)
            QCOMPARE(pieces[i].frames, whole[i].frames);
    }

    // Nothing repeats: the loudest 20 s, starting on a beat.
    void withoutRepeatsTheLoudestStretch() {
        constexpr int kRate = 11025;
        constexpr double kSeconds = 100, kLoudFrom = 55, kLoudTo = 80;
        std::mt19937 random(7);
        std::uniform_int_distribution<int> note(48, 84);
        std::vector<int16_t> samples(size_t(kSeconds * kRate));
        double hz = 0, phase = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            const double t = double(i) / kRate;
            const double step = std::fmod(t, 0.5);
            if (i % (kRate / 2) == 0) // a new random note every half second
                hz = 440 * std::pow(2.0, (note(random) - 69) / 12.0);
            phase += 2 * M_PI * hz / kRate;
            const double level = t >= kLoudFrom && t < kLoudTo ? 12000 : 3000;
            samples[i] = int16_t(level * std::exp(-6 * step) * std::sin(phase));
        }
        const auto audio =
            AudioSnapshot::make({kRate, 1}, {SampleBlock::make(1, std::move(samples))});
        const SectionSuggester suggester(*audio);
        QCOMPARE(suggester.sections().size(), size_t(1));
        const SuggestedSection s = suggester.sections()[0];
        QCOMPARE(s.group, -1);
        QVERIFY(s.startsOnBeat);
        QVERIFY(std::abs(double(s.frames.length()) / kRate - 20) < 0.6);
        QVERIFY(s.frames.start >= (kLoudFrom - 1) * kRate && s.frames.end <= (kLoudTo + 1) * kRate);
    }

    void shortAndSilentAudio_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("sections");
        QTest::newRow("under a second") << 0.5 << false << 0;
        QTest::newRow("shorter than a section: all of it") << 12.0 << false << 1;
        QTest::newRow("silence") << 45.0 << true << 1;
        QTest::newRow("a minute of one tone") << 60.0 << false << 1;
    }
    void shortAndSilentAudio() {
        QFETCH(double, seconds);
        QFETCH(bool, silent);
        QFETCH(int, sections);
        constexpr int kRate = 8000;
        const int64_t frames = int64_t(seconds * kRate);
        std::vector<int16_t> samples(static_cast<size_t>(frames));
        if (!silent)
            for (int64_t i = 0; i < frames; ++i)
                samples[size_t(i)] = int16_t(8000 * std::sin(2 * M_PI * 440 * i / kRate));
        const auto audio =
            AudioSnapshot::make({kRate, 1}, {SampleBlock::make(1, std::move(samples))});
        const SectionSuggester suggester(*audio);
        QVERIFY(int(suggester.sections().size()) >= sections);
        if (sections == 0)
            QVERIFY(suggester.sections().empty());
        for (const SuggestedSection& s : suggester.sections()) {
            QVERIFY(!s.frames.isEmpty());
            QVERIFY(s.frames.start >= 0 && s.frames.end <= frames);
            QVERIFY(s.frames.length() <= int64_t(SectionSuggester::kMaxSeconds * kRate) + 1);
        }
        QCOMPARE(suggester.beatPeriodFrames(), 0.0);
    }
};

QTEST_GUILESS_MAIN(TestSectionSuggestion)
#include "test_section_suggestion.moc"
