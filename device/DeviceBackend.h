#pragma once
// The remote file-access calls the device layer is built on, with the records and codes they
// use. One interface, several backends: a folder standing for the phone's storage, and a phone
// reached over MTP. UI thread only.

#include <QString>

#include <cstdint>

namespace chimora {

/// A device-side handle (search or file); InvalidDeviceHandle when a call failed.
using DeviceHandle = std::intptr_t;
inline constexpr DeviceHandle InvalidDeviceHandle = -1;

/// The connection start record. The caller sets the size; the backend's CeRapiInitEx begins the
/// attempt and CeRapiInitSignalled says when it has ended, with its result in hrRapiInit.
struct RapiInit {
    uint32_t cbSize = 12;
    int32_t hrRapiInit = 0; ///< negative: the connection could not be made
};

/// The device's version record: numbers, and a text naming the backend and the device.
struct CeOsVersionInfo {
    uint32_t dwOSVersionInfoSize = 148;
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformId = 0;
    QString szCSDVersion;
};

/// One directory entry as a search returns it. Only the attributes and the name are read.
struct CeFindData {
    uint32_t dwFileAttributes = 0;
    QString cFileName;
};

inline constexpr uint32_t FileAttributeDirectory = 0x10;
inline constexpr uint32_t FileAttributeNormal = 128;
inline constexpr uint32_t GenericRead = 0x80000000u;
inline constexpr uint32_t GenericWrite = 0x40000000u;
inline constexpr uint32_t CreateNew = 1; ///< fails when the file exists
inline constexpr uint32_t OpenExisting = 3;

/// Error codes CeGetLastError gives.
inline constexpr uint32_t ErrorAccessDenied = 5;
inline constexpr uint32_t ErrorNotReady = 21;   ///< no connection, or the device went away
inline constexpr uint32_t ErrorGenFailure = 31; ///< anything the other codes do not cover
inline constexpr uint32_t ErrorFileExists = 80;
inline constexpr uint32_t ErrorInvalidParameter = 87; ///< bad path or name
inline constexpr uint32_t ErrorDiskFull = 112;
inline constexpr uint32_t ErrorFileNotFound = 2;

/// Device paths are absolute, use "\" as separator and "\" alone for the root; search
/// patterns are a folder path followed by "\*.*" ("\*.*" at the root).
class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;

    /// Begins connecting. Negative when the backend cannot be used at all.
    virtual int32_t CeRapiInitEx(RapiInit* init) = 0;
    /// True once the attempt begun by CeRapiInitEx has ended (a device answered, or the start
    /// failed: then init->hrRapiInit is negative). Asked repeatedly while the caller waits; it
    /// must answer at once.
    virtual bool CeRapiInitSignalled(RapiInit* init) = 0;
    /// Ends the connection; later calls fail until the next connection.
    virtual int32_t CeRapiUninit() = 0;
    /// Fills `info`; false when no device answers.
    virtual bool CeGetVersionEx(CeOsVersionInfo* info) = 0;

    /// Starts a search; the first entry goes to `data`. InvalidDeviceHandle when nothing
    /// matches, the folder does not exist or there is no connection.
    virtual DeviceHandle CeFindFirstFile(const QString& pattern, CeFindData* data) = 0;
    /// The next entry; false when there is none.
    virtual bool CeFindNextFile(DeviceHandle search, CeFindData* data) = 0;
    virtual bool CeFindClose(DeviceHandle search) = 0;

    /// Opens or creates a device file (CreateNew or OpenExisting). InvalidDeviceHandle on
    /// failure, with the reason in CeGetLastError.
    virtual DeviceHandle CeCreateFile(const QString& path, uint32_t desiredAccess,
                                      uint32_t shareMode, uint32_t creationDisposition,
                                      uint32_t flagsAndAttributes) = 0;
    /// Writes `bytes` bytes; `*written` gets how many were written. False on failure.
    virtual bool CeWriteFile(DeviceHandle file, const char* data, uint32_t bytes,
                             uint32_t* written) = 0;
    /// Closes a file. A backend that stores a file whole stores it here, and says false when
    /// that failed; a file this handle created and could not complete is then removed.
    virtual bool CeCloseHandle(DeviceHandle file) = 0;
    /// Closes a file that is not to be kept (a partial copy) and removes what this handle
    /// created: the very file or object it made, never whatever else may carry its name by
    /// then. A file that was opened, not created, is only closed.
    virtual bool discardFile(DeviceHandle file) = 0;
    /// Why the last failed call failed (one of the codes above).
    virtual uint32_t CeGetLastError() = 0;
};

} // namespace chimora
