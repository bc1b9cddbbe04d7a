#include "image/filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <iterator>
#include <thread>

#include "filters_test_util.h"
#include "image/demosaic.h"
#include "simd_paths.h"

namespace vimbra {
namespace {

using test::Call;
using test::Frame;

// ---------------------------------------------------------------------------
// Scalar references, written the plain way: one table or one formula per
// sample, no shortcuts.

int RefBrightness(int s, int value, int max_value) {
    double f = 1.0;
    if (value > 0) f = 1.0 + value * 0.0392156862745098;
    if (value < 0) f = 1.0 - std::abs(value) * 0.00392156862745098;
    const float factor = static_cast<float>(f);
    const int out = static_cast<int>(s * factor);
    return std::clamp(out, 0, max_value);
}

std::vector<int> RefContrastTable8(int c) {
    std::vector<int> t(256);
    for (int i = 0; i < 256; ++i) {
        if (i < c) {
            t[i] = 0;
        } else if (i > 255 - c) {
            t[i] = 255;
        } else {
            t[i] = static_cast<int>(256.0 / (256 - 2 * c) * (i - c));
        }
    }
    return t;
}

std::vector<int> RefContrastTable16(int value, int depth) {
    const int n = 1 << depth;
    const int c = value * (1 << (depth - 8));
    std::vector<int> t(n);
    for (int i = 0; i < n; ++i) {
        if (c > n / 2 - 1) {
            t[i] = 0;
        } else if (i < c) {
            t[i] = 0;
        } else if (i > n - c - 1) {
            t[i] = n - 1;
        } else {
            t[i] = static_cast<int>(static_cast<double>(n) / (n - 2 * c) * (i - c));
        }
    }
    return t;
}

double RefExponent(int value) {
    return value > 100 ? (value - 100) / 10.0 + 1 : value / 100.0;
}

std::vector<int> RefGammaTable8(int value, bool clamp) {
    double e = RefExponent(value);
    if (clamp) e = std::clamp(e, 0.001, 99.999);
    std::vector<int> t(256);
    for (int i = 0; i < 256; ++i) t[i] = static_cast<int>(std::pow(i / 255.0, e) * 255);
    return t;
}

std::vector<int> RefGammaTable16(int value, int depth) {
    const double e = RefExponent(value);
    const int n = 1 << depth;
    std::vector<int> t(n);
    for (int i = 0; i < n; ++i)
        t[i] = static_cast<int>(std::pow(static_cast<double>(i) / n, e) * (n - 1));
    return t;
}

int LookUp(const std::vector<int>& t, int s) {
    return s < static_cast<int>(t.size()) ? t[s] : t.back();
}

// Applies a per-sample function to channels 0..channels-1 of every pixel.
void RefPerSample(Frame& f, int channels, bool wide, const std::function<int(int)>& fn) {
    for (int r = 0; r < f.height; ++r) {
        for (int x = 0; x < f.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                if (wide) {
                    f.set16(r, x, c, static_cast<uint16_t>(fn(f.u16(r, x, c))));
                } else {
                    f.u8(r, x, c) = static_cast<uint8_t>(fn(f.u8(r, x, c)));
                }
            }
        }
    }
}

// The unsharp mask in its two passes: blur into the frame, then sharpen from
// the unfiltered copy.
void RefSharpen(Frame& f, int channels, bool wide, int value, int max_value) {
    const Frame work = f;
    auto get = [&](const Frame& g, int r, int x, int c) {
        return wide ? g.u16(r, x, c) : g.row(r)[x * g.bpp + c];
    };
    auto put = [&](int r, int x, int c, int v) {
        if (wide) {
            f.set16(r, x, c, static_cast<uint16_t>(v));
        } else {
            f.u8(r, x, c) = static_cast<uint8_t>(v);
        }
    };
    if (f.width <= 4) return;
    std::vector<int> table(2 * (max_value + 1));
    for (int d = -max_value; d <= max_value + 1; ++d) table[d + max_value] = value * d / 10;
    for (int y = 2; y <= f.height - 3; ++y) {
        for (int x = 2; x <= f.width - 3; ++x) {
            for (int c = 0; c < channels; ++c) {
                int sum = 0;
                for (int dy = -2; dy <= 1; ++dy) {
                    for (int dx = -2; dx <= 1; ++dx) sum += get(work, y + dy, x + dx, c);
                }
                put(y, x, c, sum >> 4);
            }
        }
    }
    for (int y = 2; y <= f.height - 3; ++y) {
        for (int x = 2; x <= f.width - 3; ++x) {
            for (int c = 0; c < channels; ++c) {
                const int s = get(work, y, x, c);
                const int out = s + table[s - get(f, y, x, c) + max_value];
                put(y, x, c, std::clamp(out, 0, max_value));
            }
        }
    }
}

// Integer HSL hue and saturation with its tables built the way the filter
// describes them: grey, reciprocal, saturation and lightness tables.
struct RefHueSatTables {
    int32_t grey[256], recip[256], sat[256];
    int32_t lsum[512], limit[512];
    explicit RefHueSatTables(int saturation) {
        for (int k = 0; k < 256; ++k) {
            grey[k] = 0x010101 * k;
            recip[k] = k ? 0xFF0000 / k : 0;
            sat[k] = (((saturation + 256) * 256) * k + 0x8000) >> 16;
        }
        for (int i = 0; i < 512; ++i) {
            lsum[i] = i;
            limit[i] = i < 256 ? i : 511 - i;
        }
    }
};

int RefHueOffset(int hue) {
    int p = static_cast<int>(static_cast<int64_t>(hue) * 65536 / 360);
    p = ((p % 65536) + 65536) % 65536;
    const int q = (p * 6) >> 8;
    const int k = ((q + 256) >> 9) % 3;
    int r = q % 512;
    if (r >= 256) r -= 512;
    int offset = r + 510 * k;
    if (offset < 0) offset += 1530;
    if (offset > 1529) offset -= 1530;
    return offset;
}

void RefHueSatPixel(int& B, int& G, int& R, int offset, const RefHueSatTables& t) {
    static const int32_t mask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0xFF00, 0xFFFF, 0xFF};
    static const int32_t step[6] = {-1, 256, -65536, 1, -256, 65536};
    int hi, lo, base, num, max;
    if (R >= G) {
        hi = R, lo = G, base = 1, num = G - B;
    } else {
        hi = G, lo = R, base = 3, num = B - R;
    }
    if (B > hi) {
        max = B, base = 5, num = R - G;
    } else {
        max = hi;
    }
    const int min = std::min(B, lo);
    const int d = max - min, sum = max + min;
    if (num < 0) base -= 1, num += d;
    const int chroma = std::min(t.limit[sum], t.sat[d]);
    const int new_sum = t.lsum[sum];
    const int new_min = (new_sum - chroma) >> 1;
    const int span = ((new_sum + chroma) >> 1) - new_min;
    int out = t.grey[new_min];
    if (d > 0) {
        int frac = ((num * t.recip[d] + 0x8000) >> 16) + offset % 255;
        int sector = base + offset / 255;
        if (frac >= 255) frac -= 255, sector += 1;
        sector %= 6;
        out += (t.grey[span] & mask[sector]) + ((span * frac + 128) >> 8) * step[sector];
    }
    B = out & 0xFF, G = (out >> 8) & 0xFF, R = (out >> 16) & 0xFF;
}

void RefHueSat(Frame& f, bool wide, int hue, int saturation) {
    const RefHueSatTables t(saturation);
    const int offset = RefHueOffset(hue);
    for (int r = 0; r < f.height; ++r) {
        for (int x = 0; x < f.width; ++x) {
            if (wide) {
                // Samples above 12 bits are held at the brightest 8-bit level.
                int b = std::min(f.u16(r, x, 0) >> 4, 255), g = std::min(f.u16(r, x, 1) >> 4, 255),
                    rr = std::min(f.u16(r, x, 2) >> 4, 255);
                RefHueSatPixel(b, g, rr, offset, t);
                f.set16(r, x, 0, static_cast<uint16_t>(b << 4));
                f.set16(r, x, 1, static_cast<uint16_t>(g << 4));
                f.set16(r, x, 2, static_cast<uint16_t>(rr << 4));
            } else {
                int b = f.u8(r, x, 0), g = f.u8(r, x, 1), rr = f.u8(r, x, 2);
                RefHueSatPixel(b, g, rr, offset, t);
                f.u8(r, x, 0) = static_cast<uint8_t>(b);
                f.u8(r, x, 1) = static_cast<uint8_t>(g);
                f.u8(r, x, 2) = static_cast<uint8_t>(rr);
            }
        }
    }
}

// Runs every test body once on each instruction-set path.
using FilterPaths = test::SimdPaths;
INSTANTIATE_TEST_SUITE_P(Paths, FilterPaths, test::EverySimdPath(), test::SimdPathTestName);

// One pixel through an 8-bit routine.
int One8(PixelRoutine routine, int value, int sample) {
    Frame f(1, 1, 1);
    f.u8(0, 0) = static_cast<uint8_t>(sample);
    ToneParams p{value, 12};
    EXPECT_EQ(Call(routine, f, &p), 1);
    return f.u8(0, 0);
}

// ---------------------------------------------------------------------------
// Worked values.

TEST(ToneFilters, WorkedValues) {
    struct Case {
        const char* what;
        PixelRoutine routine;
        int value, in, out;
    } cases[] = {
        {"brightness +51 triples", Brightness8, 51, 20, 60},
        {"brightness -255 blacks out", Brightness8, -255, 200, 0},
        {"brightness +255 clamps", Brightness8, 255, 100, 255},
        {"contrast +100 low cut", Contrast8, 100, 100, 0},
        {"contrast +100 stretch", Contrast8, 100, 155, 251},
        {"contrast +100 high cut", Contrast8, 100, 156, 255},
        {"contrast +100 middle", Contrast8, 100, 128, 128},
        {"contrast -127 black", Contrast8, -127, 0, 63},
        {"contrast -127 white", Contrast8, -127, 255, 191},
        {"gamma 200 (exponent 11)", Gamma8, 200, 200, 17},
        {"gamma 0 grey turns black white", Gamma8, 0, 0, 255},
        {"gamma 0 colour keeps black", GammaColour8, 0, 0, 0},
        {"gamma 50", Gamma8, 50, 64, 127},
    };
    for (const Case& c : cases) {
        if (c.routine == GammaColour8) {
            Frame f(1, 1, 3);
            ToneParams p{c.value, 12};
            Call(c.routine, f, &p);
            EXPECT_EQ(f.u8(0, 0, 0), c.out) << c.what;
        } else {
            EXPECT_EQ(One8(c.routine, c.value, c.in), c.out) << c.what;
        }
    }
    EXPECT_FLOAT_EQ(BrightnessFactor(51), 3.0f);
    EXPECT_DOUBLE_EQ(GammaExponent(110), 2.0);
    EXPECT_DOUBLE_EQ(GammaExponent(200), 11.0);
}

// Values far outside the setters' range follow the same formula rather than
// overflowing it: 256 / (256 - 2c) * (i - c) with c = -2^31 lies just below
// 128 for i < 128 and at or above it from there.
TEST(ToneFilters, ContrastOfAnyValueFollowsTheFormula) {
    struct Case {
        int value, in, out;
    } cases[] = {{INT32_MIN, 0, 127},   {INT32_MIN, 127, 127}, {INT32_MIN, 128, 128},
                 {INT32_MIN, 255, 128}, {-1000, 0, 113},       {-1000, 255, 142},
                 {INT32_MAX, 255, 0},   {128, 127, 0},         {128, 128, 255}};
    for (const Case& c : cases) {
        EXPECT_EQ(One8(Contrast8, c.value, c.in), c.out) << c.value << " " << c.in;
    }
}

TEST(ToneFilters, SixteenBitClampsAndTableEnd) {
    Frame f(4, 1, 2);
    f.set16(0, 0, 0, 4095);
    f.set16(0, 1, 0, 5000);  // above 12 bits
    f.set16(0, 2, 0, 1000);
    f.set16(0, 3, 0, 0);
    ToneParams bright{255, 12};
    Call(Brightness16, f, &bright);
    EXPECT_EQ(f.u16(0, 0), 4095);
    EXPECT_EQ(f.u16(0, 1), 4095);
    EXPECT_EQ(f.u16(0, 2), 4095);
    EXPECT_EQ(f.u16(0, 3), 0);

    f.set16(0, 1, 0, 60000);
    f.set16(0, 2, 0, 2048);
    ToneParams contrast{10, 12};
    Call(Contrast16, f, &contrast);
    EXPECT_EQ(f.u16(0, 1), 4095) << "samples past the table map to its last level";
    EXPECT_EQ(f.u16(0, 2), 2048);

    f.set16(0, 1, 0, 60000);
    ToneParams gamma{0, 12};
    Call(Gamma16, f, &gamma);
    EXPECT_EQ(f.u16(0, 1), 4095);
    EXPECT_EQ(f.u16(0, 3), 4095) << "exponent 0 without clamp: pow(0, 0) = 1";
}

TEST(ToneFilters, MissingParametersChangeNothing) {
    Frame f(8, 8, 3);
    std::mt19937 rng(1);
    test::Fill8(f, rng);
    const Frame before = f;
    const Rect r{0, 0, 8, 8};
    for (PixelRoutine routine : {Brightness8, BrightnessColour8, Contrast16, GammaColour16,
                                 SharpenColour8, HueSatColour8}) {
        EXPECT_EQ(routine(f.bytes.data(), f.bytes.data(), r, 0, 0, 3, 3, f.stride, f.stride,
                          nullptr, nullptr),
                  0);
    }
    EXPECT_EQ(f, before);
}

TEST(Sharpness, SingleBrightPixel) {
    Frame f(9, 9, 1), work(9, 9, 1);
    work.u8(4, 4) = 100;
    f = work;
    ToneParams p{10, 12};
    EXPECT_EQ(Call(Sharpen8, f, work, &p), 1);
    EXPECT_EQ(f.u8(4, 4), 194);
    EXPECT_EQ(f.u8(3, 3), 0) << "a neighbour whose box holds the bright pixel goes to 0 - 6";
    EXPECT_EQ(f.u8(5, 5), 0);
}

TEST(Sharpness, BordersAndNarrowFramesKeepTheirValues) {
    std::mt19937 rng(7);
    for (int w : {4, 5, 9}) {
        Frame f(w, 7, 3);
        test::Fill8(f, rng);
        const Frame work = f;
        ToneParams p{30, 12};
        Call(SharpenColour8, f, work, &p);
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < w; ++x) {
                const bool border = y < 2 || y > 4 || x < 2 || x > w - 3;
                if (border || w <= 4) {
                    for (int c = 0; c < 3; ++c) {
                        EXPECT_EQ(f.u8(y, x, c), work.row(y)[x * 3 + c])
                            << w << " " << y << " " << x;
                    }
                }
            }
        }
    }
}

TEST(HueSaturation, HueOffsets) {
    struct Case {
        int hue, offset;
    } cases[] = {{120, 509}, {60, 255}, {360, 0}, {-360, 0}, {0, 0}, {-120, 1020}, {1, 4}};
    for (const Case& c : cases) {
        EXPECT_EQ(HueOffset(c.hue), c.offset) << c.hue;
        EXPECT_EQ(HueOffset(c.hue), RefHueOffset(c.hue)) << c.hue;
    }
}

TEST_P(FilterPaths, HueSaturationWorkedPixels) {
    struct Case {
        int hue, saturation;
        int in[3], out[3];  // B, G, R
    } cases[] = {
        {120, 0, {0, 0, 255}, {0, 255, 2}},      {60, 0, {0, 0, 255}, {0, 255, 255}},
        {0, -255, {0, 0, 255}, {127, 127, 128}}, {0, 255, {100, 100, 150}, {75, 75, 175}},
        {90, 200, {80, 80, 80}, {80, 80, 80}},  // grey stays grey
    };
    for (const Case& c : cases) {
        // Enough pixels for the vector path to take them, in 24 and 32-bit.
        for (int bpp : {3, 4}) {
            Frame f(40, 2, bpp);
            for (int y = 0; y < 2; ++y) {
                for (int x = 0; x < 40; ++x) {
                    for (int k = 0; k < 3; ++k) f.u8(y, x, k) = static_cast<uint8_t>(c.in[k]);
                    if (bpp == 4) f.u8(y, x, 3) = 0x5A;
                }
            }
            HueSatParams p{c.hue, 0, c.saturation, 12};
            ASSERT_EQ(Call(HueSatColour8, f, &p), 1);
            for (int x : {0, 17, 39}) {
                EXPECT_EQ(f.u8(1, x, 0), c.out[0])
                    << c.hue << "/" << c.saturation << " bpp " << bpp;
                EXPECT_EQ(f.u8(1, x, 1), c.out[1]) << c.hue << "/" << c.saturation;
                EXPECT_EQ(f.u8(1, x, 2), c.out[2]) << c.hue << "/" << c.saturation;
                if (bpp == 4) {
                    EXPECT_EQ(f.u8(1, x, 3), 0x5A);
                }
            }
        }
    }
    // 48-bit red turns green with the same 8-bit precision.
    Frame f(20, 1, 6);
    for (int x = 0; x < 20; ++x) f.set16(0, x, 2, 4095);
    HueSatParams p{120, 0, 0, 12};
    Call(HueSatColour16, f, &p);
    for (int x : {0, 19}) {
        EXPECT_EQ(f.u16(0, x, 0), 0);
        EXPECT_EQ(f.u16(0, x, 1), 4080);
        EXPECT_EQ(f.u16(0, x, 2), 32);
    }
}

// ---------------------------------------------------------------------------
// Every variant against its reference on random frames, with odd widths, both
// pixel sizes of each depth, and values across the range.

struct Variant {
    const char* name;
    PixelRoutine routine;
    int bpp;       // bytes per pixel of the frame
    int channels;  // samples changed per pixel
    bool wide;     // 16-bit samples
};

enum class Kind { kBrightness, kContrast, kGamma };

void CheckTone(Kind kind, const Variant& v, int value, Frame f) {
    Frame expected = f;
    const int max_value = v.wide ? 4095 : 255;
    std::vector<int> table;
    if (kind == Kind::kContrast)
        table = v.wide ? RefContrastTable16(value, 12) : RefContrastTable8(value);
    if (kind == Kind::kGamma) {
        table =
            v.wide ? RefGammaTable16(value, 12) : RefGammaTable8(value, v.routine == GammaColour8);
    }
    RefPerSample(expected, v.channels, v.wide, [&](int s) {
        return kind == Kind::kBrightness ? RefBrightness(s, value, max_value) : LookUp(table, s);
    });
    ToneParams p{value, 12};
    FilterWorkspace ws;
    Frame with_ws = f;
    ASSERT_EQ(Call(v.routine, f, &p), 1);
    EXPECT_EQ(f, expected) << v.name << " value " << value;
    Call(v.routine, with_ws, &p, &ws);
    EXPECT_EQ(with_ws, expected) << v.name << " value " << value << " with workspace";
}

Frame RandomFrame(const Variant& v, int w, int h, std::mt19937& rng, int limit16 = 4096) {
    Frame f(w, h, v.bpp);
    if (v.wide) {
        test::Fill16(f, rng, limit16);
    } else {
        test::Fill8(f, rng);
    }
    return f;
}

TEST_P(FilterPaths, ToneFiltersMatchReferenceOnRandomFrames) {
    std::mt19937 rng(42);
    const Variant brightness[] = {{"Brightness8", Brightness8, 1, 1, false},
                                  {"BrightnessColour8/24", BrightnessColour8, 3, 3, false},
                                  {"BrightnessColour8/32", BrightnessColour8, 4, 3, false},
                                  {"Brightness16", Brightness16, 2, 1, true},
                                  {"BrightnessColour16/48", BrightnessColour16, 6, 3, true},
                                  {"BrightnessColour16/64", BrightnessColour16, 8, 3, true}};
    const Variant contrast[] = {{"Contrast8", Contrast8, 1, 1, false},
                                {"ContrastColour8/24", ContrastColour8, 3, 3, false},
                                {"ContrastColour8/32", ContrastColour8, 4, 3, false},
                                {"Contrast16", Contrast16, 2, 1, true},
                                {"ContrastColour16/48", ContrastColour16, 6, 3, true},
                                {"ContrastColour16/64", ContrastColour16, 8, 3, true}};
    const Variant gamma[] = {{"Gamma8", Gamma8, 1, 1, false},
                             {"GammaColour8/24", GammaColour8, 3, 3, false},
                             {"GammaColour8/32", GammaColour8, 4, 3, false},
                             {"Gamma16", Gamma16, 2, 1, true},
                             {"GammaColour16/48", GammaColour16, 6, 3, true},
                             {"GammaColour16/64", GammaColour16, 8, 3, true}};
    for (const Variant& v : brightness) {
        for (int value : {-255, -100, -1, 1, 7, 51, 255}) {
            CheckTone(Kind::kBrightness, v, value, RandomFrame(v, 67, 5, rng));
        }
    }
    for (const Variant& v : contrast) {
        for (int value : {-127, -50, -1, 1, 64, 100, 127}) {
            CheckTone(Kind::kContrast, v, value, RandomFrame(v, 67, 5, rng));
        }
    }
    for (const Variant& v : gamma) {
        for (int value : {0, 1, 50, 99, 101, 150, 200}) {
            CheckTone(Kind::kGamma, v, value, RandomFrame(v, 67, 5, rng));
        }
    }
}

TEST_P(FilterPaths, SharpenMatchesReferenceOnRandomFrames) {
    std::mt19937 rng(5);
    const Variant variants[] = {{"Sharpen8", Sharpen8, 1, 1, false},
                                {"SharpenColour8/24", SharpenColour8, 3, 3, false},
                                {"SharpenColour8/32", SharpenColour8, 4, 3, false},
                                {"Sharpen16", Sharpen16, 2, 1, true},
                                {"SharpenColour16/48", SharpenColour16, 6, 3, true},
                                {"SharpenColour16/64", SharpenColour16, 8, 3, true}};
    for (const Variant& v : variants) {
        for (int value : {1, 10, 30}) {
            for (int w : {6, 71}) {
                Frame f = RandomFrame(v, w, 9, rng);
                const Frame work = f;
                Frame expected = f;
                RefSharpen(expected, v.channels, v.wide, value, v.wide ? 4095 : 255);
                ToneParams p{value, 12};
                FilterWorkspace ws;
                ASSERT_EQ(Call(v.routine, f, work, &p, &ws), 1);
                EXPECT_EQ(f, expected) << v.name << " value " << value << " width " << w;
            }
        }
    }
}

// The hue and saturation routines in every pixel layout they take.
const Variant kHueSatVariants[] = {{"HueSatColour8/24", HueSatColour8, 3, 3, false},
                                   {"HueSatColour8/32", HueSatColour8, 4, 3, false},
                                   {"HueSatColour16/48", HueSatColour16, 6, 3, true},
                                   {"HueSatColour16/64", HueSatColour16, 8, 3, true}};

TEST_P(FilterPaths, HueSatMatchesReferenceOnRandomFrames) {
    std::mt19937 rng(9);
    const int settings[][2] = {{0, 0},    {120, 0}, {-360, 0}, {45, -255}, {-200, 255},
                               {300, 17}, {0, 128}, {359, -1}, {-1, -100}};
    for (const Variant& v : kHueSatVariants) {
        for (const auto& s : settings) {
            Frame f = RandomFrame(v, 53, 4, rng);
            Frame expected = f;
            RefHueSat(expected, v.wide, s[0], s[1]);
            HueSatParams p{s[0], 0, s[1], 12};
            ASSERT_EQ(Call(v.routine, f, &p), 1);
            EXPECT_EQ(f, expected) << v.name << " hue " << s[0] << " saturation " << s[1];
        }
    }
}

// Every pair of fraction numerator and chroma (channels lo, lo + num and
// lo + d in a random order), then every order of three channels with ties
// among dark, middle and bright levels, then random pixels. 16-bit samples
// carry noise below the 8 bits the filter keeps, and the brightest level
// comes as samples of 12 bits or more.
Frame HueSatEdgeFrame(const Variant& v, std::mt19937& rng) {
    std::vector<std::array<int, 3>> pixels;
    for (int d = 0; d < 256; ++d) {
        for (int num = 0; num <= d; ++num) {
            const int lo = std::uniform_int_distribution<int>(0, 255 - d)(rng);
            std::array<int, 3> p{lo, lo + num, lo + d};
            std::shuffle(p.begin(), p.end(), rng);
            pixels.push_back(p);
        }
    }
    const int levels[] = {0, 1, 2, 127, 128, 129, 253, 254, 255};
    for (int b : levels) {
        for (int g : levels) {
            for (int r : levels) pixels.push_back({b, g, r});
        }
    }
    // Not a multiple of the vector widths, so every row has a scalar tail.
    const int w = 163;
    Frame f = RandomFrame(v, w, static_cast<int>((pixels.size() + w - 1) / w), rng);
    std::uniform_int_distribution<int> noise(0, 15), bright(4080, 65535);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const int y = static_cast<int>(i) / w, x = static_cast<int>(i) % w;
        for (int c = 0; c < 3; ++c) {
            const int s = pixels[i][c];
            if (!v.wide) {
                f.u8(y, x, c) = static_cast<uint8_t>(s);
            } else {
                f.set16(y, x, c,
                        static_cast<uint16_t>(s == 255 ? bright(rng) : s << 4 | noise(rng)));
            }
        }
    }
    return f;
}

// Every hue sector offset with the offset inside the sector at 0, 254 and
// between, against the saturation's extremes and its rounding steps; in
// place, and into another frame whose fourth samples must stay.
TEST_P(FilterPaths, HueSatMatchesReferenceOnEveryFractionAndOrder) {
    std::mt19937 rng(21);
    const int hues[] = {0,   1,   2,   59,  60,  61,  119, 120, 121,  180, 239,
                        240, 241, 299, 300, 358, 359, -1,  -60, -121, 541, 100000};
    const int saturations[] = {-255, -254, -128, -1, 0, 1, 127, 128, 254, 255, -400, 400};
    const int n = static_cast<int>(std::size(saturations));
    for (const Variant& v : kHueSatVariants) {
        const Frame source = HueSatEdgeFrame(v, rng);
        for (int i = 0; i < static_cast<int>(std::size(hues)); ++i) {
            for (int saturation : {saturations[i % n], saturations[(i + 7) % n]}) {
                Frame expected = source;
                // Saturations beyond +-255 act as the extremes.
                RefHueSat(expected, v.wide, hues[i], std::clamp(saturation, -255, 255));
                Frame f = source;
                HueSatParams p{hues[i], 0, saturation, 12};
                ASSERT_EQ(Call(v.routine, f, &p), 1);
                ASSERT_EQ(f, expected)
                    << v.name << " hue " << hues[i] << " saturation " << saturation;
            }
        }
        // Into another frame: the three channels are written, the rest kept.
        Frame out = RandomFrame(v, source.width, source.height, rng);
        Frame filtered = source;
        RefHueSat(filtered, v.wide, 200, -30);
        Frame expected = out;
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    if (v.wide) {
                        expected.set16(y, x, c, filtered.u16(y, x, c));
                    } else {
                        expected.u8(y, x, c) = filtered.u8(y, x, c);
                    }
                }
            }
        }
        HueSatParams p{200, 0, -30, 12};
        ASSERT_EQ(Call(v.routine, out, source, &p), 1);
        EXPECT_EQ(out, expected) << v.name << " into another frame";
    }
}

TEST(HueSaturation, SixteenBitSamplesAboveTwelveBitsSaturate) {
    Frame f(1, 1, 6);
    f.set16(0, 0, 0, 65535);  // blue far above 12 bits
    HueSatParams p{0, 0, 0, 12};
    Call(HueSatColour16, f, &p);
    EXPECT_LE(f.u16(0, 0, 0), 4080);
    EXPECT_LE(f.u16(0, 0, 1), 4080);
}

TEST(Sharpness, SixteenBitSamplesAboveTheDepthStayInRange) {
    Frame f(8, 8, 2);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) f.set16(y, x, 0, (x + y) % 2 ? 65535 : 0);
    }
    const Frame work = f;
    ToneParams p{30, 12};
    Call(Sharpen16, f, work, &p);
    for (int y = 2; y < 6; ++y) {
        for (int x = 2; x < 6; ++x) EXPECT_LE(f.u16(y, x), 4095);
    }
}

// Two sessions filter at once with different saturation values: each must
// get exactly what it gets alone.
TEST(HueSaturation, ConcurrentSessionsDoNotDisturbEachOther) {
    std::mt19937 rng(3);
    Frame source(160, 40, 3);
    test::Fill8(source, rng);
    const int saturations[2] = {-200, 180};
    Frame expected[2] = {source, source};
    for (int i = 0; i < 2; ++i) RefHueSat(expected[i], false, 30, saturations[i]);
    std::atomic<int> mismatches{0};
    auto session = [&](int i) {
        FilterWorkspace ws;
        for (int n = 0; n < 60; ++n) {
            Frame f = source;
            HueSatParams p{30, 0, saturations[i], 12};
            Call(HueSatColour8, f, &p, &ws);
            if (!(f == expected[i])) ++mismatches;
        }
    };
    std::thread a(session, 0), b(session, 1);
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(ToneFilters, RectangleAndDestinationOffsetsAreHonoured) {
    // Brightness on a sub-rectangle copied to another place of the frame.
    Frame f(10, 6, 3);
    std::mt19937 rng(2);
    test::Fill8(f, rng);
    Frame expected = f;
    const Rect r{1, 1, 5, 3};  // columns 1..4, rows 1..2
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            for (int c = 0; c < 3; ++c) {
                expected.u8(3 + y, 6 + x, c) =
                    static_cast<uint8_t>(RefBrightness(f.u8(1 + y, 1 + x, c), 40, 255));
            }
        }
    }
    ToneParams p{40, 12};
    void* p1 = &p;
    BrightnessColour8(f.bytes.data(), f.bytes.data(), r, 6, 3, 3, 3, f.stride, f.stride, &p1,
                      nullptr);
    EXPECT_EQ(f, expected);
}

}  // namespace
}  // namespace vimbra

namespace vimbra {
namespace {

// Frames tall enough to be split over several threads give the same result.
TEST_P(FilterPaths, FramesSplitOverThreadsMatchReference) {
    const int threads = SetDemosaicThreads(4);
    std::mt19937 rng(21);
    const Variant sharpen[] = {{"SharpenColour8/24", SharpenColour8, 3, 3, false},
                               {"SharpenColour16/64", SharpenColour16, 8, 3, true}};
    for (const Variant& v : sharpen) {
        Frame f = RandomFrame(v, 131, 97, rng);
        const Frame work = f;
        Frame expected = f;
        RefSharpen(expected, v.channels, v.wide, 17, v.wide ? 4095 : 255);
        ToneParams p{17, 12};
        FilterWorkspace ws;
        Call(v.routine, f, work, &p, &ws);
        EXPECT_EQ(f, expected) << v.name;
        Frame g = work;
        Call(v.routine, g, work, &p);
        EXPECT_EQ(g, expected) << v.name << " without workspace";
    }
    const Variant hue{"HueSatColour16/48", HueSatColour16, 6, 3, true};
    Frame f = RandomFrame(hue, 77, 90, rng);
    Frame expected = f;
    RefHueSat(expected, true, -75, 90);
    HueSatParams hp{-75, 0, 90, 12};
    Call(HueSatColour16, f, &hp);
    EXPECT_EQ(f, expected);
    const Variant gamma{"GammaColour8/32", GammaColour8, 4, 3, false};
    CheckTone(Kind::kGamma, gamma, 140, RandomFrame(gamma, 90, 80, rng));
    SetDemosaicThreads(threads);
}

}  // namespace
}  // namespace vimbra

namespace vimbra {
namespace {

// The routines that send their results through a table give what the filter
// and then the table give.
TEST_P(FilterPaths, TableRoutinesEqualFilterThenTable) {
    std::mt19937 rng(33);
    alignas(64) uint8_t t8[256];
    std::vector<uint16_t> t16(kToneTable16Size);
    BuildToneTable8(ToneKind::kGammaColour8, 150, t8);
    BuildToneTable16(ToneKind::kContrast, -60, 12, t16.data());
    const SampleTable table{t8, t16.data()};
    struct Case {
        Variant v;
        PixelRoutine plain, fused, apply;
    } cases[] = {
        {{"24", nullptr, 3, 3, false}, HueSatColour8, HueSatTableColour8, ApplyTableColour8},
        {{"32", nullptr, 4, 3, false}, HueSatColour8, HueSatTableColour8, ApplyTableColour8},
        {{"48", nullptr, 6, 3, true}, HueSatColour16, HueSatTableColour16, ApplyTableColour16},
        {{"64", nullptr, 8, 3, true}, HueSatColour16, HueSatTableColour16, ApplyTableColour16},
    };
    for (const Case& c : cases) {
        const Frame source = RandomFrame(c.v, 45, 6, rng);
        Frame expected = source, fused = source;
        HueSatParams hs{-100, 0, 70, 12};
        Call(c.plain, expected, &hs);
        SampleTable t = table;
        Call(c.apply, expected, &t);
        HueSatTableParams p{hs, table};
        ASSERT_EQ(Call(c.fused, fused, &p), 1);
        EXPECT_EQ(fused, expected) << "hue " << c.v.name;
    }
    const Case sharpen[] = {
        {{"8", nullptr, 1, 1, false}, Sharpen8, SharpenTable8, ApplyTable8},
        {{"24", nullptr, 3, 3, false}, SharpenColour8, SharpenTableColour8, ApplyTableColour8},
        {{"32", nullptr, 4, 3, false}, SharpenColour8, SharpenTableColour8, ApplyTableColour8},
        {{"16", nullptr, 2, 1, true}, Sharpen16, SharpenTable16, ApplyTable16},
        {{"48", nullptr, 6, 3, true}, SharpenColour16, SharpenTableColour16, ApplyTableColour16},
        {{"64", nullptr, 8, 3, true}, SharpenColour16, SharpenTableColour16, ApplyTableColour16},
    };
    for (const Case& c : sharpen) {
        const Frame work = RandomFrame(c.v, 70, 9, rng);
        Frame expected = work, fused = work;
        ToneParams tp{14, 12};
        Call(c.plain, expected, work, &tp);
        // The table applies to the samples the filter computes: the interior.
        Frame interior = expected;
        SampleTable t = table;
        Call(c.apply, interior, &t);
        for (int y = 2; y < 7; ++y) {
            std::memcpy(expected.row(y) + 2 * c.v.bpp, interior.row(y) + 2 * c.v.bpp,
                        static_cast<size_t>(66) * c.v.bpp);
        }
        SharpenTableParams p{tp, table};
        ASSERT_EQ(Call(c.fused, fused, work, &p), 1);
        EXPECT_EQ(fused, expected) << "sharpen " << c.v.name;
    }
    // 16-bit sharpness with the brightness computed instead of looked up.
    for (const Case& c : sharpen) {
        if (!c.v.wide) continue;
        for (int brightness : {-200, -1, 37, 255, 20000000}) {
            const Frame work = RandomFrame(c.v, 70, 9, rng);
            Frame expected = work, fused = work;
            ToneParams tp{22, 12};
            Call(c.plain, expected, work, &tp);
            Frame interior = expected;
            ToneParams bp{brightness, 12};
            Call(c.v.channels == 1 ? Brightness16 : BrightnessColour16, interior, &bp);
            for (int y = 2; y < 7; ++y) {
                std::memcpy(expected.row(y) + 2 * c.v.bpp, interior.row(y) + 2 * c.v.bpp,
                            static_cast<size_t>(66) * c.v.bpp);
            }
            SharpenTableParams p{tp, SampleTable{}, brightness};
            ASSERT_EQ(Call(c.fused, fused, work, &p), 1);
            EXPECT_EQ(fused, expected)
                << "sharpen and brightness " << c.v.name << " " << brightness;
        }
    }
}

}  // namespace
}  // namespace vimbra
