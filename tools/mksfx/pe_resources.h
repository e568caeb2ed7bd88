// The extractor's PE image as mksfx changes it: its resources read into a
// list and written back as a new resource section, and the PE checksum.
// The resource section must be the image's last section, so that it can
// change size without moving anything else. The extractor's length follows
// from its image (StubLength): the settings block and the archive begin
// where the image ends, or at StubSizeMin when it ends sooner.
#ifndef MKSFX_PE_RESOURCES_H
#define MKSFX_PE_RESOURCES_H

#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

namespace sfx {

enum : uint16_t {
    ResourceIcon = 3,
    ResourceGroupIcon = 14,
    ResourceVersion = 16,
};

// A type or name in the resource directory: a number, or a name in UTF-16.
struct ResourceKey {
    bool isId = true;
    uint16_t id = 0;
    std::u16string name;
};

// The directory's order, in which the loader searches: names before
// numbers, names by their UTF-16 code units, numbers ascending.
bool operator<(const ResourceKey& a, const ResourceKey& b);
bool operator==(const ResourceKey& a, const ResourceKey& b);
std::string KeyText(const ResourceKey& key);  // "#14" or the name

struct Resource {
    ResourceKey type, name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::string data;
};

class PeImage {
public:
    // Throws Failure when the bytes are no PE image whose resources can be
    // rebuilt; `label` names the file in messages.
    PeImage(const std::string& bytes, const std::string& label);

    // In directory order.
    std::vector<Resource> Resources() const;
    // The image with its resource section rebuilt from `resources`, at
    // whatever size they take, padded to StubLength. Section table, resource
    // directory entry, image size and the size of initialised data follow;
    // the checksum field is left to whoever writes the whole file.
    std::string WithResources(const std::vector<Resource>& resources) const;

private:
    std::string bytes_, label_;
    size_t optional_ = 0;          // file offset of the optional header
    size_t sectionTable_ = 0;
    unsigned sectionCount_ = 0;
    unsigned resourceSection_ = 0; // index of the section that holds the resources
    uint32_t fileAlignment_ = 0, sectionAlignment_ = 0;
    uint32_t resourceRva_ = 0, resourceOffset_ = 0, resourceSize_ = 0;
    size_t directories_ = 0;       // file offset of the data directories
};

// Where a PE image's data end in its file: the furthest end of a section's
// data; 0 when `bytes` do not begin with a PE image's headers. `bytes` may
// be the file's first bytes only (its headers).
uint64_t ImageEnd(const std::string& bytes);

// The extractor's length in a file that begins with it: ImageEnd, but at
// least StubSizeMin. The extractor finds its settings block there.
uint64_t StubLength(const std::string& bytes);

// How many of a file's first bytes hold every PE header that ImageEnd reads.
constexpr size_t StubHeadersSize = 4096;

// File offset of the checksum field of a PE image, or 0 when `bytes` do not
// begin with one.
size_t ChecksumFieldOffset(const std::string& bytes);

// The PE checksum of a whole file, as the system's CheckSumMappedFile
// computes it: 16-bit words added with their carries folded back, the
// checksum field itself left out, plus the file's length.
class PeChecksum {
public:
    explicit PeChecksum(uint64_t fieldOffset) : field_(fieldOffset) {}
    void Add(const void* data, size_t count);
    uint32_t Finish() const;

private:
    uint64_t field_, position_ = 0;
    uint64_t sum_ = 0;
};

// The checksum of the first `length` bytes of a file, taken as the whole.
uint32_t FileChecksum(InputFile& file, uint64_t fieldOffset, uint64_t length);

}  // namespace sfx

#endif
