// CDibImage: every picture the library holds. A bottom-up DIB section in its
// own memory device context with directly addressable pixel memory, where
// memory row 0 holds the top line of the picture as the camera sends it.
// All pixel work goes through ConvertBlit (clipped) or ScaleBlit (unclipped).
#pragma once

#include <cstdint>

#include "image/pixel_routine.h"
#include "platform/bitmap.h"

namespace vimbra {

class CDibImage {
  public:
    CDibImage() { Init(); }
    ~CDibImage() { Destroy(); }
    CDibImage(const CDibImage&) = delete;
    CDibImage& operator=(const CDibImage&) = delete;

    // Returns the record to the state of a freshly declared image: empty,
    // header size 40. Anything the record still held is released first.
    void Init();

    // Fails (0, image unchanged) for width <= 0, height <= 0 or bit count 0;
    // otherwise replaces the image by a zeroed one of that size.
    int Create(int width, int height, uint16_t bit_count);
    // Same size and format as `other` (pixels are not copied); 0 when other is
    // null or empty.
    int CreateLike(const CDibImage* other);
    // Allocates pixel memory for the header already filled in: a DIB section
    // selected into a new memory dc, or zeroed heap memory without a dc when
    // no DIB section can be made for the format (48 and 64 bits).
    int Allocate(platform::DeviceContext* reference_dc);
    // Releases the dc, bitmap and heap memory; safe on an empty record.
    void Destroy();

    // Mode 0: grey palette (record and DIB section); mode 2: `count` given
    // entries from `first` into the DIB section; other modes: nothing.
    // Always 1.
    int SetPalette(int mode, const platform::RgbQuad* entries, int first, int count);

    // BitBlt (SRCCOPY) from the source's dc at (rect.left, rect.top) to this
    // image's dc at (x, y); the size comes from the rectangle, or the whole
    // source when it is null. Converts between bit counts. 0 when either
    // image has no dc.
    int Draw(const CDibImage* src, const Rect* src_rect, int x, int y);

    // Clips a source rectangle given in bottom-up GDI coordinates (null: the
    // whole source) placed at (dst_x, dst_y) against both images, turns the
    // rows into memory rows and calls `routine` once. 0 when nothing is left,
    // the routine or an image is null, else the routine's result.
    static int ConvertBlit(CDibImage* dst, PixelRoutine routine, CDibImage* src,
                           const Rect* src_rect, int dst_x, int dst_y, void** param1,
                           void** param2);
    // Calls `routine` with both rectangles (null: the whole image), unclipped.
    static int ScaleBlit(CDibImage* dst, ScaleRoutine routine, CDibImage* src, const Rect* src_rect,
                         const Rect* dst_rect, void** param1, void** param2);

    const platform::BitmapInfoHeader& header() const { return info_.bmiHeader; }
    const platform::BitmapInfo& bitmap_info() const { return info_; }
    const platform::RgbQuad* palette() const { return info_.bmiColors; }
    platform::DeviceContext* dc() const { return dc_; }
    platform::Bitmap* bitmap() const { return bitmap_; }
    uint8_t* bits() const { return bits_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    int32_t stride() const { return stride_; }
    uint16_t bit_count() const { return bit_count_; }
    uint16_t bytes_per_pixel() const { return static_cast<uint16_t>(bit_count_ / 8); }
    bool empty() const { return bits_ == nullptr; }
    // Pointer to memory row `row` (0 = top line of the picture).
    uint8_t* row(int32_t r) const { return bits_ + static_cast<intptr_t>(r) * stride_; }

  private:
    void Reset();
    void ReleasePixels();

    platform::BitmapInfo info_{};  // header followed by the 256-entry palette
    platform::DeviceContext* dc_ = nullptr;
    platform::Bitmap* bitmap_ = nullptr;
    uint8_t* bits_ = nullptr;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t stride_ = 0;
    uint16_t bit_count_ = 0;
    platform::Bitmap* previous_bitmap_ = nullptr;
    bool heap_bits_ = false;  // bits_ came from the heap, not from the DIB section
};

}  // namespace vimbra
