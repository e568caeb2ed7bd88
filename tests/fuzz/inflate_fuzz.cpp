// Fuzz target: arbitrary bytes as the data of a deflated or stored entry,
// plain or encrypted, with short reads or a full disk. The first byte picks
// the setting; the rest is the entry. Besides the sanitizers, every run
// checks what the program relies on: nothing read beyond the entry, writes
// in bounded pieces, the CRC over exactly what the output accepted, no block
// left allocated, and (when zlib decodes the same data to its end) the very
// output of zlib, whatever uncompressed size the header states.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "decode/SFXcrypt.h"
#include "decode/SFXinflt.h"
#include "memory_io.h"

using namespace memio;

static void Check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "broken: %s\n", what);
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 200000)
        return 0;
    const uint8_t mode = data[0];
    const bool stored = mode & 1;
    const bool encrypted = mode & 2;
    static const int32_t deliveries[4] = {0, 1, 13, 4096};
    const bool fullDisk = mode & 16;
    static const uint32_t statedSizes[4] = {0, 1, 3000, 70000};
    const uint32_t stated = statedSizes[(mode >> 5) & 3];
    Bytes entry(data + 1, data + size);

    EnsureCrcTable();
    Bytes plain = entry;
    if (encrypted) {
        InitKeys("fuzz");
        DecryptBuffer(plain.data(), (int32_t)plain.size());
    }

    Bytes archive = entry;
    archive.insert(archive.end(), 16, 0xA7);          // the next entry
    Reset(archive);
    io.deliverAtMost = deliveries[(mode >> 2) & 3];
    if (fullDisk)
        io.acceptAtMost = (int64_t)entry.size() / 2;
    if (encrypted)
        InitKeys("fuzz");
    uint32_t crc = stored ? RunStored((int32_t)entry.size(), encrypted)
                          : RunInflate((int32_t)entry.size(), encrypted, stated);

    Check(io.liveBlocks == 0, "a block is still allocated");
    Check(io.archivePosition <= entry.size(), "read beyond the entry");
    for (int32_t request : io.readRequests)
        Check(request > 0 && request <= 32768, "read request size");
    Check(crc == ReferenceCrc(io.output), "CRC differs from the accepted output");
    if (stored) {
        if (!fullDisk)
            Check(io.output == plain, "stored copy differs");
        return 0;
    }
    for (int32_t request : io.writeRequests)
        Check(request > 0 && request <= (int32_t)OutputBlockSize, "write request size");
    if (!fullDisk) {
        bool complete;
        Bytes reference = ZlibInflate(plain, complete);
        if (complete)
            Check(io.output == reference, "output differs from zlib's");
    }
    return 0;
}
