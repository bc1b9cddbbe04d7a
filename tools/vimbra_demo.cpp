// A small host program: opens a session on the library, reports what it finds
// and releases the session again.
#include <cstdio>

#include "VimbraSdk_740QX_RDL.h"

namespace {

const char* ErrorText(int32_t code) {
    switch (code) {
        case VIMBRA_ERR_STATE:
            return "no device, or the call is refused in this state";
        case VIMBRA_ERR_NO_CAMERA:
            return "no camera in the selected slot, or it is in use";
        case VIMBRA_ERR_THREAD:
            return "a worker thread could not be started";
        case VIMBRA_ERR_WINDOW:
            return "window failure, or no stored size matches";
        case VIMBRA_ERR_MEMORY:
            return "initialisation or memory failure";
        case VIMBRA_ERR_REGISTER:
            return "register access or streaming start failed";
        case VIMBRA_ERR_FORMAT:
            return "invalid video format";
        case VIMBRA_ERR_TRANSFER:
            return "frame transfer failed";
        case VIMBRA_ERR_ARGUMENT:
            return "argument out of range";
        case VIMBRA_ERR_UNSUPPORTED:
            return "not supported by this camera";
        case VIMBRA_ERR_FILE:
            return "file operation failed";
        case VIMBRA_ERR_FRAME_WAIT:
            return "no frame arrived in time";
        default:
            return "unknown code";
    }
}

}  // namespace

int main() {
    std::printf("VimbraSdk_740QX_RDL 1.3.2.0, version number %d\n", Vimbra_GetDllVersion());

    HWND notify = VimbraHost_CreateWindow();
    const int32_t handle = Vimbra_Initialize(notify);
    if (handle == 0) {
        std::printf("no session could be created\n");
        return 1;
    }
    std::printf("session %d: frame %d x %d, colour mode %d, wait time %d ms\n", handle,
                Vimbra_Width(handle), Vimbra_Height(handle), Vimbra_GetColorMode(handle),
                Vimbra_GetWaitTime(handle));

    VimbraHostMessage msg{};
    while (VimbraHost_PeekMessage(notify, &msg) == 1)
        if (msg.message == VIMBRA_MSG_ERROR)
            std::printf("notification: error %ld\n", static_cast<long>(msg.lParam));
    for (int32_t code; (code = Vimbra_GetLastError(handle)) != 0;)
        std::printf("error %d: %s\n", code, ErrorText(code));

    std::printf("release: %d\n", Vimbra_Release(handle));
    VimbraHost_DestroyWindow(notify);
    return 0;
}
