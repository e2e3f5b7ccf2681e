// The phone behind MtpLink, through libmtp.

#include "device/DeviceBackend.h"
#include "device/MtpLink.h"

#include <QTemporaryFile>

#include <libmtp.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace chimora {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using RawDevicesPtr = std::unique_ptr<LIBMTP_raw_device_t, FreeDeleter>;
using CStringPtr = std::unique_ptr<char, FreeDeleter>;

struct DeviceRelease {
    void operator()(LIBMTP_mtpdevice_t* device) const { LIBMTP_Release_Device(device); }
};
using DevicePtr = std::unique_ptr<LIBMTP_mtpdevice_t, DeviceRelease>;

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

// Detection walks the whole USB bus with the library's own state: one at a time. Never freed,
// so that a detection still hanging when the program ends finds it there.
std::mutex& detectionLock() {
    static auto* lock = new std::mutex;
    return *lock;
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
    bool reported = false;
};

int onSendProgress(uint64_t const sent, uint64_t const /*total*/, void const* const data) {
    auto* progress = static_cast<SendProgress*>(const_cast<void*>(data));
    progress->sent = sent;
    progress->reported = true;
    return 0;
}

class LibMtpLink : public MtpLink {
public:
    explicit LibMtpLink(DevicePtr device) : m_device(std::move(device)) {}

    QString name() override {
        CStringPtr name(LIBMTP_Get_Friendlyname(m_device.get()));
        if (!name || !*name)
            name.reset(LIBMTP_Get_Modelname(m_device.get()));
        return name && *name ? QString::fromUtf8(name.get()) : QStringLiteral("(unnamed)");
    }

    std::optional<QList<MtpStorage>> storages() override {
        if (LIBMTP_Get_Storage(m_device.get(), LIBMTP_STORAGE_SORTBY_NOTSORTED) != 0) {
            failFromStack();
            return std::nullopt;
        }
        QList<MtpStorage> found;
        for (const LIBMTP_devicestorage_t* s = m_device->storage; s; s = s->next)
            found.append({s->id, storageName(s), s->FreeSpaceInBytes});
        return found;
    }

    QList<MtpObject> children(uint32_t storage, uint32_t parent) override {
        // One folder's files and folders; the whole-device lists would read every object.
        const FileListPtr list(LIBMTP_Get_Files_And_Folders(m_device.get(), storage, parent));
        QList<MtpObject> found;
        for (const LIBMTP_file_t* f = list.get(); f; f = f->next) {
            found.append({f->item_id, QString::fromUtf8(f->filename ? f->filename : ""),
                          f->filetype == LIBMTP_FILETYPE_FOLDER});
        }
        LIBMTP_Clear_Errorstack(m_device.get());
        return found;
    }

    bool send(uint32_t storage, uint32_t parent, const QString& name, const QByteArray& bytes,
              uint32_t* created) override {
        *created = 0;
        QTemporaryFile local;
        if (!local.open() || local.write(bytes) != bytes.size() || !local.flush())
            return fail(ErrorGenFailure);
        LIBMTP_file_t* meta = LIBMTP_new_file_t();
        const FileListPtr owner(meta);
        meta->filename = strdup(name.toUtf8().constData());
        meta->filesize = uint64_t(bytes.size());
        meta->filetype = fileTypeOf(name);
        meta->storage_id = storage;
        meta->parent_id = parent == Top ? 0 : parent;
        meta->item_id = 0;
        SendProgress progress;
        const QByteArray localName = QFile::encodeName(local.fileName());
        const int result = LIBMTP_Send_File_From_File(m_device.get(), localName.constData(), meta,
                                                      onSendProgress, &progress);
        // The phone names the object before the data goes: a send that failed after that has
        // left an object of ours behind.
        *created = meta->item_id;
        if (result != 0)
            return failFromStack();
        if (progress.reported && progress.sent < meta->filesize)
            return fail(ErrorDiskFull);
        return true;
    }

    bool remove(uint32_t object) override {
        return LIBMTP_Delete_Object(m_device.get(), object) == 0 || failFromStack();
    }

    uint32_t lastError() override { return m_lastError; }

private:
    bool fail(uint32_t code) {
        m_lastError = code;
        return false;
    }
    bool failFromStack() {
        uint32_t code = ErrorGenFailure;
        for (LIBMTP_error_t* e = LIBMTP_Get_Errorstack(m_device.get()); e; e = e->next) {
            if (e->errornumber == LIBMTP_ERROR_STORAGE_FULL)
                code = ErrorDiskFull;
            else if (e->errornumber == LIBMTP_ERROR_NO_DEVICE_ATTACHED ||
                     e->errornumber == LIBMTP_ERROR_USB_LAYER)
                code = ErrorNotReady;
        }
        LIBMTP_Clear_Errorstack(m_device.get());
        return fail(code);
    }

    DevicePtr m_device;
    uint32_t m_lastError = 0;
};

} // namespace

std::unique_ptr<MtpLink> openFirstMtpPhone() {
    const std::lock_guard<std::mutex> hold(detectionLock());
    static std::once_flag once;
    std::call_once(once, [] { LIBMTP_Init(); });
    LIBMTP_raw_device_t* found = nullptr;
    int count = 0;
    const LIBMTP_error_number_t result = LIBMTP_Detect_Raw_Devices(&found, &count);
    const RawDevicesPtr raw(found);
    if (result != LIBMTP_ERROR_NONE || count <= 0)
        return nullptr;
    // A phone the desktop's own MTP mount holds cannot be opened here; it is reached through
    // that mount instead.
    for (int i = 0; i < count; ++i) {
        if (DevicePtr device{LIBMTP_Open_Raw_Device_Uncached(&raw.get()[i])})
            return std::make_unique<LibMtpLink>(std::move(device));
    }
    return nullptr;
}

} // namespace chimora
