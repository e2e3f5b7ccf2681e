// The suggested section on generated songs whose choruses are known: it must land in a chorus,
// be 20 to 30 seconds long, start on a beat where the song has drums, and the next candidate
// must be other material. Prints the quality table.

#include "song_support.h"

#include "platform/audio/SampleBlock.h"
#include "platform/audio/SectionSuggester.h"

#include <QTest>

#include <cmath>
#include <cstdio>

using namespace chimora;
using namespace songtest;

class TestSectionSuggestion : public QObject {
    Q_OBJECT
private slots:
    void knownStructureSongs() {
        constexpr int kRate = 11025;
        const std::vector<SongRecipe> recipes = knownSongs();
        int hits = 0;
        std::printf("%-28s %6s %7s %7s %7s %9s %7s\n", "song", "bpm", "start s", "length",
                    "chorus", "beat ms", "2nd");
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
