#pragma once
// RenderRingtone: the render with its progress window, for the wizard's delivery actions.

#include "platform/core/AtomicFile.h"
#include "platform/core/Result.h"
#include "render/RingtoneFormat.h"

#include <QMessageBox>
#include <QString>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QRadioButton;
class QTimer;
class QWidget;

namespace chimora {

/// The wizard's controls and editor calls the render reads at the moment of each call. The
/// wizard registers them once at start-up with setRenderControls().
struct RenderControls {
    QWidget* wizard = nullptr;   ///< Form1: disabled during a render, owner of the progress window
    QComboBox* Combo1 = nullptr; ///< whole song (0) or selected section (1)
    QComboBox* Combo2 = nullptr; ///< sample rate texts
    QComboBox* Combo3 = nullptr; ///< bitrate texts
    QComboBox* Combo4 = nullptr; ///< "Mono", "Stereo"
    QRadioButton* Option1 = nullptr; ///< WAV
    QRadioButton* Option2 = nullptr; ///< MP3
    QRadioButton* Option3 = nullptr; ///< OGG
    QTimer* Timer4 = nullptr;        ///< progress ticker; set to 500 ms and connected here
    QString* OutAudioFile = nullptr; ///< the wizard's OutAudioFile
    /// The editor's format object: rate in Hz, channels, bitrate in kbit/s (0 = not chosen).
    std::function<void(int rateHz, int channels, int bitrateKbps)> setEditorFormat;
    /// The editor's save: WAV of the whole audio or the selection at `path`, complete on return.
    std::function<Result<void>(const QString& path, bool selectionOnly, int mode)> saveEditorAudio;
};

/// Registers the wizard's controls (replacing earlier ones) and connects Timer4's tick, which
/// moves the progress window's bar from EncodeStream's position and length.
void setRenderControls(const RenderControls& controls);

/// The options page's fade and loudness controls, read at the moment of each render like the
/// controls above. The options page registers them itself (replacing earlier ones); a control
/// that has been destroyed reads as not chosen.
struct RenderShapingControls {
    QCheckBox* fadeIn = nullptr;           ///< "Fade in"
    QCheckBox* fadeOut = nullptr;          ///< "Fade out"
    QDoubleSpinBox* fadeSeconds = nullptr; ///< length of each fade, seconds
    QCheckBox* evenLoudness = nullptr;     ///< "Even out loudness"
};
void setRenderShapingControls(const RenderShapingControls& controls);

/// The format of the format option that is set (Option1 WAV, Option2 MP3, Option3 OGG, tested
/// in that order), or none.
std::optional<RingtoneFormat> chosenRingtoneFormat();

/// True while RenderRingtone runs (its event-loop passes let other events through).
bool renderInProgress();

/// Renders the ringtone to `outputPath` with the choices the wizard's controls hold now: the
/// wizard is disabled and the progress window Form3 shown until the work is done; then the
/// wizard is enabled again and gets the focus. Shows one message box (title "Chimora") when the
/// render failed, naming what failed, or when the file got another rate, channel count or
/// bitrate than chosen. Returns true when a complete file is at `outputPath`. A call made while
/// a render runs (from one of its event-loop passes) does nothing and returns false.
/// `outputLinks`: see renderRingtone().
bool RenderRingtone(const QString& outputPath, LinkPolicy outputLinks = LinkPolicy::WriteThrough);

/// Replaces the message box (tests): called with the icon and the text instead of showing it.
/// An empty function restores the box.
void setRenderMessageHandlerForTesting(
    std::function<void(QMessageBox::Icon icon, const QString& text)> handler);

} // namespace chimora
