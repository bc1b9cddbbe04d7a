// Exports of acquisition and frame delivery: each forwards to one operation
// of the session.
#include "VimbraSdk_740QX_RDL.h"
#include "api/export_call.h"
#include "session/vimbra.h"

using vimbra::CallSession;
using vimbra::CVimbra;

VIMBRA_EXPORT int32_t Vimbra_Preview(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.Preview(); });
}

VIMBRA_EXPORT int32_t Vimbra_CallBackPreview(int32_t handle, HWND callback, uint8_t* buffer,
                                             int32_t size, int32_t rowOrder) noexcept {
    return CallSession(
        handle, 0, [&](CVimbra& s) { return s.CallBackPreview(callback, buffer, size, rowOrder); });
}

VIMBRA_EXPORT int32_t Vimbra_StartPreview(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.StartPreview(); });
}

VIMBRA_EXPORT int32_t Vimbra_StopPreview(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.StopPreview(); });
}

VIMBRA_EXPORT int32_t Vimbra_Capture(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.Capture(); });
}

VIMBRA_EXPORT int32_t Vimbra_SnapShot(int32_t handle, uint8_t* buffer, int32_t size,
                                      int32_t rowOrder) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SnapShot(buffer, size, rowOrder); });
}

VIMBRA_EXPORT int32_t Vimbra_Trigger(int32_t handle, HWND callback, uint8_t* buffer, int32_t size,
                                     int32_t rowOrder) noexcept {
    return CallSession(handle, 0,
                       [&](CVimbra& s) { return s.Trigger(callback, buffer, size, rowOrder); });
}

VIMBRA_EXPORT int32_t Vimbra_Close(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.Close(); });
}

VIMBRA_EXPORT int32_t Vimbra_GetImage(int32_t handle, uint8_t* buffer, int32_t size,
                                      int32_t rowOrder) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetImage(buffer, size, rowOrder); });
}

VIMBRA_EXPORT int32_t Vimbra_SetPreviewWindow(int32_t handle, HWND parent, int32_t left,
                                              int32_t top, int32_t right, int32_t bottom) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) {
        return s.SetPreviewWindow(parent, left, top, right, bottom);
    });
}

VIMBRA_EXPORT int32_t Vimbra_GetStatus(int32_t handle, int32_t) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.GetStatus(); });
}

VIMBRA_EXPORT int32_t Vimbra_Record(int32_t handle, const char* file, int32_t durationMs,
                                    int32_t showWindow) noexcept {
    return CallSession(handle, 0,
                       [&](CVimbra& s) { return s.Record(file, durationMs, showWindow); });
}

VIMBRA_EXPORT int32_t Vimbra_RecordW(int32_t handle, const VimbraWChar* file, int32_t durationMs,
                                     int32_t showWindow) noexcept {
    return CallSession(handle, 0,
                       [&](CVimbra& s) { return s.RecordW(file, durationMs, showWindow); });
}
