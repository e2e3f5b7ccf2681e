#include "device/MtpDevice.h"

#include "device/DevicePath.h"

#include <QTemporaryFile>

#include <libmtp.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace chimora {

void MtpDeviceRelease::operator()(LIBMTP_mtpdevice_struct* device) const {
    LIBMTP_Release_Device(device);
}

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using RawDevicesPtr = std::unique_ptr<LIBMTP_raw_device_t, FreeDeleter>;
using CStringPtr = std::unique_ptr<char, FreeDeleter>;

// A list of files and folders as the library returns it: every node is destroyed on its own.
struct FileListDestroy {
    void operator()(LIBMTP_file_t* list) const {
        while (list) {
            LIBMTP_file_t* next = list->next;
            LIBMTP_destroy_file_t(list);
            list = next;
        }
    }
};
using FileListPtr = std::unique_ptr<LIBMTP_file_t, FileListDestroy>;

constexpr qint64 DetectionIntervalMs = 1000;

void initLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { LIBMTP_Init(); });
}

QString storageName(const LIBMTP_devicestorage_t* storage) {
    if (storage->StorageDescription && *storage->StorageDescription)
        return QString::fromUtf8(storage->StorageDescription);
    if (storage->VolumeIdentifier && *storage->VolumeIdentifier)
        return QString::fromUtf8(storage->VolumeIdentifier);
    return QStringLiteral("Storage %1").arg(storage->id, 8, 16, QLatin1Char('0'));
}

LIBMTP_filetype_t fileTypeOf(const QString& name) {
    const QString lower = name.toLower();
    if (lower.endsWith(QLatin1String(".wav")))
        return LIBMTP_FILETYPE_WAV;
    if (lower.endsWith(QLatin1String(".mp3")))
        return LIBMTP_FILETYPE_MP3;
    if (lower.endsWith(QLatin1String(".ogg")))
        return LIBMTP_FILETYPE_OGG;
    return LIBMTP_FILETYPE_UNKNOWN;
}

struct SendProgress {
    uint64_t sent = 0;
    uint64_t total = 0;
    bool reported = false;
};

int onSendProgress(uint64_t const sent, uint64_t const total, void const* const data) {
    auto* progress = static_cast<SendProgress*>(const_cast<void*>(data));
    progress->sent = sent;
    progress->total = total;
    progress->reported = true;
    return 0;
}

} // namespace

MtpDeviceBackend::MtpDeviceBackend() = default;

MtpDeviceBackend::~MtpDeviceBackend() = default;

bool MtpDeviceBackend::fail(uint32_t code) {
    m_lastError = code;
    return false;
}

uint32_t MtpDeviceBackend::errorFromStack() {
    uint32_t code = ErrorGenFailure;
    for (LIBMTP_error_t* e = LIBMTP_Get_Errorstack(m_device.get()); e; e = e->next) {
        if (e->errornumber == LIBMTP_ERROR_STORAGE_FULL)
            code = ErrorDiskFull;
        else if (e->errornumber == LIBMTP_ERROR_NO_DEVICE_ATTACHED ||
                 e->errornumber == LIBMTP_ERROR_USB_LAYER)
            code = ErrorNotReady;
    }
    LIBMTP_Clear_Errorstack(m_device.get());
    return code;
}

int32_t MtpDeviceBackend::CeRapiInitEx(RapiInit* init) {
    CeRapiUninit();
    initLibrary();
    m_lastDetection.invalidate();
    init->hrRapiInit = 0;
    m_starting = true;
    return 0;
}

bool MtpDeviceBackend::CeRapiInitSignalled(RapiInit* init) {
    if (!m_starting) {
        init->hrRapiInit = -1;
        return true;
    }
    // Detection probes every USB device on the bus: once a second is often enough.
    if (m_lastDetection.isValid() && m_lastDetection.elapsed() < DetectionIntervalMs)
        return false;
    m_lastDetection.start();
    LIBMTP_raw_device_t* found = nullptr;
    int count = 0;
    const LIBMTP_error_number_t result = LIBMTP_Detect_Raw_Devices(&found, &count);
    const RawDevicesPtr raw(found);
    if (result != LIBMTP_ERROR_NONE || count <= 0)
        return false;
    // A phone the desktop's own MTP mount holds cannot be opened here; it is reached through
    // that mount instead.
    for (int i = 0; i < count && !m_device; ++i)
        m_device.reset(LIBMTP_Open_Raw_Device_Uncached(&raw.get()[i]));
    if (!m_device)
        return false;
    m_starting = false;
    init->hrRapiInit = 0;
    return true;
}

int32_t MtpDeviceBackend::CeRapiUninit() {
    m_starting = false;
    m_searches.clear();
    m_files.clear();
    m_device.reset();
    return 0;
}

bool MtpDeviceBackend::CeGetVersionEx(CeOsVersionInfo* info) {
    // Asking for the storages is a round trip: it fails once the phone is gone.
    if (!m_device || LIBMTP_Get_Storage(m_device.get(), LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0)
        return fail(ErrorNotReady);
    CStringPtr name(LIBMTP_Get_Friendlyname(m_device.get()));
    if (!name || !*name)
        name.reset(LIBMTP_Get_Modelname(m_device.get()));
    info->dwMajorVersion = 1;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 0;
    info->dwPlatformId = 0;
    info->szCSDVersion =
        QStringLiteral("MTP phone %1")
            .arg(name ? QString::fromUtf8(name.get()) : QStringLiteral("(unnamed)"));
    return true;
}

std::optional<QList<MtpDeviceBackend::Entry>> MtpDeviceBackend::entriesOf(const Folder& folder) {
    QList<Entry> entries;
    if (folder.storage == 0) {
        if (LIBMTP_Get_Storage(m_device.get(), LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0) {
            fail(errorFromStack());
            return std::nullopt;
        }
        for (LIBMTP_devicestorage_t* s = m_device->storage; s; s = s->next)
            entries.append({{FileAttributeDirectory, storageName(s)}, s->id});
        return entries;
    }
    // One folder's files and folders; the whole-device lists would read every object.
    const FileListPtr list(
        LIBMTP_Get_Files_And_Folders(m_device.get(), folder.storage, folder.object));
    for (const LIBMTP_file_t* f = list.get(); f; f = f->next) {
        const uint32_t attributes =
            f->filetype == LIBMTP_FILETYPE_FOLDER ? FileAttributeDirectory : FileAttributeNormal;
        entries.append(
            {{attributes, QString::fromUtf8(f->filename ? f->filename : "")}, f->item_id});
    }
    LIBMTP_Clear_Errorstack(m_device.get());
    return entries;
}

std::optional<MtpDeviceBackend::Folder> MtpDeviceBackend::resolveFolder(const QString& devicePath) {
    if (!m_device) {
        fail(ErrorNotReady);
        return std::nullopt;
    }
    const std::optional<QStringList> parts = devicePathParts(devicePath);
    if (!parts) {
        fail(ErrorInvalidParameter);
        return std::nullopt;
    }
    Folder folder;
    for (const QString& part : *parts) {
        const std::optional<QList<Entry>> entries = entriesOf(folder);
        if (!entries)
            return std::nullopt;
        const Entry* match = nullptr;
        for (const Entry& e : *entries) {
            if (e.data.cFileName == part && (e.data.dwFileAttributes & FileAttributeDirectory)) {
                match = &e;
                break;
            }
        }
        if (!match) {
            fail(ErrorInvalidParameter);
            return std::nullopt;
        }
        if (folder.storage == 0)
            folder = {match->object, Folder::Top};
        else
            folder.object = match->object;
    }
    return folder;
}

DeviceHandle MtpDeviceBackend::CeFindFirstFile(const QString& pattern, CeFindData* data) {
    QString folderPath, mask;
    if (!splitDevicePattern(pattern, &folderPath, &mask)) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    const std::optional<Folder> folder = resolveFolder(folderPath);
    if (!folder)
        return InvalidDeviceHandle;
    const std::optional<QList<Entry>> entries = entriesOf(*folder);
    if (!entries)
        return InvalidDeviceHandle;
    QList<CeFindData> found;
    for (const Entry& e : *entries) {
        if (matchesDeviceMask(mask, e.data.cFileName))
            found.append(e.data);
    }
    return m_searches.start(std::move(found), data, &m_lastError);
}

DeviceHandle MtpDeviceBackend::CeCreateFile(const QString& path, uint32_t desiredAccess,
                                            uint32_t /*shareMode*/, uint32_t creationDisposition,
                                            uint32_t /*flagsAndAttributes*/) {
    // Only new files are written; phones take a file whole, so nothing else can be opened.
    const qsizetype cut = path.lastIndexOf(u'\\');
    const QString name = cut >= 0 ? path.mid(cut + 1) : QString();
    if (creationDisposition != CreateNew || !(desiredAccess & GenericWrite) || name.isEmpty()) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    const std::optional<Folder> folder =
        resolveFolder(cut == 0 ? QStringLiteral("\\") : path.left(cut));
    if (!folder)
        return InvalidDeviceHandle;
    if (folder->storage == 0 || !devicePathParts(path)) {
        fail(ErrorInvalidParameter);
        return InvalidDeviceHandle;
    }
    const std::optional<QList<Entry>> entries = entriesOf(*folder);
    if (!entries)
        return InvalidDeviceHandle;
    for (const Entry& e : *entries) {
        if (e.data.cFileName.compare(name, Qt::CaseInsensitive) == 0) {
            fail(ErrorFileExists);
            return InvalidDeviceHandle;
        }
    }
    const DeviceHandle handle = m_nextHandle++;
    m_files.emplace(handle, NewFile{*folder, name, {}});
    return handle;
}

bool MtpDeviceBackend::CeWriteFile(DeviceHandle handle, const char* data, uint32_t bytes,
                                   uint32_t* written) {
    *written = 0;
    const auto it = m_files.find(handle);
    if (it == m_files.end())
        return fail(ErrorInvalidParameter);
    it->second.collected.append(data, bytes);
    *written = bytes;
    return true;
}

bool MtpDeviceBackend::send(NewFile& file) {
    if (!m_device)
        return fail(ErrorNotReady);
    const uint64_t size = uint64_t(file.collected.size());
    if (LIBMTP_Get_Storage(m_device.get(), LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0)
        return fail(errorFromStack());
    for (LIBMTP_devicestorage_t* s = m_device->storage; s; s = s->next) {
        if (s->id == file.folder.storage && s->FreeSpaceInBytes < size)
            return fail(ErrorDiskFull);
    }

    QTemporaryFile local;
    if (!local.open() || local.write(file.collected) != file.collected.size() || !local.flush())
        return fail(ErrorGenFailure);

    LIBMTP_file_t* meta = LIBMTP_new_file_t();
    const FileListPtr owner(meta);
    meta->filename = strdup(file.name.toUtf8().constData());
    meta->filesize = size;
    meta->filetype = fileTypeOf(file.name);
    meta->storage_id = file.folder.storage;
    meta->parent_id = file.folder.object == Folder::Top ? 0 : file.folder.object;
    SendProgress progress;
    const QByteArray localName = QFile::encodeName(local.fileName());
    if (LIBMTP_Send_File_From_File(m_device.get(), localName.constData(), meta, onSendProgress,
                                   &progress) != 0)
        return fail(errorFromStack());
    if (progress.reported && progress.sent < size)
        return fail(ErrorDiskFull);
    return true;
}

bool MtpDeviceBackend::CeCloseHandle(DeviceHandle handle) {
    auto it = m_files.find(handle);
    if (it == m_files.end())
        return fail(ErrorInvalidParameter);
    NewFile file = std::move(it->second);
    m_files.erase(it);
    return send(file);
}

bool MtpDeviceBackend::CeDeleteFile(const QString& path) {
    const qsizetype cut = path.lastIndexOf(u'\\');
    if (cut < 0)
        return fail(ErrorInvalidParameter);
    const QString name = path.mid(cut + 1);
    const std::optional<Folder> folder =
        resolveFolder(cut == 0 ? QStringLiteral("\\") : path.left(cut));
    if (!folder || folder->storage == 0)
        return fail(ErrorInvalidParameter);
    const std::optional<QList<Entry>> entries = entriesOf(*folder);
    if (!entries)
        return false;
    for (const Entry& e : *entries) {
        if (e.data.cFileName == name && !(e.data.dwFileAttributes & FileAttributeDirectory))
            return LIBMTP_Delete_Object(m_device.get(), e.object) == 0 || fail(errorFromStack());
    }
    return fail(ErrorFileNotFound);
}

} // namespace chimora
