#pragma once
// AAC in an MP4 file (.m4a, or .m4r for iPhones), made in-process with FFmpeg's own AAC encoder
// and its "ipod" muxer, fed interleaved 16-bit PCM block by block.

#include "platform/core/Result.h"
#include "platform/ffmpeg/FfmpegPtr.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace chimora {

/// What an AAC file is made with.
struct AacSettings {
    int sampleRateHz = 0;
    int channels = 0;    ///< 1 or 2
    int bitrateKbps = 0; ///< 0 = the encoder's own choice
};

/// The bitrate (kbit/s) the encoder sets for a choice: it takes every rate, channel count and
/// bitrate of the options lists but lowers a bitrate above what its frames can carry, 6 bits a
/// sample and channel (8000 Hz mono: 48; 22050 Hz stereo: 264); 0 stays 0 (its own choice, 69
/// mono or 128 stereo where the rate allows). Measured with FFmpeg 5.1 for every pair of the
/// lists. What comes out on dense material is less: about three quarters of that ceiling where
/// the choice reaches it, and 8 kbit/s stereo at 22050 Hz and above gives 15 to 18.
int aacBitrateKbps(int sampleRateHz, int channels, int bitrateKbps);

/// One file being encoded; used by one thread at a time.
class AacEncoder {
public:
    /// Creates `path` (replacing a file there) and readies the encoder. Errors: BadInput for a
    /// rate or channel count AAC cannot take, Environment when the file cannot be created or
    /// this FFmpeg has no AAC encoder, Internal otherwise; FFmpeg's words as detail.
    static Result<std::unique_ptr<AacEncoder>> open(const QString& path,
                                                    const AacSettings& settings);
    /// Removes the file it created unless finish() succeeded, so no partial file is left
    /// behind; a refused open() leaves a file already at the path as it was.
    ~AacEncoder();
    AacEncoder(const AacEncoder&) = delete;
    AacEncoder& operator=(const AacEncoder&) = delete;

    /// The bitrate (kbit/s) the encoder set; aacBitrateKbps() predicts it.
    int bitrateKbps() const;

    /// Encodes `frames` interleaved frames of the channel count given to open(). Blocks of any
    /// size. Errors: Environment when the file cannot be written (a full disk).
    Result<void> write(const int16_t* samples, int64_t frames);
    /// Encodes what is still buffered and completes the file; nothing may be written after.
    /// The file decodes to the frames written (within one 1024-frame AAC frame, which the
    /// decoder may add at the end).
    Result<void> finish();

private:
    AacEncoder() = default;
    /// Sends the buffered frames (all of them, or only whole AAC frames) to the encoder.
    Result<void> sendBuffered(bool all);
    /// Sends one frame (or the end, for null) and writes every packet the encoder gives.
    Result<void> encode(const AVFrame* frame);
    Error writeError(int code) const;
    /// For a call after finish() or after a failure.
    Error finishedError() const;

    QString m_path;
    ff::OutputContextPtr m_output;
    ff::CodecContextPtr m_codec;
    ff::FramePtr m_frame;
    ff::PacketPtr m_packet;
    AVStream* m_stream = nullptr; // owned by m_output
    std::vector<float> m_pending; ///< interleaved frames not yet sent, scaled to [-1, 1)
    int64_t m_sentFrames = 0;
    bool m_created = false; ///< the file at m_path is ours
    bool m_finished = false;
    bool m_failed = false;
};

} // namespace chimora
