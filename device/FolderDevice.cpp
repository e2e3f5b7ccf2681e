#include "device/FolderDevice.h"

#include "device/DevicePath.h"

#include "platform/core/AppFolder.h"
#include "platform/core/IniFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace chimora {

namespace {

QString userName() {
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty()) {
        if (const passwd* pw = ::getpwuid(::getuid()))
            name = QString::fromLocal8Bit(pw->pw_name);
    }
    return name;
}

// A volume mounted on `path`: the folder lies on another file system than its parent.
bool isMountPoint(const QString& path) {
    struct stat self {
    }, parent{};
    if (::stat(QFile::encodeName(path).constData(), &self) != 0)
        return false;
    if (::stat(QFile::encodeName(path + QStringLiteral("/..")).constData(), &parent) != 0)
        return false;
    return self.st_dev != parent.st_dev;
}

QFileInfoList subFolders(const QString& folder, const QStringList& nameFilters = {}) {
    return QDir(folder).entryInfoList(nameFilters, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

bool writeAll(int fd, const char* data, qint64 bytes, qint64* written) {
    *written = 0;
    while (*written < bytes) {
        const ssize_t n = ::write(fd, data + *written, size_t(bytes - *written));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        *written += n;
    }
    return true;
}

// Data on removable media is in the page cache until synced: a card pulled out after
// "Transfer Completed." would lose it. Files that cannot be synced (some file systems) are fine.
bool syncAndClose(int fd) {
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    const int syncError = errno;
    const bool closed = ::close(fd) == 0;
    if (!synced)
        errno = syncError;
    return synced && closed;
}

} // namespace

std::optional<DeviceFolder> findDeviceFolder() {
    const QString named = ReadIniValue(QStringLiteral("Device"), QStringLiteral("Folder"),
                                       appFilePath(QStringLiteral("settings.ini")));
    if (!named.isEmpty() && QFileInfo(named).isDir())
        return DeviceFolder{QDir(named).absolutePath(), DeviceFolder::Kind::Named};

    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QFileInfoList phones =
            subFolders(runtime + QStringLiteral("/gvfs"), {QStringLiteral("mtp:host=*")});
        if (!phones.isEmpty())
            return DeviceFolder{phones.first().absoluteFilePath(), DeviceFolder::Kind::MtpMount};
    }

    const QString user = userName();
    if (!user.isEmpty()) {
        for (const QString& base : {QStringLiteral("/media/"), QStringLiteral("/run/media/")}) {
            for (const QFileInfo& volume : subFolders(base + user)) {
                if (isMountPoint(volume.absoluteFilePath()))
                    return DeviceFolder{volume.absoluteFilePath(), DeviceFolder::Kind::Removable};
            }
        }
    }
    return std::nullopt;
}

uint32_t deviceErrorFromErrno(int error) {
    switch (error) {
    case EEXIST:
        return ErrorFileExists;
    case ENOENT:
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case ELOOP:
    case EILSEQ:
        return ErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ErrorDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return ErrorAccessDenied;
    case ENODEV:
    case ENXIO:
    case ENOTCONN:
        return ErrorNotReady;
    default:
        return ErrorGenFailure;
    }
}

FolderDeviceBackend::~FolderDeviceBackend() {
    CeRapiUninit();
}

bool FolderDeviceBackend::fail(uint32_t code) {
    m_lastError = code;
    return false;
}

bool FolderDeviceBackend::failErrno(int error) {
    return fail(deviceErrorFromErrno(error));
}

bool FolderDeviceBackend::connected() const {
    return m_connected && QFileInfo(m_connected->path).isDir();
}

int32_t FolderDeviceBackend::CeRapiInitEx(RapiInit* init) {
    CeRapiUninit();
    init->hrRapiInit = 0;
    m_starting = true;
    return 0;
}

bool FolderDeviceBackend::CeRapiInitSignalled(RapiInit* init) {
    if (!m_starting) {
        init->hrRapiInit = -1;
        return true;
    }
    std::optional<DeviceFolder> found = m_fixed;
    if (found && !QFileInfo(found->path).isDir())
        found.reset();
    if (!m_fixed)
        found = findDeviceFolder();
    if (!found)
        return false;
    m_starting = false;
    m_connected = std::move(found);
    init->hrRapiInit = 0;
    return true;
}

int32_t FolderDeviceBackend::CeRapiUninit() {
    m_starting = false;
    m_connected.reset();
    m_searches.clear();
    for (auto& [handle, file] : m_files) {
        if (file.fd >= 0)
            ::close(file.fd);
    }
    m_files.clear();
    return 0;
}

bool FolderDeviceBackend::CeGetVersionEx(CeOsVersionInfo* info) {
    if (!connected())
        return fail(ErrorNotReady);
    info->dwMajorVersion = 1;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 0;
    info->dwPlatformId = 0;
    switch (m_connected->kind) {
    case DeviceFolder::Kind::Named:
        info->szCSDVersion = QStringLiteral("Device folder ");
        break;
    case DeviceFolder::Kind::MtpMount:
        info->szCSDVersion = QStringLiteral("MTP phone ");
        break;
    case DeviceFolder::Kind::Removable:
        info->szCSDVersion = QStringLiteral("Removable media ");
        break;
    }
    info->szCSDVersion += m_connected->path;
    return true;
}

bool FolderDeviceBackend::insideRoot(const QString& existing) const {
    const QString root = QFileInfo(m_connected->path).canonicalFilePath();
    const QString target = QFileInfo(existing).canonicalFilePath();
    if (root.isEmpty() || target.isEmpty())
        return false;
    return target == root || target.startsWith(root + u'/');
}

std::optional<QString> FolderDeviceBackend::localPath(const QString& devicePath) {
    if (!connected()) {
        fail(ErrorNotReady);
        return std::nullopt;
    }
    const std::optional<QStringList> parts = devicePathParts(devicePath);
    if (!parts) {
        fail(ErrorInvalidParameter);
        return std::nullopt;
    }
    QString local = m_connected->path;
    for (const QString& part : *parts)
        local += u'/' + part;
    return local;
}

DeviceHandle FolderDeviceBackend::CeFindFirstFile(const QString& pattern, CeFindData* data) {
    QString folderPath, mask;
    if (!splitDevicePattern(pattern, &folderPath, &mask)) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    const std::optional<QString> folder = localPath(folderPath);
    if (!folder)
        return InvalidDeviceHandle;
    const QFileInfo folderInfo(*folder);
    if (!folderInfo.isDir()) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    if (!insideRoot(*folder)) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }

    QList<CeFindData> found;
    // Like the device, a folder below the root lists itself and its parent first.
    if (QFileInfo(*folder).canonicalFilePath() !=
        QFileInfo(m_connected->path).canonicalFilePath()) {
        for (const char* self : {".", ".."}) {
            if (matchesDeviceMask(mask, QLatin1String(self)))
                found.append({FileAttributeDirectory, QLatin1String(self)});
        }
    }
    const QFileInfoList entries = QDir(*folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& entry : entries) {
        if (!matchesDeviceMask(mask, entry.fileName()))
            continue;
        // A link to a folder elsewhere is no folder of the device.
        const bool folderEntry =
            entry.isDir() && (!entry.isSymLink() || insideRoot(entry.absoluteFilePath()));
        found.append(
            {folderEntry ? FileAttributeDirectory : FileAttributeNormal, entry.fileName()});
    }
    return m_searches.start(std::move(found), data, &m_lastError);
}

DeviceHandle FolderDeviceBackend::CeCreateFile(const QString& path, uint32_t desiredAccess,
                                               uint32_t /*shareMode*/, uint32_t creationDisposition,
                                               uint32_t /*flagsAndAttributes*/) {
    const std::optional<QString> local = localPath(path);
    if (!local)
        return InvalidDeviceHandle;
    const QFileInfo target(*local);
    if (target.fileName().isEmpty() || *local == m_connected->path ||
        (creationDisposition != CreateNew && creationDisposition != OpenExisting)) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    // The folder the file goes into must lie inside the device: no link may lead out of it.
    const QString parent = target.absolutePath();
    if (!QFileInfo(parent).isDir() || !insideRoot(parent)) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    const QString inside = QFileInfo(parent).canonicalFilePath() + u'/' + target.fileName();
    const QByteArray encoded = QFile::encodeName(inside);

    OpenFile file;
    file.localPath = inside;
    const bool writing = desiredAccess & GenericWrite;
    if (creationDisposition == CreateNew && writing &&
        m_connected->kind == DeviceFolder::Kind::MtpMount) {
        struct stat st {};
        if (::lstat(encoded.constData(), &st) == 0) {
            fail(ErrorFileExists);
            return InvalidDeviceHandle;
        }
    } else {
        int flags = O_CLOEXEC | O_NOFOLLOW;
        if (writing)
            flags |= (desiredAccess & GenericRead) ? O_RDWR : O_WRONLY;
        else
            flags |= O_RDONLY;
        if (creationDisposition == CreateNew)
            flags |= O_CREAT | O_EXCL;
        file.fd = ::open(encoded.constData(), flags, 0666);
        if (file.fd < 0) {
            failErrno(errno);
            return InvalidDeviceHandle;
        }
    }
    const DeviceHandle handle = m_nextHandle++;
    m_files.emplace(handle, std::move(file));
    return handle;
}

bool FolderDeviceBackend::CeWriteFile(DeviceHandle handle, const char* data, uint32_t bytes,
                                      uint32_t* written) {
    *written = 0;
    const auto it = m_files.find(handle);
    if (it == m_files.end())
        return fail(ErrorInvalidParameter);
    OpenFile& file = it->second;
    file.wrote = true;
    if (file.fd < 0) {
        file.collected.append(data, bytes);
        *written = bytes;
        return true;
    }
    qint64 done = 0;
    const bool ok = writeAll(file.fd, data, bytes, &done);
    *written = uint32_t(done);
    return ok || failErrno(errno);
}

bool FolderDeviceBackend::storeWhole(OpenFile& file) {
    const QByteArray encoded = QFile::encodeName(file.localPath);
    const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return failErrno(errno);
    qint64 done = 0;
    if (!writeAll(fd, file.collected.constData(), file.collected.size(), &done)) {
        const int error = errno;
        ::close(fd);
        ::unlink(encoded.constData());
        return failErrno(error);
    }
    if (!syncAndClose(fd)) {
        const int error = errno;
        ::unlink(encoded.constData());
        return failErrno(error);
    }
    return true;
}

bool FolderDeviceBackend::CeCloseHandle(DeviceHandle handle) {
    auto it = m_files.find(handle);
    if (it == m_files.end())
        return fail(ErrorInvalidParameter);
    OpenFile file = std::move(it->second);
    m_files.erase(it);
    if (file.fd < 0)
        return storeWhole(file);
    if (file.wrote)
        return syncAndClose(file.fd) || failErrno(errno);
    ::close(file.fd);
    return true;
}

bool FolderDeviceBackend::CeDeleteFile(const QString& path) {
    const std::optional<QString> local = localPath(path);
    if (!local)
        return false;
    const QFileInfo target(*local);
    if (!insideRoot(target.absolutePath()))
        return fail(ErrorInvalidParameter);
    const QString inside =
        QFileInfo(target.absolutePath()).canonicalFilePath() + u'/' + target.fileName();
    return ::unlink(QFile::encodeName(inside).constData()) == 0 || failErrno(errno);
}

} // namespace chimora
