// The X11 display the library's dialogs open on, and the owner relation of
// their windows to a host's window.
#pragma once

#include <cstdint>

namespace vimbra::platform {

// Opens the display named by $DISPLAY; nullptr (quietly) when there is none
// or it cannot be reached. The result is an Xlib Display*.
void* OpenX11Display();
void CloseX11Display(void* display);

// Marks `window` as transient for `owner` (both X11 window ids on `display`),
// so window managers keep it above its owner. False, without an X error
// reaching the host, when `owner` is not a window of that display.
bool SetTransientFor(void* display, uintptr_t window, uintptr_t owner);

}  // namespace vimbra::platform
