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
