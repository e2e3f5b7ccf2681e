#pragma once
// What the MTP backend asks of a phone, one call per library request: its storages, a folder's
// objects, sending a new file and deleting an object. The real one goes through libmtp; tests
// put a phone of their own behind it.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace chimora {

struct MtpStorage {
    uint32_t id = 0;
    QString name;
    uint64_t freeBytes = 0;
};

struct MtpObject {
    uint32_t id = 0;
    QString name;
    bool folder = false;
};

/// One opened phone. Used from one thread at a time; every call is a round trip over USB.
class MtpLink {
public:
    /// The parent of the objects at a storage's top level.
    static constexpr uint32_t Top = 0xffffffffu;

    virtual ~MtpLink() = default;

    /// The phone's name for people (its friendly name, else its model).
    virtual QString name() = 0;
    /// Its storages; none when it no longer answers.
    virtual std::optional<QList<MtpStorage>> storages() = 0;
    /// The files and folders directly in `parent` (Top: the storage's top level).
    virtual QList<MtpObject> children(uint32_t storage, uint32_t parent) = 0;
    /// Sends `bytes` as a new file `name` in `parent`. `*created` gets the id of the object the
    /// phone made for it, also when the send failed after that (0 when it made none). False on
    /// failure, also when the phone took fewer bytes than sent.
    virtual bool send(uint32_t storage, uint32_t parent, const QString& name,
                      const QByteArray& bytes, uint32_t* created) = 0;
    /// Deletes one object.
    virtual bool remove(uint32_t object) = 0;
    /// The device error code (DeviceBackend.h) of the last call that failed.
    virtual uint32_t lastError() = 0;
};

/// Looks for a phone and opens the first that answers; none when there is none. It talks to
/// USB and can hang on a device that does not answer: run it off the UI thread.
using MtpOpener = std::function<std::unique_ptr<MtpLink>()>;

/// The opener through libmtp. Calls are taken one at a time, whatever the thread.
std::unique_ptr<MtpLink> openFirstMtpPhone();

} // namespace chimora
