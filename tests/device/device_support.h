#pragma once
// Helpers for the device tests: folder trees and whole-file reads and writes.

#include <QByteArray>
#include <QString>

namespace devicetest {

/// Random bytes (the same for the same seed).
QByteArray randomBytes(qsizetype size, quint32 seed);
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

/// A folder standing for a phone's storage, under `base`:
///   Alarms/   Files/a.txt   Files/b.txt   Music/Ringtones/   Music/song.mp3   readme.txt
///   escape -> ../outside (a link to a folder outside)
///   Music/link.wav -> ../../outside/target.wav (a dangling link leading outside)
/// and `base`/outside/secret/. Returns the phone folder.
QString makePhoneFolder(const QString& base);

} // namespace devicetest
