#pragma once
// Plays a range of 16-bit interleaved frames on the audio server's default output. The audio is
// pulled through a reader on the audio server's thread, so the caller hands over something that
// is safe to read from another thread (an immutable snapshot of the document).

#include "platform/core/AudioFormat.h"
#include "platform/core/Result.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

namespace chimora {

class AudioPlayer : public QObject {
    Q_OBJECT
public:
    /// Copies up to `count` frames from `startFrame` into `dst` (interleaved s16) and returns the
    /// number of frames copied; fewer than asked (or 0) means the audio ends there. Called on the
    /// audio server's thread, never on the UI thread, and never after stop() has returned.
    using Reader = std::function<int64_t(int64_t startFrame, int64_t count, int16_t* dst)>;

    explicit AudioPlayer(QObject* parent = nullptr);
    ~AudioPlayer() override;

    /// Starts playing frames [startFrame, endFrame) of `format` audio, stopping what was playing
    /// before. Uses the playback connection of BASS_Init when there is a live one, else connects
    /// on its own. Errors: a format or range that cannot be played (BadInput); no audio server or
    /// no output device (Environment). UI thread.
    Result<void> play(AudioFormat format, Reader reader, int64_t startFrame, int64_t endFrame);
    void pause();  ///< holds playback where it is (no-op when not playing)
    void resume(); ///< continues after pause()
    void stop();   ///< drops what is buffered and releases the stream; no finished() follows
    bool isPlaying() const; ///< true from play() until stop(), the end or a server failure
    bool isPaused() const;  ///< true between pause() and resume() while playing
    /// Frame being heard now, corrected for the server's latency; between the start and end
    /// frames of the last play(). UI thread.
    int64_t positionFrame() const;

signals:
    /// Played to endFrame and drained; emitted on the UI thread. Not emitted after stop() or
    /// when the server goes away.
    void finished();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace chimora
