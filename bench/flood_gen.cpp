// Writes two files that cost a careless search for an archive behind a
// self-extractor stub dearly: a program's start ("MZ"), then look-alike level-3
// headers, each claiming a header of about 1 MiB that fits in the file, with
// a valid chain of extended headers (header CRC, file name) and a header CRC
// that is wrong, so that only reading and checksumming the whole claimed
// header turns it down.
//   unlha32-bench-flood ARCHIVE OUTDIR
// OUTDIR/flood.lzh               2 MiB of look-alikes: not an archive
// OUTDIR/flood-then-archive.lzh  look-alikes up to just under 1 MiB, then the
//                                bytes of ARCHIVE, then look-alikes again so
//                                that every claim before the archive fits
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr size_t kStride = 64;                  // one look-alike every 64 bytes
constexpr uint32_t kClaim = (1u << 20) - 1024;  // header size each one claims
constexpr size_t kFlood = 2u << 20;             // size of the first file
constexpr size_t kArchiveAt = (1u << 20) - 4096; // inside a 1 MiB search

uint16_t table[256];

void makeTable()
{
    for (unsigned i = 0; i < 256; ++i) {
        uint16_t c = static_cast<uint16_t>(i);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? static_cast<uint16_t>((c >> 1) ^ 0xA001) : static_cast<uint16_t>(c >> 1);
        table[i] = c;
    }
}

// The CRC register after one more zero byte, and the step undone.
uint16_t zero(uint16_t c) { return static_cast<uint16_t>((c >> 8) ^ table[c & 0xFF]); }
uint16_t unzero(uint16_t c)
{
    for (int k = 0; k < 8; ++k)
        c = (c & 0x8000) ? static_cast<uint16_t>(((c ^ 0xA001) << 1) | 1) : static_cast<uint16_t>(c << 1);
    return c;
}

void put16(uint8_t *p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void put32(uint8_t *p, uint32_t v) { put16(p, uint16_t(v)); put16(p + 2, uint16_t(v >> 16)); }

// One look-alike; its header CRC (bytes 33-34) is filled in later.
void lookAlike(uint8_t *p)
{
    std::memset(p, 0, kStride);
    put16(p, 4);                       // level 3: size fields are 4 bytes
    std::memcpy(p + 2, "-lh5-", 5);
    put32(p + 7, 32);                  // packed size, fits after the claim
    put32(p + 11, 100);                // original size
    put32(p + 15, 1700000000);         // time
    p[19] = 0x20;
    p[20] = 3;                         // level
    put16(p + 21, 0x1234);             // data CRC
    p[23] = 'U';
    put32(p + 24, kClaim);             // whole header size
    put32(p + 28, 7);                  // first extended header: header CRC
    p[32] = 0x00;
    put32(p + 35, 15);                 // next: the file name
    p[39] = 0x01;
    std::memcpy(p + 40, "README.TXT", 10);
    put32(p + 50, 0);                  // end of the chain
}

// Gives every look-alike a header CRC that is certainly wrong. The CRC of a
// claimed header covers later look-alikes, so they are settled from the last
// one back, with CRCs of the suffixes normalised to length 0:
// K[k] = Z^-(N-k) crc(bytes[k..N)), and crc(bytes[a..b)) = Z^(b-a) K[a] ^ K[b].
void settleCrcs(std::vector<uint8_t> &f, const std::vector<size_t> &at)
{
    const size_t n = f.size();
    // Z^kClaim as a matrix: its image of each bit.
    uint16_t col[16];
    for (int j = 0; j < 16; ++j) {
        uint16_t c = static_cast<uint16_t>(1u << j);
        for (uint32_t k = 0; k < kClaim; ++k)
            c = zero(c);
        col[j] = c;
    }
    auto shiftClaim = [&col](uint16_t v) {
        uint16_t r = 0;
        for (int j = 0; j < 16; ++j)
            if (v & (1u << j))
                r ^= col[j];
        return r;
    };
    std::vector<uint16_t> K(n + 1, 0);
    size_t done = n; // K is known from here on
    auto back = [&](size_t to) {
        for (; done > to; --done)
            K[done - 1] = unzero(static_cast<uint16_t>(table[f[done - 1]] ^ K[done]));
    };
    for (auto it = at.rbegin(); it != at.rend(); ++it) {
        const size_t i = *it;
        if (i + kClaim > n)
            continue; // cut short: turned down cheaply anyway
        back(i + kStride);
        // The header as checked: its own CRC field counts as zero.
        f[i + 33] = f[i + 34] = 0;
        back(i);
        const uint16_t crc = static_cast<uint16_t>(shiftClaim(K[i]) ^ K[i + kClaim]);
        put16(&f[i + 33], static_cast<uint16_t>(crc ^ 0x5A5A));
        done = i + kStride; // this look-alike again, with its field
    }
}

void fill(std::vector<uint8_t> &f, size_t from, size_t to, std::vector<size_t> &at)
{
    for (size_t i = from; i + kStride <= to; i += kStride) {
        lookAlike(&f[i]);
        at.push_back(i);
    }
}

bool write(const std::string &path, const std::vector<uint8_t> &f)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(f.data()), static_cast<std::streamsize>(f.size()));
    return bool(out);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ARCHIVE OUTDIR\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> archive((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || archive.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    makeTable();
    const std::string dir = argv[2];

    // Not a header at the start: a program, so the search has to run.
    std::vector<uint8_t> flood(kFlood);
    std::memcpy(flood.data(), "MZ", 2);
    std::vector<size_t> at;
    fill(flood, kStride, flood.size(), at);
    settleCrcs(flood, at);

    // The archive must end in its end mark, so that the look-alikes behind
    // it are never taken for more entries.
    const size_t tail = (archive.size() + kClaim + kStride - 1) / kStride * kStride;
    std::vector<uint8_t> mixed(kArchiveAt + tail);
    std::memcpy(mixed.data(), "MZ", 2);
    at.clear();
    fill(mixed, kStride, kArchiveAt, at);
    std::memcpy(&mixed[kArchiveAt], archive.data(), archive.size());
    const size_t after = (kArchiveAt + archive.size() + kStride - 1) / kStride * kStride;
    fill(mixed, after, mixed.size(), at);
    settleCrcs(mixed, at);

    if (!write(dir + "/flood.lzh", flood) || !write(dir + "/flood-then-archive.lzh", mixed)) {
        std::fprintf(stderr, "cannot write into %s\n", dir.c_str());
        return 1;
    }
    std::printf("%zu look-alikes in flood.lzh; archive at %zu in flood-then-archive.lzh\n",
                kFlood / kStride - 1, kArchiveAt);
    return 0;
}
