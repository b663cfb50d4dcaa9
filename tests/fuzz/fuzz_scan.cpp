// Arbitrary bytes as an archive: the header walk and every entry through
// both decoders into memory, for every input; then, for one input in
// kExtractOneIn under the fuzzer and for every input replayed, a whole
// extraction through the library's command into a scratch folder, after
// which nothing may exist outside the destination and nothing unsafe inside
// it. An extraction costs many times the rest (folders and files made and
// removed): sampled, it leaves the fuzzer far more inputs for the parsers
// and decoders.
#include "tests/fuzz/fuzz_support.h"

#include "unlha32/crc16.h"
#include "unlha32/decoder.h"
#include "unlha32/extract.h"
#include "unlha32/lzdecode.h"
#include "unlha32/methods.h"
#include "unlha32/lzhheader.h"
#include "unlha32/names.h"
#include "unlha32/unlha32.h"

#include <dirent.h>
#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

using fuzz::check;

struct Scratch {
    int archiveFd = -1;
    std::string archivePath;
    std::string root; // holds nothing but run/d1/d2 between inputs
    std::string parent; // the destination's parent and the working folder
    std::string dest;
};

const Scratch &scratch()
{
    static const Scratch s = [] {
        Scratch s;
        s.root = fuzz::makeWorkspace("fuzz_scan");
        // The archive lives in memory so that the folder checks see only
        // what the extraction made.
        s.archiveFd = memfd_create("archive", MFD_CLOEXEC);
        check(s.archiveFd >= 0, "memfd_create");
        s.archivePath = "/proc/self/fd/" + std::to_string(s.archiveFd);
        s.parent = s.root + "/run/d1/d2";
        s.dest = s.parent + "/dest";
        check(s.root.find('"') == std::string::npos, "scratch path with a quotation mark", s.root);
        // Made once: each folder made and removed costs more than the
        // decoding of most inputs.
        for (const char *p : {"/run", "/run/d1", "/run/d1/d2"})
            check(mkdir((s.root + p).c_str(), 0700) == 0, "mkdir", p);
        return s;
    }();
    return s;
}

void writeArchive(const Scratch &s, const uint8_t *data, size_t size)
{
    check(ftruncate(s.archiveFd, 0) == 0, "ftruncate");
    size_t done = 0;
    while (done < size) {
        const ssize_t w = pwrite(s.archiveFd, data + done, size - done, static_cast<off_t>(done));
        check(w > 0, "pwrite");
        done += static_cast<size_t>(w);
    }
}

// The headers one at a time, as the extraction reads them, with what any
// walk must keep to.
std::vector<unlha::Entry> walk(const Scratch &s, uint64_t size)
{
    std::vector<unlha::Entry> entries;
    unlha::HeaderWalker w(s.archiveFd, size);
    unlha::Entry e;
    uint64_t end = 0;
    while (w.next(e)) {
        check(e.headerOffset >= end, "entries overlap", e.rawName);
        check(e.dataOffset > e.headerOffset, "data before its header", e.rawName);
        check(e.dataOffset <= size && e.packedSize <= size - e.dataOffset, "kept entry runs past the end", e.rawName);
        end = e.dataOffset + e.packedSize;
        entries.push_back(e);
    }
    check(w.status() != unlha::ScanStatus::Ok || !entries.empty(), "Ok walk without entries");
    return entries;
}

// The archive CRC the plain way, one byte at a time, to hold the library's
// fast one to; and an FNV-1a hash of the same bytes, to compare outputs by.
// Out of line and untraced: the coverage of a loop over decoded bytes tells
// the fuzzer nothing, and tracing it costs more than the decoding.
#if defined(__clang__)
__attribute__((no_sanitize("coverage"), noinline))
#endif
uint16_t referenceCrc(uint16_t crc, const uint8_t *p, size_t n, uint64_t *hash = nullptr)
{
    static const auto table = [] {
        std::array<uint16_t, 256> t{};
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t c = static_cast<uint16_t>(i);
            for (int k = 0; k < 8; ++k)
                c = static_cast<uint16_t>((c & 1) ? (c >> 1) ^ 0xA001 : c >> 1);
            t[i] = c;
        }
        return t;
    }();
    uint64_t h = hash ? *hash : 0;
    while (n--) {
        h = (h ^ *p) * 1099511628211ULL;
        crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ *p++) & 0xFF]);
    }
    if (hash)
        *hash = h;
    return crc;
}

struct Decoded {
    unlha::DecodeStatus status;
    uint64_t size = 0;
    uint16_t crc = 0;
    uint64_t hash = 1469598103934665603ULL; // FNV-1a of the output
};

Decoded decodeOne(unlha::EntryDecoder &decoder, const unlha::Entry &e)
{
    Decoded d;
    bool refused = false;
    // Like the extractor, forget everything when decoding starts over.
    const unlha::Restart restart = [&] {
        d = Decoded{};
        refused = false;
        return true;
    };
    d.status = decoder.decode(e, [&](const uint8_t *p, size_t n) {
        check(n == 0 || p != nullptr, "null block");
        // Every byte is read, so that the sanitizer sees a bad block.
        const uint16_t crc = referenceCrc(d.crc, p, n, &d.hash);
        check(unlha::crc16Update(d.crc, p, n) == crc, "CRC differs from the plain computation",
              std::to_string(n) + " bytes");
        d.crc = crc;
        d.size += n;
        // Like the extractor: more than the header promised is damage.
        refused = d.size > e.originalSize;
        return !refused;
    }, restart);
    check(d.status != unlha::DecodeStatus::Stopped || refused, "stopped without being asked", e.rawName);
    return d;
}

// Every file entry through the extraction's decoder and through lhasa, the
// reference: where one's output matches the header's size and CRC, the
// other must produce the same bytes. The methods lhasa lacks go to the
// library's own decoders, which have no second opinion: they must stop at
// the original size and fall short of it only with a cause.
// Entries declaring more than kMaxDecoded are left to the extraction: a few
// bytes of stream can declare and yield gigabytes, and would take most of
// the fuzzer's time.
void decodeAll(const Scratch &s, const std::vector<unlha::Entry> &entries)
{
    constexpr uint64_t kMaxDecoded = 1 << 20;
    // The archive descriptor never changes, so the decoders can stay.
    static const auto fast = unlha::makeDecoder(s.archiveFd);
    static const auto general = unlha::makeReferenceDecoder(s.archiveFd);
    check(fast && general, "no decoder");
    for (const auto &e : entries) {
        if (e.kind != unlha::EntryKind::File || e.originalSize > kMaxDecoded)
            continue;
        const Decoded b = decodeOne(*general, e);
        const unlha::Method *m = unlha::methodOf(e);
        if (m && m->dictBits != 0 && !m->lhasa) {
            check(b.size <= e.originalSize && (b.status != unlha::DecodeStatus::Ok || b.size == e.originalSize),
                  "own decoder's output is not the original size", e.rawName + " " + e.methodString());
            continue;
        }
        const Decoded a = decodeOne(*fast, e);
        const auto whole = [&](const Decoded &d) {
            return d.status == unlha::DecodeStatus::Ok && d.size == e.originalSize && d.crc == e.crc;
        };
        if (whole(a) || whole(b))
            check(whole(a) && whole(b) && a.hash == b.hash, "the decoders disagree on an intact entry",
                  e.rawDir + "|" + e.rawName + " " + e.methodString());
    }
}

std::string join(const std::vector<std::string> &parts, size_t n)
{
    std::string p;
    for (size_t i = 0; i < n; ++i)
        p += "/" + parts[i];
    return p;
}

// The folder `dir` below `destFd`, reached one component at a time without
// following links: an archive's folders may nest deeper than a path may be
// long. -1 when it is not a folder there.
int openBelow(int destFd, const std::vector<std::string> &dir, size_t n)
{
    int fd = dup(destFd);
    for (size_t i = 0; i < n && fd >= 0; ++i) {
        const int next = openat(fd, dir[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(fd);
        fd = next;
    }
    return fd;
}

// The target of the link `name` in `dirFd`.
std::string linkTarget(int dirFd, const std::string &name, const std::string &where)
{
    char buf[8192];
    const ssize_t n = readlinkat(dirFd, name.c_str(), buf, sizeof buf);
    check(n >= 0, "readlink", where);
    return std::string(buf, static_cast<size_t>(n));
}

// Follows `target` from the folder `dir` (below the destination) the way
// the kernel resolves it, links included; false once it leaves the
// destination.
bool follow(int destFd, std::vector<std::string> &dir, const std::string &target, int depth)
{
    if (depth > 40)
        return true; // the kernel stops with ELOOP: nothing is reached
    if (!target.empty() && target[0] == '/')
        return false;
    size_t start = 0;
    while (start <= target.size()) {
        size_t end = target.find('/', start);
        if (end == std::string::npos)
            end = target.size();
        const std::string c = target.substr(start, end - start);
        start = end + 1;
        if (c.empty() || c == ".")
            continue;
        if (c == "..") {
            if (dir.empty())
                return false;
            dir.pop_back();
            continue;
        }
        const int parent = openBelow(destFd, dir, dir.size());
        dir.push_back(c);
        struct stat st;
        if (parent >= 0 && fstatat(parent, c.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            const std::string next = linkTarget(parent, c, join(dir, dir.size()));
            close(parent);
            dir.pop_back();
            if (!follow(destFd, dir, next, depth + 1))
                return false;
        } else if (parent >= 0) {
            close(parent);
        }
    }
    return true;
}

bool looksLikeTemp(const std::string &name)
{
    return name.rfind(".unlha-", 0) == 0 && name.size() > 11 && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

std::set<std::string> listFolder(int dirFd, const std::string &where)
{
    const int fd = dup(dirFd);
    DIR *d = fd >= 0 ? fdopendir(fd) : nullptr;
    check(d != nullptr, "cannot list", where);
    std::set<std::string> names;
    while (dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.insert(e->d_name);
    }
    closedir(d);
    return names;
}

// Everything below the destination: no link leading out, no device, fifo or
// set-id bit, no temporary file left behind.
void checkTree(int destFd, int hereFd, std::vector<std::string> &dir, const std::set<std::string> &entryNames)
{
    for (const auto &name : listFolder(hereFd, join(dir, dir.size()))) {
        const std::string p = join(dir, dir.size()) + "/" + name;
        struct stat st;
        check(fstatat(hereFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0, "lstat", p);
        check(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode), "device, fifo or socket created", p);
        check((st.st_mode & 07000) == 0, "set-id or sticky bit", p);
        check(!looksLikeTemp(name) || entryNames.count(name), "temporary file left behind", p);
        if (S_ISLNK(st.st_mode)) {
            const std::string target = linkTarget(hereFd, name, p);
            std::vector<std::string> from = dir;
            check(follow(destFd, from, target, 0), "link leads outside", p + " -> " + target);
        } else if (S_ISDIR(st.st_mode)) {
            const int fd = openat(hereFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            check(fd >= 0, "cannot open folder", p);
            dir.push_back(name);
            checkTree(destFd, fd, dir, entryNames);
            dir.pop_back();
            close(fd);
        }
    }
}

void checkReport(const char *out, size_t outSize, size_t bufSize)
{
    if (outSize == 0) {
        for (size_t i = 0; i < bufSize; ++i)
            check(static_cast<unsigned char>(out[i]) == 0xA5, "wrote into a buffer of size 0");
        return;
    }
    const void *nul = std::memchr(out, 0, outSize);
    check(nul != nullptr, "report not terminated within its buffer");
    for (size_t i = outSize; i < bufSize; ++i)
        check(static_cast<unsigned char>(out[i]) == 0xA5, "report written past its buffer");
    const std::string text(out, static_cast<const char *>(nul) - out);
    check(fuzz::utf8Valid(text), "report is not UTF-8", text);
}

void extractAll(const Scratch &s, size_t inputHash, const std::vector<unlha::Entry> &entries)
{
    check(mkdir(s.dest.c_str(), 0700) == 0, "mkdir", s.dest);
    const std::string command = "e \"" + s.archivePath + "\" \"" + s.dest + "/\"";
    // Every size of output buffer, down to none, cut where it falls.
    static char out[4097];
    const size_t outSize = inputHash % sizeof out;
    std::memset(out, 0xA5, sizeof out);
    int result;
    {
        // Anything written relative to the working folder shows up beside
        // the destination.
        const fuzz::InFolder in(s.parent);
        result = unlha::runCommand(0, command.c_str(), outSize ? out : nullptr, static_cast<uint32_t>(outSize));
    }

    check(result == UNLHA_OK || (result >= UNLHA_ERR_NOT_ARCHIVE && result <= UNLHA_ERR_SKIPPED),
          "unexpected result", std::to_string(result));
    checkReport(out, outSize, sizeof out);

    check(fuzz::listFolder(s.root) == std::set<std::string>{"run"}, "created beside the scratch folder");
    check(fuzz::listFolder(s.root + "/run") == std::set<std::string>{"d1"}, "created three levels up");
    check(fuzz::listFolder(s.root + "/run/d1") == std::set<std::string>{"d2"}, "created two levels up");
    check(fuzz::listFolder(s.parent) == std::set<std::string>{"dest"}, "created beside the destination");

    unlha::NameDecoder names;
    std::set<std::string> entryNames;
    std::vector<const unlha::Entry *> fileEntries;
    std::vector<std::vector<std::string>> filePaths;
    for (const auto &e : entries) {
        const auto path = names.decodePath(e.rawDir, e.rawName);
        if (path.components.empty())
            continue;
        entryNames.insert(path.components.back());
        if (e.kind == unlha::EntryKind::File) {
            fileEntries.push_back(&e);
            filePaths.push_back(path.components);
        }
    }
    const int destFd = open(s.dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(destFd >= 0, "open", s.dest);
    std::vector<std::string> dir;
    checkTree(destFd, destFd, dir, entryNames);

    // Success means every file is there, whole: its bytes read back match
    // the archive's CRC, whatever the writing thread did with them.
    if (result == UNLHA_OK) {
        for (size_t i = 0; i < fileEntries.size(); ++i) {
            const auto &path = filePaths[i];
            const std::string shown = join(path, path.size());
            const int parent = openBelow(destFd, path, path.size() - 1);
            struct stat st;
            check(parent >= 0 && fstatat(parent, path.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
                      && S_ISREG(st.st_mode),
                  "file missing after success", shown);
            check(static_cast<uint64_t>(st.st_size) == fileEntries[i]->originalSize, "wrong size after success",
                  shown);
            fchmodat(parent, path.back().c_str(), 0600, 0); // the archive's mode may forbid reading
            const int fd = openat(parent, path.back().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            close(parent);
            check(fd >= 0, "cannot read back", shown);
            uint16_t crc = 0;
            uint8_t buf[65536];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0)
                crc = referenceCrc(crc, buf, static_cast<size_t>(n));
            close(fd);
            check(n == 0 && crc == fileEntries[i]->crc, "file written wrong after success", shown);
        }
    }
    close(destFd);
    fuzz::removeTree(s.dest);
}

bool sampling = false; // set by the fuzzer only: a replay extracts every input

} // namespace

// The fuzzer's own start; a replay does not call it.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    sampling = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Scratch &s = scratch();
    writeArchive(s, data, size);
    const auto entries = walk(s, size);
    decodeAll(s, entries);
    // Which inputs are extracted depends on their bytes alone, so that a
    // finding reproduces.
    size_t h = size;
    for (size_t i = 0; i < size; ++i)
        h = h * 31 + data[i];
    constexpr size_t kExtractOneIn = 16;
    if (!sampling || (h / 4097) % kExtractOneIn == 0)
        extractAll(s, h, entries);
    return 0;
}
