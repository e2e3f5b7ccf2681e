#pragma once
// Pull decoding of an audio file into 16-bit interleaved PCM at the rate and channel count of
// its first frame (more than two channels mixed down to stereo), for every kind the editor
// opens. The decode streams of the audio layer are made of these.

#include "platform/core/AudioFormat.h"
#include "platform/core/Result.h"
#include "platform/ffmpeg/FfmpegPtr.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace chimora {

class AudioInput;
class PcmConverter;

class DecodeStream {
public:
    /// Opens `path` and decodes its first frame. Errors as AudioInput::open(): Environment when
    /// the file cannot be opened at all (missing, a folder, a pipe or device), BadInput when it
    /// holds no audio that can be decoded (FFmpeg's text as detail). Headerless PCM (.raw,
    /// .pcm) needs `raw`.
    static Result<std::unique_ptr<DecodeStream>> open(const QString& path,
                                                      const RawPcmParams* raw = nullptr);
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
    DecodeStream();
    /// Decodes the next frame into m_pending; false at the end or on an error.
    bool decodeMore();

    std::unique_ptr<AudioInput> m_input;
    std::unique_ptr<PcmConverter> m_converter;
    ff::FramePtr m_frame;
    int m_sampleRate = 0;
    int m_channels = 0;
    bool m_drained = false; ///< the converter's held-back frames have been taken
    bool m_atEnd = false;
    bool m_failed = false;
    int64_t m_lengthBytes = 0;
    int64_t m_positionBytes = 0;
    std::vector<int16_t> m_pending; ///< decoded samples not yet handed out
    size_t m_pendingFrames = 0;
    size_t m_pendingOffset = 0; ///< in frames
};

} // namespace chimora
