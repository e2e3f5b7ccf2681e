#pragma once
// The waveform editor the wizard hosts on its editing page: shows the audio of an
// AudioDocument, lets the user select, play and edit it, and writes it as a WAV file. The
// wizard reaches it through load(), save(), format(), the two start-up options and invoke().

#include "platform/audio/AudioDocument.h"
#include "platform/core/Result.h"
#include "platform/editor/EditorSettings.h"
#include "platform/editor/TimeText.h"

#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QScrollBar;
class QTimer;

namespace chimora {

class AudioPlayer;
class WaveformView;

/// Registers the toolbar images (":/toolbar/play.svg" ...) of this static library.
void initEditorResources();

class AudioEditor : public QWidget {
    Q_OBJECT
public:
    /// Command numbers accepted by invoke().
    enum Command {
        PlayCommand = 10,
        StopCommand = 12,
        PauseCommand = 13,
        ZoomInCommand = 20,
        ZoomOutCommand = 21,
        UndoCommand = 30,
        RedoCommand = 31,
        CopyCommand = 40,
        CutCommand = 41,
        PasteCommand = 42,
        RemoveCommand = 48,
    };
    /// The only save mode: 16-bit PCM WAV.
    static constexpr int kSaveModePcm16Wav = 1;

    explicit AudioEditor(QWidget* parent = nullptr);
    ~AudioEditor() override;

    /// Opens `path` (returns at once; the waveform grows as it decodes). Headerless PCM files
    /// first ask the user for their layout; Cancel leaves the current audio as it is. A file
    /// that cannot be read shows why in the editor's area and leaves it empty.
    void load(const QString& path);
    /// Opens `path` with a known layout for headerless PCM (ignored for other files).
    void load(const QString& path, const RawPcmParams& raw);

    /// Writes the audio (or only the selection) as a WAV file in the format set through
    /// format(); returns when the file is complete. `mode` must be kSaveModePcm16Wav; any other
    /// value is refused with an error and writes nothing. Waits for a running load.
    Result<void> save(const QString& path, bool selectionOnly, int mode);

    /// Format of the next file save() writes.
    EditorFormat* format() { return m_format; }
    /// How positions are shown (ruler, selection fields): 0 frames, 1 seconds,
    /// 2 minutes:seconds.milliseconds (the default).
    EditorOption* displayOption() { return m_displayOption; }
    /// How the view follows the playhead while playing, as bits: 1 follow it, 2 turn whole
    /// pages when it reaches the right edge (without 2 the view scrolls with the playhead kept
    /// in the middle). 0 leaves the view alone; 3 (the default) follows by pages.
    EditorOption* behaviourOption() { return m_behaviourOption; }

    /// Runs a command by number (see Command). Returns false for unknown numbers and for
    /// commands refused in the current state; either way a refused command changes nothing.
    bool invoke(int command);

    AudioDocument* document() { return m_document; }
    WaveformView* view() { return m_view; }

    bool isPlaying() const;
    bool isPaused() const;
    /// While playing, the frame being heard; otherwise where playing last began (or the
    /// cursor when nothing has played yet).
    int64_t playheadFrame() const;
    /// Last problem to tell the user about (playback unavailable ...); empty when none.
    QString statusText() const;

public slots:
    bool play();
    bool pause(); ///< toggles: pauses playback, or resumes it when paused
    bool stop();
    bool undo();
    bool redo();
    bool copy();
    bool cut();
    bool paste();
    bool remove();
    bool zoomIn();
    bool zoomOut();
    bool selectAll();
    bool togglePlayback(); ///< Space: stops when playing, else plays

private:
    void createActions();
    void updateScrollBar();
    void onScrollBarMoved(int value);
    void updateSelectionFields();
    void applySelectionField(QLineEdit* field);
    void onPlaybackTick();
    void onPlaybackFinished();
    void endPlayback();
    void setStatus(const QString& text);
    double zoomAnchorX() const;
    TimeFormat timeFormat() const;

    AudioDocument* m_document;
    WaveformView* m_view;
    QScrollBar* m_scrollBar;
    QLineEdit* m_startField;
    QLineEdit* m_endField;
    QLineEdit* m_lengthField;
    QLabel* m_status;
    EditorFormat* m_format;
    EditorOption* m_displayOption;
    EditorOption* m_behaviourOption;

    std::unique_ptr<AudioPlayer> m_player; // made on first play
    QTimer* m_playbackTimer;
    int64_t m_playStartFrame = -1;
    double m_scrollUnitFrames = 1; // frames per scroll bar step (the bar's range is an int)
    bool m_updatingScrollBar = false;
};

} // namespace chimora
