#include "platform/ffmpeg/AudioFileKinds.h"

#include <QFileInfo>
#include <QStringList>

#include <array>

namespace chimora {

namespace {
constexpr std::array kTypes{
    AudioFileType{"mp3", AudioFileKind::Probed},  AudioFileType{"mp2", AudioFileKind::Probed},
    AudioFileType{"mpeg", AudioFileKind::Probed}, AudioFileType{"wav", AudioFileKind::Probed},
    AudioFileType{"ogg", AudioFileKind::Probed},  AudioFileType{"avi", AudioFileKind::Probed},
    AudioFileType{"g721", AudioFileKind::G726},   AudioFileType{"g723", AudioFileKind::G723},
    AudioFileType{"g726", AudioFileKind::G726},   AudioFileType{"vox", AudioFileKind::Vox},
    AudioFileType{"raw", AudioFileKind::RawPcm},  AudioFileType{"pcm", AudioFileKind::RawPcm},
    AudioFileType{"wma", AudioFileKind::Probed},  AudioFileType{"cda", AudioFileKind::CdTrack},
};
} // namespace

std::span<const AudioFileType> audioFileTypes() {
    return kTypes;
}

AudioFileKind audioFileKind(const QString& path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    for (const AudioFileType& t : kTypes)
        if (ext == QLatin1String(t.extension))
            return t.kind;
    return AudioFileKind::Probed;
}

bool needsRawPcmParams(const QString& path) {
    return audioFileKind(path) == AudioFileKind::RawPcm;
}

QString openDialogFilter() {
    QStringList patterns;
    for (const AudioFileType& t : kTypes)
        patterns << QStringLiteral("*.") + QLatin1String(t.extension);
    return QStringLiteral("All supported formats (%1)").arg(patterns.join(QLatin1Char(' ')));
}

} // namespace chimora
