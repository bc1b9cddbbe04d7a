// Raw pixel buffers for calling pixel routines directly in the filter and raw
// correction tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "image/pixel_routine.h"

namespace vimbra::test {

// A picture in plain memory: rows of `stride` bytes, `bpp` bytes per pixel.
struct Frame {
    int width = 0;
    int height = 0;
    int bpp = 1;
    int stride = 0;
    std::vector<uint8_t> bytes;

    Frame() = default;
    Frame(int w, int h, int bytes_per_pixel)
        : width(w),
          height(h),
          bpp(bytes_per_pixel),
          stride((w * bytes_per_pixel + 3) & ~3),
          bytes(static_cast<size_t>(stride) * h) {}

    uint8_t* row(int r) { return bytes.data() + static_cast<size_t>(r) * stride; }
    const uint8_t* row(int r) const { return bytes.data() + static_cast<size_t>(r) * stride; }
    uint8_t& u8(int r, int x, int c = 0) { return row(r)[x * bpp + c]; }
    uint16_t u16(int r, int x, int c = 0) const {
        uint16_t v;
        std::memcpy(&v, row(r) + x * bpp + 2 * c, 2);
        return v;
    }
    void set16(int r, int x, int c, uint16_t v) { std::memcpy(row(r) + x * bpp + 2 * c, &v, 2); }
    bool operator==(const Frame& o) const {
        return width == o.width && height == o.height && bpp == o.bpp && bytes == o.bytes;
    }
};

// Random samples: bytes, or 16-bit samples below `limit`.
inline void Fill8(Frame& f, std::mt19937& rng) {
    std::uniform_int_distribution<int> d(0, 255);
    for (auto& b : f.bytes) b = static_cast<uint8_t>(d(rng));
}
inline void Fill16(Frame& f, std::mt19937& rng, int limit = 4096) {
    std::uniform_int_distribution<int> d(0, limit - 1);
    for (int r = 0; r < f.height; ++r) {
        auto* p = f.row(r);
        for (int i = 0; i < f.width * f.bpp / 2; ++i) {
            const uint16_t v = static_cast<uint16_t>(d(rng));
            std::memcpy(p + 2 * i, &v, 2);
        }
    }
}

// Calls a routine in place on the whole frame (or on `src` into `dst`).
template <class P, class Q = void>
int Call(PixelRoutine routine, Frame& dst, const Frame& src, P* params, Q* second = nullptr) {
    void* p1 = params;
    void* p2 = second;
    const Rect r{0, 0, src.width, src.height};
    return routine(dst.bytes.data(), src.bytes.data(), r, 0, 0, static_cast<uint16_t>(dst.bpp),
                   static_cast<uint16_t>(src.bpp), dst.stride, src.stride, params ? &p1 : nullptr,
                   second ? &p2 : nullptr);
}
template <class P, class Q = void>
int Call(PixelRoutine routine, Frame& f, P* params, Q* second = nullptr) {
    return Call(routine, f, f, params, second);
}

}  // namespace vimbra::test
