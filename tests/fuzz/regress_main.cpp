// Runs a fuzz target's entry function once on every file named on the
// command line or found in a folder named there, without the fuzzer, so
// that the ordinary test run replays the seeds and every past finding.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

void collect(const std::string &path, std::vector<std::string> &files)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "missing: %s\n", path.c_str());
        std::exit(2);
    }
    if (!S_ISDIR(st.st_mode)) {
        files.push_back(path);
        return;
    }
    std::vector<std::string> names;
    if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const auto &n : names)
        collect(path + "/" + n, files);
}

} // namespace

int main(int argc, char **argv)
{
    // Read everything first: a target may change the working folder.
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i)
        collect(argv[i], files);
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const auto &f : files) {
        std::ifstream in(f, std::ios::binary);
        inputs.emplace_back(f, std::string(std::istreambuf_iterator<char>(in), {}));
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs\n");
        return 2;
    }
    for (const auto &[name, bytes] : inputs) {
        std::fprintf(stderr, "%s\n", name.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "%zu inputs passed\n", inputs.size());
    return 0;
}
