#include "platform/x11_display.h"

#include <mutex>
#include <unordered_map>

#include "platform/pipe_signal.h"

// Xlib last: its internal header (for LockDisplay) defines min and max.
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/Xutil.h>
#undef min
#undef max

namespace vimbra::platform {
namespace {

struct ConnectionState {
    int error = 0;      // last protocol error code, 0 when none
    bool lost = false;  // the server has gone away
};

// The library's connections and the handlers the host had installed before,
// which keep serving every other connection.
struct Trap {
    std::mutex mutex;  // guards every member below
    std::unordered_map<Display*, ConnectionState> connections;
    XErrorHandler previous_error = nullptr;
    XIOErrorHandler previous_io = nullptr;
};

Trap& Connections() {
    static Trap* trap = new Trap;  // lives until process exit
    return *trap;
}

int HandleXError(Display* display, XErrorEvent* event) {
    Trap& t = Connections();
    XErrorHandler previous = nullptr;
    {
        std::lock_guard lock(t.mutex);
        auto it = t.connections.find(display);
        if (it != t.connections.end()) {
            it->second.error = event->error_code;
            return 0;
        }
        previous = t.previous_error;
    }
    return previous != nullptr ? previous(display, event) : 0;
}

// Xlib calls this handler, for any connection of the process, when a server
// goes away; the default one prints and exits. On the library's connections
// it returns, so that Xlib goes on to their exit handler, which records the
// loss instead of exiting.
int HandleIoError(Display* display) {
    Trap& t = Connections();
    XIOErrorHandler previous = nullptr;
    {
        std::lock_guard lock(t.mutex);
        if (t.connections.count(display) != 0) return 0;
        previous = t.previous_io;
    }
    return previous != nullptr ? previous(display) : 0;
}

// Runs after the I/O error handler on the library's connections, also when a
// host installed an I/O error handler of its own after the library's.
void MarkLost(Display* display, void*) {
    {
        Trap& t = Connections();
        std::lock_guard lock(t.mutex);
        auto it = t.connections.find(display);
        if (it != t.connections.end()) it->second.lost = true;
    }
    // Xlib gives this thread the display's user lock and releases the
    // display's inner lock before the handlers, expecting the process to end.
    // Returning, the request that failed releases the inner lock again: the
    // state an X error handler leaves is restored (user lock released, inner
    // lock held), so that the lock pairs up and the connection can still be
    // closed from another thread.
    XUnlockDisplay(display);
    LockDisplay(display);
}

int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

void InstallHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        Trap& t = Connections();
        std::lock_guard lock(t.mutex);
        t.previous_error = XSetErrorHandler(HandleXError);
        t.previous_io = XSetIOErrorHandler(HandleIoError);
    });
}

}  // namespace

void* OpenX11Connection(const char* name) {
    PipeSignalBlock no_sigpipe;
    InstallHandlers();
    Display* d = XOpenDisplay(name);
    if (d == nullptr) return nullptr;
    {
        std::lock_guard lock(Connections().mutex);
        Connections().connections[d] = ConnectionState{};
    }
    XSetIOErrorExitHandler(d, MarkLost, nullptr);
    return d;
}

void CloseX11Connection(void* display) {
    if (display == nullptr) return;
    auto* d = static_cast<Display*>(display);
    {
        PipeSignalBlock no_sigpipe;
        XCloseDisplay(d);
    }
    std::lock_guard lock(Connections().mutex);
    Connections().connections.erase(d);
}

int SyncX11Connection(void* display) {
    auto* d = static_cast<Display*>(display);
    {
        PipeSignalBlock no_sigpipe;
        XSync(d, False);
    }
    std::lock_guard lock(Connections().mutex);
    auto it = Connections().connections.find(d);
    if (it == Connections().connections.end()) return 0;
    const int result = it->second.error;
    it->second.error = 0;
    return result;
}

bool X11ConnectionLost(void* display) {
    std::lock_guard lock(Connections().mutex);
    auto it = Connections().connections.find(static_cast<Display*>(display));
    return it != Connections().connections.end() && it->second.lost;
}

void* OpenX11Display() {
    return OpenX11Connection(nullptr);
}

void CloseX11Display(void* display) {
    CloseX11Connection(display);
}

bool SetTransientFor(void* display, uintptr_t window, uintptr_t owner) {
    if (display == nullptr || window == 0 || owner == 0) return false;
    PipeSignalBlock no_sigpipe;
    auto* d = static_cast<Display*>(display);
    bool own = false;
    {
        std::lock_guard lock(Connections().mutex);
        own = Connections().connections.count(d) != 0;
    }
    // The owner id comes from the host; a wrong one must not end in the
    // default error handler, which exits the process. On the library's own
    // connections the error is trapped; on another (a display FLTK had
    // before the library came) errors are ignored meanwhile.
    static std::mutex handler_mutex;
    std::unique_lock swap_lock(handler_mutex, std::defer_lock);
    XErrorHandler previous = nullptr;
    SyncX11Connection(d);
    if (!own) {
        swap_lock.lock();
        previous = XSetErrorHandler(IgnoreXError);
    }
    XWindowAttributes attributes;
    bool exists = XGetWindowAttributes(d, static_cast<Window>(owner), &attributes) != 0;
    if (exists) XSetTransientForHint(d, static_cast<Window>(window), static_cast<Window>(owner));
    exists = SyncX11Connection(d) == 0 && exists;
    if (!own) XSetErrorHandler(previous);
    return exists;
}

}  // namespace vimbra::platform
