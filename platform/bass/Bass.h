#pragma once
// The audio layer the wizard, the renderer and the recorder call: devices on the PulseAudio
// server, decode-only streams of audio files, and encoder processes fed from a stream.
// Handles are small integers; 0 is never a valid handle. Every call runs on the UI thread.
// A failing call returns 0 (or FALSE) and leaves a code for BASS_ErrorGetCode().

#include <cstdint>

using DWORD = uint32_t;
using QWORD = uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HENCODE = DWORD;
using HRECORD = DWORD;

/// Called on the audio thread with each piece of captured 16-bit PCM of a recording channel;
/// returning FALSE ends the recording. It must not touch windows or program state.
using RECORDPROC = BOOL(HRECORD handle, const void* buffer, DWORD length, void* user);

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

// Error codes (BASS_ErrorGetCode).
enum : int {
    BASS_OK = 0,
    BASS_ERROR_MEM = 1,       ///< out of memory
    BASS_ERROR_FILEOPEN = 2,  ///< the file could not be opened
    BASS_ERROR_DRIVER = 3,    ///< no audio server could be reached
    BASS_ERROR_HANDLE = 5,    ///< not a valid handle
    BASS_ERROR_FORMAT = 6,    ///< unsupported sample format
    BASS_ERROR_INIT = 8,      ///< the device was not initialised
    BASS_ERROR_START = 9,     ///< the stream could not be started
    BASS_ERROR_ALREADY = 14,  ///< already initialised
    BASS_ERROR_ILLPARAM = 20, ///< an illegal parameter
    BASS_ERROR_DEVICE = 23,   ///< no such device (the server has no default sink or source)
    BASS_ERROR_NOTAVAIL = 37, ///< the requested data is not available
    BASS_ERROR_DECODE = 38,   ///< the channel is not a decoding channel
    BASS_ERROR_TIMEOUT = 40,  ///< the server did not answer in time
    BASS_ERROR_FILEFORM = 41, ///< unsupported file format
    BASS_ERROR_ENDED = 45,    ///< the channel (or the encoder fed from it) has ended
    BASS_ERROR_UNKNOWN = -1,  ///< some other problem
};

// Flags.
enum : DWORD {
    BASS_STREAM_DECODE = 0x200000,  ///< decode-only stream: data is pulled with ChannelGetData
    BASS_ENCODE_AUTOFREE = 0x40000, ///< the encoder is freed with its channel
    BASS_ACTIVE_STOPPED = 0,
    BASS_ACTIVE_PLAYING = 1,
    BASS_ACTIVE_PAUSED = 3,
    BASS_RECORD_PAUSE = 0x8000, ///< a recording starts paused (BASS_ChannelPlay starts it)
    BASS_INPUT_OFF = 0x10000,   ///< input state: switched off
    BASS_INPUT_ON = 0x20000,    ///< switches an input on
    BASS_INPUT_LEVEL = 0x40000, ///< sets an input's level (0..100 in the low word)
};

/// Version of this audio layer; the high word is the interface version 0x0203.
DWORD BASS_GetVersion();

/// Code of the last failure on this thread (BASS_OK after a successful call).
int BASS_ErrorGetCode();

/// Connects to the audio server for recording; `device` -1 is the server's default source.
/// Fails at once (BASS_ERROR_DRIVER) when no server is reachable; never starts one.
BOOL BASS_RecordInit(int device);

/// Connects to the audio server for playback; `device` -1 is the server's default sink.
/// `freq`, `flags`, `win` and `clsid` are accepted for compatibility and not used.
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid);

/// Releases the recording and the playback connections.
BOOL BASS_RecordFree();
BOOL BASS_Free();

/// Opens a decode-only stream of an audio file: 16-bit interleaved PCM at the file's own rate
/// and channel count. `mem` must be 0 (memory streams are not supported); `offset` and `length`
/// must be 0 (the whole file). Returns 0 on failure.
HSTREAM BASS_StreamCreateFile(BOOL mem, const char* file, QWORD offset, QWORD length, DWORD flags);

/// Decodes up to `length` bytes into `buffer` (and into any encoder of the stream). Returns the
/// number of bytes produced, or (DWORD)-1 on failure or at the end (BASS_ERROR_ENDED).
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);

/// BASS_ACTIVE_PLAYING until a decode stream has been pulled to its end.
DWORD BASS_ChannelIsActive(DWORD handle);

/// Length and current position of a stream in bytes of its decoded PCM; (QWORD)-1 on failure.
/// `mode` must be 0 (bytes).
QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode);
QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode);

/// Stops a channel: a decode stream ends (further pulls fail).
BOOL BASS_ChannelStop(DWORD handle);

/// Frees a stream and, with BASS_ENCODE_AUTOFREE, its encoder: the encoder's input is closed and
/// the call waits (with a time limit) for it to exit. See BassEncode.h for the outcome.
BOOL BASS_StreamFree(HSTREAM handle);

// Recording (BassRecord.cpp). The inputs are the server's sources (monitors of the outputs
// included) in the server's order, as of the last BASS_RecordGetInputName(0); every input index
// refers to that listing. Exactly one input is switched on: the source this program records
// from, which is the server's default source until another input is switched on. Switching
// inputs changes nothing for other programs.

/// Name of input `input` (the source's description; equal descriptions get " (2)", " (3)"),
/// UTF-8, valid until the next listing; null past the last input or without a recording
/// device. Input 0 lists the server's sources afresh.
const char* BASS_RecordGetInputName(int input);

/// State of an input: BASS_INPUT_OFF unless it is the one switched on, and its level (the
/// source's volume in percent of normal volume, 0..100) in the low word. (DWORD)-1 on failure.
DWORD BASS_RecordGetInput(int input);

/// BASS_INPUT_ON: records from `input` from now on. BASS_INPUT_OFF on the input switched on:
/// back to the server's default source (off on another input changes nothing).
/// BASS_INPUT_LEVEL | n: sets the source's volume to n percent (held to 100), as a mixer does.
BOOL BASS_RecordSetInput(int input, DWORD setting);

/// Starts a recording channel: 16-bit PCM at `freq` and `chans` from the input switched on.
/// `flags` may hold BASS_RECORD_PAUSE. `proc` (may be null) gets every piece of PCM on the audio
/// thread. Returns the channel, or 0: BASS_ERROR_INIT (no recording device), BASS_ERROR_ILLPARAM,
/// BASS_ERROR_DRIVER (the server has gone), BASS_ERROR_START (the input could not be opened).
HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user);

/// Starts (or resumes) a paused recording channel. `restart` is not used.
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);

// On a recording channel: BASS_ChannelStop ends the capture, hands everything captured to its
// encoder and waits for the encoder to finish its file; BASS_ChannelIsActive is
// BASS_ACTIVE_PAUSED before BASS_ChannelPlay, BASS_ACTIVE_PLAYING while capturing and
// BASS_ACTIVE_STOPPED once stopped, ended by its callback or dropped by the server;
// BASS_ChannelGetPosition is the number of bytes captured so far (any thread);
// BASS_StreamFree stops and frees it.

namespace chimora::bass {
/// Records `code` as the last error of this thread (the layer's own functions use this).
void setError(int code);
/// Convenience: setError(code) and return `result`.
template <typename T> T fail(int code, T result) {
    setError(code);
    return result;
}
} // namespace chimora::bass
