#include "platform/bass/BassEncode.h"

#include "platform/bass/BassChannels.h"
#include "platform/bass/BassRecord.h"

namespace chimora::bass {

EncoderOutcome lastEncoderOutcome() {
    return detail::lastOutcome();
}

} // namespace chimora::bass

using namespace chimora;
using namespace chimora::bass;

HENCODE BASS_Encode_Start(DWORD handle, const EncoderCommand& command, DWORD flags, void* proc,
                          void* user) {
    Q_UNUSED(user);
    if (detail::isRecordChannel(handle))
        return proc ? fail(BASS_ERROR_ILLPARAM, HENCODE(0))
                    : detail::startRecordEncoder(handle, command, flags);
    detail::DecodeChannel* channel = detail::findChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, HENCODE(0));
    if (proc || command.program.isEmpty() || (flags & ~DWORD(BASS_ENCODE_AUTOFREE)))
        return fail(BASS_ERROR_ILLPARAM, HENCODE(0));
    if (channel->encoder)
        return fail(BASS_ERROR_ALREADY, HENCODE(0));
    EncoderOutcome failure;
    channel->encoder = StreamEncoder::start(command, channel->stream->sampleRate(),
                                            channel->stream->channels(), &failure);
    if (!channel->encoder) {
        detail::lastOutcome() = failure;
        return fail(BASS_ERROR_FILEOPEN, HENCODE(0));
    }
    setError(BASS_OK);
    return handle;
}

DWORD BASS_Encode_IsActive(DWORD handle) {
    if (detail::isRecordChannel(handle))
        return detail::recordEncoderIsActive(handle);
    detail::DecodeChannel* channel = detail::findChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, DWORD(BASS_ACTIVE_STOPPED));
    setError(BASS_OK);
    return channel->encoder && channel->encoder->isActive() ? BASS_ACTIVE_PLAYING
                                                            : BASS_ACTIVE_STOPPED;
}
