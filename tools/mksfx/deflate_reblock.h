// A second look at the blocks of a deflate stream. libdeflate ends a block
// where its statistics of the input seem to change; two neighbouring blocks
// often take fewer bits as one, with one code and one header instead of two.
#ifndef MKSFX_DEFLATE_REBLOCK_H
#define MKSFX_DEFLATE_REBLOCK_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sfx {

// Rewrites a complete deflate stream with the same literals and matches,
// neighbouring blocks merged where that takes fewer bits, each rewritten
// block coded with the smaller of its own code and the fixed one; the
// other blocks are copied bit for bit. Returns false, leaving out alone,
// when that gains nothing or the stream has something it does not expect.
bool Reblock(const uint8_t* stream, size_t size, std::vector<uint8_t>& out);

}  // namespace sfx

#endif
