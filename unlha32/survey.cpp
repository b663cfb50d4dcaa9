#include "unlha32/survey.h"

#include "unlha32/writer.h"

#include <algorithm>

namespace unlha {

Survey::Survey(int fd, uint64_t fileSize, const Observer &obs, NameDecoder &names)
{
    std::unordered_set<std::string> os2Files;
    HeaderWalker walk(fd, fileSize, std::nullopt, [&obs] { return obs.cancelled(); });
    Entry e;
    while (walk.next(e)) {
        // A million headers take a while to read from a cold disk.
        if (entries % 1024 == 1023 && obs.cancelled()) {
            cancelled = true;
            return;
        }
        ++entries;
        if (e.kind == EntryKind::File) {
            ++files;
            totalBytes += e.originalSize;
            largest = std::max(largest, e.originalSize);
        }
        if (e.osId == '2' || !os2Files.empty())
            noteOs2(e, names, os2Files);
        last = std::move(e);
    }
    status = walk.status();
    cancelled = status == ScanStatus::Cancelled;
    badEntryRawName = walk.badEntryRawName();
    firstOffset = walk.firstOffset();
}

void Survey::noteOs2(const Entry &e, NameDecoder &names, std::unordered_set<std::string> &os2Files)
{
    const DecodedPath path = names.decodePath(e.rawDir, e.rawName);
    for (std::size_t i = 1; i < path.components.size(); ++i) {
        const std::string key = pathKey(path.components, i);
        if (os2Files.count(key))
            os2Folders.insert(key);
    }
    if (e.osId == '2' && e.kind == EntryKind::File && !path.components.empty())
        os2Files.insert(pathKey(path.components, path.components.size()));
}

} // namespace unlha
