#pragma once
// Helpers for the device tests: folder trees, whole-file reads and writes, and a phone in
// memory behind the MTP backend.

#include "device/DeviceBackend.h"
#include "device/MtpLink.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace devicetest {

/// Random bytes (the same for the same seed).
QByteArray randomBytes(qsizetype size, quint32 seed);
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& bytes);

/// A folder standing for a phone's storage, under `base`:
///   Alarms/   Files/a.txt   Files/b.txt   Music/Ringtones/   Music/song.mp3   readme.txt
///   escape -> ../outside (a link to a folder outside)
///   Music/link.wav -> ../../outside/target.wav (a dangling link leading outside)
/// and `base`/outside/secret/. Returns the phone folder.
QString makePhoneFolder(const QString& base);

/// A phone behind MtpLink, held in memory: one storage and the objects in it.
struct FakePhone {
    struct Object {
        uint32_t id = 0;
        uint32_t parent = 0;
        QString name;
        bool folder = false;
        QByteArray bytes;
    };
    enum class SendFailure { None, BeforeCreating, AfterCreating };

    QList<chimora::MtpStorage> storages{{1, "Internal shared storage", 1 << 20}};
    QList<Object> objects;
    QList<uint32_t> removed;
    SendFailure sendFailure = SendFailure::None;
    std::function<void()> beforeSend; ///< another program at work as a send starts
    uint32_t nextId = 100;

    uint32_t add(uint32_t parent, const QString& name, bool folder, const QByteArray& bytes = {}) {
        objects.append({nextId, parent, name, folder, bytes});
        return nextId++;
    }
    /// The files in `parent`, by name, with their bytes.
    QMap<QString, QByteArray> filesIn(uint32_t parent) const;
};

/// One opening of a FakePhone. Counts its own end in `released` (when given).
class FakeMtpLink : public chimora::MtpLink {
public:
    FakeMtpLink(std::shared_ptr<FakePhone> phone, std::shared_ptr<std::atomic<int>> released)
        : m_phone(std::move(phone)), m_released(std::move(released)) {}
    ~FakeMtpLink() override {
        if (m_released)
            ++*m_released;
    }

    QString name() override { return "Fake phone"; }
    std::optional<QList<chimora::MtpStorage>> storages() override { return m_phone->storages; }
    QList<chimora::MtpObject> children(uint32_t, uint32_t parent) override;
    bool send(uint32_t, uint32_t parent, const QString& name, const QByteArray& bytes,
              uint32_t* created) override;
    bool remove(uint32_t object) override {
        m_phone->removed << object;
        return m_phone->objects.removeIf([&](const auto& o) { return o.id == object; }) > 0;
    }
    uint32_t lastError() override { return chimora::ErrorGenFailure; }

private:
    std::shared_ptr<FakePhone> m_phone;
    std::shared_ptr<std::atomic<int>> m_released;
};

} // namespace devicetest
