#pragma once
// What the recording engine needs of a recording device: its inputs, a capture channel that
// feeds an encoder, and a level meter. The audio layer's recording functions are the real one
// (BassRecordDevice); tests use a fake. Calls return the audio layer's values (state words,
// channel handles, 0 for failure). UI thread.

#include "platform/bass/Bass.h"
#include "platform/encoder/StreamEncoder.h"

#include <QString>

#include <optional>

namespace chimora {

class RecordDevice {
public:
    virtual ~RecordDevice() = default;

    /// Name of input `input`; nullopt past the last one. Input 0 lists the inputs afresh.
    virtual std::optional<QString> inputName(int input) = 0;
    /// State word: BASS_INPUT_OFF while off, level 0..100 in the low word; DWORD(-1) on failure.
    virtual DWORD inputState(int input) = 0;
    /// BASS_INPUT_OFF, BASS_INPUT_ON, or BASS_INPUT_LEVEL | level.
    virtual bool setInput(int input, DWORD setting) = 0;

    /// A paused 44100 Hz 16-bit stereo capture from the input switched on; 0 on failure.
    virtual DWORD startCapture() = 0;
    /// Starts the encoder fed with the channel's PCM after a WAV header.
    virtual bool startEncoder(DWORD channel, const EncoderCommand& command) = 0;
    virtual bool play(DWORD channel) = 0;
    /// Ends the capture; returns once the encoder has finished its file (or its time limit).
    virtual bool stop(DWORD channel) = 0;
    virtual bool free(DWORD channel) = 0;
    /// True while the channel captures.
    virtual bool isCapturing(DWORD channel) = 0;
    /// Bytes the channel has captured so far.
    virtual int64_t capturedBytes(DWORD channel) = 0;
    /// True while the channel's encoder runs and takes data.
    virtual bool encoderActive(DWORD channel) = 0;
    /// The code of the last failure (BASS_ErrorGetCode's codes).
    virtual int lastError() = 0;
    /// How the channel's encoder ended (after stop()), or why it did not start.
    virtual EncoderOutcome lastEncoderOutcome() = 0;

    /// Watches the level of the input switched on now (again after switching); false stops.
    virtual void watchLevel(bool on) = 0;
    /// The loudest level (0..1) since the last call.
    virtual float takePeak() = 0;
};

} // namespace chimora
