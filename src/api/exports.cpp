// The exported C interface: each function looks its handle up in the registry
// and forwards to one operation of the session.
#include "VimbraSdk_740QX_RDL.h"
#include "api/export_call.h"
#include "platform/messages.h"
#include "sim/virtual_driver.h"

using vimbra::CallSession;
using vimbra::Chain;
using vimbra::CSdkChain;
using vimbra::CVimbra;

namespace {

constexpr int32_t kDllVersion = VIMBRA_DLL_VERSION;  // 1.3.2.0 as 0x0193051F

// The virtual camera is registered as the driver back end when the library is
// loaded; it serves the cameras whenever no device node of a real driver exists.
const bool g_virtual_driver_installed = (vimbra::sim::InstallVirtualDriver(), true);

// The shared body of the setters this camera does not support.
int32_t Unsupported(int32_t handle) {
    return CallSession(handle, 0, [](CVimbra& s) {
        s.NotifyError(VIMBRA_ERR_UNSUPPORTED);
        return 0;
    });
}

// The shared body of the getters this camera does not support.
int32_t UnsupportedGet(int32_t handle, int32_t* out) {
    return CallSession(handle, 0, [out](CVimbra&) {
        if (out != nullptr) *out = 0;
        return 0;
    });
}

int32_t ToHostResult(vimbra::platform::GetResult r) {
    switch (r) {
        case vimbra::platform::GetResult::kMessage:
            return 1;
        case vimbra::platform::GetResult::kEmpty:
            return 0;
        default:
            return -1;
    }
}

int32_t ReceiveMessage(HWND window, VimbraHostMessage* msg, uint32_t timeout_ms) {
    if (msg == nullptr) return -1;
    vimbra::platform::Message m{};
    const int32_t result = ToHostResult(vimbra::platform::GetMessage(window, &m, timeout_ms));
    if (result == 1) *msg = VimbraHostMessage{m.window, m.message, m.wparam, m.lparam};
    return result;
}

}  // namespace

// ---- Lifecycle -------------------------------------------------------------

VIMBRA_EXPORT int32_t Vimbra_Initialize(HWND notify) noexcept {
    const int32_t handle = vimbra::NoThrow(0, [] {
        CSdkChain* chain = Chain();
        return chain != nullptr ? chain->CreateInstance() : 0;
    });
    if (handle == 0) return 0;
    CallSession(handle, 0, [notify](CVimbra& s) { return s.Initialize(notify); });
    return handle;
}

VIMBRA_EXPORT int32_t Vimbra_Release(int32_t handle) noexcept {
    return vimbra::NoThrow(0, [handle] {
        CSdkChain* chain = Chain();
        return chain != nullptr ? chain->Release(handle) : 0;
    });
}

VIMBRA_EXPORT int32_t Vimbra_GetDllVersion(void) noexcept {
    return kDllVersion;
}

VIMBRA_EXPORT int32_t Vimbra_GetLastError(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.GetLastError(); });
}

// ---- Format settings held by the session -------------------------------------

VIMBRA_EXPORT int32_t Vimbra_GetColorMode(int32_t handle) noexcept {
    return CallSession(handle, -1, [](CVimbra& s) { return s.GetColorMode(); });
}

VIMBRA_EXPORT int32_t Vimbra_GetSubSample(int32_t handle) noexcept {
    return CallSession(handle, -1, [](CVimbra& s) { return s.GetSubSample(); });
}

VIMBRA_EXPORT int32_t Vimbra_SetWaitTime(int32_t handle, int32_t ms) noexcept {
    return CallSession(handle, 0, [ms](CVimbra& s) { return s.SetWaitTime(ms); });
}

VIMBRA_EXPORT int32_t Vimbra_GetWaitTime(int32_t handle) noexcept {
    return CallSession(handle, -1, [](CVimbra& s) { return s.GetWaitTime(); });
}

VIMBRA_EXPORT int32_t Vimbra_SetHalfClock(int32_t handle, int32_t mode) noexcept {
    return CallSession(handle, 0, [mode](CVimbra& s) { return s.SetHalfClock(mode); });
}

VIMBRA_EXPORT int32_t Vimbra_Width(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.Width(); });
}

VIMBRA_EXPORT int32_t Vimbra_Height(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.Height(); });
}

// ---- Unsupported functions -------------------------------------------------

VIMBRA_EXPORT int32_t Vimbra_SetSamplingRate(int32_t handle, ...) noexcept {
    return Unsupported(handle);
}
VIMBRA_EXPORT int32_t Vimbra_Fps(int32_t handle, ...) noexcept {
    return Unsupported(handle);
}
VIMBRA_EXPORT int32_t Vimbra_Fpga_ReadRegister(int32_t handle, ...) noexcept {
    return Unsupported(handle);
}
VIMBRA_EXPORT int32_t Vimbra_Fpga_WriteRegister(int32_t handle, ...) noexcept {
    return Unsupported(handle);
}
VIMBRA_EXPORT int32_t Vimbra_SetCrossbar(int32_t handle, ...) noexcept {
    return Unsupported(handle);
}
VIMBRA_EXPORT int32_t Vimbra_GetSamplingRate(int32_t handle, int32_t* out) noexcept {
    return UnsupportedGet(handle, out);
}
VIMBRA_EXPORT int32_t Vimbra_GetVideoFormat(int32_t handle, int32_t* out) noexcept {
    return UnsupportedGet(handle, out);
}

// ---- Host companion interface ------------------------------------------------

VIMBRA_EXPORT HWND VimbraHost_CreateWindow(void) noexcept {
    return vimbra::NoThrow<HWND>(nullptr, [] { return vimbra::platform::CreateMessageWindow(); });
}

VIMBRA_EXPORT int32_t VimbraHost_DestroyWindow(HWND window) noexcept {
    return vimbra::NoThrow(
        0, [window] { return vimbra::platform::DestroyMessageWindow(window) ? 1 : 0; });
}

VIMBRA_EXPORT int32_t VimbraHost_GetMessage(HWND window, VimbraHostMessage* msg,
                                            uint32_t timeoutMs) noexcept {
    return vimbra::NoThrow(-1, [&] { return ReceiveMessage(window, msg, timeoutMs); });
}

VIMBRA_EXPORT int32_t VimbraHost_PeekMessage(HWND window, VimbraHostMessage* msg) noexcept {
    return vimbra::NoThrow(-1, [&] { return ReceiveMessage(window, msg, 0); });
}

VIMBRA_EXPORT int32_t VimbraHost_SetCallback(HWND window, VimbraHostCallback callback,
                                             void* user) noexcept {
    return vimbra::NoThrow(
        0, [&] { return vimbra::platform::SetMessageCallback(window, callback, user) ? 1 : 0; });
}

VIMBRA_EXPORT int32_t VimbraHost_PostMessage(HWND window, uint32_t message, uintptr_t wParam,
                                             intptr_t lParam) noexcept {
    return vimbra::NoThrow(
        0, [&] { return vimbra::platform::PostMessage(window, message, wParam, lParam) ? 1 : 0; });
}
