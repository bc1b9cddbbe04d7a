// The argument list shared by every pixel routine that the converting blit
// and the scaling blit call. Routines are plain functions over raw memory.
#pragma once

#include <cstdint>

namespace vimbra {

// A rectangle with exclusive right and bottom edges (RECT).
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// Called by ConvertBlit with one clipped rectangle. `src_rect` holds columns
// and memory rows (bottom exclusive); `dst_row` is the destination memory row
// that receives source row src_rect.top (or src_rect.bottom - 1 for routines
// that turn the picture over). `param1`/`param2` point to a pointer to the
// routine's parameter record, or are null. Destination and source may be the
// same memory. Returns 1 for conversions and filters, a measured value or a
// count for the measuring routines.
using PixelRoutine = int (*)(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect,
                             int dst_x, int dst_row, uint16_t dst_bytes_per_pixel,
                             uint16_t src_bytes_per_pixel, int dst_stride, int src_stride,
                             void** param1, void** param2);

// The function type of a pixel routine, for declaring routines:
// `PixelRoutineFn Mono16To8Shift4;` declares one.
using PixelRoutineFn = int(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect,
                           int dst_x, int dst_row, uint16_t dst_bytes_per_pixel,
                           uint16_t src_bytes_per_pixel, int dst_stride, int src_stride,
                           void** param1, void** param2);

// Called by ScaleBlit with two whole rectangles; sizes are packed as width in
// the low and height in the high 32 bits.
using ScaleRoutine = int (*)(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& dst_rect,
                             const Rect& src_rect, uint64_t dst_size, uint64_t src_size,
                             uint16_t dst_bytes_per_pixel, uint16_t src_bytes_per_pixel,
                             int dst_stride, int src_stride, void** param1, void** param2);

}  // namespace vimbra
