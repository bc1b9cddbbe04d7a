// Exports of camera selection, initialisation, the configuration file and
// the camera settings: each forwards to one operation of the session.
#include "VimbraSdk_740QX_RDL.h"
#include "api/export_call.h"
#include "session/vimbra.h"

using vimbra::CallSession;
using vimbra::CVimbra;

// ---- Camera selection and initialisation -----------------------------------

VIMBRA_EXPORT int32_t Vimbra_EnumDevice(int32_t handle, char* names) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.EnumDevice(names); });
}

VIMBRA_EXPORT int32_t Vimbra_EnumDeviceW(int32_t handle, VimbraWChar* names) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.EnumDeviceW(names); });
}

VIMBRA_EXPORT int32_t Vimbra_GetDeviceName(int32_t handle, int32_t slot, char* name,
                                           int32_t size) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetDeviceName(slot, name, size); });
}

VIMBRA_EXPORT int32_t Vimbra_GetDeviceNameW(int32_t handle, int32_t slot, VimbraWChar* name,
                                            int32_t size) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetDeviceNameW(slot, name, size); });
}

VIMBRA_EXPORT int32_t Vimbra_SetDeviceNumber(int32_t handle, int32_t slot) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetDeviceNumber(slot); });
}

VIMBRA_EXPORT int32_t Vimbra_GetCameraInfo(int32_t handle, VimbraCameraInfo* info) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetCameraInfo(info); });
}

VIMBRA_EXPORT int32_t Vimbra_LoadConfigFileA(int32_t handle, const char* path) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.LoadConfigFile(path); });
}

VIMBRA_EXPORT int32_t Vimbra_LoadConfigFileW(int32_t handle, const VimbraWChar* path) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.LoadConfigFileW(path); });
}

// ---- Camera settings ---------------------------------------------------------

VIMBRA_EXPORT int32_t Vimbra_SetColorMode(int32_t handle, int32_t bits) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetColorMode(bits); });
}

VIMBRA_EXPORT int32_t Vimbra_SetSubSample(int32_t handle, int32_t mode) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetSubSample(mode); });
}

VIMBRA_EXPORT int32_t Vimbra_GetHalfClock(int32_t handle, int32_t* ok) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetHalfClock(ok); });
}

VIMBRA_EXPORT int32_t Vimbra_SetCaptureWindow(int32_t handle, int32_t width,
                                              int32_t height) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetCaptureWindow(width, height); });
}

VIMBRA_EXPORT int32_t Vimbra_SetCaptureWindowEx(int32_t handle, int32_t th, int32_t ehs, int32_t eh,
                                                int32_t tv, int32_t evs, int32_t ev) noexcept {
    return CallSession(handle, 0,
                       [&](CVimbra& s) { return s.SetCaptureWindowEx(th, ehs, eh, tv, evs, ev); });
}

VIMBRA_EXPORT int32_t Vimbra_GetCaptureWindowEx(int32_t handle, int32_t* th, int32_t* ehs,
                                                int32_t* eh, int32_t* tv, int32_t* evs,
                                                int32_t* ev) noexcept {
    return CallSession(handle, 0,
                       [&](CVimbra& s) { return s.GetCaptureWindowEx(th, ehs, eh, tv, evs, ev); });
}

VIMBRA_EXPORT int32_t Vimbra_GetFilterValue(int32_t handle, int32_t id, int32_t* ok) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetFilterValue(id, ok); });
}

VIMBRA_EXPORT int32_t Vimbra_SetFilterValue(int32_t handle, int32_t id, int32_t value) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetFilterValue(id, value); });
}

VIMBRA_EXPORT int32_t Vimbra_SetMirrorH(int32_t handle, int32_t flag) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetMirrorH(flag); });
}

VIMBRA_EXPORT int32_t Vimbra_SetMirrorV(int32_t handle, int32_t flag) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetMirrorV(flag); });
}

VIMBRA_EXPORT int32_t Vimbra_GetMirrorH(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.GetMirrorH(); });
}

VIMBRA_EXPORT int32_t Vimbra_GetMirrorV(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.GetMirrorV(); });
}

VIMBRA_EXPORT int32_t Vimbra_SetAutoIris(int32_t handle, int32_t mode) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetAutoIris(mode); });
}

VIMBRA_EXPORT int32_t Vimbra_GetAutoIris(int32_t handle, int32_t* ok) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetAutoIris(ok); });
}

VIMBRA_EXPORT int32_t Vimbra_SetRealExposureTime(int32_t handle, int32_t microseconds) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetRealExposureTime(microseconds); });
}

VIMBRA_EXPORT int32_t Vimbra_GetRealExposureTime(int32_t handle, int32_t* ok) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetRealExposureTime(ok); });
}

VIMBRA_EXPORT int32_t Vimbra_GetIOPort(int32_t handle, uint8_t* value, int32_t, int32_t) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.GetIOPort(value); });
}

VIMBRA_EXPORT int32_t Vimbra_SetIOPort(int32_t handle, int32_t value) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SetIOPort(value); });
}

VIMBRA_EXPORT int32_t Vimbra_ReadRegister(int32_t handle, int32_t reg, int32_t* ok) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.ReadRegister(reg, ok); });
}

VIMBRA_EXPORT int32_t Vimbra_ReadRegisterEx(int32_t handle, int32_t reg, int32_t* ok) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.ReadRegister(reg, ok); });
}

VIMBRA_EXPORT int32_t Vimbra_WriteRegister(int32_t handle, int32_t reg, int32_t value) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.WriteRegister(reg, value); });
}

VIMBRA_EXPORT int32_t Vimbra_WriteRegisterEx(int32_t handle, int32_t reg, int32_t value) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.WriteRegister(reg, value); });
}

VIMBRA_EXPORT int32_t Vimbra_ReadSromID(int32_t handle, int32_t address, int32_t* ok) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.ReadSromID(address, ok); });
}

VIMBRA_EXPORT int32_t Vimbra_WriteSromID(int32_t handle, int32_t address, int32_t value) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.WriteSromID(address, value); });
}

VIMBRA_EXPORT int32_t Vimbra_GetConfigFilter(int32_t handle) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.GetConfigFilter(); });
}

VIMBRA_EXPORT int32_t Vimbra_SetConfigFilter(int32_t handle, ...) noexcept {
    return CallSession(handle, 0, [](CVimbra& s) { return s.SetConfigFilter(); });
}

// Named filter values: fixed-id forms of Vimbra_GetFilterValue and
// Vimbra_SetFilterValue.
#define VIMBRA_FILTER_VALUE_PAIR(Name, id)                                                      \
    VIMBRA_EXPORT int32_t Vimbra_Get##Name(int32_t handle, int32_t* ok) noexcept {              \
        return CallSession(handle, 0, [&](CVimbra& s) { return s.GetFilterValue(id, ok); });    \
    }                                                                                           \
    VIMBRA_EXPORT int32_t Vimbra_Set##Name(int32_t handle, int32_t value) noexcept {            \
        return CallSession(handle, 0, [&](CVimbra& s) { return s.SetFilterValue(id, value); }); \
    }

VIMBRA_FILTER_VALUE_PAIR(Brightness, vimbra::kFvBrightness)
VIMBRA_FILTER_VALUE_PAIR(Contrast, vimbra::kFvContrast)
VIMBRA_FILTER_VALUE_PAIR(Hue, vimbra::kFvHue)
VIMBRA_FILTER_VALUE_PAIR(Saturation, vimbra::kFvSaturation)
VIMBRA_FILTER_VALUE_PAIR(Sharpness, vimbra::kFvSharpness)
VIMBRA_FILTER_VALUE_PAIR(BayerGainRGB, vimbra::kFvBayerGainRgb)
VIMBRA_FILTER_VALUE_PAIR(BayerGainRed, vimbra::kFvBayerGainRed)
VIMBRA_FILTER_VALUE_PAIR(BayerGainGreen, vimbra::kFvBayerGainGreen)
VIMBRA_FILTER_VALUE_PAIR(BayerGainBlue, vimbra::kFvBayerGainBlue)
VIMBRA_FILTER_VALUE_PAIR(BayerGainAuto, vimbra::kFvBayerGainAuto)
VIMBRA_FILTER_VALUE_PAIR(Gamma, vimbra::kFvGamma)
VIMBRA_FILTER_VALUE_PAIR(BayerMode, vimbra::kFvBayerMode)
VIMBRA_FILTER_VALUE_PAIR(GlobalGain, vimbra::kFvGlobalGain)
VIMBRA_FILTER_VALUE_PAIR(ColorGainRed, vimbra::kFvColorGainRed)
VIMBRA_FILTER_VALUE_PAIR(ColorGainGreen1, vimbra::kFvColorGainGreen1)
VIMBRA_FILTER_VALUE_PAIR(ColorGainGreen2, vimbra::kFvColorGainGreen2)
VIMBRA_FILTER_VALUE_PAIR(ColorGainBlue, vimbra::kFvColorGainBlue)
VIMBRA_FILTER_VALUE_PAIR(ExposureTime, vimbra::kFvExposure)
VIMBRA_FILTER_VALUE_PAIR(GrayMode, vimbra::kFvGrayMode)
VIMBRA_FILTER_VALUE_PAIR(GrayGainR, vimbra::kFvGrayGainR)
VIMBRA_FILTER_VALUE_PAIR(GrayGainG1, vimbra::kFvGrayGainG1)
VIMBRA_FILTER_VALUE_PAIR(GrayGainG2, vimbra::kFvGrayGainG2)
VIMBRA_FILTER_VALUE_PAIR(GrayGainB, vimbra::kFvGrayGainB)
VIMBRA_FILTER_VALUE_PAIR(GrayOffsetR, vimbra::kFvGrayOffsetR)
VIMBRA_FILTER_VALUE_PAIR(GrayOffsetG1, vimbra::kFvGrayOffsetG1)
VIMBRA_FILTER_VALUE_PAIR(GrayOffsetG2, vimbra::kFvGrayOffsetG2)
VIMBRA_FILTER_VALUE_PAIR(GrayOffsetB, vimbra::kFvGrayOffsetB)
