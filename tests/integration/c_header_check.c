/* Compiled as C: the public header must be usable from plain C. */
#include "VimbraSdk_740QX_RDL.h"

int32_t vimbra_c_header_check(void) {
    VimbraHostMessage msg;
    HWND window = VimbraHost_CreateWindow();
    int32_t handle = Vimbra_Initialize(window);
    int32_t ok = Vimbra_GetDllVersion() == 26412319;
    ok = ok && VimbraHost_PeekMessage(window, &msg) == 1 && msg.message == VIMBRA_MSG_ERROR;
    ok = ok && Vimbra_Release(handle) == 1;
    VimbraHost_DestroyWindow(window);
    return ok;
}
