#include "render/TitleTag.h"

#include <QDir>
#include <QFile>

#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tfilestream.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>

namespace chimora {

namespace {

Error unwritable(const QString& path) {
    return Error::environment(QStringLiteral("The title could not be written into %1. Check "
                                             "that the file can be written and the disk has "
                                             "room.")
                                  .arg(QDir::toNativeSeparators(path)));
}

/// Sets the title in `tag` of an opened `file` and saves it with `save`.
template <typename F, typename Save>
Result<void> retitle(F& file, TagLib::Tag* tag, const TagLib::String& title, const QString& path,
                     Save save) {
    if (!file.isValid() || !tag)
        return Error::badInput(QStringLiteral("%1 is damaged: its title cannot be written.")
                                   .arg(QDir::toNativeSeparators(path)));
    tag->setTitle(title);
    if (!save(file))
        return unwritable(path);
    return {};
}

} // namespace

Result<void> writeTitleTag(const QString& path, const QString& title) {
    const QByteArray name = QFile::encodeName(path);
    TagLib::FileStream stream(name.constData());
    if (!stream.isOpen() || stream.readOnly())
        return Error::environment(
            QStringLiteral("%1 cannot be opened to write its title. Check that it exists and "
                           "can be written.")
                .arg(QDir::toNativeSeparators(path)));
    const TagLib::String text(title.toStdString(), TagLib::String::UTF8);
    auto plainSave = [](auto& file) { return file.save(); };

    // The cheap, exact signatures first: MPEG's test looks for a frame header anywhere near
    // the start and would take other kinds for MP3.
    if (TagLib::RIFF::WAV::File::isSupported(&stream))
        return {};
    if (TagLib::MP4::File::isSupported(&stream)) {
        TagLib::MP4::File file(&stream, false);
        return retitle(file, file.tag(), text, path, plainSave);
    }
    if (TagLib::Ogg::Vorbis::File::isSupported(&stream)) {
        TagLib::Ogg::Vorbis::File file(&stream, false);
        return retitle(file, file.tag(), text, path, plainSave);
    }
    if (TagLib::MPEG::File::isSupported(&stream)) {
        TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
        // ID3v2.3 is the version every phone's media scanner reads; an ID3v1 tag would cut the
        // name at 30 characters.
        return retitle(file, file.ID3v2Tag(true), text, path, [](TagLib::MPEG::File& f) {
            return f.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3);
        });
    }
    return Error::badInput(QStringLiteral("%1 is not an MP3, Ogg Vorbis, M4A or M4R file: its "
                                          "title cannot be written.")
                               .arg(QDir::toNativeSeparators(path)));
}

} // namespace chimora
