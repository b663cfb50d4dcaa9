// Extracts one archive through the library's internals with an observer
// that records how often progress came, and optionally asks to cancel after
// a given time; prints the result, the time, the longest wait between two
// progress reports and how long the cancel took to be answered.
//   stress-driver ARCHIVE DEST [CANCEL_AFTER_SECONDS]
#include "unlha32/extract.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

struct Watch : unlha::Observer {
    Clock::time_point start = Clock::now();
    Clock::time_point last = start;
    Clock::time_point cancelAt = Clock::time_point::max();
    double longestGap = 0;
    long reports = 0;
    uint64_t total = 0;
    uint64_t done = 0;

    void begin(uint64_t t, std::size_t) override
    {
        total = t;
        last = Clock::now();
    }
    void progress(uint64_t d) override
    {
        const auto now = Clock::now();
        longestGap = std::max(longestGap, std::chrono::duration<double>(now - last).count());
        last = now;
        done = d;
        ++reports;
    }
    bool cancelled() const override { return Clock::now() >= cancelAt; }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s ARCHIVE DEST [CANCEL_AFTER_SECONDS]\n", argv[0]);
        return 2;
    }
    Watch w;
    if (argc == 4)
        w.cancelAt = w.start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(std::atof(argv[3])));
    // The program hands the library a 4 KiB report buffer; keep as much.
    unlha::Report report(4096);
    const int result = unlha::extractArchive(argv[1], argv[2], w, report);
    const auto end = Clock::now();
    std::printf("result %d\nseconds %.3f\nprogress reports %ld, longest gap %.3f s, %llu of %llu bytes\n", result,
                std::chrono::duration<double>(end - w.start).count(), w.reports, w.longestGap,
                static_cast<unsigned long long>(w.done), static_cast<unsigned long long>(w.total));
    if (argc == 4 && end >= w.cancelAt)
        std::printf("cancel answered in %.3f s\n", std::chrono::duration<double>(end - w.cancelAt).count());
    return 0;
}
