#pragma once
// The program-wide values of rendering. UI thread only.

#include "platform/bass/Bass.h"

#include <QString>

namespace chimora {

/// Path of the ringtone last rendered, set first thing by every render (even one that then
/// fails). The e-mail window and the device browser send the file named here.
extern QString RingtoneFile;

/// The decode stream of the current or last MP3 or Ogg Vorbis render (freed at the end of the
/// render; 0 after a render whose encoder did not start). The progress tick reads it.
extern HSTREAM EncodeStream;

} // namespace chimora
