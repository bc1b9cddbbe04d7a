// Conversions between UTF-16 and the calling thread's ANSI code page on
// Windows (CP_THREAD_ACP).
#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace vimbra::platform {

bool WideToNarrow(const char16_t* in, char* out, size_t out_size) {
    if (out == nullptr || out_size == 0) return false;
    out[0] = '\0';
    if (in == nullptr) return false;
    const int room = out_size > INT_MAX ? INT_MAX : static_cast<int>(out_size);
    // A character the code page lacks would become the default character:
    // refuse it instead of naming another file.
    BOOL used_default = FALSE;
    const int n = ::WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS,
                                        reinterpret_cast<const wchar_t*>(in), -1, out, room,
                                        nullptr, &used_default);
    if (n <= 0 || used_default) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool NarrowToWide(const char* in, char16_t* out, size_t out_units) {
    if (out == nullptr || out_units == 0) return false;
    out[0] = u'\0';
    if (in == nullptr) return false;
    const int room = out_units > INT_MAX ? INT_MAX : static_cast<int>(out_units);
    const int n = ::MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, in, -1,
                                        reinterpret_cast<wchar_t*>(out), room);
    if (n <= 0) {
        out[0] = u'\0';
        return false;
    }
    return true;
}

}  // namespace vimbra::platform
