#include "editor_support.h"

#include "TestSupport.h"
#include "platform/editor/ui/WaveformView.h"

#include <QApplication>
#include <QTest>

namespace editortest {

QString makeToneWav(const QTemporaryDir& dir, const QString& name, int64_t frames, int rate,
                    int channels) {
    const QString path = dir.filePath(name);
    const double seconds = static_cast<double>(frames) / rate;
    if (!testsupport::makeTone(path, seconds, rate, channels,
                               {QStringLiteral("-c:a"), QStringLiteral("pcm_s16le")}))
        return {};
    return path;
}

void finishLoad(chimora::AudioEditor& editor) {
    editor.document()->waitForLoad();
    QTRY_VERIFY(!editor.document()->isLoading());
    QCoreApplication::processEvents();
}

std::unique_ptr<chimora::AudioEditor> openEditor(const QString& path, Focus focus) {
    auto editor = std::make_unique<chimora::AudioEditor>();
    editor->resize(kViewWidth, 300);
    editor->show();
    if (!QTest::qWaitForWindowExposed(editor.get()))
        return nullptr;
    // The layout has no margins, so the view spans the editor's width.
    if (editor->view()->width() != kViewWidth)
        return nullptr;
    if (!path.isEmpty()) {
        editor->load(path);
        finishLoad(*editor);
    }
    if (focus == WithFocus) {
        QApplication::setActiveWindow(editor.get());
        editor->view()->setFocus();
        if (!QTest::qWaitForWindowActive(editor.get()) || !editor->view()->hasFocus())
            return nullptr;
    }
    return editor;
}

std::vector<int16_t> allSamples(chimora::AudioDocument& document) {
    const auto snapshot = document.snapshot();
    std::vector<int16_t> samples(static_cast<size_t>(snapshot->frames()) *
                                 std::max(1, snapshot->format().channels));
    snapshot->read(0, snapshot->frames(), samples.data());
    return samples;
}

} // namespace editortest
