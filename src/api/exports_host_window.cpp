// The host companion functions for display windows.
#include "VimbraSdk_740QX_RDL.h"
#include "platform/window.h"

#define VIMBRA_EXPORT extern "C" __attribute__((visibility("default")))

VIMBRA_EXPORT HWND VimbraHost_WindowFromX11(unsigned long xid) {
    try {
        return vimbra::platform::WindowFromX11(xid);
    } catch (...) {
        return nullptr;  // out of memory
    }
}
