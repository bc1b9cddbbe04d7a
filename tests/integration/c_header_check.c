/* Compiled as C: the public header must be usable from plain C. */
#include <stddef.h>

#include "VimbraSdk_740QX_RDL.h"

int32_t vimbra_c_header_check(void) {
    VimbraHostMessage msg;
    VimbraCameraInfo info;
    VimbraWChar name[20];
    HWND window = VimbraHost_CreateWindow();
    int32_t handle = Vimbra_Initialize(window);
    int32_t ok = Vimbra_GetDllVersion() == 26412319;
    info.size = (int32_t)sizeof info;
    ok = ok && Vimbra_GetCameraInfo(handle, &info) == 1 && info.maxWidth == 2592;
    ok = ok && Vimbra_GetDeviceNameW(handle, 0, name, (int32_t)sizeof name) == 1 && name[0] == 'V';
    ok = ok && Vimbra_GetCameraInfo(handle, NULL) == 0;
    ok = ok && VimbraHost_PeekMessage(window, &msg) == 1 && msg.message == VIMBRA_MSG_ERROR &&
         msg.lParam == VIMBRA_ERR_ARGUMENT;
    ok = ok && Vimbra_Release(handle) == 1;
    VimbraHost_DestroyWindow(window);
    return ok;
}
