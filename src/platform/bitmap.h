// Device-independent bitmaps and memory device contexts for hosts without
// GDI: the bitmap header and colour table records, DIB sections backed by
// aligned zeroed memory, memory device contexts that a bitmap is selected
// into, and the blits the library uses (BitBlt with conversion between bit
// counts, StretchBlt with mirroring). Coordinates of the blits are GDI
// coordinates: a bitmap whose header height is positive is bottom-up, so
// y = 0 is its last memory row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vimbra::platform {

struct BitmapInfoHeader {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

inline constexpr uint32_t kBiRgb = 0;

struct RgbQuad {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};
static_assert(sizeof(RgbQuad) == 4, "RGBQUAD is 4 bytes");

// Header directly followed by a full colour table (BITMAPINFO with 256 entries).
struct BitmapInfo {
    BitmapInfoHeader bmiHeader;
    RgbQuad bmiColors[256];
};
static_assert(sizeof(BitmapInfo) == 40 + 1024, "header and palette are one record");

// Alignment of all pixel memory, enough for any vector load.
inline constexpr size_t kPixelAlignment = 64;

// Zero-filled pixel memory aligned to kPixelAlignment; nullptr for size 0 or
// when memory is exhausted. Free with FreePixels.
uint8_t* AllocatePixels(size_t size);
void FreePixels(uint8_t* bits);

// Bytes per row of a DIB: rows padded to a multiple of 4 bytes; 0 for a
// width or bit count that gives no valid row.
int32_t DibStride(int32_t width, uint16_t bit_count);

class Bitmap;
class DeviceContext;

// A DIB section: an uncompressed bitmap of 1, 4, 8, 16, 24 or 32 bits per
// pixel with its colour table and zeroed, aligned pixel memory. Deeper
// formats (48, 64) are refused as GDI refuses them, and so are sizes that do
// not fit in memory. `bits` receives the pixel memory (nullptr on failure).
// `reference` is accepted for symmetry with GDI and not otherwise used.
Bitmap* CreateDibSection(DeviceContext* reference, const BitmapInfo* info, uint8_t** bits);
// A DIB section over pixel memory the caller owns, e.g. a window system's
// own DIB section, laid out as CreateDibSection lays out its rows; the
// memory must outlive the bitmap, and DeleteBitmap leaves it alone. nullptr
// for null `bits` or a header CreateDibSection refuses.
Bitmap* CreateDibSectionOn(const BitmapInfo* info, uint8_t* bits);
// False for nullptr or for a bitmap that is still selected into a dc.
bool DeleteBitmap(Bitmap* bitmap);

// A memory device context holding the default 1 x 1 monochrome bitmap until a
// DIB section is selected into it.
DeviceContext* CreateCompatibleDc(DeviceContext* reference);
bool DeleteDc(DeviceContext* dc);
// Selects `bitmap` and returns the one that was selected before (nullptr on
// failure, e.g. when the bitmap is selected into another dc). Selecting the
// previous bitmap back returns the dc to its default state.
Bitmap* SelectBitmap(DeviceContext* dc, Bitmap* bitmap);

// Writes `count` entries from `first` into the colour table of the DIB
// section selected into `dc`; returns the number of entries set (0 when there
// is none, or the bitmap has no colour table).
unsigned SetDibColorTable(DeviceContext* dc, unsigned first, unsigned count,
                          const RgbQuad* entries);

// SRCCOPY BitBlt: copies w x h pixels from (src_x, src_y) of `src` to (x, y)
// of `dst`, clipped to both bitmaps, converting the pixel format through
// RGB: 8-bit via the colour table (nearest entry when writing 8 bits),
// 16-bit as X1R5G5B5, 24 and 32-bit as B, G, R (the fourth byte is written
// as 0). Returns 1, or 0 when either dc has no DIB section selected.
int BitBlt(DeviceContext* dst, int x, int y, int w, int h, DeviceContext* src, int src_x,
           int src_y);

// SRCCOPY StretchBlt in COLORONCOLOR mode (nearest pixel): maps the source
// rectangle with origin (src_x, src_y) and signed size (src_w, src_h) onto the
// destination rectangle (x, y, w, h); a negative size on one side only
// mirrors the picture along that axis, e.g. origin (0, H) and height -H
// turns it over. Pixels outside the source are not drawn. Returns 1, or 0
// when either dc has no DIB section or a size is 0.
int StretchBlt(DeviceContext* dst, int x, int y, int w, int h, DeviceContext* src, int src_x,
               int src_y, int src_w, int src_h);

// What is selected into a dc, for drawing code that reads or writes the pixels
// directly (e.g. a window's backing store). All fields 0 when nothing is.
struct DibView {
    uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;  // rows; `bottom_up` tells the row order
    int32_t stride = 0;
    uint16_t bit_count = 0;
    bool bottom_up = true;
    const RgbQuad* colors = nullptr;  // 256 entries for bit counts up to 8
};
DibView GetDibView(const DeviceContext* dc);

}  // namespace vimbra::platform
