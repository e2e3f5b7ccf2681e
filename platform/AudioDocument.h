#pragma once
// The audio being edited: an ordered list of shared, immutable sample blocks, a selection, a
// cursor, an internal clipboard and an undo history. No widgets; the editor widget paints from
// peaks() and edits through the operations below. UI thread unless said otherwise.

#include "platform/Result.h"

#include <QObject>
#include <QString>
#include <QUndoStack>

#include <cstdint>
#include <memory>
#include <vector>

namespace chimora {

/// Rate and channel count of 16-bit interleaved PCM.
struct AudioFormat {
    int sampleRate = 0; ///< frames per second
    int channels = 0;   ///< 1 or 2 (more are mixed down on load)
    bool isValid() const { return sampleRate > 0 && channels > 0; }
    bool operator==(const AudioFormat&) const = default;
};

/// Smallest and largest sample value over a range of frames of one channel.
struct Peak {
    int16_t min = 0;
    int16_t max = 0;
};

/// A run of interleaved 16-bit frames with its min/max summaries at several resolutions.
/// Immutable once made, so it is shared freely between document versions, the undo history,
/// the clipboard and the player thread.
class SampleBlock;
using BlockPtr = std::shared_ptr<const SampleBlock>;
using BlockList = std::vector<BlockPtr>;

/// The audio at one moment, read-only and safe to use from any thread (the player reads it on
/// the audio server's thread while the user edits on).
class AudioSnapshot {
public:
    /// No audio.
    AudioSnapshot() = default;
    /// The audio made of `blocks` (each of `format.channels` channels) in order.
    static std::shared_ptr<const AudioSnapshot> make(AudioFormat format, BlockList blocks);

    AudioFormat format() const;
    int64_t frames() const;
    /// Copies up to `count` frames from `startFrame` into `dst` (interleaved). Returns the number
    /// of frames copied (fewer at the end).
    int64_t read(int64_t startFrame, int64_t count, int16_t* dst) const;
    /// For each of `columns` columns i, the min/max of `channel` over frames
    /// [startFrame + i * framesPerColumn, startFrame + (i + 1) * framesPerColumn). Columns past
    /// the end get {0, 0}. Cost depends on `columns`, not on the length of the audio.
    /// A column always covers at least one frame: its range is [floor(a), max(floor(b),
    /// floor(a) + 1)) for a = startFrame + i * framesPerColumn, b = a + framesPerColumn, cut to
    /// the audio; so zoomed in past single samples, neighbouring columns repeat a sample.
    /// The values are exact (not estimates) at any zoom.
    void peaks(int channel, double startFrame, double framesPerColumn, int columns,
               Peak* out) const;

    const BlockList& blocks() const { return m_blocks; }
    /// First frame of block `index`; blockStart(blocks().size()) is frames().
    int64_t blockStart(size_t index) const { return m_starts[index]; }
    /// Index of the block holding `frame` (0 <= frame < frames()).
    size_t blockAt(int64_t frame) const;
    /// The blocks covering frames [from, to) (clamped): whole blocks are shared, a block cut by
    /// either end is copied in part, so at most two new blocks are made.
    BlockList slice(int64_t from, int64_t to) const;

private:
    AudioFormat m_format;
    BlockList m_blocks;
    std::vector<int64_t> m_starts{0}; ///< prefix sums of block lengths, size blocks + 1
};

/// Selection as a half-open range of frames.
struct Selection {
    int64_t start = 0;
    int64_t end = 0;
    bool isEmpty() const { return end <= start; }
    int64_t length() const { return isEmpty() ? 0 : end - start; }
    bool operator==(const Selection&) const = default;
};

/// Parameters for headerless PCM files (.raw, .pcm), asked of the user.
struct RawPcmParams {
    enum class SampleFormat { S16LE, S16BE, U8, S8, S24LE, S32LE, F32LE, MuLaw, ALaw };
    int sampleRate = 44100;
    int channels = 2;
    SampleFormat sampleFormat = SampleFormat::S16LE;
};

/// True for files whose sample format must be asked of the user before loading.
bool needsRawPcmParams(const QString& path);

/// Format of a written file; 0 means "as the source" for rate and channels.
struct OutputFormat {
    int sampleRate = 0;  ///< Hz
    int channels = 0;    ///< 1 or 2
    int bitrateKbps = 0; ///< kept for the encoders; a 16-bit WAV does not use it
};

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

    /// Writes the audio (or only the selection) as a 16-bit PCM WAV file, converted to `format`
    /// (rate with high-quality resampling, stereo to mono by averaging, mono to stereo by
    /// copying). Waits for a running load. Writes a temporary file beside `path` and renames it
    /// into place, so `path` is either untouched or complete. Errors: nothing loaded, an empty
    /// selection with `selectionOnly`, a file that cannot be written.
    Result<void> writeWav(const QString& path, const OutputFormat& format,
                          bool selectionOnly) const;

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
