// Little-endian stores for the file headers the writers build byte by byte.
#pragma once

#include <cstdint>

namespace vimbra {

inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The four characters of a RIFF chunk or form name, as they appear in the file.
inline void PutFourCc(uint8_t* p, const char (&code)[5]) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(code[i]);
}

}  // namespace vimbra
