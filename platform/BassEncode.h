#pragma once
// Encoders fed from a channel of the audio layer: an encoder is a child process that gets a WAV
// header and then the channel's 16-bit PCM on its standard input.

#include "platform/Bass.h"
#include "platform/ChildProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace chimora::bass {

/// The program to run and its arguments; started directly, never through a shell.
struct EncoderCommand {
    QString program; ///< a path (see chimora::findProgram) or a name looked up on PATH
    QStringList arguments;
};

/// How an encoder ended, kept when it is freed with its channel.
struct EncoderOutcome {
    QString program;
    bool started = false;
    ProcessExit exit;
    bool inputRefused = false; ///< it stopped reading before the end of the audio
    QString failure;           ///< for people: why it failed; empty when it succeeded
    QByteArray errorOutput;    ///< the last part of its standard error

    bool succeeded() const { return started && failure.isEmpty(); }
};

/// One encoder process fed 16-bit PCM. Used by the channels of the audio layer; the recorder can
/// own one the same way. UI thread (or one thread at a time).
class StreamEncoder {
public:
    /// Starts the encoder and writes a streaming WAV header for `sampleRate` and `channels`.
    static std::unique_ptr<StreamEncoder> start(const EncoderCommand& command, int sampleRate,
                                                int channels, EncoderOutcome* failure);
    ~StreamEncoder();

    /// Hands PCM to the encoder; once it has failed further data is dropped.
    void feed(const char* data, qint64 bytes);
    /// True while the encoder runs and takes data.
    bool isActive();
    /// Closes its input, waits for it (with the time limit) and says how it ended.
    EncoderOutcome finish();

private:
    StreamEncoder() = default;

    ChildProcess m_process;
    EncoderOutcome m_outcome;
    bool m_broken = false;  // a write failed: no more data goes to it
    QString m_writeFailure; // what that write said
};

/// The outcome of the encoder that ended last (freed with its stream, or stopped with it), or
/// of the last BASS_Encode_Start that failed to start one.
EncoderOutcome lastEncoderOutcome();

/// Time limits for encoders: how long a write may wait for the encoder to take input, and how
/// long freeing waits for it to exit after its input is closed. Defaults 30000 ms each. Tests
/// shorten them; 0 restores the defaults.
void setEncoderTimeLimits(int stallMs, int exitMs);

} // namespace chimora::bass

/// Starts an encoder on a decode stream: the command's program is started with its arguments
/// and fed a WAV header (streaming sizes) and then every piece BASS_ChannelGetData decodes.
/// `flags` may hold BASS_ENCODE_AUTOFREE (the encoder is finished when its stream is stopped or
/// freed, which it always is here); `proc` must be null (no callbacks) and `user` is unused.
/// Returns the stream's handle, or 0: BASS_ERROR_HANDLE (no such stream), BASS_ERROR_ILLPARAM
/// (a callback, or an empty program), BASS_ERROR_ALREADY (the stream has an encoder),
/// BASS_ERROR_FILEOPEN (the program could not be started; see lastEncoderOutcome()).
HENCODE BASS_Encode_Start(DWORD handle, const chimora::bass::EncoderCommand& command, DWORD flags,
                          void* proc, void* user);

/// Non-zero (BASS_ACTIVE_PLAYING) while the channel's encoder runs and takes data.
DWORD BASS_Encode_IsActive(DWORD handle);
