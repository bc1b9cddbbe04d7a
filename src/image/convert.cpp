#include "image/convert.h"

#include <cstring>

namespace vimbra {

namespace {

inline uint16_t Load16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void Store16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Runs `pixel(dst, src)` over the rectangle, advancing by the bytes per pixel
// of each side; turned routines read the source rows from the last to the
// first. kDst and kSrc are the pixel sizes the routine is made for: with
// those the steps are constants and the loops vectorise; other sizes take
// the same loop with the steps passed in. Pixels smaller than those sizes
// would make `pixel` run past the rows, so such images are left alone.
template <bool kTurned, int kDst, int kSrc, typename F>
int ForEachPixel(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
                 uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, F pixel) {
    if (dst_bits == nullptr || src_bits == nullptr || dst_bpp < kDst || src_bpp < kSrc) return 1;
    const int w = r.right - r.left, h = r.bottom - r.top;
    const bool fixed = dst_bpp == kDst && src_bpp == kSrc;
    for (int i = 0; i < h; ++i) {
        const int sr = kTurned ? r.bottom - 1 - i : r.top + i;
        const uint8_t* s = src_bits + static_cast<intptr_t>(sr) * src_stride +
                           static_cast<intptr_t>(r.left) * src_bpp;
        uint8_t* d = dst_bits + static_cast<intptr_t>(dst_row + i) * dst_stride +
                     static_cast<intptr_t>(dst_x) * dst_bpp;
        if (fixed) {
            for (int c = 0; c < w; ++c) pixel(d + c * kDst, s + c * kSrc);
        } else {
            for (int c = 0; c < w; ++c, s += src_bpp, d += dst_bpp) pixel(d, s);
        }
    }
    return 1;
}

#define VIMBRA_ARGS                                                                         \
    uint8_t *dst_bits, const uint8_t *src_bits, const Rect &r, int dst_x, int dst_row,      \
        uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void ** /*p1*/, \
        void ** /*p2*/
#define VIMBRA_PASS dst_bits, src_bits, r, dst_x, dst_row, dst_bpp, src_bpp, dst_stride, src_stride

template <int kShift>
void Reduce(uint8_t* d, const uint8_t* s) {
    d[0] = static_cast<uint8_t>(Load16(s) >> kShift);
}

void Copy3(uint8_t* d, const uint8_t* s) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

template <int kShift>
void Reduce3(uint8_t* d, const uint8_t* s) {
    d[0] = static_cast<uint8_t>(Load16(s) >> kShift);
    d[1] = static_cast<uint8_t>(Load16(s + 2) >> kShift);
    d[2] = static_cast<uint8_t>(Load16(s + 4) >> kShift);
}

template <bool kSwap, bool kFourth>
void Widen(uint8_t* d, const uint8_t* s) {
    const uint16_t b = Load16(s), g = Load16(s + 2), red = Load16(s + 4);
    Store16(d, (kSwap ? red : b) << 4);
    Store16(d + 2, g << 4);
    Store16(d + 4, (kSwap ? b : red) << 4);
    if (kFourth) Store16(d + 6, 0xFFFF);
}

}  // namespace

int Mono16To8Shift2Turned(VIMBRA_ARGS) {
    return ForEachPixel<true, 1, 2>(VIMBRA_PASS, Reduce<2>);
}
int Mono16To8Shift4(VIMBRA_ARGS) {
    return ForEachPixel<false, 1, 2>(VIMBRA_PASS, Reduce<4>);
}
int Mono16To8Shift4Turned(VIMBRA_ARGS) {
    return ForEachPixel<true, 1, 2>(VIMBRA_PASS, Reduce<4>);
}

int Mono16Widen4(VIMBRA_ARGS) {
    return ForEachPixel<false, 2, 2>(
        VIMBRA_PASS, [](uint8_t* d, const uint8_t* s) { Store16(d, Load16(s) << 4); });
}

namespace {

// Bytes 0..2 of every pixel of a row. Between 3-byte pixels that is the
// whole row; from 4-byte pixels four are packed into three 32-bit words.
template <bool kTurned>
int CopyBgr(VIMBRA_ARGS) {
    if (dst_bpp != 3 || (src_bpp != 3 && src_bpp != 4) || dst_bits == nullptr ||
        src_bits == nullptr) {
        return ForEachPixel<kTurned, 3, 3>(VIMBRA_PASS, Copy3);
    }
    const int w = r.right - r.left, h = r.bottom - r.top;
    for (int i = 0; i < h; ++i) {
        const int sr = kTurned ? r.bottom - 1 - i : r.top + i;
        const uint8_t* s = src_bits + static_cast<intptr_t>(sr) * src_stride +
                           static_cast<intptr_t>(r.left) * src_bpp;
        uint8_t* d = dst_bits + static_cast<intptr_t>(dst_row + i) * dst_stride +
                     static_cast<intptr_t>(dst_x) * 3;
        if (src_bpp == 3) {
            std::memmove(d, s, static_cast<size_t>(w) * 3);
            continue;
        }
        int c = 0;
        for (; c + 4 <= w; c += 4, s += 16, d += 12) {
            uint32_t p0, p1, p2, p3;
            std::memcpy(&p0, s, 4);
            std::memcpy(&p1, s + 4, 4);
            std::memcpy(&p2, s + 8, 4);
            std::memcpy(&p3, s + 12, 4);
            const uint32_t w0 = (p0 & 0xFFFFFF) | (p1 << 24);
            const uint32_t w1 = ((p1 >> 8) & 0xFFFF) | (p2 << 16);
            const uint32_t w2 = ((p2 >> 16) & 0xFF) | (p3 << 8);
            std::memcpy(d, &w0, 4);
            std::memcpy(d + 4, &w1, 4);
            std::memcpy(d + 8, &w2, 4);
        }
        for (; c < w; ++c, s += 4, d += 3) Copy3(d, s);
    }
    return 1;
}

}  // namespace

int Colour24Copy(VIMBRA_ARGS) {
    return CopyBgr<false>(VIMBRA_PASS, nullptr, nullptr);
}
int Colour24CopyTurned(VIMBRA_ARGS) {
    return CopyBgr<true>(VIMBRA_PASS, nullptr, nullptr);
}

int Colour24SwapRB(VIMBRA_ARGS) {
    // A local copy of the pixel makes the routine safe in place.
    return ForEachPixel<false, 3, 3>(VIMBRA_PASS, [](uint8_t* d, const uint8_t* s) {
        const uint8_t b = s[0], g = s[1], red = s[2];
        d[0] = red;
        d[1] = g;
        d[2] = b;
    });
}

int Colour32InvertFourth(VIMBRA_ARGS) {
    return ForEachPixel<false, 4, 4>(VIMBRA_PASS, [](uint8_t* d, const uint8_t* s) {
        Copy3(d, s);
        d[3] = static_cast<uint8_t>(~s[3]);
    });
}

int RowCopyTurned(VIMBRA_ARGS) {
    (void)dst_bpp;
    if (dst_bits == nullptr || src_bits == nullptr) return 1;
    const int h = r.bottom - r.top;
    const int n = dst_stride < src_stride ? dst_stride : src_stride;
    // The row is copied from the rectangle's left column on, but never past
    // the end of either row.
    const intptr_t src_offset = static_cast<intptr_t>(r.left) * src_bpp;
    const intptr_t dst_offset = static_cast<intptr_t>(dst_x) * dst_bpp;
    intptr_t bytes = n;
    if (bytes > src_stride - src_offset) bytes = src_stride - src_offset;
    if (bytes > dst_stride - dst_offset) bytes = dst_stride - dst_offset;
    if (bytes <= 0) return 1;
    for (int i = 0; i < h; ++i) {
        std::memmove(dst_bits + static_cast<intptr_t>(dst_row + i) * dst_stride + dst_offset,
                     src_bits + static_cast<intptr_t>(r.bottom - 1 - i) * src_stride + src_offset,
                     static_cast<size_t>(bytes));
    }
    return 1;
}

int Colour48To24Shift4(VIMBRA_ARGS) {
    return src_bpp == 6 ? ForEachPixel<false, 3, 6>(VIMBRA_PASS, Reduce3<4>)
                        : ForEachPixel<false, 3, 8>(VIMBRA_PASS, Reduce3<4>);
}
int Colour48To24Shift2Turned(VIMBRA_ARGS) {
    return src_bpp == 6 ? ForEachPixel<true, 3, 6>(VIMBRA_PASS, Reduce3<2>)
                        : ForEachPixel<true, 3, 8>(VIMBRA_PASS, Reduce3<2>);
}
int Colour48Widen4(VIMBRA_ARGS) {
    return ForEachPixel<false, 6, 6>(VIMBRA_PASS, Widen<false, false>);
}
int Colour48Widen4SwapRB(VIMBRA_ARGS) {
    return ForEachPixel<false, 6, 6>(VIMBRA_PASS, Widen<true, false>);
}
int Colour64Widen4(VIMBRA_ARGS) {
    return ForEachPixel<false, 8, 8>(VIMBRA_PASS, Widen<false, true>);
}
int Colour64Widen4SwapRB(VIMBRA_ARGS) {
    return ForEachPixel<false, 8, 8>(VIMBRA_PASS, Widen<true, true>);
}

int ColourToGrey(VIMBRA_ARGS) {
    return ForEachPixel<false, 1, 3>(VIMBRA_PASS, [](uint8_t* d, const uint8_t* s) {
        d[0] = static_cast<uint8_t>((30 * s[2] + 59 * s[1] + 11 * s[0]) / 100);
    });
}

namespace {

template <int kBytes, typename Sum>
int RegionMean(uint8_t* bits, const Rect& r, int dst_x, int dst_row, uint16_t bpp, int stride) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (bits == nullptr || w <= 0 || h <= 0 || bpp < kBytes) return 0;
    Sum sum = 0;
    for (int i = 0; i < h; ++i) {
        const uint8_t* p = bits + static_cast<intptr_t>(dst_row + i) * stride +
                           static_cast<intptr_t>(dst_x) * kBytes;
        for (int c = 0; c < w; ++c, p += kBytes) {
            sum += kBytes == 1 ? p[0] : static_cast<uint8_t>(Load16(p) >> 2);
        }
    }
    return static_cast<int>(sum / (static_cast<uint64_t>(w) * static_cast<uint64_t>(h)));
}

template <int kBytes>
int Repack(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int stride) {
    // The frame is spread within its own image: the rows and the stride are
    // the source's, so another destination could be overrun.
    if (dst_bits == nullptr || dst_bits != src_bits) return 1;
    const int w = r.right;
    const int first = w - (r.right - r.left);
    const intptr_t packed = static_cast<intptr_t>(w) * kBytes;
    // Rows only ever move towards the end of the buffer; a stride shorter than
    // the packed row would need the opposite order and is not a DIB.
    if (packed > stride || first < 0 || r.bottom <= r.top) return 1;
    const size_t bytes = static_cast<size_t>(w - first) * kBytes;
    for (int row = r.bottom - 1; row >= r.top; --row) {
        std::memmove(dst_bits + static_cast<intptr_t>(row) * stride + first * kBytes,
                     src_bits + (static_cast<intptr_t>(row) * w + first) * kBytes, bytes);
    }
    return 1;
}

}  // namespace

int RegionMean8(VIMBRA_ARGS) {
    (void)src_bits, (void)src_bpp, (void)src_stride;
    return RegionMean<1, uint32_t>(dst_bits, r, dst_x, dst_row, dst_bpp, dst_stride);
}

int RegionMean16(VIMBRA_ARGS) {
    (void)src_bits, (void)src_bpp, (void)src_stride;
    return RegionMean<2, uint64_t>(dst_bits, r, dst_x, dst_row, dst_bpp, dst_stride);
}

int Repack8(VIMBRA_ARGS) {
    (void)dst_x, (void)dst_row, (void)dst_bpp, (void)src_bpp, (void)dst_stride;
    return Repack<1>(dst_bits, src_bits, r, src_stride);
}

int Repack16(VIMBRA_ARGS) {
    (void)dst_x, (void)dst_row, (void)dst_bpp, (void)src_bpp, (void)dst_stride;
    return Repack<2>(dst_bits, src_bits, r, src_stride);
}

}  // namespace vimbra
