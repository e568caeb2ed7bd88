#include "info.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>
#include <zlib.h>

#include "branding.h"
#include "extract/SFXname.h"
#include "names.h"
#include "pe_resources.h"
#include "platform.h"
#include "settings_block.h"
#include "zip_crypto.h"
#include "zip_format.h"
#include "zip_reader.h"

namespace sfx {

namespace {

std::string DateText(uint32_t timeDate)
{
    char text[32];
    uint32_t date = timeDate >> 16, time = timeDate & 0xFFFF;
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), date >> 5 & 15,
                  date & 31, time >> 11, time >> 5 & 63, (time & 31) * 2);
    return text;
}

std::string MethodText(uint16_t method)
{
    if (method == MethodStored)
        return "stored";
    return method == MethodDeflated ? "deflate" : "method " + std::to_string(method);
}

// The extractor's reading of a local header's ZIP64 block: it marks the
// entry as ZIP64, and gives the sizes that the header marks with all ones.
bool TakeZip64Sizes(const std::string& extra, uint64_t& compressed, uint64_t& uncompressed)
{
    int32_t at = 0, size = 0;
    const uint8_t* field = nullptr;
    if (!FindExtraField(reinterpret_cast<const uint8_t*>(extra.data()), (int32_t)extra.size(), ExtraZip64, at, field,
                        size))
        return false;
    int32_t used = 0;
    if (uncompressed == Zip64Marker && size - used >= 8) {
        uncompressed = Get64(field);
        used += 8;
    }
    if (compressed == Zip64Marker && size - used >= 8)
        compressed = Get64(field + used);
    return true;
}

// An entry that the walk found, for the check of its data.
struct Found {
    std::string at;              // its name and offset, for messages
    uint64_t data, compressed, uncompressed;
    uint16_t flags, method;
    uint32_t crc, timeDate;
};

struct Walk {
    std::vector<Found> found;
    int entries = 0;
    int zip64Entries = 0;        // with ZIP64 sizes in their local headers
    uint64_t end = 0;            // where the walk stopped
    std::string endedBy;
    std::vector<std::string> problems;
    bool complete = false;       // the walk ended at a record that ends it normally
};

// The extractor's walk: from the archive's start, header by header, each
// step header + name + extra field + compressed size from the local header,
// over data descriptors, until a record that is not a local header. Sizes
// that read all ones come from the ZIP64 block, which holds those in the
// order of the fields, and such an entry's descriptor has 8-byte sizes.
Walk WalkLocalHeaders(InputFile& file, uint64_t position, FILE* out)
{
    Walk w;
    bool lastZip64 = false;
    if (out)
        std::fprintf(out, "    offset  method       packed        size  modified             crc-32    name, read as\n");
    for (;;) {
        uint8_t h[LocalHeaderSize] = {0};
        uint64_t available = file.Size() > position ? file.Size() - position : 0;
        file.ReadAt(position, h, (size_t)std::min<uint64_t>(available, sizeof h));
        uint32_t signature = available >= 4 ? Get32(h) : 0;
        if (signature == DescriptorSignature) {
            position += lastZip64 ? Zip64DescriptorSize : DescriptorSize;
            continue;
        }
        w.end = position;
        if (signature != LocalSignature && signature != ZeroLocalSignature) {
            w.complete = signature == CentralSignature || available == 0;
            w.endedBy = signature == CentralSignature ? "the central directory"
                        : available == 0             ? "the end of the file"
                                                     : "bytes that are not a ZIP record";
            return w;
        }
        if (available < LocalHeaderSize) {
            w.problems.push_back("the file ends inside the local header at offset " + std::to_string(position));
            w.endedBy = "the end of the file";
            return w;
        }
        uint16_t flags = Get16(h + 6), method = Get16(h + 8), nameSize = Get16(h + 26), extraSize = Get16(h + 28);
        uint64_t compressed = Get32(h + 18), uncompressed = Get32(h + 22);
        uint64_t after = available - LocalHeaderSize;
        std::string bytes(std::min<uint64_t>(nameSize, after), '\0');
        std::string extra(std::min<uint64_t>(extraSize, after - bytes.size()), '\0');
        file.ReadAt(position + LocalHeaderSize, &bytes[0], bytes.size());
        file.ReadAt(position + LocalHeaderSize + bytes.size(), &extra[0], extra.size());
        lastZip64 = TakeZip64Sizes(extra, compressed, uncompressed);
        w.zip64Entries += lastZip64;
        // Read as the extractor reads it; the name ends at a NUL byte.
        EntryName name = ReadZipName(bytes, flags, 0, extra, NameEncoding::Ansi);
        name.text.resize(std::min(name.text.find('\0'), name.text.size()));
        if (out)
            std::fprintf(out, "%10llu  %-9s %9llu %11llu  %s  %08x  %s  %s%s%s%s\n", (unsigned long long)position,
                     MethodText(method).c_str(), (unsigned long long)compressed, (unsigned long long)uncompressed,
                     DateText(Get32(h + 10)).c_str(), Get32(h + 14), Quoted(name).c_str(), name.how,
                     (flags & FlagEncrypted) ? " [encrypted]" : "", (flags & FlagDescriptor) ? " [descriptor]" : "",
                     lastZip64 ? " [zip64]" : "");
        std::string at = "entry " + Quoted(name) + " at offset " + std::to_string(position) + ": ";
        if (name.text.empty()) {
            w.problems.push_back(at + "an empty name stops the extractor (\"Invalid filename.\")");
            w.endedBy = "an entry without a name";
            return w;
        }
        w.entries++;
        std::string problem = NameProblem(name);
        if (!problem.empty())
            w.problems.push_back(at + "the extractor refuses it: it " + problem);
        if (method != MethodStored && method != MethodDeflated)
            w.problems.push_back(at + MethodText(method) + " stops the extraction (\"Unknown compression type\")");
        int64_t data = (int64_t)compressed - ((flags & FlagEncrypted) ? (int64_t)EncryptionHeaderSize : 0);
        if (method == MethodDeflated && data <= 0)
            w.problems.push_back(at + "its local header has no compressed size (it is left to a data "
                                      "descriptor); the extractor cannot extract it");
        else if ((method == MethodStored || method == MethodDeflated) && data >= 0)
            w.found.push_back({at, position + LocalHeaderSize + nameSize + extraSize, compressed, uncompressed, flags,
                               method, Get32(h + 14), Get32(h + 10)});
        position += LocalHeaderSize + nameSize + extraSize + compressed;
    }
}

// What the walk found wrong, and where the central directory disagrees.
std::vector<std::string> WalkAndCompare(InputFile& file, uint64_t base, FILE* out, Walk* result)
{
    Walk walk = WalkLocalHeaders(file, base, out);
    std::vector<std::string> problems = walk.problems;
    if (out)
        std::fprintf(out, "  %d %s; the walk ends at offset %llu, at %s\n", walk.entries,
                 walk.entries == 1 ? "entry" : "entries", (unsigned long long)walk.end, walk.endedBy.c_str());
    if (!walk.complete)
        problems.push_back("the walk stops at offset " + std::to_string(walk.end) + ", at " + walk.endedBy);
    if (walk.entries == 0)
        problems.push_back("the extractor finds no entry (\"There was an error reading the Archive.\")");

    std::vector<std::string> zip64;
    if (walk.zip64Entries > 0)
        zip64.push_back(std::to_string(walk.zip64Entries) + " local " + (walk.zip64Entries == 1 ? "header" : "headers"));
    try {
        CentralDirectory cd = ReadCentralDirectory(file);
        if (out)
            std::fprintf(out, "  central directory at offset %llu: %zu entries\n", (unsigned long long)cd.start,
                         cd.records.size());
        if (cd.zip64Records > 0)
            zip64.push_back(std::to_string(cd.zip64Records) + " central " + (cd.zip64Records == 1 ? "record" : "records"));
        if (cd.zip64End)
            zip64.push_back("the end record");
        if (cd.records.size() != (size_t)walk.entries || walk.end != cd.start)
            problems.push_back("the central directory lists " + std::to_string(cd.records.size())
                               + " entries at offset " + std::to_string(cd.start) + "; the walk reaches "
                               + std::to_string(walk.entries) + " and ends at offset " + std::to_string(walk.end));
    } catch (const Failure& f) {
        if (out)
            std::fprintf(out, "  central directory: %s\n", f.what());
    }

    if (out && !zip64.empty()) {
        std::string used;
        for (size_t i = 0; i < zip64.size(); i++)
            used += (i == 0 ? "" : i + 1 == zip64.size() ? " and " : ", ") + zip64[i];
        std::fprintf(out, "  ZIP64: used by %s\n", used.c_str());
    }
    if (result)
        *result = walk;
    return problems;
}


const size_t CheckChunk = 1 << 20;

// Why an entry's data is not what its header says, or "" when it decodes
// to its size and CRC-32. Encrypted data is decrypted with the password.
std::string DataProblem(InputFile& file, const Found& f, const std::string& password)
{
    std::vector<uint8_t> input(CheckChunk), output(CheckChunk);
    uint64_t at = f.data, left = f.compressed;
    ZipCipher cipher(password);
    bool encrypted = f.flags & FlagEncrypted;
    if (encrypted) {
        uint8_t header[EncryptionHeaderSize];
        file.ReadAt(at, header, sizeof header);
        at += sizeof header;
        left -= sizeof header;
        // With flag bit 3 the check byte is the time's high byte.
        uint8_t check = (f.flags & FlagDescriptor) ? (uint8_t)(f.timeDate >> 8) : (uint8_t)(f.crc >> 24);
        if (!cipher.Open(header, check))
            return "the password does not open it";
    }
    z_stream z{};
    bool deflated = f.method == MethodDeflated;
    if (deflated && inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return "zlib cannot start inflating";
    uLong crc = crc32(0, nullptr, 0);
    uint64_t size = 0;
    bool ended = !deflated;
    std::string problem;
    while (left > 0 && problem.empty()) {
        size_t n = (size_t)std::min<uint64_t>(left, input.size());
        file.ReadAt(at, input.data(), n);
        at += n;
        left -= n;
        if (encrypted)
            cipher.Decrypt(input.data(), n);
        if (!deflated) {
            crc = crc32(crc, input.data(), (uInt)n);
            size += n;
            continue;
        }
        z.next_in = input.data();
        z.avail_in = (uInt)n;
        while (z.avail_in > 0 && !ended && problem.empty()) {
            z.next_out = output.data();
            z.avail_out = (uInt)output.size();
            int result = inflate(&z, Z_NO_FLUSH);
            size_t produced = output.size() - z.avail_out;
            crc = crc32(crc, output.data(), (uInt)produced);
            size += produced;
            if (result == Z_STREAM_END)
                ended = true;
            else if (result != Z_OK)
                problem = "its deflate data does not decode";
        }
        if (ended && (z.avail_in > 0 || left > 0))
            problem = "its deflate data ends before its compressed size";
    }
    if (deflated)
        inflateEnd(&z);
    if (!problem.empty())
        return problem;
    if (!ended)
        return "its deflate data is cut short";
    if (size != f.uncompressed)
        return "it decodes to " + std::to_string(size) + " bytes, not the " + std::to_string(f.uncompressed)
               + " its header says";
    if (crc != f.crc)
        return "its data does not match its CRC-32";
    return "";
}

// Decodes every entry the walk found, on every processor, each thread with
// a file of its own, and adds each failure to the problems.
void CheckData(const std::string& path, const std::vector<Found>& found, const std::string& password,
               std::vector<std::string>& problems, FILE* out)
{
    std::vector<std::string> results(found.size());
    size_t next = 0, unchecked = 0;
    std::mutex lock;
    std::string failed;
    auto work = [&] {
        try {
            InputFile file(path);
            for (;;) {
                size_t i;
                {
                    std::lock_guard<std::mutex> held(lock);
                    if (next == found.size() || !failed.empty())
                        return;
                    i = next++;
                }
                results[i] = DataProblem(file, found[i], password);
            }
        } catch (const Failure& f) {
            std::lock_guard<std::mutex> held(lock);
            failed = f.what();
        }
    };
    for (const Found& f : found)
        unchecked += (f.flags & FlagEncrypted) && password.empty();
    std::vector<std::thread> threads;
    size_t count = std::min<size_t>((size_t)std::max(1, ProcessorCount()), std::max<size_t>(1, found.size()));
    for (size_t t = 0; t < count; t++)
        threads.emplace_back(work);
    for (std::thread& thread : threads)
        thread.join();
    if (!failed.empty())
        throw Failure(failed);
    size_t bad = 0;
    for (size_t i = 0; i < found.size(); i++) {
        if ((found[i].flags & FlagEncrypted) && password.empty())
            continue;
        if (!results[i].empty()) {
            problems.push_back(found[i].at + results[i]);
            bad++;
        }
    }
    if (out == nullptr)
        return;
    size_t checked = found.size() - unchecked;
    std::string line = "  data: ";
    if (checked > 0)
        line += std::to_string(checked - bad) + " of " + std::to_string(checked) + (checked == 1 ? " entry" : " entries")
                + " decode to their size and CRC-32";
    if (unchecked > 0)
        line += std::string(checked > 0 ? "; " : "") + std::to_string(unchecked) + " encrypted "
                + (unchecked == 1 ? "entry" : "entries") + " not checked (--password checks "
                + (unchecked == 1 ? "it)" : "them)");
    if (!found.empty())
        std::fprintf(out, "%s\n", line.c_str());
}

}  // namespace

std::vector<std::string> WalkProblems(InputFile& file, uint64_t base, FILE* out)
{
    return WalkAndCompare(file, base, out, nullptr);
}

int ShowInfo(const std::string& path, FILE* out, const std::string& password)
{
    InputFile file(path);
    std::fprintf(out, "%s\n", path.c_str());
    std::string headers((size_t)std::min<uint64_t>(file.Size(), StubHeadersSize), '\0');
    file.ReadAt(0, &headers[0], headers.size());
    if (headers.compare(0, 2, "MZ") != 0) {
        std::fprintf(out, "  not a self-extracting file: it does not begin with a Windows program\n");
        return 1;
    }
    // Where the extractor finds its settings block: the end of its image,
    // at least StubSizeMin.
    uint64_t stubLength = StubLength(headers);
    if (file.Size() < stubLength) {
        std::fprintf(out, "  not a self-extracting file: it ends at offset %llu, inside its %llu-byte extractor\n",
                     (unsigned long long)file.Size(), (unsigned long long)stubLength);
        return 1;
    }
    std::fprintf(out, "  extractor: %llu bytes (its image ends at offset %llu)\n", (unsigned long long)stubLength,
                 (unsigned long long)ImageEnd(headers));

    std::string stub((size_t)stubLength, '\0');
    file.ReadAt(0, &stub[0], stub.size());
    ShowBranding(stub, out);

    std::string behind((size_t)std::min<uint64_t>(file.Size() - stubLength, 7 + 3 * 255), '\0');
    file.ReadAt(stubLength, &behind[0], behind.size());
    Settings s = DecodeSettings(behind);
    uint64_t base = stubLength;
    std::vector<std::string> problems;
    if (!s.present) {
        std::fprintf(out, "  settings: none at offset %llu; the extractor shows its defaults\n",
                     (unsigned long long)stubLength);
    } else {
        base += SettingsBlockSize;
        std::fprintf(out, "  settings at offset %llu: flags 0x%02X: %s\n", (unsigned long long)stubLength, s.flags,
                     DescribeFlags(s.flags).c_str());
        // Each as the extractor reads it: UTF-8 under flag bit 5, else bytes.
        auto text = [&](const char* label, const std::string& value, const char* note) {
            const char* how = TextReading(value, s.flags);
            std::fprintf(out, "    %-7s %s  %s%s\n", label, Quoted(value, std::string(how) == "ansi bytes").c_str(),
                         how, note);
        };
        text("title", s.title, "");
        text("folder", s.folder, s.folder == TemporaryFolderToken ? " (the temporary folder)" : "");
        text("run", s.run, "");
        if (s.title.size() + s.folder.size() + s.run.size() > SettingsBlockSize - 7)
            problems.push_back("the settings texts run past the settings block into the archive");
    }

    std::fprintf(out, "  archive at offset %llu:\n", (unsigned long long)base);
    Walk walk;
    std::vector<std::string> found = WalkAndCompare(file, base, out, &walk);
    problems.insert(problems.end(), found.begin(), found.end());
    CheckData(path, walk.found, password, problems, out);

    for (const std::string& p : problems)
        std::fprintf(out, "  ! %s\n", p.c_str());
    std::fprintf(out, problems.empty() ? "  the extractor gets through every entry\n"
                                       : "  the extractor would not get through this file\n");
    return problems.empty() ? 0 : 1;
}

}  // namespace sfx
