// Millisecond clocks and sleeping with the semantics of the Win32 calls the
// library was designed around: 32-bit counters that wrap after ~49.7 days.
#pragma once

#include <cstdint>

namespace vimbra::platform {

// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();

// Milliseconds from the multimedia timer, wrapping at 2^32 (timeGetTime).
uint32_t TimeGetTime();

// Suspends the calling thread for at least `ms` milliseconds (Sleep).
void SleepMs(uint32_t ms);

// A replacement for SleepMs that tests install to skip protocol waits; it
// receives the requested milliseconds. Passing nullptr restores real sleeping.
using SleepHook = void (*)(uint32_t ms);
void SetSleepHook(SleepHook hook);

// The value timed waits take to mean "no time limit" (INFINITE).
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

}  // namespace vimbra::platform
