// The seam between the display windows of platform/window.h and the window
// system that shows them. A back end creates one native window per display
// window (or none, when the window lives in memory only) and reports what the
// window system does to it.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/bitmap.h"
#include "platform/window.h"

namespace vimbra::platform {

// What the window system did to a native window; called on the back end's
// own thread, never while the back end holds a lock of its own.
class NativeWindowEvents {
  public:
    virtual ~NativeWindowEvents() = default;
    virtual void NativeResized(int32_t width, int32_t height) = 0;
    // Part of the window needs drawing again from what it showed last.
    virtual void NativeExposed() = 0;
    // The window system destroyed the window, e.g. with the host's parent.
    virtual void NativeGone() = 0;
    // The user asked to close a top-level window.
    virtual void NativeCloseRequested() = 0;
};

class NativeWindow {
  public:
    // Destroys the native window (unless the window system already did) and
    // stops reporting events before it returns.
    virtual ~NativeWindow() = default;
    virtual void Show(bool show) = 0;
    virtual void Resize(int32_t width, int32_t height) = 0;
    // Shows the client area from a top-down 32-bit B, G, R, 0 picture.
    virtual void Present(const DibView& pixels) = 0;
    // Pixel memory for the window's top-down 32-bit backing store of this
    // size (stride width x 4), owned by the native window and kept until the
    // next call or its destruction, so that presenting the store needs no
    // copy; nullptr lets the window registry allocate the store.
    virtual uint8_t* Surface(int32_t /*width*/, int32_t /*height*/) { return nullptr; }
    // The X11 window id, 0 when there is none.
    virtual unsigned long Xid() const = 0;
    // The window system's own handle when it is an HWND (Win32), which then
    // also names the display window; nullptr otherwise.
    virtual HWND Handle() const { return nullptr; }
};

struct NativeWindowParams {
    const char* class_name = "";
    const char* title = "";
    uint32_t style = 0;  // as created, kWsChild and kWsVisible included
    int32_t id = 0;      // control id of a child
    bool child = false;
    bool visible = false;
    int32_t x = 0;  // client area position (in the parent for a child)
    int32_t y = 0;
    int32_t width = 0;  // client area size
    int32_t height = 0;
    unsigned long parent_xid = 0;  // X11 parent of a child, 0 when it has none
    HWND parent = nullptr;         // parent of a child as the host named it, or its Handle()
};

class WindowBackend {
  public:
    virtual ~WindowBackend() = default;
    virtual WindowBackendKind Kind() const = 0;
    virtual void ScreenSize(int32_t* width, int32_t* height) = 0;
    // Thickness of the frame around the client area of a window of `style`
    // (left, top, right, bottom).
    virtual WindowRect FrameInsets(uint32_t style) const = 0;
    // False when the window system refused; true with *out left empty when
    // the window needs no native side (it lives in memory only).
    virtual bool CreateNative(const NativeWindowParams& params, NativeWindowEvents* events,
                              std::unique_ptr<NativeWindow>* out) = 0;
    virtual bool X11WindowExists(unsigned long xid) = 0;
    // True once the window system has gone away (an X server that closed);
    // the registry then chooses a back end anew before the next window.
    virtual bool Lost() { return false; }
    // Window classes of the window system, registered and unregistered with
    // the display windows' own; false when the window system refused.
    virtual bool RegisterNativeClass(const char* /*name*/) { return true; }
    virtual void UnregisterNativeClass(const char* /*name*/) {}
};

std::unique_ptr<WindowBackend> MakeOffscreenBackend();
// nullptr when the display cannot be opened or has no 24-bit true-colour
// visual with 32-bit pixels; also when the library was built without X11.
std::unique_ptr<WindowBackend> MakeX11Backend(const char* display);
#if defined(_WIN32)
// Real Win32 windows, made and served by a thread of the library's own.
std::unique_ptr<WindowBackend> MakeWin32Backend();
#endif

}  // namespace vimbra::platform
