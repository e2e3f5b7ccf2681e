#include "render/RingtoneFormat.h"

namespace chimora {

QString ringtoneExtension(RingtoneFormat format) {
    switch (format) {
    case RingtoneFormat::Wav:
        return QStringLiteral(".wav");
    case RingtoneFormat::Mp3:
        return QStringLiteral(".mp3");
    case RingtoneFormat::Ogg:
        return QStringLiteral(".ogg");
    }
    return {};
}

QString searchedExtension(RingtoneFormat format) {
    return ringtoneExtension(format).toUpper();
}

QString saveDialogFilter(RingtoneFormat format) {
    switch (format) {
    case RingtoneFormat::Wav:
        return QStringLiteral("Wav File (*.wav)");
    case RingtoneFormat::Mp3:
        return QStringLiteral("MP3 File (*.mp3)");
    case RingtoneFormat::Ogg:
        return QStringLiteral("OggVorbis File (*.ogg)");
    }
    return {};
}

QString uploadFileName(RingtoneFormat format) {
    return QStringLiteral("upload-temp") + ringtoneExtension(format);
}

QString withRingtoneExtension(const QString& path, RingtoneFormat format) {
    // Only the file's own name counts: a folder called "sounds.wav" says nothing about it.
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.toUpper().contains(searchedExtension(format)))
        return path;
    return path + ringtoneExtension(format);
}

} // namespace chimora
