#pragma once
// The audio being edited: an ordered list of shared, immutable sample blocks, a selection, a
// cursor, an internal clipboard and an undo history. No widgets; the editor widget paints from
// peaks() and edits through the operations below. UI thread unless said otherwise.

#include "platform/audio/AudioSnapshot.h"
#include "platform/audio/AudioTypes.h"
#include "platform/core/Result.h"

#include <QObject>
#include <QString>
#include <QUndoStack>

#include <cstdint>
#include <memory>
#include <vector>

namespace chimora {

class AudioDocument : public QObject {
    Q_OBJECT
public:
    explicit AudioDocument(QObject* parent = nullptr);
    ~AudioDocument() override;

    AudioFormat format() const;
    int64_t frameCount() const;
    bool isEmpty() const;
    /// Cheap: shares the blocks.
    std::shared_ptr<const AudioSnapshot> snapshot() const;

    // Selection and cursor; not undo steps. Values are clamped to [0, frameCount()].
    Selection selection() const;
    void setSelection(int64_t a, int64_t b); ///< in either order
    int64_t cursor() const;
    void setCursor(int64_t frame); ///< also clears the selection

    // Editing; each successful edit is one step on undoStack(). Undo and redo restore the exact
    // samples and the selection. Return false when there was nothing to do.
    QUndoStack* undoStack();
    bool copy();   ///< selection to the internal clipboard
    bool cut();    ///< copy, then remove
    bool paste();  ///< clipboard at the cursor, replacing the selection when there is one
    bool remove(); ///< deletes the selection
    /// True when the clipboard holds audio of this document's format and no load is running
    /// (edits wait until the audio is complete, so the history never misses decoded audio).
    bool canPaste() const;
    /// True when cut/remove/paste may run now: audio is loaded and no load is running.
    bool canEdit() const;

    // Loading. load() returns at once; decoding runs on a worker thread and the audio grows as
    // it decodes (contentChanged). A new load cancels a running one and clears the history.
    void load(const QString& path, const RawPcmParams* raw = nullptr);
    bool isLoading() const;
    /// Blocks until a running load has finished (a save waits for it).
    void waitForLoad();
    /// Why the last load failed, for people ("name.mp3 could not be read: ..."); empty when the
    /// audio loaded. A failed load leaves the document empty. A file that breaks off part way
    /// (truncated, damaged near the end) keeps the audio decoded up to the break and counts as
    /// loaded. Cut, remove and paste are refused until a load has finished.
    QString loadError() const;
    QString path() const;
    void clear();

signals:
    void contentChanged();   ///< samples or length changed (edit, undo, load progress)
    void selectionChanged(); ///< selection or cursor changed
    void loadStarted();
    void loadFinished(bool ok);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace chimora
