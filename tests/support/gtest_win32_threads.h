// GoogleTest's headers name std::mutex and std::condition_variable (for a helper class only
// its own tests use). This mingw's win32 thread model has neither, so give them minimal
// stand-ins: a spin lock and a polling wait. Force-included into GoogleTest and its users.
#pragma once
#ifdef __cplusplus
#include <atomic>
#include <mutex>
#include <condition_variable>
#if !defined(_GLIBCXX_HAS_GTHREADS)
namespace std {
class mutex {
public:
    mutex() = default;
    mutex(const mutex&) = delete;
    mutex& operator=(const mutex&) = delete;
    void lock() {
        while (locked_.exchange(true, std::memory_order_acquire)) {
        }
    }
    bool try_lock() { return !locked_.exchange(true, std::memory_order_acquire); }
    void unlock() { locked_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> locked_{false};
};

class condition_variable {
public:
    void notify_one() {}
    void notify_all() {}
    template <typename Predicate> void wait(unique_lock<mutex>& lock, Predicate ready) {
        while (!ready()) {
            lock.unlock();
            lock.lock();
        }
    }
};
}  // namespace std
#endif
#endif
