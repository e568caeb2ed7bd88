#include "sources.h"

#include <algorithm>

namespace sfx {

namespace {

// A file's content, read as it is packed.
class FileData : public EntryData {
public:
    explicit FileData(const std::string& path) : file_(path) {}
    size_t Read(uint8_t* buffer, size_t count) override { return file_.ReadSome(buffer, count); }
    void Rewind() override { file_.Rewind(); }

private:
    InputFile file_;
};

}  // namespace

FolderSource::FolderSource(const std::string& folder, const std::string& output)
    : output_(IdentityOf(output)), root_(FinalPath(folder))
{
    std::vector<std::string> ancestors = {IdentityOf(folder)};
    Scan(folder, "", ancestors);
    if (items_.empty())
        throw Failure("the folder " + folder + " is empty; there is nothing to pack");
}

void FolderSource::Scan(const std::string& path, const std::string& prefix, std::vector<std::string>& ancestors)
{
    for (const FolderItem& found : ListFolder(path)) {
        if (!output_.empty() && found.identity == output_)
            continue;
        Item item{prefix + found.name, path + "/" + found.name, found.kind == Kind::Folder, found.size,
                  found.timeDate};
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
        if (item.folder) {
            e.externalAttributes = DosFolderAttribute;
            packer.Folder(e);
        } else {
            packer.Compress(e, std::make_unique<FileData>(item.path), item.size, item.path, packer.Encrypting());
        }
    }
    packer.Finish();
    writer.Finish("");
}

}  // namespace sfx
