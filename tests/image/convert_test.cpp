#include "image/convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/dib_image.h"

namespace vimbra {
namespace {

void Set16(uint8_t* p, unsigned v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
unsigned Get16(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}

int Blit(CDibImage& dst, PixelRoutine routine, CDibImage& src) {
    return CDibImage::ConvertBlit(&dst, routine, &src, nullptr, 0, 0, nullptr, nullptr);
}

// One 16-bit sample through each reduction or widening.
TEST(MonoConversions, SampleMapping) {
    struct Case {
        PixelRoutine routine;
        uint16_t out_bits;
        unsigned in, out;
    };
    const Case cases[] = {
        {Mono16To8Shift4, 8, 4095, 255},       {Mono16To8Shift4, 8, 4096, 0},
        {Mono16To8Shift4, 8, 15, 0},           {Mono16To8Shift4Turned, 8, 4095, 255},
        {Mono16To8Shift2Turned, 8, 1023, 255}, {Mono16To8Shift2Turned, 8, 1024, 0},
        {Mono16Widen4, 16, 4095, 65520},       {Mono16Widen4, 16, 0x1234, 0x2340},
    };
    for (const Case& c : cases) {
        CDibImage src, dst;
        ASSERT_EQ(src.Create(1, 1, 16), 1);
        ASSERT_EQ(dst.Create(1, 1, c.out_bits), 1);
        Set16(src.bits(), c.in);
        EXPECT_EQ(Blit(dst, c.routine, src), 1);
        unsigned got = c.out_bits == 8 ? dst.bits()[0] : Get16(dst.bits());
        EXPECT_EQ(got, c.out) << c.in;
    }
}

TEST(ColourConversions, PixelMapping) {
    struct Case {
        PixelRoutine routine;
        uint16_t in_bits, out_bits;
        std::vector<unsigned> in, out;  // samples of one pixel
    };
    const Case cases[] = {
        {Colour24Copy, 32, 24, {1, 2, 3, 4}, {1, 2, 3}},
        {Colour24Copy, 24, 24, {1, 2, 3}, {1, 2, 3}},
        {Colour24SwapRB, 24, 24, {1, 2, 3}, {3, 2, 1}},
        {Colour32InvertFourth, 32, 32, {1, 2, 3, 0}, {1, 2, 3, 255}},
        {Colour32InvertFourth, 32, 32, {1, 2, 3, 0x0F}, {1, 2, 3, 0xF0}},
        {Colour48To24Shift4, 48, 24, {4095, 16, 4096}, {255, 1, 0}},
        {Colour48To24Shift4, 64, 24, {4095, 16, 4096, 9}, {255, 1, 0}},
        {Colour48To24Shift2Turned, 48, 24, {1023, 4, 1024}, {255, 1, 0}},
        {Colour48Widen4, 48, 48, {1, 2, 4095}, {16, 32, 65520}},
        {Colour48Widen4SwapRB, 48, 48, {1, 2, 4095}, {65520, 32, 16}},
        {Colour64Widen4, 64, 64, {1, 2, 3, 0}, {16, 32, 48, 0xFFFF}},
        {Colour64Widen4SwapRB, 64, 64, {1, 2, 3, 7}, {48, 32, 16, 0xFFFF}},
        {ColourToGrey, 24, 8, {255, 255, 255}, {255}},
        {ColourToGrey, 24, 8, {0, 0, 255}, {76}},
        {ColourToGrey, 24, 8, {0, 255, 0}, {150}},
        {ColourToGrey, 24, 8, {255, 0, 0}, {28}},
    };
    int index = 0;
    for (const Case& c : cases) {
        CDibImage src, dst;
        ASSERT_EQ(src.Create(2, 1, c.in_bits), 1);
        ASSERT_EQ(dst.Create(2, 1, c.out_bits), 1);
        bool wide_in = c.in_bits >= 48, wide_out = c.out_bits >= 48;
        // Second pixel of each image stays zero in the source; filled in the
        // destination to see that the routine writes it.
        std::memset(dst.bits(), 0xAA, static_cast<size_t>(dst.stride()));
        for (size_t i = 0; i < c.in.size(); ++i) {
            if (wide_in) {
                Set16(src.bits() + 2 * i, c.in[i]);
            } else {
                src.bits()[i] = static_cast<uint8_t>(c.in[i]);
            }
        }
        EXPECT_EQ(Blit(dst, c.routine, src), 1);
        for (size_t i = 0; i < c.out.size(); ++i) {
            unsigned got = wide_out ? Get16(dst.bits() + 2 * i) : dst.bits()[i];
            EXPECT_EQ(got, c.out[i]) << "case " << index << " sample " << i;
        }
        const uint8_t* second = dst.bits() + dst.bytes_per_pixel();
        EXPECT_NE(second[0], 0xAA) << "case " << index << ": second pixel not written";
        ++index;
    }
}

// Wider rows than the single-pixel table: the packed 4-pixel steps and the
// tail of the 32 to 24-bit copy, and whole-row copies between 24-bit images.
TEST(ColourConversions, CopyKeepsFirstThreeBytesOfEveryPixel) {
    for (uint16_t in_bits : {24, 32}) {
        for (int w : {1, 4, 9, 13}) {
            CDibImage src, dst;
            ASSERT_EQ(src.Create(w, 3, in_bits), 1);
            ASSERT_EQ(dst.Create(w, 3, 24), 1);
            for (int i = 0; i < src.stride() * 3; ++i)
                src.bits()[i] = static_cast<uint8_t>(i * 7 + 1);
            EXPECT_EQ(Blit(dst, Colour24Copy, src), 1);
            for (int r = 0; r < 3; ++r) {
                for (int x = 0; x < w; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        ASSERT_EQ(dst.row(r)[3 * x + c], src.row(r)[src.bytes_per_pixel() * x + c])
                            << in_bits << " bits, width " << w << ", pixel " << x;
                    }
                }
            }
        }
    }
}

// Turned routines write source rows 2, 1, 0 into destination rows 0, 1, 2;
// straight ones keep the order.
TEST(RowOrder, TurnedAndStraight) {
    struct Case {
        PixelRoutine routine;
        uint16_t in_bits, out_bits;
        bool turned;
    };
    const Case cases[] = {
        {RowCopyTurned, 24, 24, true},
        {Colour24CopyTurned, 24, 24, true},
        {Colour24Copy, 24, 24, false},
        {Mono16To8Shift2Turned, 16, 8, true},
        {Mono16To8Shift4Turned, 16, 8, true},
        {Mono16To8Shift4, 16, 8, false},
        {Colour48To24Shift2Turned, 48, 24, true},
        {RowCopyTurned, 8, 8, true},
    };
    for (const Case& c : cases) {
        CDibImage src, dst;
        ASSERT_EQ(src.Create(5, 3, c.in_bits), 1);
        ASSERT_EQ(dst.Create(5, 3, c.out_bits), 1);
        for (int r = 0; r < 3; ++r) {
            uint8_t* row = src.row(r);
            // Samples that reduce to r + 1 by any of the shifts used.
            for (int i = 0; i < src.width() * src.bytes_per_pixel(); ++i) {
                row[i] = static_cast<uint8_t>(
                    c.in_bits == 16 || c.in_bits == 48 ? (i % 2 == 0 ? (r + 1) << 4 : 0) : r + 1);
            }
        }
        // The 2-bit shift of (r + 1) << 4 gives (r + 1) << 2.
        bool shift2 = c.routine == Mono16To8Shift2Turned || c.routine == Colour48To24Shift2Turned;
        for (int r = 0; r < 3; ++r) {
            int from = c.turned ? 2 - r : r;
            unsigned want = shift2 ? (from + 1) << 2 : from + 1;
            EXPECT_EQ(Blit(dst, c.routine, src), 1);
            EXPECT_EQ(dst.row(r)[0], want) << "row " << r;
            EXPECT_EQ(dst.row(r)[dst.width() * dst.bytes_per_pixel() - 1], want) << "row " << r;
        }
    }
}

TEST(RowOrder, RowCopyTurnedCopiesWholePaddedRows) {
    CDibImage src, dst;
    ASSERT_EQ(src.Create(3, 2, 8), 1);  // stride 4: one padding byte
    ASSERT_EQ(dst.Create(3, 2, 8), 1);
    std::memcpy(src.row(0), "\x01\x02\x03\x04", 4);
    std::memcpy(src.row(1), "\x05\x06\x07\x08", 4);
    EXPECT_EQ(Blit(dst, RowCopyTurned, src), 1);
    EXPECT_EQ(std::memcmp(dst.row(0), "\x05\x06\x07\x08", 4), 0);
    EXPECT_EQ(std::memcmp(dst.row(1), "\x01\x02\x03\x04", 4), 0);
}

TEST(Repack, SpreadsPackedRowsInPlace) {
    for (int bytes : {1, 2}) {
        const int w = 641, h = 5;
        CDibImage img;
        ASSERT_EQ(img.Create(w, h, static_cast<uint16_t>(8 * bytes)), 1);
        ASSERT_EQ(img.stride(), bytes == 1 ? 644 : 1284);
        // The driver's packed frame: sample (r, c) = r * 1000 + c, truncated.
        auto value = [](int r, int c) { return static_cast<unsigned>(r * 1000 + c); };
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                uint8_t* p = img.bits() + (static_cast<size_t>(r) * w + c) * bytes;
                if (bytes == 1) {
                    *p = static_cast<uint8_t>(value(r, c));
                } else {
                    Set16(p, value(r, c));
                }
            }
        }
        EXPECT_EQ(Blit(img, bytes == 1 ? Repack8 : Repack16, img), 1);
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                const uint8_t* p = img.row(r) + c * bytes;
                unsigned got = bytes == 1 ? *p : Get16(p);
                unsigned want = bytes == 1 ? value(r, c) & 0xFF : value(r, c);
                ASSERT_EQ(got, want) << bytes << " bytes, row " << r << " column " << c;
            }
        }
    }
}

// A routine handed images with smaller pixels than it reads or writes does
// nothing, rather than running past the rows. The images have no padding and
// fill their memory exactly, so any access past a row leaves the image.
TEST(PixelSizes, SmallerPixelsThanTheRoutineNeedsAreRefused) {
    struct Case {
        const char* name;
        PixelRoutine routine;
        uint16_t in_bits, out_bits;
    };
    const Case cases[] = {
        {"reduce from bytes", Mono16To8Shift4, 8, 8},
        {"reduce turned from bytes", Mono16To8Shift2Turned, 8, 8},
        {"widen from bytes", Mono16Widen4, 8, 16},
        {"grey from bytes", ColourToGrey, 8, 8},
        {"swap into bytes", Colour24SwapRB, 24, 8},
        {"48 to 24 from 24", Colour48To24Shift4, 24, 24},
        {"48 to 24 turned from 16", Colour48To24Shift2Turned, 16, 24},
        {"widen 48 into 24", Colour48Widen4, 48, 24},
        {"invert fourth into 24", Colour32InvertFourth, 32, 24},
    };
    for (const Case& c : cases) {
        CDibImage src, dst;
        ASSERT_EQ(src.Create(64, 2, c.in_bits), 1);
        ASSERT_EQ(dst.Create(64, 2, c.out_bits), 1);
        std::memset(src.bits(), 0x5A, static_cast<size_t>(src.stride()) * 2);
        std::memset(dst.bits(), 0xC3, static_cast<size_t>(dst.stride()) * 2);
        EXPECT_EQ(Blit(dst, c.routine, src), 1) << c.name;
        for (int i = 0; i < dst.stride() * 2; ++i) {
            ASSERT_EQ(dst.bits()[i], 0xC3) << c.name << ": byte " << i << " written";
        }
    }
    CDibImage grey;
    ASSERT_EQ(grey.Create(64, 2, 8), 1);
    std::memset(grey.bits(), 200, static_cast<size_t>(grey.stride()) * 2);
    EXPECT_EQ(Blit(grey, RegionMean16, grey), 0);
    // Repacking works in place only: another, smaller destination stays
    // untouched (placed so that the clipped rows are memory rows 0..1).
    CDibImage packed, small;
    ASSERT_EQ(packed.Create(61, 4, 8), 1);
    ASSERT_EQ(small.Create(61, 2, 8), 1);
    std::memset(packed.bits(), 7, static_cast<size_t>(packed.stride()) * 4);
    EXPECT_EQ(CDibImage::ConvertBlit(&small, Repack8, &packed, nullptr, 0, -2, nullptr, nullptr),
              1);
    for (int i = 0; i < small.stride(); ++i) ASSERT_EQ(small.bits()[i], 0) << "byte " << i;
}

TEST(RegionMean, MeansOfRegions) {
    CDibImage grey, deep;
    ASSERT_EQ(grey.Create(8, 6, 8), 1);
    ASSERT_EQ(deep.Create(2, 1, 16), 1);
    Set16(deep.bits(), 1000);
    Set16(deep.bits() + 2, 1100);  // reduces to (1100 >> 2) & 0xFF = 19
    EXPECT_EQ(Blit(deep, RegionMean16, deep), 134);
    // A 2 x 2 region at GDI (2, 1): memory rows 3..4 of a 6-row image.
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 8; ++c) grey.row(r)[c] = static_cast<uint8_t>(r * 10 + c);
    }
    Rect region{2, 1, 4, 3};
    EXPECT_EQ(CDibImage::ConvertBlit(&grey, RegionMean8, &grey, &region, 2, 1, nullptr, nullptr),
              (32 + 33 + 42 + 43) / 4);
    Rect empty{0, 0, 0, 0};
    EXPECT_EQ(RegionMean8(grey.bits(), grey.bits(), empty, 0, 0, 1, 1, 8, 8, nullptr, nullptr), 0);
}

}  // namespace
}  // namespace vimbra
