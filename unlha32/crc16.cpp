#include "unlha32/crc16.h"

#include <array>
#include <cstring>

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

} // namespace

uint16_t crc16Update(uint16_t crc, const void *data, std::size_t len)
{
    const auto *p = static_cast<const uint8_t *>(data);
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

} // namespace unlha
