// The stub's i686 decoders under qemu-i386: a freestanding Linux program
// (no C library; system calls through int 0x80) that runs InflateEntry over
// packed streams, as the program runs it, and checks each CRC. Built by
// mingw like the stub and linked with the stub's own objects by
// scripts/bench-i686, which counts the instructions it executes.
//
// Usage: harness STREAMS [table]   (table: the CRC without PCLMULQDQ; only
// for decoders that fold it, built with SFX_HARNESS_CARRYLESS)
// STREAMS holds, per stream, three little-endian 32-bit words (compressed
// size, size, CRC-32) and the raw deflate stream.
#include <stddef.h>
#include <stdint.h>

#include "decode/SFXcrc.h"
#include "decode/SFXinflt.h"
#include "decode/SFXio.h"
#include "startup/SFXstate.h"

extern "C" void* memcpy(void* dest, const void* src, size_t count);   // the stub's (startup/SFXrt.cpp)
extern "C" void* memset(void* dest, int value, size_t count);

static long SystemCall(long number, long a, long b, long c)
{
    long result;
    __asm__ volatile("int $0x80" : "=a"(result) : "a"(number), "b"(a), "c"(b), "d"(c) : "memory");
    return result;
}

static uint8_t Streams[64u << 20];
static uint8_t Heap[8u << 20];
static size_t HeapUsed;
static uint32_t Table[257];
static const uint8_t* Archive;
static uint32_t ArchiveLeft;

int32_t ReadArchive(void* buffer, int32_t count)
{
    uint32_t n = count > 0 ? (uint32_t)count : 0;
    if (n > ArchiveLeft)
        n = ArchiveLeft;
    memcpy(buffer, Archive, n);
    Archive += n;
    ArchiveLeft -= n;
    return (int32_t)n;
}

int32_t WriteOutput(const void*, int32_t count)
{
    return count;
}

// Zero-filled, as HeapAlloc with HEAP_ZERO_MEMORY gives them; freed all at
// once after each entry.
void* AllocateBlock(uint32_t size)
{
    if (HeapUsed + size + 16 > sizeof Heap)
        return 0;
    void* block = Heap + HeapUsed;
    HeapUsed += (size + 15) & ~15u;
    return memset(block, 0, size);
}

void ReleaseBlock(void*)
{
}

static void Print(const char* text)
{
    size_t n = 0;
    while (text[n])
        n++;
    SystemCall(4, 1, (long)text, (long)n);
}

static void PrintNumber(uint32_t value)
{
    char digits[12];
    int i = 11;
    digits[i] = 0;
    do {
        digits[--i] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    Print(digits + i);
}

extern "C" int HarnessMain(int argc, char** argv)
{
    CrcTable = Table;
    BuildCrcTable();
#ifdef SFX_HARNESS_CARRYLESS
    if (argc > 2)
        CrcCarryless = false;
    const char* crc = CrcCarryless ? ", CRC folded\n" : ", CRC by tables\n";
#else
    const char* crc = ", CRC by tables\n";
#endif
    long file = SystemCall(5, (long)argv[1], 0, 0);
    uint32_t size = 0;
    for (long got; file >= 0 && (got = SystemCall(3, file, (long)(Streams + size), 1 << 20)) > 0;)
        size += (uint32_t)got;
    uint32_t streams = 0, bad = 0, output = 0;
    for (uint32_t at = 0; at + 12 <= size; streams++) {
        uint32_t words[3];
        memcpy(words, Streams + at, 12);
        Archive = Streams + at + 12;
        ArchiveLeft = words[0];
        HeapUsed = 0;
        EntryHeader.Flags = 0;
        EntryUncompressedSize = words[1];
        DataRemaining = (int32_t)words[0];
        RunningCrc = 0xFFFFFFFFu;
        InflateEntry();
        if ((RunningCrc ^ 0xFFFFFFFFu) != words[2] || !EntryDataComplete)
            bad++;
        output += words[1];
        at += 12 + words[0];
    }
    Print("streams ");
    PrintNumber(streams);
    Print(", output bytes ");
    PrintNumber(output);
    Print(", CRC failures ");
    PrintNumber(bad);
    Print(crc);
    return bad != 0 || streams == 0;
}

__asm__(".globl HarnessStart\n"
        "HarnessStart:\n"
        "    xor %ebp, %ebp\n"
        "    mov (%esp), %eax\n"
        "    lea 4(%esp), %ecx\n"
        "    and $-16, %esp\n"
        "    sub $8, %esp\n"
        "    push %ecx\n"
        "    push %eax\n"
        "    call _HarnessMain\n"
        "    mov %eax, %ebx\n"
        "    mov $1, %eax\n"
        "    int $0x80\n");
