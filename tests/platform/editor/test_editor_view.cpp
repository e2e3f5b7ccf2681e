// The waveform view: mouse gestures map to exact frames at several zooms, zoom limits and zoom
// around the pointer, and positions typed or shown as times.

#include "editor_support.h"

#include "platform/editor/TimeText.h"
#include "platform/editor/ui/WaveformView.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include <cmath>

using namespace chimora;
using namespace editortest;

namespace {

constexpr int kRate = 44100;
constexpr int64_t kFrames = 441000; // 10 s
constexpr int kY = 150;             // inside the waveform, below the ruler

void mouse(QWidget* w, QEvent::Type type, double x, Qt::KeyboardModifiers mods = {}) {
    const QPointF pos(x, kY);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

void drag(QWidget* w, double fromX, double toX, Qt::KeyboardModifiers mods = {}) {
    mouse(w, QEvent::MouseButtonPress, fromX, mods);
    // Several steps, as a real hand moves.
    for (int i = 1; i <= 4; ++i)
        mouse(w, QEvent::MouseMove, fromX + (toX - fromX) * i / 4, mods);
    mouse(w, QEvent::MouseButtonRelease, toX, mods);
}

void wheel(QWidget* w, double x, int delta, Qt::KeyboardModifiers mods) {
    const QPointF pos(x, kY);
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

int64_t frameOf(double startFrame, double fpp, double x) {
    return static_cast<int64_t>(std::llround(startFrame + x * fpp));
}

} // namespace

class TestEditorView : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_wav;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_wav = makeToneWav(m_dir, QStringLiteral("tone.wav"), kFrames, kRate, 2);
        QVERIFY(!m_wav.isEmpty());
    }

    void gesturesSelectExactFrames_data() {
        QTest::addColumn<double>("startFrame");
        QTest::addColumn<double>("framesPerPixel");
        QTest::addRow("whole file") << 0.0 << kFrames / 1000.0;
        QTest::addRow("one second") << 100000.0 << 44.1;
        QTest::addRow("one frame per pixel") << 12345.0 << 1.0;
        QTest::addRow("single samples") << 400000.0 << 1.0 / 16;
    }
    void gesturesSelectExactFrames() {
        QFETCH(double, startFrame);
        QFETCH(double, framesPerPixel);
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        AudioDocument* doc = editor->document();
        WaveformView* view = editor->view();
        QCOMPARE(doc->frameCount(), kFrames);
        view->setView(startFrame, framesPerPixel);
        QCOMPARE(view->framesPerPixel(), framesPerPixel);
        const auto at = [&](double x) { return frameOf(startFrame, framesPerPixel, x); };

        // A click sets the cursor and selects nothing.
        drag(view, 250, 250);
        QCOMPARE(doc->cursor(), at(250));
        QVERIFY(doc->selection().isEmpty());

        // Drag right to left selects the same range as left to right.
        drag(view, 600, 200);
        QCOMPARE(doc->selection(), (Selection{at(200), at(600)}));

        // Shift-click past the end moves the end; before the start moves the start.
        drag(view, 800, 800, Qt::ShiftModifier);
        QCOMPARE(doc->selection(), (Selection{at(200), at(800)}));
        drag(view, 100, 100, Qt::ShiftModifier);
        QCOMPARE(doc->selection(), (Selection{at(100), at(800)}));

        // The pointer shows where an edge can be grabbed.
        mouse(view, QEvent::MouseMove, 804);
        QCOMPARE(view->cursor().shape(), Qt::SizeHorCursor);
        mouse(view, QEvent::MouseMove, 500);
        QCOMPARE(view->cursor().shape(), Qt::IBeamCursor);

        // Grabbing an edge (a few pixels off) moves only that edge ...
        drag(view, 803, 900);
        QCOMPARE(doc->selection(), (Selection{at(100), at(900)}));
        drag(view, 98, 300);
        QCOMPARE(doc->selection(), (Selection{at(300), at(900)}));
        // ... and dragging it past the other edge turns the selection around.
        drag(view, 900, 50);
        QCOMPARE(doc->selection(), (Selection{at(50), at(300)}));

        // Shift-click with only a cursor selects from the cursor.
        drag(view, 400, 400);
        drag(view, 700, 700, Qt::ShiftModifier);
        QCOMPARE(doc->selection(), (Selection{at(400), at(700)}));

        // Scrolling and zooming never moved the view behind the gestures' backs.
        QCOMPARE(view->startFrame(), startFrame);
    }

    void dragPastTheEdgesClampsToTheAudio() {
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        AudioDocument* doc = editor->document();
        drag(editor->view(), 500, 5000); // fit to width: no scrolling, clamped to the end
        QCOMPARE(doc->selection(), (Selection{frameOf(0, kFrames / 1000.0, 500), kFrames}));
        drag(editor->view(), 600, -300);
        QCOMPARE(doc->selection(), (Selection{0, frameOf(0, kFrames / 1000.0, 600)}));
    }

    void zoomGoesFromWholeFileToSingleSamples() {
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        WaveformView* view = editor->view();
        QVERIFY(view->isFitToWidth());
        const double fit = view->framesPerPixel();
        QCOMPARE(fit, kFrames / 1000.0);

        int steps = 0;
        double previous = fit;
        while (editor->invoke(AudioEditor::ZoomInCommand)) {
            ++steps;
            // Each step halves, except the last, which stops at the limit.
            if (view->framesPerPixel() != view->minFramesPerPixel())
                QCOMPARE(view->framesPerPixel(), previous / 2);
            previous = view->framesPerPixel();
            QVERIFY(steps < 100);
        }
        QCOMPARE(view->framesPerPixel(), view->minFramesPerPixel());
        QCOMPARE(steps, static_cast<int>(std::ceil(std::log2(fit / view->minFramesPerPixel()))));
        QVERIFY(!editor->zoomIn()); // refused at the limit

        while (editor->invoke(AudioEditor::ZoomOutCommand))
            QVERIFY(--steps >= 0);
        QVERIFY(view->isFitToWidth());
        QCOMPARE(view->startFrame(), 0.0);
        QCOMPARE(view->framesPerPixel(), fit);
        QVERIFY(!editor->zoomOut());
    }

    void ctrlWheelZoomsAroundThePointer_data() {
        QTest::addColumn<double>("pointerX");
        QTest::addColumn<int>("notches");
        QTest::addRow("left, in") << 120.0 << 1;
        QTest::addRow("middle, in twice") << 500.0 << 2;
        QTest::addRow("right, in") << 930.0 << 1;
        QTest::addRow("left, out") << 120.0 << -1;
    }
    void ctrlWheelZoomsAroundThePointer() {
        QFETCH(double, pointerX);
        QFETCH(int, notches);
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        WaveformView* view = editor->view();
        view->setView(150000, 20.0);
        const double before = view->startFrame() + pointerX * view->framesPerPixel();
        wheel(view, pointerX, 120 * notches, Qt::ControlModifier);
        QCOMPARE(view->framesPerPixel(), 20.0 / std::pow(2.0, notches));
        const double after = view->startFrame() + pointerX * view->framesPerPixel();
        QVERIFY2(std::abs(after - before) < 1e-6, qPrintable(QString::number(after - before)));
    }

    void plainWheelScrollsWithinTheAudio() {
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        WaveformView* view = editor->view();
        view->setView(0, 100.0); // 100000 of 441000 frames visible
        wheel(view, 500, -120, {});
        QVERIFY(view->startFrame() > 0);
        for (int i = 0; i < 200; ++i)
            wheel(view, 500, -120, {});
        QCOMPARE(view->startFrame(), static_cast<double>(kFrames - 100000));
        for (int i = 0; i < 200; ++i)
            wheel(view, 500, 120, {});
        QCOMPARE(view->startFrame(), 0.0);
        QCOMPARE(view->framesPerPixel(), 100.0);
    }

    void typedTimesSelectAPreciseSection() {
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        AudioDocument* doc = editor->document();
        auto* start = editor->findChild<QLineEdit*>(QStringLiteral("selectionStart"));
        auto* end = editor->findChild<QLineEdit*>(QStringLiteral("selectionEnd"));
        auto* length = editor->findChild<QLineEdit*>(QStringLiteral("selectionLength"));
        QVERIFY(start && end && length);
        const auto type = [](QLineEdit* field, const QString& text) {
            field->setText(text);
            emit field->editingFinished();
        };
        type(end, QStringLiteral("0:02.500"));
        QCOMPARE(doc->selection(), (Selection{0, 110250}));
        type(start, QStringLiteral("1.25"));
        QCOMPARE(doc->selection(), (Selection{55125, 110250}));
        type(length, QStringLiteral("0:00.010"));
        QCOMPARE(doc->selection(), (Selection{55125, 55566}));
        QCOMPARE(end->text(), QStringLiteral("0:01.260"));
        // Nonsense is refused and the fields show the selection again; too long is clamped.
        type(start, QStringLiteral("soon"));
        QCOMPARE(doc->selection(), (Selection{55125, 55566}));
        QCOMPARE(start->text(), QStringLiteral("0:01.250"));
        type(length, QStringLiteral("99:00"));
        QCOMPARE(doc->selection(), (Selection{55125, kFrames}));
        // In sample numbers, exact frames.
        editor->displayOption()->setValue(static_cast<int>(TimeFormat::Frames));
        QCOMPARE(start->text(), QStringLiteral("55125"));
        type(start, QStringLiteral("1001"));
        type(end, QStringLiteral("1002"));
        QCOMPARE(doc->selection(), (Selection{1001, 1002}));
    }

    void timesAsText_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<qint64>("frames");
        QTest::addColumn<QString>("text");
        const int ms = static_cast<int>(TimeFormat::MinutesSeconds);
        const int s = static_cast<int>(TimeFormat::Seconds);
        const int f = static_cast<int>(TimeFormat::Frames);
        QTest::addRow("zero") << ms << qint64(0) << "0:00.000";
        QTest::addRow("rounds to ms") << ms << qint64(44122) << "0:01.000";
        QTest::addRow("ms carry") << ms << qint64(44099) << "0:01.000";
        QTest::addRow("minutes") << ms << qint64(62 * 44100 + 15435) << "1:02.350";
        QTest::addRow("hours") << ms << qint64(3723LL * 44100 + 20114) << "1:02:03.456";
        QTest::addRow("seconds") << s << qint64(3 * 44100 + 441) << "3.010";
        QTest::addRow("long seconds") << s << qint64(4000LL * 44100) << "4000.000";
        QTest::addRow("frames") << f << qint64(123456789) << "123456789";
    }
    void timesAsText() {
        QFETCH(int, format);
        QFETCH(qint64, frames);
        QFETCH(QString, text);
        QCOMPARE(formatTime(frames, kRate, static_cast<TimeFormat>(format)), text);
    }

    void typedTimes_data() {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("frames"); // -1: refused
        const int ms = static_cast<int>(TimeFormat::MinutesSeconds);
        const int f = static_cast<int>(TimeFormat::Frames);
        QTest::addRow("m:ss.fff") << ms << "1:02.350" << qint64(62 * 44100 + 15435);
        QTest::addRow("h:mm:ss") << ms << "1:00:00" << qint64(3600LL * 44100);
        QTest::addRow("seconds") << ms << " 12.5 " << qint64(551250);
        QTest::addRow("comma, unit") << ms << "12,5 s" << qint64(551250);
        QTest::addRow("sub-ms") << ms << "0.0000227" << qint64(1);
        QTest::addRow("seconds past 59 after colon") << ms << "1:75" << qint64(-1);
        QTest::addRow("minutes past 59 after hours") << ms << "1:75:00" << qint64(-1);
        QTest::addRow("negative") << ms << "-3" << qint64(-1);
        QTest::addRow("empty") << ms << "" << qint64(-1);
        QTest::addRow("words") << ms << "two" << qint64(-1);
        QTest::addRow("frames") << f << "1002" << qint64(1002);
        QTest::addRow("frames refuse fractions") << f << "10.5" << qint64(-1);
    }
    void typedTimes() {
        QFETCH(int, format);
        QFETCH(QString, text);
        QFETCH(qint64, frames);
        const std::optional<int64_t> parsed =
            parseTime(text, kRate, static_cast<TimeFormat>(format));
        QCOMPARE(parsed.value_or(-1), frames);
    }
};

QTEST_MAIN(TestEditorView)
#include "test_editor_view.moc"
