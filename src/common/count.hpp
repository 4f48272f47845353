// Sizes and element counts formed from caller-controlled numbers: 128 bits,
// so that no product of two 64-bit counts can wrap.
#pragma once

namespace nimbic {

using Count = __int128;

}  // namespace nimbic
