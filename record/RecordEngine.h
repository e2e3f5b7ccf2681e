#pragma once
// The recording engine: a state machine driven by the recording window's actions, over one
// RecordDevice. It captures from the chosen input, has lame encode it on the fly to temp.mp3 in
// the application folder, and says what happened through its signals; it opens no windows.
//
// States:
//   Closed    - no window; nothing captured. open() goes to Idle.
//   Idle      - inputs listed, the chosen input's level meter running. StartRecording() goes to
//               Recording, or (failing) to Closed with audioError or encoderError.
//   Recording - capturing to lame; tick() keeps the elapsed time. StopRecording() goes to Closed
//               with recordingFinished(temp.mp3). The encoder stopping (on its own or failing at
//               Stop) and the audio server going away end it the same way, after audioError:
//               what lame wrote until then is kept and handed on.
//   discard() (the user chose to throw the recording away) goes to Closed from anywhere,
//   removing the file. An engine destroyed while recording stops and keeps the file.
// The chosen input stays chosen after Closed: the next window starts from it.

#include "record/RecordDevice.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace chimora {

class RecordEngine : public QObject {
    Q_OBJECT
public:
    enum class State { Closed, Idle, Recording };
    Q_ENUM(State)

    /// Milliseconds of a steady clock; tests give their own.
    using Clock = std::function<int64_t()>;

    /// `device` must outlive the engine.
    explicit RecordEngine(RecordDevice& device, QObject* parent = nullptr, Clock clock = {});
    ~RecordEngine() override;

    State state() const { return m_state; }

    /// Opening sequence: InputIndex -1, the inputs listed (inputsListed) with the last one that
    /// is switched on chosen, its level read (levelRead), the meter started.
    void open();
    /// The user chose list entry `index` (ignored while no input is chosen).
    void chooseInput(int index);
    /// Sets the chosen input's level, 0..100.
    void setLevel(int percent);
    /// Reads the chosen input's level (levelRead).
    void UpdateInputInfo();

    void StartRecording();
    void StopRecording();
    /// The user threw the recording away: a running capture is stopped and its file removed.
    void discard();
    /// Every 100 ms while recording: updates the Elapsed values (elapsedChanged) and notices a
    /// capture or encoder that ended on its own.
    void tick();

    /// Frames (44100 a second) captured by the running recording, or by the last one once it
    /// has ended.
    int64_t capturedFrames() const;

    /// Loudest level (0..1) of the chosen input since the last call.
    float takePeak() { return m_device.takePeak(); }

    /// The file a recording is written to: temp.mp3 in the application folder.
    static QString outputPath();
    /// lame reading WAV from its standard input and writing outputPath() itself.
    static EncoderCommand encoderCommand();

signals:
    void stateChanged(chimora::RecordEngine::State state);
    void inputsListed(const QStringList& names, int chosen);
    void levelRead(int percent);
    void elapsedChanged(const QString& text);
    /// An audio failure: `message` and the audio layer's `code` (the audio error box).
    void audioError(const QString& message, int code);
    /// The recording could not start (the encoder, or its output file): a message for people.
    void encoderError(const QString& message);
    /// The recording is complete in `path`; emitted after the state became Closed.
    void recordingFinished(const QString& path);

private:
    enum class Ending { Stopped, EncoderStopped, ServerLost };

    void setState(State state);
    /// Stops the capture and hands on what was recorded, telling first what went wrong.
    void endRecording(Ending how);
    void chooseStep(int index, int listed);
    /// Stops and frees the channel; returns how its encoder ended.
    EncoderOutcome endChannel();
    void close();
    /// Emits an error signal with ticks and stops held off meanwhile.
    void report(const std::function<void()>& emitError);

    RecordDevice& m_device;
    Clock m_clock;
    State m_state = State::Closed;
    int m_listed = 0;
    int64_t m_startMs = 0;
    bool m_reporting = false;
    int64_t m_lastCapturedBytes = 0;
};

} // namespace chimora
