#pragma once
// What the render does to the ringtone's audio on its way to the encoder, never to the audio in
// the editor: fades at either end and evening out the loudness. Works on the 16-bit PCM WAV the
// editor saved for the render, in place.

#include "platform/core/Result.h"

#include <QString>

namespace chimora {

/// The shortest and longest fade the options page offers, in seconds.
inline constexpr double kFadeMinSeconds = 0.1;
inline constexpr double kFadeMaxSeconds = 5.0;
/// Where "Even out loudness" brings a ringtone: integrated loudness in LUFS, and the highest
/// true peak it may reach in dBTP. The peak wins: a ringtone whose peaks would pass the ceiling
/// at the target loudness stays quieter than the target.
inline constexpr double kTargetLoudnessLufs = -14.0;
inline constexpr double kTruePeakCeilingDbtp = -1.0;

struct RenderShaping {
    double fadeInSeconds = 0;  ///< length of the fade from silence; 0 for none
    double fadeOutSeconds = 0; ///< length of the fade to silence; 0 for none
    bool evenLoudness = false; ///< bring the loudness to kTargetLoudnessLufs
    /// Highest true peak the evened-out WAV may reach (dBTP). Lossy encoders add a little to
    /// the peaks, so the render asks for headroom below kTruePeakCeilingDbtp for them.
    double peakCeilingDbtp = kTruePeakCeilingDbtp;
    /// Loudness the evened-out WAV is brought to (LUFS): the target, raised by what the encoder
    /// is known to take away.
    double loudnessTargetLufs = kTargetLoudnessLufs;

    bool changesAudio() const { return fadeInSeconds > 0 || fadeOutSeconds > 0 || evenLoudness; }
};

/// What the pass did.
struct ShapingOutcome {
    double gainDb = 0;             ///< applied to every sample; 0 without evening out
    double loudnessBeforeLufs = 0; ///< measured after the fades (minus infinity for silence)
    /// Likewise; where the peaks were far below the ceiling, only the highest sample (the true
    /// peak is then not needed).
    double truePeakBeforeDbtp = 0;
};

/// Applies `shaping` to the 16-bit PCM WAV at `path`: each fade is a straight ramp of gain
/// from 0 (first or last frame) towards 1 over its length (cut to the audio's length; where
/// the two overlap their gains multiply), then one gain for the whole file brings the faded
/// audio to the target loudness within the peak ceiling. Silence and audio shorter than
/// 400 ms keep their level. The changed samples are written back in place (the file is the
/// render's scratch copy; after a failed write it is incomplete, and so is the render; a link
/// at `path` is not followed). Errors: a file that is not 16-bit PCM WAV (Internal: the editor
/// writes nothing else), a file that cannot be read or written. Blocks.
Result<ShapingOutcome> shapeWavFile(const QString& path, const RenderShaping& shaping);

} // namespace chimora
