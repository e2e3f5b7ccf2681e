// The editor's commands and keys change the document's samples as they should, refuse what
// cannot be done, and its load and save report failures.

#include "editor_support.h"

#include "TestSupport.h"
#include "platform/editor/ui/WaveformView.h"

#include <QApplication>
#include <QFile>
#include <QTest>

using namespace chimora;
using namespace editortest;

namespace {
constexpr int kRate = 8000;
constexpr int64_t kFrames = 16000;

std::vector<int16_t> slice(const std::vector<int16_t>& v, int64_t from, int64_t to) {
    return {v.begin() + from, v.begin() + to};
}
std::vector<int16_t> join(std::vector<int16_t> a, const std::vector<int16_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

class TestEditorEdit : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_wav;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // Mono, so frames and samples are the same index.
        m_wav = makeToneWav(m_dir, QStringLiteral("tone.wav"), kFrames, kRate, 1);
        QVERIFY(!m_wav.isEmpty());
    }

    void keysEditTheSamples() {
        auto editor = openEditor(m_wav, WithFocus);
        QVERIFY(editor);
        AudioDocument* doc = editor->document();
        QWidget* view = editor->view();
        const std::vector<int16_t> original = allSamples(*doc);
        QCOMPARE(int64_t(original.size()), kFrames);

        // Ctrl+X cuts exactly the selection.
        doc->setSelection(1000, 5000);
        QTest::keyClick(view, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(allSamples(*doc), join(slice(original, 0, 1000), slice(original, 5000, kFrames)));

        // Ctrl+Z restores samples and selection; Ctrl+Shift+Z and Ctrl+Y redo.
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(allSamples(*doc), original);
        QCOMPARE(doc->selection(), (Selection{1000, 5000}));
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(doc->frameCount(), kFrames - 4000);
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(doc->frameCount(), kFrames - 4000);
        QTest::keyClick(view, Qt::Key_Y, Qt::ControlModifier); // nothing left to redo
        QCOMPARE(doc->frameCount(), kFrames - 4000);
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(allSamples(*doc), original);

        // Ctrl+C then Ctrl+V at the cursor inserts a copy; Ctrl+V over a selection replaces it.
        doc->setSelection(2000, 2500);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(allSamples(*doc), original); // copying changes nothing
        doc->setCursor(100);
        QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
        const std::vector<int16_t> inserted =
            join(join(slice(original, 0, 100), slice(original, 2000, 2500)),
                 slice(original, 100, kFrames));
        QCOMPARE(allSamples(*doc), inserted);
        doc->setSelection(0, 10);
        QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(allSamples(*doc),
                 join(slice(original, 2000, 2500), slice(inserted, 10, inserted.size())));

        // Delete removes the selection; Ctrl+A then Delete empties; undo brings all back.
        QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(doc->selection(), (Selection{0, doc->frameCount()}));
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(doc->frameCount(), int64_t(0));
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(allSamples(*doc), original);
    }

    void arrowKeysMoveTheCursorAndSelect() {
        auto editor = openEditor(m_wav, WithFocus);
        QVERIFY(editor);
        AudioDocument* doc = editor->document();
        QWidget* view = editor->view();
        const int64_t column = kFrames / kViewWidth; // frames per pixel at "whole file"
        struct Step {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            Selection expected; // empty: a cursor at .start
        };
        const Step steps[] = {
            {Qt::Key_Right, {}, {column, column}},
            {Qt::Key_Right, Qt::ShiftModifier, {column, 2 * column}},
            {Qt::Key_Right, Qt::ShiftModifier, {column, 3 * column}},
            {Qt::Key_Left, Qt::ShiftModifier, {column, 2 * column}},
            {Qt::Key_Left, {}, {column, column}}, // collapses to the start
            {Qt::Key_Left, Qt::ShiftModifier, {0, column}},
            {Qt::Key_Left, Qt::ShiftModifier, {0, column}}, // stops at the beginning
            {Qt::Key_End, {}, {kFrames, kFrames}},
            {Qt::Key_Home, Qt::ShiftModifier, {0, kFrames}},
            {Qt::Key_Right, {}, {kFrames, kFrames}},
        };
        for (const Step& s : steps) {
            QTest::keyClick(view, s.key, s.mods);
            QCOMPARE(doc->selection(), s.expected);
            if (s.expected.isEmpty())
                QCOMPARE(doc->cursor(), s.expected.start);
        }
        // Zoomed in, the cursor stays in view as it moves.
        editor->view()->setView(0, 1.0);
        QTest::keyClick(view, Qt::Key_Home);
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(view, Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(doc->cursor(), int64_t(3 * kViewWidth));
        const double x = editor->view()->xOf(double(doc->cursor()));
        QVERIFY2(x >= 0 && x < kViewWidth, qPrintable(QString::number(x)));
    }

    void zoomKeys() {
        auto editor = openEditor(m_wav, WithFocus);
        QVERIFY(editor);
        WaveformView* view = editor->view();
        const double fit = view->framesPerPixel();
        QTest::keyClick(view, Qt::Key_Plus);
        QCOMPARE(view->framesPerPixel(), fit / 2);
        QTest::keyClick(view, Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(view->framesPerPixel(), fit / 4);
        QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier);
        QTest::keyClick(view, Qt::Key_Minus);
        QTest::keyClick(view, Qt::Key_Minus); // already whole file
        QCOMPARE(view->framesPerPixel(), fit);
        QVERIFY(view->isFitToWidth());
    }

    void refusedCommandsChangeNothing() {
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        AudioDocument* doc = editor->document();
        const std::vector<int16_t> original = allSamples(*doc);
        doc->setCursor(500);
        // Nothing selected, nothing copied, nothing to undo or redo; unknown numbers.
        for (const int command : std::initializer_list<int>{
                 AudioEditor::CutCommand, AudioEditor::CopyCommand, AudioEditor::RemoveCommand,
                 AudioEditor::PasteCommand, AudioEditor::UndoCommand, AudioEditor::RedoCommand,
                 AudioEditor::ZoomOutCommand, 0, 2, 11, 49, 212, -1})
            QVERIFY2(!editor->invoke(command), qPrintable(QString::number(command)));
        QCOMPARE(allSamples(*doc), original);
        QCOMPARE(doc->cursor(), int64_t(500));
        QVERIFY(doc->undoStack()->count() == 0);

        // The numbered commands do edit.
        doc->setSelection(0, 4000);
        QVERIFY(editor->invoke(AudioEditor::CutCommand));
        QVERIFY(editor->invoke(AudioEditor::PasteCommand));
        QCOMPARE(allSamples(*doc), original);
        QVERIFY(editor->invoke(AudioEditor::UndoCommand));
        QVERIFY(editor->invoke(AudioEditor::UndoCommand));
        QVERIFY(editor->invoke(AudioEditor::RedoCommand));
        QCOMPARE(doc->frameCount(), kFrames - 4000);
        doc->setSelection(0, 1000);
        QVERIFY(editor->invoke(AudioEditor::RemoveCommand));
        QCOMPARE(doc->frameCount(), kFrames - 5000);
    }

    void failedLoadShowsWhyAndHoldsNoAudio_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("name");
        QTest::addRow("garbage mp3") << QByteArray(5000, '\x5a') << "broken.mp3";
        QTest::addRow("empty wav") << QByteArray() << "empty.wav";
        QTest::addRow("missing") << QByteArray("-") << "missing.ogg";
    }
    void failedLoadShowsWhyAndHoldsNoAudio() {
        QFETCH(QByteArray, content);
        QFETCH(QString, name);
        const QString path = m_dir.filePath(name);
        if (content != "-") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        auto editor = openEditor(m_wav); // good audio first: none of it may survive
        QVERIFY(editor);
        editor->document()->setSelection(0, 100);
        editor->load(path);
        finishLoad(*editor);
        QCOMPARE(editor->document()->frameCount(), int64_t(0));
        QVERIFY(editor->document()->snapshot()->frames() == 0);
        const QString message = editor->view()->message();
        QVERIFY2(message.contains(name), qPrintable(message));
        QCOMPARE(message, editor->document()->loadError());

        const QString out = m_dir.filePath(QStringLiteral("out-%1.wav").arg(name));
        const Result<void> saved = editor->save(out, false, AudioEditor::kSaveModePcm16Wav);
        QVERIFY(!saved.ok());
        QVERIFY(!saved.error().message.isEmpty());
        QVERIFY(!QFile::exists(out));
        QVERIFY(!editor->invoke(AudioEditor::PlayCommand));
    }

    void saveWritesTheSetFormat_data() {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<bool>("selectionOnly");
        QTest::addColumn<int>("expectRate");
        QTest::addColumn<int>("expectChannels");
        QTest::addColumn<double>("expectSeconds");
        QTest::addRow("as the source") << 0 << 0 << false << kRate << 1 << 2.0;
        QTest::addRow("22050 stereo") << 22050 << 2 << false << 22050 << 2 << 2.0;
        QTest::addRow("selection, 11025 mono") << 11025 << 1 << true << 11025 << 1 << 0.5;
    }
    void saveWritesTheSetFormat() {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(bool, selectionOnly);
        QFETCH(int, expectRate);
        QFETCH(int, expectChannels);
        QFETCH(double, expectSeconds);
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        editor->document()->setSelection(4000, 8000);
        editor->format()->setFormat(rate, channels, 128);
        const QString out =
            m_dir.filePath(QStringLiteral("saved-%1.wav").arg(QTest::currentDataTag()));
        const Result<void> saved = editor->save(out, selectionOnly, 1);
        QVERIFY2(saved.ok(), qPrintable(saved.ok() ? QString() : saved.error().message));
        const testsupport::Probe p = testsupport::probe(out);
        QVERIFY(p.ok);
        QCOMPARE(p.codec, QStringLiteral("pcm_s16le"));
        QCOMPARE(p.sampleRate, expectRate);
        QCOMPARE(p.channels, expectChannels);
        QVERIFY2(std::abs(p.durationSeconds - expectSeconds) < 0.01,
                 qPrintable(QString::number(p.durationSeconds)));
    }

    void saveRefusesWhatItCannotWrite() {
        auto editor = openEditor(m_wav);
        QVERIFY(editor);
        const QString out = m_dir.filePath(QStringLiteral("refused.wav"));
        // Any mode but 16-bit PCM WAV, and a selection-only save with nothing selected.
        for (const int mode : {0, 2, 3, -1})
            QVERIFY(!editor->save(out, false, mode).ok());
        editor->document()->setCursor(100);
        QVERIFY(!editor->save(out, true, 1).ok());
        QVERIFY(!QFile::exists(out));
    }
};

QTEST_MAIN(TestEditorEdit)
#include "test_editor_edit.moc"
