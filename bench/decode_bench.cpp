// Decode-only speed of the -lh4-..-lh7-/-lhx- decoders on the entries of an
// archive held in memory: the library's own (FastLzh), libarchive's (the
// whole archive through archive_read_data_block) and lhasa's
// (lha_decoder_read). Output goes to a sink that only touches it, so that
// writing files is not timed. libarchive and lhasa check each entry's CRC as
// they go, ours leaves that to its caller: the column "+crc" times ours with
// the library's CRC-16 in its sink, the like-for-like figure, and "ratio+"
// compares that one with libarchive. Before timing, ours and lhasa's output
// are compared entry by entry; a difference ends the run with status 1.
// Built without libarchive (no libarchive-dev), its columns say so.
//
//   unlha32-bench-decode [-n RUNS] [-o] [-w] ARCHIVE...
//
// Times are the thread's CPU time, -w takes wall time. -o times ours alone
// (no comparison, no other decoder): for a profiler.
#include "unlha32/crc16.h"
#include "unlha32/fastlzh.h"
#include "unlha32/lzhheader.h"
#include "unlha32/methods.h"

#ifdef HOGUREN_BENCH_LIBARCHIVE
#include <archive.h>
#include <archive_entry.h>
#endif
#include <lha_decoder.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Stream {
    std::string method;
    unsigned dictBits;
    const uint8_t *data;
    size_t size;
    uint64_t original;
};

struct Memory {
    const uint8_t *p;
    size_t left;
    size_t read(uint8_t *buf, size_t len)
    {
        const size_t n = std::min(len, left);
        std::memcpy(buf, p, n);
        p += n;
        left -= n;
        return n;
    }
};

uint64_t touched = 0; // keeps the sinks' work from being optimised away

uint64_t fnv(uint64_t h, const uint8_t *d, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        h = (h ^ d[i]) * 0x100000001b3ull;
    return h;
}

bool ours(unlha::FastLzh &dec, const Stream &s, uint64_t *hash, bool crc = false)
{
    Memory m{s.data, s.size};
    uint64_t h = 0xcbf29ce484222325ull;
    uint16_t sum = 0;
    const auto st = dec.decode(
        s.dictBits, [&m](uint8_t *b, size_t n) { return m.read(b, n); }, s.original,
        [&](const uint8_t *d, size_t n) {
            if (hash)
                h = fnv(h, d, n);
            if (crc)
                sum = unlha::crc16Update(sum, d, n);
            touched += d[0] + n;
            return true;
        });
    touched += sum;
    if (hash)
        *hash = h;
    return st == unlha::DecodeStatus::Ok;
}

bool lhasa(const Stream &s, std::vector<uint8_t> &buf, uint64_t *hash)
{
    char name[6];
    std::memcpy(name, s.method.c_str(), 6);
    LHADecoderType *type = lha_decoder_for_name(name);
    if (!type)
        return false;
    Memory m{s.data, s.size};
    auto feed = [](void *b, size_t n, void *user) -> size_t {
        return static_cast<Memory *>(user)->read(static_cast<uint8_t *>(b), n);
    };
    LHADecoder *d = lha_decoder_new(type, feed, &m, static_cast<size_t>(s.original));
    uint64_t h = 0xcbf29ce484222325ull;
    uint64_t done = 0;
    while (done < s.original) {
        const size_t n = lha_decoder_read(d, buf.data(), buf.size());
        if (n == 0)
            break;
        if (hash)
            h = fnv(h, buf.data(), n);
        touched += buf[0] + n;
        done += n;
    }
    lha_decoder_free(d);
    if (hash)
        *hash = h;
    return done == s.original;
}

#ifdef HOGUREN_BENCH_LIBARCHIVE
// Every entry of the archive, the way bsdtar decodes them.
bool libarchive(const std::vector<uint8_t> &file)
{
    archive *a = archive_read_new();
    archive_read_support_format_lha(a);
    bool ok = archive_read_open_memory(a, file.data(), file.size()) == ARCHIVE_OK;
    archive_entry *e;
    while (ok && archive_read_next_header(a, &e) == ARCHIVE_OK) {
        for (;;) {
            const void *block;
            size_t size;
            la_int64_t offset;
            const int r = archive_read_data_block(a, &block, &size, &offset);
            if (r == ARCHIVE_EOF)
                break;
            if (r != ARCHIVE_OK) {
                ok = false;
                break;
            }
            if (size > 0)
                touched += static_cast<const uint8_t *>(block)[0] + size;
        }
    }
    archive_read_free(a);
    return ok;
}
#endif

// The thread's CPU time by default: on a machine shared with other work
// the time others held the core would otherwise count as ours. -w takes
// wall time instead.
bool wallTime = false;

double now()
{
    if (wallTime)
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double seconds(double t0) { return now() - t0; }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    bool oursOnly = false;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "-o") == 0)
            oursOnly = true;
        else if (std::strcmp(argv[i], "-w") == 0)
            wallTime = true;
        else
            break;
    }
    if (i >= argc) {
        std::fprintf(stderr, "usage: %s [-n RUNS] [-o] [-w] ARCHIVE...\n", argv[0]);
        return 2;
    }
    if (oursOnly)
        std::printf("%-20s %8s %10s %10s\n", "archive", "entries", "MB", "ours MB/s");
    else
        std::printf("%-20s %8s %10s %10s %8s %10s %8s %8s %8s\n", "archive", "entries", "MB", "ours MB/s", "+crc",
                    "libarchive", "lhasa", "ratio", "ratio+");
    int status = 0;
    for (; i < argc; ++i) {
        const int fd = open(argv[i], O_RDONLY);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) {
            std::perror(argv[i]);
            return 2;
        }
        std::vector<uint8_t> file(static_cast<size_t>(st.st_size));
        if (pread(fd, file.data(), file.size(), 0) != static_cast<ssize_t>(file.size())) {
            std::perror(argv[i]);
            return 2;
        }
        std::vector<Stream> streams;
        uint64_t total = 0;
        unlha::HeaderWalker walk(fd, static_cast<uint64_t>(st.st_size));
        for (unlha::Entry e; walk.next(e);) {
            const unlha::Method *m = unlha::methodOf(e);
            if (!m || m->decode != unlha::decodeFastLzh || e.dataOffset + e.packedSize > file.size())
                continue;
            streams.push_back({e.methodString(), m->dictBits, file.data() + e.dataOffset,
                               static_cast<size_t>(e.packedSize), e.originalSize});
            total += e.originalSize;
        }
        close(fd);
        unlha::FastLzh dec;
        std::vector<uint8_t> buf(64 * 1024);
        const double mb = static_cast<double>(total) / 1e6;
        const char *base = std::strrchr(argv[i], '/');
        if (oursOnly) {
            std::vector<double> t;
            for (int r = 0; r < runs; ++r) {
                const auto t0 = now();
                for (const auto &s : streams)
                    ours(dec, s, nullptr);
                t.push_back(seconds(t0));
            }
            std::printf("%-20s %8zu %10.1f %10.1f\n", base ? base + 1 : argv[i], streams.size(), mb, mb / median(t));
            continue;
        }
        for (const auto &s : streams) {
            uint64_t a = 0, b = 0;
            const bool okA = ours(dec, s, &a);
            const bool okB = lhasa(s, buf, &b);
            if (!okA || !okB || a != b) {
                std::fprintf(stderr, "%s: an entry of %llu bytes decodes differently (ours %s, lhasa %s)\n",
                             argv[i], static_cast<unsigned long long>(s.original), okA ? "ok" : "failed",
                             okB ? "ok" : "failed");
                status = 1;
            }
        }
        // The decoders take turns within each round, so that a machine
        // busy with something else slows them all alike.
        std::vector<double> tOurs, tCrc, tArchive, tLhasa;
        for (int r = 0; r < runs; ++r) {
            auto t0 = now();
            for (const auto &s : streams)
                ours(dec, s, nullptr);
            tOurs.push_back(seconds(t0));
            t0 = now();
            for (const auto &s : streams)
                ours(dec, s, nullptr, true);
            tCrc.push_back(seconds(t0));
#ifdef HOGUREN_BENCH_LIBARCHIVE
            t0 = now();
            if (!libarchive(file))
                std::fprintf(stderr, "%s: libarchive failed\n", argv[i]);
            tArchive.push_back(seconds(t0));
#endif
            t0 = now();
            for (const auto &s : streams)
                lhasa(s, buf, nullptr);
            tLhasa.push_back(seconds(t0));
        }
        if (tArchive.empty())
            std::printf("%-20s %8zu %10.1f %10.1f %8.1f %10s %8.1f %8s %8s\n", base ? base + 1 : argv[i],
                        streams.size(), mb, mb / median(tOurs), mb / median(tCrc), "not built", mb / median(tLhasa),
                        "-", "-");
        else
            std::printf("%-20s %8zu %10.1f %10.1f %8.1f %10.1f %8.1f %8.2f %8.2f\n", base ? base + 1 : argv[i],
                        streams.size(), mb, mb / median(tOurs), mb / median(tCrc), mb / median(tArchive),
                        mb / median(tLhasa), median(tArchive) / median(tOurs), median(tArchive) / median(tCrc));
    }
    if (touched == 42)
        std::puts("");
    return status;
}
