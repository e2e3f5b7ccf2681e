#pragma once
// A recording device for engine tests: inputs with states set by the test, and a capture and
// encoder whose failures the test chooses. Records what the engine asked of it.

#include "record/RecordDevice.h"

#include <QList>
#include <QStringList>

struct FakeRecordDevice : chimora::RecordDevice {
    struct Input {
        QString name;
        bool on = false;
        int level = 100;
    };
    QList<Input> inputs;
    bool captureFails = false;
    bool encoderFails = false;
    bool encoderFailsAtStop = false;  // its outcome, once stopped, is a crash
    QByteArray encoderWrites = "ID3"; // what the encoder has written to its file
    bool capturing = false;
    bool encoderRunning = false;
    int stops = 0;
    int frees = 0;
    QList<int> switchedOff; // inputs given BASS_INPUT_OFF, in order
    DWORD channel = 0;

    std::optional<QString> inputName(int input) override;
    DWORD inputState(int input) override;
    bool setInput(int input, DWORD setting) override;
    DWORD startCapture() override;
    bool startEncoder(DWORD, const chimora::EncoderCommand&) override;
    bool play(DWORD) override;
    bool stop(DWORD) override;
    bool free(DWORD) override;
    bool isCapturing(DWORD) override { return capturing; }
    int64_t capturedBytes(DWORD) override { return 0; }
    bool encoderActive(DWORD) override { return encoderRunning; }
    int lastError() override { return captureFails ? BASS_ERROR_DEVICE : BASS_OK; }
    chimora::EncoderOutcome lastEncoderOutcome() override;
    void watchLevel(bool) override {}
    float takePeak() override { return 0; }
};
