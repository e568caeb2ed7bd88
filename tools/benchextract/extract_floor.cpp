// The floors that the extraction benchmark measures the stub against: what
// the least extractor of the same files costs under the same Windows (or
// Wine), in the same run.
//
//   sfx-extract-floor write STORED.zip OUT    the files' contents are read into
//       memory first (not timed); then, per folder, CreateDirectoryA, and per
//       file CreateFileA, WriteFile, SetFileTime and CloseHandle
//   sfx-extract-floor copy STORED.zip OUT     the same, with the contents read
//       from the stored archive in 1 MB pieces and each file's CRC-32 checked
//       (zlib): the least an honest extractor does
//   sfx-extract-floor decode DEFLATED.zip     the program's own inflate over
//       every deflated entry, in memory, with its CRC-32: what decoding adds
//
// STORED.zip holds the files uncompressed (zip -0), with their sizes in the
// local headers. Prints "seconds S files N bytes B" for the timed part.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "decode/SFXcrc.h"
#include "decode/SFXinflt.h"
#include "decode/SFXio.h"
#include "startup/SFXstate.h"

namespace {

typedef std::vector<uint8_t> Bytes;

[[noreturn]] void Fail(const std::string& what)
{
    fprintf(stderr, "sfx-extract-floor: %s\n", what.c_str());
    exit(1);
}

uint32_t Little16(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8;
}

uint32_t Little32(const uint8_t* p)
{
    return Little16(p) | Little16(p + 2) << 16;
}

double Now()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return (double)count.QuadPart / (double)frequency.QuadPart;
}

// One local header, as far as a floor needs it.
struct Entry {
    std::string name;
    uint16_t method;
    uint32_t timeDate, crc, size;
};

enum : uint32_t { HeaderSize = 30, LocalSignature = 0x04034B50 };

bool ParseHeader(const uint8_t* header, Entry& entry, uint32_t& nameLength, uint32_t& extraLength)
{
    if (Little32(header) != LocalSignature)
        return false;
    if (Little16(header + 6) & 0x0009)
        Fail("encrypted entries or sizes only in a data descriptor are not for a floor");
    entry.method = (uint16_t)Little16(header + 8);
    entry.timeDate = Little32(header + 10);
    entry.crc = Little32(header + 14);
    entry.size = Little32(header + 18);
    nameLength = Little16(header + 26);
    extraLength = Little16(header + 28);
    return true;
}

Bytes ReadWhole(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        Fail(std::string("cannot open ") + path);
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    Bytes data((size_t)size.QuadPart);
    DWORD got = 0;
    if (!data.empty() && (!ReadFile(file, data.data(), (DWORD)data.size(), &got, 0) || got != data.size()))
        Fail(std::string("cannot read ") + path);
    CloseHandle(file);
    return data;
}

// Writing: one CreateDirectoryA per folder, the four calls per file.
class Writer {
public:
    explicit Writer(const std::string& root) : root_(root) { folders_.insert(""); }

    // Creates the folders above name (and name itself when it ends in "/").
    void Folders(const std::string& name)
    {
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
            std::string folder = name.substr(0, slash);
            if (folders_.insert(folder).second)
                CreateDirectoryA(Path(folder).c_str(), 0);
        }
    }

    HANDLE Open(const std::string& name)
    {
        HANDLE file = CreateFileA(Path(name).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, 0, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, 0);
        if (file == INVALID_HANDLE_VALUE)
            Fail("cannot create " + name);
        return file;
    }

    static void Write(HANDLE file, const uint8_t* data, uint32_t size)
    {
        DWORD written = 0;
        if (size > 0 && (!WriteFile(file, data, size, &written, 0) || written != size))
            Fail("cannot write");
    }

    static void Close(HANDLE file, uint32_t timeDate)
    {
        FILETIME local, utc;
        DosDateTimeToFileTime((WORD)(timeDate >> 16), (WORD)timeDate, &local);
        LocalFileTimeToFileTime(&local, &utc);
        SetFileTime(file, 0, 0, &utc);
        CloseHandle(file);
    }

private:
    std::string Path(std::string name) const
    {
        for (char& c : name)
            if (c == '/')
                c = '\\';
        return root_ + "\\" + name;
    }

    std::string root_;
    std::set<std::string> folders_;
};

struct Totals {
    uint64_t files = 0, bytes = 0;
};

// The entries of an archive in memory.
template <typename Visit> void ForEachEntry(const Bytes& archive, Visit visit)
{
    size_t at = 0;
    Entry entry;
    uint32_t nameLength, extraLength;
    while (at + HeaderSize <= archive.size() && ParseHeader(archive.data() + at, entry, nameLength, extraLength)) {
        size_t data = at + HeaderSize + nameLength + extraLength;
        if (data + entry.size > archive.size())
            Fail("an entry runs past the end of the archive");
        entry.name.assign((const char*)archive.data() + at + HeaderSize, nameLength);
        visit(entry, archive.data() + data);
        at = data + entry.size;
    }
}

Totals WriteFromMemory(const Bytes& archive, const std::string& out)
{
    Writer writer(out);
    Totals totals;
    ForEachEntry(archive, [&](const Entry& entry, const uint8_t* data) {
        if (entry.method != 0)
            Fail("the write floor takes a stored archive");
        writer.Folders(entry.name);
        if (entry.name.back() == '/')
            return;
        HANDLE file = writer.Open(entry.name);
        Writer::Write(file, data, entry.size);
        Writer::Close(file, entry.timeDate);
        totals.files++;
        totals.bytes += entry.size;
    });
    return totals;
}

// Reads a file front to back in pieces of 1 MB.
class PieceReader {
public:
    explicit PieceReader(const char* path) : buffer_(1 << 20)
    {
        file_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
        if (file_ == INVALID_HANDLE_VALUE)
            Fail(std::string("cannot open ") + path);
    }
    ~PieceReader() { CloseHandle(file_); }

    // At least count bytes (count at most a piece) at Data(), unless the
    // file ends first; false then.
    bool Need(size_t count)
    {
        if (end_ - start_ >= count)
            return true;
        memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
        while (end_ < count) {
            DWORD got = 0;
            if (!ReadFile(file_, buffer_.data() + end_, (DWORD)(buffer_.size() - end_), &got, 0) || got == 0)
                return false;
            end_ += got;
        }
        return true;
    }

    const uint8_t* Data() const { return buffer_.data() + start_; }
    size_t Available() const { return end_ - start_; }
    void Skip(size_t count) { start_ += count; }

private:
    HANDLE file_;
    Bytes buffer_;
    size_t start_ = 0, end_ = 0;
};

Totals CopyWithCrc(const char* archive, const std::string& out)
{
    PieceReader reader(archive);
    Writer writer(out);
    Totals totals;
    Entry entry;
    uint32_t nameLength, extraLength;
    while (reader.Need(HeaderSize) && ParseHeader(reader.Data(), entry, nameLength, extraLength)) {
        reader.Skip(HeaderSize);
        if (!reader.Need(nameLength + extraLength))
            Fail("the archive ends inside a header");
        entry.name.assign((const char*)reader.Data(), nameLength);
        reader.Skip(nameLength + extraLength);
        if (entry.method != 0)
            Fail("the copy floor takes a stored archive");
        writer.Folders(entry.name);
        if (entry.name.back() == '/')
            continue;
        HANDLE file = writer.Open(entry.name);
        uint32_t crc = 0;
        for (uint32_t left = entry.size; left > 0;) {
            if (!reader.Need(1))
                Fail("the archive ends inside " + entry.name);
            uint32_t piece = (uint32_t)std::min<size_t>(left, reader.Available());
            crc = (uint32_t)crc32(crc, reader.Data(), piece);
            Writer::Write(file, reader.Data(), piece);
            reader.Skip(piece);
            left -= piece;
        }
        if (crc != entry.crc)
            Fail("CRC-32 differs for " + entry.name);
        Writer::Close(file, entry.timeDate);
        totals.files++;
        totals.bytes += entry.size;
    }
    return totals;
}

// The decoder's outside world for DecodeInMemory: the entry's data in
// memory, the output only counted (the stub writes it; the floors do that).
const uint8_t* InputData;
size_t InputLeft;

Totals DecodeInMemory(const Bytes& archive)
{
    CrcTable = (uint32_t*)AllocateBlock(1028);
    BuildCrcTable();
    Totals totals;
    ForEachEntry(archive, [&](const Entry& entry, const uint8_t* data) {
        if (entry.method != 8)
            return;
        InputData = data;
        InputLeft = entry.size;
        DataRemaining = (int32_t)entry.size;
        RunningCrc = 0xFFFFFFFF;
        EntryHeader.Flags = 0;
        InflateEntry();
        if ((RunningCrc ^ 0xFFFFFFFF) != entry.crc || !EntryDataComplete)
            Fail("our inflate got " + entry.name + " wrong");
        totals.files++;
        totals.bytes += entry.size;
    });
    ReleaseBlock(CrcTable);
    return totals;
}

}  // namespace

int32_t ReadArchive(void* buffer, int32_t count)
{
    size_t n = count > 0 ? std::min<size_t>((size_t)count, InputLeft) : 0;
    memcpy(buffer, InputData, n);
    InputData += n;
    InputLeft -= n;
    return (int32_t)n;
}

int32_t WriteOutput(const void*, int32_t count)
{
    return count;
}

void* AllocateBlock(uint32_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void ReleaseBlock(void* block)
{
    if (block != 0)
        HeapFree(GetProcessHeap(), 0, block);
}

int main(int argc, char** argv)
{
    std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "write" || mode == "copy") && argc == 4) && !(mode == "decode" && argc == 3)) {
        fprintf(stderr, "usage: sfx-extract-floor write|copy STORED.zip OUT | decode DEFLATED.zip\n");
        return 2;
    }
    Totals totals;
    double start;
    if (mode == "copy") {
        CreateDirectoryA(argv[3], 0);
        start = Now();
        totals = CopyWithCrc(argv[2], argv[3]);
    } else {
        Bytes archive = ReadWhole(argv[2]);
        if (mode == "write")
            CreateDirectoryA(argv[3], 0);
        start = Now();
        totals = mode == "write" ? WriteFromMemory(archive, argv[3]) : DecodeInMemory(archive);
    }
    printf("seconds %.4f files %llu bytes %llu\n", Now() - start, (unsigned long long)totals.files,
           (unsigned long long)totals.bytes);
    return 0;
}
