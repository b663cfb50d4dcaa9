// Writes the stress archives: many small stored files, or one stored file
// larger than 4 GiB (level 2 with the 64-bit sizes of extended header 0x42).
//   stress-gen many OUT COUNT [MAX_BYTES]   (files of 0 to MAX_BYTES-1 bytes, 2048 unless given)
//   stress-gen big OUT BYTES
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint16_t table[256];

void initCrc()
{
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
        table[i] = c;
    }
}

uint16_t crc16(uint16_t crc, const uint8_t *p, size_t n)
{
    while (n--)
        crc = static_cast<uint16_t>(table[(crc ^ *p++) & 0xFF] ^ (crc >> 8));
    return crc;
}

void put16(std::string &b, uint16_t v) { b += char(v & 0xFF); b += char(v >> 8); }
void put32(std::string &b, uint32_t v) { put16(b, uint16_t(v)); put16(b, uint16_t(v >> 16)); }
void put64(std::string &b, uint64_t v) { put32(b, uint32_t(v)); put32(b, uint32_t(v >> 32)); }

// Level-2 header of a stored file; `dir` without separators.
std::string header(const std::string &name, const std::string &dir, uint64_t size, uint16_t crc)
{
    std::string h;
    put16(h, 0);
    h += "-lh0-";
    put32(h, uint32_t(size));
    put32(h, uint32_t(size));
    put32(h, 1700000000);
    h += char(0x20);
    h += char(2);
    put16(h, crc);
    h += 'U';
    std::vector<std::string> ext;
    ext.push_back(std::string(1, '\0') + std::string(2, '\0')); // header CRC, patched below
    ext.push_back(std::string(1, '\1') + name);
    if (!dir.empty())
        ext.push_back(std::string(1, '\2') + dir + char(0xFF));
    if (size > 0xFFFFFFFFull) {
        std::string e(1, '\x42');
        put64(e, size);
        put64(e, size);
        ext.push_back(e);
    }
    put16(h, uint16_t(ext[0].size() + 2));
    const size_t crcPos = h.size() + 1;
    for (size_t i = 0; i < ext.size(); ++i) {
        h += ext[i];
        put16(h, uint16_t(i + 1 < ext.size() ? ext[i + 1].size() + 2 : 0));
    }
    h[0] = char(h.size() & 0xFF);
    h[1] = char(h.size() >> 8);
    const uint16_t hc = crc16(0, reinterpret_cast<const uint8_t *>(h.data()), h.size());
    h[crcPos] = char(hc & 0xFF);
    h[crcPos + 1] = char(hc >> 8);
    return h;
}

// Text-like bytes with some noise, the same every time.
void fill(uint8_t *p, size_t n, uint64_t &state)
{
    static const char words[] = "lorem ipsum dolor sit amet archive folder file data ";
    for (size_t i = 0; i < n; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        p[i] = (state >> 60) < 12 ? uint8_t(words[(state >> 33) % (sizeof words - 1)]) : uint8_t(state >> 40);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4 || argc > 5 || (std::strcmp(argv[1], "many") != 0 && std::strcmp(argv[1], "big") != 0)) {
        std::fprintf(stderr, "usage: %s many OUT COUNT [MAX_BYTES] | big OUT BYTES\n", argv[0]);
        return 2;
    }
    initCrc();
    FILE *out = std::fopen(argv[2], "wb");
    if (!out)
        return 1;
    uint64_t state = 42;
    if (std::strcmp(argv[1], "many") == 0) {
        const long count = std::atol(argv[3]);
        const long maxBytes = argc == 5 ? std::atol(argv[4]) : 2048;
        std::vector<uint8_t> data;
        for (long i = 0; i < count; ++i) {
            data.resize(size_t((i * 7919) % maxBytes));
            fill(data.data(), data.size(), state);
            const std::string h = header("f" + std::to_string(i) + ".txt", "d" + std::to_string(i % 100),
                                         data.size(), crc16(0, data.data(), data.size()));
            std::fwrite(h.data(), 1, h.size(), out);
            // An empty vector's data() may be null, which fwrite must not get.
            if (!data.empty())
                std::fwrite(data.data(), 1, data.size(), out);
        }
    } else {
        const uint64_t size = std::strtoull(argv[3], nullptr, 10);
        // The data is written first, then the header in front of it, once the
        // CRC is known: the header's size does not depend on the CRC.
        const std::string probe = header("big.bin", {}, size, 0);
        std::fseek(out, long(probe.size()), SEEK_SET);
        std::vector<uint8_t> chunk(1 << 20);
        uint16_t crc = 0;
        for (uint64_t left = size; left > 0;) {
            const size_t n = left < chunk.size() ? size_t(left) : chunk.size();
            fill(chunk.data(), n, state);
            crc = crc16(crc, chunk.data(), n);
            if (std::fwrite(chunk.data(), 1, n, out) != n)
                return 1;
            left -= n;
        }
        std::fputc(0, out);
        const std::string h = header("big.bin", {}, size, crc);
        std::fseek(out, 0, SEEK_SET);
        std::fwrite(h.data(), 1, h.size(), out);
    }
    if (std::strcmp(argv[1], "many") == 0)
        std::fputc(0, out);
    return std::fclose(out) == 0 ? 0 : 1;
}
