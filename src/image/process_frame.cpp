#include "image/process_frame.h"

#include <algorithm>
#include <cstring>

#include "image/convert.h"
#include "image/demosaic.h"
#include "image/dib_image.h"
#include "image/filters_internal.h"
#include "image/grey_filter.h"
#include "image/hot_pixel.h"

namespace vimbra {

namespace {

namespace fs = filter_slot;
namespace as = analog_slot;

bool HasPixels(const CDibImage* image) {
    return image != nullptr && !image->empty();
}

// Runs a routine in place on `image` with one parameter record and an optional
// second one.
template <class P>
int RunInPlace(CDibImage* image, PixelRoutine routine, P* params, void* second = nullptr) {
    void* p1 = params;
    void* p2 = second;
    return CDibImage::ConvertBlit(image, routine, image, nullptr, 0, 0, &p1,
                                  second != nullptr ? &p2 : nullptr);
}

// Demosaics `src` into `dst` with the colour settings of the filter record
// and writes back what the automatic white balance changed.
void ToColour(FrameContext& ctx, CDibImage* dst, CDibImage* src) {
    if (!HasPixels(dst) || !HasPixels(src)) return;
    ColourSettings s;
    s.bayer_mode = ctx.filter[fs::kBayerMode];
    s.mirror_h = ctx.analog[as::kMirrorH];
    s.mirror_v = ctx.analog[as::kMirrorV];
    s.gain_red = ctx.filter[fs::kGainRed];
    s.gain_green = ctx.filter[fs::kGainGreen];
    s.gain_blue = ctx.filter[fs::kGainBlue];
    s.gain_auto = ctx.filter[fs::kGainAuto];
    s.balance_request[0] = ctx.filter[fs::kBalanceRequest0];
    s.balance_request[1] = ctx.filter[fs::kBalanceRequest1];
    bool measured = false;
    ConvertToColour(dst, src, s, &measured);
    ctx.filter[fs::kGainRed] = s.gain_red;
    ctx.filter[fs::kGainGreen] = s.gain_green;
    ctx.filter[fs::kGainBlue] = s.gain_blue;
    ctx.filter[fs::kGainAuto] = s.gain_auto;
    ctx.filter[fs::kBalanceRequest0] = s.balance_request[0];
    ctx.filter[fs::kBalanceRequest1] = s.balance_request[1];
    if (measured && ctx.callbacks != nullptr) ctx.callbacks->FilterRecordChanged();
}

void GreyFilterStep(FrameContext& ctx, CDibImage* raw) {
    const int32_t c = ctx.colour_mode;
    switch (ctx.filter[fs::kGrayMode]) {
        case 1: {
            GreyParams p;
            p.phase = EffectivePhase(ctx.filter[fs::kBayerMode], ctx.analog[as::kMirrorH],
                                     ctx.analog[as::kMirrorV]);
            p.gain_r = ctx.filter[fs::kGrayGainR];
            p.gain_g1 = ctx.filter[fs::kGrayGainG1];
            p.gain_g2 = ctx.filter[fs::kGrayGainG2];
            p.gain_b = ctx.filter[fs::kGrayGainB];
            p.offset_r = ctx.filter[fs::kGrayOffsetR];
            p.offset_g1 = ctx.filter[fs::kGrayOffsetG1];
            p.offset_g2 = ctx.filter[fs::kGrayOffsetG2];
            p.offset_b = ctx.filter[fs::kGrayOffsetB];
            p.bit_depth = c == 0 ? 8 : 12;
            if (ctx.filter[fs::kGreyBalanceRequest] != 0) {
                RunInPlace(raw, MeasureGrey, &p);
                ctx.filter[fs::kGrayGainR] = p.gain_r;
                ctx.filter[fs::kGrayGainG1] = p.gain_g1;
                ctx.filter[fs::kGrayGainG2] = p.gain_g2;
                ctx.filter[fs::kGrayGainB] = p.gain_b;
                if (ctx.callbacks != nullptr) ctx.callbacks->FilterRecordChanged();
                ctx.filter[fs::kGreyBalanceRequest] -= 1;
            }
            if (p.gain_r != 128 || p.gain_g1 != 128 || p.gain_g2 != 128 || p.gain_b != 128) {
                RunInPlace(raw, c == 0 ? GreyFilter8 : GreyFilter16, &p);
            }
            break;
        }
        case 2:
            // Luminance of the demosaiced colour; mode 1 has no 24-bit image.
            if (c == 0 && HasPixels(ctx.images.rgb24)) {
                ToColour(ctx, ctx.images.rgb24, raw);
                CDibImage::ConvertBlit(raw, ColourToGrey, ctx.images.rgb24, nullptr, 0, 0, nullptr,
                                       nullptr);
            }
            break;
        default:
            break;
    }
}

// The variants of one tone filter, by colour mode.
struct Variants {
    PixelRoutine by_mode[kColourModeCount];
};
constexpr Variants kGamma{
    {Gamma8, Gamma16, GammaColour8, GammaColour8, GammaColour16, GammaColour16}};
constexpr Variants kContrast{
    {Contrast8, Contrast16, ContrastColour8, ContrastColour8, ContrastColour16, ContrastColour16}};
constexpr Variants kBrightness{{Brightness8, Brightness16, BrightnessColour8, BrightnessColour8,
                                BrightnessColour16, BrightnessColour16}};

constexpr Variants kSharpen{
    {Sharpen8, Sharpen16, SharpenColour8, SharpenColour8, SharpenColour16, SharpenColour16}};
constexpr Variants kApplyTable{{ApplyTable8, ApplyTable16, ApplyTableColour8, ApplyTableColour8,
                                ApplyTableColour16, ApplyTableColour16}};
constexpr int32_t kToneDepth = 12;

// Brightness on the two outer rows and columns of `out` only.
void BrightnessBorder(FrameContext& ctx, CDibImage* out, int32_t c) {
    ToneParams p{ctx.filter[filter_slot::kBrightness], kToneDepth};
    void* p1 = &p;
    void* p2 = ctx.workspace;
    void** second = ctx.workspace != nullptr ? &p2 : nullptr;
    const int w = out->width();
    const int h = out->height();
    // Rectangles in the blit's bottom-up coordinates: bands of two rows at the
    // top and bottom, and of two columns at the sides between them.
    const int band_h = std::min(2, h);
    const int band_w = std::min(2, w);
    const Rect bands[4] = {
        {0, h - band_h, w, h},                // memory rows 0..1
        {0, 0, w, band_h},                    // last two memory rows
        {0, band_h, band_w, h - band_h},      // left columns
        {w - band_w, band_h, w, h - band_h},  // right columns
    };
    for (const Rect& r : bands) {
        if (r.right <= r.left || r.bottom <= r.top) continue;
        CDibImage::ConvertBlit(out, kBrightness.by_mode[c], out, &r, r.left, r.top, &p1, second);
    }
}

// Which tone filters a frame gets, decided once before any of them runs.
struct TonePlan {
    int32_t mode = 0;
    bool wide = false;  // 16-bit samples
    bool hue_sat = false;
    bool gamma = false;
    bool contrast = false;
    bool sharpen = false;  // on and the work image holds a copy of this frame
    bool brightness = false;
    HueSatParams hs;
};

TonePlan PlanToneFilters(const FrameContext& ctx, const CDibImage& out) {
    TonePlan t;
    const int32_t c = ctx.colour_mode;
    t.mode = c;
    t.wide = c == 1 || c >= 4;
    t.hue_sat = c >= 2 && (ctx.filter[fs::kHue] != 0 || ctx.filter[fs::kSaturation] != 0);
    t.gamma = ctx.filter[fs::kGamma] != 100;
    t.contrast = ctx.filter[fs::kContrast] != 0;
    t.brightness = ctx.filter[fs::kBrightness] != 0;
    const CDibImage* work = ctx.images.work;
    t.sharpen = ctx.filter[fs::kSharpness] != 0 && HasPixels(work) &&
                work->stride() == out.stride() && work->height() == out.height() &&
                work->bit_count() == out.bit_count();
    t.hs = HueSatParams{ctx.filter[fs::kHue], 0, ctx.filter[fs::kSaturation], kToneDepth};
    return t;
}

// Each tone filter in a pass of its own, in the fixed order: the reference
// that the fused passes give the same bytes as.
void RunOneByOne(FrameContext& ctx, CDibImage& out, const TonePlan& t) {
    CDibImage* image = &out;
    void* workspace = ctx.workspace;
    const int32_t c = t.mode;
    if (t.hue_sat) {
        HueSatParams p = t.hs;
        RunInPlace(image, c <= 3 ? HueSatColour8 : HueSatColour16, &p, workspace);
    }
    if (t.gamma) {
        ToneParams p{ctx.filter[fs::kGamma], kToneDepth};
        RunInPlace(image, kGamma.by_mode[c], &p, workspace);
    }
    if (t.contrast) {
        ToneParams p{ctx.filter[fs::kContrast], kToneDepth};
        RunInPlace(image, kContrast.by_mode[c], &p, workspace);
    }
    if (t.sharpen) {
        CDibImage* work = ctx.images.work;
        std::memcpy(work->bits(), out.bits(), static_cast<size_t>(out.stride()) * out.height());
        ToneParams p{ctx.filter[fs::kSharpness], kToneDepth};
        void* p1 = &p;
        void* p2 = workspace;
        CDibImage::ConvertBlit(image, kSharpen.by_mode[c], work, nullptr, 0, 0, &p1,
                               workspace != nullptr ? &p2 : nullptr);
    }
    if (t.brightness) {
        ToneParams p{ctx.filter[fs::kBrightness], kToneDepth};
        RunInPlace(image, kBrightness.by_mode[c], &p, workspace);
    }
}

// The per-sample tone filters that follow each other, composed into one table
// of `t` applied once: gamma, contrast and, when no sharpness filter comes
// between them, brightness. Returns the table, empty when none is on. 16-bit
// tables live in the workspace.
SampleTable ComposeTones(const FrameContext& ctx, const TonePlan& t, uint8_t* table8,
                         uint8_t* spare8) {
    struct Step {
        bool on;
        ToneKind kind;
        int32_t value;
    };
    const bool colour8 = !t.wide && t.mode != 0;
    const Step steps[3] = {
        {t.gamma, colour8 ? ToneKind::kGammaColour8 : ToneKind::kGamma, ctx.filter[fs::kGamma]},
        {t.contrast, ToneKind::kContrast, ctx.filter[fs::kContrast]},
        {t.brightness && !t.sharpen, ToneKind::kBrightness, ctx.filter[fs::kBrightness]},
    };
    SampleTable table;
    bool any = false;
    for (const Step& s : steps) {
        if (!s.on) continue;
        if (t.wide) {
            uint16_t* first = ctx.workspace->table16();
            uint16_t* next = ctx.workspace->table16b();
            BuildToneTable16(s.kind, s.value, kToneDepth, any ? next : first);
            if (any) {
                for (size_t i = 0; i < kToneTable16Size; ++i) first[i] = next[first[i]];
            }
            table.table16 = first;
        } else {
            BuildToneTable8(s.kind, s.value, any ? spare8 : table8);
            if (any) {
                for (int i = 0; i < 256; ++i) table8[i] = spare8[table8[i]];
            }
            table.table8 = table8;
        }
        any = true;
    }
    return table;
}

// The tone filters in as few passes as give the same bytes as RunOneByOne:
// hue and saturation with the composed tables in one pass, and with
// sharpness that pass is made on each row as it is copied into the work
// image, the sharpened samples going through the brightness table as they
// are written.
void RunFused(FrameContext& ctx, CDibImage& out, const TonePlan& t) {
    // 16-bit tables need the workspace; without one, and on frames too small
    // for the fused sharpness pass, each filter runs on its own.
    const bool small = out.width() <= 4 || out.height() <= 4;
    if ((t.wide && ctx.workspace == nullptr) || (t.sharpen && small)) {
        RunOneByOne(ctx, out, t);
        return;
    }
    const int32_t c = t.mode;
    alignas(64) uint8_t table8[256];
    alignas(64) uint8_t spare8[256];
    alignas(64) uint8_t bright8[256];
    const SampleTable tones = ComposeTones(ctx, t, table8, spare8);
    const bool has_tones = tones.table8 != nullptr || tones.table16 != nullptr;
    if (!t.sharpen) {
        if (t.hue_sat) {
            HueSatTableParams p{t.hs, tones};
            if (has_tones) {
                RunInPlace(&out, c <= 3 ? HueSatTableColour8 : HueSatTableColour16, &p);
            } else {
                RunInPlace(&out, c <= 3 ? HueSatColour8 : HueSatColour16, &p.hue_sat);
            }
        } else if (has_tones) {
            SampleTable table = tones;
            RunInPlace(&out, kApplyTable.by_mode[c], &table);
        }
        return;
    }
    SharpenTableParams p;
    p.sharpen = ToneParams{ctx.filter[fs::kSharpness], kToneDepth};
    p.hue_sat = t.hue_sat ? &t.hs : nullptr;
    p.before = tones;
    if (t.brightness) {
        if (t.wide) {
            // Computed per sample: cheaper than a lookup in a 16-bit table.
            p.brightness = ctx.filter[fs::kBrightness];
        } else {
            BuildToneTable8(ToneKind::kBrightness, ctx.filter[fs::kBrightness], bright8);
            p.table.table8 = bright8;
        }
    }
    SharpenFrameFromCopy(out.bits(), ctx.images.work->bits(), out.width(), out.height(),
                         out.stride(), out.bytes_per_pixel(), c >= 2, p, ctx.workspace);
    // The two outer rows and columns are not sharpened; they still get the
    // brightness.
    if (t.brightness) BrightnessBorder(ctx, &out, c);
}

}  // namespace

CDibImage* OutputImage(const FrameImages& images, int32_t colour_mode) {
    switch (colour_mode) {
        case 0:
            return images.raw8;
        case 1:
            return images.raw16;
        case 2:
            return images.rgb24;
        case 3:
            return images.rgb32;
        case 4:
            return images.rgb48;
        case 5:
            return images.rgb64;
        default:
            return nullptr;
    }
}

void ProcessFrame(FrameContext& ctx) {
    const int32_t c = ctx.colour_mode;
    if (c < 0 || c >= kColourModeCount) return;
    const bool deep = c == 1 || c == 4 || c == 5;
    CDibImage* raw = deep ? ctx.images.raw16 : ctx.images.raw8;
    if (!HasPixels(raw)) return;

    // 1. Exposure feedback.
    const int32_t iris = ctx.analog[as::kAutoIris];
    if ((iris == 1 || iris == 2) && ctx.callbacks != nullptr) ctx.callbacks->AutoIrisStep(*raw);

    // 2. Hot pixels, not for binned frames.
    if ((ctx.subsample & 0x10) == 0) {
        DemosaicParams p;
        p.phase = ctx.filter[fs::kBayerMode];
        p.red_gain = ctx.filter[fs::kGainRed];
        p.green_gain = ctx.filter[fs::kGainGreen];
        p.blue_gain = ctx.filter[fs::kGainBlue];
        int32_t threshold = deep ? kHotPixelThreshold16 : kHotPixelThreshold8;
        RunInPlace(raw, deep ? HotPixel16 : HotPixel8, &p, &threshold);
    }

    // 3. Grey filter of the monochrome modes.
    if (c == 0 || c == 1) GreyFilterStep(ctx, raw);

    // 4. Demosaic into the colour mode's image.
    switch (c) {
        case 2:
            ToColour(ctx, ctx.images.rgb24, raw);
            break;
        case 3:
            ToColour(ctx, ctx.images.rgb32, raw);
            break;
        case 4:
            ToColour(ctx, ctx.images.rgb48, raw);
            break;
        case 5:
            ToColour(ctx, ctx.images.rgb64, raw);
            break;
        default:
            break;
    }

    // 5. Tone filters in place on the output image.
    CDibImage* out = OutputImage(ctx.images, c);
    if (!HasPixels(out)) return;
    const TonePlan plan = PlanToneFilters(ctx, *out);
    if (ctx.fuse_tone_filters) {
        RunFused(ctx, *out, plan);
    } else {
        RunOneByOne(ctx, *out, plan);
    }
}

}  // namespace vimbra
