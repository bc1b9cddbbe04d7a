#include "platform/window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <unordered_map>

#include "platform/messages.h"
#include "platform/window_backend.h"

namespace vimbra::platform {

// One display window: what it was created with, its client size and
// visibility, the backing store its dc draws into, and its native side.
class Window final : public NativeWindowEvents {
  public:
    ~Window() override { DropStore(); }

    // Gives the backing store the client size; false when there is none.
    bool EnsureStore() {
        if (client_w <= 0 || client_h <= 0) return false;
        if (store != nullptr) {
            DibView v = GetDibView(dc);
            if (v.width == client_w && v.height == client_h) return true;
            DropStore();
        }
        if (dc == nullptr) dc = CreateCompatibleDc(nullptr);
        if (dc == nullptr) return false;
        BitmapInfo info{};
        info.bmiHeader.biSize = sizeof(BitmapInfoHeader);
        info.bmiHeader.biWidth = client_w;
        info.bmiHeader.biHeight = -client_h;  // top-down, as a screen is
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        uint8_t* surface =
            native != nullptr && !gone ? native->Surface(client_w, client_h) : nullptr;
        uint8_t* bits = nullptr;
        store = surface != nullptr ? CreateDibSectionOn(&info, surface)
                                   : CreateDibSection(nullptr, &info, &bits);
        if (store == nullptr) return false;
        default_bitmap = SelectBitmap(dc, store);
        return true;
    }

    void DropStore() {
        if (store != nullptr) {
            SelectBitmap(dc, default_bitmap);
            DeleteBitmap(store);
            store = nullptr;
        }
        if (dc != nullptr) {
            DeleteDc(dc);
            dc = nullptr;
        }
    }

    bool Visible() const { return shown && !gone && !destroyed; }

    void PresentStore() {
        if (native != nullptr && !gone && store != nullptr) native->Present(GetDibView(dc));
    }

    void NativeResized(int32_t width, int32_t height) override {
        std::lock_guard<std::mutex> lock(mutex);
        client_w = std::clamp(width, 0, kMaxWindowExtent);
        client_h = std::clamp(height, 0, kMaxWindowExtent);
    }
    void NativeExposed() override {
        std::lock_guard<std::mutex> lock(mutex);
        PresentStore();
    }
    void NativeGone() override {
        std::lock_guard<std::mutex> lock(mutex);
        gone = true;
    }
    void NativeCloseRequested() override {
        // Closing a preview belongs to the library; the user's request only
        // hides the window until then.
        std::lock_guard<std::mutex> lock(mutex);
        shown = false;
        if (native != nullptr && !gone) native->Show(false);
    }

    std::mutex mutex;
    WindowDescription description;  // fixed after creation
    int32_t client_w = 0;           // the rest guarded by `mutex`
    int32_t client_h = 0;
    bool shown = false;
    bool gone = false;       // destroyed by the window system
    bool destroyed = false;  // destroyed by DestroyWindow
    DeviceContext* dc = nullptr;
    Bitmap* store = nullptr;  // top-down 32-bit client area
    Bitmap* default_bitmap = nullptr;
    std::unique_ptr<NativeWindow> native;
};

class WindowDc {
  public:
    explicit WindowDc(std::shared_ptr<Window> w) : window(std::move(w)) {}
    std::shared_ptr<Window> window;
};

namespace {

constexpr size_t kMaxClassName = 255;
// Odd handles, far from the message windows' even ones and from small
// integers.
constexpr uintptr_t kDisplayHandleBase = 0x40000001;

struct Registry {
    std::mutex mutex;  // guards every member below
    std::unique_ptr<WindowBackend> backend;
    std::unordered_map<uintptr_t, std::shared_ptr<Window>> windows;
    std::map<std::string, int> classes;  // name -> windows of the class
    std::unordered_map<unsigned long, uintptr_t> x11_by_xid;
    std::unordered_map<uintptr_t, unsigned long> x11_by_handle;
    uintptr_t next = 0;

    uintptr_t NewHandle() { return kDisplayHandleBase + 2 * next++; }

    WindowBackend& Backend() {
        if (backend == nullptr)
            backend = DefaultBackend();
        else if (windows.empty() && backend->Lost())
            Replace(DefaultBackend());
        return *backend;
    }

    static std::unique_ptr<WindowBackend> DefaultBackend() {
        std::unique_ptr<WindowBackend> b;
        const char* choice = std::getenv("VIMBRA_WINDOWS");
        if (choice == nullptr || std::strcmp(choice, "offscreen") != 0) b = SystemBackend();
        return b != nullptr ? std::move(b) : MakeOffscreenBackend();
    }

    // The window system of the platform the library was built for.
    static std::unique_ptr<WindowBackend> SystemBackend(const char* display = nullptr) {
#if defined(_WIN32)
        (void)display;
        return MakeWin32Backend();
#else
        return MakeX11Backend(display);
#endif
    }

    // Replaces the back end while no window exists.
    bool Replace(std::unique_ptr<WindowBackend> b) {
        if (!windows.empty() || b == nullptr) return false;
        backend = std::move(b);
        x11_by_xid.clear();
        x11_by_handle.clear();
        return true;
    }

    std::shared_ptr<Window> Find(HWND window) {
        auto it = windows.find(reinterpret_cast<uintptr_t>(window));
        return it == windows.end() ? nullptr : it->second;
    }
};

Registry& Windows() {
    static Registry* registry = new Registry;  // lives until process exit
    return *registry;
}

std::shared_ptr<Window> FindWindow(HWND window) {
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.Find(window);
}

// Window edges are 32-bit coordinates; a window reaching beyond them is
// refused rather than given edges that wrapped around.
bool FitsCoordinate(int64_t value) {
    return value >= std::numeric_limits<int32_t>::min() &&
           value <= std::numeric_limits<int32_t>::max();
}

// Runs a blit into the window's backing store and shows the result.
template <typename Blit>
int DrawToWindow(WindowDc* dst, Blit blit) {
    if (dst == nullptr || dst->window == nullptr) return 0;
    Window& w = *dst->window;
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.destroyed || !w.EnsureStore()) return 0;
    const int result = blit(w.dc);
    if (result != 0) w.PresentStore();
    return result;
}

}  // namespace

WindowBackendKind ActiveWindowBackend() {
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.Backend().Kind();
}

bool SelectWindowBackend(WindowBackendKind kind, const char* display) {
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.windows.empty()) return false;
    if (kind == WindowBackendKind::kOffscreen) return r.Replace(MakeOffscreenBackend());
    std::unique_ptr<WindowBackend> b = Registry::SystemBackend(display);
    if (b == nullptr || b->Kind() != kind) return false;
    return r.Replace(std::move(b));
}

bool SelectDefaultWindowBackend() {
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.windows.empty()) return false;
    return r.Replace(Registry::DefaultBackend());
}

bool RegisterWindowClass(const char* name) {
    if (name == nullptr || name[0] == '\0' || std::strlen(name) > kMaxClassName) return false;
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto [it, added] = r.classes.emplace(name, 0);
    if (added && !r.Backend().RegisterNativeClass(name)) {
        r.classes.erase(it);
        return false;
    }
    return added;
}

bool UnregisterWindowClass(const char* name) {
    if (name == nullptr) return false;
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.classes.find(name);
    if (it == r.classes.end() || it->second != 0) return false;
    r.Backend().UnregisterNativeClass(name);
    r.classes.erase(it);
    return true;
}

bool AdjustWindowRect(WindowRect* rect, uint32_t style) {
    if (rect == nullptr) return false;
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    const WindowRect in = r.Backend().FrameInsets(style);
    const int64_t left = int64_t{rect->left} - in.left, top = int64_t{rect->top} - in.top;
    const int64_t right = int64_t{rect->right} + in.right;
    const int64_t bottom = int64_t{rect->bottom} + in.bottom;
    if (!FitsCoordinate(left) || !FitsCoordinate(top) || !FitsCoordinate(right) ||
        !FitsCoordinate(bottom)) {
        return false;
    }
    *rect = WindowRect{static_cast<int32_t>(left), static_cast<int32_t>(top),
                       static_cast<int32_t>(right), static_cast<int32_t>(bottom)};
    return true;
}

void GetScreenSize(int32_t* width, int32_t* height) {
    int32_t w = 0, h = 0;
    {
        Registry& r = Windows();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.Backend().ScreenSize(&w, &h);
    }
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
}

HWND CreateWindow(const WindowParams& p) {
    if (p.class_name == nullptr || p.width < 0 || p.height < 0 || p.width > kMaxWindowExtent ||
        p.height > kMaxWindowExtent) {
        return nullptr;
    }
    const bool child = (p.style & kWsChild) != 0;
    auto w = std::make_shared<Window>();
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto cls = r.classes.find(p.class_name);
    if (cls == r.classes.end()) return nullptr;
    NativeWindowParams params;
    if (child) {
        const uintptr_t parent = reinterpret_cast<uintptr_t>(p.parent);
        auto x11 = r.x11_by_handle.find(parent);
        std::shared_ptr<Window> own = r.Find(p.parent);
        if (x11 != r.x11_by_handle.end()) {
            params.parent_xid = x11->second;
        } else if (own != nullptr) {
            std::lock_guard<std::mutex> parent_lock(own->mutex);
            if (own->native != nullptr && !own->gone) {
                params.parent_xid = own->native->Xid();
                params.parent = own->native->Handle();
            }
        } else if (IsMessageWindow(p.parent)) {
            params.parent = p.parent;
        } else {
            return nullptr;
        }
    }
    WindowBackend& backend = r.Backend();
    const WindowRect in = child ? WindowRect{} : backend.FrameInsets(p.style);
    if (!FitsCoordinate(int64_t{p.x} + p.width) || !FitsCoordinate(int64_t{p.y} + p.height) ||
        !FitsCoordinate(int64_t{p.x} + in.left) || !FitsCoordinate(int64_t{p.y} + in.top)) {
        return nullptr;
    }
    w->client_w = std::max<int32_t>(0, p.width - in.left - in.right);
    w->client_h = std::max<int32_t>(0, p.height - in.top - in.bottom);
    w->shown = (p.style & kWsVisible) != 0;
    w->description = WindowDescription{p.class_name,
                                       p.title != nullptr ? p.title : "",
                                       p.style,
                                       {p.x, p.y, p.x + p.width, p.y + p.height},
                                       child ? p.parent : nullptr,
                                       child ? p.id : 0};
    params.class_name = p.class_name;
    params.title = w->description.title.c_str();
    params.style = p.style;
    params.id = child ? p.id : 0;
    params.child = child;
    params.visible = w->shown;
    params.x = p.x + in.left;
    params.y = p.y + in.top;
    params.width = w->client_w;
    params.height = w->client_h;
    std::unique_ptr<NativeWindow> native;
    if (!backend.CreateNative(params, w.get(), &native)) return nullptr;
    // A window system with handles of its own names the window by them.
    const uintptr_t handle = native != nullptr && native->Handle() != nullptr
                                 ? reinterpret_cast<uintptr_t>(native->Handle())
                                 : r.NewHandle();
    if (r.windows.count(handle) != 0) return nullptr;  // a stale handle reissued meanwhile
    {
        // The native side may already report events from its own thread.
        std::lock_guard<std::mutex> window_lock(w->mutex);
        w->native = std::move(native);
    }
    r.windows.emplace(handle, w);
    ++cls->second;
    return reinterpret_cast<HWND>(handle);
}

bool DestroyWindow(HWND window) {
    std::shared_ptr<Window> w;
    {
        Registry& r = Windows();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.windows.find(reinterpret_cast<uintptr_t>(window));
        if (it == r.windows.end()) return false;
        w = std::move(it->second);
        r.windows.erase(it);
        auto cls = r.classes.find(w->description.class_name);
        if (cls != r.classes.end()) --cls->second;
    }
    std::unique_ptr<NativeWindow> native;
    {
        std::lock_guard<std::mutex> lock(w->mutex);
        w->destroyed = true;
        native = std::move(w->native);
        w->DropStore();
    }
    // The native side stops its event thread here, which may be waiting for
    // the window's lock, so the lock is not held.
    native.reset();
    return true;
}

bool IsDisplayWindow(HWND window) {
    return FindWindow(window) != nullptr;
}

bool ShowWindow(HWND window, bool show) {
    std::shared_ptr<Window> w = FindWindow(window);
    if (w == nullptr) return false;
    std::lock_guard<std::mutex> lock(w->mutex);
    w->shown = show;
    if (w->native != nullptr && !w->gone) w->native->Show(show);
    return true;
}

bool IsWindowVisible(HWND window) {
    std::shared_ptr<Window> w = FindWindow(window);
    if (w == nullptr) return false;
    std::lock_guard<std::mutex> lock(w->mutex);
    return w->Visible();
}

bool GetClientRect(HWND window, WindowRect* rect) {
    std::shared_ptr<Window> w = FindWindow(window);
    if (w == nullptr || rect == nullptr) return false;
    std::lock_guard<std::mutex> lock(w->mutex);
    *rect = WindowRect{0, 0, w->client_w, w->client_h};
    return true;
}

bool ResizeWindow(HWND window, int32_t width, int32_t height) {
    std::shared_ptr<Window> w = FindWindow(window);
    if (w == nullptr || width < 0 || height < 0 || width > kMaxWindowExtent ||
        height > kMaxWindowExtent) {
        return false;
    }
    std::lock_guard<std::mutex> lock(w->mutex);
    w->client_w = width;
    w->client_h = height;
    if (w->native != nullptr && !w->gone) w->native->Resize(width, height);
    return true;
}

bool DescribeWindow(HWND window, WindowDescription* out) {
    std::shared_ptr<Window> w = FindWindow(window);
    if (w == nullptr || out == nullptr) return false;
    *out = w->description;
    return true;
}

bool ReadWindowPixels(HWND window, WindowPixels* out) {
    std::shared_ptr<Window> w = FindWindow(window);
    if (w == nullptr || out == nullptr) return false;
    std::lock_guard<std::mutex> lock(w->mutex);
    out->width = std::max<int32_t>(0, w->client_w);
    out->height = std::max<int32_t>(0, w->client_h);
    out->bits.assign(static_cast<size_t>(out->width) * out->height * 4, 0);
    if (!w->EnsureStore()) return true;
    const DibView v = GetDibView(w->dc);
    for (int32_t y = 0; y < v.height; ++y) {
        std::memcpy(out->bits.data() + static_cast<size_t>(y) * v.width * 4,
                    v.bits + static_cast<size_t>(y) * v.stride, static_cast<size_t>(v.width) * 4);
    }
    return true;
}

HWND WindowFromX11(unsigned long xid) {
    if (xid == 0) return nullptr;
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto known = r.x11_by_xid.find(xid);
    if (known != r.x11_by_xid.end()) return reinterpret_cast<HWND>(known->second);
    if (!r.Backend().X11WindowExists(xid)) return nullptr;
    const uintptr_t handle = r.NewHandle();
    r.x11_by_xid.emplace(xid, handle);
    r.x11_by_handle.emplace(handle, xid);
    return reinterpret_cast<HWND>(handle);
}

unsigned long X11WindowOf(HWND window) {
    Registry& r = Windows();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto x11 = r.x11_by_handle.find(reinterpret_cast<uintptr_t>(window));
    if (x11 != r.x11_by_handle.end()) return x11->second;
    std::shared_ptr<Window> own = r.Find(window);
    if (own == nullptr) return 0;
    std::lock_guard<std::mutex> own_lock(own->mutex);
    return own->native != nullptr && !own->gone ? own->native->Xid() : 0;
}

WindowDc* GetWindowDc(HWND window) {
    std::shared_ptr<Window> w = FindWindow(window);
    if (w == nullptr) return nullptr;
    return new (std::nothrow) WindowDc(std::move(w));
}

bool ReleaseWindowDc(HWND window, WindowDc* dc) {
    if (dc == nullptr) return false;
    std::shared_ptr<Window> w = FindWindow(window);
    // A dc outlives its window, destroyed meanwhile, until it is released.
    bool orphan = false;
    if (w == nullptr && dc->window != nullptr) {
        std::lock_guard<std::mutex> lock(dc->window->mutex);
        orphan = dc->window->destroyed;
    }
    if (w != dc->window && !orphan) return false;
    delete dc;
    return true;
}

int StretchBlt(WindowDc* dst, int x, int y, int w, int h, DeviceContext* src, int src_x, int src_y,
               int src_w, int src_h) {
    return DrawToWindow(dst, [&](DeviceContext* dc) {
        return StretchBlt(dc, x, y, w, h, src, src_x, src_y, src_w, src_h);
    });
}

int BitBlt(WindowDc* dst, int x, int y, int w, int h, DeviceContext* src, int src_x, int src_y) {
    return DrawToWindow(
        dst, [&](DeviceContext* dc) { return BitBlt(dc, x, y, w, h, src, src_x, src_y); });
}

}  // namespace vimbra::platform
