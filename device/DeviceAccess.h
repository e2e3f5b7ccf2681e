#pragma once
// The device layer's operations: connect to a phone (or a folder standing for its storage),
// list its folders and copy a ringtone onto it. They work on one program-wide backend, which
// finds a device by itself unless another is set. UI thread only; the core shows nothing: a
// copy that fails returns the message its window shows.

#include "device/DeviceBackend.h"
#include "platform/core/Result.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

namespace chimora {

/// How long ConnectDevice waits for a device to appear.
inline constexpr int ConnectTimeoutMs = 10000;
/// The size of the pieces a copy writes.
inline constexpr uint32_t TransferChunkBytes = 2048;

/// The backend the operations use. By default one that looks for a device folder, then for an
/// MTP phone (see SystemDeviceBackend).
DeviceBackend& deviceBackend();
/// Replaces the backend (nullptr restores the default). Drops any connection of the old one.
void setDeviceBackend(std::unique_ptr<DeviceBackend> backend);
/// Shortens ConnectDevice's wait (tests); 0 or less restores ConnectTimeoutMs.
void setConnectTimeoutForTesting(int milliseconds);

/// Connects, waiting up to ConnectTimeoutMs for a device to appear. It blocks the calling
/// thread all that time and runs no event loop: windows use ConnectAttempt instead. True when a
/// connection is up; a start that did not complete is undone.
bool ConnectDevice();

/// ConnectDevice without the wait: it starts the connection and asks the backend whether it is
/// up every so often from the event loop, for up to ConnectTimeoutMs, then emits finished once.
/// The backend looks for a device off the UI thread where that can hang (USB), so the windows
/// stay responsive meanwhile. Destroying a running attempt, or cancel(), ends it without a
/// signal: whatever the backend finds later is dropped. UI thread only.
class ConnectAttempt : public QObject {
    Q_OBJECT
public:
    explicit ConnectAttempt(QObject* parent = nullptr);
    ~ConnectAttempt() override;

    /// Begins the attempt; finished follows from the event loop, never from inside start.
    void start();
    bool isRunning() const { return m_running; }
    /// Ends a running attempt, which then never finishes.
    void cancel();

signals:
    void finished(bool connected);

private:
    void poll();
    void finish(bool connected);

    QTimer m_poll;
    QDeadlineTimer m_deadline;
    RapiInit m_init;
    bool m_running = false;
};
/// Ends the connection.
void DisconnectDevice();
/// "major.minor.build text", the text naming the backend and the device; empty when no device
/// answers.
QString GetDeviceVersion();
/// True when GetDeviceVersion is not empty.
bool IsDeviceConnected();

/// Every entry matching `pattern`, in the device's order; empty when there is none or no
/// connection.
void FindDeviceEntries(const QString& pattern, QList<CeFindData>& entries);
/// The names of the sub-folders matching `pattern`, in the device's order; never "." or "..",
/// never a file. Lets the event loop paint (not take input) once per entry.
void GetDeviceFolders(const QString& pattern, QStringList& names);
/// 1 when the entry is a folder, else 0.
int32_t IsFolderEntry(const CeFindData& entry);
/// Opens a device file for access kind 1 (read), 2 (write) or 3 (both); `createNew` makes a new
/// file and fails when one exists. InvalidDeviceHandle on failure (reason in CeGetLastError).
DeviceHandle OpenDeviceFile(const QString& path, int16_t accessKind, bool createNew,
                            uint32_t attributes);
/// The upper index of `list`, -1 when it is empty.
template <typename T> int SafeUBound(const QList<T>& list) {
    return int(list.size()) - 1;
}

/// The message shown for a device error code.
QString DeviceErrorMessage(uint32_t code);

/// Where a copy reports: its progress in percent (fractional) after each piece, and the status
/// line text when the file is complete.
struct CopyProgress {
    std::function<void(double percent)> setProgress;
    std::function<void(const QString& status)> setStatus;
};

/// Copies the local file to a new device file at `devicePath` in TransferChunkBytes pieces. An
/// existing device file is never replaced. The status "Status: Transfer Completed." is set only
/// when the whole file was written; on a failed or short write the partial file this copy
/// created is removed (that file only, never one that has taken its name meanwhile) and the
/// error carries the message to show. A local file that cannot be read gives a
/// message naming it, and nothing is created on the device.
Result<void> CopyFileToDevice(const QString& localPath, const QString& devicePath,
                              const CopyProgress& progress);

} // namespace chimora
