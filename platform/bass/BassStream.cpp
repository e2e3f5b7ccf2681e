// Decode-only streams of the audio layer: files decoded to 16-bit PCM on demand, each pull also
// feeding the stream's encoder.
#include "platform/bass/BassStream.h"
#include "platform/bass/BassChannels.h"
#include "platform/bass/BassRecord.h"

#include <QFile>

using namespace chimora::bass;
using chimora::bass::detail::DecodeChannel;
using chimora::bass::detail::findChannel;

HSTREAM BASS_StreamCreateFile(BOOL mem, const char* file, QWORD offset, QWORD length, DWORD flags) {
    if (mem || offset || length || !file || !(flags & BASS_STREAM_DECODE))
        return fail(BASS_ERROR_ILLPARAM, HSTREAM(0));
    auto opened = chimora::DecodeStream::open(QFile::decodeName(file));
    if (!opened.ok()) {
        const bool unreadable = opened.error().kind == chimora::Error::Kind::Environment;
        return fail(unreadable ? BASS_ERROR_FILEOPEN : BASS_ERROR_FILEFORM, HSTREAM(0));
    }
    const DWORD handle = detail::addChannel(std::move(opened.value()));
    setError(BASS_OK);
    return handle;
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    DecodeChannel* channel = findChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, DWORD(-1));
    if (!buffer)
        return fail(BASS_ERROR_ILLPARAM, DWORD(-1));
    if (channel->stopped)
        return fail(BASS_ERROR_ENDED, DWORD(-1));
    const int64_t got = channel->stream->read(static_cast<char*>(buffer), length);
    if (channel->stream->atEnd())
        channel->stopped = true;
    if (got <= 0)
        return fail(BASS_ERROR_ENDED, DWORD(-1));
    if (channel->encoder)
        channel->encoder->feed(static_cast<const char*>(buffer), got);
    setError(BASS_OK);
    return DWORD(got);
}

DWORD BASS_ChannelIsActive(DWORD handle) {
    if (detail::isRecordChannel(handle))
        return detail::recordChannelIsActive(handle);
    DecodeChannel* channel = findChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, DWORD(BASS_ACTIVE_STOPPED));
    setError(BASS_OK);
    return channel->stopped ? BASS_ACTIVE_STOPPED : BASS_ACTIVE_PLAYING;
}

QWORD BASS_ChannelGetLength(DWORD handle, DWORD mode) {
    DecodeChannel* channel = findChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, QWORD(-1));
    if (mode != 0)
        return fail(BASS_ERROR_ILLPARAM, QWORD(-1));
    // An estimate from a compressed file's header can fall short of what really came out.
    setError(BASS_OK);
    return QWORD(std::max(channel->stream->lengthBytes(), channel->stream->positionBytes()));
}

QWORD BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
    if (detail::isRecordChannel(handle))
        return detail::recordChannelPosition(handle, mode);
    DecodeChannel* channel = findChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, QWORD(-1));
    if (mode != 0)
        return fail(BASS_ERROR_ILLPARAM, QWORD(-1));
    setError(BASS_OK);
    return QWORD(channel->stream->positionBytes());
}

BOOL BASS_ChannelStop(DWORD handle) {
    if (detail::isRecordChannel(handle))
        return detail::stopRecordChannel(handle);
    DecodeChannel* channel = findChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, BOOL(FALSE));
    channel->stopped = true;
    // A stopped channel's encoder gets no more data: it finishes its file now.
    detail::finishEncoder(*channel);
    setError(BASS_OK);
    return TRUE;
}

BOOL BASS_StreamFree(HSTREAM handle) {
    if (detail::isRecordChannel(handle))
        return detail::freeRecordChannel(handle);
    if (!detail::removeChannel(handle))
        return fail(BASS_ERROR_HANDLE, BOOL(FALSE));
    setError(BASS_OK);
    return TRUE;
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
    DecodeChannel* channel = findChannel(handle);
    if (!channel)
        return fail(BASS_ERROR_HANDLE, BOOL(FALSE));
    if (!info)
        return fail(BASS_ERROR_ILLPARAM, BOOL(FALSE));
    info->freq = DWORD(channel->stream->sampleRate());
    info->chans = DWORD(channel->stream->channels());
    info->flags = BASS_STREAM_DECODE;
    setError(BASS_OK);
    return TRUE;
}
