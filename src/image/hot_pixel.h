// Hot-pixel repair of raw mosaic frames: a sample far above (8-bit) or away
// from (16-bit) the mean of its four nearest same-colour neighbours is
// replaced by that mean. Both routines work in place on the destination (the
// source rectangle is copied there first when the two differ) and scan rows
// 2..H-3, columns 2..W-3 row by row, so a repaired sample is seen repaired by
// the samples after it.
//
// param1 points to a pointer to DemosaicParams (the Bayer mode as set, without
// the mirror adjustment, and the red, green and blue gains); param2 points to
// a pointer to the int32 threshold (null: 30 for 8-bit, 480 for 16-bit).
#pragma once

#include <cstdint>

#include "image/pixel_routine.h"

namespace vimbra {

inline constexpr int32_t kHotPixelThreshold8 = 30;
inline constexpr int32_t kHotPixelThreshold16 = 480;

// 8-bit raw: a candidate (s - mean >= threshold) is replaced only when the
// colour that the demosaic kernel gives at it (red and blue taken modulo 256)
// has at least two channel differences above 30. Returns the number of
// samples replaced; 0 without DemosaicParams.
PixelRoutineFn HotPixel8;
// 16-bit raw: a candidate (|s - mean| >= threshold) is replaced only when all
// eight adjacent samples differ from it by at least the threshold. Returns 0.
PixelRoutineFn HotPixel16;

}  // namespace vimbra
