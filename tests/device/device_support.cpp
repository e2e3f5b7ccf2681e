#include "device_support.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

namespace devicetest {

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QString makePhoneFolder(const QString& base) {
    const QString phone = base + "/phone";
    QDir().mkpath(phone + "/Alarms");
    QDir().mkpath(phone + "/Music/Ringtones");
    QDir().mkpath(base + "/outside/secret");
    writeFile(phone + "/Files/a.txt", "a");
    writeFile(phone + "/Files/b.txt", "b");
    writeFile(phone + "/Music/song.mp3", "song");
    writeFile(phone + "/readme.txt", "readme");
    QFile::link("../outside", phone + "/escape");
    QFile::link("../../outside/target.wav", phone + "/Music/link.wav");
    return phone;
}

QMap<QString, QByteArray> FakePhone::filesIn(uint32_t parent) const {
    QMap<QString, QByteArray> files;
    for (const Object& o : objects) {
        if (o.parent == parent && !o.folder)
            files.insert(o.name, o.bytes);
    }
    return files;
}

QList<chimora::MtpObject> FakeMtpLink::children(uint32_t, uint32_t parent) {
    QList<chimora::MtpObject> found;
    for (const FakePhone::Object& o : m_phone->objects) {
        if (o.parent == parent)
            found.append({o.id, o.name, o.folder});
    }
    return found;
}

// Fails as the phone is set to: before making an object, or after, with half the bytes in it.
bool FakeMtpLink::send(uint32_t, uint32_t parent, const QString& name, const QByteArray& bytes,
                       uint32_t* created) {
    *created = 0;
    if (m_phone->beforeSend)
        m_phone->beforeSend();
    if (m_phone->sendFailure == FakePhone::SendFailure::BeforeCreating)
        return false;
    const bool whole = m_phone->sendFailure == FakePhone::SendFailure::None;
    *created = m_phone->add(parent, name, false, whole ? bytes : bytes.left(bytes.size() / 2));
    return whole;
}

} // namespace devicetest
