#pragma once
// A phone reached over MTP through libmtp, for when the desktop has not mounted it. The
// device's storages are the root's folders ("\Internal shared storage\Ringtones").

#include "device/DeviceBackend.h"
#include "device/DeviceSearches.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <map>
#include <memory>
#include <optional>

struct LIBMTP_mtpdevice_struct;

namespace chimora {

struct MtpDeviceRelease {
    void operator()(LIBMTP_mtpdevice_struct* device) const;
};
using MtpDevicePtr = std::unique_ptr<LIBMTP_mtpdevice_struct, MtpDeviceRelease>;

/// A phone found by raw-device detection, opened uncached (a full phone holds tens of thousands
/// of objects; folders are listed one at a time). A new file is collected and sent whole when
/// it is closed, after its name was checked against the folder's entries.
class MtpDeviceBackend : public SearchingDeviceBackend {
public:
    MtpDeviceBackend();
    ~MtpDeviceBackend() override;

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
    // A folder on the phone: a storage and an object in it (Top: the storage's top level).
    struct Folder {
        static constexpr uint32_t Top = 0xffffffffu;
        uint32_t storage = 0; // 0: the device itself, whose entries are its storages
        uint32_t object = Top;
    };
    struct Entry {
        CeFindData data;
        uint32_t object = 0;
    };
    struct NewFile {
        Folder folder;
        QString name;
        QByteArray collected;
    };

    std::optional<Folder> resolveFolder(const QString& devicePath);
    std::optional<QList<Entry>> entriesOf(const Folder& folder);
    bool send(NewFile& file);
    bool fail(uint32_t code);
    uint32_t errorFromStack();

    MtpDevicePtr m_device;
    bool m_starting = false;
    QElapsedTimer m_lastDetection;
    std::map<DeviceHandle, NewFile> m_files;
    DeviceHandle m_nextHandle = 1;
};

} // namespace chimora
