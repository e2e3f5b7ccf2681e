#pragma once
// Turning the audio in the editor into the ringtone file: the editor writes a WAV in the chosen
// rate and channel count, which is either copied to the output (WAV) or streamed through lame or
// oggenc into it. No widgets: the progress window hangs on the observer's calls.

#include "platform/core/AtomicFile.h"
#include "platform/core/Result.h"
#include "render/RingtoneFormat.h"
#include "render/RingtoneShaping.h"

#include <QString>

#include <functional>
#include <optional>

namespace chimora {

/// The choices of a render, as the wizard's controls hold them at the moment of the call.
struct RenderChoices {
    std::optional<RingtoneFormat> format; ///< none when no format option is set
    QString sampleRateText;               ///< the rate list's selected text, e.g. "22050"
    QString bitrateText;                  ///< the bitrate list's selected text, e.g. "128"
    int channelsIndex = -1;               ///< position in the channels list: 0 mono, 1 stereo
    int sectionIndex = -1; ///< position in the section list: 0 whole song, 1 the selection
    /// Fades and loudness for the rendered file (the editor's audio stays as it is). The peak
    /// ceiling is the render's to set for the format.
    RenderShaping shaping;
};

/// The editor, as the render uses it.
struct RenderEditor {
    /// Sets the format of the editor's next save: rate in Hz, channels, bitrate in kbit/s; each
    /// 0 when not chosen.
    std::function<void(int sampleRateHz, int channels, int bitrateKbps)> setFormat;
    /// Writes the whole audio or only the selection as a WAV file at `path` in that format and
    /// returns when it is complete. `mode` is always 1.
    std::function<Result<void>(const QString& path, bool selectionOnly, int mode)> save;
    /// The wizard's OutAudioFile: set by the render to the temporary WAV's path. May be null.
    QString* outAudioFile = nullptr;
};

/// Told how a render goes; each call is made from inside renderRingtone() on its thread.
class RenderObserver {
public:
    virtual ~RenderObserver() = default;
    /// Lets the event loop process pending events (called after every pull of the encoding).
    virtual void processEvents();
    /// Before the editor saves: the wizard is disabled and the progress window shows
    /// "Preparing...".
    virtual void preparing() {}
    /// The editor has saved; the file is now copied or encoded ("Converting...").
    virtual void converting() {}
    /// The encoder runs on EncodeStream: progress can be followed from now on.
    virtual void encodingStarted() {}
    /// The work is over (the encoder is still to be ended): progress display goes away and the
    /// wizard is usable again. Called once in every render that got to preparing().
    virtual void finished() {}
};

/// What a successful render made.
struct RenderReport {
    QString outputPath;
    /// Empty, or a sentence saying what the file really got when it differs from the choices
    /// (lame lowers the rate or the bitrate that a combination cannot carry).
    QString note;
};

/// Renders the editor's audio with `choices` to `outputPath`. Sets RingtoneFile first. The
/// temporary WAV is written to "output1-temp.wav" in the application folder (deleted first, left
/// there after, with the fades and loudness applied when chosen; a link put in its place is
/// never followed). The output is written beside `outputPath` under a temporary name and
/// renamed over it only when complete, so on failure a file already at `outputPath` is
/// untouched and no empty or partial file is left; `outputLinks` says what a link at
/// `outputPath` means (Replace for the program's own files in the application folder). Errors
/// name what failed: the editor's save ("Nothing is selected..."), a name that cannot be a file
/// name, a missing encoder, the encoder's own error text, a folder that cannot be written.
/// UI thread.
Result<RenderReport> renderRingtone(const QString& outputPath, const RenderChoices& choices,
                                    const RenderEditor& editor, RenderObserver& observer,
                                    LinkPolicy outputLinks = LinkPolicy::WriteThrough);

} // namespace chimora
