#pragma once
// One child process started from a program and an argument list (never through a shell), fed
// through its standard input, with its error output captured.

#include "platform/core/Result.h"
#include "platform/core/UniqueFd.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace chimora {

/// How a child process ended.
struct ProcessExit {
    enum class How {
        NotStarted, ///< start() failed or was never called
        Running,    ///< has not ended yet (waitForExit() timed out without killing)
        Exited,     ///< returned from main or called exit(): see exitCode
        Crashed,    ///< ended by a signal it did not ask for: see signal
        Killed,     ///< we ended it after it overran a time limit
    };
    How how = How::NotStarted;
    int exitCode = -1; ///< with Exited
    int signal = 0;    ///< with Crashed and Killed
    bool succeeded() const { return how == How::Exited && exitCode == 0; }
};

/// A descriptor (close-on-exec) that names process `pid` for good and becomes readable when it
/// ends; -1 where the kernel offers none. Only while the child is not yet reaped does `pid`
/// still name it.
int openProcessFd(pid_t pid);

/// Owns one child process. The child's standard input is a pipe we write; its standard error is
/// captured (the last kErrorTailBytes are kept); its standard output goes to /dev/null unless
/// captured. Every wait drains both outputs, so a child that prints a lot while we feed it never
/// blocks us and we never block it.
///
/// SIGPIPE: a child that stops reading makes our writes fail with EPIPE, which the kernel also
/// signals with SIGPIPE. We block SIGPIPE on the writing thread for the duration of each write
/// and swallow the one a failed write raised, so the process-wide disposition (and the one the
/// child inherits) is left alone.
///
/// Not thread-safe: use one object from one thread. The destructor ends a child still running
/// (input closed, SIGTERM, then SIGKILL) and reaps it, so no zombie is left.
class ChildProcess {
public:
    static constexpr int kErrorTailBytes = 16 * 1024;

    enum class StandardOutput { Discard, Capture };

    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts `program` (a path, or a name looked up on PATH) with `arguments`. Fails with an
    /// Environment error naming the program when it cannot be executed.
    Result<void> start(const QString& program, const QStringList& arguments,
                       StandardOutput output = StandardOutput::Discard);

    /// Writes all `bytes` to the child's input, draining its outputs meanwhile. Fails when the
    /// child stopped reading (closed its input or ended), or when it accepted nothing for
    /// stallTimeoutMs() milliseconds (it is then killed).
    Result<void> write(const char* data, qint64 bytes);
    Result<void> write(const QByteArray& data) { return write(data.constData(), data.size()); }

    /// Closes the child's input (end of file for it). Idempotent.
    void closeInput();

    /// Waits until the child has read everything written so far, then closes its input. Fails
    /// (and marks the input refused) when the child ends with input left unread, and fails and
    /// kills it when it reads nothing for stallTimeoutMs(). A child that exits early is
    /// otherwise invisible once its last input fits into the pipe.
    Result<void> finishInput();

    /// Waits up to `timeoutMs` for the child to end, draining its outputs. When the limit
    /// passes and `killOnTimeout` is true, sends SIGTERM, waits up to a second, sends SIGKILL
    /// and reaps it (how == Killed). Returns the way it ended.
    ProcessExit waitForExit(int timeoutMs, bool killOnTimeout = true);

    /// Non-blocking: true while the child has not ended.
    bool isRunning();

    ProcessExit exitStatus() const { return m_exit; }
    /// The last kErrorTailBytes of the child's standard error.
    QByteArray errorOutput() const { return m_errorTail; }
    /// Everything the child wrote to standard output (only with StandardOutput::Capture).
    QByteArray standardOutput() const { return m_output; }
    /// True when a write found the child no longer reading its input.
    bool inputRefused() const { return m_inputRefused; }

    /// Longest time a write waits for the child to accept more input. Default 30000 ms.
    void setStallTimeoutMs(int ms) { m_stallTimeoutMs = ms; }
    int stallTimeoutMs() const { return m_stallTimeoutMs; }

    pid_t pid() const { return m_pid; }
    QString program() const { return m_program; }

private:
    /// Reads what the outputs have ready without blocking; closes each at its end of file.
    void drainOutputs();
    /// Reaps the child if it has ended; true when it has.
    bool reap(bool block);
    void kill();
    void closeAll();

    pid_t m_pid = -1;
    UniqueFd m_inputFd;
    UniqueFd m_errorFd;
    UniqueFd m_outputFd;
    UniqueFd m_pidFd; ///< readable once the child has ended (where the kernel offers it)
    int m_stallTimeoutMs = 30000;
    bool m_inputRefused = false;
    ProcessExit m_exit;
    QString m_program;
    QByteArray m_errorTail;
    QByteArray m_output;
};

} // namespace chimora
