// Message windows on Windows are plain Win32 windows: posting is PostMessageA,
// and hosts read them with GetMessage or PeekMessage as they always have.
#include <windows.h>

// The platform functions share their names with the system's A/W macros.
#undef GetMessage
#undef PostMessage

#include "platform/messages.h"

namespace vimbra::platform {
namespace {

constexpr char kClassName[] = "VimbraMessageWindow";

// Registers the window class of message windows once per process.
bool RegisterClassOnce() {
    static const bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = kClassName;
        return ::RegisterClassExA(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return registered;
}

}  // namespace

HWND CreateMessageWindow() {
    if (!RegisterClassOnce()) return nullptr;
    return ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             ::GetModuleHandleA(nullptr), nullptr);
}

bool DestroyMessageWindow(HWND window) {
    return window != nullptr && ::DestroyWindow(window) != FALSE;
}

bool IsMessageWindow(HWND window) {
    return window != nullptr && ::IsWindow(window) != FALSE;
}

bool PostMessage(HWND window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return ::PostMessageA(window, message, wparam, lparam) != FALSE;
}

GetResult GetMessage(HWND window, Message* out, uint32_t timeout_ms) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (window != nullptr && !::IsWindow(window)) return GetResult::kNoWindow;
        MSG msg;
        // A null window reads only the thread's own queue (messages posted to no window).
        const BOOL got = window != nullptr
                             ? ::PeekMessageA(&msg, window, 0, 0, PM_REMOVE)
                             : ::PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE);
        if (got) {
            *out = Message{msg.hwnd, msg.message, msg.wParam, msg.lParam};
            return GetResult::kMessage;
        }
        DWORD wait = INFINITE;
        if (timeout_ms != kInfinite) {
            const DWORD elapsed = ::GetTickCount() - start;
            if (elapsed >= timeout_ms) return GetResult::kEmpty;
            wait = timeout_ms - elapsed;
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLPOSTMESSAGE);
    }
}

bool SetMessageCallback(HWND, MessageCallback, void*) {
    // Win32 hosts run their own message loop; there is no library thread that
    // hands messages out.
    return false;
}

}  // namespace vimbra::platform
