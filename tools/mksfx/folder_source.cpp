#include "sources.h"

#include <algorithm>

namespace sfx {

namespace {

// A file's content, read as it is packed, and refused when its size or
// last write time is no longer what the listing saw: a file cut short or
// grown while it was read would be stored as content that never existed.
class FileData : public EntryData {
public:
    FileData(const std::string& path, uint64_t size, int64_t modified)
        : file_(path), size_(size), modified_(modified)
    {
    }
    size_t Read(uint8_t* buffer, size_t count) override { return file_.ReadSome(buffer, count); }
    void Rewind() override { file_.Rewind(); }
    void CheckUnchanged() override
    {
        uint64_t size;
        int64_t modified;
        file_.Status(size, modified);
        if (size != size_ || modified != modified_)
            throw Failure(file_.Path() + " changed while mksfx read it ("
                          + (size != size_ ? std::to_string(size_) + " bytes when listed, " + std::to_string(size) + " now"
                                           : std::string("written to since it was listed"))
                          + "); pack it again once nothing writes to it");
    }

private:
    InputFile file_;
    uint64_t size_;
    int64_t modified_;
};

}  // namespace

// The name a path's last part gives it, "." and ".." resolved.
static std::string OwnName(const std::string& path)
{
    std::string trimmed = path;
    while (trimmed.size() > 1 && (trimmed.back() == '/' || trimmed.back() == '\\'))
        trimmed.pop_back();
    size_t slash = trimmed.find_last_of("/\\");
    std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        std::string final = FinalPath(path);
        slash = final.find_last_of("/\\");
        name = slash == std::string::npos ? final : final.substr(slash + 1);
    }
    return name;
}

FolderSource::FolderSource(const std::vector<std::string>& inputs, const std::string& output)
    : output_(IdentityOf(output)), outputName_(output)
{
    if (inputs.size() == 1 && KindOf(inputs[0]) == Kind::Folder) {
        root_ = FinalPath(inputs[0]);
        std::vector<std::string> ancestors = {IdentityOf(inputs[0])};
        Scan(inputs[0], "", ancestors);
        if (items_.empty())
            throw Failure("the folder " + inputs[0] + " is empty; there is nothing to pack");
        return;
    }
    // Several inputs, or one file: each under its own name.
    for (const std::string& input : inputs) {
        FolderItem found;
        if (!Describe(input, found))
            throw Failure("cannot find " + input);
        if (found.kind != Kind::File && found.kind != Kind::Folder)
            throw Failure(input + " is neither a file nor a folder");
        if (!output_.empty() && found.identity == output_)
            throw Failure(outputName_ + " is one of the inputs (" + input
                          + "); mksfx would replace it with its output, and it would be lost");
        Item item{OwnName(input), input, found.kind == Kind::Folder, found.size, found.timeDate, found.modified};
        if (item.folder)
            item.name += '/';
        EntryName name{item.name};
        std::string problem = NameProblem(name);
        if (!problem.empty())
            throw Failure(input + ": entry " + Quoted(name) + " " + problem);
        names_.Add(name);
        items_.push_back(item);
        if (item.folder) {
            root_ = FinalPath(input);
            std::vector<std::string> ancestors = {found.identity};
            Scan(input, item.name, ancestors);
        }
    }
}

void FolderSource::Scan(const std::string& path, const std::string& prefix, std::vector<std::string>& ancestors)
{
    for (const FolderItem& found : ListFolder(path)) {
        if (!output_.empty() && found.identity == output_)
            throw Failure(outputName_ + " is one of the files being packed (" + path + "/" + found.name
                          + "); mksfx would replace it with its output, and it would be lost");
        Item item{prefix + found.name, path + "/" + found.name, found.kind == Kind::Folder, found.size,
                  found.timeDate, found.modified};
        if (found.link) {
            // A link would land as a file holding its target's path; what
            // it leads to is packed instead, if that is part of the folder.
            std::string target = FinalPath(item.path);
            if (found.kind == Kind::Missing || target.empty())
                throw Failure(item.path + " is a symbolic link that leads nowhere (to nothing, or around a loop)");
            if (!PathInside(target, root_))
                throw Failure(item.path + " is a symbolic link to " + target + ", outside the folder being packed");
        }
        if (found.kind != Kind::File && found.kind != Kind::Folder)
            throw Failure(item.path + " is neither a file nor a folder");
        if (item.folder)
            item.name += '/';
        // Not a separator where the file comes from, but one to the extractor.
        if (found.name.find('\\') != std::string::npos)
            throw Failure(item.path + " has '\\' in its name, which Windows reads as a folder separator");
        EntryName name{item.name};
        std::string problem = NameProblem(name);
        if (!problem.empty())
            throw Failure(item.path + ": entry " + Quoted(name) + " " + problem);
        names_.Add(name);
        items_.push_back(item);
        if (item.folder) {
            if (!found.identity.empty()
                && std::find(ancestors.begin(), ancestors.end(), found.identity) != ancestors.end())
                throw Failure(item.path + " leads back to a folder that holds it");
            ancestors.push_back(found.identity);
            Scan(item.path, item.name, ancestors);
            ancestors.pop_back();
        }
    }
}

uint64_t FolderSource::ContentSize() const
{
    uint64_t size = 0;
    for (const Item& item : items_)
        size += item.size;
    return size;
}

void FolderSource::Write(ArchiveWriter& writer, EntryPacker& packer)
{
    for (const Item& item : items_) {
        Entry e;
        e.name = item.name;
        e.timeDate = item.timeDate;
        e.flags = NameFlags(EntryName{e.name});
        e.versionMadeBy = MadeByWindows;
        if (item.folder) {
            e.externalAttributes = DosFolderAttribute;
            packer.Folder(e);
        } else {
            packer.Compress(e, std::make_unique<FileData>(item.path, item.size, item.modified), item.size, item.path,
                            packer.Encrypting());
        }
    }
    packer.Finish();
    writer.Finish("");
}

}  // namespace sfx
