// The host companion functions for display windows.
#include "api/export_call.h"
#include "platform/window.h"

VIMBRA_EXPORT HWND VimbraHost_WindowFromX11(unsigned long xid) noexcept {
    return vimbra::NoThrow<HWND>(nullptr, [xid] { return vimbra::platform::WindowFromX11(xid); });
}
