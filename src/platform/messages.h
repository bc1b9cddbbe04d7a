// The library's own window system for hosts without Win32: message windows
// identified by HWND values this module issues, with PostMessageA semantics.
#pragma once

#include <cstdint>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/clock.h"

namespace vimbra::platform {

struct Message {
    HWND window;  // nullptr for a message posted to a thread's own queue
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};

// Posted messages a single queue holds before further posts are dropped.
inline constexpr int kMaxQueuedMessages = 10000;

enum class GetResult { kMessage, kEmpty, kNoWindow };

using MessageCallback = void (*)(void* user, HWND window, uint32_t message, uintptr_t wparam,
                                 intptr_t lparam);

HWND CreateMessageWindow();
// Destroys the window and drops its queue; false when it does not exist.
bool DestroyMessageWindow(HWND window);
bool IsMessageWindow(HWND window);

// Queues a message and returns at once from any thread. A null window means
// the calling thread's own queue. False, quietly, for an unknown window or a
// full queue.
bool PostMessage(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Takes the oldest message of a window (null: the calling thread's queue),
// waiting up to `timeout_ms` (kInfinite: no limit; 0: do not wait).
GetResult GetMessage(HWND window, Message* out, uint32_t timeout_ms);

// Registers a callback that receives, on a thread of the window system and in
// posting order, every message posted to the window from now on (including
// those still queued). nullptr unregisters it and returns to queueing.
bool SetMessageCallback(HWND window, MessageCallback callback, void* user);

}  // namespace vimbra::platform
