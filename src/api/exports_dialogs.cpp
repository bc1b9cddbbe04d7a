// The property dialogs' exports.
#include "api/export_call.h"
#include "session/dialog_session.h"

using vimbra::CallSession;
using vimbra::CVimbra;

VIMBRA_EXPORT int32_t Vimbra_SetCameraDlg(int32_t handle, HWND parent) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return vimbra::SetCameraDlg(s, parent); });
}

VIMBRA_EXPORT int32_t Vimbra_SetAnalogDlg(int32_t handle, HWND parent) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return vimbra::SetAnalogDlg(s, parent); });
}

VIMBRA_EXPORT int32_t Vimbra_SetImageDlg(int32_t handle, HWND parent) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return vimbra::SetImageDlg(s, parent); });
}
