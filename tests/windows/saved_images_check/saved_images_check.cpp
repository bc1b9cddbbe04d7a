// Reads back, on Linux, the still images the Windows DLL saved under Wine
// (save_images_test.cpp), with the readers the writers' own tests use: djpeg,
// pngcheck, tiffinfo and the reading code of libjpeg, libpng and libtiff. The
// raw file of each snapshot is the picture's memory as the DLL held it; every
// other file must hold that same picture in its own encoding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/file_readers.h"
#include "windows/saved_images.h"

namespace vimbra::testing {
namespace {

using saved_images::FileName;
using saved_images::Format;
using saved_images::kFormats;
using saved_images::kHeight;
using saved_images::kWidth;

// The directory the Windows program saved into (first argument).
std::string g_dir;

std::string PathOf(const std::string& name) {
    return g_dir + "/" + name;
}

const Format& FormatWithCode(int32_t code) {
    for (const Format& f : kFormats)
        if (f.code == code) return f;
    return kFormats[0];
}

// One snapshot as its raw file holds it: rows top first with their padding,
// samples of one byte or of a little-endian 16-bit word.
struct Snapshot {
    int bits = 0;
    std::vector<uint8_t> memory;

    bool wide() const { return bits == 16 || bits >= 48; }
    int samples() const { return bits / 8 / (wide() ? 2 : 1); }  // grey 1, B G R 3, B G R x 4
    size_t stride() const { return ((static_cast<size_t>(kWidth) * bits / 8) + 3) & ~size_t{3}; }
    unsigned at(int x, int y, int s) const {
        const size_t i = y * stride() + (static_cast<size_t>(x) * samples() + s) * (wide() ? 2 : 1);
        return wide() ? memory[i] | (memory[i + 1] << 8) : memory[i];
    }
};

// How a picture's samples are stored in a file that widens 12-bit samples to
// 16 bits: PNG most significant byte first with an opaque alpha made from the
// fourth byte, TIFF in the reader's (little-endian) order with a zero fourth
// byte. Rows top first without padding.
enum class Encoding { kPng, kTiff };

std::vector<uint8_t> Expected(const Snapshot& shot, Encoding encoding) {
    std::vector<uint8_t> out;
    const auto put = [&](unsigned v) {
        if (!shot.wide()) {
            out.push_back(static_cast<uint8_t>(v));
        } else if (encoding == Encoding::kPng) {
            out.insert(out.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
        } else {
            out.insert(out.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)});
        }
    };
    const int shift = shot.wide() ? 4 : 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (shot.samples() == 1) {
                put(shot.at(x, y, 0) << shift);
                continue;
            }
            for (int s : {2, 1, 0}) put(shot.at(x, y, s) << shift);
            if (shot.samples() == 4) {
                if (shot.wide())
                    put(65535);
                else
                    put(encoding == Encoding::kPng ? 255 - shot.at(x, y, 3) : 0);
            }
        }
    }
    return out;
}

// The 8-bit picture JPEG files are made from: grey, or R, G, B; 16-bit grey
// keeps bits 4..11 of its samples, 48 and 64-bit colour bits 2..9.
std::vector<uint8_t> JpegInput(const Snapshot& shot) {
    const int shift = shot.bits == 16 ? 4 : shot.wide() ? 2 : 0;
    std::vector<uint8_t> out;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (shot.samples() == 1) {
                out.push_back(static_cast<uint8_t>(shot.at(x, y, 0) >> shift));
            } else {
                for (int s : {2, 1, 0})
                    out.push_back(static_cast<uint8_t>(shot.at(x, y, s) >> shift));
            }
        }
    }
    return out;
}

class SavedImages : public ::testing::TestWithParam<int32_t> {
  protected:
    void SetUp() override {
        shot_.bits = GetParam();
        shot_.memory = ReadBytes(Path(1));
        ASSERT_EQ(shot_.memory.size(), shot_.stride() * kHeight) << Path(1);
    }
    std::string Path(int32_t code) const {
        return PathOf(FileName(shot_.bits, FormatWithCode(code)));
    }

    Snapshot shot_;
};

TEST_P(SavedImages, BitmapHoldsTheRowsBottomUpAfterItsHeaders) {
    const std::vector<uint8_t> bmp = ReadBytes(Path(0));
    const uint32_t offset = shot_.bits <= 8 ? 1078 : 54;
    ASSERT_EQ(bmp.size(), offset + shot_.memory.size());
    EXPECT_EQ(Get16(bmp, 0), 0x4D42);
    EXPECT_EQ(Get32(bmp, 2), bmp.size());
    EXPECT_EQ(Get32(bmp, 10), offset);
    EXPECT_EQ(Get32(bmp, 14), 40u);
    EXPECT_EQ(Get32(bmp, 18), static_cast<uint32_t>(kWidth));
    EXPECT_EQ(Get32(bmp, 22), static_cast<uint32_t>(kHeight));  // positive: bottom-up
    EXPECT_EQ(Get16(bmp, 28), shot_.bits);
    if (shot_.bits == 8) {
        for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(Get32(bmp, 54 + 4 * i), i * 0x010101u) << i;
    }
    const size_t stride = shot_.stride();
    for (int y = 0; y < kHeight; ++y) {
        const auto stored = bmp.begin() + offset + (kHeight - 1 - y) * stride;
        ASSERT_TRUE(std::equal(stored, stored + stride, shot_.memory.begin() + y * stride)) << y;
    }
}

// The DLL's JPEG library, cross-built, makes the same bytes from the same
// picture as the system's: same version, settings and quality.
TEST_P(SavedImages, JpegsAreTheFilesTheReferenceEncoderMakes) {
    VIMBRA_REQUIRE_TOOL("djpeg");
    const int components = shot_.samples() == 1 ? 1 : 3;
    const std::vector<uint8_t> input = JpegInput(shot_);
    for (int32_t code : {2, 3, 4}) {
        SCOPED_TRACE(Path(code));
        const Decoded decoded = DecodeJpeg(Path(code));
        EXPECT_EQ(decoded.width, kWidth);
        EXPECT_EQ(decoded.height, kHeight);
        EXPECT_EQ(decoded.channels, components);
        const std::vector<uint8_t> jpeg = ReadBytes(Path(code));
        EXPECT_TRUE(JpegHasMarker(jpeg, 0xC2));  // progressive
        EXPECT_TRUE(jpeg == ReferenceJpeg(input, kWidth, kHeight, FormatWithCode(code).quality,
                                          components));
    }
}

TEST_P(SavedImages, PngPassesItsCheckAndHoldsThePicture) {
    VIMBRA_REQUIRE_TOOL("pngcheck");
    int status = -1;
    const std::string report = RunTool("pngcheck '" + Path(5) + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << report;
    const PngFile png = ReadPng(Path(5));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(png.height, static_cast<uint32_t>(kHeight));
    EXPECT_EQ(png.bit_depth, shot_.wide() ? 16 : 8);
    const int colour_type = shot_.samples() == 1   ? PNG_COLOR_TYPE_GRAY
                            : shot_.samples() == 3 ? PNG_COLOR_TYPE_RGB
                                                   : PNG_COLOR_TYPE_RGB_ALPHA;
    EXPECT_EQ(png.colour_type, colour_type);
    EXPECT_EQ(png.interlace, PNG_INTERLACE_NONE);
    std::vector<uint8_t> stored;
    for (const auto& row : png.rows) stored.insert(stored.end(), row.begin(), row.end());
    EXPECT_TRUE(stored == Expected(shot_, Encoding::kPng));
}

TEST_P(SavedImages, TiffPassesItsCheckAndHoldsThePicture) {
    VIMBRA_REQUIRE_TOOL("tiffinfo");
    int status = -1;
    const std::string report = RunTool("tiffinfo '" + Path(6) + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << report;
    const TiffFile tiff = ReadTiff(Path(6));
    ASSERT_TRUE(tiff.ok);
    EXPECT_EQ(tiff.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(tiff.height, static_cast<uint32_t>(kHeight));
    EXPECT_EQ(tiff.bits_per_sample, shot_.wide() ? 16 : 8);
    EXPECT_EQ(tiff.samples_per_pixel, shot_.samples());
    EXPECT_EQ(tiff.photometric, shot_.samples() == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    EXPECT_EQ(tiff.compression, COMPRESSION_NONE);
    EXPECT_EQ(tiff.planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(tiff.strips, 1u);
    EXPECT_TRUE(tiff.strip == Expected(shot_, Encoding::kTiff));
}

INSTANTIATE_TEST_SUITE_P(ColourModes, SavedImages, ::testing::ValuesIn(saved_images::kModes),
                         [](const auto& info) { return "mode" + std::to_string(info.param); });

TEST(SavedImagesByWideName, AreTheFilesOfTheNarrowName) {
    const std::vector<uint8_t> wide = ReadBytes(PathOf(saved_images::kWideName));
    ASSERT_FALSE(wide.empty());
    EXPECT_TRUE(wide == ReadBytes(PathOf(FileName(24, FormatWithCode(5)))));
}

}  // namespace
}  // namespace vimbra::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory the Windows program saved into>\n", argv[0]);
        return 64;
    }
    vimbra::testing::g_dir = argv[1];
    return RUN_ALL_TESTS();
}
