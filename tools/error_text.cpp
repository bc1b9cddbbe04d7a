#include "error_text.h"

#include "VimbraSdk_740QX_RDL.h"

namespace vimbra::tools {

const char* ErrorText(int32_t code) {
    switch (code) {
        case 0:
            return "failed without a recorded reason";
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

}  // namespace vimbra::tools
