// Fuzzes the device path rules of the folder standing for a phone's storage. The input is a
// device path. Invariants beyond "no crash": a path the rules accept names no "." or "..";
// a file the device creates lies inside the device's folder, whatever the path says (".."
// steps, a link leading outside the folder, stray separators).

#include "device/DevicePath.h"
#include "device/FolderDevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

using namespace chimora;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// The device's folder, with a sub-folder and a link to a folder outside it.
struct Device {
    QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                              : QDir::tempPath();
    QString root, outside;
    FolderDeviceBackend backend;
    Device()
        : root(base + QStringLiteral("/chimora-fuzz-device-%1").arg(QCoreApplication::applicationPid())),
          outside(root + QStringLiteral("-outside")),
          backend(DeviceFolder{root + QStringLiteral("/phone"), DeviceFolder::Kind::Named}) {
        QDir().mkpath(root + QStringLiteral("/phone/Ringtones"));
        QDir().mkpath(outside);
        QFile::link(outside, root + QStringLiteral("/phone/Out"));
        RapiInit init;
        backend.CeRapiInitEx(&init);
        check(backend.CeRapiInitSignalled(&init) && init.hrRapiInit >= 0, "the folder connects");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Device device;
    const QString path = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto parts = devicePathParts(path)) {
        for (const QString& part : *parts)
            check(part != QLatin1String(".") && part != QLatin1String("..") &&
                      !part.contains(QLatin1Char('/')),
                  "an accepted path names no step out");
    }
    const DeviceHandle file = device.backend.CeCreateFile(path, GenericWrite, 0, CreateNew,
                                                          FileAttributeNormal);
    if (file == InvalidDeviceHandle)
        return 0;
    uint32_t written = 0;
    device.backend.CeWriteFile(file, "x", 1, &written);
    device.backend.CeCloseHandle(file);
    // Whatever was made must be inside the device's folder, and nothing in the folder outside.
    check(QDir(device.outside).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
          "nothing is written outside the device's folder");
    device.backend.CeDeleteFile(path);
    return 0;
}
