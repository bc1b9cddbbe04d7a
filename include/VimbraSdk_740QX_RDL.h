/*
 * VimbraSdk_740QX_RDL: the C interface of the VIMBRA-740QX-RDL camera SDK.
 *
 * Every function returns a 32-bit integer: non-zero (usually 1) or the value
 * asked for on success, 0 on failure. The reason for a failure is kept in the
 * session and read with Vimbra_GetLastError; each recorded code is also posted
 * to the notification window given to Vimbra_Initialize as message
 * VIMBRA_MSG_ERROR (0x8003) with lParam = code. Every function except
 * Vimbra_Initialize and Vimbra_GetDllVersion takes the instance handle first;
 * an unknown handle returns 0 (or -1 where noted) without recording anything.
 */
#ifndef VIMBRASDK_740QX_RDL_H
#define VIMBRASDK_740QX_RDL_H

#include <stdint.h>

/* Library version 1.3.2.0; Vimbra_GetDllVersion answers VIMBRA_DLL_VERSION. */
#define VIMBRA_VERSION_MAJOR 1
#define VIMBRA_VERSION_MINOR 3
#define VIMBRA_VERSION_PATCH 2
#define VIMBRA_VERSION_TWEAK 0
#define VIMBRA_VERSION_STRING "1.3.2.0"
#define VIMBRA_DLL_VERSION 26412319

#if defined(_WIN32) && !defined(VIMBRA_BUILDING_DLL)
#include <windows.h>
#define VIMBRA_API __declspec(dllimport)
#else
#if !defined(_WINDEF_)
/* Opaque window handle, as STRICT Win32 declares it. Outside Windows the
 * values are issued by the VimbraHost_ window functions below. */
typedef struct HWND__* HWND;
#endif
#if defined(_WIN32)
/* Building the DLL itself: its module definition file names the exports. */
#define VIMBRA_API
#else
#define VIMBRA_API __attribute__((visibility("default")))
#endif
#endif

/* C++ before C++11 (MSVC from 2015 on has both, whatever __cplusplus says)
 * has neither char16_t nor noexcept. */
#if defined(__cplusplus) && (__cplusplus >= 201103L || (defined(_MSC_VER) && _MSC_VER >= 1900))
#define VIMBRA_CPLUSPLUS11 1
#endif

/* Wide strings of the interface are UTF-16, one 16-bit unit per element, on
 * every platform; outside Windows the narrow strings they are converted to
 * use the locale's character set (UTF-8 in practice). */
#if defined(_WIN32) && !defined(VIMBRA_BUILDING_DLL)
typedef wchar_t VimbraWChar;
#elif defined(VIMBRA_CPLUSPLUS11)
typedef char16_t VimbraWChar;
#else
typedef uint16_t VimbraWChar;
#endif

/* No function of the interface throws: failures are results and codes. */
#if defined(VIMBRA_CPLUSPLUS11)
#define VIMBRA_NOEXCEPT noexcept
#else
#define VIMBRA_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Message posted to the notification window for every recorded error code. */
#define VIMBRA_MSG_ERROR 0x8003u
/* Message posted to the callback window for every delivered frame. */
#define VIMBRA_MSG_FRAME 0x8002u

/* Error codes left by failing calls (read with Vimbra_GetLastError). */
enum {
    VIMBRA_ERR_STATE = 1,        /* no device, state refuses the call, or no image yet */
    VIMBRA_ERR_NO_CAMERA = 2,    /* selected slot is empty or in use by another instance */
    VIMBRA_ERR_THREAD = 3,       /* creating a worker thread or its event failed */
    VIMBRA_ERR_WINDOW = 4,       /* preview window failed, or no stored size matches */
    VIMBRA_ERR_MEMORY = 5,       /* initialisation, allocation or host buffer failure */
    VIMBRA_ERR_REGISTER = 6,     /* register access or start of streaming failed */
    VIMBRA_ERR_FORMAT = 7,       /* the video format is invalid */
    VIMBRA_ERR_TRANSFER = 8,     /* a frame transfer failed, or acquisition did not start */
    VIMBRA_ERR_ARGUMENT = 9,     /* argument out of range or required pointer missing */
    VIMBRA_ERR_UNSUPPORTED = 11, /* not supported by this camera */
    VIMBRA_ERR_FILE = 12,        /* a file operation failed */
    VIMBRA_ERR_FRAME_WAIT = 13   /* no frame within 6000 ms, or the transfer failed */
};

/* ---- Lifecycle ---------------------------------------------------------- */

/* Creates a session reporting errors to `notify` (may be NULL); returns its handle, 0 if none could be made (a failed initialisation still returns the handle and leaves code 5). */
VIMBRA_API int32_t Vimbra_Initialize(HWND notify) VIMBRA_NOEXCEPT;
/* Saves the settings, stops acquisition and frees the session; 1, or 0 for an unknown handle or when called from inside another call on the same session (e.g. a window procedure run while one of its dialogs is open), which leaves the session to a later release. */
VIMBRA_API int32_t Vimbra_Release(int32_t handle) VIMBRA_NOEXCEPT;
/* Returns the library version 1.3.2.0 packed as 26412319 (0x0193051F). */
VIMBRA_API int32_t Vimbra_GetDllVersion(void) VIMBRA_NOEXCEPT;
/* Removes and returns the newest recorded error code; 0 when none is left or the handle is unknown. */
VIMBRA_API int32_t Vimbra_GetLastError(int32_t handle) VIMBRA_NOEXCEPT;

/* ---- Format settings ----------------------------------------------------- */

/* Answers the output depth: 8, 12, 24, 32, 44 or 60 (12, 44, 60 for the three 16-bit-sample modes); -1 for an unknown handle. */
VIMBRA_API int32_t Vimbra_GetColorMode(int32_t handle) VIMBRA_NOEXCEPT;
/* Answers the sub-sample mode (0 full, 1 and 2 skip 1/2 and 1/4, 17 and 18 bin 1/2 and 1/4); -1 for an unknown handle. */
VIMBRA_API int32_t Vimbra_GetSubSample(int32_t handle) VIMBRA_NOEXCEPT;
/* Sets the milliseconds slept before each preview frame; 1, or 0 for a negative value (nothing recorded). */
VIMBRA_API int32_t Vimbra_SetWaitTime(int32_t handle, int32_t ms) VIMBRA_NOEXCEPT;
/* Answers the wait time in milliseconds; -1 for an unknown handle. */
VIMBRA_API int32_t Vimbra_GetWaitTime(int32_t handle) VIMBRA_NOEXCEPT;
/* Stores the clock mode (0..5), written to the camera when the next acquisition is prepared; always 1. */
VIMBRA_API int32_t Vimbra_SetHalfClock(int32_t handle, int32_t clockMode) VIMBRA_NOEXCEPT;
/* Answers the frame width EH as stored (not divided by the sub-sample factor); 0 for an unknown handle. */
VIMBRA_API int32_t Vimbra_Width(int32_t handle) VIMBRA_NOEXCEPT;
/* Answers the frame height EV as stored (not divided by the sub-sample factor); 0 for an unknown handle. */
VIMBRA_API int32_t Vimbra_Height(int32_t handle) VIMBRA_NOEXCEPT;

/* ---- Camera selection and initialisation --------------------------------- */

/* Camera limits filled by Vimbra_GetCameraInfo; the host sets `size` (at least 36). */
typedef struct VimbraCameraInfo {
    int32_t size;
    int32_t maxWidth;      /* 2592 */
    int32_t maxHeight;     /* 1944 */
    int32_t minGlobalGain; /* 0 */
    int32_t maxGlobalGain; /* 63 */
    int32_t minColorGain;  /* 0 */
    int32_t maxColorGain;  /* 63 */
    int32_t minExposure;   /* rows: 1 */
    int32_t maxExposure;   /* rows: 16383 */
} VimbraCameraInfo;

/* Probes the cameras again and names each found "Vimbra740QX-RDL_NN" (NN counts from 01) in a table of 256-char entries, which must hold 32 entries; entries up to the 10th are cleared; returns the count. */
VIMBRA_API int32_t Vimbra_EnumDevice(int32_t handle, char* names) VIMBRA_NOEXCEPT;
/* As Vimbra_EnumDevice with 256-unit wide entries, but from the cameras found by the last probe (construction or Vimbra_EnumDevice). */
VIMBRA_API int32_t Vimbra_EnumDeviceW(int32_t handle, VimbraWChar* names) VIMBRA_NOEXCEPT;
/* Writes "Vimbra740QX-RDL_NN" with NN = slot + 1 for the camera in slot 0..31; size in bytes, at least 19 (smaller: code 9); code 2 for an empty slot. */
VIMBRA_API int32_t Vimbra_GetDeviceName(int32_t handle, int32_t slot, char* name, int32_t size) VIMBRA_NOEXCEPT;
/* As Vimbra_GetDeviceName in UTF-16; size in bytes, at least 38 (19 units). */
VIMBRA_API int32_t Vimbra_GetDeviceNameW(int32_t handle, int32_t slot, VimbraWChar* name, int32_t size) VIMBRA_NOEXCEPT;
/* Saves the current camera's settings and switches to the camera in `slot`, loading and applying its settings; code 2 (number kept) for an empty slot, code 1 while acquiring. */
VIMBRA_API int32_t Vimbra_SetDeviceNumber(int32_t handle, int32_t slot) VIMBRA_NOEXCEPT;
/* Fills the camera limits; code 9 without a record, code 5 when info->size is below 36. */
VIMBRA_API int32_t Vimbra_GetCameraInfo(int32_t handle, VimbraCameraInfo* info) VIMBRA_NOEXCEPT;
/* Reads a file of 8-byte records (two little-endian int32) into the session's list, replacing it; 0 (list kept) when the file cannot be read whole or exceeds 64 MiB. */
VIMBRA_API int32_t Vimbra_LoadConfigFileA(int32_t handle, const char* path) VIMBRA_NOEXCEPT;
/* As Vimbra_LoadConfigFileA with a UTF-16 path; code 12 when it cannot be converted or exceeds 1023 bytes. */
VIMBRA_API int32_t Vimbra_LoadConfigFileW(int32_t handle, const VimbraWChar* path) VIMBRA_NOEXCEPT;

/* ---- Camera settings ------------------------------------------------------ */

/* Selects the colour mode by output bits 8, 16, 24, 32, 48 or 64 (effective at the next acquisition); code 9 for other values. */
VIMBRA_API int32_t Vimbra_SetColorMode(int32_t handle, int32_t bits) VIMBRA_NOEXCEPT;
/* Stores the sub-sample mode 0, 1, 2, 17 or 18; other values give 0 without a code. */
VIMBRA_API int32_t Vimbra_SetSubSample(int32_t handle, int32_t mode) VIMBRA_NOEXCEPT;
/* Answers the camera's clock register; *ok 0 and notification 1 when it cannot be read. */
VIMBRA_API int32_t Vimbra_GetHalfClock(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Selects the size stored as "Size_NN" under the product key with this EH and EV; code 4 when none matches, code 7 (full sensor taken) when it is invalid. */
VIMBRA_API int32_t Vimbra_SetCaptureWindow(int32_t handle, int32_t width, int32_t height) VIMBRA_NOEXCEPT;
/* Stores the six format values and programs the camera window (while an acquisition runs, at its next start); code 7 (values kept) when they do not fit the sensor. */
VIMBRA_API int32_t Vimbra_SetCaptureWindowEx(int32_t handle, int32_t th, int32_t ehs, int32_t eh, int32_t tv, int32_t evs, int32_t ev) VIMBRA_NOEXCEPT;
/* Writes each given pointer with the stored format value; 1. */
VIMBRA_API int32_t Vimbra_GetCaptureWindowEx(int32_t handle, int32_t* th, int32_t* ehs, int32_t* eh, int32_t* tv, int32_t* evs, int32_t* ev) VIMBRA_NOEXCEPT;
/* Answers filter value `id` 1..28 (13..18 read from the camera); *ok 0 and code 9 for another id. */
VIMBRA_API int32_t Vimbra_GetFilterValue(int32_t handle, int32_t id, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets filter value `id` 1..28 (13..18 written to the camera; 13 also sets the four colour gains); code 9 out of range. */
VIMBRA_API int32_t Vimbra_SetFilterValue(int32_t handle, int32_t id, int32_t value) VIMBRA_NOEXCEPT;
/* Sets the horizontal mirror (0 or 1). */
VIMBRA_API int32_t Vimbra_SetMirrorH(int32_t handle, int32_t flag) VIMBRA_NOEXCEPT;
/* Sets the vertical mirror (0 or 1); without a camera it only notifies code 1. */
VIMBRA_API int32_t Vimbra_SetMirrorV(int32_t handle, int32_t flag) VIMBRA_NOEXCEPT;
/* Answers the horizontal mirror setting. */
VIMBRA_API int32_t Vimbra_GetMirrorH(int32_t handle) VIMBRA_NOEXCEPT;
/* Answers the vertical mirror setting; without a camera it only notifies code 1. */
VIMBRA_API int32_t Vimbra_GetMirrorV(int32_t handle) VIMBRA_NOEXCEPT;
/* Sets the automatic iris: 0 off, 1 by exposure, 2 by gain; other values notify code 9. */
VIMBRA_API int32_t Vimbra_SetAutoIris(int32_t handle, int32_t mode) VIMBRA_NOEXCEPT;
/* Answers the automatic iris mode; *ok 1. */
VIMBRA_API int32_t Vimbra_GetAutoIris(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the exposure in microseconds, as whole sensor rows 1..16383; code 9 outside. */
VIMBRA_API int32_t Vimbra_SetRealExposureTime(int32_t handle, int32_t microseconds) VIMBRA_NOEXCEPT;
/* Answers the exposure in microseconds from the stored rows, clock and window. */
VIMBRA_API int32_t Vimbra_GetRealExposureTime(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Reads the camera's I/O port register into *value; the last two arguments are ignored. */
VIMBRA_API int32_t Vimbra_GetIOPort(int32_t handle, uint8_t* value, int32_t reserved1, int32_t reserved2) VIMBRA_NOEXCEPT;
/* Writes the camera's I/O port register; 1, or 0 with notification 1. */
VIMBRA_API int32_t Vimbra_SetIOPort(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers sensor register 0..255; *ok 0 and code 6 when it cannot be read. */
VIMBRA_API int32_t Vimbra_ReadRegister(int32_t handle, int32_t reg, int32_t* ok) VIMBRA_NOEXCEPT;
/* Same as Vimbra_ReadRegister. */
VIMBRA_API int32_t Vimbra_ReadRegisterEx(int32_t handle, int32_t reg, int32_t* ok) VIMBRA_NOEXCEPT;
/* Writes the low 16 bits of `value` to sensor register 0..255; code 6 on failure. */
VIMBRA_API int32_t Vimbra_WriteRegister(int32_t handle, int32_t reg, int32_t value) VIMBRA_NOEXCEPT;
/* Same as Vimbra_WriteRegister. */
VIMBRA_API int32_t Vimbra_WriteRegisterEx(int32_t handle, int32_t reg, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the identification byte `address` (0..255) of the camera's serial memory; notification 1 on failure. */
VIMBRA_API int32_t Vimbra_ReadSromID(int32_t handle, int32_t address, int32_t* ok) VIMBRA_NOEXCEPT;
/* Writes an identification byte of the camera's serial memory; notification 1 on failure. */
VIMBRA_API int32_t Vimbra_WriteSromID(int32_t handle, int32_t address, int32_t value) VIMBRA_NOEXCEPT;
/* Not supported: records code 11 and returns -1. */
VIMBRA_API int32_t Vimbra_GetConfigFilter(int32_t handle) VIMBRA_NOEXCEPT;
/* Not supported: records code 11 and returns -1. */
VIMBRA_API int32_t Vimbra_SetConfigFilter(int32_t handle, ...) VIMBRA_NOEXCEPT;

/* Named filter values: each pair is Vimbra_GetFilterValue / Vimbra_SetFilterValue with a fixed id. */
/* Answers the brightness (filter value 1). */
VIMBRA_API int32_t Vimbra_GetBrightness(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the brightness, -255..255 (filter value 1). */
VIMBRA_API int32_t Vimbra_SetBrightness(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the contrast (filter value 2). */
VIMBRA_API int32_t Vimbra_GetContrast(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the contrast, -127..127 (filter value 2). */
VIMBRA_API int32_t Vimbra_SetContrast(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the hue (filter value 3). */
VIMBRA_API int32_t Vimbra_GetHue(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the hue, -360..360 (filter value 3). */
VIMBRA_API int32_t Vimbra_SetHue(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the saturation (filter value 4). */
VIMBRA_API int32_t Vimbra_GetSaturation(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the saturation, -255..255 (filter value 4). */
VIMBRA_API int32_t Vimbra_SetSaturation(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the sharpness (filter value 5). */
VIMBRA_API int32_t Vimbra_GetSharpness(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the sharpness, 0..30 (filter value 5). */
VIMBRA_API int32_t Vimbra_SetSharpness(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the Bayer gains packed as red | green << 8 | blue << 16 (filter value 6). */
VIMBRA_API int32_t Vimbra_GetBayerGainRGB(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the Bayer gains packed as red | green << 8 | blue << 16, low 8 bits each (filter value 6). */
VIMBRA_API int32_t Vimbra_SetBayerGainRGB(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the Bayer gain red (filter value 7). */
VIMBRA_API int32_t Vimbra_GetBayerGainRed(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the Bayer gain red, 0..400 (filter value 7). */
VIMBRA_API int32_t Vimbra_SetBayerGainRed(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the Bayer gain green (filter value 8). */
VIMBRA_API int32_t Vimbra_GetBayerGainGreen(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the Bayer gain green, 0..400 (filter value 8). */
VIMBRA_API int32_t Vimbra_SetBayerGainGreen(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the Bayer gain blue (filter value 9). */
VIMBRA_API int32_t Vimbra_GetBayerGainBlue(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the Bayer gain blue, 0..400 (filter value 9). */
VIMBRA_API int32_t Vimbra_SetBayerGainBlue(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the automatic white balance flag (filter value 10). */
VIMBRA_API int32_t Vimbra_GetBayerGainAuto(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the automatic white balance flag, 0 or 1 (filter value 10). */
VIMBRA_API int32_t Vimbra_SetBayerGainAuto(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gamma (filter value 11). */
VIMBRA_API int32_t Vimbra_GetGamma(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gamma, 0..200 (filter value 11). */
VIMBRA_API int32_t Vimbra_SetGamma(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the Bayer mode (colour phase of the mosaic) (filter value 12). */
VIMBRA_API int32_t Vimbra_GetBayerMode(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the Bayer mode (colour phase of the mosaic), 0..3 (filter value 12). */
VIMBRA_API int32_t Vimbra_SetBayerMode(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the camera's global gain (setting it sets the four colour gains too) (filter value 13). */
VIMBRA_API int32_t Vimbra_GetGlobalGain(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the camera's global gain (setting it sets the four colour gains too), 0..63 (filter value 13). */
VIMBRA_API int32_t Vimbra_SetGlobalGain(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the camera's red gain (filter value 14). */
VIMBRA_API int32_t Vimbra_GetColorGainRed(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the camera's red gain, 0..63 (filter value 14). */
VIMBRA_API int32_t Vimbra_SetColorGainRed(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the camera's green 1 gain (filter value 15). */
VIMBRA_API int32_t Vimbra_GetColorGainGreen1(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the camera's green 1 gain, 0..63 (filter value 15). */
VIMBRA_API int32_t Vimbra_SetColorGainGreen1(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the camera's green 2 gain (filter value 16). */
VIMBRA_API int32_t Vimbra_GetColorGainGreen2(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the camera's green 2 gain, 0..63 (filter value 16). */
VIMBRA_API int32_t Vimbra_SetColorGainGreen2(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the camera's blue gain (filter value 17). */
VIMBRA_API int32_t Vimbra_GetColorGainBlue(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the camera's blue gain, 0..63 (filter value 17). */
VIMBRA_API int32_t Vimbra_SetColorGainBlue(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the camera's exposure in rows (filter value 18). */
VIMBRA_API int32_t Vimbra_GetExposureTime(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the camera's exposure in rows, 1..16383 (filter value 18). */
VIMBRA_API int32_t Vimbra_SetExposureTime(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray filter mode (filter value 19). */
VIMBRA_API int32_t Vimbra_GetGrayMode(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray filter mode, 0..2 (filter value 19). */
VIMBRA_API int32_t Vimbra_SetGrayMode(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray gain R (filter value 20). */
VIMBRA_API int32_t Vimbra_GetGrayGainR(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray gain R, 0..255 (filter value 20). */
VIMBRA_API int32_t Vimbra_SetGrayGainR(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray gain G1 (filter value 21). */
VIMBRA_API int32_t Vimbra_GetGrayGainG1(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray gain G1, 0..255 (filter value 21). */
VIMBRA_API int32_t Vimbra_SetGrayGainG1(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray gain G2 (filter value 22). */
VIMBRA_API int32_t Vimbra_GetGrayGainG2(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray gain G2, 0..255 (filter value 22). */
VIMBRA_API int32_t Vimbra_SetGrayGainG2(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray gain B (filter value 23). */
VIMBRA_API int32_t Vimbra_GetGrayGainB(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray gain B, 0..255 (filter value 23). */
VIMBRA_API int32_t Vimbra_SetGrayGainB(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray offset R (filter value 24). */
VIMBRA_API int32_t Vimbra_GetGrayOffsetR(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray offset R, -255..255 (filter value 24). */
VIMBRA_API int32_t Vimbra_SetGrayOffsetR(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray offset G1 (filter value 25). */
VIMBRA_API int32_t Vimbra_GetGrayOffsetG1(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray offset G1, -255..255 (filter value 25). */
VIMBRA_API int32_t Vimbra_SetGrayOffsetG1(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray offset G2 (filter value 26). */
VIMBRA_API int32_t Vimbra_GetGrayOffsetG2(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray offset G2, -255..255 (filter value 26). */
VIMBRA_API int32_t Vimbra_SetGrayOffsetG2(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;
/* Answers the gray offset B (filter value 27). */
VIMBRA_API int32_t Vimbra_GetGrayOffsetB(int32_t handle, int32_t* ok) VIMBRA_NOEXCEPT;
/* Sets the gray offset B, -255..255 (filter value 27). */
VIMBRA_API int32_t Vimbra_SetGrayOffsetB(int32_t handle, int32_t value) VIMBRA_NOEXCEPT;

/* ---- Acquisition and frame delivery --------------------------------------- */

/* The record whose address comes as wParam of every VIMBRA_MSG_FRAME with lParam 0; rewritten for each frame, so read it while handling the message. The library writes each field with one atomic store, so a host that may still be reading when the next frame arrives reads each field with an atomic load (e.g. __atomic_load_n(&info->width, __ATOMIC_RELAXED)) to see it whole. */
typedef struct VimbraFrameInfo {
    int32_t size;         /* 32 */
    int32_t width;        /* of the output image, in pixels */
    int32_t height;
    int32_t bitsPerPixel; /* 8, 16, 24, 32, 48 or 64 */
    int32_t frameRate;    /* frames per second x 10 in preview; 0 in trigger mode */
    int32_t reserved;
    uint8_t* data;        /* the host buffer the frame was copied into, or NULL */
} VimbraFrameInfo;

/* Starts live preview into the library's preview window (when the placement asks for one), without frame messages or host copies; code 8 when it does not start. */
VIMBRA_API int32_t Vimbra_Preview(int32_t handle) VIMBRA_NOEXCEPT;
/* As Vimbra_Preview, also copying each frame into `buffer` (when size is non-zero; rows top first when rowOrder is non-zero, else last first) and posting VIMBRA_MSG_FRAME to `callback`. */
VIMBRA_API int32_t Vimbra_CallBackPreview(int32_t handle, HWND callback, uint8_t* buffer, int32_t size, int32_t rowOrder) VIMBRA_NOEXCEPT;
/* Starts preview with the delivery targets already set; 1 when preview already runs, code 1 in capture or trigger mode. */
VIMBRA_API int32_t Vimbra_StartPreview(int32_t handle) VIMBRA_NOEXCEPT;
/* Stops preview, capture or trigger mode (leaving trigger mode first) and waits for the worker; 1. */
VIMBRA_API int32_t Vimbra_StopPreview(int32_t handle) VIMBRA_NOEXCEPT;
/* Prepares the camera and keeps it open for Vimbra_SnapShot; code 1 during preview or trigger mode. */
VIMBRA_API int32_t Vimbra_Capture(int32_t handle) VIMBRA_NOEXCEPT;
/* Takes one frame into `buffer` (size bytes, row order as for Vimbra_CallBackPreview); code 1 during preview or trigger mode, 8 when no frame comes, 5 when it does not fit. */
VIMBRA_API int32_t Vimbra_SnapShot(int32_t handle, uint8_t* buffer, int32_t size, int32_t rowOrder) VIMBRA_NOEXCEPT;
/* Starts hardware-trigger mode delivering each triggered frame as Vimbra_CallBackPreview does (the first one is discarded); code 1 when any acquisition runs. A camera that goes away meanwhile is reported once with code 8 (also as a frame message with wParam 0); trigger mode goes on and delivers again when it returns. */
VIMBRA_API int32_t Vimbra_Trigger(int32_t handle, HWND callback, uint8_t* buffer, int32_t size, int32_t rowOrder) VIMBRA_NOEXCEPT;
/* Closes the preview window, stops any acquisition and closes the camera; 1. */
VIMBRA_API int32_t Vimbra_Close(int32_t handle) VIMBRA_NOEXCEPT;
/* Copies the current output image into `buffer` (size bytes, row order as above): the most recent converted frame, or a blank image when an acquisition was prepared but has converted no frame yet; code 5 before any acquisition was prepared or without a buffer, code 5 (twice) when it does not fit. */
VIMBRA_API int32_t Vimbra_GetImage(int32_t handle, uint8_t* buffer, int32_t size, int32_t rowOrder) VIMBRA_NOEXCEPT;
/* Places the preview window made by the next start: a child of `parent` at (left, top) of width `right` and height `bottom`, or without parent a window of its own; NULL and all zero for none. */
VIMBRA_API int32_t Vimbra_SetPreviewWindow(int32_t handle, HWND parent, int32_t left, int32_t top, int32_t right, int32_t bottom) VIMBRA_NOEXCEPT;
/* Starts preview (with its window when showWindow is non-zero) and records it into the AVI file `file` for durationMs from the first frame; code 9 without a name or with a negative duration, 12 when preview or the file fails, 3 when the recorder cannot start, 1 while a recording runs (which goes on). Stopping preview, closing or releasing ends a recording early as a complete file; so does a write that fails (a full disk), which also records code 12. */
VIMBRA_API int32_t Vimbra_Record(int32_t handle, const char* file, int32_t durationMs, int32_t showWindow) VIMBRA_NOEXCEPT;
/* As Vimbra_Record with a UTF-16 file name; code 12 when it cannot be converted or exceeds 1023 bytes. */
VIMBRA_API int32_t Vimbra_RecordW(int32_t handle, const VimbraWChar* file, int32_t durationMs, int32_t showWindow) VIMBRA_NOEXCEPT;
/* Always 0; the second argument is ignored. */
VIMBRA_API int32_t Vimbra_GetStatus(int32_t handle, int32_t reserved) VIMBRA_NOEXCEPT;

/* ---- Still images and recording ------------------------------------------- */

/* Saves the current image as BMP (format 0), raw pixel memory (1), progressive JPEG of quality 100, 70 or 20 (2, 3, 4), PNG (5) or TIFF (6); 0 without a code for other formats or a file that cannot be written; code 1 without a device or a current image, or before a frame has been converted since the acquisition was last closed. */
VIMBRA_API int32_t Vimbra_SaveImage(int32_t handle, const char* fileName, int32_t format) VIMBRA_NOEXCEPT;
/* As Vimbra_SaveImage with a UTF-16 name, saving whatever the current image holds even before a new frame; code 1 when the name has no narrow form of at most 1023 bytes. */
VIMBRA_API int32_t Vimbra_SaveImageW(int32_t handle, const VimbraWChar* fileName, int32_t format) VIMBRA_NOEXCEPT;

/* ---- Property dialogs ----------------------------------------------------- */

/* Modal dialogs on the calling thread, kept above `parent` when it stands for
 * an X11 window. Each returns 1 once the dialog has closed (also after
 * Cancel), or 0: code 1 without a camera, code 4 when no display can be
 * opened (nothing is changed then). */
/* Video format (colour, size list, sub-sampling, wait time, clock), saved on
 * OK and Apply; preview and capture stop around it, trigger mode pauses, and
 * after OK the session reloads the format before restarting them. */
VIMBRA_API int32_t Vimbra_SetCameraDlg(int32_t handle, HWND parent) VIMBRA_NOEXCEPT;
/* Gains, exposure, mirrors and auto iris, applied as they change; any ending
 * but OK puts the camera and the settings back. */
VIMBRA_API int32_t Vimbra_SetAnalogDlg(int32_t handle, HWND parent) VIMBRA_NOEXCEPT;
/* The software image filter (and, for monochrome modes, the gray filter),
 * applied from the next frame; any ending but OK puts the settings back. */
VIMBRA_API int32_t Vimbra_SetImageDlg(int32_t handle, HWND parent) VIMBRA_NOEXCEPT;

/* ---- Functions this camera does not support ----------------------------- */

/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_SetSamplingRate(int32_t handle, ...) VIMBRA_NOEXCEPT;
/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_Fps(int32_t handle, ...) VIMBRA_NOEXCEPT;
/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_Fpga_ReadRegister(int32_t handle, ...) VIMBRA_NOEXCEPT;
/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_Fpga_WriteRegister(int32_t handle, ...) VIMBRA_NOEXCEPT;
/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_SetCrossbar(int32_t handle, ...) VIMBRA_NOEXCEPT;
/* Not supported: writes 0 to *out (when given, for a known handle); always 0. */
VIMBRA_API int32_t Vimbra_GetSamplingRate(int32_t handle, int32_t* out) VIMBRA_NOEXCEPT;
/* Not supported: writes 0 to *out (when given, for a known handle); always 0. */
VIMBRA_API int32_t Vimbra_GetVideoFormat(int32_t handle, int32_t* out) VIMBRA_NOEXCEPT;

#if !defined(_WIN32) || defined(VIMBRA_BUILDING_DLL)
/* ---- Host companion interface for hosts without Win32 -------------------
 * Outside Windows the library runs its own message windows: a host creates
 * one, passes it wherever an HWND is asked for, and reads what the library
 * posts to it, by polling or through a callback. Posting never blocks; a
 * window queues at most 10,000 messages and drops further ones. */

typedef struct VimbraHostMessage {
    HWND window;       /* the window posted to; NULL for the thread's own queue */
    uint32_t message;  /* e.g. VIMBRA_MSG_ERROR or VIMBRA_MSG_FRAME */
    uintptr_t wParam;
    intptr_t lParam;
} VimbraHostMessage;

typedef void (*VimbraHostCallback)(void* user, HWND window, uint32_t message, uintptr_t wParam,
                                   intptr_t lParam);

/* Creates a message window; returns its handle, NULL on failure. */
VIMBRA_API HWND VimbraHost_CreateWindow(void) VIMBRA_NOEXCEPT;
/* Destroys a window and drops its queued messages; 1, or 0 for an unknown window. */
VIMBRA_API int32_t VimbraHost_DestroyWindow(HWND window) VIMBRA_NOEXCEPT;
/* Waits up to timeoutMs (0xFFFFFFFF: no limit) for the oldest message of `window` (NULL: the calling thread's own queue); 1 with *msg filled, 0 on time-out, -1 for an unknown window or NULL msg. */
VIMBRA_API int32_t VimbraHost_GetMessage(HWND window, VimbraHostMessage* msg, uint32_t timeoutMs) VIMBRA_NOEXCEPT;
/* Like VimbraHost_GetMessage without waiting: 1 with *msg filled, 0 when the queue is empty, -1 for an unknown window or NULL msg. */
VIMBRA_API int32_t VimbraHost_PeekMessage(HWND window, VimbraHostMessage* msg) VIMBRA_NOEXCEPT;
/* Delivers every message of `window` to `callback` on a library thread, in order, instead of queueing it; NULL returns to queueing. 1, or 0 for an unknown window. */
VIMBRA_API int32_t VimbraHost_SetCallback(HWND window, VimbraHostCallback callback, void* user) VIMBRA_NOEXCEPT;
/* Posts a message to a window (NULL: the calling thread's own queue) as PostMessageA does; 1, or 0 for an unknown window or a full queue. */
VIMBRA_API int32_t VimbraHost_PostMessage(HWND window, uint32_t message, uintptr_t wParam,
                                          intptr_t lParam) VIMBRA_NOEXCEPT;
/* Turns the id of an X11 window of the host (an XID on the display the library shows its windows on, $DISPLAY) into an HWND to pass as the preview's parent window; the same id always gives the same HWND. NULL when the library shows no windows on X11 (no display, or VIMBRA_WINDOWS=offscreen) or no such window exists. */
VIMBRA_API HWND VimbraHost_WindowFromX11(unsigned long xid) VIMBRA_NOEXCEPT;
#endif /* hosts without Win32 */

#ifdef __cplusplus
}
#endif

#endif /* VIMBRASDK_740QX_RDL_H */
