// Fuzz target: the walk over an archive's local entries, as the program
// walks its own file, over bytes in memory: the header reader (with its
// data-descriptor skipping), the name reader, the step to the next header,
// the name check, and for each entry that the program would write, the
// password check and the decoder that the program would call. The first
// byte picks the setting (short reads in the decoders, a full disk, whether
// a password is remembered); the rest is the archive, which starts where
// the stub ends.
//
// Besides the sanitizers, every run checks what the program relies on: the
// walk only moves forward, so it ends; the name reader leaves the file at
// the entry's data; an accepted name cannot leave the destination folder;
// a decoder reads nothing beyond its entry, leaves no block allocated and
// runs the CRC over exactly what the output accepted, so an entry whose
// output was cut short can never pass its CRC check by mistake.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "decode/SFXcrc.h"
#include "decode/SFXcrypt.h"
#include "decode/SFXinflt.h"
#include "decode/SFXstore.h"
#include "extract/SFXarch.h"
#include "extract/SFXhdr.h"
#include "extract/SFXname.h"
#include "extract/SFXpath.h"
#include "memory_io.h"
#include "startup/SFXstate.h"

using namespace memio;

enum : uint32_t { FileBase = StubSizeMin };   // the archive starts behind the stub

static void Check(bool condition, const char* what)
{
    if (!condition) {
        fprintf(stderr, "broken: %s\n", what);
        abort();
    }
}

static int64_t FilePosition()
{
    return (int64_t)FileBase + (int64_t)io.archivePosition;
}

// How Windows resolves a relative name below a folder, told apart from the
// program's own rule: "." stays, a component of dots and blanks may count as
// "..", a leading separator or a ":" leaves the folder's tree.
static bool ResolvesInside(const NameUnit* name)
{
    if (name[0] == '\\' || name[0] == '/')
        return false;
    for (const NameUnit* p = name; *p != 0; p++)
        if (*p == ':')
            return false;
    int depth = 0;
    const NameUnit* p = name;
    while (*p != 0) {
        const NameUnit* end = p;
        while (*end != 0 && *end != '\\' && *end != '/')
            end++;
        size_t length = (size_t)(end - p);
        size_t kept = length;
        while (kept > 0 && (p[kept - 1] == '.' || p[kept - 1] == ' '))
            kept--;
        bool single = length == 1 && p[0] == '.';
        if (length > 0 && !single) {
            if (kept == 0) {
                if (--depth < 0)
                    return false;
            } else {
                depth++;
            }
        }
        p = *end != 0 ? end + 1 : end;
    }
    return true;
}

// The folder creation climbs through ParentLength until a path does not get
// shorter; every step must be shorter than the last.
static void CheckParentsOf(const NameUnit* name)
{
    NameUnit path[PathTextSize];
    if (!CopyText(path, PathTextSize, u"C:\\dest\\") || !AppendText(path, PathTextSize, name))
        return;
    SlashesToBackslashes(path);
    int32_t length = StrLength(path);
    for (int steps = 0;; steps++) {
        Check(steps <= PathTextSize, "the parent search does not end");
        int32_t parent = ParentLength(path, length);
        Check(parent >= 0 && parent <= length, "a parent outside the path");
        if (parent >= length || parent < 3)
            return;
        length = parent;
        path[length] = 0;
    }
}

struct Setting {
    int32_t delivery;      // the decoders' reads deliver at most this much (0: all)
    bool fullDisk;
    bool remembered;       // a password is known before the first entry
    int64_t diskLeft;      // bytes the disk still takes, when full
};

// What ExtractEntry does with the entry's data once the name is accepted.
// False: the walk ends here (unknown method, password refused).
static bool ExtractLikeTheProgram(Setting& setting)
{
    uint16_t method = EntryHeader.Method;
    if (method != MethodStored && method != MethodDeflated)
        return false;
    bool encrypted = (EntryHeader.Flags & FlagEncrypted) != 0;
    int64_t size = EntryDataSize();

    if (encrypted) {
        uint8_t block[2 * EncryptionHeaderSize] = {0};
        ReadArchive(block, EncryptionHeaderSize);
        memcpy(block + EncryptionHeaderSize, block, EncryptionHeaderSize);
        // The remembered password first, then up to three typed ones.
        static const char* const typed[] = {"", "wrong", "fuzz"};
        bool accepted = setting.remembered
            && CheckPassword(block, EncryptionHeaderSize, EntryHeader.Flags, EntryHeader.Crc32,
                             EntryHeader.TimeDate, "fuzz");
        for (const char* password : typed)
            if (!accepted)
                accepted = CheckPassword(block, EncryptionHeaderSize, EntryHeader.Flags, EntryHeader.Crc32,
                                         EntryHeader.TimeDate, password);
        if (!accepted)
            return false;
    }
    // An entry whose sizes only a data descriptor knows fails without a
    // decoder; a stored one claiming no data has its descriptor looked at.
    if (EntryLacksData())
        return true;

    io.output.clear();
    io.readRequests.clear();
    io.writeRequests.clear();
    io.acceptAtMost = setting.fullDisk ? setting.diskLeft : -1;
    io.deliverAtMost = setting.delivery;
    int64_t start = FilePosition();
    int64_t blocksBefore = io.liveBlocks;
    RunningCrc = 0xFFFFFFFF;
    DataRemaining = size;
    if (method == MethodStored)
        CopyStoredEntry();
    else
        InflateEntry();

    // The entry's bytes as the archive holds them (fewer where it is cut).
    size_t from = (size_t)(start - FileBase);
    size_t available = size > 0 && from < io.archive.size()
                     ? (io.archive.size() - from < (size_t)size ? io.archive.size() - from : (size_t)size) : 0;
    Bytes entryData(io.archive.begin() + (ptrdiff_t)from, io.archive.begin() + (ptrdiff_t)(from + available));

    Check(io.liveBlocks == blocksBefore, "a decoder block is still allocated");
    Check(FilePosition() - start <= (size > 0 ? size : 0), "read beyond the entry's data");
    int32_t chunk = method == MethodStored ? StoredChunkSize : (int32_t)InputChunkSize;
    for (int32_t request : io.readRequests)
        Check(request > 0 && request <= chunk, "read request size");
    Check((RunningCrc ^ 0xFFFFFFFF) == ReferenceCrc(io.output), "CRC over other bytes than the output took");
    if (method == MethodStored)
        Check(io.output.size() <= (size_t)(size > 0 ? size : 0), "a stored entry grew");
    // Whole means whole: a cut stored entry or a full disk never passes as
    // complete, and a deflate stream that zlib decodes to its end is
    // complete, with zlib's output. (The other way round they differ where
    // the format leaves it open, as with distances before the first byte;
    // the CRC judges those.)
    if (EntryDataComplete && method == MethodStored) {
        Check(available == (size_t)(size > 0 ? size : 0), "complete, but the archive was cut");
        if (!encrypted)
            Check(io.output == entryData, "complete, but the stored copy differs");
    }
    int64_t requested = 0;
    for (int32_t request : io.writeRequests)
        requested += request;
    if ((int64_t)io.output.size() < requested)
        Check(!EntryDataComplete, "complete, but the disk took only part of it");
    if (method == MethodDeflated && !encrypted && !setting.fullDisk) {
        bool zlibComplete;
        Bytes reference = ZlibInflate(entryData, zlibComplete);
        if (zlibComplete) {
            Check(EntryDataComplete, "a stream that zlib decodes whole is taken as incomplete");
            Check(io.output == reference, "the output differs from zlib's");
        }
    }
    if (setting.fullDisk)
        setting.diskLeft -= (int64_t)io.output.size();
    io.output.clear();
    io.deliverAtMost = 0;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 150000)
        return 0;
    const uint8_t mode = data[0];
    static const int32_t deliveries[4] = {0, 1, 7, 4096};
    Setting setting;
    setting.delivery = deliveries[mode & 3];
    setting.fullDisk = (mode & 4) != 0;
    setting.remembered = (mode & 8) != 0;
    setting.diskLeft = (int64_t)(size - 1) * ((mode >> 4) & 3);   // a disk of 0 to 3 times the archive

    // Headers and names are read whole, as from a file, where only the end
    // of the file cuts a read short; the decoders also meet short reads.
    Reset(Bytes(data + 1, data + size));
    io.fileBase = FileBase;
    EnsureCrcTable();
    EntryHeader = LocalHeader();
    ArchiveBase = FileBase;

    // The walk of ProcessArchive, with the entry steps of ExtractEntry.
    PrepareExpectedSignature();
    SeekArchive((int32_t)ArchiveBase, ArchiveFromStart);
    EntryName* name = (EntryName*)AllocateBlock(sizeof(EntryName));
    int64_t previousStart = -1;
    int32_t entries = 0;
    while (ReadLocalHeader()) {
        int64_t headerStart = LastSeekPosition;
        Check(headerStart > previousStart, "the walk went back");
        Check(headerStart >= (int64_t)ArchiveBase, "a header in front of the archive");
        previousStart = headerStart;
        entries++;

        ReadEntryName(headerStart, *name);
        Check(name->StoredLength == StrLength(name->Stored) && name->StoredLength <= NameBytesMax,
              "a name longer than its buffer");
        Check(!(EntryHeader.NameLength > NameBytesMax) || name->TooLong, "a long name not told apart");
        Check(StrLength(name->Units) <= NameUnitsMax, "a name (or what is shown of one) longer than its buffer");
        int64_t dataStart = (int64_t)headerStart + LocalHeaderSize + EntryHeader.NameLength + EntryHeader.ExtraLength;
        int64_t fileEnd = (int64_t)FileBase + (int64_t)io.archive.size();
        Check(FilePosition() == (dataStart < fileEnd ? dataStart : fileEnd),
              "the name reader left the file elsewhere than at the data");
        if (name->Stored[0] == 0)
            break;                                    // "Invalid filename."
        if (!name->TooLong && name->Decoded && EntryNameFault(name->Units) == NameFine) {
            Check(ResolvesInside(name->Units), "an accepted name leaves the folder");
            CheckParentsOf(name->Units);
            if (!ExtractLikeTheProgram(setting))
                break;
        }
        int64_t next;
        if (!NextHeaderPosition(headerStart, next))
            break;
        Check(next > headerStart, "the next header is not further on");
        SeekArchive(next, ArchiveFromStart);
    }
    Check(io.strangeSeeks == 0, "a seek from another origin, or in front of the archive");
    Check(entries <= (int32_t)(size / 16) + 1, "more entries than the archive can hold");
    ReleaseBlock(name);
    Check(io.liveBlocks == 0, "a block is still allocated");
    return 0;
}
