#include "platform/x11_display.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <mutex>

namespace vimbra::platform {
namespace {

int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

void* OpenX11Display() {
    return XOpenDisplay(nullptr);
}

void CloseX11Display(void* display) {
    if (display != nullptr) XCloseDisplay(static_cast<Display*>(display));
}

bool SetTransientFor(void* display, uintptr_t window, uintptr_t owner) {
    if (display == nullptr || window == 0 || owner == 0) return false;
    auto* d = static_cast<Display*>(display);
    // The owner id comes from the host; a wrong one must not end in the
    // default error handler, which exits the process.
    static std::mutex handler_mutex;
    std::lock_guard lock(handler_mutex);
    XSync(d, False);
    const auto previous = XSetErrorHandler(IgnoreXError);
    XWindowAttributes attributes;
    const bool exists = XGetWindowAttributes(d, static_cast<Window>(owner), &attributes) != 0;
    if (exists) XSetTransientForHint(d, static_cast<Window>(window), static_cast<Window>(owner));
    XSync(d, False);
    XSetErrorHandler(previous);
    return exists;
}

}  // namespace vimbra::platform
