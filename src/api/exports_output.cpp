// Exports of still image saving: each forwards to one operation of the
// session.
#include "VimbraSdk_740QX_RDL.h"
#include "api/export_call.h"
#include "session/vimbra.h"

using vimbra::CallSession;
using vimbra::CVimbra;

VIMBRA_EXPORT int32_t Vimbra_SaveImage(int32_t handle, const char* file_name,
                                       int32_t format) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SaveImage(file_name, format); });
}

VIMBRA_EXPORT int32_t Vimbra_SaveImageW(int32_t handle, const VimbraWChar* file_name,
                                        int32_t format) noexcept {
    return CallSession(handle, 0, [&](CVimbra& s) { return s.SaveImageW(file_name, format); });
}
