#include "device/DeviceSearches.h"

namespace chimora {

DeviceHandle DeviceSearches::start(QList<CeFindData> entries, CeFindData* data, uint32_t* error) {
    if (entries.isEmpty()) {
        *error = ErrorFileNotFound;
        return InvalidDeviceHandle;
    }
    *data = entries.first();
    const DeviceHandle handle = m_nextHandle++;
    m_searches.emplace(handle, Search{std::move(entries), 1});
    return handle;
}

bool DeviceSearches::next(DeviceHandle search, CeFindData* data, uint32_t* error) {
    const auto it = m_searches.find(search);
    if (it == m_searches.end()) {
        *error = ErrorInvalidParameter;
        return false;
    }
    if (it->second.next >= it->second.entries.size()) {
        *error = ErrorFileNotFound;
        return false;
    }
    *data = it->second.entries[it->second.next++];
    return true;
}

bool DeviceSearches::close(DeviceHandle search, uint32_t* error) {
    if (m_searches.erase(search) > 0)
        return true;
    *error = ErrorInvalidParameter;
    return false;
}

} // namespace chimora
