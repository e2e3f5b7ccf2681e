// Fuzzes the device path rules of the folder standing for a phone's storage. The input is a
// device path. Invariants beyond "no crash": a path the rules accept names no "." or "..";
// nothing outside the device's folder is written, opened or listed, whatever the path says
// (".." steps, stray separators, links to a folder or a file outside, a dangling link, a link
// to a folder inside: no link is ever followed); a file is opened or made exactly where a walk
// that follows no link finds it; a discarded file leaves nothing behind.

#include "device/DevicePath.h"
#include "device/FolderDevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

using namespace chimora;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// Every entry below `folder`, links as links: name -> what it is and holds.
QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QByteArray what;
        if (info.isSymLink())
            what = "link " + QFile::encodeName(info.symLinkTarget());
        else if (info.isDir())
            what = "folder";
        else if (QFile file(info.filePath()); file.open(QIODevice::ReadOnly))
            what = "file " + file.readAll();
        entries.insert(QDir(folder).relativeFilePath(info.filePath()), what);
    }
    return entries;
}

// What a walk that follows no link finds at `parts`: whether every step before the last is a
// real folder, and what the last is (lstat's mode; 0 when nothing is there).
struct Walk {
    bool folders = false;
    mode_t last = 0;
};
Walk walk(const QString& root, const QStringList& parts) {
    Walk result;
    QString at = root;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        at += u'/' + parts[i];
        struct stat st {};
        const bool exists = ::lstat(QFile::encodeName(at).constData(), &st) == 0;
        if (i + 1 == parts.size()) {
            result.folders = true;
            result.last = exists ? st.st_mode : 0;
        } else if (!exists || !S_ISDIR(st.st_mode)) {
            return result;
        }
    }
    return result;
}

// The device's folder, with a sub-folder and links of every kind; a folder outside it with a
// file and a folder of its own.
struct Device {
    QString base =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QString root, phone, outside;
    QMap<QString, QByteArray> phoneAtStart, outsideAtStart;
    FolderDeviceBackend backend;
    Device()
        : root(base +
               QStringLiteral("/chimora-fuzz-device-%1").arg(QCoreApplication::applicationPid())),
          phone(root + QStringLiteral("/phone")), outside(root + QStringLiteral("-outside")),
          backend(DeviceFolder{phone, DeviceFolder::Kind::Named}) {
        QDir().mkpath(phone + QStringLiteral("/Ringtones"));
        QDir().mkpath(outside + QStringLiteral("/Inner"));
        QFile tone(outside + QStringLiteral("/tone.wav"));
        check(tone.open(QIODevice::WriteOnly) && tone.write("outside") == 7, "the outside file");
        tone.close();
        QFile::link(outside, phone + QStringLiteral("/Out"));
        QFile::link(outside + QStringLiteral("/new.wav"), phone + QStringLiteral("/Dangle"));
        QFile::link(QStringLiteral("Ringtones"), phone + QStringLiteral("/In"));
        QFile::link(outside + QStringLiteral("/tone.wav"),
                    phone + QStringLiteral("/Ringtones/Tone.wav"));
        phoneAtStart = snapshot(phone);
        outsideAtStart = snapshot(outside);
        RapiInit init;
        backend.CeRapiInitEx(&init);
        check(backend.CeRapiInitSignalled(&init) && init.hrRapiInit >= 0, "the folder connects");
    }

    // Removes what a run made, so that each run starts from the same tree.
    void reset() {
        QDirIterator it(phone, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!phoneAtStart.contains(QDir(phone).relativeFilePath(path)))
                QFile::remove(path);
        }
    }
};

const QStringList LinkNames{QStringLiteral("Out"), QStringLiteral("Dangle"), QStringLiteral("In"),
                            QStringLiteral("Tone.wav")};

void checkListing(Device& device, const QString& path) {
    const QString pattern = path + QStringLiteral("\\*.*");
    CeFindData entry;
    const DeviceHandle search = device.backend.CeFindFirstFile(pattern, &entry);
    if (search == InvalidDeviceHandle)
        return;
    QString folder, mask;
    splitDevicePattern(pattern, &folder, &mask);
    const std::optional<QStringList> parts = devicePathParts(folder);
    check(parts && walk(device.phone, *parts + QStringList{QStringLiteral("x")}).folders,
          "only a real folder inside the device is listed");
    do {
        check(entry.cFileName != QLatin1String("Inner") &&
                  entry.cFileName != QLatin1String("tone.wav"),
              "nothing outside the device is listed");
        check(!LinkNames.contains(entry.cFileName) ||
                  !(entry.dwFileAttributes & FileAttributeDirectory),
              "a link is never listed as a folder");
    } while (device.backend.CeFindNextFile(search, &entry));
    device.backend.CeFindClose(search);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Device device;
    const QString path = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QStringList> parts = devicePathParts(path);
    if (parts) {
        for (const QString& part : *parts)
            check(part != QLatin1String(".") && part != QLatin1String("..") &&
                      !part.contains(QLatin1Char('/')),
                  "an accepted path names no step out");
    }
    checkListing(device, path);

    const Walk found = parts && !parts->isEmpty() ? walk(device.phone, *parts) : Walk{};
    const DeviceHandle reading =
        device.backend.CeCreateFile(path, GenericRead, 0, OpenExisting, FileAttributeNormal);
    if (reading != InvalidDeviceHandle) {
        check(found.folders && S_ISREG(found.last), "only a plain file inside is opened");
        device.backend.CeCloseHandle(reading);
    }

    const DeviceHandle file =
        device.backend.CeCreateFile(path, GenericWrite, 0, CreateNew, FileAttributeNormal);
    if (file != InvalidDeviceHandle) {
        check(found.folders && found.last == 0, "a file is made only where nothing was");
        uint32_t written = 0;
        device.backend.CeWriteFile(file, "x", 1, &written);
        if (size % 2 == 0) {
            device.backend.discardFile(file);
            check(snapshot(device.phone) == device.phoneAtStart,
                  "a discarded file leaves nothing behind");
        } else {
            device.backend.CeCloseHandle(file);
        }
    }
    check(snapshot(device.outside) == device.outsideAtStart,
          "nothing outside the device's folder is touched");
    device.reset();
    return 0;
}
