#pragma once
// An encoder fed 16-bit PCM: a child process that gets a streaming WAV header and then the PCM
// on its standard input, and whose way of ending decides whether its file is good.

#include "platform/core/ChildProcess.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace chimora {

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

/// One encoder process fed 16-bit PCM. The decode channels of the audio layer own one each; the
/// recorder can own one the same way. UI thread (or one thread at a time).
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
    /// The encoder process; fixed from start() on, so any thread may read it.
    pid_t processId() const { return m_process.pid(); }

private:
    StreamEncoder() = default;

    ChildProcess m_process;
    EncoderOutcome m_outcome;
    bool m_broken = false;  // a write failed: no more data goes to it
    QString m_writeFailure; // what that write said
};

/// Time limits for encoders: how long a write may wait for the encoder to take input, and how
/// long freeing waits for it to exit after its input is closed. Defaults 10000 ms each. Tests
/// shorten them; 0 restores the defaults.
void setEncoderTimeLimits(int stallMs, int exitMs);

} // namespace chimora
