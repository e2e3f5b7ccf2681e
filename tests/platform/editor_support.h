#pragma once
// Shared by the editor tests: an editor of a known size holding generated audio.

#include "platform/editor/ui/AudioEditor.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace editortest {

/// Width of the waveform view in the test editors, in pixels.
constexpr int kViewWidth = 1000;

/// Makes a 440 Hz tone WAV of `frames` frames at `rate` in `dir`; returns its path (empty when
/// ffmpeg failed).
QString makeToneWav(const QTemporaryDir& dir, const QString& name, int64_t frames, int rate,
                    int channels);

enum Focus { WithoutFocus, WithFocus };

/// A shown editor whose view is kViewWidth wide, with `path` loaded (waits for the load);
/// WithFocus makes its window active and its view focused, so keys reach it. Null on failure.
std::unique_ptr<chimora::AudioEditor> openEditor(const QString& path, Focus focus = WithoutFocus);

/// Waits for the document's load to end and for its queued signals to arrive.
void finishLoad(chimora::AudioEditor& editor);

/// All frames of the document, interleaved.
std::vector<int16_t> allSamples(chimora::AudioDocument& document);

} // namespace editortest
