#pragma once
// An open folder of the destination, shared by the writer's cache and
// everyone who holds it.
#include <memory>

namespace unlha {

// The descriptor stays open, naming this very folder, as long as anyone
// holds it, whatever the cache drops or opens meanwhile.
class Folder {
public:
    Folder() = default;
    int fd() const { return open_ ? open_->fd : -1; }
    explicit operator bool() const { return open_ != nullptr; }

private:
    friend class SafeWriter;
    struct Open {
        explicit Open(int f) : fd(f) {}
        ~Open();
        Open(const Open &) = delete;
        Open &operator=(const Open &) = delete;
        int fd;
    };
    explicit Folder(int fd) : open_(std::make_shared<Open>(fd)) {}
    // Someone besides the one asking holds it.
    bool held() const { return open_.use_count() > 1; }
    std::shared_ptr<Open> open_;
};

} // namespace unlha
