#pragma once
// Inside the audio layer: the recording channels, for the stream and encoder functions that
// also take them. Not for use outside platform/bass.

#include "platform/bass/Bass.h"
#include "platform/encoder/StreamEncoder.h"

namespace chimora::bass::detail {

/// True when `handle` is a live recording channel.
bool isRecordChannel(DWORD handle);

BOOL stopRecordChannel(DWORD handle);
BOOL freeRecordChannel(DWORD handle);
DWORD recordChannelIsActive(DWORD handle);
QWORD recordChannelPosition(DWORD handle, DWORD mode);
HENCODE startRecordEncoder(DWORD handle, const EncoderCommand& command, DWORD flags);
DWORD recordEncoderIsActive(DWORD handle);

} // namespace chimora::bass::detail
