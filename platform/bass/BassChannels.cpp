#include "platform/bass/BassChannels.h"

#include <map>

namespace chimora::bass::detail {

namespace {

// Handles of decode streams live in their own range so they never meet the device layer's.
constexpr DWORD kFirstStreamHandle = 0x10000001;

std::map<DWORD, DecodeChannel>& channels() {
    static std::map<DWORD, DecodeChannel> table;
    return table;
}

DWORD nextHandle() {
    static DWORD next = kFirstStreamHandle;
    DWORD h = next++;
    if (next < kFirstStreamHandle)
        next = kFirstStreamHandle; // wrapped: 0 stays invalid
    return h;
}

} // namespace

DWORD addChannel(std::unique_ptr<DecodeStream> stream) {
    const DWORD handle = nextHandle();
    channels()[handle].stream = std::move(stream);
    return handle;
}

DecodeChannel* findChannel(DWORD handle) {
    auto it = channels().find(handle);
    return it == channels().end() ? nullptr : &it->second;
}

bool removeChannel(DWORD handle) {
    auto it = channels().find(handle);
    if (it == channels().end())
        return false;
    finishEncoder(it->second);
    channels().erase(it);
    return true;
}

void finishEncoder(DecodeChannel& channel) {
    if (!channel.encoder)
        return;
    lastOutcome() = channel.encoder->finish();
    channel.encoder.reset();
}

EncoderOutcome& lastOutcome() {
    static EncoderOutcome outcome;
    return outcome;
}

} // namespace chimora::bass::detail
