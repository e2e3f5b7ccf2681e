#pragma once
// The ringtone's name as the title tag of its file, which is what a phone lists it by.

#include "platform/core/Result.h"

#include <QString>

namespace chimora {

/// Writes `title` as the title of the audio file at `path`, in place: an ID3v2.3 title for
/// MP3, the TITLE comment for Ogg Vorbis, the MP4 title for M4A and M4R. The kind is taken from
/// the content, not the name. A WAV file is left as it is; an empty title removes the title.
/// Tag the file before it is put in place: a failure may leave it half rewritten. Errors:
/// BadInput for a file of another kind, Environment when the file cannot be read or written.
/// Blocks; any thread, one call per file at a time.
Result<void> writeTitleTag(const QString& path, const QString& title);

} // namespace chimora
