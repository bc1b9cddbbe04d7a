#include "output/save_image.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "file_readers.h"
#include "output_test_util.h"
#include "platform/write_file.h"

namespace vimbra {
namespace {

using testing::Decoded;
using testing::Fill;
using testing::ReadBytes;

constexpr int kBmp = 0, kRaw = 1, kJpeg100 = 2, kJpeg70 = 3, kJpeg20 = 4, kPng = 5, kTiff = 6;

class SaveImageTest : public ::testing::Test {
  protected:
    std::string File(const std::string& name) const { return dir_.File(name); }
    testing::ScratchDir dir_;
};

TEST_F(SaveImageTest, UnknownFormatCodesWriteNothing) {
    CDibImage image;
    ASSERT_TRUE(image.Create(8, 8, 24));
    for (int format : {7, -1, 1000}) {
        const std::string path = File("out" + std::to_string(format));
        EXPECT_EQ(SaveImage(path.c_str(), &image, format), 0) << format;
        EXPECT_FALSE(std::filesystem::exists(path)) << format;
    }
}

TEST_F(SaveImageTest, EmptyImageOrNoNameFails) {
    CDibImage empty, image;
    ASSERT_TRUE(image.Create(4, 4, 8));
    for (int format = kBmp; format <= kTiff; ++format) {
        EXPECT_EQ(SaveImage(File("e").c_str(), &empty, format), 0) << format;
        EXPECT_EQ(SaveImage(File("e").c_str(), nullptr, format), 0) << format;
        EXPECT_EQ(SaveImage(nullptr, &image, format), 0) << format;
        EXPECT_EQ(SaveImage("", &image, format), 0) << format;
    }
}

// Every format truncates a longer file it replaces, and none of them reports
// success for a path that cannot be written or a disk that fills up.
TEST_F(SaveImageTest, ExistingFileIsReplacedAndWriteFailuresGiveZero) {
    CDibImage image;
    ASSERT_TRUE(image.Create(6, 4, 24));
    Fill(image, [](int x, int y, int s) { return x * 20 + y * 7 + s; });
    const bool have_full = std::filesystem::exists("/dev/full");
    for (int format = kBmp; format <= kTiff; ++format) {
        SCOPED_TRACE(format);
        const std::string path = File("replace");
        {
            std::ofstream junk(path, std::ios::binary);
            junk << std::string(100000, 'x');
        }
        ASSERT_EQ(SaveImage(path.c_str(), &image, format), 1);
        const auto size = std::filesystem::file_size(path);
        EXPECT_LT(size, 100000u);
        std::filesystem::remove(path);
        ASSERT_EQ(SaveImage(path.c_str(), &image, format), 1);
        EXPECT_EQ(std::filesystem::file_size(path), size);

        EXPECT_EQ(SaveImage(File("no/such/dir/f").c_str(), &image, format), 0);
        std::filesystem::create_directory(File("adir"));
        EXPECT_EQ(SaveImage(File("adir").c_str(), &image, format), 0);
        if (have_full) {
            EXPECT_EQ(SaveImage("/dev/full", &image, format), 0);
        }
    }
}

// A file another writer holds (such as a running recording) is refused in
// every format and left as that writer made it.
TEST_F(SaveImageTest, HeldFileIsRefusedAndKept) {
    CDibImage image;
    ASSERT_TRUE(image.Create(4, 4, 8));
    const std::string held = File("held.bmp");
    platform::WriteFile holder;
    ASSERT_TRUE(holder.Open(held.c_str()));
    ASSERT_TRUE(holder.Write("keep", 4));
    for (int format = kBmp; format <= kTiff; ++format) {
        EXPECT_EQ(SaveImage(held.c_str(), &image, format), 0) << format;
    }
    holder.Close();
    EXPECT_EQ(std::filesystem::file_size(held), 4u) << "a refused open must not truncate";
}

// A named pipe whose reader leaves after the first byte: every format fails
// the save, and the process lives on (the write's SIGPIPE would end it).
TEST_F(SaveImageTest, PipeWhoseReaderLeavesFailsTheSave) {
    CDibImage image;
    ASSERT_TRUE(image.Create(1024, 1024, 24));
    // Noise: every format's file (JPEG of quality 20 about 180 KB) is far
    // larger than the pipe's 64 KB buffer, so the writer is still writing
    // when the reader leaves.
    uint32_t state = 12345;
    Fill(image, [&](int, int, int) {
        return static_cast<int>((state = state * 1103515245u + 12345u) >> 24);
    });
    for (int format = kBmp; format <= kTiff; ++format) {
        SCOPED_TRACE(format);
        const std::string path = File("pipe" + std::to_string(format));
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        // Opened first, so that the writer's open finds a reader.
        const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        std::thread leave([reader] {
            pollfd p{reader, POLLIN, 0};
            char c;
            if (::poll(&p, 1, 5000) == 1) [[maybe_unused]]
                ssize_t n = ::read(reader, &c, 1);
            ::close(reader);
        });
        EXPECT_EQ(SaveImage(path.c_str(), &image, format), 0);
        leave.join();
    }
}

TEST_F(SaveImageTest, ReadOnlyFileIsRefused) {
    CDibImage image;
    ASSERT_TRUE(image.Create(4, 4, 8));
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: read-only files are writable";
    const std::string read_only = File("ro");
    std::ofstream(read_only) << "old";
    ::chmod(read_only.c_str(), 0444);
    for (int format = kBmp; format <= kTiff; ++format) {
        EXPECT_EQ(SaveImage(read_only.c_str(), &image, format), 0) << format;
    }
    EXPECT_EQ(ReadBytes(read_only).size(), 3u);
}

// BMP: 14-byte file header, the image's own 40-byte header, a grey table for
// 8 bits, then padded rows with the picture's bottom row first.
TEST_F(SaveImageTest, BmpLayout) {
    struct Case {
        uint16_t bits;
        int width;
        uint32_t offset;
        int stride;
    };
    for (const Case& c : {Case{8, 5, 1078, 8}, Case{24, 5, 54, 16}, Case{16, 3, 54, 8},
                          Case{32, 3, 54, 12}, Case{48, 5, 54, 32}, Case{64, 2, 54, 16}}) {
        SCOPED_TRACE(c.bits);
        CDibImage image;
        const int height = 3;
        ASSERT_TRUE(image.Create(c.width, height, c.bits));
        Fill(image, [](int x, int y, int s) { return 1 + x * 16 + y * 64 + s; });
        const std::string path = File("image.bmp");
        ASSERT_EQ(SaveImage(path.c_str(), &image, kBmp), 1);
        const auto b = ReadBytes(path);
        ASSERT_EQ(b.size(), c.offset + static_cast<size_t>(height) * c.stride);
        EXPECT_EQ(b[0], 'B');
        EXPECT_EQ(b[1], 'M');
        EXPECT_EQ(testing::Get32(b, 2), b.size());
        EXPECT_EQ(testing::Get32(b, 6), 0u);
        EXPECT_EQ(testing::Get32(b, 10), c.offset);
        EXPECT_EQ(testing::Get32(b, 14), 40u);
        EXPECT_EQ(static_cast<int32_t>(testing::Get32(b, 18)), c.width);
        EXPECT_EQ(static_cast<int32_t>(testing::Get32(b, 22)), height) << "bottom-up";
        EXPECT_EQ(testing::Get16(b, 28), c.bits);
        if (c.bits == 8) {
            for (int i = 0; i < 256; ++i) {
                ASSERT_THAT(std::vector<uint8_t>(b.begin() + 54 + 4 * i, b.begin() + 58 + 4 * i),
                            ::testing::ElementsAre(i, i, i, 0))
                    << i;
            }
        }
        for (int r = 0; r < height; ++r) {
            EXPECT_EQ(0, std::memcmp(b.data() + c.offset + r * c.stride, image.row(height - 1 - r),
                                     c.stride))
                << "file row " << r;
        }
    }
}

TEST_F(SaveImageTest, RawIsPixelMemoryWithPadding) {
    CDibImage image;
    ASSERT_TRUE(image.Create(5, 3, 24));
    Fill(image, [](int x, int y, int s) { return x + 10 * y + 100 * s; });
    image.row(1)[15] = 0xAB;  // padding byte, kept as it is
    const std::string path = File("image.raw");
    ASSERT_EQ(SaveImage(path.c_str(), &image, kRaw), 1);
    const auto b = ReadBytes(path);
    ASSERT_EQ(b.size(), 3u * 16);
    EXPECT_EQ(0, std::memcmp(b.data(), image.bits(), b.size()));
}

// Each bit count keeps the bits that carry its picture: 12-bit grey bits
// 4..11, 16-bit colour bits 2..9. Uniform halves decode exactly enough.
TEST_F(SaveImageTest, JpegReducesSamplesAndKeepsThePictureUpright) {
    VIMBRA_REQUIRE_TOOL("djpeg");
    struct Case {
        uint16_t bits;
        unsigned top, bottom;  // sample values of the top and bottom halves
        int top_out, bottom_out;
    };
    for (const Case& c :
         {Case{8, 200, 30, 200, 30}, Case{16, 4095, 16, 255, 1}, Case{16, 2048, 1024, 128, 64},
          Case{48, 1023, 1024, 255, 0}, Case{64, 512, 1020, 128, 255}, Case{24, 220, 40, 220, 40},
          Case{32, 90, 250, 90, 250}}) {
        SCOPED_TRACE(c.bits);
        CDibImage image;
        ASSERT_TRUE(image.Create(32, 32, c.bits));
        Fill(image, [&](int, int y, int s) { return s == 3 ? 77 : (y < 16 ? c.top : c.bottom); });
        const std::string path = File("image.jpg");
        ASSERT_EQ(SaveImage(path.c_str(), &image, kJpeg100), 1);
        const Decoded d = testing::DecodeJpeg(path);
        ASSERT_EQ(d.width, 32);
        ASSERT_EQ(d.height, 32);
        EXPECT_EQ(d.channels, c.bits <= 16 ? 1 : 3);
        for (int ch = 0; ch < d.channels; ++ch) {
            EXPECT_NEAR(d.at(5, 2, ch), c.top_out, 1);
            EXPECT_NEAR(d.at(5, 29, ch), c.bottom_out, 1);
        }
    }
}

TEST_F(SaveImageTest, JpegColourOrderAndOddWidth) {
    VIMBRA_REQUIRE_TOOL("djpeg");
    CDibImage image;
    ASSERT_TRUE(image.Create(5, 16, 24));
    Fill(image, [](int, int, int s) { return s == 0 ? 20 : s == 1 ? 120 : 230; });  // B, G, R
    const std::string path = File("odd.jpg");
    ASSERT_EQ(SaveImage(path.c_str(), &image, kJpeg100), 1);
    const Decoded d = testing::DecodeJpeg(path);
    ASSERT_EQ(d.width, 5);
    ASSERT_EQ(d.channels, 3);
    for (int x = 0; x < 5; ++x) {
        EXPECT_NEAR(d.at(x, 7, 0), 230, 2) << x;  // red
        EXPECT_NEAR(d.at(x, 7, 1), 120, 2) << x;
        EXPECT_NEAR(d.at(x, 7, 2), 20, 2) << x;
    }
}

// The format code picks the quality: the standard luminance table's DC step
// 16 scaled for 100, 70 and 20; every file is progressive.
TEST_F(SaveImageTest, JpegQualityByFormatCodeAndProgressive) {
    CDibImage image;
    ASSERT_TRUE(image.Create(16, 16, 8));
    for (auto [format, dc_step] : {std::pair{kJpeg100, 1}, {kJpeg70, 10}, {kJpeg20, 40}}) {
        const std::string path = File("q.jpg");
        ASSERT_EQ(SaveImage(path.c_str(), &image, format), 1);
        const auto b = ReadBytes(path);
        EXPECT_EQ(testing::JpegFirstDcStep(b), dc_step) << format;
        EXPECT_TRUE(testing::JpegHasMarker(b, 0xC2)) << format;
        EXPECT_FALSE(testing::JpegHasMarker(b, 0xC0)) << format;
    }
}

// Colour pictures are encoded from their own rows: the file is the one the
// library makes from the same picture given as R, G, B rows, top line first.
TEST_F(SaveImageTest, JpegOfColourEqualsTheLibrarysOwnFromRgbRows) {
    for (uint16_t bits : {24, 32}) {
        SCOPED_TRACE(bits);
        CDibImage image;
        ASSERT_TRUE(image.Create(37, 21, bits));
        Fill(image, [](int x, int y, int s) { return (x * 7 + y * 13 + s * 80) % 256; });
        std::vector<uint8_t> rgb;
        for (int y = 0; y < 21; ++y) {
            for (int x = 0; x < 37; ++x) {
                for (int s = 2; s >= 0; --s) rgb.push_back(image.row(y)[x * (bits / 8) + s]);
            }
        }
        for (auto [format, quality] : {std::pair{kJpeg100, 100}, {kJpeg20, 20}}) {
            const std::string path = File("same.jpg");
            ASSERT_EQ(SaveImage(path.c_str(), &image, format), 1);
            EXPECT_EQ(ReadBytes(path), testing::ReferenceJpeg(rgb, 37, 21, quality)) << quality;
        }
    }
}

// A library error (here: a picture wider than JPEG allows) is returned as 0
// instead of ending the process.
TEST_F(SaveImageTest, JpegLibraryErrorReturnsZero) {
    CDibImage wide;
    ASSERT_TRUE(wide.Create(70000, 1, 8));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SaveImage(File("wide.jpg").c_str(), &wide, kJpeg70), 0);
    ::testing::internal::GetCapturedStderr();
    CDibImage image;
    ASSERT_TRUE(image.Create(8, 8, 8));
    EXPECT_EQ(SaveImage(File("after.jpg").c_str(), &image, kJpeg70), 1);
}

// PNG rows in memory order, R, G, B order, 12-bit samples scaled to 16 bits
// and stored most significant byte first, 32-bit fourth bytes inverted into
// alpha, 64-bit alpha full.
TEST_F(SaveImageTest, PngSamples) {
    struct Case {
        uint16_t bits;
        int depth, colour_type;
        std::vector<unsigned> pixel;  // samples of the source pixel
        std::vector<uint8_t> stored;  // bytes in the file
    };
    const Case cases[] = {
        {8, 8, 0, {200}, {200}},
        {16, 16, 0, {4095}, {0xFF, 0xF0}},
        {24, 8, 2, {10, 20, 30}, {30, 20, 10}},
        {32, 8, 6, {10, 20, 30, 0}, {30, 20, 10, 255}},
        {48, 16, 2, {0x123, 0x456, 0xFFF}, {0xFF, 0xF0, 0x45, 0x60, 0x12, 0x30}},
        {64, 16, 6, {1, 2, 3, 0}, {0, 0x30, 0, 0x20, 0, 0x10, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        CDibImage image;
        ASSERT_TRUE(image.Create(5, 4, c.bits));
        // Row 0 carries the pixel; the other rows stay zero.
        Fill(image, [&](int, int y, int s) { return y == 0 ? c.pixel[s] : 0; });
        const auto before = std::vector<uint8_t>(image.bits(), image.bits() + 4 * image.stride());
        const std::string path = File("image.png");
        ASSERT_EQ(SaveImage(path.c_str(), &image, kPng), 1);
        EXPECT_EQ(before, std::vector<uint8_t>(image.bits(), image.bits() + 4 * image.stride()))
            << "the image is left unchanged";
        const auto png = testing::ReadPng(path);
        ASSERT_TRUE(png.ok);
        EXPECT_EQ(png.width, 5u);
        EXPECT_EQ(png.height, 4u);
        EXPECT_EQ(png.bit_depth, c.depth);
        EXPECT_EQ(png.colour_type, c.colour_type);
        EXPECT_EQ(png.interlace, 0);
        const size_t n = c.stored.size();
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(std::vector<uint8_t>(png.rows[0].begin() + x * n,
                                           png.rows[0].begin() + (x + 1) * n),
                      c.stored)
                << x;
        }
        EXPECT_EQ(png.rows[1][0], 0);
    }
}

TEST_F(SaveImageTest, PngPassesPngcheck) {
    VIMBRA_REQUIRE_TOOL("pngcheck");
    for (uint16_t bits : {8, 16, 24, 32, 48, 64}) {
        CDibImage image;
        ASSERT_TRUE(image.Create(5, 7, bits));
        Fill(image, [](int x, int y, int s) { return x * 37 + y * 11 + s; });
        const std::string path = File("check.png");
        ASSERT_EQ(SaveImage(path.c_str(), &image, kPng), 1);
        int status = -1;
        const std::string out = testing::RunTool("pngcheck '" + path + "' 2>&1", &status);
        EXPECT_EQ(status, 0) << bits << ": " << out;
    }
}

TEST_F(SaveImageTest, PngLibraryErrorIsPrintedAndReturnsZero) {
    CDibImage wide;
    // Wider than the library's default limit of a million pixels.
    ASSERT_TRUE(wide.Create(1000001, 1, 8));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(SaveImage(File("wide.png").c_str(), &wide, kPng), 0);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(), ::testing::HasSubstr("libpng error: "));
}

// TIFF: one uncompressed strip of unpadded rows in memory order, R, G, B,
// 12-bit samples scaled to 16 bits.
TEST_F(SaveImageTest, TiffTagsAndSamples) {
    struct Case {
        uint16_t bits;
        uint16_t bits_per_sample, photometric, samples;
        std::vector<unsigned> pixel;
        std::vector<unsigned> stored;  // samples in the strip
    };
    const Case cases[] = {
        {8, 8, 1, 1, {200}, {200}},
        {16, 16, 1, 1, {4095}, {65520}},
        {24, 8, 2, 3, {10, 20, 30}, {30, 20, 10}},
        {32, 8, 2, 4, {10, 20, 30, 99}, {30, 20, 10, 0}},
        {48, 16, 2, 3, {1, 2, 4095}, {65520, 32, 16}},
        {64, 16, 2, 4, {1, 2, 3, 7}, {48, 32, 16, 65535}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        CDibImage image;
        ASSERT_TRUE(image.Create(5, 3, c.bits));
        Fill(image, [&](int x, int y, int s) { return y == 0 && x == 4 ? c.pixel[s] : 0; });
        const std::string path = File("image.tif");
        ASSERT_EQ(SaveImage(path.c_str(), &image, kTiff), 1);
        const auto tif = testing::ReadTiff(path);
        ASSERT_TRUE(tif.ok);
        EXPECT_EQ(tif.width, 5u);
        EXPECT_EQ(tif.height, 3u);
        EXPECT_EQ(tif.bits_per_sample, c.bits_per_sample);
        EXPECT_EQ(tif.photometric, c.photometric);
        EXPECT_EQ(tif.samples_per_pixel, c.samples);
        EXPECT_EQ(tif.compression, 1);
        EXPECT_EQ(tif.planar, 1);
        EXPECT_EQ(tif.strips, 1u);
        const size_t bytes = c.bits / 8, row = 5 * bytes;
        ASSERT_EQ(tif.strip.size(), 3 * row) << "rows without padding";
        for (size_t s = 0; s < c.samples; ++s) {
            const size_t at = 4 * bytes + s * (c.bits_per_sample / 8);
            const unsigned v =
                c.bits_per_sample == 8 ? tif.strip[at] : testing::Get16(tif.strip, at);
            EXPECT_EQ(v, c.stored[s]) << s;
        }
        EXPECT_EQ(tif.strip[row], 0) << "row 1 is where the image's row 1 is";
    }
}

TEST_F(SaveImageTest, TiffReadByTiffinfoAndTiffdump) {
    VIMBRA_REQUIRE_TOOL("tiffinfo");
    CDibImage image;
    ASSERT_TRUE(image.Create(5, 3, 48));
    const std::string path = File("info.tif");
    ASSERT_EQ(SaveImage(path.c_str(), &image, kTiff), 1);
    int status = -1;
    const std::string out = testing::RunTool("tiffinfo '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_THAT(out, ::testing::HasSubstr("Image Width: 5 Image Length: 3"));
    EXPECT_THAT(out, ::testing::HasSubstr("Bits/Sample: 16"));
    EXPECT_THAT(out, ::testing::HasSubstr("Samples/Pixel: 3"));

    // The writer sets no tags beyond those of the picture and its one strip.
    VIMBRA_REQUIRE_TOOL("tiffdump");
    const std::string dump = testing::RunTool("tiffdump '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << dump;
    for (const char* tag :
         {"ImageWidth (256)", "ImageLength (257)", "BitsPerSample (258)", "Compression (259)",
          "Photometric (262)", "StripOffsets (273)", "SamplesPerPixel (277)",
          "StripByteCounts (279)", "PlanarConfig (284)"}) {
        EXPECT_THAT(dump, ::testing::HasSubstr(tag));
    }
    for (const char* tag : {"(278)", "(338)", "(282)", "(305)"}) {
        EXPECT_THAT(dump, ::testing::Not(::testing::HasSubstr(tag)));
    }
}

// A 24-bit picture five pixels wide (rows padded to 16 bytes in memory) in
// every format: BMP and raw keep the padding, the others hold 5 pixels a row.
TEST_F(SaveImageTest, FivePixelWide24BitInEveryFormat) {
    CDibImage image;
    ASSERT_TRUE(image.Create(5, 16, 24));
    Fill(image, [](int x, int y, int s) { return s == 2 ? 200 : (x * 10 + y + s * 50) % 64; });
    const auto at = [&](int x, int y, int s) { return image.row(y)[x * 3 + s]; };

    ASSERT_EQ(SaveImage(File("p.bmp").c_str(), &image, kBmp), 1);
    EXPECT_EQ(ReadBytes(File("p.bmp")).size(), 54u + 16 * 16);
    ASSERT_EQ(SaveImage(File("p.raw").c_str(), &image, kRaw), 1);
    EXPECT_EQ(ReadBytes(File("p.raw")).size(), 16u * 16);

    ASSERT_EQ(SaveImage(File("p.png").c_str(), &image, kPng), 1);
    const auto png = testing::ReadPng(File("p.png"));
    ASSERT_TRUE(png.ok);
    ASSERT_EQ(png.rows[0].size(), 15u);
    ASSERT_EQ(SaveImage(File("p.tif").c_str(), &image, kTiff), 1);
    const auto tif = testing::ReadTiff(File("p.tif"));
    ASSERT_TRUE(tif.ok);
    ASSERT_EQ(tif.strip.size(), 16u * 15);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 5; ++x) {
            for (int s = 0; s < 3; ++s) {
                ASSERT_EQ(png.rows[y][x * 3 + s], at(x, y, 2 - s)) << x << "," << y;
                ASSERT_EQ(tif.strip[y * 15 + x * 3 + s], at(x, y, 2 - s)) << x << "," << y;
            }
        }
    }

    if (!testing::HaveTool("djpeg")) GTEST_SKIP() << "djpeg is not installed";
    ASSERT_EQ(SaveImage(File("p.jpg").c_str(), &image, kJpeg100), 1);
    const Decoded d = testing::DecodeJpeg(File("p.jpg"));
    ASSERT_EQ(d.width, 5);
    ASSERT_EQ(d.height, 16);
    for (int y = 0; y < 16; ++y) EXPECT_NEAR(d.at(4, y, 0), 200, 3) << y;
}

TEST_F(SaveImageTest, CopyImageKeepsSizeFormatAndPixels) {
    for (uint16_t bits : {8, 16, 24, 32, 48, 64}) {
        CDibImage image, copy;
        ASSERT_TRUE(image.Create(7, 3, bits));
        Fill(image, [](int x, int y, int s) { return x * 3 + y * 50 + s; });
        ASSERT_EQ(CopyImage(&copy, image), 1);
        EXPECT_EQ(copy.width(), 7);
        EXPECT_EQ(copy.height(), 3);
        EXPECT_EQ(copy.bit_count(), bits);
        EXPECT_EQ(0, std::memcmp(copy.bits(), image.bits(), 3 * image.stride()));
    }
    CDibImage empty, copy;
    EXPECT_EQ(CopyImage(&copy, empty), 0);
}

// A copy made ready beforehand keeps its memory and takes the new pixels; a
// copy of another shape is made again.
TEST_F(SaveImageTest, CopyImageReusesACopyOfTheSameShape) {
    CDibImage image, copy;
    ASSERT_TRUE(image.Create(7, 3, 24));
    ASSERT_TRUE(copy.CreateLike(&image));
    const uint8_t* memory = copy.bits();
    Fill(image, [](int x, int y, int s) { return x + y + s + 1; });
    ASSERT_EQ(CopyImage(&copy, image), 1);
    EXPECT_EQ(copy.bits(), memory);
    EXPECT_EQ(0, std::memcmp(copy.bits(), image.bits(), 3 * image.stride()));

    CDibImage grey;
    ASSERT_TRUE(grey.Create(9, 2, 8));
    Fill(grey, [](int x, int, int) { return x * 20; });
    ASSERT_EQ(CopyImage(&copy, grey), 1);
    EXPECT_EQ(copy.bit_count(), 8);
    EXPECT_EQ(copy.width(), 9);
    EXPECT_EQ(0, std::memcmp(copy.bits(), grey.bits(), 2 * grey.stride()));
}

}  // namespace
}  // namespace vimbra
