#pragma once
// The directory searches a backend has running: the entries a search found, handed out one at
// a time through its handle.

#include "device/DeviceBackend.h"

#include <QList>

#include <map>

namespace chimora {

class DeviceSearches {
public:
    /// Starts a search over `entries`; the first goes to `data`. With no entries:
    /// InvalidDeviceHandle and ErrorFileNotFound in `*error`.
    DeviceHandle start(QList<CeFindData> entries, CeFindData* data, uint32_t* error);
    /// The search's next entry; false (and the reason in `*error`) when there is none.
    bool next(DeviceHandle search, CeFindData* data, uint32_t* error);
    bool close(DeviceHandle search, uint32_t* error);
    /// Ends every search (the connection went).
    void clear() { m_searches.clear(); }

private:
    struct Search {
        QList<CeFindData> entries;
        qsizetype next = 0;
    };
    std::map<DeviceHandle, Search> m_searches;
    DeviceHandle m_nextHandle = 1;
};

/// What a backend that lists its folders itself shares with the other: its running searches
/// and its last error, with the search and error calls that need nothing else.
class SearchingDeviceBackend : public DeviceBackend {
public:
    bool CeFindNextFile(DeviceHandle search, CeFindData* data) override {
        return m_searches.next(search, data, &m_lastError);
    }
    bool CeFindClose(DeviceHandle search) override {
        return m_searches.close(search, &m_lastError);
    }
    uint32_t CeGetLastError() override { return m_lastError; }

protected:
    DeviceSearches m_searches;
    uint32_t m_lastError = 0;
};

} // namespace chimora
