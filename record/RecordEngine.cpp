#include "record/RecordEngine.h"

#include "platform/core/AppFolder.h"
#include "record/RecordState.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

namespace chimora {

namespace {

int64_t steadyMs()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer.elapsed();
}

QString encoderFailureText(const EncoderOutcome& outcome)
{
    const QString why = outcome.failure.isEmpty() ? QString() : QStringLiteral("\n\n") + outcome.failure;
    return QStringLiteral("The MP3 encoder lame could not record. Check that lame is installed "
                          "(Debian package \"lame\") or lies in the program's folder.") +
           why;
}

} // namespace

RecordEngine::RecordEngine(RecordDevice& device, QObject* parent, Clock clock)
    : QObject(parent), m_device(device), m_clock(clock ? std::move(clock) : Clock(&steadyMs))
{
}

RecordEngine::~RecordEngine()
{
    if (m_state != State::Closed)
        discard();
}

QString RecordEngine::outputPath()
{
    return appFilePath(QStringLiteral("temp.mp3"));
}

EncoderCommand RecordEngine::encoderCommand()
{
    QString lame = findProgram(QStringLiteral("lame"));
    if (lame.isEmpty())
        lame = QStringLiteral("lame"); // starting it fails and says so
    return {lame, {QStringLiteral("--alt-preset"), QStringLiteral("standard"), QStringLiteral("-"),
                   outputPath()}};
}

void RecordEngine::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void RecordEngine::open()
{
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

void RecordEngine::chooseInput(int index)
{
    if (m_state == State::Closed || InputIndex <= -1 || index < 0 || index >= m_listed)
        return;
    chooseStep(index, m_listed);
    m_device.watchLevel(true);
}

void RecordEngine::chooseStep(int index, int listed)
{
    InputIndex = index;
    for (int i = 0; i < listed; ++i)
        m_device.setInput(i, BASS_INPUT_OFF);
    m_device.setInput(InputIndex, BASS_INPUT_ON);
    UpdateInputInfo();
}

void RecordEngine::setLevel(int percent)
{
    if (InputIndex > -1)
        m_device.setInput(InputIndex, BASS_INPUT_LEVEL | DWORD(std::clamp(percent, 0, 100)));
}

void RecordEngine::UpdateInputInfo()
{
    const DWORD state = m_device.inputState(InputIndex);
    if (state != DWORD(-1))
        emit levelRead(int(LoWord(state)));
}

void RecordEngine::StartRecording()
{
    if (m_state != State::Idle)
        return;
    if (RecordChannel) {
        m_device.free(RecordChannel);
        RecordChannel = 0;
    }
    // A recording that fails must not leave an earlier one looking like its result.
    QFile::remove(outputPath());

    RecordChannel = m_device.startCapture();
    if (!RecordChannel) {
        report([&] { emit audioError(QStringLiteral("Couldn't start recording"), m_device.lastError()); });
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

EncoderOutcome RecordEngine::endChannel()
{
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

int64_t RecordEngine::capturedFrames() const
{
    const int64_t bytes =
        RecordChannel && m_state == State::Recording ? m_device.capturedBytes(RecordChannel)
                                                     : m_lastCapturedBytes;
    return bytes / 4;
}

void RecordEngine::close()
{
    m_device.watchLevel(false);
    // The next window starts from the server's default input again.
    if (InputIndex > -1)
        m_device.setInput(InputIndex, BASS_INPUT_OFF);
    setState(State::Closed);
}

void RecordEngine::StopRecording()
{
    if (m_state != State::Recording || m_reporting)
        return;
    const EncoderOutcome outcome = endChannel();
    if (outcome.started && !outcome.succeeded()) {
        report([&] { emit encoderError(encoderFailureText(outcome)); });
        close();
        return;
    }
    close();
    emit recordingFinished(outputPath());
}

void RecordEngine::discard()
{
    if (m_state == State::Closed)
        return;
    const bool recording = m_state == State::Recording;
    endChannel();
    if (recording)
        QFile::remove(outputPath());
    close();
}

void RecordEngine::tick()
{
    if (m_state != State::Recording || m_reporting)
        return;
    setElapsed(m_clock() - m_startMs);
    emit elapsedChanged(elapsedText());
    if (m_device.isCapturing(RecordChannel))
        return;
    if (m_device.encoderActive(RecordChannel)) {
        // The server dropped the capture: what reached the encoder is kept and handed on.
        report([&] {
            emit audioError(QStringLiteral("The recording stopped because the sound server went "
                                           "away. What was recorded until then is kept."),
                            BASS_ERROR_DRIVER);
        });
        StopRecording();
        return;
    }
    const EncoderOutcome outcome = endChannel();
    QFile::remove(outputPath());
    report([&] { emit encoderError(encoderFailureText(outcome)); });
    close();
}

void RecordEngine::report(const std::function<void()>& emitError)
{
    // The window shows a box for the error, and its event loop lets timer ticks through.
    m_reporting = true;
    emitError();
    m_reporting = false;
}

} // namespace chimora
