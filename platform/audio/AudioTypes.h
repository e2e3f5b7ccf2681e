#pragma once
// The audio document's block types, beside the plain audio types of the core.

#include "platform/core/AudioFormat.h"

#include <memory>
#include <vector>

namespace chimora {

/// A run of interleaved 16-bit frames with its min/max summaries at several resolutions.
/// Immutable once made, so it is shared freely between document versions, the undo history,
/// the clipboard and the player thread.
class SampleBlock;
using BlockPtr = std::shared_ptr<const SampleBlock>;
using BlockList = std::vector<BlockPtr>;

} // namespace chimora
