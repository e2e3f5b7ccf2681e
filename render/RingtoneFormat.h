#pragma once
// The three file formats a ringtone can have, with the names and patterns that go with each.

#include <QString>

namespace chimora {

/// Format code 0, 1, 2 as stored in the settings and chosen by the three format options.
enum class RingtoneFormat { Wav = 0, Mp3 = 1, Ogg = 2 };

/// ".wav", ".mp3", ".ogg".
QString ringtoneExtension(RingtoneFormat format);

/// Upper-cased extension the "Save as file" action searches the chosen path for: ".WAV" ...
QString searchedExtension(RingtoneFormat format);

/// One filter of the save dialog: "Wav File (*.wav)", "MP3 File (*.mp3)",
/// "OggVorbis File (*.ogg)".
QString saveDialogFilter(RingtoneFormat format);

/// File name in the application folder that the device upload renders to: "upload-temp.wav" ...
QString uploadFileName(RingtoneFormat format);

/// The rule of "Save as file": `path` with the format's extension appended, unless the
/// upper-cased file name (the folders do not count) contains the searched extension (so
/// "tone.MP3" stays as it is and "sounds.wav/tone" becomes "sounds.wav/tone.wav").
QString withRingtoneExtension(const QString& path, RingtoneFormat format);

} // namespace chimora
