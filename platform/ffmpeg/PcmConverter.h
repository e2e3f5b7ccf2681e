#pragma once
// Turning decoded frames into interleaved 16-bit PCM, and the one place resamplers are set up.

#include "platform/core/AudioFormat.h"
#include "platform/core/Result.h"
#include "platform/ffmpeg/FfmpegPtr.h"

namespace chimora {

namespace ff {

/// How a resampler is chosen: the library's own engine, or the soxr engine where this FFmpeg
/// has it (better filters, for audio that is written out; the own engine otherwise).
enum class ResampleQuality { Standard, High };

/// A ready resampler from `in` (layout, sample format, rate) to `out`; null when FFmpeg
/// refuses the pair. Any thread.
ResamplerPtr makeResampler(const AVChannelLayout& inLayout, AVSampleFormat inFormat, int inRate,
                           const AVChannelLayout& outLayout, AVSampleFormat outFormat, int outRate,
                           ResampleQuality quality = ResampleQuality::Standard);

} // namespace ff

/// Converts decoded frames to interleaved int16 at the first frame's rate and channel count
/// (more than two channels mixed down to stereo). A frame whose sample format, channel layout
/// or rate differs from the frame before gets a fresh converter, so a stream that changes its
/// format midway still comes out in one format. One thread at a time.
class PcmConverter {
public:
    /// `fallbackRate`: the rate of frames that state none (the decoder's).
    explicit PcmConverter(int fallbackRate) : m_fallbackRate(fallbackRate) {}
    ~PcmConverter();
    PcmConverter(const PcmConverter&) = delete;
    PcmConverter& operator=(const PcmConverter&) = delete;

    /// Readies the converter for `frame`; the first call fixes format(). Returns the most
    /// frames converting it can give. Errors: BadInput for a frame that cannot be converted.
    Result<int> prepare(const AVFrame& frame);
    /// The output format; invalid before the first prepare().
    AudioFormat format() const { return m_out; }
    /// Converts `frame`, after prepare(), into `dst` with room for `capacity` frames; returns
    /// the frames written.
    Result<int> convert(const AVFrame& frame, int16_t* dst, int capacity);
    /// Writes frames a resampler still holds back at the end; returns how many (0 when none).
    int drain(int16_t* dst, int capacity);

private:
    int m_fallbackRate;
    AudioFormat m_out;
    ff::ResamplerPtr m_swr;
    AVChannelLayout m_inLayout{}; ///< what m_swr was made for
    AVSampleFormat m_inFormat = AV_SAMPLE_FMT_NONE;
    int m_inRate = 0;
};

} // namespace chimora
