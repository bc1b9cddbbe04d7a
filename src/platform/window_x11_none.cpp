#include "platform/window_backend.h"

namespace vimbra::platform {

// Built without X11: every window lives in memory only.
std::unique_ptr<WindowBackend> MakeX11Backend(const char*) {
    return nullptr;
}

}  // namespace vimbra::platform
