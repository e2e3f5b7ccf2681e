#include "platform/AudioDocument.h"

#include "platform/AudioDecoder.h"
#include "platform/SampleBlock.h"
#include "platform/WavWriter.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QUndoCommand>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>

namespace chimora {

// ---------------------------------------------------------------------------------------------
// AudioSnapshot

std::shared_ptr<const AudioSnapshot> AudioSnapshot::make(AudioFormat format, BlockList blocks) {
    auto s = std::make_shared<AudioSnapshot>();
    s->m_format = format;
    std::erase_if(blocks, [](const BlockPtr& b) { return !b || b->frames() == 0; });
    s->m_blocks = std::move(blocks);
    s->m_starts.resize(s->m_blocks.size() + 1);
    s->m_starts[0] = 0;
    for (size_t i = 0; i < s->m_blocks.size(); ++i)
        s->m_starts[i + 1] = s->m_starts[i] + s->m_blocks[i]->frames();
    return s;
}

AudioFormat AudioSnapshot::format() const {
    return m_format;
}

int64_t AudioSnapshot::frames() const {
    return m_starts.back();
}

size_t AudioSnapshot::blockAt(int64_t frame) const {
    // The last start not after `frame`.
    const auto it = std::upper_bound(m_starts.begin(), m_starts.end() - 1, frame);
    return size_t(it - m_starts.begin()) - 1;
}

int64_t AudioSnapshot::read(int64_t startFrame, int64_t count, int16_t* dst) const {
    if (startFrame < 0 || count <= 0 || startFrame >= frames())
        return 0;
    count = std::min(count, frames() - startFrame);
    const int ch = m_format.channels;
    int64_t done = 0;
    for (size_t b = blockAt(startFrame); done < count && b < m_blocks.size(); ++b) {
        const int64_t offset = startFrame + done - m_starts[b];
        const int64_t n = std::min(count - done, m_blocks[b]->frames() - offset);
        std::memcpy(dst + done * ch, m_blocks[b]->data() + offset * ch,
                    size_t(n * ch) * sizeof(int16_t));
        done += n;
    }
    return done;
}

void AudioSnapshot::peaks(int channel, double startFrame, double framesPerColumn, int columns,
                          Peak* out) const {
    const int64_t total = frames();
    if (columns <= 0)
        return;
    if (channel < 0 || channel >= m_format.channels || total == 0 || !(framesPerColumn > 0) ||
        !std::isfinite(startFrame)) {
        std::fill(out, out + columns, Peak{});
        return;
    }
    for (int i = 0; i < columns; ++i) {
        const double a = startFrame + i * framesPerColumn;
        int64_t lo = int64_t(std::floor(a));
        int64_t hi = int64_t(std::floor(a + framesPerColumn));
        hi = std::max(hi, lo + 1);
        lo = std::max<int64_t>(lo, 0);
        hi = std::min(hi, total);
        if (lo >= hi) {
            out[i] = Peak{};
            continue;
        }
        Peak acc{std::numeric_limits<int16_t>::max(), std::numeric_limits<int16_t>::min()};
        for (size_t b = blockAt(lo); b < m_blocks.size() && m_starts[b] < hi; ++b) {
            const SampleBlock& block = *m_blocks[b];
            const int64_t from = std::max(lo, m_starts[b]) - m_starts[b];
            const int64_t to = std::min(hi, m_starts[b + 1]) - m_starts[b];
            const Peak p = block.peak(channel, from, to);
            acc.min = std::min(acc.min, p.min);
            acc.max = std::max(acc.max, p.max);
        }
        out[i] = acc;
    }
}

BlockList AudioSnapshot::slice(int64_t from, int64_t to) const {
    from = std::clamp<int64_t>(from, 0, frames());
    to = std::clamp<int64_t>(to, from, frames());
    BlockList result;
    if (from == to)
        return result;
    for (size_t b = blockAt(from); b < m_blocks.size() && m_starts[b] < to; ++b) {
        const int64_t a = std::max(from, m_starts[b]) - m_starts[b];
        const int64_t e = std::min(to, m_starts[b + 1]) - m_starts[b];
        if (a == 0 && e == m_blocks[b]->frames())
            result.push_back(m_blocks[b]);
        else
            result.push_back(SampleBlock::copyOf(*m_blocks[b], a, e));
    }
    return result;
}

bool needsRawPcmParams(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    return ext == QLatin1String("raw") || ext == QLatin1String("pcm");
}

// ---------------------------------------------------------------------------------------------
// Loading: state shared between the document and its loading thread.

namespace {

struct LoadJob {
    std::atomic<bool> cancel{false};
    std::mutex mutex; // guards everything below
    AudioFormat format;
    BlockList pending;
    bool finished = false;
    std::optional<Error> error;
};

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

// Time between two waveform updates while a file loads; the first comes at once.
constexpr qint64 kLoadUpdateMs = 250;

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
    std::shared_ptr<LoadJob> job;
    uint64_t loadSerial = 0; ///< counts load() and clear() calls
    std::thread worker;

    explicit Private(AudioDocument* owner) : q(owner) {}

    void stopLoad() {
        if (job)
            job->cancel = true;
        if (worker.joinable())
            worker.join();
        job.reset();
    }

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

    // Takes what the loading thread has decoded so far; `j` may be a job already replaced.
    void drain(const std::shared_ptr<LoadJob>& j) {
        if (j != job)
            return;
        BlockList blocks;
        bool finished;
        std::optional<Error> error;
        AudioFormat format;
        {
            std::lock_guard lock(j->mutex);
            blocks.swap(j->pending);
            finished = j->finished;
            error = j->error;
            format = j->format;
        }
        // The thread is done once it says so: end it before any signal, since a slot may start
        // another load (which must find no thread to wait for).
        if (finished) {
            if (worker.joinable())
                worker.join();
            job.reset();
        }
        if (error) {
            loadError = error->message;
            audio = std::make_shared<AudioSnapshot>();
            setSelectionAndCursor({}, 0);
            emit q->contentChanged();
            emit q->loadFinished(false);
            return;
        }
        const uint64_t serial = loadSerial;
        if (!blocks.empty()) {
            BlockList all = audio->blocks();
            all.insert(all.end(), blocks.begin(), blocks.end());
            setAudio(AudioSnapshot::make(format, std::move(all)));
        }
        if (finished && serial == loadSerial) // not when a slot has started another load
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

    auto job = std::make_shared<LoadJob>();
    d->job = job;
    emit loadStarted();

    std::optional<RawPcmParams> rawCopy;
    if (raw)
        rawCopy = *raw;
    // The thread only posts to the document; the document joins the thread before it goes
    // away or starts another load, and ignores posts from a job it has left behind.
    d->worker = std::thread([this, job, path, rawCopy] {
        auto post = [this, job] {
            QMetaObject::invokeMethod(
                this, [this, job] { d->drain(job); }, Qt::QueuedConnection);
        };
        QElapsedTimer sincePost;
        bool posted = false;
        DecodeSink sink;
        sink.format = [&](AudioFormat f) {
            std::lock_guard lock(job->mutex);
            job->format = f;
        };
        sink.block = [&](BlockPtr b) {
            {
                std::lock_guard lock(job->mutex);
                job->pending.push_back(std::move(b));
            }
            if (!posted || sincePost.elapsed() >= kLoadUpdateMs) {
                posted = true;
                sincePost.start();
                post();
            }
        };
        auto result = decodeAudioFile(path, rawCopy ? &*rawCopy : nullptr, job->cancel, sink);
        {
            std::lock_guard lock(job->mutex);
            job->finished = true;
            if (!result)
                job->error = result.error();
        }
        if (!job->cancel)
            post();
    });
}

bool AudioDocument::isLoading() const {
    return d->job != nullptr;
}

void AudioDocument::waitForLoad() {
    if (!d->job)
        return;
    if (d->worker.joinable())
        d->worker.join();
    d->drain(d->job);
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

Result<void> AudioDocument::writeWav(const QString& path, const OutputFormat& format,
                                     bool selectionOnly) const {
    const_cast<AudioDocument*>(this)->waitForLoad();
    if (isEmpty())
        return Error::badInput(
            tr("There is no audio to save. Open an audio file or record one first."));
    if (selectionOnly && d->selection.isEmpty())
        return Error::badInput(tr("Nothing is selected. Select the section of the song to use "
                                  "as the ringtone, or choose to use the entire song."));
    const int64_t from = selectionOnly ? d->selection.start : 0;
    const int64_t to = selectionOnly ? d->selection.end : frameCount();
    return writeWavFile(*d->audio, from, to, format, path);
}

} // namespace chimora
