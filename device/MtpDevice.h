#pragma once
// A phone reached over MTP, for when the desktop has not mounted it. The device's storages are
// the root's folders ("\Internal shared storage\Ringtones").

#include "device/DeviceBackend.h"
#include "device/DeviceSearches.h"
#include "device/MtpLink.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <map>
#include <memory>
#include <optional>

namespace chimora {

struct MtpDetection;

/// A phone found through an MtpOpener (libmtp by default). The opener runs on a thread of its
/// own, once a second until a phone answers, so a device that hangs USB hangs only that thread;
/// an attempt ended meanwhile leaves the thread to release whatever it finds. Everything else
/// runs on the calling (UI) thread. A new file is collected and sent whole when it is closed,
/// after its name was checked against the folder's entries.
class MtpDeviceBackend : public SearchingDeviceBackend {
public:
    explicit MtpDeviceBackend(MtpOpener opener = openFirstMtpPhone);
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
    bool discardFile(DeviceHandle file) override;

private:
    // A folder on the phone: a storage and an object in it (Top: the storage's top level).
    struct Folder {
        uint32_t storage = 0; // 0: the device itself, whose entries are its storages
        uint32_t object = MtpLink::Top;
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

    MtpOpener m_opener;
    std::shared_ptr<MtpDetection> m_detection; // while a connection attempt runs
    std::unique_ptr<MtpLink> m_link;           // the phone, once connected
    std::map<DeviceHandle, NewFile> m_files;
    DeviceHandle m_nextHandle = 1;
};

} // namespace chimora
