// Events on Windows are the system's event objects.
#include <windows.h>

#include "platform/event.h"

namespace vimbra::platform {

Event::Event(Mode mode, bool initially_set)
    : handle_(::CreateEventA(nullptr, mode == Mode::kManualReset ? TRUE : FALSE,
                             initially_set ? TRUE : FALSE, nullptr)) {}

Event::~Event() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
}

void Event::Set() {
    if (handle_ != nullptr) ::SetEvent(handle_);
}

void Event::Reset() {
    if (handle_ != nullptr) ::ResetEvent(handle_);
}

bool Event::Wait(uint32_t timeout_ms) {
    if (handle_ == nullptr) return false;
    const DWORD wait = timeout_ms == kInfinite ? INFINITE : timeout_ms;
    return ::WaitForSingleObject(handle_, wait) == WAIT_OBJECT_0;
}

}  // namespace vimbra::platform
