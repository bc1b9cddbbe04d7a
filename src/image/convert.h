// Pixel format conversions: plain PixelRoutines that move pixels between the
// library's image formats without looking at neighbours. "Turned" routines
// write source row bottom - 1 - i into destination row dst_row + i; all others
// keep the row order. All ignore their parameters and return 1, except the
// region means, which return the mean.
#pragma once

#include "image/pixel_routine.h"

namespace vimbra {

// 16-bit grey -> 8-bit: (s >> 2) & 0xFF (10-bit data) or (s >> 4) & 0xFF
// (12-bit data).
PixelRoutineFn Mono16To8Shift2Turned;
PixelRoutineFn Mono16To8Shift4;
PixelRoutineFn Mono16To8Shift4Turned;
// 16-bit grey -> 16-bit: (s << 4) & 0xFFFF.
PixelRoutineFn Mono16Widen4;
// 24 or 32-bit -> 24-bit, bytes 0..2.
PixelRoutineFn Colour24Copy;
PixelRoutineFn Colour24CopyTurned;
// 24-bit -> 24-bit with bytes 0 and 2 exchanged.
PixelRoutineFn Colour24SwapRB;
// 32-bit -> 32-bit, fourth byte inverted.
PixelRoutineFn Colour32InvertFourth;
// Whole rows of min(dst_stride, src_stride) bytes from the rectangle's left
// column, turned.
PixelRoutineFn RowCopyTurned;
// 48 or 64-bit -> 24-bit, samples 0..2 shifted right by 4 or 2.
PixelRoutineFn Colour48To24Shift4;
PixelRoutineFn Colour48To24Shift2Turned;
// 48-bit -> 48-bit and 64-bit -> 64-bit, samples 0..2 << 4, in B, G, R order
// or exchanged to R, G, B; the 64-bit fourth sample becomes 0xFFFF.
PixelRoutineFn Colour48Widen4;
PixelRoutineFn Colour48Widen4SwapRB;
PixelRoutineFn Colour64Widen4;
PixelRoutineFn Colour64Widen4SwapRB;
// 24-bit -> 8-bit grey: (30 R + 59 G + 11 B) / 100.
PixelRoutineFn ColourToGrey;
// Mean of the region at (dst_x, dst_row) of dst_bits with the rectangle's
// size: bytes, or 16-bit samples reduced with (s >> 2) & 0xFF. 0 when empty.
PixelRoutineFn RegionMean8;
PixelRoutineFn RegionMean16;
// Spreads a frame whose rows were packed back to back (width x bpp bytes
// each) out to the image's stride, in place.
PixelRoutineFn Repack8;
PixelRoutineFn Repack16;

}  // namespace vimbra
