#include "deflate_pieces.h"

#include <cstring>
#include <libdeflate.h>

#include "deflate_reblock.h"
#include "zip_format.h"

namespace sfx {

PieceDeflater::PieceDeflater(int level) : level_(level), scratch_(1 << 16)
{
    compressor_ = libdeflate_alloc_compressor(level);
    if (compressor_ == nullptr)
        throw Failure("libdeflate cannot start compressing at level " + std::to_string(level));
    if (inflateInit2(&inflate_, -MAX_WBITS) != Z_OK) {
        libdeflate_free_compressor(compressor_);
        throw Failure("zlib cannot start inflating");
    }
}

PieceDeflater::~PieceDeflater()
{
    inflateEnd(&inflate_);
    libdeflate_free_compressor(compressor_);
}

void PieceDeflater::Deflate(const uint8_t* data, size_t size, bool last, std::vector<uint8_t>& out)
{
    out.resize(libdeflate_deflate_compress_bound(compressor_, size) + 5);
    size_t packed = libdeflate_deflate_compress(compressor_, data, size, out.data(), out.size());
    if (packed == 0)
        throw Failure("libdeflate could not compress a piece of " + std::to_string(size) + " bytes");
    out.resize(packed);
    if (level_ == MaxLevel && Reblock(out.data(), out.size(), reblocked_) && Decodes(reblocked_, data, size))
        out.swap(reblocked_);
    if (!last)
        Continue(out, size);
}

// True when the stream decodes to exactly these bytes.
bool PieceDeflater::Decodes(const std::vector<uint8_t>& stream, const uint8_t* data, size_t size)
{
    inflateReset(&inflate_);
    inflate_.next_in = const_cast<uint8_t*>(stream.data());
    inflate_.avail_in = (uInt)stream.size();
    for (size_t done = 0;;) {
        inflate_.next_out = scratch_.data();
        inflate_.avail_out = (uInt)scratch_.size();
        int result = inflate(&inflate_, Z_NO_FLUSH);
        size_t got = scratch_.size() - inflate_.avail_out;
        if (got > size - done || std::memcmp(scratch_.data(), data + done, got) != 0)
            return false;
        done += got;
        if (result == Z_STREAM_END)
            return done == size && inflate_.avail_in == 0;
        if (result != Z_OK)
            return false;
    }
}

// The final-block bit is the first bit of the last block's header, which
// only a decode finds: zlib stops at every block boundary when asked
// (Z_BLOCK) and tells how many bits of the last byte it has not used. The
// decode checks the piece too.
void PieceDeflater::Continue(std::vector<uint8_t>& out, size_t size)
{
    inflateReset(&inflate_);
    inflate_.next_in = out.data();
    inflate_.avail_in = (uInt)out.size();
    uint64_t lastHeader = 0;      // bit position of the header of the block being decoded
    int unused = -1;              // bits of the last byte after the final block
    for (;;) {
        inflate_.next_out = scratch_.data();
        inflate_.avail_out = (uInt)scratch_.size();
        int result = inflate(&inflate_, Z_BLOCK);
        if (result == Z_STREAM_END)
            break;
        if (result != Z_OK)
            throw Failure("libdeflate's output for a piece does not decode");
        // 128: at a block boundary, with as many bits of the last byte
        // taken unused as the low bits say; 64: after the final block.
        // (At the stream's end zlib has dropped those bits already.)
        if ((inflate_.data_type & 128) && !(inflate_.data_type & 64))
            lastHeader = (uint64_t)(inflate_.next_in - out.data()) * 8 - (inflate_.data_type & 7);
        else if (inflate_.data_type & 128)
            unused = inflate_.data_type & 7;
    }
    if (inflate_.avail_in != 0 || inflate_.total_out != size || unused < 0)
        throw Failure("libdeflate's output for a piece does not decode to the piece");
    out[lastHeader / 8] &= (uint8_t)~(1u << (lastHeader % 8));

    // The stream's last bits fill the low end of its last byte; an empty
    // stored block (header 000, then LEN 0 and NLEN 0xFFFF on the next
    // byte boundary) takes the place of the unused high bits.
    out.back() &= (uint8_t)(0xFF >> unused);
    if (unused < 3)
        out.push_back(0);
    for (uint8_t b : {0x00, 0x00, 0xFF, 0xFF})
        out.push_back(b);
}

}  // namespace sfx
