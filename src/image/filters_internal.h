// Internal helpers shared by the filter and raw correction routines: row
// addressing and the switch for the vector instruction paths.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "image/demosaic.h"
#include "image/pixel_routine.h"
#include "image/row_pool.h"

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

// Calls f(begin, end) over [0, rows) split over the same number of threads as
// the demosaic; for routines whose rows are independent of each other.
template <class F>
void SplitRows(int rows, F&& f) {
    RowPool::Instance().Run(DemosaicThreads(), rows, f);
}

// The thread count SplitRows would use now, at least 1 and at most the
// pool's limit; with SplitRowsOver a routine can size per-part scratch for
// exactly the split it then runs.
inline int RowThreads() {
    return std::clamp(DemosaicThreads(), 1, RowPool::kMaxThreads);
}

// Like SplitRows, over at most `threads` parts.
template <class F>
void SplitRowsOver(int threads, int rows, F&& f) {
    RowPool::Instance().Run(threads, rows, f);
}

inline int Width(const Rect& r) {
    return r.right - r.left;
}
inline int Height(const Rect& r) {
    return r.bottom - r.top;
}

}  // namespace vimbra::pixel
