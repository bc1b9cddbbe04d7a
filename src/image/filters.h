// Tone and colour filters that change a converted frame in place: brightness,
// contrast, gamma, sharpness and hue/saturation, each in a variant per sample
// layout (8-bit grey, 16-bit grey, 24/32-bit colour, 48/64-bit colour).
//
// Every filter is a PixelRoutine. param1 points to a pointer to its parameter
// record (ToneParams or HueSatParams); a routine without one does nothing and
// returns 0. param2 may point to a pointer to a FilterWorkspace that holds the
// lookup tables between calls, so that the 16-bit filters do not allocate per
// frame; when it is null they use tables of their own for the call.
// Colour variants change channels 0..2 and leave the fourth channel of 32 and
// 64-bit pixels as it is. The sharpness filters read the unfiltered frame from
// the source (a copy of the frame) and write the destination.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "image/pixel_routine.h"

namespace vimbra {

// Parameters of brightness, contrast, gamma and sharpness: the filter value
// and the significant bits of 16-bit samples (clamped to 8..16; the 8-bit
// variants ignore it).
struct ToneParams {
    int32_t value = 0;
    int32_t bit_depth = 12;
};

// Parameters of hue and saturation: hue in degrees (any value, taken round
// the circle), lightness (only 0 is supported and any other value is treated
// as 0), saturation -255..255 (clamped), significant bits of 16-bit samples.
struct HueSatParams {
    int32_t hue = 0;
    int32_t lightness = 0;
    int32_t saturation = 0;
    int32_t bit_depth = 12;
};

// Scratch memory of the filters, owned by whoever runs them (one per session:
// never shared between threads). Holds the 65536-entry table of the 16-bit
// tone filters and the row sums of the sharpness filters.
class FilterWorkspace {
  public:
    FilterWorkspace();
    ~FilterWorkspace();
    FilterWorkspace(const FilterWorkspace&) = delete;
    FilterWorkspace& operator=(const FilterWorkspace&) = delete;

    // Two tables of kToneTable16Size entries.
    uint16_t* table16() { return table16_.get(); }
    uint16_t* table16b() { return table16b_.get(); }
    // At least `count` 32-bit entries, kept between calls.
    uint32_t* row_sums(size_t count);
    // At least `count` 16-bit entries, kept between calls.
    uint16_t* row_sums16(size_t count);

  private:
    std::unique_ptr<uint16_t[]> table16_;
    std::unique_ptr<uint16_t[]> table16b_;
    std::unique_ptr<uint32_t[]> row_sums_;
    size_t row_sums_size_ = 0;
    std::unique_ptr<uint16_t[]> row_sums16_;
    size_t row_sums16_size_ = 0;
};

// Brightness: out = trunc(s * factor) clamped, with the single-precision
// factor 1 + value * 10/255 (value > 0) or 1 - |value| / 255 (value < 0).
PixelRoutineFn Brightness8;
PixelRoutineFn Brightness16;
PixelRoutineFn BrightnessColour8;
PixelRoutineFn BrightnessColour16;

// Contrast -127..127: linear stretch (or compression) around the middle.
PixelRoutineFn Contrast8;
PixelRoutineFn Contrast16;
PixelRoutineFn ContrastColour8;
PixelRoutineFn ContrastColour16;

// Gamma 0..200 (100 neutral): power curve with exponent value / 100 up to 100
// and (value - 100) / 10 + 1 above.
PixelRoutineFn Gamma8;
PixelRoutineFn Gamma16;
PixelRoutineFn GammaColour8;
PixelRoutineFn GammaColour16;

// Sharpness 0..30: unsharp mask with a 4 x 4 box and amount value / 10 on
// the interior (two outer rows and columns unchanged).
PixelRoutineFn Sharpen8;
PixelRoutineFn Sharpen16;
PixelRoutineFn SharpenColour8;
PixelRoutineFn SharpenColour16;

// Hue and saturation in integer HSL of 8-bit precision (16-bit samples are
// reduced to 8 bits and widened back).
PixelRoutineFn HueSatColour8;
PixelRoutineFn HueSatColour16;

// Running several per-sample filters in one pass over the frame: the tables
// of the tone filters can be built, composed and applied on their own, and
// the sharpness filters can send their results through a table before they
// write them. The outputs equal those of the filters run one after another.
enum class ToneKind : int { kBrightness, kContrast, kGamma, kGammaColour8 };

// Entries of a 16-bit table: one per sample value and two spare ones.
inline constexpr size_t kToneTable16Size = 65536 + 2;

// The table that the filter of that kind builds: 256 entries for 8-bit
// samples; kToneTable16Size entries for 16-bit samples with `bit_depth`
// significant bits. kGammaColour8 is the gamma of GammaColour8, whose
// exponent is clamped.
void BuildToneTable8(ToneKind kind, int32_t value, uint8_t* table);
void BuildToneTable16(ToneKind kind, int32_t value, int32_t bit_depth, uint16_t* table);

// A built table: table8 for the 8-bit routines, table16 for the 16-bit ones.
struct SampleTable {
    const uint8_t* table8 = nullptr;
    const uint16_t* table16 = nullptr;
};

// out = table[s] on every sample (grey) or channels 0..2 (colour); param1
// points to a pointer to a SampleTable.
PixelRoutineFn ApplyTable8;
PixelRoutineFn ApplyTableColour8;
PixelRoutineFn ApplyTable16;
PixelRoutineFn ApplyTableColour16;

// The sharpness filters followed by a table on every sample they compute;
// param1 points to a pointer to SharpenTableParams.
struct SharpenTableParams {
    ToneParams sharpen;
    SampleTable table;
    // 16-bit routines without a table: the brightness of this value (not 0),
    // computed per sample rather than looked up.
    int32_t brightness = 0;
    // SharpenFrameFromCopy only: filters run on each row of the frame before
    // the sharpness filter reads it, as if they had run on the whole frame
    // first: hue and saturation (colour layouts, when not null), then the
    // table `before` (when not empty).
    const HueSatParams* hue_sat = nullptr;
    SampleTable before{};
};
PixelRoutineFn SharpenTable8;
PixelRoutineFn SharpenTableColour8;
PixelRoutineFn SharpenTable16;
PixelRoutineFn SharpenTableColour16;

// The copy of a frame into the work image and the sharpness filter in one
// pass: copies stride x height bytes of `frame` into `work` (same size and
// layout) and sharpens `frame` from the copy, each row copied just before it
// is needed, then the table or brightness of `params` as SharpenTable* does
// (an empty table and brightness 0: the plain filter). Same results, in both
// images, as the copy followed by the filter. bytes_per_pixel 1 or 2 for grey,
// 3, 4, 6 or 8 for colour. Returns 1, or 0 (nothing done) for a layout it
// does not know or, with filters before it, a frame of four or fewer rows or
// columns.
int SharpenFrameFromCopy(uint8_t* frame, uint8_t* work, int width, int height, int stride,
                         int bytes_per_pixel, bool colour, const SharpenTableParams& params,
                         FilterWorkspace* workspace);

// Hue and saturation followed by a table on every sample they compute;
// param1 points to a pointer to HueSatTableParams.
struct HueSatTableParams {
    HueSatParams hue_sat;
    SampleTable table;
};
PixelRoutineFn HueSatTableColour8;
PixelRoutineFn HueSatTableColour16;

// Position on the hue circle of 1530 steps (six sectors of 255) that a hue
// in degrees turns a colour by: 120 -> 509, 60 -> 255, +-360 -> 0.
int32_t HueOffset(int32_t hue);

// Brightness factor as the filter uses it.
float BrightnessFactor(int32_t value);

// Gamma exponent of a filter value: 100 -> 1.0, 50 -> 0.5, 110 -> 2.0.
double GammaExponent(int32_t value);

}  // namespace vimbra
