#include "platform/bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace vimbra::platform {

class Bitmap {
  public:
    BitmapInfoHeader header{};
    RgbQuad colors[256]{};
    uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;  // rows
    int32_t stride = 0;
    bool bottom_up = true;
    DeviceContext* selected_in = nullptr;
    bool stock = false;     // the 1 x 1 default bitmap of a dc
    bool owns_bits = true;  // false over memory of the caller's
};

class DeviceContext {
  public:
    Bitmap default_bitmap;
    Bitmap* selected = nullptr;
};

uint8_t* AllocatePixels(size_t size) {
    if (size == 0) return nullptr;
    size_t rounded = (size + kPixelAlignment - 1) / kPixelAlignment * kPixelAlignment;
    if (rounded < size) return nullptr;
    void* p = ::operator new (rounded, std::align_val_t{kPixelAlignment}, std::nothrow);
    if (p == nullptr) return nullptr;
    std::memset(p, 0, rounded);
    return static_cast<uint8_t*>(p);
}

void FreePixels(uint8_t* bits) {
    ::operator delete (bits, std::align_val_t{kPixelAlignment});
}

int32_t DibStride(int32_t width, uint16_t bit_count) {
    if (width <= 0 || bit_count == 0) return 0;
    int64_t bits = static_cast<int64_t>(width) * bit_count;
    int64_t stride = (bits + 31) / 32 * 4;
    if (stride > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(stride);
}

namespace {

bool IsDibSectionFormat(uint16_t bit_count) {
    switch (bit_count) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            return true;
        default:
            return false;
    }
}

// Reads pixel (x, memory row r) as 0x00RRGGBB.
uint32_t ReadRgb(const Bitmap& b, int x, int r) {
    const uint8_t* row = b.bits + static_cast<intptr_t>(r) * b.stride;
    switch (b.header.biBitCount) {
        case 1: {
            const RgbQuad& q = b.colors[(row[x >> 3] >> (7 - (x & 7))) & 1];
            return (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
        }
        case 4: {
            const RgbQuad& q = b.colors[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
            return (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
        }
        case 8: {
            const RgbQuad& q = b.colors[row[x]];
            return (uint32_t{q.rgbRed} << 16) | (uint32_t{q.rgbGreen} << 8) | q.rgbBlue;
        }
        case 16: {
            uint32_t v = row[2 * x] | (uint32_t{row[2 * x + 1]} << 8);
            uint32_t r5 = (v >> 10) & 31, g5 = (v >> 5) & 31, b5 = v & 31;
            uint32_t r8 = (r5 << 3) | (r5 >> 2), g8 = (g5 << 3) | (g5 >> 2),
                     b8 = (b5 << 3) | (b5 >> 2);
            return (r8 << 16) | (g8 << 8) | b8;
        }
        case 24:
            return (uint32_t{row[3 * x + 2]} << 16) | (uint32_t{row[3 * x + 1]} << 8) | row[3 * x];
        default:  // 32
            return (uint32_t{row[4 * x + 2]} << 16) | (uint32_t{row[4 * x + 1]} << 8) | row[4 * x];
    }
}

int NearestColor(const Bitmap& b, uint32_t rgb) {
    int r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, bl = rgb & 255;
    int entries = 1 << b.header.biBitCount;
    int best = 0;
    int best_d = std::numeric_limits<int>::max();
    for (int i = 0; i < entries; ++i) {
        const RgbQuad& q = b.colors[i];
        int dr = q.rgbRed - r, dg = q.rgbGreen - g, db = q.rgbBlue - bl;
        int d = dr * dr + dg * dg + db * db;
        if (d < best_d) {
            best_d = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

void WriteRgb(Bitmap& b, int x, int r, uint32_t rgb) {
    uint8_t* row = b.bits + static_cast<intptr_t>(r) * b.stride;
    switch (b.header.biBitCount) {
        case 1: {
            int i = NearestColor(b, rgb);
            uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
            row[x >> 3] = static_cast<uint8_t>(i ? (row[x >> 3] | mask) : (row[x >> 3] & ~mask));
            break;
        }
        case 4: {
            int i = NearestColor(b, rgb);
            int shift = (x & 1) ? 0 : 4;
            row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & ~(15 << shift)) | (i << shift));
            break;
        }
        case 8:
            row[x] = static_cast<uint8_t>(NearestColor(b, rgb));
            break;
        case 16: {
            uint32_t v = (((rgb >> 19) & 31) << 10) | (((rgb >> 11) & 31) << 5) | ((rgb >> 3) & 31);
            row[2 * x] = static_cast<uint8_t>(v);
            row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
            break;
        }
        case 24:
            row[3 * x] = static_cast<uint8_t>(rgb);
            row[3 * x + 1] = static_cast<uint8_t>(rgb >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(rgb >> 16);
            break;
        default:  // 32
            row[4 * x] = static_cast<uint8_t>(rgb);
            row[4 * x + 1] = static_cast<uint8_t>(rgb >> 8);
            row[4 * x + 2] = static_cast<uint8_t>(rgb >> 16);
            row[4 * x + 3] = 0;
            break;
    }
}

// Memory row of the GDI row y.
int MemoryRow(const Bitmap& b, int y) {
    return b.bottom_up ? b.height - 1 - y : y;
}

bool SameFormat(const Bitmap& a, const Bitmap& b) {
    if (a.header.biBitCount != b.header.biBitCount) return false;
    if (a.header.biBitCount > 8) return true;
    return std::memcmp(a.colors, b.colors, sizeof(RgbQuad) << a.header.biBitCount) == 0;
}

// Converts n pixels from (sx, memory row sr) of s to (dx, memory row dr) of
// d. The conversions of the display, file and AVI paths run as plain loops;
// anything else goes pixel by pixel through RGB.
void ConvertRun(Bitmap& d, int64_t dx, int dr, const Bitmap& s, int64_t sx, int sr, int64_t n) {
    const int dbits = d.header.biBitCount, sbits = s.header.biBitCount;
    uint8_t* out = d.bits + static_cast<intptr_t>(dr) * d.stride;
    const uint8_t* in = s.bits + static_cast<intptr_t>(sr) * s.stride;
    if (SameFormat(d, s) && dbits >= 8) {
        const int bpp = dbits / 8;
        std::memmove(out + dx * bpp, in + sx * bpp, static_cast<size_t>(n * bpp));
        return;
    }
    if (sbits == 8 && (dbits == 24 || dbits == 32)) {
        const int bpp = dbits / 8;
        uint8_t* o = out + dx * bpp;
        const uint8_t* i = in + sx;
        for (int64_t k = 0; k < n; ++k, o += bpp) {
            const RgbQuad& q = s.colors[i[k]];
            o[0] = q.rgbBlue;
            o[1] = q.rgbGreen;
            o[2] = q.rgbRed;
            if (bpp == 4) o[3] = 0;
        }
        return;
    }
    if ((sbits == 24 || sbits == 32) && (dbits == 24 || dbits == 32)) {
        const int sbpp = sbits / 8, dbpp = dbits / 8;
        uint8_t* o = out + dx * dbpp;
        const uint8_t* i = in + sx * sbpp;
        for (int64_t k = 0; k < n; ++k, o += dbpp, i += sbpp) {
            o[0] = i[0];
            o[1] = i[1];
            o[2] = i[2];
            if (dbpp == 4) o[3] = 0;
        }
        return;
    }
    for (int64_t k = 0; k < n; ++k) {
        WriteRgb(d, static_cast<int>(dx + k), dr, ReadRgb(s, static_cast<int>(sx + k), sr));
    }
}

Bitmap* Selected(DeviceContext* dc) {
    if (dc == nullptr || dc->selected == nullptr || dc->selected->bits == nullptr) return nullptr;
    return dc->selected;
}

}  // namespace

namespace {

// A DIB section on `memory` when given, else on memory of its own.
Bitmap* MakeDibSection(const BitmapInfo* info, uint8_t* memory) {
    if (info == nullptr) return nullptr;
    const BitmapInfoHeader& h = info->bmiHeader;
    if (h.biSize < sizeof(BitmapInfoHeader) || h.biPlanes != 1 || h.biCompression != kBiRgb ||
        !IsDibSectionFormat(h.biBitCount) || h.biWidth <= 0 || h.biHeight == 0 ||
        h.biHeight == std::numeric_limits<int32_t>::min()) {
        return nullptr;
    }
    int32_t stride = DibStride(h.biWidth, h.biBitCount);
    int32_t rows = h.biHeight > 0 ? h.biHeight : -h.biHeight;
    if (stride == 0) return nullptr;
    uint64_t size = static_cast<uint64_t>(stride) * static_cast<uint64_t>(rows);
    if (size > std::numeric_limits<size_t>::max() / 2) return nullptr;
    auto* b = new (std::nothrow) Bitmap;
    if (b == nullptr) return nullptr;
    b->owns_bits = memory == nullptr;
    b->bits = b->owns_bits ? AllocatePixels(static_cast<size_t>(size)) : memory;
    if (b->bits == nullptr) {
        delete b;
        return nullptr;
    }
    b->header = h;
    b->width = h.biWidth;
    b->height = rows;
    b->stride = stride;
    b->bottom_up = h.biHeight > 0;
    if (h.biBitCount <= 8) {
        int entries = 1 << h.biBitCount;
        std::memcpy(b->colors, info->bmiColors, sizeof(RgbQuad) * entries);
    }
    return b;
}

}  // namespace

Bitmap* CreateDibSection(DeviceContext* /*reference*/, const BitmapInfo* info, uint8_t** bits) {
    Bitmap* b = MakeDibSection(info, nullptr);
    if (bits != nullptr) *bits = b != nullptr ? b->bits : nullptr;
    return b;
}

Bitmap* CreateDibSectionOn(const BitmapInfo* info, uint8_t* bits) {
    return bits != nullptr ? MakeDibSection(info, bits) : nullptr;
}

bool DeleteBitmap(Bitmap* bitmap) {
    if (bitmap == nullptr || bitmap->stock || bitmap->selected_in != nullptr) return false;
    if (bitmap->owns_bits) FreePixels(bitmap->bits);
    delete bitmap;
    return true;
}

DeviceContext* CreateCompatibleDc(DeviceContext* /*reference*/) {
    auto* dc = new (std::nothrow) DeviceContext;
    if (dc == nullptr) return nullptr;
    dc->default_bitmap.stock = true;
    dc->default_bitmap.width = 1;
    dc->default_bitmap.height = 1;
    dc->default_bitmap.header.biBitCount = 1;
    dc->default_bitmap.selected_in = dc;
    dc->selected = &dc->default_bitmap;
    return dc;
}

bool DeleteDc(DeviceContext* dc) {
    if (dc == nullptr) return false;
    // A bitmap still selected is released from the dc, as GDI does, so that
    // its owner can delete it afterwards.
    if (dc->selected != nullptr && !dc->selected->stock) dc->selected->selected_in = nullptr;
    delete dc;
    return true;
}

Bitmap* SelectBitmap(DeviceContext* dc, Bitmap* bitmap) {
    if (dc == nullptr || bitmap == nullptr) return nullptr;
    if (bitmap->stock && bitmap != &dc->default_bitmap) return nullptr;
    if (bitmap->selected_in != nullptr && bitmap->selected_in != dc) return nullptr;
    Bitmap* previous = dc->selected;
    if (previous != nullptr && !previous->stock) previous->selected_in = nullptr;
    dc->selected = bitmap;
    bitmap->selected_in = dc;
    return previous;
}

unsigned SetDibColorTable(DeviceContext* dc, unsigned first, unsigned count,
                          const RgbQuad* entries) {
    Bitmap* b = Selected(dc);
    if (b == nullptr || entries == nullptr || b->header.biBitCount > 8) return 0;
    unsigned size = 1u << b->header.biBitCount;
    if (first >= size) return 0;
    if (count > size - first) count = size - first;
    std::memcpy(b->colors + first, entries, sizeof(RgbQuad) * count);
    return count;
}

int BitBlt(DeviceContext* dst, int x, int y, int w, int h, DeviceContext* src, int src_x,
           int src_y) {
    Bitmap* d = Selected(dst);
    Bitmap* s = Selected(src);
    if (d == nullptr || s == nullptr) return 0;
    // Clip the destination and the source, keeping them aligned.
    int64_t x0 = x, y0 = y, sx0 = src_x, sy0 = src_y, x1 = int64_t{x} + w, y1 = int64_t{y} + h;
    if (x0 < 0) sx0 -= x0, x0 = 0;
    if (y0 < 0) sy0 -= y0, y0 = 0;
    if (sx0 < 0) x0 -= sx0, sx0 = 0;
    if (sy0 < 0) y0 -= sy0, sy0 = 0;
    x1 = std::min<int64_t>({x1, d->width, x0 + (s->width - sx0)});
    y1 = std::min<int64_t>({y1, d->height, y0 + (s->height - sy0)});
    if (x1 <= x0 || y1 <= y0) return 1;
    for (int64_t yy = y0; yy < y1; ++yy) {
        ConvertRun(*d, x0, MemoryRow(*d, static_cast<int>(yy)), *s, sx0,
                   MemoryRow(*s, static_cast<int>(sy0 + (yy - y0))), x1 - x0);
    }
    return 1;
}

int StretchBlt(DeviceContext* dst, int x, int y, int w, int h, DeviceContext* src, int src_x,
               int src_y, int src_w, int src_h) {
    Bitmap* d = Selected(dst);
    Bitmap* s = Selected(src);
    if (d == nullptr || s == nullptr || w == 0 || h == 0 || src_w == 0 || src_h == 0) return 0;
    // Normalise both rectangles to positive sizes; a sign difference mirrors.
    bool mirror_x = (w < 0) != (src_w < 0);
    bool mirror_y = (h < 0) != (src_h < 0);
    int64_t dl = w < 0 ? int64_t{x} + w : x, dw = w < 0 ? -int64_t{w} : w;
    int64_t dt = h < 0 ? int64_t{y} + h : y, dh = h < 0 ? -int64_t{h} : h;
    int64_t sl = src_w < 0 ? int64_t{src_x} + src_w : src_x;
    int64_t sw = src_w < 0 ? -int64_t{src_w} : src_w;
    int64_t st = src_h < 0 ? int64_t{src_y} + src_h : src_y;
    int64_t sh = src_h < 0 ? -int64_t{src_h} : src_h;
    int64_t xa = std::max<int64_t>(dl, 0), xb = std::min<int64_t>(dl + dw, d->width);
    int64_t ya = std::max<int64_t>(dt, 0), yb = std::min<int64_t>(dt + dh, d->height);
    bool same = SameFormat(*d, *s) && d->header.biBitCount >= 8;
    int bpp = d->header.biBitCount / 8;
    for (int64_t yy = ya; yy < yb; ++yy) {
        int64_t i = yy - dt;
        if (mirror_y) i = dh - 1 - i;
        int64_t sy = st + (i * sh) / dh;  // nearest source row of the cell
        if (sy < 0 || sy >= s->height) continue;
        int dr = MemoryRow(*d, static_cast<int>(yy));
        int sr = MemoryRow(*s, static_cast<int>(sy));
        if (sw == dw && !mirror_x) {
            // One source pixel per destination pixel: a straight run, cut to
            // the source columns that exist.
            int64_t from = std::max(xa, dl - sl), to = std::min(xb, dl - sl + s->width);
            if (to > from) ConvertRun(*d, from, dr, *s, sl + (from - dl), sr, to - from);
            continue;
        }
        for (int64_t xx = xa; xx < xb; ++xx) {
            int64_t j = xx - dl;
            if (mirror_x) j = dw - 1 - j;
            int64_t sx = sl + (j * sw) / dw;
            if (sx < 0 || sx >= s->width) continue;
            if (same) {
                std::memcpy(d->bits + static_cast<intptr_t>(dr) * d->stride + xx * bpp,
                            s->bits + static_cast<intptr_t>(sr) * s->stride + sx * bpp,
                            static_cast<size_t>(bpp));
            } else {
                WriteRgb(*d, static_cast<int>(xx), dr, ReadRgb(*s, static_cast<int>(sx), sr));
            }
        }
    }
    return 1;
}

DibView GetDibView(const DeviceContext* dc) {
    DibView v;
    if (dc == nullptr || dc->selected == nullptr || dc->selected->bits == nullptr) return v;
    const Bitmap& b = *dc->selected;
    v.bits = b.bits;
    v.width = b.width;
    v.height = b.height;
    v.stride = b.stride;
    v.bit_count = b.header.biBitCount;
    v.bottom_up = b.bottom_up;
    v.colors = b.header.biBitCount <= 8 ? b.colors : nullptr;
    return v;
}

}  // namespace vimbra::platform
