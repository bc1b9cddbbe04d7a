// The Win32 back end: display windows are real windows, made, served and
// destroyed by one thread of the library's own that runs their message loop.
// A window belongs to the thread that creates it and is painted and
// destroyed through that thread's messages; the host's threads (a console
// program, or a worker that called the preview's start) need not pump
// messages for the preview to be drawn, repainted or closed. The thread runs
// while any display window exists.
//
// Each window's backing store is a DIB section selected into a memory device
// context: the window registry draws a frame straight into it, and it is
// blitted to the window's device context at once from the drawing thread
// (GDI drawing needs no messages); WM_PAINT and WM_PRINTCLIENT have the
// registry present it again from the window thread. Showing and resizing are
// posted to the window, so a caller that holds a lock the window's events
// take never waits for the window thread.
#include <windows.h>

// The platform functions share their names with the system's A/W macros.
#undef CreateWindow

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/window_backend.h"

namespace vimbra::platform {
namespace {

// Posted to a display window: show (wParam 1) or hide (0) it.
constexpr UINT kApplyShow = WM_APP + 1;
// Posted to a display window: give the client area wParam x lParam pixels.
constexpr UINT kApplySize = WM_APP + 2;
// Posted to the window thread's own message window: run the queued tasks.
constexpr UINT kRunTasks = WM_APP + 3;

constexpr char kThreadWindowClass[] = "VimbraWindowThread";

// The dc a WM_PRINTCLIENT asks the window thread to draw into while it has
// the window present its store; nullptr on every other thread.
thread_local HDC t_print_dc = nullptr;

HINSTANCE HostInstance() {
    // Window classes belong to the host's executable, as hosts expect.
    return ::GetModuleHandleA(nullptr);
}

// The thread that owns every display window. Started with the first window
// and ended with the last, so that no thread of the library outlives its
// windows (nor runs while the DLL is unloaded).
class WindowThread {
  public:
    // Counts a window; starts the thread for the first. False when it
    // cannot be started.
    bool Acquire() {
        std::lock_guard<std::mutex> lifetime(lifetime_);
        if (users_ == 0 && !Start()) return false;
        ++users_;
        return true;
    }

    // Uncounts a window; the last one ends the thread and waits for it
    // (unless it is the window thread itself, which then ends on its own).
    void Release() {
        std::lock_guard<std::mutex> lifetime(lifetime_);
        if (--users_ > 0) return;
        Run([] { ::PostQuitMessage(0); });
        if (::GetCurrentThreadId() == id_)
            thread_.detach();
        else
            thread_.join();
        if (thread_handle_ != nullptr) ::CloseHandle(thread_handle_);
        thread_handle_ = nullptr;
        control_ = nullptr;
    }

    // Runs `task` on the window thread and waits for it. While waiting the
    // caller goes on answering messages sent to its own windows, since the
    // window thread may send to them (e.g. a host's parent window is told of
    // its child's creation) while the caller waits. A window thread that
    // has ended (the process is exiting) drops the task.
    void Run(const std::function<void()>& task) {
        if (::GetCurrentThreadId() == id_) {
            task();
            return;
        }
        // Without an event object (the system refused one) the wait polls.
        Task t{&task, ::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        {
            std::lock_guard<std::mutex> lock(queue_mutex_);
            queue_.push_back(&t);
        }
        ::PostMessageA(control_, kRunTasks, 0, 0);
        HANDLE waits[2];
        DWORD count = 0;
        if (t.done != nullptr) waits[count++] = t.done;
        if (thread_handle_ != nullptr) waits[count++] = thread_handle_;
        for (;;) {
            if (t.done == nullptr && t.finished) break;
            const DWORD r = ::MsgWaitForMultipleObjects(
                count, waits, FALSE, t.done != nullptr ? INFINITE : 1, QS_SENDMESSAGE);
            if (r == WAIT_OBJECT_0 + count) {
                MSG m;
                ::PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            } else if (r < WAIT_OBJECT_0 + count) {
                if (waits[r - WAIT_OBJECT_0] != t.done) Withdraw(&t);  // the thread has ended
                break;
            } else if (r == WAIT_FAILED) {
                ::Sleep(1);
            }
        }
        if (t.done != nullptr) ::CloseHandle(t.done);
    }

  private:
    struct Task {
        const std::function<void()>* work;
        HANDLE done;                        // set when finished
        std::atomic<bool> finished{false};  // instead, when there is no event
    };

    bool Start() {
        static const bool registered = [] {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = ControlProc;
            wc.hInstance = HostInstance();
            wc.lpszClassName = kThreadWindowClass;
            return ::RegisterClassExA(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
        }();
        if (!registered) return false;
        HANDLE started = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (started == nullptr) return false;
        try {
            thread_ = std::thread([this, started] { Loop(started); });
        } catch (const std::system_error&) {
            ::CloseHandle(started);
            return false;
        }
        ::WaitForSingleObject(started, INFINITE);
        ::CloseHandle(started);
        if (control_ == nullptr) {
            thread_.join();
            return false;
        }
        thread_handle_ = ::OpenThread(SYNCHRONIZE, FALSE, id_);
        return true;
    }

    void Loop(HANDLE started) {
        id_ = ::GetCurrentThreadId();
        // A message-only window receives the tasks; it lives as long as the
        // loop.
        HWND control = ::CreateWindowExA(0, kThreadWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                         nullptr, HostInstance(), nullptr);
        if (control != nullptr)
            ::SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        control_ = control;
        ::SetEvent(started);
        if (control_ == nullptr) {
            id_ = 0;
            return;
        }
        MSG m;
        while (::GetMessageA(&m, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&m);
            ::DispatchMessageA(&m);
        }
        ::DestroyWindow(control_);
        id_ = 0;
    }

    // Takes a task that was never run out of the queue.
    void Withdraw(Task* t) {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        auto it = std::find(queue_.begin(), queue_.end(), t);
        if (it != queue_.end()) queue_.erase(it);
    }

    void RunQueued() {
        for (;;) {
            Task* t = nullptr;
            {
                std::lock_guard<std::mutex> lock(queue_mutex_);
                if (queue_.empty()) return;
                t = queue_.front();
                queue_.pop_front();
            }
            (*t->work)();
            // The waiter returns, and the task is gone, once it is signalled.
            if (t->done != nullptr)
                ::SetEvent(t->done);
            else
                t->finished = true;
        }
    }

    static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == kRunTasks) {
            auto* self = reinterpret_cast<WindowThread*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
            if (self != nullptr) self->RunQueued();
            return 0;
        }
        return ::DefWindowProcA(hwnd, message, wparam, lparam);
    }

    std::mutex lifetime_;  // guards users_ and the thread's start and end
    int users_ = 0;
    std::thread thread_;
    std::atomic<DWORD> id_{0};            // the window thread's id while it runs
    std::atomic<HWND> control_{nullptr};  // its message window, set before the start is signalled
    HANDLE thread_handle_ = nullptr;      // signalled when the thread has ended
    std::mutex queue_mutex_;
    std::deque<Task*> queue_;
};

WindowThread& Thread() {
    static WindowThread* thread = new WindowThread;  // lives until process exit
    return *thread;
}

class Win32Window final : public NativeWindow {
  public:
    explicit Win32Window(NativeWindowEvents* events) : events_(events) {}

    ~Win32Window() override {
        if (counted_) {
            Thread().Run([this] {
                destroying_ = true;
                HWND hwnd = nullptr;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    hwnd = hwnd_;
                }
                // Unless the window system destroyed it with its parent.
                if (hwnd != nullptr) ::DestroyWindow(hwnd);
            });
            Thread().Release();
        }
        DropSurface();
    }

    bool Create(const NativeWindowParams& params) {
        if (!Thread().Acquire()) return false;
        counted_ = true;
        Thread().Run([&] {
            RECT r{params.x, params.y, params.x + params.width, params.y + params.height};
            if (!params.child) ::AdjustWindowRectEx(&r, params.style, FALSE, 0);
            HMENU id =
                params.child ? reinterpret_cast<HMENU>(static_cast<intptr_t>(params.id)) : nullptr;
            created_ = ::CreateWindowExA(
                0, params.class_name, params.title, params.style, r.left, r.top, r.right - r.left,
                r.bottom - r.top, params.child ? params.parent : nullptr, id, HostInstance(), this);
        });
        return created_ != nullptr;
    }

    void Show(bool show) override { Post(kApplyShow, show ? 1 : 0, 0); }

    void Resize(int32_t width, int32_t height) override { Post(kApplySize, width, height); }

    uint8_t* Surface(int32_t width, int32_t height) override {
        std::lock_guard<std::mutex> lock(mutex_);
        return EnsureSurface(width, height) ? surface_bits_ : nullptr;
    }

    void Present(const DibView& pixels) override {
        if (pixels.bits == nullptr || pixels.bit_count != 32) return;
        std::lock_guard<std::mutex> lock(mutex_);
        if (hwnd_ == nullptr) return;
        // A store of the registry's own memory is copied into the surface.
        if (pixels.bits != surface_bits_) {
            if (!EnsureSurface(pixels.width, pixels.height)) return;
            const size_t row = static_cast<size_t>(pixels.width) * 4;
            for (int32_t y = 0; y < pixels.height; ++y) {
                const int32_t from = pixels.bottom_up ? pixels.height - 1 - y : y;
                std::memcpy(surface_bits_ + static_cast<size_t>(y) * row,
                            pixels.bits + static_cast<size_t>(from) * pixels.stride, row);
            }
        }
        HDC dc = t_print_dc != nullptr ? t_print_dc : ::GetDC(hwnd_);
        if (dc == nullptr) return;
        ::BitBlt(dc, 0, 0, surface_w_, surface_h_, surface_dc_, 0, 0, SRCCOPY);
        if (dc != t_print_dc) ::ReleaseDC(hwnd_, dc);
        // The blit is done before the registry draws the next frame into
        // the surface's memory.
        ::GdiFlush();
    }

    unsigned long Xid() const override { return 0; }

    HWND Handle() const override { return created_; }

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        if (message == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTA*>(lparam);
            auto* self = static_cast<Win32Window*>(cs->lpCreateParams);
            ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->hwnd_ = hwnd;
        }
        auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self == nullptr) return ::DefWindowProcA(hwnd, message, wparam, lparam);
        return self->OnMessage(hwnd, message, wparam, lparam);
    }

  private:
    LRESULT OnMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
        switch (message) {
            case WM_PAINT: {
                // The background is erased black; the store, drawn under
                // the registry's lock of the window, goes over it.
                PAINTSTRUCT ps;
                if (::BeginPaint(hwnd, &ps) != nullptr) ::EndPaint(hwnd, &ps);
                events_->NativeExposed();
                return 0;
            }
            case WM_PRINTCLIENT:
                t_print_dc = reinterpret_cast<HDC>(wparam);
                events_->NativeExposed();
                t_print_dc = nullptr;
                return 0;
            case WM_SIZE:
                events_->NativeResized(LOWORD(lparam), HIWORD(lparam));
                break;
            case WM_CLOSE:
                // Closing belongs to the library; the user's request hides.
                events_->NativeCloseRequested();
                return 0;
            case kApplyShow:
                ::ShowWindow(hwnd, wparam != 0 ? SW_SHOW : SW_HIDE);
                if (wparam != 0) ::UpdateWindow(hwnd);
                return 0;
            case kApplySize: {
                RECT r{0, 0, static_cast<LONG>(wparam), static_cast<LONG>(lparam)};
                const auto style = static_cast<DWORD>(::GetWindowLongPtrA(hwnd, GWL_STYLE));
                if ((style & WS_CHILD) == 0) ::AdjustWindowRectEx(&r, style, FALSE, 0);
                ::SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
                return 0;
            }
            case WM_NCDESTROY: {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    hwnd_ = nullptr;
                }
                ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
                // Destroyed by the window system, e.g. with the host's parent.
                if (!destroying_) events_->NativeGone();
                break;
            }
            default:
                break;
        }
        return ::DefWindowProcA(hwnd, message, wparam, lparam);
    }

    void Post(UINT message, WPARAM wparam, LPARAM lparam) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (hwnd_ != nullptr) ::PostMessageA(hwnd_, message, wparam, lparam);
    }

    // A top-down 32-bit DIB section of the size shown, in a memory dc.
    bool EnsureSurface(int32_t width, int32_t height) {
        if (surface_dc_ != nullptr && surface_w_ == width && surface_h_ == height) return true;
        DropSurface();
        if (width <= 0 || height <= 0) return false;
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        surface_ = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (surface_ == nullptr) return false;
        surface_dc_ = ::CreateCompatibleDC(nullptr);
        if (surface_dc_ == nullptr) {
            DropSurface();
            return false;
        }
        default_bitmap_ = ::SelectObject(surface_dc_, surface_);
        surface_bits_ = static_cast<uint8_t*>(bits);
        surface_w_ = width;
        surface_h_ = height;
        return true;
    }

    void DropSurface() {
        if (surface_dc_ != nullptr) {
            ::SelectObject(surface_dc_, default_bitmap_);
            ::DeleteDC(surface_dc_);
            surface_dc_ = nullptr;
        }
        if (surface_ != nullptr) {
            ::DeleteObject(surface_);
            surface_ = nullptr;
        }
        surface_bits_ = nullptr;
        surface_w_ = surface_h_ = 0;
    }

    NativeWindowEvents* const events_;
    bool counted_ = false;     // holds the window thread
    HWND created_ = nullptr;   // the window, also after the window system destroyed it
    bool destroying_ = false;  // on the window thread: the library destroys the window
    std::mutex mutex_;         // guards the members below
    HWND hwnd_ = nullptr;      // the window while it exists
    HDC surface_dc_ = nullptr;
    HBITMAP surface_ = nullptr;
    HGDIOBJ default_bitmap_ = nullptr;
    uint8_t* surface_bits_ = nullptr;
    int32_t surface_w_ = 0;
    int32_t surface_h_ = 0;
};

class Win32Backend final : public WindowBackend {
  public:
    WindowBackendKind Kind() const override { return WindowBackendKind::kWin32; }

    void ScreenSize(int32_t* width, int32_t* height) override {
        *width = ::GetSystemMetrics(SM_CXSCREEN);
        *height = ::GetSystemMetrics(SM_CYSCREEN);
    }

    WindowRect FrameInsets(uint32_t style) const override {
        RECT r{0, 0, 0, 0};
        if (!::AdjustWindowRectEx(&r, style, FALSE, 0)) return {};
        return {-r.left, -r.top, r.right, r.bottom};
    }

    bool CreateNative(const NativeWindowParams& params, NativeWindowEvents* events,
                      std::unique_ptr<NativeWindow>* out) override {
        out->reset();
        auto w = std::make_unique<Win32Window>(events);
        if (!w->Create(params)) return false;
        *out = std::move(w);
        return true;
    }

    bool X11WindowExists(unsigned long) override { return false; }

    bool RegisterNativeClass(const char* name) override {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = Win32Window::WindowProc;
        wc.hInstance = HostInstance();
        wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = name;
        return ::RegisterClassExA(&wc) != 0;
    }

    void UnregisterNativeClass(const char* name) override {
        ::UnregisterClassA(name, HostInstance());
    }
};

}  // namespace

std::unique_ptr<WindowBackend> MakeWin32Backend() {
    return std::make_unique<Win32Backend>();
}

}  // namespace vimbra::platform
