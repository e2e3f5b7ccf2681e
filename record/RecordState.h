#pragma once
// The recording's program-wide values and the small conversions the recorder and the start-up
// share. UI thread only.

#include "platform/bass/Bass.h"

#include <QString>

#include <cstdint>

namespace chimora {

/// Position of the chosen input in the recording window's input list; -1 while none is chosen
/// (set to -1 each time the window opens).
inline int32_t InputIndex = -1;
/// The running recording channel of the audio layer; 0 when there is none.
inline DWORD RecordChannel = 0;
/// The elapsed recording time shown in the window, set from the recording's clock; all 0 when a
/// recording starts. ElapsedTicks counts hundredths of a second.
inline int16_t ElapsedHours = 0;
inline int16_t ElapsedMinutes = 0;
inline int16_t ElapsedSeconds = 0;
inline int16_t ElapsedTicks = 0;

/// The high word of a 32-bit value: value / 65536, truncated toward zero, masked with 0xFFFF.
inline uint32_t HiWord(int64_t value) {
    return uint32_t((value / 65536) & 0xFFFF);
}
/// The low word: value masked with 0xFFFF.
inline uint32_t LoWord(int64_t value) {
    return uint32_t(value & 0xFFFF);
}

/// The zero-terminated string at `text` (the audio layer's names, in the system's 8-bit
/// encoding, which is UTF-8 here) as text; null or empty gives empty text.
QString AnsiPtrToString(const char* text);

/// Sets the four Elapsed values from `ms` milliseconds of recording (hours wrap at 24).
void setElapsed(int64_t ms);
/// "hh:mm:ss.cc" of the four Elapsed values, each part at least two digits.
QString elapsedText();

} // namespace chimora
