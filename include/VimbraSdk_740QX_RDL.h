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

#if defined(_WIN32)
#include <windows.h>
#define VIMBRA_API __declspec(dllimport)
#else
#if !defined(_WINDEF_)
/* Opaque window handle, as STRICT Win32 declares it. Outside Windows the
 * values are issued by the VimbraHost_ window functions below. */
typedef struct HWND__* HWND;
#endif
#define VIMBRA_API __attribute__((visibility("default")))
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
VIMBRA_API int32_t Vimbra_Initialize(HWND notify);
/* Saves the settings, stops acquisition and frees the session; 1, or 0 for an unknown handle. */
VIMBRA_API int32_t Vimbra_Release(int32_t handle);
/* Returns the library version 1.3.2.0 packed as 26412319 (0x0193051F). */
VIMBRA_API int32_t Vimbra_GetDllVersion(void);
/* Removes and returns the newest recorded error code; 0 when none is left or the handle is unknown. */
VIMBRA_API int32_t Vimbra_GetLastError(int32_t handle);

/* ---- Format settings ----------------------------------------------------- */

/* Answers the output depth: 8, 12, 24, 32, 44 or 60 (12, 44, 60 for the three 16-bit-sample modes); -1 for an unknown handle. */
VIMBRA_API int32_t Vimbra_GetColorMode(int32_t handle);
/* Answers the sub-sample mode (0 full, 1 and 2 skip 1/2 and 1/4, 17 and 18 bin 1/2 and 1/4); -1 for an unknown handle. */
VIMBRA_API int32_t Vimbra_GetSubSample(int32_t handle);
/* Sets the milliseconds slept before each preview frame; 1, or 0 for a negative value (nothing recorded). */
VIMBRA_API int32_t Vimbra_SetWaitTime(int32_t handle, int32_t ms);
/* Answers the wait time in milliseconds; -1 for an unknown handle. */
VIMBRA_API int32_t Vimbra_GetWaitTime(int32_t handle);
/* Stores the clock mode (0..5), written to the camera when the next acquisition is prepared; always 1. */
VIMBRA_API int32_t Vimbra_SetHalfClock(int32_t handle, int32_t clockMode);
/* Answers the frame width EH as stored (not divided by the sub-sample factor); 0 for an unknown handle. */
VIMBRA_API int32_t Vimbra_Width(int32_t handle);
/* Answers the frame height EV as stored (not divided by the sub-sample factor); 0 for an unknown handle. */
VIMBRA_API int32_t Vimbra_Height(int32_t handle);

/* ---- Camera selection and initialisation --------------------------------- */

/* ---- Camera settings ------------------------------------------------------ */

/* ---- Acquisition and frame delivery --------------------------------------- */

/* ---- Still images and recording ------------------------------------------- */

/* ---- Property dialogs ----------------------------------------------------- */

/* ---- Functions this camera does not support ----------------------------- */

/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_SetSamplingRate(int32_t handle, ...);
/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_Fps(int32_t handle, ...);
/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_Fpga_ReadRegister(int32_t handle, ...);
/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_Fpga_WriteRegister(int32_t handle, ...);
/* Not supported: posts code 11 to the notification window (nothing recorded); always 0. */
VIMBRA_API int32_t Vimbra_SetCrossbar(int32_t handle, ...);
/* Not supported: writes 0 to *out (when given, for a known handle); always 0. */
VIMBRA_API int32_t Vimbra_GetSamplingRate(int32_t handle, int32_t* out);
/* Not supported: writes 0 to *out (when given, for a known handle); always 0. */
VIMBRA_API int32_t Vimbra_GetVideoFormat(int32_t handle, int32_t* out);

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
VIMBRA_API HWND VimbraHost_CreateWindow(void);
/* Destroys a window and drops its queued messages; 1, or 0 for an unknown window. */
VIMBRA_API int32_t VimbraHost_DestroyWindow(HWND window);
/* Waits up to timeoutMs (0xFFFFFFFF: no limit) for the oldest message of `window` (NULL: the calling thread's own queue); 1 with *msg filled, 0 on time-out, -1 for an unknown window or NULL msg. */
VIMBRA_API int32_t VimbraHost_GetMessage(HWND window, VimbraHostMessage* msg, uint32_t timeoutMs);
/* Like VimbraHost_GetMessage without waiting: 1 with *msg filled, 0 when the queue is empty, -1 for an unknown window or NULL msg. */
VIMBRA_API int32_t VimbraHost_PeekMessage(HWND window, VimbraHostMessage* msg);
/* Delivers every message of `window` to `callback` on a library thread, in order, instead of queueing it; NULL returns to queueing. 1, or 0 for an unknown window. */
VIMBRA_API int32_t VimbraHost_SetCallback(HWND window, VimbraHostCallback callback, void* user);
/* Posts a message to a window (NULL: the calling thread's own queue) as PostMessageA does; 1, or 0 for an unknown window or a full queue. */
VIMBRA_API int32_t VimbraHost_PostMessage(HWND window, uint32_t message, uintptr_t wParam,
                                          intptr_t lParam);

#ifdef __cplusplus
}
#endif

#endif /* VIMBRASDK_740QX_RDL_H */
