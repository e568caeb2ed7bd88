// The stored copy: chunking, short reads, a short archive, a full disk.
#include <gtest/gtest.h>

#include "memory_io.h"
#include "startup/SFXstate.h"

using namespace memio;

namespace {

TEST(Stored, CopiesInChunksOfAtMost256K)
{
    const int32_t k256 = 256 * 1024;
    struct Case {
        int32_t size;
        std::vector<int32_t> chunks;
    } cases[] = {{0, {}}, {1, {1}}, {k256, {k256}}, {k256 + 1, {k256, 1}}, {600000, {k256, k256, 75712}}};
    for (const Case& c : cases) {
        Bytes data = SampleData((size_t)c.size, 3);
        data.push_back(0xEE);                       // the next entry's first byte
        Reset(data);
        uint32_t crc = RunStored(c.size);
        EXPECT_EQ(io.readRequests, c.chunks) << c.size;
        EXPECT_EQ(io.writeRequests, c.chunks) << c.size;
        EXPECT_EQ(io.output, Bytes(data.begin(), data.end() - 1));
        EXPECT_EQ(crc, ReferenceCrc(io.output));
        EXPECT_EQ(DataRemaining, 0);
        EXPECT_EQ(io.allocations, c.size > 0 ? 1 : 0);
        EXPECT_EQ(io.liveBlocks, 0);
        EXPECT_TRUE(EntryDataComplete) << c.size;
    }
}

TEST(Stored, ShortReadsStillCopyEverything)
{
    Bytes data = SampleData(50000, 4);
    Reset(data);
    io.deliverAtMost = 999;
    EXPECT_EQ(RunStored(), ReferenceCrc(data));
    EXPECT_EQ(io.output, data);
    EXPECT_TRUE(EntryDataComplete);
}

TEST(Stored, ArchiveShorterThanTheEntryEnds)
{
    Bytes data = SampleData(40000, 5);
    Reset(data);
    uint32_t crc = RunStored(100000);
    EXPECT_EQ(io.output, data);
    EXPECT_NE(crc, ReferenceCrc(SampleData(100000, 5)));
    EXPECT_EQ(DataRemaining, 0);
    EXPECT_EQ(io.readDelivered.back(), 0);           // one empty read ends the copy
    EXPECT_EQ(io.liveBlocks, 0);
    EXPECT_FALSE(EntryDataComplete);
}

TEST(Stored, FullDiskLeavesTheCrcShort)
{
    Bytes data = SampleData(70000, 6);
    Reset(data);
    io.acceptAtMost = 40000;
    uint32_t crc = RunStored();
    EXPECT_EQ(io.archivePosition, data.size()) << "the copy runs to the end of the entry";
    EXPECT_EQ(io.output, Bytes(data.begin(), data.begin() + 40000));
    EXPECT_EQ(crc, ReferenceCrc(io.output));
    EXPECT_NE(crc, ReferenceCrc(data));
    EXPECT_FALSE(EntryDataComplete);
}

TEST(Stored, NoMemoryWritesNothing)
{
    Reset(SampleData(1000, 7));
    io.allocationsLeft = 0;
    EXPECT_EQ(RunStored(), 0u);                      // RunningCrc untouched
    EXPECT_TRUE(io.writeRequests.empty());
    EXPECT_FALSE(EntryDataComplete);
}

}  // namespace
