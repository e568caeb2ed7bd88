// CRC-32: table built at start-up, shared with the decryption keys.
//
// CrcUpdateBuffer runs over every byte that the decoders write, so it is
// built for speed without changing its result:
// - it takes eight bytes per step ("slicing by 8"): CrcSlices[k][n] is the
//   register contribution of byte value n followed by k+1 zero bytes;
// - it runs four independent registers over four consecutive lanes of
//   LaneSize bytes at once, so that their table look-ups overlap, and then
//   joins them: a register r followed by LaneSize bytes of data D becomes
//   CrcSkipLane(r) XOR (the register that D alone leaves from 0), because
//   each step is linear in the register.
// The extra tables live in uninitialised data, cost nothing in the file, and
// are derived from CrcTable when it is built.
//
// On processors that multiply polynomials without carries (PCLMULQDQ, asked
// through CPUID at start-up) long runs are folded instead, 64 bytes per step;
// see FoldCarryless. Both paths give the same register.
#include "SFXcrc.h"
#include "SFXattr.h"
#include "../startup/SFXstate.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define SFX_CRC_CARRYLESS 1
#else
#define SFX_CRC_CARRYLESS 0
#endif

bool CrcCarryless;

enum : int32_t {
    LaneSize = 512,
    LaneCount = 4,
};

static uint32_t CrcSlices[7][256] SFX_UNINITIALISED;
static uint32_t CrcSkip[4][256] SFX_UNINITIALISED;    // CrcSkip[k][n]: byte n at bit 8k, run over LaneSize zero bytes

static inline uint32_t ZeroByte(uint32_t c)
{
    return CrcTable[c & 0xFF] ^ (c >> 8);
}

SFX_SMALL void BuildCrcTable()
{
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        CrcTable[n] = c;
    }
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = CrcTable[n];
        for (int k = 0; k < 7; k++) {
            c = ZeroByte(c);
            CrcSlices[k][n] = c;
        }
    }
    // Skipping LaneSize zero bytes is linear: build it from the 32 single
    // bits, then combine those per byte value.
    uint32_t bitImage[32];
    for (int b = 0; b < 32; b++) {
        uint32_t c = 1u << b;
        for (int i = 0; i < LaneSize; i++)
            c = ZeroByte(c);
        bitImage[b] = c;
    }
    for (int k = 0; k < 4; k++) {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = 0;
            for (int b = 0; b < 8; b++)
                if (n & (1u << b))
                    c ^= bitImage[8 * k + b];
            CrcSkip[k][n] = c;
        }
    }
#if SFX_CRC_CARRYLESS
    unsigned a, b, c, d;
    CrcCarryless = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (d & bit_SSE2);
#endif
}

uint32_t CrcUpdateByte(uint8_t byte, uint32_t crc)
{
    return CrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

static inline uint32_t LoadLittle32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static inline uint32_t Slice8(uint32_t c, const uint8_t* p)
{
    uint32_t low = LoadLittle32(p) ^ c;
    uint32_t high = LoadLittle32(p + 4);
    return CrcSlices[6][low & 0xFF] ^ CrcSlices[5][(low >> 8) & 0xFF] ^
           CrcSlices[4][(low >> 16) & 0xFF] ^ CrcSlices[3][low >> 24] ^
           CrcSlices[2][high & 0xFF] ^ CrcSlices[1][(high >> 8) & 0xFF] ^
           CrcSlices[0][(high >> 16) & 0xFF] ^ CrcTable[high >> 24];
}

static inline uint32_t SkipLane(uint32_t c)
{
    return CrcSkip[0][c & 0xFF] ^ CrcSkip[1][(c >> 8) & 0xFF] ^ CrcSkip[2][(c >> 16) & 0xFF] ^
           CrcSkip[3][c >> 24];
}

#if SFX_CRC_CARRYLESS
// x^n modulo the polynomial, in the register's reflected form (x^0 in bit 31).
// Multiplying by x is the register's shift step without a data bit.
static constexpr uint32_t PowerOfX(uint32_t n)
{
    uint32_t r = 0x80000000u;
    for (; n > 0; n--)
        r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    return r;
}

// Constant variables, so that every compiler computes them while compiling.
static constexpr uint32_t Across4High = PowerOfX(512 + 31);
static constexpr uint32_t Across4Low = PowerOfX(512 - 33);
static constexpr uint32_t Across1High = PowerOfX(128 + 31);
static constexpr uint32_t Across1Low = PowerOfX(128 - 33);

// Folding. Read 16 bytes as a polynomial A = H x^64 + L (the first byte
// holds the highest powers, as the register sees the stream; H is the
// lower 64-bit lane). Moving A forward over T bits of later data only
// matters modulo the polynomial, so A x^T may be replaced by
// H (x^(T+64) mod P) + L (x^T mod P), which fits in 16 bytes again and is
// added to the data T bits on. PCLMULQDQ of two reflected lanes yields their
// product times x, and a constant in the low 32 bits of its lane stands for
// itself times x^32: so the lane constants are x^(T+31) and x^(T-33).
// Four lanes run side by side (T = 512), then fold into one (T = 128).
// What is left, 16 bytes congruent to everything so far, goes through the
// table from a zero register: that is the register.
__attribute__((target("pclmul,sse2")))
#if defined(__i386__)
__attribute__((force_align_arg_pointer))     // Windows keeps the stack 4-byte aligned
#endif
static uint32_t FoldCarryless(const uint8_t*& data, const uint8_t* end, uint32_t crc)
{
    const __m128i across4 = _mm_set_epi64x(Across4Low, Across4High);
    const __m128i across1 = _mm_set_epi64x(Across1Low, Across1High);
    const uint8_t* p = data;
    __m128i x0 = _mm_xor_si128(_mm_loadu_si128((const __m128i*)p), _mm_cvtsi32_si128((int)crc));
    __m128i x1 = _mm_loadu_si128((const __m128i*)(p + 16));
    __m128i x2 = _mm_loadu_si128((const __m128i*)(p + 32));
    __m128i x3 = _mm_loadu_si128((const __m128i*)(p + 48));
#define SFX_FOLD(x, k, next) \
    _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next)
    for (p += 64; end - p >= 64; p += 64) {
        x0 = SFX_FOLD(x0, across4, _mm_loadu_si128((const __m128i*)p));
        x1 = SFX_FOLD(x1, across4, _mm_loadu_si128((const __m128i*)(p + 16)));
        x2 = SFX_FOLD(x2, across4, _mm_loadu_si128((const __m128i*)(p + 32)));
        x3 = SFX_FOLD(x3, across4, _mm_loadu_si128((const __m128i*)(p + 48)));
    }
    x0 = SFX_FOLD(x0, across1, x1);
    x0 = SFX_FOLD(x0, across1, x2);
    x0 = SFX_FOLD(x0, across1, x3);
    for (; end - p >= 16; p += 16)
        x0 = SFX_FOLD(x0, across1, _mm_loadu_si128((const __m128i*)p));
#undef SFX_FOLD
    uint8_t rest[16];
    _mm_storeu_si128((__m128i*)rest, x0);
    data = p;
    return Slice8(Slice8(0, rest), rest + 8);
}
#endif

void CrcUpdateBuffer(const uint8_t* data, int32_t length, uint32_t& crc)
{
    if (length <= 0)
        return;
    uint32_t c = crc;
    const uint8_t* end = data + length;
#if SFX_CRC_CARRYLESS
    if (CrcCarryless && length >= 64)
        c = FoldCarryless(data, end, c);
#endif
    while (end - data >= LaneCount * LaneSize) {
        uint32_t c1 = 0, c2 = 0, c3 = 0;
        for (const uint8_t* p = data; p < data + LaneSize; p += 8) {
            c = Slice8(c, p);
            c1 = Slice8(c1, p + LaneSize);
            c2 = Slice8(c2, p + 2 * LaneSize);
            c3 = Slice8(c3, p + 3 * LaneSize);
        }
        c = SkipLane(SkipLane(SkipLane(c) ^ c1) ^ c2) ^ c3;
        data += LaneCount * LaneSize;
    }
    for (; end - data >= 8; data += 8)
        c = Slice8(c, data);
    while (data < end)
        c = CrcTable[(c ^ *data++) & 0xFF] ^ (c >> 8);
    crc = c;
}
