// Deflating with libdeflate, which compresses whole buffers only: a large
// file goes in pieces, each compressed on its own, that join into one
// deflate stream.
#ifndef MKSFX_DEFLATE_PIECES_H
#define MKSFX_DEFLATE_PIECES_H

#include <cstddef>
#include <cstdint>
#include <vector>
#include <zlib.h>

struct libdeflate_compressor;

namespace sfx {

// The bytes of a piece. A whole piece loses only the 32 KB window at its
// start, which costs a few hundredths of a percent at this size.
constexpr size_t PieceSize = 4 << 20;

constexpr int MinLevel = 1, MaxLevel = 12;

// One thread's compressor.
class PieceDeflater {
public:
    explicit PieceDeflater(int level);
    ~PieceDeflater();
    PieceDeflater(const PieceDeflater&) = delete;
    PieceDeflater& operator=(const PieceDeflater&) = delete;

    // Compresses a piece into out; at the highest level, libdeflate's
    // blocks are then merged and cut anew where that saves bits (see
    // Reblock), the result checked by a decode. A piece that is not the last of its
    // stream has its final-block bit cleared and ends on a byte boundary
    // with an empty stored block, so that the next piece's blocks follow
    // it in the same stream. Throws Failure when that cannot be done.
    void Deflate(const uint8_t* data, size_t size, bool last, std::vector<uint8_t>& out);

private:
    void Continue(std::vector<uint8_t>& out, size_t size);
    bool Decodes(const std::vector<uint8_t>& stream, const uint8_t* data, size_t size);

    int level_;
    libdeflate_compressor* compressor_ = nullptr;
    z_stream inflate_{};
    std::vector<uint8_t> scratch_, reblocked_;
};

}  // namespace sfx

#endif
