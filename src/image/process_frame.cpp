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
    void* workspace = ctx.workspace;
    const bool hue_sat = c >= 2 && (ctx.filter[fs::kHue] != 0 || ctx.filter[fs::kSaturation] != 0);
    const bool gamma = ctx.filter[fs::kGamma] != 100;
    const bool contrast = ctx.filter[fs::kContrast] != 0;
    const bool sharpen = ctx.filter[fs::kSharpness] != 0;
    const bool brightness = ctx.filter[fs::kBrightness] != 0;
    const bool wide = c == 1 || c >= 4;
    FilterWorkspace* ws = ctx.workspace;
    alignas(64) uint8_t table8[256];
    alignas(64) uint8_t second8[256];
    const HueSatParams hs{ctx.filter[fs::kHue], 0, ctx.filter[fs::kSaturation], kToneDepth};
    // Gamma and contrast are tables per sample. With a workspace for the
    // 16-bit tables they become one composed table, applied in the pass of
    // hue and saturation when that runs, else in a pass of its own.
    if ((gamma || contrast) && ws != nullptr && (hue_sat || (gamma && contrast))) {
        SampleTable table;
        if (wide) {
            uint16_t* first = ws->table16();
            uint16_t* second = ws->table16b();
            if (gamma) {
                BuildToneTable16(ToneKind::kGamma, ctx.filter[fs::kGamma], kToneDepth, first);
            }
            if (contrast) {
                BuildToneTable16(ToneKind::kContrast, ctx.filter[fs::kContrast], kToneDepth,
                                 gamma ? second : first);
            }
            if (gamma && contrast) {
                for (size_t i = 0; i < kToneTable16Size; ++i) first[i] = second[first[i]];
            }
            table.table16 = first;
        } else {
            if (gamma) {
                BuildToneTable8(c == 0 ? ToneKind::kGamma : ToneKind::kGammaColour8,
                                ctx.filter[fs::kGamma], table8);
            }
            if (contrast) {
                BuildToneTable8(ToneKind::kContrast, ctx.filter[fs::kContrast],
                                gamma ? second8 : table8);
            }
            if (gamma && contrast) {
                for (uint8_t& v : table8) v = second8[v];
            }
            table.table8 = table8;
        }
        if (hue_sat) {
            HueSatTableParams p{hs, table};
            RunInPlace(out, c <= 3 ? HueSatTableColour8 : HueSatTableColour16, &p);
        } else {
            RunInPlace(out, kApplyTable.by_mode[c], &table);
        }
    } else {
        if (hue_sat) {
            HueSatParams p = hs;
            RunInPlace(out, c <= 3 ? HueSatColour8 : HueSatColour16, &p, workspace);
        }
        if (gamma) {
            ToneParams p{ctx.filter[fs::kGamma], kToneDepth};
            RunInPlace(out, kGamma.by_mode[c], &p, workspace);
        }
        if (contrast) {
            ToneParams p{ctx.filter[fs::kContrast], kToneDepth};
            RunInPlace(out, kContrast.by_mode[c], &p, workspace);
        }
    }
    // Sharpness through the work image, then brightness; with a workspace the
    // brightness table is applied as the sharpened samples are written.
    bool brightness_done = false;
    if (sharpen) {
        CDibImage* work = ctx.images.work;
        // The work image must hold a copy of exactly this frame.
        if (HasPixels(work) && work->stride() == out->stride() && work->height() == out->height() &&
            work->bit_count() == out->bit_count()) {
            // The copy of stride x height bytes into the work image is made row
            // by row as the filter goes (same bytes, one pass fewer).
            SharpenTableParams p;
            p.sharpen = ToneParams{ctx.filter[fs::kSharpness], kToneDepth};
            const bool fuse_brightness =
                brightness && ws != nullptr && out->width() > 4 && out->height() > 4;
            if (fuse_brightness) {
                if (wide) {
                    // Computed per sample: cheaper than a lookup in a 16-bit table.
                    p.brightness = ctx.filter[fs::kBrightness];
                } else {
                    BuildToneTable8(ToneKind::kBrightness, ctx.filter[fs::kBrightness], table8);
                    p.table.table8 = table8;
                }
            }
            SharpenFrameFromCopy(out->bits(), work->bits(), out->width(), out->height(),
                                 out->stride(), out->bytes_per_pixel(), c >= 2, p, ws);
            if (fuse_brightness) {
                // The two outer rows and columns are not sharpened; they
                // still get the brightness.
                BrightnessBorder(ctx, out, c);
                brightness_done = true;
            }
        }
    }
    if (brightness && !brightness_done) {
        ToneParams p{ctx.filter[fs::kBrightness], kToneDepth};
        RunInPlace(out, kBrightness.by_mode[c], &p, workspace);
    }
}

}  // namespace vimbra
