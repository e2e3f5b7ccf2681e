#include "device_support.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

namespace devicetest {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QString makePhoneFolder(const QString& base)
{
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

} // namespace devicetest
