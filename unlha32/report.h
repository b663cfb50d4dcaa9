#pragma once
// What one run did, for the caller's output buffer: one line per item, then
// the cause of a failure as the last line (the program shows it as the reason).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace unlha {

class Report {
public:
    // Item lines are kept up to `keepBytes` (the caller's buffer size), so
    // that an archive of any number of entries needs no more memory; the
    // lines past it are only counted as left out.
    explicit Report(std::size_t keepBytes = SIZE_MAX) : keep_(keepBytes) {}

    void item(const char *prefix, const std::string &name);
    // Records a failure. The most serious result wins; every cause of it is
    // reported, on one line.
    void fail(int result, const std::string &cause);
    // Records the failure of one entry: `pattern` with %1 its name and %2
    // `detail`. Entries that fail alike share one cause, which names up to
    // kNamesPerCause of them and counts the rest.
    void failEntry(int result, const char *pattern, const std::string &entry, const std::string &detail = {});
    // Records a failure that ended the run from outside the extraction (the
    // windows failed, memory ran out): it replaces whatever was recorded,
    // the cancel that stopped the extraction included.
    void failOver(int result, const std::string &cause);
    void skipped(const char *prefix, const std::string &name);

    // Entries named in one cause; the rest are counted.
    static constexpr std::size_t kNamesPerCause = 5;
    // Causes on the line; entries that fail otherwise still are counted.
    static constexpr std::size_t kCausesShown = 4;

    int result() const;
    std::string text() const;
    // The cause of the failure, empty when the result is 0.
    std::string causeLine() const;
    // NUL-terminated; when it does not fit, item lines give way first so that
    // the cause is kept; cut on a character boundary; nothing when size is 0.
    void write(char *output, uint32_t size) const;

private:
    // One cause of the result: a whole text, or a pattern with the entries
    // that failed so.
    struct Cause {
        std::string text;             // the whole cause when pattern is null
        const char *pattern = nullptr;
        std::string detail;
        std::vector<std::string> names; // up to kNamesPerCause
        uint64_t unnamed = 0;           // entries past those
    };
    // Whether `result` wins over the result so far; a new winner drops the
    // causes of the old one.
    bool takes(int result);
    std::string causeText(const Cause &c) const;

    std::size_t keep_;
    std::string items_; // item lines, each ending in '\n'
    bool omitted_ = false;
    int result_ = 0;
    std::vector<Cause> causes_; // of result_, in the order they came
    uint64_t uncounted_ = 0;    // entries that failed past kCausesShown causes
    int skippedCount_ = 0;
};

// "%1" and "%2" in `pattern` replaced.
std::string format(const char *pattern, const std::string &a1, const std::string &a2 = {});
// A system error in Japanese words, independent of the locale.
std::string systemErrorText(int err);
// Whether a system error means the destination as a whole cannot go on
// (full, read-only, gone, failing), not just one name in it.
bool concernsDestination(int err);

} // namespace unlha
