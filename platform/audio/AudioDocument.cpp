#include "platform/audio/AudioDocument.h"

#include "platform/audio/AudioLoader.h"
#include "platform/audio/SampleBlock.h"

#include <QUndoCommand>

#include <algorithm>
#include <functional>
#include <optional>

namespace chimora {

namespace {

// One edit: the audio and the selection before and after. The blocks are shared with the
// document, so a step costs the blocks its edit made plus the lists of pointers.
class EditCommand : public QUndoCommand {
public:
    struct State {
        std::shared_ptr<const AudioSnapshot> audio;
        Selection selection;
        int64_t cursor = 0;
    };
    using Apply = std::function<void(const State&)>;
    EditCommand(const QString& text, State before, State after, Apply apply)
        : QUndoCommand(text), m_before(std::move(before)), m_after(std::move(after)),
          m_apply(std::move(apply)) {}
    void undo() override { m_apply(m_before); }
    void redo() override { m_apply(m_after); }

private:
    State m_before, m_after;
    Apply m_apply;
};

} // namespace

// ---------------------------------------------------------------------------------------------
// AudioDocument

struct AudioDocument::Private {
    AudioDocument* q;
    std::shared_ptr<const AudioSnapshot> audio = std::make_shared<AudioSnapshot>();
    Selection selection;
    int64_t cursor = 0;
    QUndoStack undoStack;
    BlockList clipboard;
    AudioFormat clipboardFormat;
    QString path;
    QString loadError;
    std::unique_ptr<AudioLoader> loader; ///< the load running now, if any
    uint64_t loadSerial = 0;             ///< counts load() and clear() calls

    explicit Private(AudioDocument* owner) : q(owner) {}

    void stopLoad() { loader.reset(); }

    void setAudio(std::shared_ptr<const AudioSnapshot> a) {
        audio = std::move(a);
        emit q->contentChanged();
    }

    void setSelectionAndCursor(Selection s, int64_t c) {
        const int64_t n = audio->frames();
        s.start = std::clamp<int64_t>(s.start, 0, n);
        s.end = std::clamp<int64_t>(s.end, s.start, n);
        c = std::clamp<int64_t>(c, 0, n);
        if (s == selection && c == cursor)
            return;
        selection = s;
        cursor = c;
        emit q->selectionChanged();
    }

    EditCommand::State state() const { return {audio, selection, cursor}; }

    void pushEdit(const QString& text, EditCommand::State after) {
        undoStack.push(
            new EditCommand(text, state(), std::move(after), [this](const EditCommand::State& s) {
                setAudio(s.audio);
                setSelectionAndCursor(s.selection, s.cursor);
            }));
    }

    void removeSelection(const QString& text) {
        const Selection s = selection;
        BlockList blocks = audio->slice(0, s.start);
        BlockList tail = audio->slice(s.end, audio->frames());
        blocks.insert(blocks.end(), tail.begin(), tail.end());
        pushEdit(
            text,
            {AudioSnapshot::make(audio->format(), std::move(blocks)), {s.start, s.start}, s.start});
    }

    // Takes what the loader has decoded so far; `serial` names the load that asked, which may
    // have been replaced since.
    void drain(uint64_t serial) {
        if (serial != loadSerial || !loader)
            return;
        AudioLoader::Batch batch = loader->take();
        // The loader is done once it says so: end it before any signal, since a slot may start
        // another load (which must find no loader to wait for).
        if (batch.finished)
            loader.reset();
        if (batch.error) {
            loadError = batch.error->message;
            audio = std::make_shared<AudioSnapshot>();
            setSelectionAndCursor({}, 0);
            emit q->contentChanged();
            if (serial == loadSerial) // not when a slot has started another load
                emit q->loadFinished(false);
            return;
        }
        if (!batch.blocks.empty()) {
            BlockList all = audio->blocks();
            all.insert(all.end(), batch.blocks.begin(), batch.blocks.end());
            setAudio(AudioSnapshot::make(batch.format, std::move(all)));
        }
        if (batch.finished && serial == loadSerial)
            emit q->loadFinished(true);
    }
};

AudioDocument::AudioDocument(QObject* parent) : QObject(parent), d(new Private(this)) {
    d->undoStack.setUndoLimit(0); // unlimited
}

AudioDocument::~AudioDocument() {
    d->stopLoad();
}

AudioFormat AudioDocument::format() const {
    return d->audio->format();
}
int64_t AudioDocument::frameCount() const {
    return d->audio->frames();
}
bool AudioDocument::isEmpty() const {
    return d->audio->frames() == 0;
}
std::shared_ptr<const AudioSnapshot> AudioDocument::snapshot() const {
    return d->audio;
}

Selection AudioDocument::selection() const {
    return d->selection;
}

void AudioDocument::setSelection(int64_t a, int64_t b) {
    if (a > b)
        std::swap(a, b);
    const int64_t n = frameCount();
    a = std::clamp<int64_t>(a, 0, n);
    d->setSelectionAndCursor({a, std::clamp<int64_t>(b, 0, n)}, a);
}

int64_t AudioDocument::cursor() const {
    return d->cursor;
}

void AudioDocument::setCursor(int64_t frame) {
    frame = std::clamp<int64_t>(frame, 0, frameCount());
    d->setSelectionAndCursor({frame, frame}, frame);
}

QUndoStack* AudioDocument::undoStack() {
    return &d->undoStack;
}

bool AudioDocument::canEdit() const {
    return !isLoading() && !isEmpty();
}

bool AudioDocument::canPaste() const {
    return !isLoading() && !d->clipboard.empty() && (isEmpty() || d->clipboardFormat == format());
}

bool AudioDocument::copy() {
    if (d->selection.isEmpty())
        return false;
    d->clipboard = d->audio->slice(d->selection.start, d->selection.end);
    d->clipboardFormat = format();
    return true;
}

bool AudioDocument::remove() {
    if (!canEdit() || d->selection.isEmpty())
        return false;
    d->removeSelection(tr("Remove"));
    return true;
}

bool AudioDocument::cut() {
    if (!canEdit() || !copy())
        return false;
    d->removeSelection(tr("Cut"));
    return true;
}

bool AudioDocument::paste() {
    if (!canPaste())
        return false;
    const AudioFormat fmt = isEmpty() ? d->clipboardFormat : format();
    const int64_t a = d->selection.isEmpty() ? d->cursor : d->selection.start;
    const int64_t b = d->selection.isEmpty() ? d->cursor : d->selection.end;
    BlockList blocks = d->audio->slice(0, a);
    int64_t pasted = 0;
    for (const BlockPtr& block : d->clipboard)
        pasted += block->frames();
    blocks.insert(blocks.end(), d->clipboard.begin(), d->clipboard.end());
    BlockList tail = d->audio->slice(b, frameCount());
    blocks.insert(blocks.end(), tail.begin(), tail.end());
    // The pasted audio comes out selected, so it can be heard or moved on at once.
    d->pushEdit(tr("Paste"), {AudioSnapshot::make(fmt, std::move(blocks)), {a, a + pasted}, a});
    return true;
}

void AudioDocument::load(const QString& path, const RawPcmParams* raw) {
    d->stopLoad();
    ++d->loadSerial;
    d->undoStack.clear();
    d->path = path;
    d->loadError.clear();
    d->audio = std::make_shared<AudioSnapshot>();
    d->setSelectionAndCursor({}, 0);
    emit contentChanged();

    std::optional<RawPcmParams> rawCopy;
    if (raw)
        rawCopy = *raw;
    // The loader's thread only posts to the document; the document ends the loader before it
    // goes away or starts another load, and ignores posts from a load it has left behind.
    const uint64_t serial = d->loadSerial;
    d->loader = std::make_unique<AudioLoader>(path, rawCopy, [this, serial] {
        QMetaObject::invokeMethod(
            this, [this, serial] { d->drain(serial); }, Qt::QueuedConnection);
    });
    emit loadStarted();
}

bool AudioDocument::isLoading() const {
    return d->loader != nullptr;
}

void AudioDocument::waitForLoad() {
    if (!d->loader)
        return;
    d->loader->wait();
    d->drain(d->loadSerial);
}

QString AudioDocument::loadError() const {
    return d->loadError;
}
QString AudioDocument::path() const {
    return d->path;
}

void AudioDocument::clear() {
    d->stopLoad();
    ++d->loadSerial;
    d->undoStack.clear();
    d->path.clear();
    d->loadError.clear();
    d->audio = std::make_shared<AudioSnapshot>();
    d->setSelectionAndCursor({}, 0);
    emit contentChanged();
}

} // namespace chimora
