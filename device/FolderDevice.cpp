#include "device/FolderDevice.h"

#include "device/DevicePath.h"

#include "platform/core/AppFolder.h"
#include "platform/core/IniFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
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

struct DirClose {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

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
    std::optional<DeviceFolder> found = m_fixed ? m_fixed : findDeviceFolder();
    struct stat st {};
    if (!found || ::stat(QFile::encodeName(found->path).constData(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
        return false;
    m_starting = false;
    m_connected = std::move(found);
    m_rootIdentity = {st.st_dev, st.st_ino};
    init->hrRapiInit = 0;
    return true;
}

int32_t FolderDeviceBackend::CeRapiUninit() {
    m_starting = false;
    m_connected.reset();
    m_searches.clear();
    m_files.clear();
    return 0;
}

UniqueFd FolderDeviceBackend::openRoot() {
    if (!m_connected) {
        fail(ErrorNotReady);
        return {};
    }
    // Opened for each call rather than held: a held folder would keep a card from being
    // ejected. The same folder it must be, though, not another put in its place.
    UniqueFd root(::open(QFile::encodeName(m_connected->path).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!root.isOpen() || ::fstat(root.get(), &st) != 0 ||
        !(Identity{st.st_dev, st.st_ino} == m_rootIdentity)) {
        fail(ErrorNotReady);
        return {};
    }
    return root;
}

UniqueFd FolderDeviceBackend::openFolder(const QStringList& names) {
    UniqueFd folder = openRoot();
    for (qsizetype i = 0; folder.isOpen() && i < names.size(); ++i) {
        UniqueFd next(::openat(folder.get(), QFile::encodeName(names[i]).constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (!next.isOpen())
            failErrno(errno);
        folder = std::move(next);
    }
    return folder;
}

void FolderDeviceBackend::removeMade(const OpenFile& file) {
    struct stat st {};
    if (file.created && file.folder.isOpen() &&
        ::fstatat(file.folder.get(), file.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        Identity{st.st_dev, st.st_ino} == file.made)
        ::unlinkat(file.folder.get(), file.name.constData(), 0);
}

bool FolderDeviceBackend::CeGetVersionEx(CeOsVersionInfo* info) {
    if (!openRoot().isOpen())
        return false;
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

DeviceHandle FolderDeviceBackend::CeFindFirstFile(const QString& pattern, CeFindData* data) {
    QString folderPath, mask;
    std::optional<QStringList> names;
    if (!splitDevicePattern(pattern, &folderPath, &mask) ||
        !(names = devicePathParts(folderPath))) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    UniqueFd folder = openFolder(*names);
    if (!folder.isOpen())
        return InvalidDeviceHandle;
    const std::unique_ptr<DIR, DirClose> dir(::fdopendir(folder.get()));
    if (!dir) {
        failErrno(errno);
        return InvalidDeviceHandle;
    }
    folder.release(); // the listing owns it now

    struct Found {
        QString name;
        bool folder;
    };
    QList<Found> entries;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder =
                ::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(st.st_mode);
        }
        entries.append({QFile::decodeName(entry->d_name), isFolder});
    }
    std::sort(entries.begin(), entries.end(), [](const Found& a, const Found& b) {
        const int order = a.name.compare(b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });

    QList<CeFindData> found;
    // Like the device, a folder below the root lists itself and its parent first.
    if (!names->isEmpty()) {
        for (const char* self : {".", ".."}) {
            if (matchesDeviceMask(mask, QLatin1String(self)))
                found.append({FileAttributeDirectory, QLatin1String(self)});
        }
    }
    for (const Found& entry : entries) {
        if (matchesDeviceMask(mask, entry.name))
            found.append({entry.folder ? FileAttributeDirectory : FileAttributeNormal, entry.name});
    }
    return m_searches.start(std::move(found), data, &m_lastError);
}

DeviceHandle FolderDeviceBackend::CeCreateFile(const QString& path, uint32_t desiredAccess,
                                               uint32_t /*shareMode*/, uint32_t creationDisposition,
                                               uint32_t /*flagsAndAttributes*/) {
    std::optional<QStringList> names = devicePathParts(path);
    if (!names || names->isEmpty() ||
        (creationDisposition != CreateNew && creationDisposition != OpenExisting)) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    OpenFile file;
    file.name = QFile::encodeName(names->takeLast());
    file.folder = openFolder(*names);
    if (!file.folder.isOpen())
        return InvalidDeviceHandle;

    const bool writing = desiredAccess & GenericWrite;
    if (creationDisposition == CreateNew && writing &&
        m_connected->kind == DeviceFolder::Kind::MtpMount) {
        struct stat st {};
        if (::fstatat(file.folder.get(), file.name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            fail(ErrorFileExists);
            return InvalidDeviceHandle;
        }
    } else {
        // Not blocking, so that a pipe or a device node in the folder cannot hold the window;
        // only a plain file is taken.
        int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
        if (writing)
            flags |= (desiredAccess & GenericRead) ? O_RDWR : O_WRONLY;
        else
            flags |= O_RDONLY;
        if (creationDisposition == CreateNew)
            flags |= O_CREAT | O_EXCL;
        file.fd.reset(::openat(file.folder.get(), file.name.constData(), flags, 0666));
        struct stat st {};
        if (!file.fd.isOpen() || ::fstat(file.fd.get(), &st) != 0) {
            failErrno(errno);
            return InvalidDeviceHandle;
        }
        if (!S_ISREG(st.st_mode)) {
            fail(ErrorInvalidParameter);
            return InvalidDeviceHandle;
        }
        ::fcntl(file.fd.get(), F_SETFL, ::fcntl(file.fd.get(), F_GETFL) & ~O_NONBLOCK);
        file.created = creationDisposition == CreateNew;
        file.made = {st.st_dev, st.st_ino};
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
    if (!file.fd.isOpen()) {
        file.collected.append(data, bytes);
        *written = bytes;
        return true;
    }
    qint64 done = 0;
    const bool ok = writeAll(file.fd.get(), data, bytes, &done);
    *written = uint32_t(done);
    return ok || failErrno(errno);
}

bool FolderDeviceBackend::storeWhole(OpenFile& file) {
    // Made only now, and exclusively: a file that took the name since the check stays as it is.
    file.fd.reset(::openat(file.folder.get(), file.name.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    struct stat st {};
    if (!file.fd.isOpen() || ::fstat(file.fd.get(), &st) != 0)
        return failErrno(errno);
    file.created = true;
    file.made = {st.st_dev, st.st_ino};
    qint64 done = 0;
    if (!writeAll(file.fd.get(), file.collected.constData(), file.collected.size(), &done) ||
        !syncAndClose(file.fd.release())) {
        const int error = errno;
        file.fd.reset();
        removeMade(file);
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
    if (!file.fd.isOpen())
        return storeWhole(file);
    if (!file.wrote)
        return true;
    if (syncAndClose(file.fd.release()))
        return true;
    const int error = errno;
    removeMade(file);
    return failErrno(error);
}

bool FolderDeviceBackend::discardFile(DeviceHandle handle) {
    auto it = m_files.find(handle);
    if (it == m_files.end())
        return fail(ErrorInvalidParameter);
    OpenFile file = std::move(it->second);
    m_files.erase(it);
    file.fd.reset();
    removeMade(file);
    return true;
}

} // namespace chimora
