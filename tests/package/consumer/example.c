#include <stdio.h>
#include <VimbraSdk_740QX_RDL.h>

int main(void) {
    HWND window = VimbraHost_CreateWindow();        /* receives error notices */
    int32_t camera = Vimbra_Initialize(window);     /* session on the first camera */
    int32_t error = Vimbra_GetLastError(camera);    /* 0 when it started cleanly */
    printf("VimbraSdk %s: session %d, %d x %d, error %d\n", VIMBRA_VERSION_STRING, camera,
           Vimbra_Width(camera), Vimbra_Height(camera), error);
    Vimbra_Release(camera);
    VimbraHost_DestroyWindow(window);
    return camera != 0 ? 0 : 1;
}
