#pragma once
// Encoders fed from a decode channel of the audio layer (see StreamEncoder for the process).

#include "platform/bass/Bass.h"
#include "platform/encoder/StreamEncoder.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace chimora::bass {

/// The outcome of the encoder that ended last (freed with its stream, or stopped with it), or
/// of the last BASS_Encode_Start that failed to start one.
EncoderOutcome lastEncoderOutcome();

} // namespace chimora::bass

/// Starts an encoder on a decode stream: the command's program is started with its arguments
/// and fed a WAV header (streaming sizes) and then every piece BASS_ChannelGetData decodes.
/// `flags` may hold BASS_ENCODE_AUTOFREE (the encoder is finished when its stream is stopped or
/// freed, which it always is here); `proc` must be null (no callbacks) and `user` is unused.
/// Returns the stream's handle, or 0: BASS_ERROR_HANDLE (no such stream), BASS_ERROR_ILLPARAM
/// (a callback, or an empty program), BASS_ERROR_ALREADY (the stream has an encoder),
/// BASS_ERROR_FILEOPEN (the program could not be started; see lastEncoderOutcome()).
HENCODE BASS_Encode_Start(DWORD handle, const chimora::EncoderCommand& command, DWORD flags,
                          void* proc, void* user);

/// On a recording channel (BassRecord.cpp) the encoder gets the WAV header and then every piece
/// captured, written by a thread of its own; it is finished by BASS_ChannelStop.
///
/// Non-zero (BASS_ACTIVE_PLAYING) while the channel's encoder runs and takes data. For a
/// recording channel any thread may ask (its callback does, on the audio thread).
DWORD BASS_Encode_IsActive(DWORD handle);
