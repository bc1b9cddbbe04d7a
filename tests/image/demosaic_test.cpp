#include "image/demosaic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "image/demosaic_reference.h"
#include "image/dib_image.h"
#include "image/simd.h"

namespace vimbra {
namespace {

using test::RefDemosaicPixel;
using test::RefFrame;

// Restores the demosaic's global choices after each test.
class DemosaicTest : public ::testing::Test {
  protected:
    void SetUp() override { saved_ = ActiveSimd(); }
    void TearDown() override {
        SetDemosaicThreads(0);
        SetSimdPath(saved_);
    }

  private:
    SimdPath saved_ = SimdPath::kScalar;
};

uint32_t RawAt(const CDibImage& img, int y, int x) {
    const uint8_t* p = img.row(y) + x * img.bytes_per_pixel();
    return img.bit_count() == 16 ? uint32_t{p[0]} | (uint32_t{p[1]} << 8) : p[0];
}

void SetRaw(CDibImage& img, int y, int x, uint32_t v) {
    uint8_t* p = img.row(y) + x * img.bytes_per_pixel();
    p[0] = static_cast<uint8_t>(v);
    if (img.bit_count() == 16) p[1] = static_cast<uint8_t>(v >> 8);
}

uint32_t OutAt(const CDibImage& img, int y, int x, int channel) {
    int sample = img.bit_count() >= 48 ? 2 : 1;
    const uint8_t* p = img.row(y) + x * img.bytes_per_pixel() + channel * sample;
    return sample == 2 ? uint32_t{p[0]} | (uint32_t{p[1]} << 8) : p[0];
}

RefFrame FrameOf(const CDibImage& raw) {
    RefFrame f;
    f.width = raw.width();
    f.height = raw.height();
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) f.samples.push_back(RawAt(raw, y, x));
    }
    return f;
}

void Demosaic(CDibImage& dst, CDibImage& raw, const DemosaicParams& params) {
    DemosaicParams copy = params;
    void* p = &copy;
    bool deep = raw.bit_count() == 16;
    CDibImage::ConvertBlit(&dst, deep ? DemosaicInner16 : DemosaicInner8, &raw, nullptr, 0, 0, &p,
                           nullptr);
    CDibImage::ConvertBlit(&dst, deep ? DemosaicBorder16 : DemosaicBorder8, &raw, nullptr, 0, 0, &p,
                           nullptr);
}

// Compares every output pixel with the reference, and checks that the fourth
// byte or sample of 32 and 64-bit pixels kept its previous content.
::testing::AssertionResult MatchesReference(const CDibImage& dst, const CDibImage& raw,
                                            const CDibImage& before, const DemosaicParams& p) {
    RefFrame f = FrameOf(raw);
    uint32_t max = raw.bit_count() == 16 ? 4095 : 255;
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            auto ref = RefDemosaicPixel(f, p.phase, p.red_gain, p.blue_gain, max, y, x);
            uint32_t want[3] = {ref.b, ref.g, ref.r};
            for (int c = 0; c < 3; ++c) {
                if (OutAt(dst, y, x, c) != want[c]) {
                    return ::testing::AssertionFailure()
                           << "pixel (" << y << ", " << x << ") channel " << c << ": got "
                           << OutAt(dst, y, x, c) << ", want " << want[c];
                }
            }
            if (dst.bit_count() == 32 || dst.bit_count() == 64) {
                if (OutAt(dst, y, x, 3) != OutAt(before, y, x, 3)) {
                    return ::testing::AssertionFailure()
                           << "fourth channel written at (" << y << ", " << x << ")";
                }
            }
        }
    }
    return ::testing::AssertionSuccess();
}

void FillRandom(CDibImage& img, std::mt19937& rng, uint32_t mask) {
    for (int y = 0; y < img.height(); ++y) {
        uint8_t* row = img.row(y);
        for (int i = 0; i < img.stride(); ++i) row[i] = static_cast<uint8_t>(rng());
        if (img.bit_count() == 16) {
            for (int x = 0; x < img.width(); ++x) SetRaw(img, y, x, RawAt(img, y, x) & mask);
        }
    }
}

struct Size {
    int width;
    int height;
};

// Every size, phase, gain set, output depth and code path against the
// reference, on random frames. 16-bit frames use all 16 bits as well as 12,
// so that the clamps and the sums at their largest are covered.
TEST_F(DemosaicTest, FastPathsEqualReferenceOnRandomFrames) {
    const Size sizes[] = {{5, 5}, {6, 7}, {9, 6}, {36, 8}, {37, 9}, {67, 12}, {70, 13}, {131, 6}};
    const DemosaicParams gains[] = {
        {0, 100, 100, 100}, {0, 137, 100, 61}, {0, 400, 0, 0}, {0, 0, 250, 333}};
    const auto paths = AvailableSimdPaths();
    std::mt19937 rng(42);
    for (int raw_bits : {8, 16}) {
        const uint16_t outs[2] = {static_cast<uint16_t>(raw_bits == 8 ? 24 : 48),
                                  static_cast<uint16_t>(raw_bits == 8 ? 32 : 64)};
        for (uint16_t out_bits : outs) {
            for (Size size : sizes) {
                CDibImage raw, dst, before;
                ASSERT_EQ(raw.Create(size.width, size.height, static_cast<uint16_t>(raw_bits)), 1);
                ASSERT_EQ(dst.Create(size.width, size.height, out_bits), 1);
                ASSERT_EQ(before.Create(size.width, size.height, out_bits), 1);
                for (uint32_t mask : {0x0FFFu, 0xFFFFu}) {
                    if (raw_bits == 8 && mask == 0xFFFF) continue;
                    FillRandom(raw, rng, mask);
                    for (int phase = 0; phase < 4; ++phase) {
                        for (DemosaicParams p : gains) {
                            p.phase = phase;
                            for (SimdPath path : paths) {
                                SetSimdPath(path);
                                FillRandom(dst, rng, 0xFFFF);
                                std::memcpy(before.bits(), dst.bits(),
                                            static_cast<size_t>(dst.stride()) * dst.height());
                                Demosaic(dst, raw, p);
                                ASSERT_TRUE(MatchesReference(dst, raw, before, p))
                                    << raw_bits << " -> " << out_bits << " bits, " << size.width
                                    << " x " << size.height << ", phase " << phase << ", gains "
                                    << p.red_gain << "/" << p.blue_gain << ", mask " << mask
                                    << ", path " << static_cast<int>(path);
                            }
                        }
                    }
                }
            }
        }
    }
}

// Rows split over threads give the same picture as one thread.
TEST_F(DemosaicTest, ThreadsGiveTheSamePicture) {
    std::mt19937 rng(7);
    for (int raw_bits : {8, 16}) {
        CDibImage raw, dst, before;
        ASSERT_EQ(raw.Create(301, 203, static_cast<uint16_t>(raw_bits)), 1);
        ASSERT_EQ(dst.Create(301, 203, raw_bits == 8 ? 24 : 64), 1);
        ASSERT_EQ(before.Create(301, 203, raw_bits == 8 ? 24 : 64), 1);
        FillRandom(raw, rng, 0xFFF);
        for (int threads : {1, 2, 3, 0}) {
            SetDemosaicThreads(threads);
            DemosaicParams p{2, 120, 100, 90};
            Demosaic(dst, raw, p);
            ASSERT_TRUE(MatchesReference(dst, raw, before, p)) << threads << " threads";
        }
    }
}

// Two sessions converting at the same time share the row pool; each gets
// its own, correct picture.
TEST_F(DemosaicTest, ConcurrentCallersGetTheirOwnPictures) {
    SetDemosaicThreads(0);
    std::mt19937 rng(11);
    CDibImage raw[2], out[2], before;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(raw[i].Create(160, 120, 8), 1);
        ASSERT_EQ(out[i].Create(160, 120, 24), 1);
        FillRandom(raw[i], rng, 0xFF);
    }
    ASSERT_EQ(before.Create(160, 120, 24), 1);
    const DemosaicParams params[2] = {{0, 100, 100, 100}, {3, 150, 100, 70}};
    std::thread other([&] {
        for (int k = 0; k < 20; ++k) Demosaic(out[1], raw[1], params[1]);
    });
    for (int k = 0; k < 20; ++k) Demosaic(out[0], raw[0], params[0]);
    other.join();
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(MatchesReference(out[i], raw[i], before, params[i]));
}

// A source rectangle with odd edges placed inside a larger destination: the
// phase counts from the rectangle's first row and column, and the picture
// lands at the clipped position, nothing else of the destination changes.
TEST_F(DemosaicTest, SubRectangleAtAnOffset) {
    std::mt19937 rng(5);
    for (SimdPath path : AvailableSimdPaths()) {
        SetSimdPath(path);
        CDibImage raw, dst;
        ASSERT_EQ(raw.Create(80, 20, 8), 1);
        ASSERT_EQ(dst.Create(90, 30, 32), 1);
        FillRandom(raw, rng, 0xFF);
        FillRandom(dst, rng, 0xFF);
        std::vector<uint8_t> before(dst.bits(), dst.bits() + dst.stride() * dst.height());
        // GDI rectangle (3, 2)-(77, 17) at (5, 4): memory rows 3..17 and
        // columns 3..76 of the source, written from memory row 30 - 19 = 11,
        // column 5 of the destination.
        Rect rect{3, 2, 77, 17};
        DemosaicParams params{1, 120, 100, 80};
        void* p = &params;
        ASSERT_EQ(CDibImage::ConvertBlit(&dst, DemosaicInner8, &raw, &rect, 5, 4, &p, nullptr), 1);
        ASSERT_EQ(CDibImage::ConvertBlit(&dst, DemosaicBorder8, &raw, &rect, 5, 4, &p, nullptr), 1);
        RefFrame f;
        f.width = 74;
        f.height = 15;
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) f.samples.push_back(RawAt(raw, 3 + y, 3 + x));
        }
        for (int y = 0; y < dst.height(); ++y) {
            for (int x = 0; x < dst.width(); ++x) {
                const uint8_t* got = dst.row(y) + 4 * x;
                const uint8_t* old = before.data() + y * dst.stride() + 4 * x;
                int fy = y - 11, fx = x - 5;
                if (fy < 0 || fy >= f.height || fx < 0 || fx >= f.width) {
                    ASSERT_EQ(std::memcmp(got, old, 4), 0)
                        << "outside written at " << y << "," << x;
                    continue;
                }
                auto ref = RefDemosaicPixel(f, 1, 120, 80, 255, fy, fx);
                ASSERT_EQ(got[0], ref.b) << fy << "," << fx;
                ASSERT_EQ(got[1], ref.g) << fy << "," << fx;
                ASSERT_EQ(got[2], ref.r) << fy << "," << fx;
                ASSERT_EQ(got[3], old[3]);
            }
        }
    }
}

// Rectangles too small for the interior pass, down to one sample, are
// converted by the border pass without reading or writing outside.
TEST_F(DemosaicTest, TinyPicturesStayInside) {
    for (int w = 1; w <= 5; ++w) {
        for (int h = 1; h <= 5; ++h) {
            CDibImage raw, dst;
            ASSERT_EQ(raw.Create(w, h, 8), 1);
            ASSERT_EQ(dst.Create(w, h, 24), 1);
            std::memset(raw.bits(), 80, static_cast<size_t>(raw.stride()) * h);
            Demosaic(dst, raw, DemosaicParams{1, 100, 100, 100});
            EXPECT_EQ(OutAt(dst, h - 1, w - 1, 1), 80u) << w << " x " << h;
        }
    }
}

// The phase-0 kernel written out for an output pixel on an even row and an
// even column: green from s(y, x) and s(y-1, x-1); red from the odd rows at
// columns x and x-2; blue from the even rows at columns x-1 and x+1. Checked
// on every such interior pixel of a random frame, on every code path.
TEST_F(DemosaicTest, PhaseZeroKernelOnEvenRowsAndColumns) {
    std::mt19937 rng(17);
    CDibImage raw, dst;
    ASSERT_EQ(raw.Create(72, 12, 8), 1);
    ASSERT_EQ(dst.Create(72, 12, 24), 1);
    FillRandom(raw, rng, 0xFF);
    const int red_factor = 175, blue_factor = 78;  // trunc(137 * 1.28), trunc(61 * 1.28)
    for (SimdPath path : AvailableSimdPaths()) {
        SetSimdPath(path);
        Demosaic(dst, raw, DemosaicParams{0, 137, 100, 61});
        auto s = [&](int y, int x) { return static_cast<int>(RawAt(raw, y, x)); };
        for (int y = 2; y <= 12 - 3; y += 2) {
            for (int x = 2; x <= 72 - 3; x += 2) {
                int green = (s(y, x) + s(y - 1, x - 1)) >> 1;
                int red =
                    ((9 * s(y - 1, x) + 3 * s(y - 1, x - 2) + 3 * s(y + 1, x) + s(y + 1, x - 2)) *
                     red_factor) >>
                    11;
                int blue =
                    ((9 * s(y, x - 1) + 3 * s(y - 2, x - 1) + 3 * s(y, x + 1) + s(y - 2, x + 1)) *
                     blue_factor) >>
                    11;
                ASSERT_EQ(OutAt(dst, y, x, 1), static_cast<uint32_t>(green)) << y << "," << x;
                ASSERT_EQ(OutAt(dst, y, x, 2), static_cast<uint32_t>(std::min(red, 255)))
                    << y << "," << x;
                ASSERT_EQ(OutAt(dst, y, x, 0), static_cast<uint32_t>(std::min(blue, 255)))
                    << y << "," << x;
            }
        }
    }
}

TEST_F(DemosaicTest, FlatFrameUnderUnityGainsStaysFlat) {
    CDibImage raw, dst;
    ASSERT_EQ(raw.Create(16, 12, 8), 1);
    ASSERT_EQ(dst.Create(16, 12, 24), 1);
    std::memset(raw.bits(), 80, static_cast<size_t>(raw.stride()) * raw.height());
    Demosaic(dst, raw, DemosaicParams{0, 100, 100, 100});
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 16; ++x) {
            for (int c = 0; c < 3; ++c) ASSERT_EQ(OutAt(dst, y, x, c), 80u) << y << "," << x;
        }
    }
}

// Red samples of 255 everywhere: gain 101 (factor 129) overflows a byte and is
// clamped to 255; gain 100 reaches 255 exactly; gain 0 gives 0.
TEST_F(DemosaicTest, RedGainClampsAndZeroes) {
    struct Case {
        int red_gain;
        uint32_t red;
    };
    for (Case c : {Case{101, 255}, Case{100, 255}, Case{0, 0}}) {
        for (SimdPath path : AvailableSimdPaths()) {
            SetSimdPath(path);
            CDibImage raw, dst;
            ASSERT_EQ(raw.Create(40, 8, 8), 1);
            ASSERT_EQ(dst.Create(40, 8, 32), 1);
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 40; ++x) {
                    SetRaw(raw, y, x, test::RefColour(0, y, x) == 'R' ? 255 : 10);
                }
            }
            Demosaic(dst, raw, DemosaicParams{0, c.red_gain, 100, 100});
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 40; ++x) {
                    ASSERT_EQ(OutAt(dst, y, x, 2), c.red) << "gain " << c.red_gain;
                    ASSERT_EQ(OutAt(dst, y, x, 0), 10u);
                }
            }
        }
    }
}

TEST_F(DemosaicTest, SixteenBitFullScaleStaysAt4095) {
    CDibImage raw, dst;
    ASSERT_EQ(raw.Create(40, 10, 16), 1);
    ASSERT_EQ(dst.Create(40, 10, 48), 1);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 40; ++x) SetRaw(raw, y, x, 4095);
    }
    Demosaic(dst, raw, DemosaicParams{3, 100, 100, 100});
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 40; ++x) {
            for (int c = 0; c < 3; ++c) ASSERT_EQ(OutAt(dst, y, x, c), 4095u);
        }
    }
    // Larger gains and samples beyond 12 bits never exceed 4095.
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 40; ++x) SetRaw(raw, y, x, 65535);
    }
    Demosaic(dst, raw, DemosaicParams{3, 400, 100, 400});
    for (int c = 0; c < 3; ++c) EXPECT_EQ(OutAt(dst, 5, 20, c), 4095u);
}

TEST(BayerPhase, MirrorsSwapRowsThenColumns) {
    struct Case {
        int mode, mirror_h, mirror_v, phase;
    };
    const Case cases[] = {{0, 0, 0, 0}, {0, 0, 1, 1}, {0, 1, 1, 3}, {0, 1, 0, 2},
                          {1, 0, 1, 0}, {2, 0, 1, 3}, {3, 1, 0, 1}, {2, 1, 1, 1}};
    for (const Case& c : cases) {
        EXPECT_EQ(EffectivePhase(c.mode, c.mirror_h, c.mirror_v), c.phase)
            << c.mode << " " << c.mirror_h << " " << c.mirror_v;
    }
}

TEST(BayerPhase, GainFactors) {
    EXPECT_EQ(GainFactor(100), 128);
    EXPECT_EQ(GainFactor(101), 129);
    EXPECT_EQ(GainFactor(0), 0);
    EXPECT_EQ(GainFactor(400), 512);
    // Out-of-range gains are held to 0..400.
    EXPECT_EQ(GainFactor(-5), 0);
    EXPECT_EQ(GainFactor(100000), 512);
}

// A phase-0 frame whose greens, blues and reds have the given values.
void FillByColour(CDibImage& raw, int phase, uint32_t green, uint32_t blue, uint32_t red) {
    for (int y = 0; y < raw.height(); ++y) {
        for (int x = 0; x < raw.width(); ++x) {
            char c = test::RefColour(phase, y, x);
            SetRaw(raw, y, x, c == 'G' ? green : c == 'B' ? blue : red);
        }
    }
}

TEST(WhiteBalance, MeasuredGainsAndCap) {
    struct Case {
        uint32_t green, blue, red;
        int measured_blue, measured_red;  // what the measurement itself gives
        int gain_blue, gain_red;          // after the cap at 400
    };
    const Case cases[] = {{100, 50, 100, 200, 100, 200, 100},
                          {100, 50, 50, 199, 199, 199, 199},
                          {100, 50, 20, 200, 500, 200, 400}};
    for (int bits : {8, 16}) {
        for (const Case& c : cases) {
            CDibImage raw, dst;
            ASSERT_EQ(raw.Create(20, 10, static_cast<uint16_t>(bits)), 1);
            ASSERT_EQ(dst.Create(20, 10, bits == 8 ? 24 : 48), 1);
            // Mode 0 with the vertical mirror measures with phase 1.
            FillByColour(raw, 1, c.green, c.blue, c.red);
            BalanceParams result;
            result.phase = 1;
            void* mp = &result;
            EXPECT_EQ(CDibImage::ConvertBlit(&raw, bits == 8 ? MeasureBalance8 : MeasureBalance16,
                                             &raw, nullptr, 0, 0, &mp, nullptr),
                      1);
            EXPECT_EQ(result.blue, c.measured_blue) << bits;
            EXPECT_EQ(result.green, 100) << bits;
            EXPECT_EQ(result.red, c.measured_red) << bits;
            ColourSettings s;
            s.mirror_v = 1;
            s.gain_auto = 1;
            bool measured = false;
            EXPECT_EQ(ConvertToColour(&dst, &raw, s, &measured), 1);
            EXPECT_TRUE(measured);
            EXPECT_EQ(s.gain_blue, c.gain_blue) << bits;
            EXPECT_EQ(s.gain_red, c.gain_red) << bits;
            EXPECT_EQ(s.gain_green, 100);
            EXPECT_EQ(s.gain_auto, 1);  // stays on without a one-shot request
        }
    }
}

TEST(WhiteBalance, OneShotRequestMeasuresOnce) {
    CDibImage raw, dst;
    ASSERT_EQ(raw.Create(20, 10, 8), 1);
    ASSERT_EQ(dst.Create(20, 10, 24), 1);
    FillByColour(raw, 0, 100, 50, 100);
    ColourSettings s;
    s.gain_auto = 1;
    s.balance_request[0] = 1;
    s.balance_request[1] = 1;
    ConvertToColour(&dst, &raw, s);
    EXPECT_EQ(s.gain_blue, 200);
    EXPECT_EQ(s.gain_auto, 0);
    EXPECT_EQ(s.balance_request[0], 0);
    EXPECT_EQ(s.balance_request[1], 0);
    // The measured gain is applied to the same frame: blue 50 doubled.
    EXPECT_EQ(OutAt(dst, 5, 5, 0), 100u);
}

// Black or single-colour rectangles give no ratio; the gains stay neutral
// instead of dividing by zero.
TEST(WhiteBalance, MissingColourGivesNeutralGains) {
    CDibImage raw;
    ASSERT_EQ(raw.Create(8, 8, 8), 1);
    for (Rect r : {Rect{0, 0, 8, 8}, Rect{0, 0, 1, 1}, Rect{0, 0, 8, 1}}) {
        BalanceParams b;
        void* p = &b;
        MeasureBalance8(nullptr, raw.bits(), r, 0, 0, 0, 1, 0, raw.stride(), &p, nullptr);
        EXPECT_EQ(b.blue, 100);
        EXPECT_EQ(b.red, 100);
    }
}

// A measurement handed an image of the other sample size reads only what the
// image holds and gives neutral gains, as the demosaic refuses such images.
TEST(WhiteBalance, WrongSampleSizeGivesNeutralGains) {
    struct Case {
        PixelRoutine routine;
        uint16_t bits;
    };
    for (Case c : {Case{MeasureBalance16, 8}, Case{MeasureBalance8, 16}}) {
        CDibImage raw;
        ASSERT_EQ(raw.Create(64, 4, c.bits), 1);  // stride = whole row, no padding
        FillByColour(raw, 0, 90, 30, 60);
        BalanceParams b;
        void* p = &b;
        EXPECT_EQ(CDibImage::ConvertBlit(&raw, c.routine, &raw, nullptr, 0, 0, &p, nullptr), 1);
        EXPECT_EQ(b.blue, 100) << c.bits;
        EXPECT_EQ(b.green, 100) << c.bits;
        EXPECT_EQ(b.red, 100) << c.bits;
    }
}

// ConvertToColour uses the mirrored phase: mode 0 with both mirrors is phase 3.
TEST(ConvertToColourTest, UsesEffectivePhase) {
    std::mt19937 rng(3);
    CDibImage raw, a, b;
    ASSERT_EQ(raw.Create(24, 10, 16), 1);
    ASSERT_EQ(a.Create(24, 10, 64), 1);
    ASSERT_EQ(b.Create(24, 10, 64), 1);
    FillRandom(raw, rng, 0xFFF);
    ColourSettings s;
    s.mirror_h = 1;
    s.mirror_v = 1;
    s.gain_red = 150;
    ConvertToColour(&a, &raw, s);
    Demosaic(b, raw, DemosaicParams{3, 150, 100, 100});
    EXPECT_EQ(std::memcmp(a.bits(), b.bits(), static_cast<size_t>(a.stride()) * a.height()), 0);
}

// Wrong pixel sizes and missing parameters leave the destination alone.
TEST(DemosaicArguments, RefusedWithoutWriting) {
    CDibImage raw8, raw16, out24;
    ASSERT_EQ(raw8.Create(16, 16, 8), 1);
    ASSERT_EQ(raw16.Create(16, 16, 16), 1);
    ASSERT_EQ(out24.Create(16, 16, 24), 1);
    std::memset(raw8.bits(), 200, static_cast<size_t>(raw8.stride()) * 16);
    DemosaicParams params;
    void* p = &params;
    EXPECT_EQ(CDibImage::ConvertBlit(&out24, DemosaicInner16, &raw16, nullptr, 0, 0, &p, nullptr),
              1);
    EXPECT_EQ(
        CDibImage::ConvertBlit(&out24, DemosaicInner8, &raw8, nullptr, 0, 0, nullptr, nullptr), 1);
    for (int i = 0; i < out24.stride() * 16; ++i) ASSERT_EQ(out24.bits()[i], 0);
}

}  // namespace
}  // namespace vimbra
