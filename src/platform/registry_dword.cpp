// The 32-bit value helpers, the same over every registry back end.
#include "platform/registry.h"

namespace vimbra::platform {

RegStatus QueryDword(RegKey key, const char* name, int32_t* value) {
    if (!value) return kRegInvalidParameter;
    uint32_t size = sizeof *value;
    return QueryValue(key, name, nullptr, value, &size);
}

RegStatus SetDword(RegKey key, const char* name, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return SetValue(key, name, kRegDword, bytes, sizeof bytes);
}

}  // namespace vimbra::platform
