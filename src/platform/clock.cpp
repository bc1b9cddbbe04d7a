#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace vimbra::platform {
namespace {

std::atomic<SleepHook> g_sleep_hook{nullptr};

uint32_t MonotonicMs() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

}  // namespace

uint32_t TickCount() {
    return MonotonicMs();
}

uint32_t TimeGetTime() {
    return MonotonicMs();
}

void SleepMs(uint32_t ms) {
    if (SleepHook hook = g_sleep_hook.load(std::memory_order_acquire)) {
        hook(ms);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetSleepHook(SleepHook hook) {
    g_sleep_hook.store(hook, std::memory_order_release);
}

}  // namespace vimbra::platform
