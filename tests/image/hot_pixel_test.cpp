#include "image/hot_pixel.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "filters_test_util.h"
#include "image/demosaic.h"
#include "image/filters.h"
#include "simd_paths.h"

namespace vimbra {
namespace {

using test::Call;
using test::Frame;

// Colour of a sample per phase: 0 blue, 1 green, 2 red.
int ColourAt(int phase, int row, int col) {
    static const int kTable[4][4] = {{1, 0, 2, 1}, {2, 1, 1, 0}, {0, 1, 1, 2}, {1, 2, 0, 1}};
    return kTable[phase][(row & 1) * 2 + (col & 1)];
}

// The demosaic colour at (y, x) found the long way: the four samples of a
// colour nearest to the point (y - 1/2, x - 1/2) with weights 9, 3, 3, 1 by
// distance.
int RefKernel(const Frame& f, int phase, int y, int x, int colour, int factor) {
    int sum = 0;
    for (int r = y - 3; r <= y + 2; ++r) {
        for (int c = x - 3; c <= x + 2; ++c) {
            if (r < 0 || c < 0 || r >= f.height || c >= f.width) continue;
            if (ColourAt(phase, r, c) != colour) continue;
            const double dy = r - (y - 0.5), dx = c - (x - 0.5);
            const double d2 = dy * dy + dx * dx;
            const int weight = d2 < 1 ? 9 : d2 < 3 ? 3 : d2 < 5 ? 1 : 0;
            sum += weight * f.row(r)[c];
        }
    }
    return ((sum * factor) >> 11) & 0xFF;
}

int RefHotPixel8(Frame& f, const DemosaicParams& p, int threshold) {
    const int rf = static_cast<int>(p.red_gain * 1.28), bf = static_cast<int>(p.blue_gain * 1.28);
    int count = 0;
    for (int y = 2; y <= f.height - 3; ++y) {
        for (int x = 2; x <= f.width - 3; ++x) {
            auto s = [&](int r, int c) { return static_cast<int>(f.row(r)[c]); };
            const int avg = (s(y, x - 2) + s(y, x + 2) + s(y - 2, x) + s(y + 2, x)) >> 2;
            if (s(y, x) - avg < threshold) continue;
            int greens = 0;
            for (int r = y - 1; r <= y; ++r) {
                for (int c = x - 1; c <= x; ++c)
                    greens += ColourAt(p.phase, r, c) == 1 ? s(r, c) : 0;
            }
            const int R = RefKernel(f, p.phase, y, x, 2, rf);
            const int B = RefKernel(f, p.phase, y, x, 0, bf);
            const int G = greens >> 1;
            const int n = (std::abs(R - G) > 30) + (std::abs(R - B) > 30) + (std::abs(G - B) > 30);
            if (n >= 2) {
                f.row(y)[x] = static_cast<uint8_t>(avg);
                ++count;
            }
        }
    }
    return count;
}

void RefHotPixel16(Frame& f, int threshold) {
    for (int y = 2; y <= f.height - 3; ++y) {
        for (int x = 2; x <= f.width - 3; ++x) {
            auto s = [&](int r, int c) { return static_cast<int>(f.u16(r, c)); };
            const int avg = (s(y, x - 2) + s(y, x + 2) + s(y - 2, x) + s(y + 2, x)) >> 2;
            if (std::abs(s(y, x) - avg) < threshold) continue;
            bool all = true;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if ((dy || dx) && std::abs(s(y + dy, x + dx) - s(y, x)) < threshold)
                        all = false;
                }
            }
            if (all) f.set16(y, x, 0, static_cast<uint16_t>(avg));
        }
    }
}

using HotPixelPaths = test::SimdPaths;
INSTANTIATE_TEST_SUITE_P(Paths, HotPixelPaths, test::EverySimdPath(), test::SimdPathTestName);

Frame Flat8(int w, int h, uint8_t v) {
    Frame f(w, h, 1);
    std::fill(f.bytes.begin(), f.bytes.end(), v);
    return f;
}

TEST_P(HotPixelPaths, EightBitRepairsTintedOutliersOnly) {
    const DemosaicParams unity{0, 100, 100, 100};
    int32_t threshold = kHotPixelThreshold8;
    struct Case {
        const char* what;
        int surround, red, blue, sample, red_gain;
        int expected;
    } cases[] = {
        // Green sample at (10, 40) of phase 0.
        {"tinted surround: replaced", 100, 250, 20, 200, 100, 100},
        {"neutral surround: kept", 150, 150, 150, 200, 100, 200},
        {"red wraps modulo 256 and looks neutral: kept", 150, 150, 150, 200, 271, 200},
        {"dark outlier: never", 150, 150, 150, 0, 100, 0},
        {"below the threshold: kept", 100, 250, 20, 129, 100, 129},
    };
    for (const Case& c : cases) {
        Frame f(64, 20, 1);
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 64; ++x) {
                const int colour = ColourAt(0, y, x);
                f.row(y)[x] = static_cast<uint8_t>(colour == 2   ? c.red
                                                   : colour == 0 ? c.blue
                                                                 : c.surround);
            }
        }
        f.row(10)[40] = static_cast<uint8_t>(c.sample);
        DemosaicParams p = unity;
        p.red_gain = c.red_gain;
        const int replaced = Call(HotPixel8, f, &p, &threshold);
        EXPECT_EQ(f.row(10)[40], c.expected) << c.what;
        EXPECT_EQ(replaced, c.expected != c.sample ? 1 : 0) << c.what;
    }
}

TEST_P(HotPixelPaths, SixteenBitNeighbourRule) {
    int32_t threshold = kHotPixelThreshold16;
    struct Case {
        const char* what;
        int sample, adjacent;
        int expected;
    } cases[] = {
        {"bright outlier: replaced", 3000, 1000, 1000},
        {"an adjacent sample within the threshold: kept", 3000, 2600, 3000},
        {"dark outlier: replaced", 0, 1000, 1000},
    };
    for (const Case& c : cases) {
        Frame f(48, 12, 2);
        for (int y = 0; y < 12; ++y) {
            for (int x = 0; x < 48; ++x) f.set16(y, x, 0, 1000);
        }
        f.set16(6, 20, 0, static_cast<uint16_t>(c.sample));
        f.set16(5, 21, 0, static_cast<uint16_t>(c.adjacent));
        EXPECT_EQ(Call(HotPixel16, f, static_cast<DemosaicParams*>(nullptr), &threshold), 0);
        EXPECT_EQ(f.u16(6, 20), c.expected) << c.what;
    }
}

// The colour test uses the demosaic's gain factors, which hold a gain to
// 0..400: a gain beyond that acts as 400 (and -5 as 0) instead of overflowing
// the weighted sums.
TEST_P(HotPixelPaths, GainsOutsideTheRangeActAsTheDemosaicsLimits) {
    struct Case {
        int red_gain, acts_as;
    } cases[] = {{2000000000, 400}, {1000000, 400}, {-2000000000, 0}, {-5, 0}};
    for (const Case& c : cases) {
        // A green outlier of 200 among greens of 100 sees green 150; blues of
        // 150 give blue 150 and reds of 37 under gain 400 give red
        // (16 * 37 * 512) >> 11 = 148: neutral, so the outlier is kept. Under
        // gain 0 red is 0 and the outlier is repaired.
        Frame f(40, 12, 1);
        for (int y = 0; y < 12; ++y) {
            for (int x = 0; x < 40; ++x) {
                const int colour = ColourAt(0, y, x);
                f.row(y)[x] = static_cast<uint8_t>(colour == 2 ? 37 : colour == 0 ? 150 : 100);
            }
        }
        f.row(6)[20] = 200;
        Frame expected = f;
        DemosaicParams limit{0, c.acts_as, 100, 100};
        const int want = RefHotPixel8(expected, limit, 30);
        EXPECT_EQ(want, c.acts_as == 0 ? 1 : 0);
        DemosaicParams p{0, c.red_gain, 100, 100};
        EXPECT_EQ(Call(HotPixel8, f, &p), want) << c.red_gain;
        EXPECT_EQ(f, expected) << c.red_gain;
    }
}

TEST(HotPixel, RepairedSamplesFeedLaterTests) {
    // Two hot samples two columns apart: the second sees the first repaired.
    Frame f = Flat8(40, 12, 100);
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 40; ++x) {
            if (ColourAt(0, y, x) == 2) f.row(y)[x] = 250;
            if (ColourAt(0, y, x) == 0) f.row(y)[x] = 20;
        }
    }
    f.row(6)[10] = 230;
    f.row(6)[12] = 230;
    Frame expected = f;
    DemosaicParams p{0, 100, 100, 100};
    const int want = RefHotPixel8(expected, p, 30);
    EXPECT_EQ(Call(HotPixel8, f, &p), want);
    EXPECT_EQ(f, expected);
    // The first becomes (100 + 230 + 100 + 100) / 4 = 132; the second then
    // averages (132 + 100 + 100 + 100) / 4 = 108, not 132 as it would with
    // the unrepaired first.
    EXPECT_EQ(f.row(6)[10], 132);
    EXPECT_EQ(f.row(6)[12], 108);
}

TEST(HotPixel, SmallFramesAreLeftAlone) {
    Frame f = Flat8(4, 30, 10);
    f.row(10)[2] = 255;
    const Frame before = f;
    DemosaicParams p;
    EXPECT_EQ(Call(HotPixel8, f, &p), 0);
    EXPECT_EQ(f, before);
    EXPECT_EQ(Call(HotPixel8, f, static_cast<DemosaicParams*>(nullptr)), 0) << "no parameters";
}

TEST_P(HotPixelPaths, MatchReferenceOnRandomFrames) {
    // The result may not depend on the number of threads the library uses.
    const int threads = SetDemosaicThreads(1);
    std::mt19937 rng(11);
    for (int run = 0; run < 8; ++run) {
        const int phase = run % 4;
        SetDemosaicThreads(run < 4 ? 1 : 3);
        for (auto [w, h] :
             {std::pair{9, 23}, std::pair{70, 23}, std::pair{131, 23}, std::pair{131, 101}}) {
            // Smooth field with sparse outliers of both signs.
            Frame f(w, h, 1), g(w, h, 2);
            // Odd runs strew outliers densely, so that repairs change the
            // tests of the samples after them.
            std::uniform_int_distribution<int> base(40, 200), noise(-6, 6),
                pick(0, run % 2 ? 4 : 40);
            std::uniform_int_distribution<int> spike(0, 255), spike16(0, 4095);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const int colour = ColourAt(phase, y, x);
                    int v = (colour == 2 ? 180 : colour == 0 ? 60 : 120) + noise(rng);
                    if (pick(rng) == 0) v = spike(rng);
                    f.row(y)[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
                    int v16 = base(rng) * 16;
                    if (pick(rng) == 0) v16 = spike16(rng);
                    g.set16(y, x, 0, static_cast<uint16_t>(v16));
                }
            }
            DemosaicParams p{phase, 90 + 20 * phase, 100, 130 - 10 * phase};
            Frame expected = f;
            const int want = RefHotPixel8(expected, p, 30);
            EXPECT_EQ(Call(HotPixel8, f, &p), want) << phase << " " << w;
            EXPECT_EQ(f, expected) << phase << " " << w;
            Frame expected16 = g;
            RefHotPixel16(expected16, 480);
            Call(HotPixel16, g, &p);
            EXPECT_EQ(g, expected16) << phase << " " << w;
        }
    }
    SetDemosaicThreads(threads);
}

TEST(HotPixel, CopiesToAnotherDestinationBeforeRepairing) {
    Frame src = Flat8(16, 16, 100);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            if (ColourAt(0, y, x) == 2) src.row(y)[x] = 250;
            if (ColourAt(0, y, x) == 0) src.row(y)[x] = 20;
        }
    }
    src.row(8)[8] = 200;
    Frame dst(16, 16, 1);
    Frame expected = src;
    DemosaicParams p{0, 100, 100, 100};
    RefHotPixel8(expected, p, 30);
    const Frame before = src;
    EXPECT_EQ(Call(HotPixel8, dst, src, &p), 1);
    EXPECT_EQ(dst, expected);
    EXPECT_EQ(src, before);
}

}  // namespace
}  // namespace vimbra
