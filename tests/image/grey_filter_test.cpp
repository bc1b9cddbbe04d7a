#include "image/grey_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "filters_test_util.h"
#include "image/demosaic.h"
#include "simd_paths.h"

namespace vimbra {
namespace {

using test::Call;
using test::Frame;

TEST(GreyFilter, PositionClassesFollowThePhase) {
    // Classes of (row 0, col 0), (0, 1), (1, 0), (1, 1) per phase.
    const GreyPosition expected[4][4] = {
        {kGreyG1, kGreyR, kGreyB, kGreyG2},
        {kGreyB, kGreyG2, kGreyG1, kGreyR},
        {kGreyR, kGreyG1, kGreyG2, kGreyB},
        {kGreyG2, kGreyB, kGreyR, kGreyG1},
    };
    for (int phase = 0; phase < 4; ++phase) {
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(GreyPositionOf(phase, i / 2, i % 2), expected[phase][i]) << phase << " " << i;
            EXPECT_EQ(GreyPositionOf(phase, i / 2 + 2, i % 2 + 4), expected[phase][i]);
        }
    }
}

TEST(GreyFilter, GainAndOffsetCases) {
    struct Case {
        int gain, offset, in, out;
    } cases[] = {{128, -10, 5, 0},  {128, -10, 100, 90}, {255, 0, 200, 255},
                 {64, 0, 201, 100}, {128, 255, 10, 255}, {0, 7, 200, 7}};
    for (const Case& c : cases) {
        // Every class gets the same values, so each sample shows the rule.
        GreyParams p{0, c.gain, c.gain, c.gain, c.gain, c.offset, c.offset, c.offset, c.offset, 8};
        Frame f(3, 2, 1);
        std::fill(f.bytes.begin(), f.bytes.end(), static_cast<uint8_t>(c.in));
        EXPECT_EQ(Call(GreyFilter8, f, &p), 1);
        EXPECT_EQ(f.u8(1, 2), c.out) << c.gain << " " << c.offset << " " << c.in;
    }
}

TEST(GreyFilter, EachPositionGetsItsOwnValues) {
    for (int phase = 0; phase < 4; ++phase) {
        GreyParams p{phase, 128, 64, 256, 32, 1, 2, 3, 4, 12};
        Frame f(4, 4, 2), g(4, 4, 1);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                f.set16(y, x, 0, 1000);
                g.u8(y, x) = 100;
            }
        }
        Call(GreyFilter16, f, &p);
        p.bit_depth = 8;
        Call(GreyFilter8, g, &p);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                int want16 = 0, want8 = 0;
                switch (GreyPositionOf(phase, y, x)) {
                    case kGreyR:
                        want16 = 1 + 1000, want8 = 1 + 100;
                        break;
                    case kGreyG1:
                        want16 = 2 + 500, want8 = 2 + 50;
                        break;
                    case kGreyG2:
                        want16 = 3 + 2000, want8 = 3 + 200;
                        break;
                    case kGreyB:
                        want16 = 4 + 250, want8 = 4 + 25;
                        break;
                }
                EXPECT_EQ(f.u16(y, x), want16) << phase << " " << y << " " << x;
                EXPECT_EQ(g.u8(y, x), want8) << phase << " " << y << " " << x;
            }
        }
    }
}

TEST(GreyFilter, SixteenBitClampsToTheDepth) {
    GreyParams p{0, 255, 255, 255, 255, 0, 0, 0, 0, 12};
    Frame f(2, 1, 2);
    f.set16(0, 0, 0, 4000);
    f.set16(0, 1, 0, 65535);
    Call(GreyFilter16, f, &p);
    EXPECT_EQ(f.u16(0, 0), 4095);
    EXPECT_EQ(f.u16(0, 1), 4095);
    p.bit_depth = 10;
    p.offset_g1 = -2000;
    f.set16(0, 0, 0, 100);
    Call(GreyFilter16, f, &p);
    EXPECT_EQ(f.u16(0, 0), 0);
    EXPECT_EQ(GreyMaxValue(14), 16383);
    EXPECT_EQ(GreyMaxValue(9), 65535);
}

// A frame whose four position classes have the given levels (phase 0).
Frame ClassFrame(int w, int h, int r, int g1, int g2, int b, int bpp) {
    Frame f(w, h, bpp);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int v = 0;
            switch (GreyPositionOf(0, y, x)) {
                case kGreyR:
                    v = r;
                    break;
                case kGreyG1:
                    v = g1;
                    break;
                case kGreyG2:
                    v = g2;
                    break;
                case kGreyB:
                    v = b;
                    break;
            }
            if (bpp == 1) {
                f.u8(y, x) = static_cast<uint8_t>(v);
            } else {
                f.set16(y, x, 0, static_cast<uint16_t>(v));
            }
        }
    }
    return f;
}

TEST(MeasureGrey, GainsLevelThePositions) {
    for (int depth : {8, 12}) {
        Frame f = ClassFrame(8, 6, 100, 200, 200, 50, depth == 8 ? 1 : 2);
        GreyParams p;
        p.bit_depth = depth;
        EXPECT_EQ(Call(MeasureGrey, f, &p), 1);
        EXPECT_EQ(p.gain_r, 256);
        EXPECT_EQ(p.gain_g1, 128);
        EXPECT_EQ(p.gain_g2, 128);
        EXPECT_EQ(p.gain_b, 512);
    }
}

TEST(MeasureGrey, IgnoresSaturatedAndCountsNoBlack) {
    // Red: 100, 0 (adds nothing, not counted) and 255 (ignored): mean 100.
    Frame f = ClassFrame(4, 4, 100, 200, 200, 100, 1);
    f.u8(0, 1) = 0;
    f.u8(2, 1) = 100;
    f.u8(0, 3) = 255;
    f.u8(2, 3) = 100;
    GreyParams p;
    Call(MeasureGrey, f, &p);
    EXPECT_EQ(p.gain_r, 256);
    EXPECT_EQ(p.gain_b, 256);
}

TEST(MeasureGrey, DegenerateFramesChangeNothing) {
    struct Case {
        const char* what;
        int level;
        int bpp, depth;
    } cases[] = {{"all black", 0, 1, 8},
                 {"all saturated 8-bit", 255, 1, 8},
                 {"all saturated 12-bit", 4095, 2, 12},
                 {"all black 16-bit", 0, 2, 12}};
    for (const Case& c : cases) {
        Frame f = ClassFrame(6, 4, c.level, c.level, c.level, c.level, c.bpp);
        GreyParams p{0, 1, 2, 3, 4, 5, 6, 7, 8, c.depth};
        EXPECT_EQ(Call(MeasureGrey, f, &p), 1);
        EXPECT_EQ(p.gain_r, 1) << c.what;
        EXPECT_EQ(p.gain_g1, 2) << c.what;
        EXPECT_EQ(p.gain_g2, 3) << c.what;
        EXPECT_EQ(p.gain_b, 4) << c.what;
    }
    // One class missing entirely: a single row has no B or G2 samples.
    Frame row = ClassFrame(8, 1, 10, 20, 30, 40, 1);
    GreyParams p;
    Call(MeasureGrey, row, &p);
    EXPECT_EQ(p.gain_r, 128);
    EXPECT_EQ(p.gain_b, 128);
}

using GreyPaths = test::SimdPaths;
INSTANTIATE_TEST_SUITE_P(Paths, GreyPaths, test::EverySimdPath(), test::SimdPathTestName);

// The filter on random frames wide enough for the vector loops and a tail,
// every phase, against the formula per sample; gains outside 0..32767 and
// far offsets take the exact 64-bit route.
TEST_P(GreyPaths, FilterMatchesFormulaOnRandomFrames) {
    std::mt19937 rng(3);
    const GreyParams settings[] = {
        {0, 128, 128, 128, 128, 0, 0, 0, 0, 12},
        {1, 200, 90, 300, 17, -40, 5, 900, -3, 12},
        {2, 32767, 0, 1, 64, 7, -7, 1 << 30, -(1 << 30), 14},
        {3, -5, 40000, 128, 2000000000, 0, 3, 2000000000, -2000000000, 16},
    };
    for (GreyParams p : settings) {
        for (int bytes : {1, 2}) {
            p.bit_depth = bytes == 1 ? 8 : p.bit_depth;
            const int max_value = bytes == 1 ? 255 : GreyMaxValue(p.bit_depth);
            Frame f(77, 3, bytes);
            if (bytes == 1) {
                test::Fill8(f, rng);
            } else {
                test::Fill16(f, rng, 65536);
            }
            Frame expected = f;
            const int32_t gains[4] = {p.gain_g1, p.gain_r, p.gain_b, p.gain_g2};
            const int32_t offsets[4] = {p.offset_g1, p.offset_r, p.offset_b, p.offset_g2};
            for (int y = 0; y < f.height; ++y) {
                for (int x = 0; x < f.width; ++x) {
                    const int c = GreyPositionOf(p.phase, y, x);
                    const int64_t in = bytes == 1 ? f.u8(y, x) : f.u16(y, x);
                    const auto out = static_cast<int>(std::clamp<int64_t>(
                        offsets[c] + int64_t{gains[c]} * in / 128, 0, max_value));
                    if (bytes == 1) {
                        expected.u8(y, x) = static_cast<uint8_t>(out);
                    } else {
                        expected.set16(y, x, 0, static_cast<uint16_t>(out));
                    }
                }
            }
            EXPECT_EQ(Call(bytes == 1 ? GreyFilter8 : GreyFilter16, f, &p), 1);
            EXPECT_EQ(f, expected) << "phase " << p.phase << " bytes " << bytes;
        }
    }
}

// The grey and colour balance measurements on random frames with black and
// saturated samples strewn in give what the scalar path gives.
TEST_P(GreyPaths, MeasurementsEqualScalarPathOnRandomFrames) {
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> pick(0, 9);
    for (int bytes : {1, 2}) {
        for (int width : {1, 31, 70, 133}) {
            Frame f(width, 5, bytes);
            const int max_value = bytes == 1 ? 255 : 4095;
            if (bytes == 1) {
                test::Fill8(f, rng);
            } else {
                test::Fill16(f, rng, 65536);
            }
            for (int y = 0; y < f.height; ++y) {
                for (int x = 0; x < width; ++x) {
                    const int k = pick(rng);
                    if (k > 1) continue;
                    if (bytes == 1) {
                        f.u8(y, x) = static_cast<uint8_t>(k == 0 ? 0 : max_value);
                    } else {
                        f.set16(y, x, 0, static_cast<uint16_t>(k == 0 ? 0 : max_value));
                    }
                }
            }
            auto measure = [&](int phase) {
                GreyParams grey{phase, 1, 2, 3, 4, 0, 0, 0, 0, bytes == 1 ? 8 : 12};
                Call(MeasureGrey, f, &grey);
                BalanceParams balance{0, 0, 0, phase};
                Call(bytes == 1 ? MeasureBalance8 : MeasureBalance16, f, &balance);
                return std::vector<int32_t>{grey.gain_r,  grey.gain_g1,  grey.gain_g2, grey.gain_b,
                                            balance.blue, balance.green, balance.red};
            };
            for (int phase = 0; phase < 4; ++phase) {
                const auto vector = measure(phase);
                const SimdPath path = ActiveSimd();
                SetSimdPath(SimdPath::kScalar);
                const auto scalar = measure(phase);
                SetSimdPath(path);
                EXPECT_EQ(vector, scalar) << "width " << width << " bytes " << bytes;
            }
        }
    }
}

}  // namespace
}  // namespace vimbra
