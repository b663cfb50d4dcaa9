#pragma once
// The two walks over the headers: a survey first (how many entries and
// bytes, where the first header lies, how the walk ended), then the entries
// again for the extraction, one at a time, however many there are.
#include "unlha32/lzhheader.h"
#include "unlha32/names.h"
#include "unlha32/observer.h"

#include <cstdint>
#include <string>
#include <unordered_set>

namespace unlha {

// What the first walk over the headers learns; only the entries themselves
// are not kept, however many there are.
struct Survey {
    ScanStatus status = ScanStatus::Ok;
    std::string badEntryRawName;
    uint64_t entries = 0;
    uint64_t totalBytes = 0;
    uint64_t largest = 0;
    uint64_t files = 0;
    bool cancelled = false;
    uint64_t firstOffset = 0;
    Entry last; // for the cause when the walk ended on damage
    // LH/2 for OS/2 stores a folder's extended attributes as a file entry
    // under the folder's name, ahead of its contents: those entries that a
    // later entry needs as a folder (paths as pathKey() gives them).
    std::unordered_set<std::string> os2Folders;

    // Walks the headers of the archive open on `fd`.
    Survey(int fd, uint64_t fileSize, const Observer &obs, NameDecoder &names);

private:
    void noteOs2(const Entry &e, NameDecoder &names, std::unordered_set<std::string> &os2Files);
};

// The entries again, in the same order, for the extraction: the first
// walk's count of them, read one at a time.
class EntrySource {
public:
    EntrySource(int fd, uint64_t fileSize, uint64_t first, uint64_t count)
        : walk_(fd, fileSize, first), left_(count)
    {
    }
    bool next(Entry &e)
    {
        if (left_ == 0)
            return false;
        if (!walk_.next(e)) {
            // The file changed since the first walk.
            changed_ = true;
            left_ = 0;
            return false;
        }
        --left_;
        return true;
    }
    bool changed() const { return changed_; }

private:
    HeaderWalker walk_;
    uint64_t left_;
    bool changed_ = false;
};

} // namespace unlha
