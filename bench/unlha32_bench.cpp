// Extracts one archive with libunlha32.so from this program's own folder,
// without an owner window, and prints the result and the time it took.
//   unlha32-bench ARCHIVE DEST [--report]
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "unlha32/unlha32.h"

static std::string ownFolder()
{
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string path(buf.data(), std::size_t(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

int main(int argc, char **argv)
{
    if (argc < 3 || (argc == 4 && std::strcmp(argv[3], "--report") != 0) || argc > 4) {
        std::fprintf(stderr, "usage: %s ARCHIVE DEST [--report]\n", argv[0]);
        return 2;
    }
    const bool report = argc == 4;
    const std::string lib = ownFolder() + "/libunlha32.so";
    void *handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "cannot load %s: %s\n", lib.c_str(), dlerror());
        return 2;
    }
    auto unlha = reinterpret_cast<UnlhaFn>(dlsym(handle, "Unlha"));
    if (!unlha) {
        std::fprintf(stderr, "no Unlha in %s\n", lib.c_str());
        return 2;
    }

    std::string dest = argv[2];
    if (dest.empty() || dest.back() != '/')
        dest += '/';
    const std::string command = "e \"" + std::string(argv[1]) + "\" \"" + dest + "\"";
    // The program passes no buffer; the report is only built when asked for.
    std::vector<char> out(report ? 1 << 20 : 1, '\0');

    const auto t0 = std::chrono::steady_clock::now();
    const int result = unlha(0, command.c_str(), out.data(), report ? uint32_t(out.size()) : 0);
    const auto t1 = std::chrono::steady_clock::now();

    if (report)
        std::fputs(out.data(), stdout);
    std::printf("result %d seconds %.4f\n", result,
                std::chrono::duration<double>(t1 - t0).count());
    return result == UNLHA_OK ? 0 : 1;
}
