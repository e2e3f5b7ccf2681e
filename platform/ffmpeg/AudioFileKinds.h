#pragma once
// The kinds of audio file the program opens: one table, from which the decoder chooses how to
// open a file and the open dialog builds its pattern.

#include <QString>

#include <span>

namespace chimora {

/// How a file is opened.
enum class AudioFileKind {
    Probed,  ///< a container or stream that announces itself (MP3, WAV, Ogg, ...)
    Vox,     ///< Dialogic VOX: headerless 4-bit ADPCM, 8000 Hz mono
    G726,    ///< headerless G.721 / G.726 at 32 kbit/s, 8000 Hz mono
    G723,    ///< headerless G.723.1 at 6.3 kbit/s
    RawPcm,  ///< headerless PCM: its layout must be asked of the user
    CdTrack, ///< a pointer to a track on an audio CD, which holds no audio itself
};

struct AudioFileType {
    const char* extension; ///< lower case, without the dot
    AudioFileKind kind;
};

/// Every extension the program opens, in the order the open dialog lists them.
std::span<const AudioFileType> audioFileTypes();

/// The kind a file's extension names (case ignored); Probed for an extension not in the table.
/// A headerless kind's file that really holds a container is still opened by its content.
AudioFileKind audioFileKind(const QString& path);

/// True for files whose sample format must be asked of the user before loading.
bool needsRawPcmParams(const QString& path);

/// The open dialog's filter: "All supported formats (*.mp3 *.mp2 ...)".
QString openDialogFilter();

} // namespace chimora
