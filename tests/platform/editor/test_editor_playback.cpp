// Playing through the editor on the test audio server: what is played, the playhead while it
// plays, pause and resume, and where the playhead returns. Positions are checked as frame
// counts; waits only bound how long the server may take.

#include "editor_support.h"
#include "pulse_support.h"

#include "TestSupport.h"
#include "platform/editor/ui/WaveformView.h"

#include <QApplication>
#include <QTest>

using namespace chimora;
using namespace editortest;

namespace {
constexpr int kRate = 44100;
constexpr int64_t kFrames = 4 * kRate;
constexpr int kServerWaitMs = 15000;
} // namespace

class TestEditorPlayback : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_wav;

private slots:
    void initTestCase() {
        CHIMORA_REQUIRE_SERVICE(testsupport::havePulseServer(),
                                "the test audio server is not running (scripts/test starts it)");
        QVERIFY(m_dir.isValid());
        m_wav = makeToneWav(m_dir, QStringLiteral("tone.wav"), kFrames, kRate, 2);
        QVERIFY(!m_wav.isEmpty());
    }

    void playPauseResumeStop() {
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        editor->document()->setCursor(kRate); // from one second in to the end
        QVERIFY(editor->invoke(AudioEditor::PlayCommand));
        QVERIFY(editor->isPlaying());
        QVERIFY(!editor->invoke(AudioEditor::PlayCommand)); // already playing

        // The playhead moves on from where playing began, on screen too.
        QTRY_VERIFY_WITH_TIMEOUT(editor->playheadFrame() > kRate, kServerWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(editor->view()->playhead() > kRate, kServerWaitMs);
        QVERIFY(editor->playheadFrame() <= kFrames);

        // Pause holds the position; Play carries on from there.
        QVERIFY(editor->invoke(AudioEditor::PauseCommand));
        QVERIFY(editor->isPaused());
        const int64_t held = editor->playheadFrame();
        QVERIFY(pulsetest::letServerPlayBriefly());
        QCOMPARE(editor->playheadFrame(), held);
        QVERIFY(editor->invoke(AudioEditor::PlayCommand));
        QVERIFY(!editor->isPaused());
        QTRY_VERIFY_WITH_TIMEOUT(editor->playheadFrame() > held, kServerWaitMs);

        // Stop ends it and the playhead goes back to where playing began.
        QVERIFY(editor->invoke(AudioEditor::StopCommand));
        QVERIFY(!editor->isPlaying());
        QCOMPARE(editor->playheadFrame(), int64_t(kRate));
        QCOMPARE(editor->view()->playhead(), int64_t(-1));
        QVERIFY(!editor->invoke(AudioEditor::StopCommand));
        QVERIFY(!editor->invoke(AudioEditor::PauseCommand));
    }

    void playsOnlyTheSelection() {
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        const Selection section{2 * kRate, 2 * kRate + kRate / 4};
        editor->document()->setSelection(section.start, section.end);
        QVERIFY(editor->play());
        int64_t furthest = 0;
        bool strayed = false;
        // Runs to the end of the section by itself and never strays outside it.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (editor->isPlaying()) {
                    const int64_t at = editor->playheadFrame();
                    furthest = std::max(furthest, at);
                    strayed = strayed || at < section.start || at > section.end;
                }
                return !editor->isPlaying();
            }(),
            kServerWaitMs);
        QVERIFY(!strayed);
        QVERIFY(furthest > section.start);
        QCOMPARE(editor->playheadFrame(), section.start);
        QCOMPARE(editor->document()->selection(), section);
    }

    void viewFollowsThePlayhead_data() {
        QTest::addColumn<int>("behaviour");
        QTest::addRow("stays") << 0;
        QTest::addRow("scrolls") << 1;
        QTest::addRow("turns pages") << 3;
    }
    void viewFollowsThePlayhead() {
        QFETCH(int, behaviour);
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        editor->behaviourOption()->setValue(behaviour);
        WaveformView* view = editor->view();
        view->setView(0, kRate / 4.0 / kViewWidth); // a quarter second across
        QVERIFY(editor->play());
        QTRY_VERIFY_WITH_TIMEOUT(editor->playheadFrame() > kRate, kServerWaitMs);
        // A few ticks of the playhead, each moving it on screen.
        for (int tick = 0; tick < 3; ++tick) {
            const int64_t shown = view->playhead();
            QTRY_VERIFY_WITH_TIMEOUT(view->playhead() > shown, kServerWaitMs);
        }
        const int64_t heard = editor->view()->playhead();
        const double x = view->xOf(double(heard));
        if (behaviour == 0) {
            QCOMPARE(view->startFrame(), 0.0);
        } else {
            QVERIFY2(x >= 0 && x <= kViewWidth, qPrintable(QString::number(x)));
            if (behaviour == 1) // kept in the middle
                QVERIFY2(std::abs(x - kViewWidth / 2) < 2, qPrintable(QString::number(x)));
        }
        // Stopping brings the start back into view.
        QVERIFY(editor->stop());
        QVERIFY(view->xOf(0) >= 0);
    }

    void spaceStartsAndStops() {
        auto editor = openEditor(m_wav, WithFocus);
        QVERIFY(editor);
        QTest::keyClick(editor->view(), Qt::Key_Space);
        QVERIFY(editor->isPlaying());
        QTest::keyClick(editor->view(), Qt::Key_Space);
        QVERIFY(!editor->isPlaying());
    }

    void withoutAServerPlayDoesNoHarm() {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", "unix:/nonexistent/chimora-test/native");
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        const bool played = editor->play();
        qputenv("PULSE_SERVER", saved);
        QVERIFY(!played);
        QVERIFY(!editor->isPlaying());
        QVERIFY(!editor->statusText().isEmpty());
        QCOMPARE(editor->document()->frameCount(), kFrames);
    }
};

QTEST_MAIN(TestEditorPlayback)
#include "test_editor_playback.moc"
