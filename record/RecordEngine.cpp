#include "record/RecordEngine.h"

#include "platform/core/AppFolder.h"
#include "record/RecordState.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace chimora {

namespace {

int64_t steadyMs() {
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer.elapsed();
}

QString encoderFailureText(const EncoderOutcome& outcome) {
    const QString why =
        outcome.failure.isEmpty() ? QString() : QStringLiteral("\n\n") + outcome.failure;
    return QStringLiteral("The MP3 encoder lame could not record. Check that lame is installed "
                          "(Debian package \"lame\") or lies in the program's folder.") +
           why;
}

// ": why" from the outcome's words for people, without their full stop; empty without any.
QString reason(const EncoderOutcome& outcome) {
    QString why = outcome.failure;
    while (why.endsWith(QLatin1Char('.')))
        why.chop(1);
    return why.isEmpty() ? QString() : QStringLiteral(": ") + why;
}

QString encoderStoppedText(const EncoderOutcome& outcome) {
    return QStringLiteral("The MP3 encoder stopped%1. The recording up to that moment is kept.")
        .arg(reason(outcome));
}

QString nothingWrittenText(const EncoderOutcome& outcome) {
    return QStringLiteral("The MP3 encoder stopped before it wrote any of the recording%1. "
                          "Nothing was recorded; check that lame works (Debian package "
                          "\"lame\").")
        .arg(reason(outcome));
}

// lame opens temp.mp3 by name and writes through whatever it finds there. So whatever lies there
// first (an earlier recording, or a link someone planted) is replaced by a new empty file of our
// own: rename() replaces a link itself, never what it points to. Returns why that failed.
QString replaceWithEmptyFile(const QString& path) {
    const QFileInfo info(path);
    const QString hidden = info.absolutePath() + QStringLiteral("/.") + info.fileName();
    for (int attempt = 0;; ++attempt) {
        const QByteArray fresh = QFile::encodeName(hidden) + '.' +
                                 QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        // New, never through a link, and with the permissions lame would have given it.
        const int fd =
            ::open(fresh.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST && attempt < 100)
                continue;
            return QString::fromLocal8Bit(std::strerror(errno));
        }
        ::close(fd);
        if (std::rename(fresh.constData(), QFile::encodeName(path).constData()) != 0) {
            const int err = errno;
            ::unlink(fresh.constData());
            return QString::fromLocal8Bit(std::strerror(err));
        }
        return {};
    }
}

} // namespace

RecordEngine::RecordEngine(RecordDevice& device, QObject* parent, Clock clock)
    : QObject(parent), m_device(device), m_clock(clock ? std::move(clock) : Clock(&steadyMs)) {}

RecordEngine::~RecordEngine() {
    // Only the user throws a recording away; going with the program (or its session) keeps it.
    if (m_state != State::Closed) {
        endChannel();
        close();
    }
}

QString RecordEngine::outputPath() {
    return appFilePath(QStringLiteral("temp.mp3"));
}

EncoderCommand RecordEngine::encoderCommand() {
    QString lame = findProgram(QStringLiteral("lame"));
    if (lame.isEmpty())
        lame = QStringLiteral("lame"); // starting it fails and says so
    return {lame,
            {QStringLiteral("--alt-preset"), QStringLiteral("standard"), QStringLiteral("-"),
             outputPath()}};
}

void RecordEngine::setState(State state) {
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void RecordEngine::open() {
    if (m_state != State::Closed)
        return;
    InputIndex = -1;
    QStringList names;
    int chosen = -1;
    for (int i = 0;; ++i) {
        const std::optional<QString> name = m_device.inputName(i);
        if (!name)
            break;
        names << *name;
        const DWORD state = m_device.inputState(i);
        if (state != DWORD(-1) && !(state & BASS_INPUT_OFF)) {
            chosen = i;
            // A second input that is on is chosen as the user would choose it, which switches
            // the earlier ones off.
            if (InputIndex > -1)
                chooseStep(i, int(names.size()));
            InputIndex = i;
            UpdateInputInfo();
        }
    }
    m_listed = int(names.size());
    setState(State::Idle);
    emit inputsListed(names, chosen);
    m_device.watchLevel(true);
}

void RecordEngine::chooseInput(int index) {
    if (m_state == State::Closed || InputIndex <= -1 || index < 0 || index >= m_listed)
        return;
    chooseStep(index, m_listed);
    m_device.watchLevel(true);
}

void RecordEngine::chooseStep(int index, int listed) {
    InputIndex = index;
    for (int i = 0; i < listed; ++i)
        m_device.setInput(i, BASS_INPUT_OFF);
    m_device.setInput(InputIndex, BASS_INPUT_ON);
    UpdateInputInfo();
}

void RecordEngine::setLevel(int percent) {
    if (InputIndex > -1)
        m_device.setInput(InputIndex, BASS_INPUT_LEVEL | DWORD(std::clamp(percent, 0, 100)));
}

void RecordEngine::UpdateInputInfo() {
    const DWORD state = m_device.inputState(InputIndex);
    if (state != DWORD(-1))
        emit levelRead(int(LoWord(state)));
}

void RecordEngine::StartRecording() {
    if (m_state != State::Idle)
        return;
    if (RecordChannel) {
        m_device.free(RecordChannel);
        RecordChannel = 0;
    }
    // A recording that fails must not leave an earlier one looking like its result.
    if (const QString why = replaceWithEmptyFile(outputPath()); !why.isEmpty()) {
        const QString text = QStringLiteral("The recording cannot be written to %1: %2.")
                                 .arg(QDir::toNativeSeparators(outputPath()), why);
        report([&] { emit encoderError(text); });
        close();
        return;
    }

    RecordChannel = m_device.startCapture();
    if (!RecordChannel) {
        QFile::remove(outputPath());
        report([&] {
            emit audioError(QStringLiteral("Couldn't start recording"), m_device.lastError());
        });
        close();
        return;
    }
    if (!m_device.startEncoder(RecordChannel, encoderCommand())) {
        const EncoderOutcome outcome = m_device.lastEncoderOutcome();
        endChannel();
        QFile::remove(outputPath());
        report([&] { emit encoderError(encoderFailureText(outcome)); });
        close();
        return;
    }
    m_lastCapturedBytes = 0;
    m_device.play(RecordChannel);
    m_startMs = m_clock();
    setElapsed(0);
    setState(State::Recording);
    emit elapsedChanged(elapsedText());
}

EncoderOutcome RecordEngine::endChannel() {
    EncoderOutcome outcome;
    if (RecordChannel) {
        m_device.stop(RecordChannel);
        m_lastCapturedBytes = m_device.capturedBytes(RecordChannel);
        outcome = m_device.lastEncoderOutcome();
        m_device.free(RecordChannel);
        RecordChannel = 0;
    }
    return outcome;
}

int64_t RecordEngine::capturedFrames() const {
    const int64_t bytes = RecordChannel && m_state == State::Recording
                              ? m_device.capturedBytes(RecordChannel)
                              : m_lastCapturedBytes;
    return bytes / 4;
}

void RecordEngine::close() {
    // The chosen input stays switched on, so the next window starts from the user's choice.
    m_device.watchLevel(false);
    setState(State::Closed);
}

void RecordEngine::StopRecording() {
    if (m_state != State::Recording || m_reporting)
        return;
    endRecording(Ending::Stopped);
}

void RecordEngine::endRecording(Ending how) {
    const EncoderOutcome outcome = endChannel();
    if (how == Ending::Stopped && outcome.started && !outcome.succeeded())
        how = Ending::EncoderStopped;
    const QString path = outputPath();
    // lame writes whole frames as it goes: whatever it wrote before it stopped plays.
    const bool kept = how == Ending::Stopped || QFileInfo(path).size() > 0;
    if (how != Ending::Stopped) {
        if (how == Ending::EncoderStopped)
            qWarning().noquote() << "recording: the encoder stopped:" << outcome.failure
                                 << QString::fromLocal8Bit(outcome.errorOutput.right(2000));
        QString text;
        if (!kept)
            text = nothingWrittenText(outcome);
        else if (how == Ending::EncoderStopped)
            text = encoderStoppedText(outcome);
        else
            text = QStringLiteral("The recording stopped because the sound server went away. "
                                  "What was recorded until then is kept.");
        if (!kept)
            QFile::remove(path);
        const int code = how == Ending::ServerLost ? BASS_ERROR_DRIVER : BASS_ERROR_ENDED;
        report([&] { emit audioError(text, code); });
    }
    close();
    if (kept)
        emit recordingFinished(path);
}

void RecordEngine::discard() {
    if (m_state == State::Closed)
        return;
    const bool recording = m_state == State::Recording;
    endChannel();
    if (recording)
        QFile::remove(outputPath());
    close();
}

void RecordEngine::tick() {
    if (m_state != State::Recording || m_reporting)
        return;
    setElapsed(m_clock() - m_startMs);
    emit elapsedChanged(elapsedText());
    // An encoder that ended also ends the capture (at its next piece), so it is asked first.
    if (!m_device.encoderActive(RecordChannel))
        endRecording(Ending::EncoderStopped);
    else if (!m_device.isCapturing(RecordChannel))
        endRecording(Ending::ServerLost);
}

void RecordEngine::report(const std::function<void()>& emitError) {
    // The window shows a box for the error, and its event loop lets timer ticks through.
    m_reporting = true;
    emitError();
    m_reporting = false;
}

} // namespace chimora
