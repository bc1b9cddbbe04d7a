// Win32-style events and a recursive lock with critical-section semantics.
// On Windows an event is the system's event object; elsewhere a condition
// variable.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace vimbra::platform {

// An event object: auto-reset events release one waiter and clear themselves,
// manual-reset events stay signalled until Reset.
class Event {
  public:
    enum class Mode { kAutoReset, kManualReset };

    explicit Event(Mode mode, bool initially_set = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // Waits up to `timeout_ms` (kInfinite for no limit); true when signalled.
    bool Wait(uint32_t timeout_ms = kInfinite);

  private:
#if defined(_WIN32)
    void* handle_;  // the event object; nullptr when it could not be made
#else
    std::mutex mutex_;
    std::condition_variable cv_;
    const Mode mode_;
    bool signalled_;
#endif
};

// A lock the owning thread may enter again (CRITICAL_SECTION). Meets the
// Lockable requirements, so std::lock_guard and std::unique_lock work on it.
class RecursiveLock {
  public:
    void Enter() { mutex_.lock(); }
    bool TryEnter() { return mutex_.try_lock(); }
    void Leave() { mutex_.unlock(); }

    void lock() { Enter(); }
    bool try_lock() { return TryEnter(); }
    void unlock() { Leave(); }

  private:
    std::recursive_mutex mutex_;
};

}  // namespace vimbra::platform
