#pragma once
// The program's memory between runs: nine values kept in "settings.ini" (section "Main", keys
// "1" to "9") in the application folder. Loaded once at start-up, written when the wizard
// closes. UI thread only.

#include "platform/core/Result.h"

#include <QString>

#include <cstdint>

namespace chimora {

/// Full path of the settings file.
extern QString SettingsFile;

extern QString SpareText;       ///< key "1": carried from run to run, used by nothing else
extern int32_t BitrateIndex;    ///< key "2": position in the bitrate list
extern int32_t ChannelsIndex;   ///< key "3": position in the channels list
extern int32_t FormatCode;      ///< key "4": 0 WAV, 1 MP3, 2 OGG
extern QString RingtoneName;    ///< key "5"
extern int32_t SampleRateIndex; ///< key "6": position in the sample-rate list
extern QString MailAddress;     ///< key "7"
extern QString MailSubject;     ///< key "8"
extern QString MailMessage;     ///< key "9": may hold several lines

/// The recipient a new settings file proposes.
inline constexpr const char* DefaultMailAddress = "someone@example.com";

/// Sets every value to its default (the contents of a new settings file).
void SetDefaultSettings();

/// Creates the settings file with the defaults when it cannot be opened for reading. An
/// existing file is never changed here, even when keys are missing from it.
void EnsureSettingsFile();

/// Reads keys "1" to "9" into the values.
void LoadSettings();

/// Writes the values to keys "1" to "9", keeping everything else in the file. Errors as
/// IniFile::write(): BadInput for a file marked read-only, Environment when it could not be
/// written.
Result<void> SaveSettings();

/// The leading-number rule for number keys: blanks, tabs and line breaks removed, the longest
/// leading decimal number taken (sign, digits, point, exponent; none gives 0), rounded to the
/// nearest integer with halves to even. A result outside 32 bits gives `previous`.
int32_t LeadingNumber(const QString& text, int32_t previous);

/// Prepares the widget classes; true when that could be done.
bool InitControlClasses();

/// Whether the wizard may show `page`; every page may be shown.
bool CanShowPage(int page);

} // namespace chimora
