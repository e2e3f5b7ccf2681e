#pragma once
// An audio file opened for decoding: the checks on the file, the way its kind is opened, its
// best audio stream and that stream's decoder. The editor's loader, the audio layer's decode
// streams and the probe of rendered files all open files here, so they accept and refuse the
// same files in the same words.

#include "platform/core/AudioFormat.h"
#include "platform/core/Result.h"
#include "platform/ffmpeg/FfmpegPtr.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

namespace chimora {

class AudioInput {
public:
    /// Opens `path`. Headerless kinds are chosen by extension (.vox, .g721, .g726, .g723; .raw
    /// and .pcm need `raw`); a file of such a name that carries a container is opened by its
    /// content. `cancel`, when given, aborts a slow open or read once set: open() then fails
    /// (the caller tells that apart by `cancel` itself) and nextFrame() ends. Errors name the
    /// file and say why: Environment when it cannot be opened at all (missing, a folder, a pipe
    /// or device, no permission), BadInput when it is not audio that can be decoded, Internal
    /// when `raw` is missing for headerless PCM. Never blocks on a pipe or a device. The
    /// object is used by one thread at a time.
    static Result<std::unique_ptr<AudioInput>> open(const QString& path,
                                                    const RawPcmParams* raw = nullptr,
                                                    const std::atomic<bool>* cancel = nullptr);
    ~AudioInput();
    AudioInput(const AudioInput&) = delete;
    AudioInput& operator=(const AudioInput&) = delete;

    /// Decodes the next frame into `frame` (which must hold none). False at the end: of the
    /// file, of what can be read of a damaged one, or once cancelled. Damaged packets are
    /// skipped, as players do.
    bool nextFrame(AVFrame* frame);

    const AVStream& stream() const { return *m_format->streams[m_streamIndex]; }
    const AVCodecContext& decoder() const { return *m_decoder; }

    /// Frames the stream holds at `rate` Hz by the container (exact for PCM, an estimate for
    /// compressed streams); 0 when unknown.
    int64_t lengthFrames(int rate) const;

    /// The error for a file that opened but gave no audio, with the last decoding error as its
    /// detail.
    Error noDecodableAudio() const;

private:
    AudioInput() = default;
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }
    void noteBadPacket(int code);

    QString m_path;
    const std::atomic<bool>* m_cancel = nullptr;
    ff::FormatContextPtr m_format;
    ff::CodecContextPtr m_decoder;
    ff::PacketPtr m_packet;
    int m_streamIndex = -1;
    int64_t m_voxBytes = 0; ///< file size of a VOX file, whose container length is wrong
    bool m_flushed = false; ///< the decoder has been told the input ended
    int m_badPackets = 0;
    QString m_lastError; ///< FFmpeg's text for the last failure, for the log
};

} // namespace chimora
