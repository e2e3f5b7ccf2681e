#include "platform/encoder/StreamEncoder.h"

#include "platform/wav/WavHeader.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cstring>

namespace chimora {

namespace {

// An encoder that reads nothing for this long, or has not ended this long after its input was
// closed, is taken for hung; the window cannot answer meanwhile, so the limit stays short.
constexpr int kDefaultLimitMs = 10000;

struct Limits {
    int stallMs = kDefaultLimitMs;
    int exitMs = kDefaultLimitMs;
};

Limits& limits() {
    static Limits l;
    return l;
}

/// The last line the encoder printed that says something: progress displays (redrawn with
/// '\r', "[ 31.3%]" or "(21%)|") are not messages.
QString lastMessageLine(const QByteArray& errorOutput) {
    static const QRegularExpression progress(QStringLiteral("\\d%[\\])]"));
    const QStringList lines =
        QString::fromLocal8Bit(errorOutput)
            .split(QRegularExpression(QStringLiteral("[\r\n]")), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = it->trimmed();
        if (!line.isEmpty() && !line.contains(progress))
            return line;
    }
    return {};
}

QString describeFailure(const QString& name, const ProcessExit& exit, bool inputRefused,
                        const QByteArray& errorOutput) {
    const QString said = lastMessageLine(errorOutput);
    QString what;
    switch (exit.how) {
    case ProcessExit::How::Exited:
        if (exit.exitCode == 0 && !inputRefused)
            return {};
        what = exit.exitCode != 0
                   ? QStringLiteral("%1 failed (exit code %2)").arg(name).arg(exit.exitCode)
                   : QStringLiteral("%1 stopped reading the audio before its end").arg(name);
        break;
    case ProcessExit::How::Crashed:
        what = exit.signal ? QStringLiteral("%1 crashed (%2)")
                                 .arg(name, QString::fromLocal8Bit(strsignal(exit.signal)))
                           : QStringLiteral("%1 ended unexpectedly").arg(name);
        break;
    case ProcessExit::How::Killed:
        what = QStringLiteral("%1 stopped responding and was ended").arg(name);
        break;
    case ProcessExit::How::Running:
    case ProcessExit::How::NotStarted:
        what = QStringLiteral("%1 did not finish").arg(name);
        break;
    }
    return said.isEmpty() ? what + QLatin1Char('.') : what + QStringLiteral(": ") + said;
}

} // namespace

std::unique_ptr<StreamEncoder> StreamEncoder::start(const EncoderCommand& command, int sampleRate,
                                                    int channels, EncoderOutcome* failure) {
    std::unique_ptr<StreamEncoder> e(new StreamEncoder);
    e->m_outcome.program = command.program;
    e->m_process.setStallTimeoutMs(limits().stallMs);
    const auto started = e->m_process.start(command.program, command.arguments);
    if (!started.ok()) {
        e->m_outcome.failure = started.error().message;
        if (failure)
            *failure = e->m_outcome;
        return nullptr;
    }
    e->m_outcome.started = true;
    e->feed(wavHeader(sampleRate, channels, kWavStreamingSize).constData(), 44);
    return e;
}

StreamEncoder::~StreamEncoder() = default;

void StreamEncoder::feed(const char* data, qint64 bytes) {
    if (m_broken || bytes <= 0)
        return;
    const auto written = m_process.write(data, bytes);
    if (!written.ok()) {
        // Its exit status and error text usually say more than the failed write; finish()
        // decides. A write that gave up waiting has already ended the process.
        m_broken = true;
        m_writeFailure = written.error().message;
        m_process.closeInput();
    }
}

bool StreamEncoder::isActive() {
    return !m_broken && m_process.isRunning();
}

EncoderOutcome StreamEncoder::finish() {
    if (!m_broken) {
        const auto drained = m_process.finishInput();
        if (!drained.ok()) {
            m_broken = true;
            m_writeFailure = drained.error().message;
        }
    }
    m_process.closeInput();
    const ProcessExit exit = m_process.waitForExit(limits().exitMs);
    m_outcome.exit = exit;
    m_outcome.errorOutput = m_process.errorOutput();
    m_outcome.inputRefused = m_process.inputRefused();
    const QString name = QFileInfo(m_outcome.program).fileName();
    m_outcome.failure = describeFailure(name, exit, m_outcome.inputRefused, m_outcome.errorOutput);
    if (m_broken && (m_outcome.failure.isEmpty() || exit.how == ProcessExit::How::Killed))
        m_outcome.failure = m_writeFailure;
    return m_outcome;
}

void setEncoderTimeLimits(int stallMs, int exitMs) {
    limits().stallMs = stallMs > 0 ? stallMs : kDefaultLimitMs;
    limits().exitMs = exitMs > 0 ? exitMs : kDefaultLimitMs;
}

} // namespace chimora
