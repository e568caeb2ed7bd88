// What goes into the archive: the files of a folder, or the entries of a
// ZIP archive. Both check everything they can when they are made, before
// any output exists, and write their entries through an ArchiveWriter.
#ifndef MKSFX_SOURCES_H
#define MKSFX_SOURCES_H

#include <memory>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "entry_packer.h"
#include "names.h"
#include "platform.h"
#include "zip_format.h"

namespace sfx {

class Source {
public:
    virtual ~Source() = default;
    // The entries, then the central directory.
    virtual void Write(ArchiveWriter& writer, EntryPacker& packer) = 0;
    virtual size_t EntryCount() const = 0;
    // The entries' content, before compression, for the progress line.
    virtual uint64_t ContentSize() const { return 0; }
};

// A folder's files and sub-folders, named relative to it with "/", in name
// order, every folder before its contents, names in UTF-8. Files are
// deflated, or stored when deflating does not make them smaller, and
// encrypted when the packer is given a password. An existing output that
// is one of the files (the same file, by identity) is refused. A symbolic
// link stands for what it leads to when that lies inside the folder, and
// is refused otherwise.
class FolderSource : public Source {
public:
    // One folder: its contents. Several files and folders, or one file:
    // each under its own name, a folder with its contents.
    FolderSource(const std::vector<std::string>& inputs, const std::string& output);
    void Write(ArchiveWriter& writer, EntryPacker& packer) override;
    size_t EntryCount() const override { return items_.size(); }
    uint64_t ContentSize() const override;

private:
    struct Item {
        std::string name, path;
        bool folder;
        uint64_t size;
        uint32_t timeDate;
        int64_t modified;
    };
    void Scan(const std::string& path, const std::string& prefix, std::vector<std::string>& ancestors);

    std::vector<Item> items_;
    NameSet names_;
    std::string output_;    // the output's identity, when it exists
    std::string outputName_;
    std::string root_;      // the folder's final path, which links must stay inside
};

// The entries of a ZIP archive, their compressed data copied as it is and
// checked against its CRC-32, with fresh headers and names as the archive
// means them (see ReadZipName). Folders marked by their attributes alone
// become folder entries; symbolic links are refused. With recompress,
// stored and deflated entries are decoded and compressed anew instead.
// With a password, the entries not yet encrypted are encrypted; those that
// are stay as they are.
class ZipSource : public Source {
public:
    ZipSource(const std::string& path, NameEncoding encoding, bool recompress, const std::string& password);
    void Write(ArchiveWriter& writer, EntryPacker& packer) override;
    size_t EntryCount() const override { return items_.size(); }
    uint64_t ContentSize() const override;
    // True when a password given would encrypt some entry.
    bool EncryptsAny() const;

private:
    struct Item {
        Entry entry;
        std::string label;       // the name as the archive has it, for messages
        uint64_t dataOffset;
        bool folder;
        bool encrypt;            // to be encrypted here
    };
    void CopyData(const Item& item, bool checked, ArchiveWriter& writer);

    InputFile file_;
    std::vector<Item> items_;
    std::string comment_;
    NameSet names_;
    bool recompress_;
    ZipCipher cipher_;
};

// The bytes of a file as they are, unchecked, with no directory of ours.
class RawSource : public Source {
public:
    explicit RawSource(const std::string& path) : file_(path) {}
    void Write(ArchiveWriter& writer, EntryPacker& packer) override;
    size_t EntryCount() const override { return 0; }

private:
    InputFile file_;
};

}  // namespace sfx

#endif
