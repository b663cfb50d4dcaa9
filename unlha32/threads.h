#pragma once
// Starting a thread fails when the process may not have another one (a low
// limit on address space or processes). The library never lets that end
// the caller's process: whoever wanted the thread goes on with fewer, down
// to the calling thread alone.
#include <atomic>
#include <thread>
#include <utility>

namespace unlha {

// For the tests: how many more thread starts succeed before the rest fail
// as the system would refuse them; negative (the default) for no limit.
inline std::atomic<int> threadStartsLeft{-1};

// Starts `fn` on `thread`; false, with `thread` left empty, when the system
// (or the tests' limit) refuses.
template <class Fn>
bool startThread(std::thread &thread, Fn &&fn) noexcept
{
    int left = threadStartsLeft.load(std::memory_order_relaxed);
    while (left > 0 && !threadStartsLeft.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
    }
    if (left == 0)
        return false;
    try {
        thread = std::thread(std::forward<Fn>(fn));
        return true;
    } catch (...) {
        // std::system_error when the system has no thread to give, or
        // std::bad_alloc for the thread's own state.
        return false;
    }
}

} // namespace unlha
