#pragma once
// The real recording device: the audio layer's recording functions, and a peak stream from the
// audio server for the level meter.

#include "record/RecordDevice.h"

#include <atomic>
#include <memory>

namespace chimora {

class CaptureStream;

/// The callback of every recording channel: the recording goes on while the channel's encoder
/// runs. Audio thread; touches nothing but the audio layer's encoder state.
BOOL RecordingCallback(HRECORD channel, const void* buffer, DWORD length, void* user);

class BassRecordDevice : public RecordDevice {
public:
    BassRecordDevice();
    ~BassRecordDevice() override;

    std::optional<QString> inputName(int input) override;
    DWORD inputState(int input) override;
    bool setInput(int input, DWORD setting) override;
    DWORD startCapture() override;
    bool startEncoder(DWORD channel, const EncoderCommand& command) override;
    bool play(DWORD channel) override;
    bool stop(DWORD channel) override;
    bool free(DWORD channel) override;
    bool isCapturing(DWORD channel) override;
    int64_t capturedBytes(DWORD channel) override;
    bool encoderActive(DWORD channel) override;
    int lastError() override;
    EncoderOutcome lastEncoderOutcome() override;
    void watchLevel(bool on) override;
    float takePeak() override;

private:
    std::unique_ptr<CaptureStream> m_meter;
    // The loudest peak since takePeak(); written on the audio thread.
    std::atomic<float> m_peak{0.0f};
};

} // namespace chimora
