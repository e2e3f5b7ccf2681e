#include "platform/core/ChildProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace chimora {

namespace {

constexpr int kTermGraceMs = 1000;
constexpr int kInputPipeBytes = 1024 * 1024;
constexpr int kFullPipeNapMs = 2;

void setNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

QString systemError(int err) {
    return QString::fromLocal8Bit(::strerror(err));
}

/// Blocks SIGPIPE on this thread for its lifetime. A write to a pipe whose reader has gone then
/// fails with EPIPE only; the signal it raised stays pending on this thread until swallow()
/// takes it, and the old mask is restored on exit.
class SigpipeBlock {
public:
    SigpipeBlock() {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_set, &m_old);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlock() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
    void swallow() {
        if (m_wasPending)
            return; // not ours to take
        const timespec zero{};
        while (sigtimedwait(&m_set, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }

private:
    sigset_t m_set;
    sigset_t m_old;
    bool m_wasPending = false;
};

int remainingMs(const QElapsedTimer& clock, int limitMs) {
    return std::max<qint64>(0, limitMs - clock.elapsed());
}

} // namespace

int openProcessFd(pid_t pid) {
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? int(fd) : -1;
#else
    Q_UNUSED(pid);
    return -1;
#endif
}

ChildProcess::ChildProcess() = default;

ChildProcess::~ChildProcess() {
    if (m_exit.how == ProcessExit::How::Running) {
        closeInput();
        waitForExit(200, true);
    }
    closeAll();
}

Result<void> ChildProcess::start(const QString& program, const QStringList& arguments,
                                 StandardOutput output) {
    if (m_exit.how != ProcessExit::How::NotStarted)
        return Error::internal(QStringLiteral("A child process object was started twice."));
    m_program = program;
    const QString name = QFileInfo(program).fileName();

    // Both ends of each pipe are ours until the child has its copies; only our ends stay.
    struct Pipe {
        UniqueFd read, write;
    };
    auto makePipe = [](Pipe& p) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        p.read.reset(fds[0]);
        p.write.reset(fds[1]);
        return true;
    };
    Pipe in, err, out;
    if (!makePipe(in) || !makePipe(err) || (output == StandardOutput::Capture && !makePipe(out))) {
        const int errorNumber = errno;
        return Error::environment(
            QStringLiteral("%1 could not be started: %2").arg(name, systemError(errorNumber)));
    }
    if (output != StandardOutput::Capture)
        out.write.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read.get(), STDIN_FILENO);
    if (out.write.isOpen())
        posix_spawn_file_actions_adddup2(&actions, out.write.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err.write.get(), STDERR_FILENO);

    // The child starts with no blocked signals and default handling of the ones a program
    // expects to be fatal, whatever this process has set up for itself.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        sigaddset(&defaults, sig);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<QByteArray> argStore;
    argStore.push_back(QFile::encodeName(program));
    for (const QString& arg : arguments)
        argStore.push_back(arg.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& arg : argStore)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = program.contains(QLatin1Char('/'))
                       ? ::posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ)
                       : ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);

    if (rc != 0)
        return Error::environment(
            QStringLiteral("%1 could not be started: %2").arg(name, systemError(rc)));

    m_pid = pid;
    m_exit.how = ProcessExit::How::Running;
    m_inputFd = std::move(in.write);
    m_errorFd = std::move(err.read);
    m_outputFd = std::move(out.read);
    // A large pipe holds many pulls: the encoder always has input while we decode, and a writer
    // facing a full pipe can nap instead of trading a wake-up for every few kilobytes read.
    ::fcntl(m_inputFd.get(), F_SETPIPE_SZ, kInputPipeBytes);
    setNonBlocking(m_inputFd.get());
    setNonBlocking(m_errorFd.get());
    if (m_outputFd.isOpen())
        setNonBlocking(m_outputFd.get());
    m_pidFd.reset(openProcessFd(pid));
    return {};
}

void ChildProcess::drainOutputs() {
    char buf[8192];
    for (UniqueFd* fd : {&m_errorFd, &m_outputFd}) {
        while (fd->isOpen()) {
            const ssize_t n = ::read(fd->get(), buf, sizeof buf);
            if (n > 0) {
                if (fd == &m_errorFd) {
                    m_errorTail.append(buf, n);
                    if (m_errorTail.size() > kErrorTailBytes)
                        m_errorTail.remove(0, m_errorTail.size() - kErrorTailBytes);
                } else {
                    m_output.append(buf, n);
                }
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                fd->reset(); // end of file (or a broken pipe): nothing more will come
            break;
        }
    }
}

Result<void> ChildProcess::write(const char* data, qint64 bytes) {
    const QString name = QFileInfo(m_program).fileName();
    if (!m_inputFd.isOpen())
        return Error::environment(QStringLiteral("%1 is no longer taking input.").arg(name));
    SigpipeBlock sigpipe;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    while (bytes > 0) {
        const ssize_t n = ::write(m_inputFd.get(), data, size_t(bytes));
        if (n > 0) {
            data += n;
            bytes -= n;
            sinceProgress.restart();
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EPIPE) {
            sigpipe.swallow();
            m_inputRefused = true;
            m_inputFd.reset();
            drainOutputs();
            return Error::environment(QStringLiteral("%1 stopped reading its input.").arg(name));
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int err = errno;
            closeInput();
            return Error::environment(
                QStringLiteral("Writing to %1 failed: %2").arg(name, systemError(err)));
        }

        // The pipe is full. Rather than wait for writability (the reader would then wake us for
        // every few kilobytes it takes), nap briefly: the pipe holds far more than the child
        // reads in a nap, so it never runs dry, and what the child prints is collected.
        const int wait = remainingMs(sinceProgress, m_stallTimeoutMs);
        if (wait == 0) {
            kill();
            return Error::environment(QStringLiteral("%1 stopped taking input for %2 s and was "
                                                     "ended.")
                                          .arg(name)
                                          .arg(m_stallTimeoutMs / 1000.0));
        }
        pollfd fds[2] = {{m_errorFd.get(), POLLIN, 0}, {m_outputFd.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, std::min(wait, kFullPipeNapMs));
        if (ready < 0 && errno != EINTR) {
            const int err = errno;
            return Error::internal(
                QStringLiteral("Waiting for %1 failed: %2").arg(name, systemError(err)));
        }
        if (fds[0].revents || fds[1].revents)
            drainOutputs();
    }
    return {};
}

void ChildProcess::closeInput() {
    m_inputFd.reset();
}

Result<void> ChildProcess::finishInput() {
    if (!m_inputFd.isOpen())
        return {};
    const QString name = QFileInfo(m_program).fileName();
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    int unread = 0;
    int lastUnread = -1;
    // A pipe says nothing when it becomes empty, so look every 2 ms; this only runs for the
    // last pipeful.
    while (::ioctl(m_inputFd.get(), FIONREAD, &unread) == 0 && unread > 0) {
        if (unread != lastUnread) {
            lastUnread = unread;
            sinceProgress.restart();
        }
        drainOutputs();
        if (!isRunning()) {
            m_inputRefused = true;
            closeInput();
            return Error::environment(
                QStringLiteral("%1 ended without reading all of its input.").arg(name));
        }
        if (remainingMs(sinceProgress, m_stallTimeoutMs) == 0) {
            kill();
            return Error::environment(QStringLiteral("%1 stopped taking input for %2 s and was "
                                                     "ended.")
                                          .arg(name)
                                          .arg(m_stallTimeoutMs / 1000.0));
        }
        pollfd fds[3] = {{m_pidFd.get(), POLLIN, 0},
                         {m_errorFd.get(), POLLIN, 0},
                         {m_outputFd.get(), POLLIN, 0}};
        ::poll(fds, 3, 2);
    }
    closeInput();
    return {};
}

bool ChildProcess::reap(bool block) {
    if (m_exit.how != ProcessExit::How::Running)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    if (r < 0) {
        // Someone else reaped it (a SIGCHLD handler set to ignore): we cannot know how it ended.
        m_exit.how = ProcessExit::How::Crashed;
    } else if (WIFEXITED(status)) {
        m_exit.how = ProcessExit::How::Exited;
        m_exit.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        m_exit.how = ProcessExit::How::Crashed;
        m_exit.signal = WTERMSIG(status);
    }
    m_pidFd.reset();
    return true;
}

bool ChildProcess::isRunning() {
    return m_exit.how == ProcessExit::How::Running && !reap(false);
}

ProcessExit ChildProcess::waitForExit(int timeoutMs, bool killOnTimeout) {
    QElapsedTimer clock;
    clock.start();
    while (m_exit.how == ProcessExit::How::Running) {
        drainOutputs();
        if (reap(false))
            break;
        const int left = remainingMs(clock, timeoutMs);
        if (left == 0) {
            if (killOnTimeout)
                kill();
            break;
        }
        pollfd fds[3] = {{m_pidFd.get(), POLLIN, 0},
                         {m_errorFd.get(), POLLIN, 0},
                         {m_outputFd.get(), POLLIN, 0}};
        // Without a pid descriptor (old kernels) we look again every 10 ms.
        const int wait = m_pidFd.isOpen() ? left : std::min(left, 10);
        ::poll(fds, 3, wait);
    }
    drainOutputs();
    return m_exit;
}

void ChildProcess::kill() {
    if (m_exit.how != ProcessExit::How::Running)
        return;
    closeInput();
    ::kill(m_pid, SIGTERM);
    QElapsedTimer clock;
    clock.start();
    while (!reap(false)) {
        const int left = remainingMs(clock, kTermGraceMs);
        if (left == 0) {
            ::kill(m_pid, SIGKILL);
            reap(true);
            break;
        }
        pollfd fd{m_pidFd.get(), POLLIN, 0};
        ::poll(&fd, 1, m_pidFd.isOpen() ? left : std::min(left, 10));
    }
    const int signal = m_exit.signal;
    m_exit = {};
    m_exit.how = ProcessExit::How::Killed;
    m_exit.signal = signal ? signal : SIGTERM;
}

void ChildProcess::closeAll() {
    m_inputFd.reset();
    m_errorFd.reset();
    m_outputFd.reset();
    m_pidFd.reset();
}

} // namespace chimora
