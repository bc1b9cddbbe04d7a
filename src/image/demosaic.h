// Bilinear Bayer demosaic of raw 8-bit and 16-bit frames into BGR pictures,
// with red and blue white-balance gains, and the white-balance measurement.
#pragma once

#include <cstdint>

#include "image/pixel_routine.h"

namespace vimbra {

class CDibImage;

// Colour of the first samples of the first two rows:
// 0: G B / R G; 1: R G / G B; 2: B G / G R; 3: G R / B G.
enum BayerPhase : int32_t { kPhaseGBRG = 0, kPhaseRGGB = 1, kPhaseBGGR = 2, kPhaseGRBG = 3 };

// Colour of the sample at (row, column) for a phase: 0 blue, 1 green, 2 red.
int BayerColour(int phase, int row, int column);

// The phase seen after the sensor's mirrors: a vertical mirror exchanges the
// two rows, then a horizontal mirror the two columns.
int EffectivePhase(int bayer_mode, int mirror_h, int mirror_v);

// Parameter record of the demosaic routines (param1 points to a pointer to
// it). Gains in percent, 100 = unity; the green gain is carried, not applied.
struct DemosaicParams {
    int32_t phase = 0;
    int32_t red_gain = 100;
    int32_t green_gain = 100;
    int32_t blue_gain = 100;
};

// Parameter record of the white-balance measurement: results in percent and
// the phase to measure with.
struct BalanceParams {
    int32_t blue = 0;
    int32_t green = 0;
    int32_t red = 0;
    int32_t phase = 0;
};

// trunc(gain * 1.28) in double precision: 100 % -> 128.
int32_t GainFactor(int32_t gain_percent);

// Interior pass (rows and columns 2 .. size - 3) and border pass (the two
// outer rows and columns on every side) of 8-bit raw into 24 or 32-bit BGR,
// and of 16-bit raw into 48 or 64-bit BGR (clamped to 4095).
int DemosaicInner8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                   int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                   void** param1, void** param2);
int DemosaicBorder8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                    int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                    void** param1, void** param2);
int DemosaicInner16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                    int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                    void** param1, void** param2);
int DemosaicBorder16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                     int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride,
                     int src_stride, void** param1, void** param2);

// Means of the green, red and blue samples of the rectangle; fills the
// BalanceParams results (green 100). Returns 1.
int MeasureBalance8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                    int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                    void** param1, void** param2);
int MeasureBalance16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                     int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride,
                     int src_stride, void** param1, void** param2);

// The session's colour settings that ConvertToColour reads and updates.
struct ColourSettings {
    int32_t bayer_mode = 0;
    int32_t mirror_h = 0;
    int32_t mirror_v = 0;
    int32_t gain_red = 100;
    int32_t gain_green = 100;
    int32_t gain_blue = 100;
    int32_t gain_auto = 0;
    // The one-shot white-balance request: when both words are set, the
    // automatic measurement runs for this frame only and everything is cleared.
    int32_t balance_request[2] = {0, 0};
};

// Demosaics `src` (8-bit raw into 24/32-bit, 16-bit raw into 48/64-bit) into
// `dst` at (0, 0), measuring the gains first when gain_auto is on. Sets
// *gains_measured when the gains were changed by a measurement (the caller
// refreshes the filter dialog then). Returns 1.
int ConvertToColour(CDibImage* dst, CDibImage* src, ColourSettings& settings,
                    bool* gains_measured = nullptr);

// Number of threads the interior pass splits its rows over: 0 (the default)
// uses every core, 1 runs on the calling thread only. Returns the previous
// setting. DemosaicThreads() gives the number in effect.
int SetDemosaicThreads(int threads);
int DemosaicThreads();

}  // namespace vimbra
