// Reads the central directory of a ZIP archive.
#ifndef MKSFX_ZIP_READER_H
#define MKSFX_ZIP_READER_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

namespace sfx {

struct CentralRecord {
    uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0;
    uint32_t timeDate = 0, crc = 0, compressedSize = 0, uncompressedSize = 0;
    uint16_t disk = 0, internalAttributes = 0;
    uint32_t externalAttributes = 0, localOffset = 0;
    std::string name, extra, comment;
};

struct CentralDirectory {
    uint64_t start = 0;    // file offset of the first record
    uint64_t shift = 0;    // bytes in front of the archive, added to every stored offset
    std::vector<CentralRecord> records;
    std::string comment;
};

// Throws Failure when the file holds no central directory that reads
// consistently, or one of more than 65535 entries or of several disks.
CentralDirectory ReadCentralDirectory(InputFile& file);

}  // namespace sfx

#endif
