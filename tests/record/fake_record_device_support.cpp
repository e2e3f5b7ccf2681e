#include "fake_record_device_support.h"

#include "record/RecordEngine.h"

#include <QFile>

std::optional<QString> FakeRecordDevice::inputName(int input) {
    if (input < 0 || input >= inputs.size())
        return std::nullopt;
    return inputs[input].name;
}

DWORD FakeRecordDevice::inputState(int input) {
    if (input < 0 || input >= inputs.size())
        return DWORD(-1);
    return (inputs[input].on ? 0 : DWORD(BASS_INPUT_OFF)) | DWORD(inputs[input].level);
}

bool FakeRecordDevice::setInput(int input, DWORD setting) {
    if (input < 0 || input >= inputs.size())
        return false;
    if (setting & BASS_INPUT_LEVEL)
        inputs[input].level = int(setting & 0xFFFF);
    if (setting & BASS_INPUT_ON)
        inputs[input].on = true;
    if (setting & BASS_INPUT_OFF) {
        inputs[input].on = false;
        switchedOff << input;
    }
    return true;
}

DWORD FakeRecordDevice::startCapture() {
    return captureFails ? 0 : ++channel;
}

bool FakeRecordDevice::startEncoder(DWORD, const chimora::EncoderCommand&) {
    if (encoderFails)
        return false;
    encoderRunning = true;
    // What the encoder would write.
    QFile out(chimora::RecordEngine::outputPath());
    return out.open(QIODevice::WriteOnly) && out.write(encoderWrites) == encoderWrites.size();
}

bool FakeRecordDevice::play(DWORD) {
    capturing = true;
    return true;
}

bool FakeRecordDevice::stop(DWORD) {
    ++stops;
    capturing = false;
    encoderRunning = false;
    return true;
}

bool FakeRecordDevice::free(DWORD) {
    ++frees;
    return true;
}

chimora::EncoderOutcome FakeRecordDevice::lastEncoderOutcome() {
    chimora::EncoderOutcome o;
    o.program = QStringLiteral("lame");
    o.started = !encoderFails;
    if (encoderFails)
        o.failure = QStringLiteral("lame could not be started");
    else if (encoderFailsAtStop && stops > 0)
        o.failure = QStringLiteral("lame crashed (Segmentation fault).");
    return o;
}
