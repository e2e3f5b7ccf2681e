#pragma once
// The recording window "Record your ringtone": the input to record from, its level with a live
// meter, Start and Stop, and the elapsed time. It drives the recording engine and shows what the
// engine reports; the wizard that opens it connects to recordingReady().

#include "record/RecordEngine.h"

#include <QList>
#include <QPixmap>
#include <QWidget>

#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QSlider;
class QTimer;
class QToolBar;

namespace chimora {

class LevelMeter;
class RecordDevice;

class Form2 : public QWidget {
    Q_OBJECT
public:
    /// A window owned by `owner` (the wizard, disabled by the opener and enabled again when this
    /// window unloads). `device` null: the audio layer's recording device. Deletes itself when
    /// closed.
    explicit Form2(QWidget* owner, std::unique_ptr<RecordDevice> device = nullptr);
    ~Form2() override;

    RecordEngine* engine() const { return m_engine.get(); }

    QLabel* Label1 = nullptr;         // "Recording device:"
    QComboBox* cmbInput = nullptr;    // the inputs of the recording device
    QLabel* Label2 = nullptr;         // "Volume:"
    QSlider* sldInputLevel = nullptr; // level of the chosen input, 0..100
    QToolBar* Toolbar1 = nullptr;     // "Start Recording" and "Stop Recording" buttons
    QLabel* Label3 = nullptr;         // elapsed recording time
    QTimer* Timer2 = nullptr;         // elapsed-time ticker (100 ms) while recording
    LevelMeter* levelMeter = nullptr; // live peak meter of the chosen input
    QList<QPixmap> ImageList11;       // toolbar pictures
    QList<QPixmap> ImageList2;        // toolbar pictures when disabled

    /// Toolbar button 1 ("Start Recording") or 2 ("Stop Recording").
    QAction* toolbarButton(int index) const;

    /// The desktop session ends: a running recording stops as with Stop (its file is kept and
    /// handed on); an idle window closes.
    void endSession();

signals:
    /// A recording is complete in `path`; emitted after this window has unloaded.
    void recordingReady(const QString& path);

public slots:
    void cmbInput_Click(int index);
    void sldInputLevel_Scroll(int value);
    void Toolbar1_ButtonClick(int index);
    void Timer2_Timer();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    enum class RunningRecording { Keep, Discard, GoOn };

    void Form_Load();
    /// Asks what becomes of the recording when the window is closed during it.
    RunningRecording askAboutRunningRecording();
    void Form_Unload();
    void onStateChanged(RecordEngine::State state);
    void onAudioError(const QString& message, int code);
    void onEncoderError(const QString& message);
    void setButtons(bool recording);

    std::unique_ptr<RecordDevice> m_device;
    std::unique_ptr<RecordEngine> m_engine;
    QTimer* m_meterTimer = nullptr;
    bool m_loaded = false;
    bool m_unloaded = false;
    bool m_settingLevel = false; // the slider shows a level read, not a user's move
};

} // namespace chimora
