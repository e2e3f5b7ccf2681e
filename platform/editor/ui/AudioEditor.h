#pragma once
// The waveform editor the wizard hosts on its editing page: shows the audio of an
// AudioDocument, lets the user select, play and edit it, and writes it as a WAV file. The
// wizard reaches it through load(), save(), format(), the two start-up options and invoke().

#include "platform/audio/AudioDocument.h"
#include "platform/audio/SectionSuggester.h"
#include "platform/core/Result.h"
#include "platform/editor/EditorSettings.h"
#include "platform/editor/TimeText.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QScrollBar;
class QTimer;

namespace chimora {

class AudioPlayer;
class SectionLoop;
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

    /// True while the selection plays in a loop (loopSelection()), paused or not.
    bool isLooping() const;
    /// True while selection edges snap to the nearest zero crossing (within 10 ms).
    bool snapsToZeroCrossings() const;

    /// "Suggest a section", "Loop selection" and "Snap edges to zero crossings" (checkable), with
    /// their shortcuts; also in the waveform's context menu. A page may show them as buttons.
    QAction* suggestAction() const { return m_suggestAction; }
    QAction* loopAction() const { return m_loopAction; }
    QAction* snapAction() const { return m_snapAction; }

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
    /// Selects the song's most characteristic 20 to 30 seconds (its chorus, where it has one),
    /// with its edges on zero crossings; each further call selects the next candidate. The song
    /// is analysed in the background when a load finishes (and again after an edit); a call
    /// made meanwhile selects as soon as the analysis is done. False without loaded audio.
    bool suggestSection();
    /// Plays the selection over and over without a gap until Stop or another play command;
    /// called while looping, it stops. False without a selection or when playing fails.
    bool loopSelection();
    /// Turns snapping of selection edges on or off; turning it on snaps the current selection.
    void setSnapToZeroCrossings(bool on);

private:
    void createActions();
    void updateScrollBar();
    void onScrollBarMoved(int value);
    void updateSelectionFields();
    void applySelectionField(QLineEdit* field);
    void onPlaybackTick();
    void onPlaybackFinished();
    void endPlayback();
    bool startPlayer(int64_t start, int64_t end, std::shared_ptr<const SectionLoop> loop);
    int64_t heardFrame() const;
    void startSuggestionAnalysis();
    void onSuggestionsReady(quint64 version, std::vector<SuggestedSection> sections);
    void applyNextSuggestion();
    void stopSuggestionAnalysis();
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
    std::shared_ptr<const SectionLoop> m_loop; // set while looping
    QAction* m_suggestAction = nullptr;
    QAction* m_loopAction = nullptr;
    QAction* m_snapAction = nullptr;

    // The suggestion: analysed on a worker thread for one version of the content.
    quint64 m_contentVersion = 0;
    quint64 m_suggestionsVersion = ~quint64(0); // version the sections below belong to
    std::vector<SuggestedSection> m_suggestions;
    size_t m_nextSuggestion = 0;
    bool m_suggestionWanted = false; // asked for while the analysis ran
    std::thread m_analysis;
    std::shared_ptr<std::atomic<bool>> m_cancelAnalysis;
    double m_scrollUnitFrames = 1; // frames per scroll bar step (the bar's range is an int)
    bool m_updatingScrollBar = false;
};

} // namespace chimora
