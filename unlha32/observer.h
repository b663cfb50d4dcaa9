#pragma once
// What the extraction tells the one who watches it, and asks of it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace unlha {

enum class OverwriteAnswer { Replace, Skip, ReplaceAll, SkipAll, Cancel };

// Every call comes from the thread that does the work. The defaults are the
// behaviour without an owner window: nothing shown, existing files kept.
class Observer {
public:
    virtual ~Observer() = default;
    // `fileCount`: the files among the entries (folders and links not counted).
    virtual void begin(uint64_t totalBytes, std::size_t fileCount) { (void)totalBytes; (void)fileCount; }
    // The entry being taken up now.
    virtual void entry(const std::string &utf8Name) { (void)utf8Name; }
    // How many files are done: extracted, skipped or failed.
    virtual void filesDone(std::size_t count) { (void)count; }
    virtual void progress(uint64_t bytesDone) { (void)bytesDone; }
    // `utf8Path` (relative to the destination) exists already. The extractor
    // remembers "all" answers itself; this is asked once per file otherwise.
    virtual OverwriteAnswer askOverwrite(const std::string &utf8Path) { (void)utf8Path; return OverwriteAnswer::Skip; }
    // Whether askOverwrite() puts the question to a person: a file kept by
    // their answer is their choice, one kept by the default is not.
    virtual bool asksUser() const { return false; }
    // Polled often while working; true once the user asked to stop.
    virtual bool cancelled() const { return false; }
};

} // namespace unlha
