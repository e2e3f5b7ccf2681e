#include "platform/bass/Bass.h"

namespace {
thread_local int lastError = BASS_OK;
}

int BASS_ErrorGetCode() {
    return lastError;
}

DWORD BASS_GetVersion() {
    // Interface 2.3 in the high word; our own release number in the low word.
    return 0x02030001;
}

namespace chimora::bass {
void setError(int code) {
    lastError = code;
}
} // namespace chimora::bass
