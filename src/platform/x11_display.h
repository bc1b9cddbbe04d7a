// The library's own X11 connections (the display windows' and the dialogs'),
// and the owner relation of the dialogs' windows to a host's window.
//
// X errors on the library's connections are recorded per connection instead
// of reaching the host's handler, and a connection whose server goes away
// (the display closes, the server is killed, a forwarded connection drops)
// ends without ending the process. The host's own connections keep the
// handlers that were installed before.
#pragma once

#include <cstdint>

namespace vimbra::platform {

// Opens a connection of the library's own to the display `name` (the one in
// $DISPLAY when nullptr); nullptr, quietly, when it cannot be reached. The
// result is an Xlib Display*.
void* OpenX11Connection(const char* name);
void CloseX11Connection(void* display);

// Waits for the server to handle everything sent so far and returns (and
// clears) the last error it reported on the connection; 0 when none.
int SyncX11Connection(void* display);

// True once the connection's server has gone away. Xlib calls on it then do
// nothing; it stays to be closed.
bool X11ConnectionLost(void* display);

// The dialogs' display: the one named by $DISPLAY.
void* OpenX11Display();
void CloseX11Display(void* display);

// Marks `window` as transient for `owner` (both X11 window ids on `display`,
// a connection of the library's own), so window managers keep it above its
// owner. False, without an X error reaching the host, when `owner` is not a
// window of that display.
bool SetTransientFor(void* display, uintptr_t window, uintptr_t owner);

}  // namespace vimbra::platform
