// Writes ZIP entries and the central directory into the output, with every
// offset counted from the start of the self-extracting file.
#ifndef MKSFX_ARCHIVE_WRITER_H
#define MKSFX_ARCHIVE_WRITER_H

#include <string>
#include <vector>

#include "platform.h"
#include "zip_format.h"

namespace sfx {

class ArchiveWriter {
public:
    explicit ArchiveWriter(OutputFile& out) : out_(out) {}

    // Writes the local header as the entry stands now; EndEntry rewrites it
    // once the data is known.
    void BeginEntry(Entry& entry);
    void WriteData(const void* data, size_t count);
    void WriteData(const std::string& bytes) { WriteData(bytes.data(), bytes.size()); }
    // Takes back the data written since BeginEntry.
    void RestartData();
    uint64_t DataWritten() const { return out_.Position() - dataStart_; }
    void EndEntry(const Entry& entry);

    // The central directory and its end record.
    void Finish(const std::string& comment);

private:
    void Reserve(uint64_t count);
    static std::string LocalHeader(const Entry& entry);

    OutputFile& out_;
    uint64_t dataStart_ = 0;
    std::vector<Entry> written_;
};

}  // namespace sfx

#endif
