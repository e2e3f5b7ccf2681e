#include "device/MtpDevice.h"

#include "device/DevicePath.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace chimora {

// What a connection attempt shares with the thread that looks for the phone. The thread keeps
// it alive as long as it runs; the backend lets go of it when the attempt ends.
struct MtpDetection {
    std::mutex lock;
    std::condition_variable wake;
    bool dropped = false;
    std::unique_ptr<MtpLink> found;
};

namespace {

// Detection probes every USB device on the bus: once a second is often enough.
constexpr std::chrono::seconds DetectionInterval{1};

void detect(const std::shared_ptr<MtpDetection>& detection, const MtpOpener& opener) {
    for (;;) {
        std::unique_ptr<MtpLink> link = opener();
        std::unique_lock<std::mutex> hold(detection->lock);
        if (detection->dropped) {
            // Nobody waits for this phone any more: it is released here, not handed over.
            hold.unlock();
            return;
        }
        if (link) {
            detection->found = std::move(link);
            return;
        }
        if (detection->wake.wait_for(hold, DetectionInterval, [&] { return detection->dropped; }))
            return;
    }
}

} // namespace

MtpDeviceBackend::MtpDeviceBackend(MtpOpener opener) : m_opener(std::move(opener)) {}

MtpDeviceBackend::~MtpDeviceBackend() {
    CeRapiUninit();
}

bool MtpDeviceBackend::fail(uint32_t code) {
    m_lastError = code;
    return false;
}

int32_t MtpDeviceBackend::CeRapiInitEx(RapiInit* init) {
    CeRapiUninit();
    auto detection = std::make_shared<MtpDetection>();
    try {
        // Detached: a detection hanging in USB must not hold up the window that gave up on it,
        // nor the end of the program.
        std::thread([detection, opener = m_opener] { detect(detection, opener); }).detach();
    } catch (const std::system_error&) {
        return -1;
    }
    m_detection = std::move(detection);
    init->hrRapiInit = 0;
    return 0;
}

bool MtpDeviceBackend::CeRapiInitSignalled(RapiInit* init) {
    if (!m_detection) {
        init->hrRapiInit = -1;
        return true;
    }
    {
        const std::lock_guard<std::mutex> hold(m_detection->lock);
        if (!m_detection->found)
            return false;
        m_link = std::move(m_detection->found);
    }
    m_detection.reset();
    init->hrRapiInit = 0;
    return true;
}

int32_t MtpDeviceBackend::CeRapiUninit() {
    if (m_detection) {
        {
            const std::lock_guard<std::mutex> hold(m_detection->lock);
            m_detection->dropped = true;
        }
        m_detection->wake.notify_all();
        m_detection.reset();
    }
    m_searches.clear();
    m_files.clear();
    m_link.reset();
    return 0;
}

bool MtpDeviceBackend::CeGetVersionEx(CeOsVersionInfo* info) {
    // Asking for the storages is a round trip: it fails once the phone is gone.
    if (!m_link || !m_link->storages())
        return fail(ErrorNotReady);
    info->dwMajorVersion = 1;
    info->dwMinorVersion = 0;
    info->dwBuildNumber = 0;
    info->dwPlatformId = 0;
    info->szCSDVersion = QStringLiteral("MTP phone %1").arg(m_link->name());
    return true;
}

std::optional<QList<MtpDeviceBackend::Entry>> MtpDeviceBackend::entriesOf(const Folder& folder) {
    QList<Entry> entries;
    if (folder.storage == 0) {
        const std::optional<QList<MtpStorage>> storages = m_link->storages();
        if (!storages) {
            fail(m_link->lastError());
            return std::nullopt;
        }
        for (const MtpStorage& s : *storages)
            entries.append({{FileAttributeDirectory, s.name}, s.id});
        return entries;
    }
    for (const MtpObject& o : m_link->children(folder.storage, folder.object))
        entries.append({{o.folder ? FileAttributeDirectory : FileAttributeNormal, o.name}, o.id});
    return entries;
}

std::optional<MtpDeviceBackend::Folder> MtpDeviceBackend::resolveFolder(const QString& devicePath) {
    if (!m_link) {
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
            folder = {match->object, MtpLink::Top};
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
    if (!m_link)
        return fail(ErrorNotReady);
    const std::optional<QList<MtpStorage>> storages = m_link->storages();
    if (!storages)
        return fail(m_link->lastError());
    for (const MtpStorage& s : *storages) {
        if (s.id == file.folder.storage && s.freeBytes < uint64_t(file.collected.size()))
            return fail(ErrorDiskFull);
    }
    uint32_t created = 0;
    if (m_link->send(file.folder.storage, file.folder.object, file.name, file.collected, &created))
        return true;
    const uint32_t error = m_link->lastError();
    // Only the object this send made goes: by name, it could be a file put there meanwhile.
    if (created != 0)
        m_link->remove(created);
    return fail(error);
}

bool MtpDeviceBackend::CeCloseHandle(DeviceHandle handle) {
    auto it = m_files.find(handle);
    if (it == m_files.end())
        return fail(ErrorInvalidParameter);
    NewFile file = std::move(it->second);
    m_files.erase(it);
    return send(file);
}

bool MtpDeviceBackend::discardFile(DeviceHandle handle) {
    // Nothing reaches the phone before the file is closed.
    return m_files.erase(handle) > 0 || fail(ErrorInvalidParameter);
}

} // namespace chimora
