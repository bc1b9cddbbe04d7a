// Internal helpers shared by the filter and raw correction routines: row
// addressing and the switch for the vector instruction paths.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/pixel_routine.h"

namespace vimbra::pixel {

// True when the AVX-512 (BW + VBMI) paths may run: the processor has them and
// SetPixelVectorPaths has not turned them off.
bool UseAvx512();

// Reads the record that a parameter pointer refers to, or null.
template <class T>
T* Param(void** param) {
    return param != nullptr ? static_cast<T*>(*param) : nullptr;
}

// Address of column `x` of memory row `row`.
inline uint8_t* At(uint8_t* bits, int row, int x, int stride, int bpp) {
    return bits + static_cast<ptrdiff_t>(row) * stride + static_cast<ptrdiff_t>(x) * bpp;
}
inline const uint8_t* At(const uint8_t* bits, int row, int x, int stride, int bpp) {
    return bits + static_cast<ptrdiff_t>(row) * stride + static_cast<ptrdiff_t>(x) * bpp;
}

inline int Width(const Rect& r) {
    return r.right - r.left;
}
inline int Height(const Rect& r) {
    return r.bottom - r.top;
}

}  // namespace vimbra::pixel
