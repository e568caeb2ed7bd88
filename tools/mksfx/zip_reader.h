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
    uint32_t timeDate = 0, crc = 0;
    uint64_t compressedSize = 0, uncompressedSize = 0;    // from the ZIP64 block where it has them
    uint32_t disk = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint64_t localOffset = 0;
    std::string name, extra, comment;
};

struct CentralDirectory {
    uint64_t start = 0;    // file offset of the first record
    uint64_t shift = 0;    // bytes in front of the archive, added to every stored offset
    std::vector<CentralRecord> records;
    std::string comment;
    bool zip64End = false;          // the counts and offsets came from a ZIP64 end record
    size_t zip64Records = 0;        // records that took a value from a ZIP64 block
};

// Throws Failure when the file holds no central directory that reads
// consistently, or one of several disks.
CentralDirectory ReadCentralDirectory(InputFile& file);
// True when the file's tail holds an end of central directory record's
// signature, where ReadCentralDirectory looks for one.
bool HasEndRecord(InputFile& file);

}  // namespace sfx

#endif
