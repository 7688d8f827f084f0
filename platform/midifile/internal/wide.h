// 128-bit unsigned arithmetic for exact time conversion: products of a position
// on the file's clock and a tempo do not fit in 64 bits.
#pragma once

namespace music::internal {

__extension__ typedef unsigned __int128 Wide;

} // namespace music::internal
