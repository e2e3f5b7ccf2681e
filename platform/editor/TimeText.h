#pragma once
// Positions in the audio as text, for the time ruler and the selection fields.

#include <QString>

#include <cstdint>
#include <optional>

namespace chimora {

enum class TimeFormat {
    Frames = 0,         ///< sample numbers: "132300"
    Seconds = 1,        ///< "3.000"
    MinutesSeconds = 2, ///< "0:03.000", "1:02:03.456" past an hour
};

/// `frames` at `sampleRate` as text, to the millisecond (exact in Frames).
QString formatTime(int64_t frames, int sampleRate, TimeFormat format);

/// Reads a position typed by a person and returns it in frames (rounded to the nearest frame).
/// Accepts "h:mm:ss.fff", "m:ss.fff", plain seconds ("12.5", "12,5", "12.5 s") and, in Frames,
/// a plain number of frames. Empty, negative or malformed text gives nothing.
std::optional<int64_t> parseTime(const QString& text, int sampleRate, TimeFormat format);

} // namespace chimora
