#pragma once
// Inside the audio layer: the table of decode channels that the stream and encoder functions
// share, and the outcome of the encoder that ended last. Not for use outside platform/bass.

#include "platform/bass/Bass.h"
#include "platform/encoder/StreamEncoder.h"
#include "platform/ffmpeg/DecodeStream.h"

#include <memory>

namespace chimora::bass::detail {

struct DecodeChannel {
    std::unique_ptr<DecodeStream> stream;
    std::unique_ptr<StreamEncoder> encoder;
    bool stopped = false; ///< pulled to its end or stopped: no more data
};

/// Adds a channel for `stream` and returns its handle (never 0).
DWORD addChannel(std::unique_ptr<DecodeStream> stream);

/// The channel behind `handle`, or null.
DecodeChannel* findChannel(DWORD handle);

/// Finishes the channel's encoder and removes the channel; false for an unknown handle.
bool removeChannel(DWORD handle);

/// Finishes the channel's encoder, if any, keeping its outcome for lastOutcome().
void finishEncoder(DecodeChannel& channel);

/// The outcome kept by finishEncoder() or recorded for an encoder that failed to start.
EncoderOutcome& lastOutcome();

} // namespace chimora::bass::detail
