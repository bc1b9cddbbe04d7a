// Millisecond clocks and sleeping on Windows: the system tick counter, the
// multimedia timer and Sleep.
#include <windows.h>
// The multimedia timer's declarations need <windows.h> before them.
#include <mmsystem.h>

#include <atomic>

#include "platform/clock.h"

namespace vimbra::platform {
namespace {

std::atomic<SleepHook> g_sleep_hook{nullptr};

}  // namespace

uint32_t TickCount() {
    return ::GetTickCount();
}

uint32_t TimeGetTime() {
    return ::timeGetTime();
}

void SleepMs(uint32_t ms) {
    if (SleepHook hook = g_sleep_hook.load(std::memory_order_acquire)) {
        hook(ms);
        return;
    }
    ::Sleep(ms);
}

void SetSleepHook(SleepHook hook) {
    g_sleep_hook.store(hook, std::memory_order_release);
}

}  // namespace vimbra::platform
