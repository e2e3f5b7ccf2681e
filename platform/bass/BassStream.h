#pragma once
// What the audio layer tells about a decode stream beyond Bass.h.

#include "platform/bass/Bass.h"

/// Sample format of a channel's decoded data (always 16-bit interleaved here).
struct BASS_CHANNELINFO {
    DWORD freq;  ///< frames per second
    DWORD chans; ///< interleaved channels
    DWORD flags; ///< BASS_STREAM_DECODE for decode streams
};

/// Fills `info` for a decode stream. FALSE with BASS_ERROR_HANDLE for an unknown handle,
/// BASS_ERROR_ILLPARAM for a null `info`.
BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);
