#include "device/DeviceAccess.h"

#include "device/SystemDeviceBackend.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QThread>

#include <optional>
#include <utility>

namespace chimora {

namespace {

std::unique_ptr<DeviceBackend>& backendSlot() {
    static std::unique_ptr<DeviceBackend> backend;
    return backend;
}

int g_connectTimeoutMs = ConnectTimeoutMs;

// How often a connection start is asked whether it has ended: by an attempt running in the
// event loop, and by ConnectDevice's blocking wait.
constexpr int ConnectPollMs = 100;
constexpr int BlockingPollMs = 20;

// A device file the copy is writing: unless it was closed complete, it is discarded, which
// removes what this copy created and nothing else.
class DeviceFile {
public:
    DeviceFile(DeviceBackend& backend, DeviceHandle handle)
        : m_backend(backend), m_handle(handle) {}
    ~DeviceFile() { discard(); }
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;

    DeviceHandle get() const { return m_handle; }
    bool close() { return m_backend.CeCloseHandle(std::exchange(m_handle, InvalidDeviceHandle)); }
    void discard() {
        if (m_handle != InvalidDeviceHandle)
            m_backend.discardFile(std::exchange(m_handle, InvalidDeviceHandle));
    }

private:
    DeviceBackend& m_backend;
    DeviceHandle m_handle;
};

Error deviceError(uint32_t code) {
    return Error::environment(DeviceErrorMessage(code),
                              QStringLiteral("device error %1").arg(code));
}

} // namespace

DeviceBackend& deviceBackend() {
    std::unique_ptr<DeviceBackend>& backend = backendSlot();
    if (!backend)
        backend = std::make_unique<SystemDeviceBackend>();
    return *backend;
}

void setDeviceBackend(std::unique_ptr<DeviceBackend> backend) {
    std::unique_ptr<DeviceBackend>& slot = backendSlot();
    if (slot)
        slot->CeRapiUninit();
    slot = std::move(backend);
}

void setConnectTimeoutForTesting(int milliseconds) {
    g_connectTimeoutMs = milliseconds > 0 ? milliseconds : ConnectTimeoutMs;
}

bool ConnectDevice() {
    try {
        DeviceBackend& backend = deviceBackend();
        RapiInit init;
        if (backend.CeRapiInitEx(&init) < 0)
            return false;
        const QDeadlineTimer deadline(g_connectTimeoutMs);
        bool signalled = backend.CeRapiInitSignalled(&init);
        while (!signalled && !deadline.hasExpired()) {
            QThread::msleep(BlockingPollMs);
            signalled = backend.CeRapiInitSignalled(&init);
        }
        if (signalled && init.hrRapiInit >= 0)
            return true;
        backend.CeRapiUninit();
        return false;
    } catch (...) {
        return false;
    }
}

ConnectAttempt::ConnectAttempt(QObject* parent) : QObject(parent) {
    m_poll.setInterval(ConnectPollMs);
    connect(&m_poll, &QTimer::timeout, this, &ConnectAttempt::poll);
}

ConnectAttempt::~ConnectAttempt() {
    cancel();
}

void ConnectAttempt::start() {
    if (m_running)
        return;
    m_init = RapiInit{};
    m_running = true;
    if (deviceBackend().CeRapiInitEx(&m_init) < 0) {
        QTimer::singleShot(0, this, [this] { finish(false); });
        return;
    }
    m_deadline = QDeadlineTimer(g_connectTimeoutMs);
    // The first answer at once: a folder is there or not without any wait.
    QTimer::singleShot(0, this, &ConnectAttempt::poll);
    m_poll.start();
}

void ConnectAttempt::cancel() {
    if (!m_running)
        return;
    m_running = false;
    m_poll.stop();
    deviceBackend().CeRapiUninit();
}

void ConnectAttempt::poll() {
    if (!m_running)
        return;
    DeviceBackend& backend = deviceBackend();
    const bool signalled = backend.CeRapiInitSignalled(&m_init);
    if (signalled && m_init.hrRapiInit >= 0) {
        finish(true);
    } else if (signalled || m_deadline.hasExpired()) {
        backend.CeRapiUninit();
        finish(false);
    }
}

void ConnectAttempt::finish(bool connected) {
    if (!m_running)
        return;
    m_running = false;
    m_poll.stop();
    emit finished(connected);
}

void DisconnectDevice() {
    deviceBackend().CeRapiUninit();
}

QString GetDeviceVersion() {
    CeOsVersionInfo info;
    info.dwOSVersionInfoSize = 148;
    if (!deviceBackend().CeGetVersionEx(&info))
        return {};
    QString service = info.szCSDVersion;
    const qsizetype nul = service.indexOf(QChar(u'\0'));
    if (nul >= 0)
        service.truncate(nul);
    return QStringLiteral("%1.%2.%3 %4")
        .arg(info.dwMajorVersion)
        .arg(info.dwMinorVersion)
        .arg(info.dwBuildNumber)
        .arg(service);
}

bool IsDeviceConnected() {
    return !GetDeviceVersion().isEmpty();
}

void FindDeviceEntries(const QString& pattern, QList<CeFindData>& entries) {
    entries.clear();
    DeviceBackend& backend = deviceBackend();
    CeFindData data;
    const DeviceHandle search = backend.CeFindFirstFile(pattern, &data);
    if (search == InvalidDeviceHandle)
        return;
    do
        entries.append(data);
    while (backend.CeFindNextFile(search, &data));
    backend.CeFindClose(search);
}

void GetDeviceFolders(const QString& pattern, QStringList& names) {
    names.clear();
    QList<CeFindData> entries;
    FindDeviceEntries(pattern, entries);
    for (int i = 0; i <= SafeUBound(entries); ++i) {
        // A large folder takes a while to read: keep the windows painted, but take no clicks,
        // which could start another listing in the middle of this one.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QString name = entries[i].cFileName;
        const qsizetype nul = name.indexOf(QChar(u'\0'));
        if (nul >= 0)
            name.truncate(nul);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (IsFolderEntry(entries[i]) != 1)
            continue;
        names.append(name);
    }
}

int32_t IsFolderEntry(const CeFindData& entry) {
    return (entry.dwFileAttributes & FileAttributeDirectory) == FileAttributeDirectory ? 1 : 0;
}

DeviceHandle OpenDeviceFile(const QString& path, int16_t accessKind, bool createNew,
                            uint32_t attributes) {
    uint32_t access = 0;
    switch (accessKind) {
    case 1:
        access = GenericRead;
        break;
    case 2:
        access = GenericWrite;
        break;
    case 3:
        access = GenericRead | GenericWrite;
        break;
    default:
        break;
    }
    return deviceBackend().CeCreateFile(path, access, 0, createNew ? CreateNew : OpenExisting,
                                        attributes);
}

QString DeviceErrorMessage(uint32_t code) {
    switch (code) {
    case ErrorFileExists:
        return QStringLiteral("A file already exists with the specified name.");
    case ErrorInvalidParameter:
        return QStringLiteral("A parameter was invalid.");
    case ErrorDiskFull:
        return QStringLiteral("Disk if Full.");
    default:
        return QStringLiteral("An unknown error occurred.");
    }
}

Result<void> CopyFileToDevice(const QString& localPath, const QString& devicePath,
                              const CopyProgress& progress) {
    QFile local(localPath);
    if (!local.open(QIODevice::ReadOnly)) {
        return Error::environment(
            QStringLiteral("The ringtone file \"%1\" cannot be read: %2. Make the ringtone "
                           "again, then upload it.")
                .arg(localPath, local.errorString()));
    }
    const QByteArray bytes = local.readAll();
    if (local.error() != QFileDevice::NoError) {
        return Error::environment(
            QStringLiteral("The ringtone file \"%1\" cannot be read: %2. Make the ringtone "
                           "again, then upload it.")
                .arg(localPath, local.errorString()));
    }
    local.close();

    DeviceBackend& backend = deviceBackend();
    const DeviceHandle handle = OpenDeviceFile(devicePath, 2, true, FileAttributeNormal);
    if (handle == InvalidDeviceHandle)
        return deviceError(backend.CeGetLastError());

    DeviceFile file(backend, handle);
    const qint64 length = bytes.size();
    qint64 total = 0;
    qint64 position = 0;
    // A write that fails or falls short leaves a file that is not the ringtone: it is removed,
    // and the reason shown. A short write without an error is the device running out of room.
    auto writePiece = [&](qint64 count) -> std::optional<Error> {
        uint32_t written = 0;
        const bool ok = backend.CeWriteFile(file.get(), bytes.constData() + position,
                                            uint32_t(count), &written);
        total += written;
        if (ok && written == count)
            return std::nullopt;
        return deviceError(ok ? ErrorDiskFull : backend.CeGetLastError());
    };
    auto fail = [&](const Error& error) -> Result<void> {
        file.discard();
        return error;
    };

    while (length - total > TransferChunkBytes) {
        if (std::optional<Error> error = writePiece(TransferChunkBytes))
            return fail(*error);
        position += TransferChunkBytes;
        if (progress.setProgress)
            progress.setProgress(double(total) * 100.0 / double(length));
    }
    if (length - total > 0) {
        if (std::optional<Error> error = writePiece(length - total))
            return fail(*error);
    }
    if (length > 0 && progress.setProgress)
        progress.setProgress(double(total) * 100.0 / double(length));

    // A backend that stores the file whole does it when the file is closed; one that fails
    // there has removed what it made.
    if (!file.close())
        return deviceError(backend.CeGetLastError());
    if (progress.setStatus)
        progress.setStatus(QStringLiteral("Status: Transfer Completed."));
    return {};
}

} // namespace chimora
