#include "image/dib_image.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace vimbra {

using platform::RgbQuad;

void CDibImage::Reset() {
    info_ = platform::BitmapInfo{};
    info_.bmiHeader.biSize = sizeof(platform::BitmapInfoHeader);
    dc_ = nullptr;
    bitmap_ = nullptr;
    bits_ = nullptr;
    width_ = 0;
    height_ = 0;
    stride_ = 0;
    bit_count_ = 0;
    previous_bitmap_ = nullptr;
    heap_bits_ = false;
}

void CDibImage::Init() {
    // A record that still owns something is released rather than leaked.
    if (dc_ != nullptr || bitmap_ != nullptr || bits_ != nullptr) {
        Destroy();
        return;
    }
    Reset();
}

void CDibImage::ReleasePixels() {
    if (dc_ != nullptr && previous_bitmap_ != nullptr) {
        platform::SelectBitmap(dc_, previous_bitmap_);
    }
    if (dc_ != nullptr) platform::DeleteDc(dc_);
    if (bitmap_ != nullptr) platform::DeleteBitmap(bitmap_);
    if (heap_bits_) platform::FreePixels(bits_);
    dc_ = nullptr;
    bitmap_ = nullptr;
    bits_ = nullptr;
    previous_bitmap_ = nullptr;
    heap_bits_ = false;
}

void CDibImage::Destroy() {
    ReleasePixels();
    Reset();
}

int CDibImage::Create(int width, int height, uint16_t bit_count) {
    if (width <= 0 || height <= 0 || bit_count == 0) return 0;
    // Whole bytes per pixel, rows padded to 4 bytes. Bit counts below 8 (no
    // whole byte) and sizes whose pixel memory cannot be addressed with int
    // strides are refused like other invalid sizes, before anything is
    // destroyed.
    int64_t stride = (int64_t{width} * (bit_count / 8) + 3) & ~int64_t{3};
    if (stride <= 0 || stride > std::numeric_limits<int32_t>::max() ||
        stride * height > std::numeric_limits<intptr_t>::max() / 2) {
        return 0;
    }
    Destroy();
    auto& h = info_.bmiHeader;
    h.biSize = sizeof(platform::BitmapInfoHeader);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bit_count;
    h.biCompression = platform::kBiRgb;
    width_ = width;
    height_ = height;
    stride_ = static_cast<int32_t>(stride);
    bit_count_ = bit_count;
    return Allocate(nullptr);
}

int CDibImage::CreateLike(const CDibImage* other) {
    if (other == nullptr || other == this || other->width_ <= 0 || other->height_ <= 0 ||
        other->bit_count_ == 0) {
        return 0;
    }
    platform::BitmapInfoHeader header = other->info_.bmiHeader;
    int32_t width = other->width_, height = other->height_, stride = other->stride_;
    uint16_t bit_count = other->bit_count_;
    platform::DeviceContext* reference = other->dc_;
    Destroy();
    info_.bmiHeader = header;
    width_ = width;
    height_ = height;
    stride_ = stride;
    bit_count_ = bit_count;
    return Allocate(reference);
}

int CDibImage::Allocate(platform::DeviceContext* reference_dc) {
    // Allocating again replaces the pixel memory instead of leaking it.
    ReleasePixels();
    if (width_ <= 0 || height_ <= 0 || stride_ <= 0) {
        Destroy();
        return 0;
    }
    if (bit_count_ == 8) SetPalette(0, nullptr, 0, 0);
    uint8_t* bits = nullptr;
    bitmap_ = platform::CreateDibSection(reference_dc, &info_, &bits);
    if (bitmap_ != nullptr) {
        bits_ = bits;
        dc_ = platform::CreateCompatibleDc(nullptr);
        if (dc_ != nullptr) previous_bitmap_ = platform::SelectBitmap(dc_, bitmap_);
        if (dc_ == nullptr || previous_bitmap_ == nullptr) {
            Destroy();
            return 0;
        }
        return 1;
    }
    bits_ = platform::AllocatePixels(static_cast<size_t>(height_) * static_cast<size_t>(stride_));
    if (bits_ == nullptr) {
        Destroy();
        return 0;
    }
    heap_bits_ = true;
    return 1;
}

int CDibImage::SetPalette(int mode, const RgbQuad* entries, int first, int count) {
    if (mode == 0) {
        for (int i = 0; i < 256; ++i) {
            auto v = static_cast<uint8_t>(i);
            info_.bmiColors[i] = RgbQuad{v, v, v, 0};
        }
        if (dc_ != nullptr) platform::SetDibColorTable(dc_, 0, 256, info_.bmiColors);
    } else if (mode == 2) {
        if (dc_ != nullptr && entries != nullptr && first >= 0 && count > 0) {
            platform::SetDibColorTable(dc_, static_cast<unsigned>(first),
                                       static_cast<unsigned>(count), entries);
        }
    }
    return 1;
}

int CDibImage::Draw(const CDibImage* src, const Rect* src_rect, int x, int y) {
    if (src == nullptr || dc_ == nullptr || src->dc_ == nullptr) return 0;
    int sx = 0, sy = 0, w = src->width_, h = src->height_;
    if (src_rect != nullptr) {
        sx = src_rect->left;
        sy = src_rect->top;
        w = src_rect->right - src_rect->left;
        h = src_rect->bottom - src_rect->top;
    }
    return platform::BitBlt(dc_, x, y, w, h, src->dc_, sx, sy);
}

int CDibImage::ConvertBlit(CDibImage* dst, PixelRoutine routine, CDibImage* src,
                           const Rect* src_rect, int dst_x, int dst_y, void** param1,
                           void** param2) {
    if (dst == nullptr || src == nullptr || dst->bits_ == nullptr || src->bits_ == nullptr) {
        return 0;
    }
    // 64-bit arithmetic keeps extreme positions from overflowing.
    const int64_t wd = dst->width_, hd = dst->height_, ws = src->width_, hs = src->height_;
    int64_t s0l = 0, s0t = 0, s0r = ws, s0b = hs;
    if (src_rect != nullptr) {
        s0l = src_rect->left;
        s0t = src_rect->top;
        s0r = src_rect->right;
        s0b = src_rect->bottom;
    }
    int64_t dl = dst_x, dt = dst_y, dr = dst_x + (s0r - s0l), db = dst_y + (s0b - s0t);
    if (dr <= 0 || db <= 0 || dl >= wd || dt >= hd) return 0;
    dl = std::max<int64_t>(dl, 0);
    dt = std::max<int64_t>(dt, 0);
    dr = std::min(dr, wd);
    db = std::min(db, hd);
    int64_t sl = s0l + (dl - dst_x), st = s0t + (dt - dst_y);
    int64_t sr = sl + (dr - dl), sb = st + (db - dt);
    if (sr <= 0 || sb <= 0 || sl >= ws || st >= hs) return 0;
    // A source rectangle sticking out of the source is cut to the source, and
    // the destination is cut to the same size at the matching place, so that
    // the routine never writes outside the destination nor reads outside the
    // source.
    if (sl < 0) dl -= sl, sl = 0;
    if (st < 0) dt -= st, st = 0;
    int64_t w = std::min({std::min(sr, ws) - sl, wd - dl, dr - dl});
    int64_t h = std::min({std::min(sb, hs) - st, hd - dt, db - dt});
    if (w <= 0 || h <= 0) return 0;
    sr = sl + w;
    sb = st + h;
    dr = dl + w;
    db = dt + h;
    if (routine == nullptr) return 0;
    Rect memory_rect{static_cast<int32_t>(sl), static_cast<int32_t>(hs - sb),
                     static_cast<int32_t>(sr), static_cast<int32_t>(hs - st)};
    return routine(dst->bits_, src->bits_, memory_rect, static_cast<int>(dl),
                   static_cast<int>(hd - db), dst->bytes_per_pixel(), src->bytes_per_pixel(),
                   dst->stride_, src->stride_, param1, param2);
}

int CDibImage::ScaleBlit(CDibImage* dst, ScaleRoutine routine, CDibImage* src, const Rect* src_rect,
                         const Rect* dst_rect, void** param1, void** param2) {
    if (routine == nullptr || dst == nullptr || src == nullptr) return 0;
    Rect s = src_rect != nullptr ? *src_rect : Rect{0, 0, src->width_, src->height_};
    Rect d = dst_rect != nullptr ? *dst_rect : Rect{0, 0, dst->width_, dst->height_};
    auto pack = [](int32_t w, int32_t h) {
        return static_cast<uint64_t>(static_cast<uint32_t>(w)) |
               (static_cast<uint64_t>(static_cast<uint32_t>(h)) << 32);
    };
    return routine(dst->bits_, src->bits_, d, s, pack(dst->width_, dst->height_),
                   pack(src->width_, src->height_), dst->bytes_per_pixel(), src->bytes_per_pixel(),
                   dst->stride_, src->stride_, param1, param2);
}

}  // namespace vimbra
