// The per-frame conversion: from the raw frame that has just landed in the
// session's raw image to the output image of the colour mode, with exposure
// feedback, hot-pixel repair, the grey filter, the demosaic and the tone
// filters, in that fixed order. The session hands over its settings records
// and images through FrameContext and runs ProcessFrame under its image lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/filters.h"
#include "settings/settings_records.h"

namespace vimbra {

class CDibImage;

// Slots of the session's filter record (30 int32).
namespace filter_slot {
inline constexpr int kBrightness = 0;
inline constexpr int kContrast = 1;
inline constexpr int kHue = 2;
inline constexpr int kSaturation = 3;
inline constexpr int kSharpness = 4;
inline constexpr int kGainRed = 5;
inline constexpr int kGainGreen = 6;
inline constexpr int kGainBlue = 7;
inline constexpr int kGamma = 8;
inline constexpr int kBayerMode = 9;
inline constexpr int kGrayMode = 11;
inline constexpr int kGrayGainR = 12;
inline constexpr int kGrayGainG1 = 13;
inline constexpr int kGrayGainG2 = 14;
inline constexpr int kGrayGainB = 15;
inline constexpr int kGrayOffsetR = 16;
inline constexpr int kGrayOffsetG1 = 17;
inline constexpr int kGrayOffsetG2 = 18;
inline constexpr int kGrayOffsetB = 19;
inline constexpr int kGainAuto = 25;
inline constexpr int kBalanceRequest0 = 26;
inline constexpr int kBalanceRequest1 = 27;
inline constexpr int kGreyBalanceRequest = 29;
inline constexpr int kCount = 30;
}  // namespace filter_slot

// Slots of the session's analog record (9 int32).
namespace analog_slot {
inline constexpr int kGlobalGain = 0;
inline constexpr int kGainG1 = 1;
inline constexpr int kGainR = 2;
inline constexpr int kGainB = 3;
inline constexpr int kGainG2 = 4;
inline constexpr int kExposure = 5;
inline constexpr int kMirrorV = 6;
inline constexpr int kMirrorH = 7;
inline constexpr int kAutoIris = 8;
inline constexpr int kCount = 9;
}  // namespace analog_slot

// The slots are the fields of the session's records, seen as arrays of int32.
#define VIMBRA_SLOT_IS(Record, field, slot) \
    static_assert(offsetof(Record, field) == (slot) * sizeof(int32_t), #field)
VIMBRA_SLOT_IS(FilterRecord, brightness, filter_slot::kBrightness);
VIMBRA_SLOT_IS(FilterRecord, contrast, filter_slot::kContrast);
VIMBRA_SLOT_IS(FilterRecord, hue, filter_slot::kHue);
VIMBRA_SLOT_IS(FilterRecord, saturation, filter_slot::kSaturation);
VIMBRA_SLOT_IS(FilterRecord, sharpness, filter_slot::kSharpness);
VIMBRA_SLOT_IS(FilterRecord, red_gain, filter_slot::kGainRed);
VIMBRA_SLOT_IS(FilterRecord, green_gain, filter_slot::kGainGreen);
VIMBRA_SLOT_IS(FilterRecord, blue_gain, filter_slot::kGainBlue);
VIMBRA_SLOT_IS(FilterRecord, gamma, filter_slot::kGamma);
VIMBRA_SLOT_IS(FilterRecord, bayer_mode, filter_slot::kBayerMode);
VIMBRA_SLOT_IS(FilterRecord, gray.mode, filter_slot::kGrayMode);
VIMBRA_SLOT_IS(FilterRecord, gray.gain_r, filter_slot::kGrayGainR);
VIMBRA_SLOT_IS(FilterRecord, gray.gain_g1, filter_slot::kGrayGainG1);
VIMBRA_SLOT_IS(FilterRecord, gray.gain_g2, filter_slot::kGrayGainG2);
VIMBRA_SLOT_IS(FilterRecord, gray.gain_b, filter_slot::kGrayGainB);
VIMBRA_SLOT_IS(FilterRecord, gray.offset_r, filter_slot::kGrayOffsetR);
VIMBRA_SLOT_IS(FilterRecord, gray.offset_g1, filter_slot::kGrayOffsetG1);
VIMBRA_SLOT_IS(FilterRecord, gray.offset_g2, filter_slot::kGrayOffsetG2);
VIMBRA_SLOT_IS(FilterRecord, gray.offset_b, filter_slot::kGrayOffsetB);
VIMBRA_SLOT_IS(FilterRecord, bayer_gain_auto, filter_slot::kGainAuto);
VIMBRA_SLOT_IS(FilterRecord, white_balance_request, filter_slot::kBalanceRequest0);
VIMBRA_SLOT_IS(FilterRecord, grey_balance_request, filter_slot::kGreyBalanceRequest);
VIMBRA_SLOT_IS(AnalogRecord, global_gain, analog_slot::kGlobalGain);
VIMBRA_SLOT_IS(AnalogRecord, gain_g1, analog_slot::kGainG1);
VIMBRA_SLOT_IS(AnalogRecord, gain_r, analog_slot::kGainR);
VIMBRA_SLOT_IS(AnalogRecord, gain_b, analog_slot::kGainB);
VIMBRA_SLOT_IS(AnalogRecord, gain_g2, analog_slot::kGainG2);
VIMBRA_SLOT_IS(AnalogRecord, exposure, analog_slot::kExposure);
VIMBRA_SLOT_IS(AnalogRecord, v_mirror, analog_slot::kMirrorV);
VIMBRA_SLOT_IS(AnalogRecord, h_mirror, analog_slot::kMirrorH);
VIMBRA_SLOT_IS(AnalogRecord, auto_iris, analog_slot::kAutoIris);
static_assert(sizeof(FilterRecord) == filter_slot::kCount * sizeof(int32_t));
static_assert(sizeof(AnalogRecord) == analog_slot::kCount * sizeof(int32_t));
#undef VIMBRA_SLOT_IS

// Colour mode indexes: 8-bit grey, 16-bit grey, 24, 32, 48, 64-bit colour.
inline constexpr int32_t kColourModeCount = 6;

// The session's images that the conversion uses; an image a colour mode does
// not have may be null or empty.
struct FrameImages {
    CDibImage* raw8 = nullptr;
    CDibImage* raw16 = nullptr;
    CDibImage* rgb24 = nullptr;
    CDibImage* rgb32 = nullptr;
    CDibImage* rgb48 = nullptr;
    CDibImage* rgb64 = nullptr;
    CDibImage* work = nullptr;  // shaped like the output image
};

// What the conversion needs from the session beyond its records.
class FrameCallbacks {
  public:
    virtual ~FrameCallbacks() = default;
    // Exposure or gain feedback from the raw frame; called only while the
    // automatic iris mode (analog slot 8) is 1 or 2.
    virtual void AutoIrisStep(CDibImage& raw) = 0;
    // A measurement (white balance or grey balance) changed the filter
    // record; an open image filter dialog should show the new values.
    virtual void FilterRecordChanged() = 0;
};

struct FrameContext {
    std::span<int32_t, filter_slot::kCount> filter;        // read; measurements write back
    std::span<const int32_t, analog_slot::kCount> analog;  // read after the iris step
    int32_t colour_mode = 0;                               // index 0..5
    int32_t subsample = 0;                                 // 0, 1, 2, 17, 18
    FrameImages images;
    FrameCallbacks* callbacks = nullptr;   // may be null: no iris step, no notices
    FilterWorkspace* workspace = nullptr;  // may be null: 16-bit filters allocate per call
    // Tone filters in shared passes (same bytes); false runs each in a pass
    // of its own, for comparisons.
    bool fuse_tone_filters = true;
};

// Converts the frame in the raw image of the colour mode into the output
// image of that mode. Colour modes outside 0..5 do nothing.
void ProcessFrame(FrameContext& ctx);

// The output image of a colour mode: raw8, raw16, rgb24, rgb32, rgb48, rgb64;
// null for modes outside 0..5.
CDibImage* OutputImage(const FrameImages& images, int32_t colour_mode);

}  // namespace vimbra
