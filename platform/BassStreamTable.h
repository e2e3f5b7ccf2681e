#pragma once
// Inside the audio layer: the table of decode streams that BassStream.cpp and BassEncode.cpp
// share. Not for use outside platform/.

#include "platform/BassEncode.h"
#include "platform/DecodeStream.h"

#include <memory>

namespace chimora::bass::detail {

struct DecodeChannel {
    std::unique_ptr<DecodeStream> stream;
    std::unique_ptr<StreamEncoder> encoder;
    bool stopped = false; ///< pulled to its end or stopped: no more data
};

/// The stream behind `handle`, or null.
DecodeChannel* findChannel(DWORD handle);

/// Finishes the channel's encoder, if any, keeping its outcome for lastEncoderOutcome().
void finishEncoder(std::unique_ptr<StreamEncoder>& encoder);

} // namespace chimora::bass::detail
