#include "unlha32/crc16.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace unlha {
namespace {

// Eight tables so that the hot loop takes eight bytes per step: the CRC runs
// over every extracted byte and must not be what limits the speed.
struct Tables {
    std::array<std::array<uint16_t, 256>, 8> t{};
    constexpr Tables()
    {
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
            t[0][i] = c;
        }
        for (unsigned i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s)
                t[s][i] = static_cast<uint16_t>((t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF]);
    }
};

constexpr Tables kTables;


// One slicing-by-8 step: eight bytes into the CRC.
inline uint16_t step8(uint16_t crc, const uint8_t *p)
{
    const auto &t = kTables.t;
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (__BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__)
        v = __builtin_bswap64(v);
    v ^= crc;
    return static_cast<uint16_t>(t[7][v & 0xFF] ^ t[6][(v >> 8) & 0xFF] ^ t[5][(v >> 16) & 0xFF]
                                 ^ t[4][(v >> 24) & 0xFF] ^ t[3][(v >> 32) & 0xFF] ^ t[2][(v >> 40) & 0xFF]
                                 ^ t[1][(v >> 48) & 0xFF] ^ t[0][(v >> 56) & 0xFF]);
}

// a(x) * b(x) mod P, both in the reflected form the CRC register uses.
uint16_t mulMod(uint16_t a, uint16_t b)
{
    if (a == 0)
        return 0;
    uint16_t m = 0x8000; // x^0
    uint16_t p = 0;
    for (;;) {
        if (a & m) {
            p ^= b;
            if ((a & (m - 1)) == 0)
                break;
        }
        m >>= 1;
        b = (b & 1) ? static_cast<uint16_t>((b >> 1) ^ 0xA001) : static_cast<uint16_t>(b >> 1);
    }
    return p;
}

// x^(8 * bytes) mod P: what a CRC is multiplied by when that many bytes follow.
uint16_t shiftFactor(uint64_t bytes)
{
    uint16_t result = 0x8000;
    uint16_t power = 0x0080; // x^8
    while (bytes) {
        if (bytes & 1)
            result = mulMod(result, power);
        power = mulMod(power, power);
        bytes >>= 1;
    }
    return result;
}

// The table-driven CRC: slicing by 8, three runs at once for long buffers.
uint16_t crcTables(uint16_t crc, const uint8_t *p, std::size_t len)
{
    const auto &t = kTables.t;
    // The CRC is linear (start 0, no final xor), so three independent runs
    // over three thirds can be joined afterwards; interleaved, they hide
    // each other's table-lookup latency. Worth it only for long buffers.
    if (len >= 3 * 4096) {
        const std::size_t third = (len / 3) & ~std::size_t(7);
        const uint8_t *a = p, *b = p + third, *c = p + 2 * third;
        uint16_t ca = crc, cb = 0, cc = 0;
        for (std::size_t i = 0; i < third; i += 8) {
            ca = step8(ca, a + i);
            cb = step8(cb, b + i);
            cc = step8(cc, c + i);
        }
        const uint16_t f = shiftFactor(third);
        crc = static_cast<uint16_t>(mulMod(static_cast<uint16_t>(mulMod(ca, f) ^ cb), f) ^ cc);
        p += 3 * third;
        len -= 3 * third;
    }
    while (len >= 8) {
        crc = step8(crc, p);
        p += 8;
        len -= 8;
    }
    while (len--)
        crc = static_cast<uint16_t>((crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF]);
    return crc;
}

#if defined(__x86_64__)
// With carry-less multiplication, as x86 processors since about 2010 have
// it: 64 bytes a step in four 128-bit lanes, several times the tables'
// speed. A lane of 128 message bits stands for a polynomial, the first bit
// (bit 0 of the first byte) its highest term; moving it 128 * k bits on is
// multiplying its halves by x^(128k + 64) and x^(128k) modulo the
// polynomial, which leaves 80 bits and keeps the lane the same CRC.

// x^n modulo x^16 + x^15 + x^2 + 1.
constexpr uint32_t powerMod(unsigned n)
{
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x10000)
            r ^= 0x18005;
    }
    return r;
}

constexpr uint64_t reversed64(uint64_t v)
{
    uint64_t r = 0;
    for (int i = 0; i < 64; ++i)
        r |= ((v >> i) & 1) << (63 - i);
    return r;
}

// The factor for moving a lane `bits` on, as the multiplier of its low and
// high half. Less one power of x each: the product of two 64-bit operands
// comes out one bit off in this bit order.
struct Fold {
    uint64_t low, high;
};
constexpr Fold foldBy(unsigned bits)
{
    return {reversed64(powerMod(bits + 64 - 1)), reversed64(powerMod(bits - 1))};
}
constexpr Fold kFold512 = foldBy(512);
constexpr Fold kFold128 = foldBy(128);

__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i lane, __m128i k, __m128i next)
{
    const __m128i a = _mm_clmulepi64_si128(lane, k, 0x00);
    const __m128i b = _mm_clmulepi64_si128(lane, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(a, b), next);
}

// `len` at least 128.
__attribute__((target("pclmul,sse2"))) uint16_t crcClmul(uint16_t crc, const uint8_t *p, std::size_t len)
{
    auto load = [](const uint8_t *q) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(q)); };
    __m128i s0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(crc));
    __m128i s1 = load(p + 16);
    __m128i s2 = load(p + 32);
    __m128i s3 = load(p + 48);
    p += 64;
    len -= 64;
    const __m128i k4 = _mm_set_epi64x(static_cast<long long>(kFold512.high), static_cast<long long>(kFold512.low));
    while (len >= 64) {
        s0 = fold(s0, k4, load(p));
        s1 = fold(s1, k4, load(p + 16));
        s2 = fold(s2, k4, load(p + 32));
        s3 = fold(s3, k4, load(p + 48));
        p += 64;
        len -= 64;
    }
    const __m128i k1 = _mm_set_epi64x(static_cast<long long>(kFold128.high), static_cast<long long>(kFold128.low));
    __m128i s = fold(s0, k1, s1);
    s = fold(s, k1, s2);
    s = fold(s, k1, s3);
    // The lane is a message of 16 bytes with the same CRC.
    uint8_t lane[16];
    _mm_storeu_si128(reinterpret_cast<__m128i *>(lane), s);
    return crcTables(crcTables(0, lane, sizeof lane), p, len);
}

bool haveClmul()
{
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return have;
}
#endif

} // namespace

uint16_t crc16Update(uint16_t crc, const void *data, std::size_t len)
{
    const auto *p = static_cast<const uint8_t *>(data);
#if defined(__x86_64__)
    if (len >= 256 && haveClmul())
        return crcClmul(crc, p, len);
#endif
    return crcTables(crc, p, len);
}

} // namespace unlha
