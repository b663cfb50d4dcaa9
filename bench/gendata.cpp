// Writes the benchmark's input files: compressible but not trivial content,
// the same bytes on every run.
//   unlha32-bench-data OUTDIR
// creates OUTDIR/single/big.bin (100 MiB) and OUTDIR/many/dNN/... (400 files,
// about 100 MiB together).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Rng {
    uint64_t s;
    uint64_t next()
    {
        // xorshift64*: fast, and fixed across platforms unlike std::mt19937's
        // distributions.
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1DULL;
    }
    uint32_t below(uint32_t n) { return uint32_t((next() >> 32) % n); }
};

class Generator {
public:
    explicit Generator(uint64_t seed) : rng_{seed}
    {
        // A vocabulary the way text has one: a few words very often, most rarely.
        for (int i = 0; i < 4096; ++i) {
            std::string w;
            const int len = 2 + int(rng_.below(9));
            for (int k = 0; k < len; ++k)
                w += char('a' + rng_.below(26));
            words_.push_back(w);
        }
    }

    void text(std::string &out, std::size_t bytes)
    {
        const std::size_t end = out.size() + bytes;
        int inLine = 0;
        while (out.size() < end) {
            const uint32_t a = rng_.below(64), b = rng_.below(64);
            out += words_[a * b];
            if (++inLine >= 8 + int(rng_.below(8))) {
                out += rng_.below(4) == 0 ? ".\n" : "\n";
                inLine = 0;
            } else {
                out += rng_.below(12) == 0 ? ", " : " ";
            }
        }
        out.resize(end);
    }

    void binary(std::string &out, std::size_t bytes)
    {
        const std::size_t end = out.size() + bytes;
        if (rng_.below(4) == 0) {
            // Noise: what compressors cannot shrink.
            while (out.size() < end)
                out += char(rng_.next() >> 56);
        } else {
            // Records of counters with a little jitter, like tables in files.
            uint32_t counter = rng_.below(1u << 20);
            while (out.size() < end) {
                counter += 1 + rng_.below(3);
                const uint32_t v[3] = {counter, rng_.below(256), counter * 7u};
                out.append(reinterpret_cast<const char *>(v), sizeof v);
            }
        }
        out.resize(end);
    }

    // Text with a binary stretch now and then.
    void mixed(std::string &out, std::size_t bytes, bool mostlyBinary)
    {
        const std::size_t end = out.size() + bytes;
        while (out.size() < end) {
            const std::size_t left = end - out.size();
            const std::size_t textPart = mostlyBinary ? 2048 + rng_.below(4096) : 32768 + rng_.below(65536);
            text(out, std::min(left, textPart));
            if (out.size() < end) {
                const std::size_t binPart = mostlyBinary ? 16384 + rng_.below(32768) : 4096 + rng_.below(12288);
                binary(out, std::min(end - out.size(), binPart));
            }
        }
    }

    uint32_t below(uint32_t n) { return rng_.below(n); }
    double unit() { return double(rng_.next() >> 11) / double(1ULL << 53); }

private:
    Rng rng_;
    std::vector<std::string> words_;
};

bool writeFile(const fs::path &path, const std::string &data)
{
    fs::create_directories(path.parent_path());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), std::streamsize(data.size()));
    return bool(f);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    constexpr std::size_t total = std::size_t(100) << 20;

    Generator gen(0x1234abcd5678ef01ULL);
    std::string data;
    data.reserve(total);
    gen.mixed(data, total, false);
    if (!writeFile(root / "single" / "big.bin", data)) {
        std::fprintf(stderr, "cannot write %s\n", (root / "single" / "big.bin").c_str());
        return 1;
    }

    // Sizes spread over three orders of magnitude, scaled to the total.
    constexpr int files = 400;
    std::vector<double> weights(files);
    double sum = 0;
    for (double &w : weights) {
        w = std::exp(gen.unit() * std::log(1000.0));
        sum += w;
    }
    for (int i = 0; i < files; ++i) {
        const std::size_t size = std::max<std::size_t>(1, std::size_t(weights[i] / sum * double(total)));
        const bool bin = i % 5 == 4;
        char name[64];
        std::snprintf(name, sizeof name, "d%02d/file%03d.%s", i % 12, i, bin ? "dat" : "txt");
        data.clear();
        gen.mixed(data, size, bin);
        if (!writeFile(root / "many" / name, data)) {
            std::fprintf(stderr, "cannot write %s\n", (root / "many" / name).c_str());
            return 1;
        }
    }
    return 0;
}
