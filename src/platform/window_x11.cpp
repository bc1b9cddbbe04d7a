// The X11 back end: one display connection per window, so that the thread
// drawing a preview never shares a connection with the host or with other
// windows; a thread per window answers the window system's events.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/pipe_signal.h"
#include "platform/window_backend.h"
#include "platform/x11_display.h"

namespace vimbra::platform {
namespace {

// A connection of the library's own, whose errors are trapped and whose loss
// does not end the process.
Display* OpenConnection(const char* name) {
    return static_cast<Display*>(OpenX11Connection(name));
}

// True when the screen's default visual takes B, G, R, 0 pixels of 32 bits
// as they lie in a top-down 32-bit DIB.
bool MatchesDibPixels(Display* d) {
    const int screen = DefaultScreen(d);
    Visual* v = DefaultVisual(d, screen);
    if (DefaultDepth(d, screen) != 24 || v->c_class != TrueColor || v->red_mask != 0xFF0000 ||
        v->green_mask != 0xFF00 || v->blue_mask != 0xFF || ImageByteOrder(d) != LSBFirst) {
        return false;
    }
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(d, &count);
    bool ok = false;
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == 24) ok = formats[i].bits_per_pixel == 32;
    }
    if (formats != nullptr) XFree(formats);
    return ok;
}

class X11Window final : public NativeWindow {
  public:
    X11Window(Display* d, NativeWindowEvents* events, std::shared_ptr<std::atomic<bool>> lost)
        : d_(d), events_(events), server_lost_(std::move(lost)) {}

    ~X11Window() override {
        PipeSignalBlock no_sigpipe;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        Wake();
        if (thread_.joinable()) thread_.join();
        DropShmImage();
        // A lost connection takes no more requests; the server took the
        // window with it.
        if (!lost_) {
            if (!gone_) XDestroyWindow(d_, window_);
            XSync(d_, False);
        }
        CloseX11Connection(d_);
        close(wake_[0]);
        close(wake_[1]);
    }

    bool Create(const NativeWindowParams& params) {
        PipeSignalBlock no_sigpipe;
        if (pipe2(wake_, O_CLOEXEC) != 0) {
            wake_[0] = wake_[1] = -1;
            return false;
        }
        const int screen = DefaultScreen(d_);
        const Window parent = params.parent_xid != 0 ? params.parent_xid : RootWindow(d_, screen);
        const unsigned long black = BlackPixel(d_, screen);
        // X has no empty windows; an empty client area is a 1 x 1 window.
        window_ = XCreateSimpleWindow(
            d_, parent, params.x, params.y, static_cast<unsigned>(std::max(params.width, 1)),
            static_cast<unsigned>(std::max(params.height, 1)), 0, black, black);
        XSelectInput(d_, window_, ExposureMask | StructureNotifyMask);
        XStoreName(d_, window_, params.title);
        XClassHint hint{const_cast<char*>(params.class_name), const_cast<char*>(params.class_name)};
        XSetClassHint(d_, window_, &hint);
        if (!params.child) {
            // Keep the centred position: without these hints a window
            // manager places the window where it likes.
            XSizeHints size{};
            size.flags = USPosition | PPosition | PSize;
            size.x = params.x;
            size.y = params.y;
            size.width = params.width;
            size.height = params.height;
            XSetWMNormalHints(d_, window_, &size);
            delete_atom_ = XInternAtom(d_, "WM_DELETE_WINDOW", False);
            XSetWMProtocols(d_, window_, &delete_atom_, 1);
        }
        gc_ = DefaultGC(d_, screen);
        if (params.visible) XMapWindow(d_, window_);
        if (SyncX11Connection(d_) != 0) return false;
        use_shm_ = XShmQueryExtension(d_) != False;
        thread_ = std::thread([this] { EventLoop(); });
        return true;
    }

    void Show(bool show) override {
        PipeSignalBlock no_sigpipe;
        std::lock_guard<std::mutex> lock(mutex_);
        if (gone_) return;
        if (show)
            XMapWindow(d_, window_);
        else
            XUnmapWindow(d_, window_);
        XFlush(d_);
        NoteLoss();
    }

    void Resize(int32_t width, int32_t height) override {
        PipeSignalBlock no_sigpipe;
        std::lock_guard<std::mutex> lock(mutex_);
        if (gone_) return;
        XResizeWindow(d_, window_, static_cast<unsigned>(std::max(width, 1)),
                      static_cast<unsigned>(std::max(height, 1)));
        XFlush(d_);
        NoteLoss();
    }

    void Present(const DibView& pixels) override {
        if (pixels.bits == nullptr || pixels.bit_count != 32 || pixels.bottom_up) return;
        PipeSignalBlock no_sigpipe;
        std::lock_guard<std::mutex> lock(mutex_);
        if (gone_) return;
        if (use_shm_ && EnsureShmImage(pixels.width, pixels.height)) {
            const size_t row = static_cast<size_t>(pixels.width) * 4;
            for (int32_t y = 0; y < pixels.height; ++y) {
                std::memcpy(shm_image_->data + static_cast<size_t>(y) * shm_image_->bytes_per_line,
                            pixels.bits + static_cast<size_t>(y) * pixels.stride, row);
            }
            XShmPutImage(d_, window_, gc_, shm_image_, 0, 0, 0, 0,
                         static_cast<unsigned>(pixels.width), static_cast<unsigned>(pixels.height),
                         False);
        } else {
            // An image record over the caller's pixels, made without
            // allocating anything per frame.
            XImage image{};
            image.width = pixels.width;
            image.height = pixels.height;
            image.format = ZPixmap;
            image.data = reinterpret_cast<char*>(pixels.bits);
            image.byte_order = LSBFirst;
            image.bitmap_unit = 32;
            image.bitmap_bit_order = LSBFirst;
            image.bitmap_pad = 32;
            image.depth = 24;
            image.bytes_per_line = pixels.stride;
            image.bits_per_pixel = 32;
            image.red_mask = 0xFF0000;
            image.green_mask = 0xFF00;
            image.blue_mask = 0xFF;
            if (XInitImage(&image) == 0) return;
            XPutImage(d_, window_, gc_, &image, 0, 0, 0, 0, static_cast<unsigned>(pixels.width),
                      static_cast<unsigned>(pixels.height));
        }
        // The shared image may be written again once the server has read it;
        // waiting here also keeps a fast producer from flooding the server.
        XSync(d_, False);
        if (NoteLoss()) return;
        if (XEventsQueued(d_, QueuedAlready) > 0) Wake();
    }

    unsigned long Xid() const override { return window_; }

  private:
    bool EnsureShmImage(int32_t width, int32_t height) {
        if (shm_image_ != nullptr && shm_image_->width == width && shm_image_->height == height)
            return true;
        DropShmImage();
        shm_image_ =
            XShmCreateImage(d_, DefaultVisual(d_, DefaultScreen(d_)), 24, ZPixmap, nullptr, &shm_,
                            static_cast<unsigned>(width), static_cast<unsigned>(height));
        if (shm_image_ == nullptr) return use_shm_ = false;
        shm_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(shm_image_->bytes_per_line) * height,
                            IPC_CREAT | 0600);
        shm_.shmaddr = shm_.shmid < 0 ? reinterpret_cast<char*>(-1)
                                      : static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        if (shm_.shmaddr == reinterpret_cast<char*>(-1)) {
            if (shm_.shmid >= 0) shmctl(shm_.shmid, IPC_RMID, nullptr);
            XDestroyImage(shm_image_);
            shm_image_ = nullptr;
            return use_shm_ = false;
        }
        shm_image_->data = shm_.shmaddr;
        shm_.readOnly = False;
        XShmAttach(d_, &shm_);
        const bool attached = SyncX11Connection(d_) == 0;
        // Marked for removal now, the segment goes away with its last user
        // even if the process dies.
        shmctl(shm_.shmid, IPC_RMID, nullptr);
        shm_attached_ = attached;
        if (!attached) {
            // A server on another machine cannot share memory: plain images.
            DropShmImage();
            return use_shm_ = false;
        }
        return true;
    }

    // Called under the connection's lock after requests that may have found
    // the server gone: the window stops drawing at once and the event thread
    // reports it gone. True when the connection is lost.
    bool NoteLoss() {
        if (lost_ || !X11ConnectionLost(d_)) return lost_;
        lost_ = gone_ = true;
        server_lost_->store(true);
        Wake();
        return true;
    }

    void DropShmImage() {
        if (shm_image_ == nullptr) return;
        if (shm_attached_ && !lost_) {
            XShmDetach(d_, &shm_);
            XSync(d_, False);
        }
        shmdt(shm_.shmaddr);
        shm_image_->data = nullptr;
        XDestroyImage(shm_image_);
        shm_image_ = nullptr;
        shm_attached_ = false;
    }

    void Wake() {
        const char c = 1;
        [[maybe_unused]] ssize_t n = write(wake_[1], &c, 1);
    }

    enum class Event { kNone, kResized, kExposed, kGone, kClose, kLost };

    // Takes the next event that matters under the connection's lock.
    Event NextEvent(int32_t* width, int32_t* height) {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!stop_ && !lost_ && XPending(d_) > 0) {
            XEvent e;
            XNextEvent(d_, &e);
            switch (e.type) {
                case Expose:
                    if (e.xexpose.count == 0) return Event::kExposed;
                    break;
                case ConfigureNotify:
                    *width = e.xconfigure.width;
                    *height = e.xconfigure.height;
                    return Event::kResized;
                case DestroyNotify:
                    if (e.xdestroywindow.window != window_) break;
                    gone_ = true;
                    return Event::kGone;
                case ClientMessage:
                    if (static_cast<Atom>(e.xclient.data.l[0]) == delete_atom_)
                        return Event::kClose;
                    break;
                default:
                    break;
            }
        }
        return NoteLoss() ? Event::kLost : Event::kNone;
    }

    void EventLoop() {
        // A poll timeout catches events that a drawing call has already read
        // from the socket without waking this thread.
        constexpr int kPollMs = 200;
        PipeSignalBlock no_sigpipe;  // for the thread's whole life
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (stop_) return;
            }
            int32_t w = 0, h = 0;
            const Event e = NextEvent(&w, &h);
            // Reported without the connection's lock: the window takes its own
            // lock and may present.
            switch (e) {
                case Event::kResized:
                    events_->NativeResized(w, h);
                    continue;
                case Event::kExposed:
                    events_->NativeExposed();
                    continue;
                case Event::kGone:
                    events_->NativeGone();
                    continue;
                case Event::kClose:
                    events_->NativeCloseRequested();
                    continue;
                case Event::kLost:
                    // The server has gone away: the window is gone as if
                    // destroyed, and there is nothing more to wait for.
                    events_->NativeGone();
                    return;
                case Event::kNone:
                    break;
            }
            pollfd fds[2] = {{ConnectionNumber(d_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
            if (poll(fds, 2, kPollMs) > 0 && (fds[1].revents & POLLIN) != 0) {
                char buf[64];
                [[maybe_unused]] ssize_t n = read(wake_[0], buf, sizeof buf);
            }
        }
    }

    Display* const d_;
    NativeWindowEvents* const events_;
    const std::shared_ptr<std::atomic<bool>> server_lost_;  // the back end's, set on loss
    std::mutex mutex_;  // guards every call on d_ and the members below
    ::Window window_ = 0;
    GC gc_ = nullptr;
    Atom delete_atom_ = 0;
    bool gone_ = false;
    bool lost_ = false;  // the server went away; no more requests
    bool stop_ = false;
    bool use_shm_ = false;
    bool shm_attached_ = false;
    XShmSegmentInfo shm_{};
    XImage* shm_image_ = nullptr;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

class X11Backend final : public WindowBackend {
  public:
    X11Backend(Display* d, std::string name) : d_(d), name_(std::move(name)) {}
    ~X11Backend() override { CloseX11Connection(d_); }

    WindowBackendKind Kind() const override { return WindowBackendKind::kX11; }

    void ScreenSize(int32_t* width, int32_t* height) override {
        PipeSignalBlock no_sigpipe;
        std::lock_guard<std::mutex> lock(mutex_);
        *width = DisplayWidth(d_, DefaultScreen(d_));
        *height = DisplayHeight(d_, DefaultScreen(d_));
    }

    // The window manager draws its frame outside the client area.
    WindowRect FrameInsets(uint32_t) const override { return {}; }

    bool CreateNative(const NativeWindowParams& params, NativeWindowEvents* events,
                      std::unique_ptr<NativeWindow>* out) override {
        out->reset();
        // A child of a window that is not an X window lives in memory only.
        if (params.child && params.parent_xid == 0) return true;
        Display* d = OpenConnection(name_.c_str());
        if (d == nullptr) {
            // Perhaps the server has gone: the next Lost() finds out.
            server_lost_->store(true);
            return false;
        }
        auto w = std::make_unique<X11Window>(d, events, server_lost_);
        if (!w->Create(params)) return false;
        *out = std::move(w);
        return true;
    }

    // Asks the server only after a window lost its connection or could not
    // open one: a window's connection may also end alone (a client killed by
    // the window manager) while the server stays.
    bool Lost() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (server_lost_->exchange(false)) SyncX11Connection(d_);
        return X11ConnectionLost(d_);
    }

    bool X11WindowExists(unsigned long xid) override {
        PipeSignalBlock no_sigpipe;
        std::lock_guard<std::mutex> lock(mutex_);
        XWindowAttributes a;
        const Status ok = XGetWindowAttributes(d_, xid, &a);
        return SyncX11Connection(d_) == 0 && ok != 0;
    }

  private:
    Display* const d_;  // screen queries and window checks
    const std::string name_;
    const std::shared_ptr<std::atomic<bool>> server_lost_ = std::make_shared<std::atomic<bool>>();
    std::mutex mutex_;
};

}  // namespace

std::unique_ptr<WindowBackend> MakeX11Backend(const char* display) {
    Display* d = OpenConnection(display);
    if (d == nullptr) return nullptr;
    PipeSignalBlock no_sigpipe;
    if (!MatchesDibPixels(d)) {
        CloseX11Connection(d);
        return nullptr;
    }
    // Windows open their connections by the same name the probe used.
    std::string name = DisplayString(d);
    return std::make_unique<X11Backend>(d, std::move(name));
}

}  // namespace vimbra::platform
