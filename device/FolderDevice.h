#pragma once
// A folder standing for a phone's storage: a folder named in the settings, an MTP phone
// mounted by the desktop, or removable media (an SD card, a USB player). Device paths are
// confined to the folder.

#include "device/DeviceBackend.h"
#include "device/DeviceSearches.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <optional>

namespace chimora {

struct DeviceFolder {
    enum class Kind {
        Named,     ///< settings.ini, section "Device", key "Folder"
        MtpMount,  ///< $XDG_RUNTIME_DIR/gvfs/mtp:host=*, each storage a sub-folder
        Removable, ///< a volume mounted under /media/$USER or /run/media/$USER
    };
    QString path;
    Kind kind = Kind::Named;
};

/// Looks for a device folder, in this order: the folder named in the settings file (when it
/// exists), the first MTP phone mounted by the desktop, the first removable volume.
std::optional<DeviceFolder> findDeviceFolder();

/// The device backend over a folder. A path with "..", one not starting with "\", or one
/// leading out of the folder through a symbolic link gives ErrorInvalidParameter. On a
/// desktop MTP mount a new file is collected and written whole when it is closed: phones take
/// a file only with its size known.
class FolderDeviceBackend : public SearchingDeviceBackend {
public:
    /// Connects to whatever findDeviceFolder() finds at the time.
    FolderDeviceBackend() = default;
    /// Connects to `folder` only.
    explicit FolderDeviceBackend(DeviceFolder folder) : m_fixed(std::move(folder)) {}
    ~FolderDeviceBackend() override;

    /// The folder of the connection; empty when not connected.
    QString rootFolder() const { return m_connected ? m_connected->path : QString(); }

    int32_t CeRapiInitEx(RapiInit* init) override;
    bool CeRapiInitSignalled(RapiInit* init) override;
    int32_t CeRapiUninit() override;
    bool CeGetVersionEx(CeOsVersionInfo* info) override;
    DeviceHandle CeFindFirstFile(const QString& pattern, CeFindData* data) override;
    DeviceHandle CeCreateFile(const QString& path, uint32_t desiredAccess, uint32_t shareMode,
                              uint32_t creationDisposition, uint32_t flagsAndAttributes) override;
    bool CeWriteFile(DeviceHandle file, const char* data, uint32_t bytes,
                     uint32_t* written) override;
    bool CeCloseHandle(DeviceHandle file) override;
    bool CeDeleteFile(const QString& path) override;

private:
    struct OpenFile {
        int fd = -1; // -1 while a whole-file write collects its bytes
        QString localPath;
        QByteArray collected;
        bool wrote = false;
    };

    bool connected() const;
    // The local path of a device path inside the folder, or none (m_lastError says why).
    std::optional<QString> localPath(const QString& devicePath);
    // True when `existing` (a path that exists) really lies inside the folder.
    bool insideRoot(const QString& existing) const;
    bool fail(uint32_t code);
    bool failErrno(int error);
    bool storeWhole(OpenFile& file);

    std::optional<DeviceFolder> m_fixed;
    std::optional<DeviceFolder> m_connected;
    bool m_starting = false;
    std::map<DeviceHandle, OpenFile> m_files;
    DeviceHandle m_nextHandle = 1;
};

/// The device error code for a system error number.
uint32_t deviceErrorFromErrno(int error);

} // namespace chimora
