/* A host whose exit handler calls the library after the library's own
 * statics are gone: the handler is registered before the first session, so it
 * runs after the registry is destroyed. Every call must answer as for an
 * unknown handle. Exit status 0 when they do. */
#include <stdio.h>
#include <stdlib.h>

#include "VimbraSdk_740QX_RDL.h"

static int32_t g_handle;

static void LateCalls(void) {
    const int32_t released = Vimbra_Release(g_handle);
    const int32_t code = Vimbra_GetLastError(g_handle);
    const int32_t mode = Vimbra_GetColorMode(g_handle);
    const int32_t again = Vimbra_Initialize(NULL);
    if (released != 0 || code != 0 || mode != -1 || again != 0) {
        fprintf(stderr, "late calls answered %d %d %d %d\n", released, code, mode, again);
        _Exit(1);
    }
}

int main(void) {
    if (atexit(LateCalls) != 0) return 2;
    g_handle = Vimbra_Initialize(NULL);
    if (g_handle == 0) return 3;
    return 0;
}
