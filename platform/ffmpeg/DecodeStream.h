#pragma once
// Pull decoding of an audio file into 16-bit interleaved PCM at the file's own rate and channel
// count (any format FFmpeg reads). The decode streams of the audio layer are made of these.

#include "platform/ffmpeg/FfmpegPtr.h"
#include "platform/core/Result.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

namespace chimora {

class DecodeStream {
public:
    /// Opens `path`. Errors: BadInput (not a readable audio file, with FFmpeg's text as detail)
    /// or Environment (the file cannot be opened at all).
    static Result<std::unique_ptr<DecodeStream>> open(const QString& path);
    ~DecodeStream();

    int sampleRate() const { return m_sampleRate; }
    int channels() const { return m_channels; }
    int bytesPerFrame() const { return m_channels * 2; }

    /// Decodes up to `maxBytes` (rounded down to whole frames) into `dst`. Returns the number of
    /// bytes written: fewer than asked only at the end (atEnd() is then true), -1 when the file
    /// turns out to be damaged beyond the point reached (atEnd() is true too).
    int64_t read(char* dst, int64_t maxBytes);
    bool atEnd() const { return m_atEnd; }

    /// Bytes of PCM the whole file decodes to, from the container's duration (exact for WAV,
    /// an estimate for compressed files); 0 when unknown.
    int64_t lengthBytes() const { return m_lengthBytes; }
    /// Bytes delivered by read() so far.
    int64_t positionBytes() const { return m_positionBytes; }

private:
    DecodeStream() = default;
    /// Decodes the next frame into m_pending; false at the end or on an error.
    bool decodeMore();

    ff::FormatContextPtr m_format;
    ff::CodecContextPtr m_codec;
    ff::ResamplerPtr m_resampler;
    ff::FramePtr m_frame;
    ff::PacketPtr m_packet;
    int m_streamIndex = -1;
    int m_sampleRate = 0;
    int m_channels = 0;
    bool m_directCopy = false; // the decoder already gives interleaved 16-bit samples
    bool m_flushed = false;
    bool m_atEnd = false;
    bool m_failed = false;
    int64_t m_lengthBytes = 0;
    int64_t m_positionBytes = 0;
    QByteArray m_pending; // decoded bytes not yet handed out
    int64_t m_pendingOffset = 0;
};

} // namespace chimora
