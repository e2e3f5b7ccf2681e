#include "device/SystemDeviceBackend.h"

namespace chimora {

int32_t SystemDeviceBackend::CeRapiInitEx(RapiInit* init) {
    CeRapiUninit();
    RapiInit folderInit, mtpInit;
    const bool folder = m_folder.CeRapiInitEx(&folderInit) >= 0;
    const bool mtp = m_mtp.CeRapiInitEx(&mtpInit) >= 0;
    init->hrRapiInit = 0;
    return folder || mtp ? 0 : -1;
}

bool SystemDeviceBackend::CeRapiInitSignalled(RapiInit* init) {
    if (m_active)
        return true;
    for (DeviceBackend* backend :
         {static_cast<DeviceBackend*>(&m_folder), static_cast<DeviceBackend*>(&m_mtp)}) {
        RapiInit attempt;
        if (backend->CeRapiInitSignalled(&attempt) && attempt.hrRapiInit >= 0) {
            m_active = backend;
            // The other one stops looking.
            (backend == &m_folder ? static_cast<DeviceBackend&>(m_mtp) : m_folder).CeRapiUninit();
            init->hrRapiInit = 0;
            return true;
        }
    }
    return false;
}

int32_t SystemDeviceBackend::CeRapiUninit() {
    m_active = nullptr;
    m_folder.CeRapiUninit();
    m_mtp.CeRapiUninit();
    return 0;
}

bool SystemDeviceBackend::CeGetVersionEx(CeOsVersionInfo* info) {
    return m_active && m_active->CeGetVersionEx(info);
}

DeviceHandle SystemDeviceBackend::CeFindFirstFile(const QString& pattern, CeFindData* data) {
    return m_active ? m_active->CeFindFirstFile(pattern, data) : InvalidDeviceHandle;
}

bool SystemDeviceBackend::CeFindNextFile(DeviceHandle search, CeFindData* data) {
    return m_active && m_active->CeFindNextFile(search, data);
}

bool SystemDeviceBackend::CeFindClose(DeviceHandle search) {
    return m_active && m_active->CeFindClose(search);
}

DeviceHandle SystemDeviceBackend::CeCreateFile(const QString& path, uint32_t desiredAccess,
                                               uint32_t shareMode, uint32_t creationDisposition,
                                               uint32_t flagsAndAttributes) {
    return m_active ? m_active->CeCreateFile(path, desiredAccess, shareMode, creationDisposition,
                                             flagsAndAttributes)
                    : InvalidDeviceHandle;
}

bool SystemDeviceBackend::CeWriteFile(DeviceHandle file, const char* data, uint32_t bytes,
                                      uint32_t* written) {
    *written = 0;
    return m_active && m_active->CeWriteFile(file, data, bytes, written);
}

bool SystemDeviceBackend::CeCloseHandle(DeviceHandle file) {
    return m_active && m_active->CeCloseHandle(file);
}

bool SystemDeviceBackend::discardFile(DeviceHandle file) {
    return m_active && m_active->discardFile(file);
}

uint32_t SystemDeviceBackend::CeGetLastError() {
    return m_active ? m_active->CeGetLastError() : ErrorNotReady;
}

} // namespace chimora
