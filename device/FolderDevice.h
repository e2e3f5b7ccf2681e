#pragma once
// A folder standing for a phone's storage: a folder named in the settings, an MTP phone
// mounted by the desktop, or removable media (an SD card, a USB player). Device paths are
// confined to the folder.

#include "device/DeviceBackend.h"
#include "device/DeviceSearches.h"
#include "platform/core/UniqueFd.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <optional>

#include <sys/types.h>

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

/// The device backend over a folder. Every device path is opened beneath the folder one name
/// at a time, following no symbolic link, so a link swapped in meanwhile cannot lead elsewhere:
/// a path with "..", one not starting with "\", or one through a link gives
/// ErrorInvalidParameter, and a link is listed as a file. On a desktop MTP mount a new file is
/// collected and written whole when it is closed: phones take a file only with its size known.
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
    bool discardFile(DeviceHandle file) override;

private:
    // Which file a descriptor is: a name can be given to another file, this cannot.
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const Identity&) const = default;
    };
    struct OpenFile {
        UniqueFd fd;          // not open while a whole-file write collects its bytes
        UniqueFd folder;      // the folder the file lies in
        QByteArray name;      // its name there
        bool created = false; // this handle made the file: the one file it may remove
        Identity made;
        QByteArray collected;
        bool wrote = false;
    };

    // The connection's folder, if it is still the one connected to.
    UniqueFd openRoot();
    // The folder along `names` beneath the root; not open on failure (m_lastError says why).
    UniqueFd openFolder(const QStringList& names);
    // Removes the file `file` made, if the name in its folder still belongs to it.
    static void removeMade(const OpenFile& file);
    bool fail(uint32_t code);
    bool failErrno(int error);
    bool storeWhole(OpenFile& file);

    std::optional<DeviceFolder> m_fixed;
    std::optional<DeviceFolder> m_connected;
    Identity m_rootIdentity;
    bool m_starting = false;
    std::map<DeviceHandle, OpenFile> m_files;
    DeviceHandle m_nextHandle = 1;
};

/// The device error code for a system error number.
uint32_t deviceErrorFromErrno(int error);

} // namespace chimora
