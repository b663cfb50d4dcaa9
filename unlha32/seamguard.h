#pragma once
// The companion's side of the seam: its Observer as the seam's callbacks.
// A call that throws (memory gone, a window that failed) answers
// UNLHA32UI_FAILED instead, so that no exception crosses into the library.
#include "unlha32/observer.h"
#include "unlha32/uiseam.h"

namespace unlha {

namespace seam_detail {

template <class Call>
int guarded(Call &&call) noexcept
{
    try {
        return call();
    } catch (...) {
        return UNLHA32UI_FAILED;
    }
}

inline Observer &of(void *self) { return *static_cast<Observer *>(self); }

} // namespace seam_detail

inline unlha32ui_observer seamObserver(Observer &o)
{
    using seam_detail::guarded;
    using seam_detail::of;
    unlha32ui_observer c{};
    c.self = &o;
    c.begin = [](void *s, uint64_t total, size_t files) {
        return guarded([&] { of(s).begin(total, files); return 0; });
    };
    c.entry = [](void *s, const char *name) { return guarded([&] { of(s).entry(name); return 0; }); };
    c.files_done = [](void *s, size_t count) { return guarded([&] { of(s).filesDone(count); return 0; }); };
    c.progress = [](void *s, uint64_t done) { return guarded([&] { of(s).progress(done); return 0; }); };
    c.ask_overwrite = [](void *s, const char *path) {
        return guarded([&] { return static_cast<int>(of(s).askOverwrite(path)); });
    };
    c.asks_user = [](void *s) { return guarded([&] { return of(s).asksUser() ? 1 : 0; }); };
    c.cancelled = [](void *s) { return guarded([&] { return of(s).cancelled() ? 1 : 0; }); };
    return c;
}

} // namespace unlha
