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
    // once the data is known, in the same length: an entry that may reach
    // 4 GiB must have zip64 set before it begins.
    void BeginEntry(Entry& entry);
    void WriteData(const void* data, size_t count);
    void WriteData(const std::string& bytes) { WriteData(bytes.data(), bytes.size()); }
    // Takes back the data written since BeginEntry.
    void RestartData();
    uint64_t DataWritten() const { return out_.Position() - dataStart_; }
    void EndEntry(const Entry& entry);

    // The central directory and its end record, with ZIP64's end record
    // and locator in front of it when a count, size or offset needs them.
    void Finish(const std::string& comment);

private:
    static std::string LocalHeader(const Entry& entry);

    OutputFile& out_;
    uint64_t dataStart_ = 0;
    std::vector<Entry> written_;
};

}  // namespace sfx

#endif
