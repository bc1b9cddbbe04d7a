#include "image/process_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "image/convert.h"
#include "image/demosaic.h"
#include "image/dib_image.h"
#include "image/grey_filter.h"
#include "image/hot_pixel.h"
#include "image/simd.h"
#include "simd_paths.h"

namespace vimbra {
namespace {

namespace fs = filter_slot;
namespace as = analog_slot;

class Recorder : public FrameCallbacks {
  public:
    void AutoIrisStep(CDibImage& raw) override { iris.push_back(&raw); }
    void FilterRecordChanged() override { ++changed; }
    std::vector<CDibImage*> iris;
    int changed = 0;
};

std::vector<uint8_t> Pixels(const CDibImage& image) {
    return {image.bits(), image.bits() + static_cast<size_t>(image.stride()) * image.height()};
}

void Randomise(CDibImage& image, std::mt19937& rng) {
    std::uniform_int_distribution<int> d(0, 255);
    const bool wide = image.bit_count() == 16;
    for (int r = 0; r < image.height(); ++r) {
        uint8_t* p = image.row(r);
        for (int x = 0; x < image.width(); ++x) {
            if (wide) {
                const uint16_t v = static_cast<uint16_t>(d(rng) * 16 + d(rng) % 16);
                std::memcpy(p + 2 * x, &v, 2);
            } else {
                p[x] = static_cast<uint8_t>(d(rng));
            }
        }
    }
}

// A session's worth of images and records for one colour mode.
struct Session {
    static constexpr int kW = 64, kH = 48;
    CDibImage raw8, raw16, rgb24, rgb32, rgb48, rgb64, work;
    std::array<int32_t, fs::kCount> filter{};
    std::array<int32_t, as::kCount> analog{};
    Recorder recorder;
    FilterWorkspace workspace;
    int32_t mode;

    explicit Session(int32_t colour_mode, int w = kW, int h = kH) : mode(colour_mode) {
        const bool deep = mode == 1 || mode == 4 || mode == 5;
        if (deep) {
            raw16.Create(w, h, 16);
        } else {
            raw8.Create(w, h, 8);
        }
        if (mode != 1) rgb24.Create(w, h, 24);
        if (mode == 3) rgb32.Create(w, h, 32);
        if (mode == 4) rgb48.Create(w, h, 48);
        if (mode == 5) rgb64.Create(w, h, 64);
        work.CreateLike(Output());
        filter[fs::kGainRed] = filter[fs::kGainGreen] = filter[fs::kGainBlue] = 100;
        filter[fs::kGamma] = 100;
        filter[fs::kGrayGainR] = filter[fs::kGrayGainG1] = 128;
        filter[fs::kGrayGainG2] = filter[fs::kGrayGainB] = 128;
    }
    CDibImage* Raw() { return mode == 1 || mode == 4 || mode == 5 ? &raw16 : &raw8; }
    CDibImage* Output() { return OutputImage(Images(), mode); }
    FrameImages Images() { return {&raw8, &raw16, &rgb24, &rgb32, &rgb48, &rgb64, &work}; }
    void Process(int32_t subsample = 0) {
        FrameContext ctx{filter, analog, mode, subsample, Images(), &recorder, &workspace};
        ProcessFrame(ctx);
    }
};

// Runs a routine in place through the blit, as the pipeline does.
template <class P>
void InPlace(CDibImage& image, PixelRoutine routine, P params, int32_t* second = nullptr) {
    void* p1 = &params;
    void* p2 = second;
    CDibImage::ConvertBlit(&image, routine, &image, nullptr, 0, 0, &p1, second ? &p2 : nullptr);
}

TEST(ProcessFrame, NeutralBinnedMonoFrameIsUnchanged) {
    Session s(0);
    std::mt19937 rng(1);
    Randomise(s.raw8, rng);
    const auto before = Pixels(s.raw8);
    s.Process(17);
    EXPECT_EQ(Pixels(s.raw8), before);
    EXPECT_TRUE(s.recorder.iris.empty()) << "automatic iris is off";
    // Without binning the hot-pixel repair runs and a random frame changes.
    s.Process(0);
    EXPECT_NE(Pixels(s.raw8), before);
}

TEST(ProcessFrame, GreyFilterOffsetsAloneHaveNoEffect) {
    Session s(0);
    std::mt19937 rng(2);
    Randomise(s.raw8, rng);
    s.filter[fs::kGrayMode] = 1;
    for (int k = 0; k < 4; ++k) s.filter[fs::kGrayOffsetR + k] = 40;
    const auto before = Pixels(s.raw8);
    s.Process(18);
    EXPECT_EQ(Pixels(s.raw8), before);
    // One gain off unity applies gains and offsets to every position.
    s.filter[fs::kGrayGainB] = 129;
    s.Process(18);
    EXPECT_EQ(s.raw8.row(1)[1], std::min(255, before[s.raw8.stride() + 1] + 40));
}

TEST(ProcessFrame, GreyBalanceRequestMeasuresOnceAndReturnsToZero) {
    for (int mode : {0, 1}) {
        Session s(mode);
        CDibImage* raw = s.Raw();
        // Position levels R 100, G1 200, G2 200, B 50 in 8-bit terms (phase 0).
        for (int r = 0; r < raw->height(); ++r) {
            for (int x = 0; x < raw->width(); ++x) {
                const int level = std::array<int, 4>{200, 100, 50, 200}[GreyPositionOf(0, r, x)];
                if (mode == 0) {
                    raw->row(r)[x] = static_cast<uint8_t>(level);
                } else {
                    const uint16_t v = static_cast<uint16_t>(level * 16);
                    std::memcpy(raw->row(r) + 2 * x, &v, 2);
                }
            }
        }
        s.filter[fs::kGrayMode] = 1;
        s.filter[fs::kGreyBalanceRequest] = 1;
        s.Process(17);
        EXPECT_EQ(s.filter[fs::kGreyBalanceRequest], 0);
        EXPECT_EQ(s.filter[fs::kGrayGainR], 256) << mode;
        EXPECT_EQ(s.filter[fs::kGrayGainG1], 128);
        EXPECT_EQ(s.filter[fs::kGrayGainG2], 128);
        EXPECT_EQ(s.filter[fs::kGrayGainB], 512);
        EXPECT_EQ(s.recorder.changed, 1);
        // The new gains already apply to this frame: every position is level.
        const int top = mode == 0 ? 200 : 3200;
        auto sample = [&](int r, int x) {
            if (mode == 0) return static_cast<int>(raw->row(r)[x]);
            uint16_t v;
            std::memcpy(&v, raw->row(r) + 2 * x, 2);
            return static_cast<int>(v);
        };
        EXPECT_EQ(sample(0, 0), top);
        EXPECT_EQ(sample(0, 1), top);
        EXPECT_EQ(sample(1, 0), top);
        // The next frame does not measure again.
        s.Process(17);
        EXPECT_EQ(s.recorder.changed, 1);
        EXPECT_EQ(s.filter[fs::kGreyBalanceRequest], 0);
    }
}

// The grey filter takes the mirror-adjusted phase (hot pixels the Bayer mode
// as set), between the hot-pixel repair and the tone filters.
TEST(ProcessFrame, GreyFilterUsesTheMirrorAdjustedPhase) {
    for (int mode : {0, 1}) {
        Session s(mode);
        std::mt19937 rng(12);
        Randomise(*s.Raw(), rng);
        s.filter[fs::kBayerMode] = 1;
        s.analog[as::kMirrorV] = 1;
        s.analog[as::kMirrorH] = 1;  // phase 1 -> 0 -> 2
        s.filter[fs::kGrayMode] = 1;
        const int32_t gains[4] = {100, 150, 200, 90}, offsets[4] = {3, -4, 5, -6};
        for (int k = 0; k < 4; ++k) {
            s.filter[fs::kGrayGainR + k] = gains[k];
            s.filter[fs::kGrayOffsetR + k] = offsets[k];
        }
        s.filter[fs::kBrightness] = 20;

        Session e(mode);
        CDibImage* raw = e.Raw();
        std::memcpy(raw->bits(), s.Raw()->bits(),
                    static_cast<size_t>(raw->stride()) * raw->height());
        int32_t threshold = mode == 0 ? 30 : 480;
        InPlace(*raw, mode == 0 ? HotPixel8 : HotPixel16, DemosaicParams{1, 100, 100, 100},
                &threshold);
        InPlace(*raw, mode == 0 ? GreyFilter8 : GreyFilter16,
                GreyParams{2, 100, 150, 200, 90, 3, -4, 5, -6, mode == 0 ? 8 : 12});
        InPlace(*raw, mode == 0 ? Brightness8 : Brightness16, ToneParams{20, 12});

        s.Process(0);
        EXPECT_EQ(Pixels(*s.Raw()), Pixels(*raw)) << "colour mode " << mode;
    }
}

TEST(ProcessFrame, ColourToGreyModeGivesTheLuminance) {
    Session s(0);
    std::mt19937 rng(3);
    Randomise(s.raw8, rng);
    CDibImage colour;
    colour.Create(Session::kW, Session::kH, 24);
    ColourSettings cs;
    ConvertToColour(&colour, &s.raw8, cs);
    CDibImage expected;
    expected.Create(Session::kW, Session::kH, 8);
    CDibImage::ConvertBlit(&expected, ColourToGrey, &colour, nullptr, 0, 0, nullptr, nullptr);
    s.filter[fs::kGrayMode] = 2;
    s.Process(17);
    EXPECT_EQ(Pixels(s.raw8), Pixels(expected));

    Session mono16(1);
    Randomise(mono16.raw16, rng);
    const auto before = Pixels(mono16.raw16);
    mono16.filter[fs::kGrayMode] = 2;
    mono16.Process(17);
    EXPECT_EQ(Pixels(mono16.raw16), before) << "16-bit grey has no colour image";
}

TEST(ProcessFrame, Mode3DemosaicsIntoThe32BitImage) {
    Session s(3);
    std::mt19937 rng(4);
    Randomise(s.raw8, rng);
    CDibImage expected;
    expected.Create(Session::kW, Session::kH, 32);
    CDibImage raw;
    raw.Create(Session::kW, Session::kH, 8);
    std::memcpy(raw.bits(), s.raw8.bits(), static_cast<size_t>(raw.stride()) * raw.height());
    ColourSettings cs;
    ConvertToColour(&expected, &raw, cs);
    const auto untouched = Pixels(s.rgb24);
    s.Process(17);
    EXPECT_EQ(Pixels(s.rgb32), Pixels(expected));
    EXPECT_EQ(Pixels(s.rgb24), untouched);
}

TEST(ProcessFrame, AutoIrisRunsFirstOnTheModesRawImage) {
    for (int iris : {0, 1, 2, 3}) {
        Session s(4);
        s.analog[as::kAutoIris] = iris;
        s.Process(17);
        if (iris == 1 || iris == 2) {
            ASSERT_EQ(s.recorder.iris.size(), 1u);
            EXPECT_EQ(s.recorder.iris[0], &s.raw16);
        } else {
            EXPECT_TRUE(s.recorder.iris.empty());
        }
    }
}

TEST(ProcessFrame, AutomaticWhiteBalanceWritesBackAndNotifies) {
    Session s(2);
    // Flat raw of 100 with blue samples at 50 (phase 0: even rows, odd columns).
    for (int r = 0; r < Session::kH; ++r) {
        for (int x = 0; x < Session::kW; ++x)
            s.raw8.row(r)[x] = (r % 2 == 0 && x % 2 == 1) ? 50 : 100;
    }
    s.filter[fs::kGainAuto] = 1;
    s.filter[fs::kBalanceRequest0] = s.filter[fs::kBalanceRequest1] = 1;
    s.Process(17);
    EXPECT_EQ(s.filter[fs::kGainBlue], 200);
    EXPECT_EQ(s.filter[fs::kGainRed], 100);
    EXPECT_EQ(s.filter[fs::kGainAuto], 0);
    EXPECT_EQ(s.filter[fs::kBalanceRequest0], 0);
    EXPECT_EQ(s.recorder.changed, 1);
}

// Every step, in order, with the variant of each colour mode, against the
// same chain of routines called one by one; for several sets of active
// filters, with and without a workspace (steps may then share passes).
TEST(ProcessFrame, RunsTheStepsInOrderForEveryMode) {
    struct Routines {
        PixelRoutine hot, hue, gamma, contrast, sharpen, brightness;
    };
    const Routines by_mode[6] = {
        {HotPixel8, nullptr, Gamma8, Contrast8, Sharpen8, Brightness8},
        {HotPixel16, nullptr, Gamma16, Contrast16, Sharpen16, Brightness16},
        {HotPixel8, HueSatColour8, GammaColour8, ContrastColour8, SharpenColour8,
         BrightnessColour8},
        {HotPixel8, HueSatColour8, GammaColour8, ContrastColour8, SharpenColour8,
         BrightnessColour8},
        {HotPixel16, HueSatColour16, GammaColour16, ContrastColour16, SharpenColour16,
         BrightnessColour16},
        {HotPixel16, HueSatColour16, GammaColour16, ContrastColour16, SharpenColour16,
         BrightnessColour16},
    };
    struct Settings {
        int hue, saturation, gamma, contrast, sharpness, brightness;
    } settings[] = {
        {40, 60, 120, 20, 12, 30},  // everything
        {0, -30, 0, -50, 0, -40},   // gamma 0 and contrast, no sharpness
        {-200, 0, 100, 0, 30, 0},   // sharpness alone
        {0, 0, 150, 0, 5, 200},     // gamma, sharpness and brightness
        {0, 0, 100, 90, 0, 0},      // contrast alone
        {90, 10, 60, 0, 0, 0},      // hue and gamma
        {0, 50, 100, 30, 0, -20},   // saturation, contrast and brightness
    };
    std::mt19937 rng(5);
    for (const Settings& f : settings) {
        for (bool with_workspace : {true, false}) {
            for (int mode = 0; mode < 6; ++mode) {
                Session s(mode);
                Randomise(*s.Raw(), rng);
                s.filter[fs::kHue] = f.hue;
                s.filter[fs::kSaturation] = f.saturation;
                s.filter[fs::kGamma] = f.gamma;
                s.filter[fs::kContrast] = f.contrast;
                s.filter[fs::kSharpness] = f.sharpness;
                s.filter[fs::kBrightness] = f.brightness;
                s.filter[fs::kBayerMode] = 2;
                s.filter[fs::kGainRed] = 120;
                s.filter[fs::kGainGreen] = 0;
                s.filter[fs::kGainBlue] = 90;
                s.analog[as::kMirrorH] = 1;

                // The chain by hand.
                Session e(mode);
                std::memcpy(e.Raw()->bits(), s.Raw()->bits(),
                            static_cast<size_t>(s.Raw()->stride()) * s.Raw()->height());
                const Routines& r = by_mode[mode];
                const bool deep = mode == 1 || mode == 4 || mode == 5;
                int32_t threshold = deep ? 480 : 30;
                InPlace(*e.Raw(), r.hot, DemosaicParams{2, 120, 0, 90}, &threshold);
                CDibImage* out = e.Output();
                if (mode >= 2) {
                    ColourSettings cs;
                    cs.bayer_mode = 2;
                    cs.mirror_h = 1;
                    cs.gain_red = 120;
                    cs.gain_green = 0;
                    cs.gain_blue = 90;
                    ConvertToColour(out, e.Raw(), cs);
                    if (f.hue != 0 || f.saturation != 0) {
                        InPlace(*out, r.hue, HueSatParams{f.hue, 0, f.saturation, 12});
                    }
                }
                if (f.gamma != 100) InPlace(*out, r.gamma, ToneParams{f.gamma, 12});
                if (f.contrast != 0) InPlace(*out, r.contrast, ToneParams{f.contrast, 12});
                if (f.sharpness != 0) {
                    std::memcpy(e.work.bits(), out->bits(),
                                static_cast<size_t>(out->stride()) * out->height());
                    ToneParams sharp{f.sharpness, 12};
                    void* p = &sharp;
                    CDibImage::ConvertBlit(out, r.sharpen, &e.work, nullptr, 0, 0, &p, nullptr);
                }
                if (f.brightness != 0) InPlace(*out, r.brightness, ToneParams{f.brightness, 12});

                FrameContext ctx{s.filter,
                                 s.analog,
                                 mode,
                                 0,
                                 s.Images(),
                                 &s.recorder,
                                 with_workspace ? &s.workspace : nullptr};
                ProcessFrame(ctx);
                EXPECT_EQ(Pixels(*s.Output()), Pixels(*out))
                    << "colour mode " << mode << ", settings " << (&f - settings)
                    << (with_workspace ? "" : ", no workspace");
                if (f.sharpness != 0) {
                    EXPECT_EQ(Pixels(s.work), Pixels(e.work))
                        << "the work image holds the unsharpened frame, mode " << mode;
                }
            }
        }
    }
}

// Tall frames: the copy into the work image and the sharpening are shared
// out over several threads in ranges of rows.
TEST(ProcessFrame, SharpnessOnTallFramesOverSeveralThreads) {
    const int threads = SetDemosaicThreads(0);
    std::mt19937 rng(8);
    // Eight threads on 70 rows: more ranges than rows, some of them empty.
    for (auto [thread_count, height] : {std::pair{3, 301}, std::pair{8, 301}, std::pair{8, 70}}) {
        SetDemosaicThreads(thread_count);
        for (int mode : {0, 2, 3, 5}) {
            for (int brightness : {0, -70}) {
                Session s(mode, 70, height);
                Randomise(*s.Raw(), rng);
                s.filter[fs::kSharpness] = 17;
                s.filter[fs::kBrightness] = brightness;
                Session e(mode, 70, height);
                std::memcpy(e.Raw()->bits(), s.Raw()->bits(),
                            static_cast<size_t>(s.Raw()->stride()) * s.Raw()->height());
                int32_t threshold = mode == 5 ? 480 : 30;
                InPlace(*e.Raw(), mode == 5 ? HotPixel16 : HotPixel8, DemosaicParams{}, &threshold);
                CDibImage* out = e.Output();
                if (mode >= 2) {
                    ColourSettings cs;
                    ConvertToColour(out, e.Raw(), cs);
                }
                std::memcpy(e.work.bits(), out->bits(),
                            static_cast<size_t>(out->stride()) * out->height());
                ToneParams sharp{17, 12};
                void* p = &sharp;
                const PixelRoutine sharpen[6] = {Sharpen8,       Sharpen16,       SharpenColour8,
                                                 SharpenColour8, SharpenColour16, SharpenColour16};
                const PixelRoutine bright[6] = {Brightness8,        Brightness16,
                                                BrightnessColour8,  BrightnessColour8,
                                                BrightnessColour16, BrightnessColour16};
                CDibImage::ConvertBlit(out, sharpen[mode], &e.work, nullptr, 0, 0, &p, nullptr);
                if (brightness != 0) InPlace(*out, bright[mode], ToneParams{brightness, 12});
                s.Process(0);
                EXPECT_EQ(Pixels(*s.Output()), Pixels(*out))
                    << "mode " << mode << " " << brightness << " threads " << thread_count;
                EXPECT_EQ(Pixels(s.work), Pixels(e.work))
                    << "mode " << mode << " " << brightness << " threads " << thread_count;
            }
        }
    }
    SetDemosaicThreads(threads);
}

TEST(ProcessFrame, SharpnessWithoutAMatchingWorkImageIsSkipped) {
    Session s(2), plain(2);
    std::mt19937 rng(6);
    Randomise(s.raw8, rng);
    std::memcpy(plain.raw8.bits(), s.raw8.bits(),
                static_cast<size_t>(s.raw8.stride()) * s.raw8.height());
    s.work.Create(8, 8, 24);  // too small to take a copy of the frame
    s.filter[fs::kSharpness] = 10;
    s.Process(17);
    plain.Process(17);
    EXPECT_EQ(Pixels(s.rgb24), Pixels(plain.rgb24));
}

// The tone filters in shared passes against each in a pass of its own, on
// random frames, sizes (vector tails, frames too small to sharpen, frames
// tall enough to be shared out in ranges), settings and thread counts, on
// every instruction-set path.
using FusedToneFilters = test::SimdPaths;

TEST_P(FusedToneFilters, GiveTheBytesOfOneFilterAtATime) {
    const int threads = SetDemosaicThreads(0);
    std::mt19937 rng(91 + static_cast<int>(GetParam()));
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int trial = 0; trial < 120; ++trial) {
        SetDemosaicThreads(pick(1, 3));
        const int mode = pick(0, 5);
        const int w = pick(0, 5) == 0 ? pick(1, 5) : pick(6, 83);
        // Tall frames are sharpened in several ranges of rows on more threads.
        const int shape = pick(0, 5);
        const int h = shape == 0 ? pick(1, 5) : shape == 1 ? pick(70, 160) : pick(6, 57);
        // Each filter on about two times in three, at any value it takes.
        auto maybe = [&](int off, int lo, int hi) { return pick(0, 2) == 0 ? off : pick(lo, hi); };
        std::array<int32_t, fs::kCount> filter{};
        filter[fs::kHue] = maybe(0, -400, 400);
        filter[fs::kSaturation] = maybe(0, -255, 255);
        filter[fs::kGamma] = maybe(100, 0, 200);
        filter[fs::kContrast] = maybe(0, -127, 127);
        filter[fs::kSharpness] = maybe(0, 1, 30);
        filter[fs::kBrightness] = maybe(0, -255, 255);
        filter[fs::kGainRed] = filter[fs::kGainGreen] = filter[fs::kGainBlue] = 100;
        filter[fs::kGrayGainR] = filter[fs::kGrayGainG1] = 128;
        filter[fs::kGrayGainG2] = filter[fs::kGrayGainB] = 128;
        const bool with_workspace = pick(0, 3) != 0;
        const bool with_work = pick(0, 5) != 0;

        Session fused(mode, w, h), single(mode, w, h);
        Randomise(*fused.Raw(), rng);
        std::memcpy(single.Raw()->bits(), fused.Raw()->bits(),
                    static_cast<size_t>(fused.Raw()->stride()) * fused.Raw()->height());
        for (Session* s : {&fused, &single}) {
            s->filter = filter;
            FrameImages images = s->Images();
            if (!with_work) images.work = nullptr;
            FrameContext ctx{s->filter,
                             s->analog,
                             mode,
                             0,
                             images,
                             nullptr,
                             with_workspace ? &s->workspace : nullptr};
            ctx.fuse_tone_filters = s == &fused;
            ProcessFrame(ctx);
        }
        const std::string what =
            "trial " + std::to_string(trial) + ", mode " + std::to_string(mode) + ", " +
            std::to_string(w) + " x " + std::to_string(h) +
            ", hue/sat/gamma/contrast/sharp/bright " + std::to_string(filter[fs::kHue]) + " " +
            std::to_string(filter[fs::kSaturation]) + " " + std::to_string(filter[fs::kGamma]) +
            " " + std::to_string(filter[fs::kContrast]) + " " +
            std::to_string(filter[fs::kSharpness]) + " " + std::to_string(filter[fs::kBrightness]) +
            (with_workspace ? "" : ", no workspace") + (with_work ? "" : ", no work image");
        ASSERT_EQ(Pixels(*fused.Output()), Pixels(*single.Output())) << what;
        ASSERT_EQ(Pixels(fused.work), Pixels(single.work)) << what;
    }
    SetDemosaicThreads(threads);
}

INSTANTIATE_TEST_SUITE_P(Paths, FusedToneFilters, test::EverySimdPath(), test::SimdPathTestName);

TEST(ProcessFrame, EmptyImagesAndUnknownModesDoNothing) {
    std::array<int32_t, fs::kCount> filter{};
    std::array<int32_t, as::kCount> analog{};
    Recorder recorder;
    for (int mode : {-1, 0, 3, 5, 6}) {
        FrameContext ctx{filter, analog, mode, 0, FrameImages{}, &recorder, nullptr};
        ProcessFrame(ctx);
    }
    EXPECT_TRUE(recorder.iris.empty());
}

}  // namespace
}  // namespace vimbra
