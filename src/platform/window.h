// Display windows: window classes, top-level and child windows with a title,
// style, size and visibility, and a drawing surface per window that the
// GDI-style blits draw into. What is drawn is shown by the window-system back
// end: real Win32 windows on Windows, an X11 window when a display is
// available, or nothing beyond the window's pixels in memory (off-screen).
// Window handles issued without Win32 are odd numbers, so they never equal
// the even handles of the message windows (platform/messages.h); on Windows
// a display window's handle is its HWND.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/bitmap.h"

namespace vimbra::platform {

// Window styles with their Win32 values.
inline constexpr uint32_t kWsChild = 0x40000000;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsClipSiblings = 0x04000000;
inline constexpr uint32_t kWsClipChildren = 0x02000000;
inline constexpr uint32_t kWsOverlappedWindow = 0x00CF0000;

enum class WindowBackendKind { kOffscreen, kX11, kWin32 };

// The back end in use; chosen on first use: off-screen when the environment
// variable VIMBRA_WINDOWS is "offscreen"; otherwise Win32 on Windows, and
// elsewhere X11, or off-screen when no X display can be opened.
WindowBackendKind ActiveWindowBackend();
// Switches the back end (tests, benchmarks); `display` names the X display
// for kX11 (nullptr: $DISPLAY). False, and nothing changes, while windows
// exist or when the back end cannot be used here.
bool SelectWindowBackend(WindowBackendKind kind, const char* display = nullptr);
// Chooses the back end again as on first use, from the environment as it is
// now; false while windows exist.
bool SelectDefaultWindowBackend();

// Registers a class name; false when it is empty, too long or taken.
bool RegisterWindowClass(const char* name);
// False when the name is unknown or windows of the class still exist.
bool UnregisterWindowClass(const char* name);

struct WindowRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// Grows a client rectangle to the window rectangle of `style` (the frame and
// title bar the back end draws around it); false for a null rectangle or one
// whose grown edges would not fit 32-bit coordinates.
bool AdjustWindowRect(WindowRect* rect, uint32_t style);
// Width and height of the screen in pixels.
void GetScreenSize(int32_t* width, int32_t* height);

// The widest and tallest window there is: Win32 reports window sizes, and X11
// window coordinates, in 16-bit signed values. Each window keeps a drawing
// surface of its whole client area, so a larger request is refused.
inline constexpr int32_t kMaxWindowExtent = 32767;

struct WindowParams {
    const char* class_name = nullptr;
    const char* title = "";
    uint32_t style = 0;
    int32_t x = 0;  // window position: in the parent's client area for a child
    int32_t y = 0;
    int32_t width = 0;  // window size, frame included
    int32_t height = 0;
    HWND parent = nullptr;  // required for kWsChild
    int32_t id = 0;         // control id of a child
};

// Creates a window; nullptr for an unregistered class, a child without a
// valid parent, a negative size or one above kMaxWindowExtent, edges beyond
// 32-bit coordinates, or when the back end fails. A parent is valid when it
// is a message window, a display window, or an X11 window made known with
// WindowFromX11; on Windows any window of the host.
HWND CreateWindow(const WindowParams& params);
// Destroys a window and its drawing surface; false when unknown.
bool DestroyWindow(HWND window);
bool IsDisplayWindow(HWND window);
// Shows or hides; false when unknown.
bool ShowWindow(HWND window, bool show);
// Visible while shown and not destroyed by the window system (e.g. with the
// host's parent window); false when unknown.
bool IsWindowVisible(HWND window);
// The client rectangle (0, 0, width, height); false when unknown.
bool GetClientRect(HWND window, WindowRect* rect);
// Resizes the client area, as the host or the user may do; false for an
// unknown window or a size outside 0..kMaxWindowExtent.
bool ResizeWindow(HWND window, int32_t width, int32_t height);

// What a window was created with, for hosts and tests.
struct WindowDescription {
    std::string class_name;
    std::string title;
    uint32_t style = 0;
    WindowRect window_rect;  // position and size with the frame
    HWND parent = nullptr;
    int32_t id = 0;
};
bool DescribeWindow(HWND window, WindowDescription* out);

// A copy of what the window shows: its client area as a top-down 32-bit
// B, G, R, 0 picture (stride width x 4). False when unknown.
struct WindowPixels {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bits;
};
bool ReadWindowPixels(HWND window, WindowPixels* out);

// An HWND standing for an X11 window of the host (its XID), to be used as a
// parent; the same XID always gives the same handle. nullptr when the X11
// back end is not active or the window does not exist on its display.
HWND WindowFromX11(unsigned long xid);
// The X11 window behind a handle: the host's window of WindowFromX11 or the
// native window of a display window; 0 for any other handle.
unsigned long X11WindowOf(HWND window);

// The drawing surface of a window, kept from GetWindowDc to ReleaseWindowDc.
class WindowDc;
WindowDc* GetWindowDc(HWND window);
bool ReleaseWindowDc(HWND window, WindowDc* dc);

// The blits of platform/bitmap.h with a window as destination: they draw
// into the client area and show the result. 0 when the dc or the source has
// nothing to draw, as for memory dcs.
int StretchBlt(WindowDc* dst, int x, int y, int w, int h, DeviceContext* src, int src_x, int src_y,
               int src_w, int src_h);
int BitBlt(WindowDc* dst, int x, int y, int w, int h, DeviceContext* src, int src_x, int src_y);

}  // namespace vimbra::platform
