#pragma once
// The device backend the program uses: while connecting it looks for a device folder first (a
// folder named in the settings, a phone the desktop has mounted, removable media), then for an
// MTP phone; every later call goes to the one found.

#include "device/FolderDevice.h"
#include "device/MtpDevice.h"

namespace chimora {

class SystemDeviceBackend : public DeviceBackend {
public:
    int32_t CeRapiInitEx(RapiInit* init) override;
    bool CeRapiInitSignalled(RapiInit* init) override;
    int32_t CeRapiUninit() override;
    bool CeGetVersionEx(CeOsVersionInfo* info) override;
    DeviceHandle CeFindFirstFile(const QString& pattern, CeFindData* data) override;
    bool CeFindNextFile(DeviceHandle search, CeFindData* data) override;
    bool CeFindClose(DeviceHandle search) override;
    DeviceHandle CeCreateFile(const QString& path, uint32_t desiredAccess, uint32_t shareMode,
                              uint32_t creationDisposition, uint32_t flagsAndAttributes) override;
    bool CeWriteFile(DeviceHandle file, const char* data, uint32_t bytes,
                     uint32_t* written) override;
    bool CeCloseHandle(DeviceHandle file) override;
    bool discardFile(DeviceHandle file) override;
    uint32_t CeGetLastError() override;

private:
    FolderDeviceBackend m_folder;
    MtpDeviceBackend m_mtp;
    DeviceBackend* m_active = nullptr; // the backend that connected, or none
};

} // namespace chimora
