// The grey filter of monochrome output from a mosaic sensor: each of the four
// positions of the 2 x 2 pattern gets its own gain (128 = unity) and offset,
// and MeasureGrey finds the gains that level the four positions.
#pragma once

#include <cstdint>

#include "image/pixel_routine.h"

namespace vimbra {

// Parameter record of the grey filter routines (param1 points to a pointer to
// it). The phase is the mirror-adjusted Bayer phase; bit depth 8 means 8-bit
// samples, anything else 16-bit samples with that many significant bits.
struct GreyParams {
    int32_t phase = 0;
    int32_t gain_r = 128;
    int32_t gain_g1 = 128;
    int32_t gain_g2 = 128;
    int32_t gain_b = 128;
    int32_t offset_r = 0;
    int32_t offset_g1 = 0;
    int32_t offset_g2 = 0;
    int32_t offset_b = 0;
    int32_t bit_depth = 8;
};

// Position classes of the 2 x 2 pattern.
enum GreyPosition : int { kGreyG1 = 0, kGreyR = 1, kGreyB = 2, kGreyG2 = 3 };

// Position class of the sample at (row, column) of the rectangle for a phase:
// row class (row + 1) % 2 for phases 1 and 3, else row % 2; column class
// (column + 1) % 2 for phases 2 and 3, else column % 2; (0,0) G1, (0,1) R,
// (1,0) B, (1,1) G2.
GreyPosition GreyPositionOf(int phase, int row, int column);

// Largest sample value of a bit depth: 8 -> 255, 10 -> 1023, 12 -> 4095,
// 14 -> 16383, any other -> 65535.
int32_t GreyMaxValue(int32_t bit_depth);

// out = offset + trunc(gain * s / 128), clamped to 0..255 or 0..max value of
// the bit depth. Return 1 (0 without parameters).
PixelRoutineFn GreyFilter8;
PixelRoutineFn GreyFilter16;

// Measures the mean of each position class over the source rectangle
// (ignoring saturated samples, and black ones in the counts) and writes gains
// that bring every class to the brightest one into the GreyParams. When a
// class has no usable sample nothing changes. Returns 1.
PixelRoutineFn MeasureGrey;

}  // namespace vimbra
