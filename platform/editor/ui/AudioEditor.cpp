#include "platform/editor/ui/AudioEditor.h"

#include "platform/audio/SectionLoop.h"
#include "platform/audio/ZeroCrossing.h"
#include "platform/editor/ui/RawPcmDialog.h"
#include "platform/editor/ui/WaveformView.h"
#include "platform/ffmpeg/AudioFileKinds.h"
#include "platform/pulse/AudioPlayer.h"
#include "platform/wav/WavWriter.h"

#include <QAction>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

// Q_INIT_RESOURCE must be used outside any namespace.
static void initToolbarResource() {
    Q_INIT_RESOURCE(toolbar);
}

namespace chimora {

void initEditorResources() {
    static const bool done = (initToolbarResource(), true);
    Q_UNUSED(done);
}

namespace {
constexpr int kPlaybackTickMs = 33; // about 30 updates a second, only while playing
constexpr int kFollowPlayhead = 1;
constexpr int kFollowByPages = 2;
} // namespace

AudioEditor::AudioEditor(QWidget* parent)
    : QWidget(parent), m_document(new AudioDocument(this)),
      m_view(new WaveformView(m_document, this)), m_scrollBar(new QScrollBar(Qt::Horizontal, this)),
      m_startField(new QLineEdit(this)), m_endField(new QLineEdit(this)),
      m_lengthField(new QLineEdit(this)), m_status(new QLabel(this)),
      m_format(new EditorFormat(this)),
      m_displayOption(new EditorOption(QStringLiteral("timeFormat"), 0, 2,
                                       static_cast<int>(TimeFormat::MinutesSeconds), this)),
      m_behaviourOption(new EditorOption(QStringLiteral("followPlayhead"), 0, 3,
                                         kFollowPlayhead | kFollowByPages, this)),
      m_playbackTimer(new QTimer(this)) {
    initEditorResources();
    setAccessibleName(tr("Audio editor"));
    m_view->setAccessibleName(tr("Audio editor"));
    setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(m_view);

    auto* fields = new QHBoxLayout;
    fields->setContentsMargins(0, 0, 0, 0);
    const auto addField = [&](const QString& label, QLineEdit* field, const QString& name) {
        auto* l = new QLabel(label, this);
        l->setBuddy(field);
        field->setObjectName(name);
        field->setAccessibleName(QString(label).remove(QLatin1Char('&')).remove(QLatin1Char(':')));
        field->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")) +
                               16);
        fields->addWidget(l);
        fields->addWidget(field);
        connect(field, &QLineEdit::editingFinished, this,
                [this, field] { applySelectionField(field); });
    };
    addField(tr("&Start:"), m_startField, QStringLiteral("selectionStart"));
    addField(tr("&End:"), m_endField, QStringLiteral("selectionEnd"));
    addField(tr("&Length:"), m_lengthField, QStringLiteral("selectionLength"));
    fields->addSpacing(8);
    fields->addWidget(m_status, 1);
    m_status->setTextFormat(Qt::PlainText); // errors quote file names
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long message must not widen the editor beyond the page that holds it.
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_scrollBar);
    layout->addLayout(fields);

    connect(m_view, &WaveformView::viewChanged, this, &AudioEditor::updateScrollBar);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, &AudioEditor::onScrollBarMoved);
    connect(m_document, &AudioDocument::selectionChanged, this,
            &AudioEditor::updateSelectionFields);
    connect(m_document, &AudioDocument::contentChanged, this, &AudioEditor::updateSelectionFields);
    connect(m_displayOption, &EditorOption::valueChanged, this, [this] {
        m_view->setTimeFormat(timeFormat());
        updateSelectionFields();
    });
    connect(m_document, &AudioDocument::contentChanged, this, [this] {
        ++m_contentVersion;
        m_suggestions.clear();
        // After an edit the song is analysed afresh; while a load runs, only once it is done.
        if (!m_document->isLoading() && m_document->frameCount() > 0)
            startSuggestionAnalysis();
    });
    connect(m_document, &AudioDocument::loadStarted, this, [this] {
        stopSuggestionAnalysis();
        m_suggestionWanted = false;
    });
    connect(m_document, &AudioDocument::loadFinished, this, [this](bool ok) {
        if (ok && m_document->frameCount() > 0)
            startSuggestionAnalysis();
    });
    connect(m_playbackTimer, &QTimer::timeout, this, &AudioEditor::onPlaybackTick);
    m_playbackTimer->setInterval(kPlaybackTickMs);

    createActions();
    m_view->setTimeFormat(timeFormat());
    updateSelectionFields();
    updateScrollBar();
}

AudioEditor::~AudioEditor() {
    // The player's reader holds a snapshot, not the document, but stop it before anything else
    // goes away so no audio thread outlives the widget.
    if (m_player)
        m_player->stop();
    stopSuggestionAnalysis();
}

void AudioEditor::createActions() {
    const auto add = [this](const QList<QKeySequence>& keys, bool (AudioEditor::*slot)()) {
        auto* action = new QAction(this);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
        addAction(action);
        return action;
    };
    m_suggestAction = add({QKeySequence(Qt::CTRL | Qt::Key_G)}, &AudioEditor::suggestSection);
    m_suggestAction->setText(tr("Suggest a &section"));
    m_suggestAction->setToolTip(tr("Select the song's most characteristic 20 to 30 seconds; "
                                   "again for the next candidate (Ctrl+G)"));
    m_suggestAction->setObjectName(QStringLiteral("suggestSection"));
    m_loopAction = add({QKeySequence(Qt::CTRL | Qt::Key_L)}, &AudioEditor::loopSelection);
    m_loopAction->setText(tr("&Loop selection"));
    m_loopAction->setToolTip(tr("Play the selection over and over, as a phone repeats it "
                                "(Ctrl+L)"));
    m_loopAction->setObjectName(QStringLiteral("loopSelection"));
    m_loopAction->setCheckable(true);
    m_snapAction = new QAction(tr("Snap edges to &zero crossings"), this);
    m_snapAction->setObjectName(QStringLiteral("snapToZeroCrossings"));
    m_snapAction->setToolTip(tr("Move selection edges to the nearest zero crossing (within "
                                "10 ms), so the cut does not click"));
    m_snapAction->setCheckable(true);
    connect(m_snapAction, &QAction::toggled, this, &AudioEditor::setSnapToZeroCrossings);

    // The waveform's context menu (right button, the Menu key or Shift+F10).
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_view->addActions({m_suggestAction, m_loopAction, separator, m_snapAction});

    add({Qt::Key_Space}, &AudioEditor::togglePlayback);
    add({QKeySequence::Undo}, &AudioEditor::undo);
    add({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)},
        &AudioEditor::redo);
    add({QKeySequence::Copy}, &AudioEditor::copy);
    add({QKeySequence::Cut}, &AudioEditor::cut);
    add({QKeySequence::Paste}, &AudioEditor::paste);
    add({QKeySequence(Qt::Key_Delete)}, &AudioEditor::remove);
    add({QKeySequence::SelectAll}, &AudioEditor::selectAll);
    add({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal),
         QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
        &AudioEditor::zoomIn);
    add({QKeySequence(Qt::Key_Minus), QKeySequence(Qt::CTRL | Qt::Key_Minus)},
        &AudioEditor::zoomOut);
}

TimeFormat AudioEditor::timeFormat() const {
    return static_cast<TimeFormat>(m_displayOption->value());
}

void AudioEditor::load(const QString& path) {
    if (!needsRawPcmParams(path)) {
        load(path, RawPcmParams{});
        return;
    }
    RawPcmDialog dialog(QFileInfo(path).fileName(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    load(path, dialog.params());
}

void AudioEditor::load(const QString& path, const RawPcmParams& raw) {
    stop();
    m_playStartFrame = -1;
    setStatus({});
    m_document->load(path, needsRawPcmParams(path) ? &raw : nullptr);
}

Result<void> AudioEditor::save(const QString& path, bool selectionOnly, int mode) {
    if (mode != kSaveModePcm16Wav)
        return Error::internal(tr("The editor writes only 16-bit PCM WAV files (mode %1), not "
                                  "mode %2.")
                                   .arg(kSaveModePcm16Wav)
                                   .arg(mode));
    return writeWav(*m_document, path, m_format->outputFormat(), selectionOnly);
}

bool AudioEditor::invoke(int command) {
    switch (command) {
    case PlayCommand:
        return play();
    case StopCommand:
        return stop();
    case PauseCommand:
        return pause();
    case ZoomInCommand:
        return zoomIn();
    case ZoomOutCommand:
        return zoomOut();
    case UndoCommand:
        return undo();
    case RedoCommand:
        return redo();
    case CopyCommand:
        return copy();
    case CutCommand:
        return cut();
    case PasteCommand:
        return paste();
    case RemoveCommand:
        return remove();
    default:
        return false;
    }
}

// --- Editing -------------------------------------------------------------------------------

bool AudioEditor::undo() {
    QUndoStack* stack = m_document->undoStack();
    if (!stack->canUndo())
        return false;
    stack->undo();
    return true;
}

bool AudioEditor::redo() {
    QUndoStack* stack = m_document->undoStack();
    if (!stack->canRedo())
        return false;
    stack->redo();
    return true;
}

bool AudioEditor::copy() {
    return m_document->copy();
}
bool AudioEditor::cut() {
    return m_document->cut();
}
bool AudioEditor::paste() {
    return m_document->paste();
}
bool AudioEditor::remove() {
    return m_document->remove();
}

bool AudioEditor::selectAll() {
    if (m_document->frameCount() == 0)
        return false;
    m_document->setSelection(0, m_document->frameCount());
    return true;
}

// --- Zoom and scrolling ----------------------------------------------------------------------

double AudioEditor::zoomAnchorX() const {
    // Keep what the user is looking at in place: the playhead, else the selection start or the
    // cursor when visible, else the middle of the view.
    const Selection sel = m_document->selection();
    const int64_t frame = isPlaying()     ? heardFrame()
                          : sel.isEmpty() ? m_document->cursor()
                                          : sel.start;
    const double x = m_view->xOf(static_cast<double>(frame));
    return (x >= 0 && x <= m_view->width()) ? x : m_view->width() / 2.0;
}

bool AudioEditor::zoomIn() {
    return m_document->frameCount() > 0 && m_view->zoomSteps(1, zoomAnchorX());
}

bool AudioEditor::zoomOut() {
    return m_document->frameCount() > 0 && m_view->zoomSteps(-1, zoomAnchorX());
}

void AudioEditor::updateScrollBar() {
    const double frames = static_cast<double>(m_document->frameCount());
    const double visible = std::min(frames, m_view->visibleFrames());
    // The bar counts in ints; long audio at deep zoom needs more than one frame per step.
    m_scrollUnitFrames = std::max(1.0, std::ceil(frames / 1e9));
    m_updatingScrollBar = true;
    m_scrollBar->setRange(0, static_cast<int>(std::ceil((frames - visible) / m_scrollUnitFrames)));
    m_scrollBar->setPageStep(std::max(1, static_cast<int>(visible / m_scrollUnitFrames)));
    m_scrollBar->setSingleStep(std::max(1, static_cast<int>(visible / 10 / m_scrollUnitFrames)));
    m_scrollBar->setValue(static_cast<int>(std::lround(m_view->startFrame() / m_scrollUnitFrames)));
    m_scrollBar->setEnabled(m_scrollBar->maximum() > 0);
    m_updatingScrollBar = false;
}

void AudioEditor::onScrollBarMoved(int value) {
    if (!m_updatingScrollBar)
        m_view->scrollToFrame(value * m_scrollUnitFrames);
}

// --- Selection fields ------------------------------------------------------------------------

void AudioEditor::updateSelectionFields() {
    const int rate = m_document->format().sampleRate;
    const bool haveAudio = m_document->frameCount() > 0;
    const Selection sel = m_document->selection();
    const int64_t start = sel.isEmpty() ? m_document->cursor() : sel.start;
    const int64_t end = sel.isEmpty() ? m_document->cursor() : sel.end;
    const TimeFormat tf = timeFormat();
    const auto show = [&](QLineEdit* field, int64_t frames) {
        field->setEnabled(haveAudio);
        // Text being typed is not overwritten (the audio may still be growing meanwhile).
        if (field->hasFocus() && field->isModified())
            return;
        field->setText(haveAudio ? formatTime(frames, rate, tf) : QString());
    };
    show(m_startField, start);
    show(m_endField, end);
    show(m_lengthField, end - start);
}

void AudioEditor::applySelectionField(QLineEdit* field) {
    field->setModified(false); // taken now; the fields show what holds afterwards
    const int64_t frames = m_document->frameCount();
    const std::optional<int64_t> typed =
        parseTime(field->text(), m_document->format().sampleRate, timeFormat());
    if (frames == 0 || !typed) {
        updateSelectionFields(); // back to what holds
        return;
    }
    const int64_t value = std::clamp<int64_t>(*typed, 0, frames);
    const Selection sel = m_document->selection();
    int64_t start = sel.isEmpty() ? m_document->cursor() : sel.start;
    int64_t end = sel.isEmpty() ? m_document->cursor() : sel.end;
    if (field == m_startField) {
        start = value;
        end = std::max(end, start);
    } else if (field == m_endField) {
        end = value;
        start = std::min(start, end);
    } else {
        end = std::min(frames, start + value);
    }
    if (start == end) {
        m_document->setCursor(start);
    } else {
        const Selection placed =
            snapsToZeroCrossings()
                ? snapToZeroCrossings(*m_document->snapshot(), {start, end},
                                      zeroCrossingReachFrames(m_document->format().sampleRate))
                : Selection{start, end};
        m_document->setSelection(placed.start, placed.end);
    }
    updateSelectionFields(); // shows the clamped values even when nothing changed
}

// --- Playback --------------------------------------------------------------------------------

bool AudioEditor::isPlaying() const {
    return m_player && m_player->isPlaying();
}
bool AudioEditor::isPaused() const {
    return isPlaying() && m_player->isPaused();
}

int64_t AudioEditor::playheadFrame() const {
    if (isPlaying())
        return heardFrame();
    return m_playStartFrame >= 0 ? m_playStartFrame : m_document->cursor();
}

bool AudioEditor::play() {
    if (isPaused() && !m_loop) {
        m_player->resume();
        m_playbackTimer->start();
        return true;
    }
    if (m_loop)
        stop(); // any other play command ends the loop
    const int64_t frames = m_document->frameCount();
    if (isPlaying() || frames == 0)
        return false;

    const Selection sel = m_document->selection();
    int64_t start = sel.isEmpty() ? m_document->cursor() : sel.start;
    const int64_t end = sel.isEmpty() ? frames : sel.end;
    if (start >= end)
        start = 0; // the cursor sits at the very end: play it all rather than nothing
    return startPlayer(start, end, nullptr);
}

bool AudioEditor::loopSelection() {
    if (m_loop) {
        stop();
        return true;
    }
    const Selection sel = m_document->selection();
    if (sel.isEmpty() || m_document->frameCount() == 0) {
        m_loopAction->setChecked(false);
        setStatus(tr("Select a section to loop."));
        return false;
    }
    stop();
    auto loop = std::make_shared<const SectionLoop>(m_document->snapshot(), sel);
    return startPlayer(sel.start, SectionLoop::kEndless, std::move(loop));
}

bool AudioEditor::startPlayer(int64_t start, int64_t end, std::shared_ptr<const SectionLoop> loop) {
    if (!m_player) {
        m_player = std::make_unique<AudioPlayer>();
        connect(m_player.get(), &AudioPlayer::finished, this, &AudioEditor::onPlaybackFinished);
    }
    // The player reads on the audio thread from an immutable snapshot, so edits made while it
    // plays cannot disturb it.
    std::shared_ptr<const AudioSnapshot> snapshot = m_document->snapshot();
    const AudioFormat format = snapshot->format();
    AudioPlayer::Reader reader;
    if (loop)
        reader = [loop](int64_t first, int64_t count, int16_t* dst) {
            return loop->read(first, count, dst);
        };
    else
        reader = [snapshot](int64_t first, int64_t count, int16_t* dst) {
            return snapshot->read(first, count, dst);
        };
    const Result<void> started = m_player->play(format, std::move(reader), start, end);
    if (!started) {
        m_loopAction->setChecked(false);
        setStatus(tr("Cannot play: %1").arg(started.error().message));
        return false;
    }
    m_loop = std::move(loop);
    m_loopAction->setChecked(m_loop != nullptr);
    setStatus({});
    m_playStartFrame = start;
    m_view->setPlayhead(start);
    m_playbackTimer->start();
    return true;
}

int64_t AudioEditor::heardFrame() const {
    const int64_t position = m_player->positionFrame();
    return m_loop ? m_loop->frameAt(position) : position;
}

bool AudioEditor::isLooping() const {
    return m_loop && isPlaying();
}

bool AudioEditor::pause() {
    if (!isPlaying())
        return false;
    if (m_player->isPaused()) {
        m_player->resume();
        m_playbackTimer->start();
    } else {
        m_player->pause();
        m_playbackTimer->stop();
        m_view->setPlayhead(heardFrame());
    }
    return true;
}

bool AudioEditor::stop() {
    if (!isPlaying())
        return false;
    m_player->stop();
    endPlayback();
    return true;
}

bool AudioEditor::togglePlayback() {
    return isPlaying() && !isPaused() ? stop() : play();
}

void AudioEditor::onPlaybackTick() {
    if (!isPlaying()) { // the server went away
        endPlayback();
        return;
    }
    const int64_t position = heardFrame();
    m_view->setPlayhead(position);

    const int follow = m_behaviourOption->value();
    if (!(follow & kFollowPlayhead) || m_view->isFitToWidth())
        return;
    const double start = m_view->startFrame();
    const double visible = m_view->visibleFrames();
    if (follow & kFollowByPages) {
        if (position < start || position >= start + visible)
            m_view->scrollToFrame(static_cast<double>(position));
    } else {
        m_view->scrollToFrame(position - visible / 2);
    }
}

void AudioEditor::onPlaybackFinished() {
    endPlayback();
}

void AudioEditor::endPlayback() {
    m_loop.reset();
    m_loopAction->setChecked(false);
    m_playbackTimer->stop();
    m_view->setPlayhead(-1);
    // Back to where playing began, also on screen when the view followed the playhead away.
    const double x = m_view->xOf(static_cast<double>(m_playStartFrame));
    if (m_playStartFrame >= 0 && (x < 0 || x >= m_view->width()))
        m_view->scrollToFrame(m_playStartFrame - m_view->visibleFrames() / 8);
}

// --- Suggested section and zero crossings -----------------------------------------------------

bool AudioEditor::snapsToZeroCrossings() const {
    return m_view->snapsToZeroCrossings();
}

void AudioEditor::setSnapToZeroCrossings(bool on) {
    m_snapAction->setChecked(on); // re-enters through toggled() once when it changes
    if (m_view->snapsToZeroCrossings() == on)
        return;
    m_view->setSnapToZeroCrossings(on);
    const Selection sel = m_document->selection();
    if (on && !sel.isEmpty()) {
        const Selection snapped = snapToZeroCrossings(
            *m_document->snapshot(), sel, zeroCrossingReachFrames(m_document->format().sampleRate));
        m_document->setSelection(snapped.start, snapped.end);
    }
}

bool AudioEditor::suggestSection() {
    if (m_document->frameCount() == 0 || m_document->isLoading())
        return false;
    if (m_suggestionsVersion == m_contentVersion) {
        applyNextSuggestion();
        return true;
    }
    m_suggestionWanted = true;
    if (!m_analysis.joinable())
        startSuggestionAnalysis();
    return true;
}

void AudioEditor::startSuggestionAnalysis() {
    stopSuggestionAnalysis();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_cancelAnalysis = cancel;
    const quint64 version = m_contentVersion;
    std::shared_ptr<const AudioSnapshot> snapshot = m_document->snapshot();
    // The result comes back as a queued call; one still queued when the editor goes away is
    // dropped with it, and the destructor joins the thread first.
    m_analysis = std::thread([this, snapshot, cancel, version] {
        SectionSuggester suggester(*snapshot, cancel.get());
        if (cancel->load())
            return;
        std::vector<SuggestedSection> sections = suggester.sections();
        QMetaObject::invokeMethod(
            this,
            [this, version, sections = std::move(sections)]() mutable {
                onSuggestionsReady(version, std::move(sections));
            },
            Qt::QueuedConnection);
    });
}

void AudioEditor::stopSuggestionAnalysis() {
    if (m_cancelAnalysis)
        m_cancelAnalysis->store(true);
    if (m_analysis.joinable())
        m_analysis.join();
    m_cancelAnalysis.reset();
}

void AudioEditor::onSuggestionsReady(quint64 version, std::vector<SuggestedSection> sections) {
    if (m_analysis.joinable())
        m_analysis.join(); // it has posted this and ends now
    if (version != m_contentVersion) {
        if (m_suggestionWanted && !m_document->isLoading())
            startSuggestionAnalysis(); // edited meanwhile: analyse what is there now
        return;
    }
    m_suggestions = std::move(sections);
    m_suggestionsVersion = version;
    m_nextSuggestion = 0;
    if (m_suggestionWanted) {
        m_suggestionWanted = false;
        applyNextSuggestion();
    }
}

void AudioEditor::applyNextSuggestion() {
    if (m_suggestions.empty()) {
        setStatus(tr("No section to suggest in this audio."));
        return;
    }
    const size_t index = m_nextSuggestion % m_suggestions.size();
    ++m_nextSuggestion;
    // A suggested section is meant to be used as it is: its edges go onto zero crossings.
    setSnapToZeroCrossings(true);
    const Selection section =
        snapToZeroCrossings(*m_document->snapshot(), m_suggestions[index].frames,
                            zeroCrossingReachFrames(m_document->format().sampleRate));
    m_document->setSelection(section.start, section.end);
    m_view->ensureVisible(section.end);
    m_view->ensureVisible(section.start);
    setStatus(tr("Suggested section %1 of %2%3")
                  .arg(index + 1)
                  .arg(m_suggestions.size())
                  .arg(m_suggestions[index].startsOnBeat ? tr(", starting on a beat") : QString()));
}

void AudioEditor::setStatus(const QString& text) {
    m_status->setText(text);
    // A tool tip has no plain-text switch: converted, the text shows as it is.
    m_status->setToolTip(text.isEmpty() ? text : Qt::convertFromPlainText(text));
}

QString AudioEditor::statusText() const {
    return m_status->text();
}

} // namespace chimora
