#pragma once
// The ringtone's length and expected file size for the choices on the options page, before it
// is rendered, with what a phone, an e-mail server or the encoder will make of it.

#include "platform/audio/AudioSnapshot.h"
#include "platform/core/Result.h"
#include "render/RingtoneFormat.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>

namespace chimora {

/// An iPhone refuses ringtones longer than this (seconds).
inline constexpr double kIphoneMaxRingtoneSeconds = 30.0;
/// Larger attachments are refused by many mail servers: common limits lie between 10 and 25 MB
/// for the whole message, and base64 makes an attachment a third larger on the way.
inline constexpr int64_t kMailMaxAttachmentBytes = 10 * 1024 * 1024;

/// What the estimate is made from: the section as it is in the editor and the render's choices.
struct EstimateRequest {
    int64_t frames = 0;     ///< frames of the section (whole song or selection) in the editor
    int sourceRateHz = 0;   ///< the editor's rate
    int sourceChannels = 0; ///< the editor's channel count
    std::optional<RingtoneFormat> format;
    int rateHz = 0;      ///< chosen rate; 0 = as the source
    int channels = 0;    ///< chosen channel count; 0 = as the source
    int bitrateKbps = 0; ///< chosen bitrate; 0 = the encoder's own default
    /// Ogg Vorbis only: measured by measureVorbisRate() on this audio with these choices. The
    /// encoder's bitrate is a quality setting whose real rate depends on the music by a factor
    /// of two either way, so without a measurement the size is only the nominal bitrate's.
    double vorbisBytesPerSecond = 0;
    int64_t vorbisHeaderBytes = 0;
};

struct RingtoneEstimate {
    double seconds = 0;
    int64_t bytes = 0;    ///< 0 when the encoder will refuse the choices
    int rateHz = 0;       ///< what the file will have
    int bitrateKbps = 0;  ///< likewise; 0 for WAV
    QStringList warnings; ///< sentences, most important first

    /// "0:28.4, about 450 KB", then ". " and the warnings when there are any. KB and MB are 1024
    /// bytes and 1024 KB.
    QString text() const;
};

/// The estimate for `request`: exact for WAV, within a frame for MP3 (lame's constant bitrate,
/// its padding and its changes of rate and bitrate), and for Ogg Vorbis as close as the
/// measured rate is to the whole section.
RingtoneEstimate estimateRingtone(const EstimateRequest& request);

/// What lame makes of a rate (Hz), channel count and bitrate (kbit/s; 0 = its default 128):
/// it lowers the bitrate where the rate cannot carry it and the rate where the bitrate cannot
/// fill it (measured with lame 3.100 for every pair the lists offer).
struct LameOutcome {
    int rateHz = 0;
    int bitrateKbps = 0;
};
LameOutcome lameOutcome(int rateHz, int channels, int bitrateKbps);

/// The bitrates (kbit/s, inclusive) oggenc accepts at a rate and channel count of the lists;
/// none for a rate outside them. Other bitrates make it fail.
std::optional<std::pair<int, int>> vorbisBitrateRange(int rateHz, int channels);

/// Ogg Vorbis's real rate on this audio: encodes up to about 8 seconds taken from frames
/// [from, to) of `audio` (the whole range when it is that short, otherwise three pieces from
/// its beginning, middle and end) in `format` with oggenc, as the render runs it, and measures
/// the output. Errors: no oggenc, oggenc refusing the choices, an empty range. Blocks for the
/// encode (a few tenths of a second).
struct VorbisRate {
    double bytesPerSecond = 0; ///< audio pages only
    int64_t headerBytes = 0;   ///< the pages before the audio
};
Result<VorbisRate> measureVorbisRate(const AudioSnapshot& audio, int64_t from, int64_t to,
                                     const OutputFormat& format, int bitrateKbps);

} // namespace chimora
