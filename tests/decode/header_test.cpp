// The local header reader over archives in memory: sizes from a ZIP64
// extended-information field, steps and positions past 4 GiB, and the data
// descriptors behind ZIP64 entries. All of it is 64-bit arithmetic, which
// the i686 release does without a runtime library.
#include <gtest/gtest.h>

#include "extract/SFXarch.h"
#include "extract/SFXhdr.h"
#include "memory_io.h"
#include "startup/SFXstate.h"

using namespace memio;

namespace {

void Put(Bytes& b, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        b.push_back((uint8_t)(value >> (8 * i)));
}

Bytes Field(uint16_t id, const std::vector<uint64_t>& values, int width = 8)
{
    Bytes f;
    Put(f, id, 2);
    Put(f, values.size() * width, 2);
    for (uint64_t v : values)
        Put(f, v, width);
    return f;
}

// A local header with these sizes, name and extra field, then size bytes
// of data (0x5A), as at the file position the walk reads.
Bytes Entry(uint32_t compressed, uint32_t uncompressed, const std::string& name, const Bytes& extra,
            size_t data)
{
    Bytes e;
    Put(e, 0x04034B50, 4);
    Put(e, 45, 2);
    Put(e, 0, 2);
    Put(e, 0, 2);            // stored
    Put(e, 0, 4);
    Put(e, 0, 4);
    Put(e, compressed, 4);
    Put(e, uncompressed, 4);
    Put(e, name.size(), 2);
    Put(e, extra.size(), 2);
    e.insert(e.end(), name.begin(), name.end());
    e.insert(e.end(), extra.begin(), extra.end());
    e.insert(e.end(), data, 0x5A);
    return e;
}

const uint32_t Marked = 0xFFFFFFFF;
const uint64_t FiveGiB = 5ull << 30;

TEST(Header, TheZip64FieldHoldsOnlyTheMarkedSizesInTheirOrder)
{
    struct Case {
        const char* what;
        uint32_t compressed, uncompressed;  // as the header gives them
        Bytes extra;
        uint64_t expectCompressed, expectUncompressed;
        bool zip64;
    };
    const Bytes other = Field(0x5455, {0x1234}, 4);   // a time field
    Bytes behindOther = other;
    Bytes both = Field(0x0001, {FiveGiB + 1, FiveGiB});
    behindOther.insert(behindOther.end(), both.begin(), both.end());
    const Case cases[] = {
        {"both marked: uncompressed, then compressed", Marked, Marked, both, FiveGiB, FiveGiB + 1, true},
        {"only the uncompressed size", 100, Marked, Field(1, {FiveGiB}), 100, FiveGiB, true},
        {"only the compressed size, first in the field", Marked, 100, Field(1, {FiveGiB}), FiveGiB, 100, true},
        {"a field too short for the second", Marked, Marked, Field(1, {FiveGiB}), Marked, FiveGiB, true},
        {"offset and disk behind the sizes", Marked, Marked, Field(1, {7, 8, 9, 10}), 8, 7, true},
        {"nothing marked: the header's sizes", 100, 200, Field(1, {FiveGiB, FiveGiB}), 100, 200, true},
        {"behind another field", Marked, Marked, behindOther, FiveGiB, FiveGiB + 1, true},
        {"no ZIP64 field", Marked, Marked, other, Marked, Marked, false},
        {"a field that runs past the extra field", Marked, Marked,
         Bytes(both.begin(), both.end() - 1), Marked, Marked, false},
    };
    EnsureCrcTable();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reset(Entry(c.compressed, c.uncompressed, "a.bin", c.extra, 0));
        PrepareExpectedSignature();
        SeekArchive(0, ArchiveFromStart);
        ASSERT_TRUE(ReadLocalHeader());
        EntryName name;
        ReadEntryName(0, name);
        EXPECT_EQ(EntryCompressedSize, c.expectCompressed);
        EXPECT_EQ(EntryUncompressedSize, c.expectUncompressed);
        EXPECT_EQ(EntryIsZip64 != 0, c.zip64);
        EXPECT_EQ(DataRemaining, (int64_t)c.expectCompressed);
        EXPECT_EQ(io.archivePosition, io.archive.size()) << "the reader stands at the entry's data";
    }
}

TEST(Header, StepsAndSizesBeyondFourGiB)
{
    EntryHeader = LocalHeader();
    EntryHeader.NameLength = 5;
    EntryHeader.ExtraLength = 20;
    int64_t next = 0;
    EntryCompressedSize = FiveGiB;
    ASSERT_TRUE(NextHeaderPosition(FiveGiB, next));
    EXPECT_EQ(next, (int64_t)(2 * FiveGiB + 30 + 5 + 20));
    EntryCompressedSize = INT64_MAX - 55;
    EXPECT_TRUE(NextHeaderPosition(0, next));
    EXPECT_EQ(next, INT64_MAX);
    EXPECT_FALSE(NextHeaderPosition(1, next)) << "a step past what a position holds ends the walk";
    EntryCompressedSize = ~0ull;
    EXPECT_FALSE(NextHeaderPosition(0, next));

    // Sizes past 2^63 are out of reach, and no encryption header is taken
    // off them; a 5 GiB encrypted entry's data are 12 bytes fewer.
    EntryHeader.Flags = FlagEncrypted;
    EXPECT_LT(EntryDataSize(), 0);
    EXPECT_TRUE(EntryLacksData());
    EntryCompressedSize = FiveGiB;
    EXPECT_EQ(EntryDataSize(), (int64_t)FiveGiB - 12);
}

TEST(Header, AWalkOverZip64EntriesAndTheirDescriptors)
{
    // A ZIP64 entry whose name is longer than a name the program writes,
    // then a 24-byte descriptor, then an entry without ZIP64 and a 16-byte
    // descriptor, then a last entry: the archive lies past 4 GiB in the
    // file, so every position the walk takes is a 64-bit one.
    const std::string longName(NameBytesMax + 40, 'n');
    Bytes archive = Entry(Marked, Marked, longName, Field(1, {3, 3}), 3);
    Put(archive, 0x08074B50, 4);
    archive.insert(archive.end(), 20, 0);
    Bytes second = Entry(4, 4, "b.txt", {}, 4);
    archive.insert(archive.end(), second.begin(), second.end());
    Put(archive, 0x08074B50, 4);
    archive.insert(archive.end(), 12, 0);
    Bytes third = Entry(1, 1, "c.txt", {}, 1);
    archive.insert(archive.end(), third.begin(), third.end());
    Reset(archive);
    io.fileBase = FiveGiB;
    EnsureCrcTable();

    PrepareExpectedSignature();
    SeekArchive(io.fileBase, ArchiveFromStart);
    std::vector<std::pair<int64_t, uint64_t>> walked;   // header start, compressed size
    EntryName name;
    while (ReadLocalHeader()) {
        int64_t start = LastSeekPosition;
        ReadEntryName(start, name);
        walked.push_back({start - io.fileBase, EntryCompressedSize});
        int64_t next;
        ASSERT_TRUE(NextHeaderPosition(start, next));
        SeekArchive(next, ArchiveFromStart);
    }
    const int64_t first = 30 + (int64_t)longName.size() + 20 + 3, second_ = first + 24 + 30 + 5 + 4;
    EXPECT_EQ(walked, (std::vector<std::pair<int64_t, uint64_t>>{{0, 3}, {first + 24, 4}, {second_ + 16, 1}}));
    EXPECT_TRUE(name.StoredLength == 5 && !name.TooLong);
    EXPECT_EQ(io.strangeSeeks, 0);
}

TEST(Header, AWalkEndsCleanlyOnlyAtARecordThatMayFollowTheLastEntry)
{
    // What follows one whole entry, and whether the walk ends there
    // cleanly; a descriptor in between is passed over either way.
    struct Case {
        const char* what;
        Bytes tail;
        bool clean;
    };
    auto record = [](uint32_t signature, size_t rest) {
        Bytes b;
        Put(b, signature, 4);
        b.insert(b.end(), rest, 0);
        return b;
    };
    Bytes descriptorThenEnd = record(0x08074B50, 12);
    Bytes end = record(0x06054B50, 18);
    descriptorThenEnd.insert(descriptorThenEnd.end(), end.begin(), end.end());
    const Case cases[] = {
        {"central directory", record(0x02014B50, 42), true},
        {"end record", record(0x06054B50, 18), true},
        {"end record cut to its signature", record(0x06054B50, 0), true},
        {"ZIP64 end record", record(0x06064B50, 52), true},
        {"ZIP64 locator", record(0x07064B50, 16), true},
        {"digital signature", record(0x05054B50, 2), true},
        {"archive extra data", record(0x08064B50, 4), true},
        {"a descriptor, then the end record", descriptorThenEnd, true},
        {"the end of the file", {}, false},
        {"the end of the file behind a descriptor", record(0x08074B50, 12), false},
        {"half a signature", {0x50, 0x4B}, false},
        {"junk", {'j', 'u', 'n', 'k', 0, 0, 0, 0}, false},
        {"zeros", Bytes(64, 0), false},
        {"another record's kind behind PK", record(0x09094B50, 26), false},
        {"an end record's kind behind other letters", record(0x06054B51, 18), false},
    };
    EnsureCrcTable();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes archive = Entry(1, 1, "a.txt", {}, 1);
        archive.insert(archive.end(), c.tail.begin(), c.tail.end());
        Reset(archive);
        PrepareExpectedSignature();
        SeekArchive(0, ArchiveFromStart);
        int entries = 0;
        EntryName name;
        while (ReadLocalHeader()) {
            entries++;
            int64_t start = LastSeekPosition;
            ReadEntryName(start, name);
            int64_t next;
            ASSERT_TRUE(NextHeaderPosition(start, next));
            SeekArchive(next, ArchiveFromStart);
        }
        EXPECT_EQ(entries, 1);
        EXPECT_EQ(WalkEndedCleanly, c.clean);
    }
}

}  // namespace
