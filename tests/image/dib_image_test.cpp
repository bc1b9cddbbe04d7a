#include "image/dib_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/bitmap.h"

namespace vimbra {
namespace {

TEST(DibImageCreate, RefusesInvalidSizesAndKeepsTheImage) {
    CDibImage img;
    ASSERT_EQ(img.Create(64, 32, 8), 1);
    uint8_t* bits = img.bits();
    struct Case {
        int w, h;
        uint16_t bits;
    };
    for (Case c : {Case{0, 480, 8}, Case{640, 480, 0}, Case{640, 0, 24}, Case{-1, 10, 24},
                   Case{10, -3, 24}, Case{64, 64, 4}, Case{1 << 30, 1, 64}}) {
        EXPECT_EQ(img.Create(c.w, c.h, c.bits), 0) << c.w << " " << c.h << " " << c.bits;
        EXPECT_EQ(img.bits(), bits);
        EXPECT_EQ(img.width(), 64);
        EXPECT_EQ(img.bit_count(), 8);
    }
}

TEST(DibImageCreate, StrideAndHeader) {
    struct Case {
        int w, h;
        uint16_t bits;
        int stride;
    };
    const Case cases[] = {{641, 1, 24, 1924}, {640, 480, 16, 1280}, {641, 3, 8, 644},
                          {3, 2, 48, 20},     {5, 2, 64, 40},       {7, 1, 32, 28}};
    for (const Case& c : cases) {
        CDibImage img;
        ASSERT_EQ(img.Create(c.w, c.h, c.bits), 1);
        EXPECT_EQ(img.stride(), c.stride) << c.w << " x " << c.bits;
        const auto& h = img.header();
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, c.w);
        EXPECT_EQ(h.biHeight, c.h);  // bottom-up
        EXPECT_EQ(h.biPlanes, 1);
        EXPECT_EQ(h.biBitCount, c.bits);
        EXPECT_EQ(h.biCompression, 0u);
        EXPECT_EQ(h.biSizeImage, 0u);
        // Pixel memory is zeroed and aligned for vector loads.
        EXPECT_EQ(reinterpret_cast<uintptr_t>(img.bits()) % platform::kPixelAlignment, 0u);
        for (int i = 0; i < img.stride() * c.h; ++i) ASSERT_EQ(img.bits()[i], 0);
    }
}

TEST(DibImageCreate, GreyPaletteAndDeviceContexts) {
    CDibImage grey, deep;
    ASSERT_EQ(grey.Create(16, 16, 8), 1);
    const platform::RgbQuad& e = grey.palette()[200];
    EXPECT_EQ(e.rgbRed, 200);
    EXPECT_EQ(e.rgbGreen, 200);
    EXPECT_EQ(e.rgbBlue, 200);
    EXPECT_EQ(e.rgbReserved, 0);
    EXPECT_NE(grey.dc(), nullptr);
    // 48 and 64-bit pictures cannot be DIB sections: they live in heap memory
    // without a dc, which every pixel routine can still use.
    ASSERT_EQ(deep.Create(16, 16, 48), 1);
    EXPECT_EQ(deep.dc(), nullptr);
    EXPECT_NE(deep.bits(), nullptr);
}

TEST(DibImageLifecycle, DestroyInitAndCreateLike) {
    CDibImage a, b;
    a.Destroy();  // safe on an empty record
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(a.header().biSize, 40u);
    EXPECT_EQ(b.CreateLike(nullptr), 0);
    EXPECT_EQ(b.CreateLike(&a), 0);
    ASSERT_EQ(a.Create(33, 7, 24), 1);
    a.bits()[5] = 9;
    ASSERT_EQ(b.CreateLike(&a), 1);
    EXPECT_EQ(b.width(), 33);
    EXPECT_EQ(b.height(), 7);
    EXPECT_EQ(b.stride(), a.stride());
    EXPECT_EQ(b.bit_count(), 24);
    EXPECT_EQ(b.bits()[5], 0);  // pixels are not copied
    // Allocating again replaces the pixel memory (the leak check of the
    // sanitizer build sees the old one freed).
    ASSERT_EQ(b.Allocate(nullptr), 1);
    EXPECT_NE(b.dc(), nullptr);
    ASSERT_EQ(b.Create(4, 4, 64), 1);
    ASSERT_EQ(b.Allocate(nullptr), 1);
    b.Init();  // releases what it held
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.width(), 0);
    a.Destroy();
    a.Destroy();
    EXPECT_EQ(a.dc(), nullptr);
}

TEST(DibImagePalette, ModesAndRange) {
    CDibImage img;
    ASSERT_EQ(img.Create(4, 2, 8), 1);
    platform::RgbQuad red{0, 0, 255, 0};
    EXPECT_EQ(img.SetPalette(2, &red, 7, 1), 1);
    EXPECT_EQ(img.SetPalette(5, nullptr, 0, 0), 1);
    EXPECT_EQ(img.SetPalette(2, &red, 300, 1), 1);  // outside the table: nothing happens
    // Pixel value 7 now draws as red in a 24-bit copy.
    img.bits()[0] = 7;
    CDibImage out;
    ASSERT_EQ(out.Create(4, 2, 24), 1);
    ASSERT_EQ(out.Draw(&img, nullptr, 0, 0), 1);
    EXPECT_EQ(out.bits()[0], 0);
    EXPECT_EQ(out.bits()[2], 255);
}

// Records the arguments a pixel routine receives.
struct Call {
    int count = 0;
    Rect rect;
    int dst_x = -1, dst_row = -1;
    uint16_t dst_bpp = 0, src_bpp = 0;
    int dst_stride = 0, src_stride = 0;
};
Call g_call;

int Recorder(uint8_t*, const uint8_t*, const Rect& r, int dst_x, int dst_row, uint16_t dst_bpp,
             uint16_t src_bpp, int dst_stride, int src_stride, void**, void**) {
    ++g_call.count;
    g_call.rect = r;
    g_call.dst_x = dst_x;
    g_call.dst_row = dst_row;
    g_call.dst_bpp = dst_bpp;
    g_call.src_bpp = src_bpp;
    g_call.dst_stride = dst_stride;
    g_call.src_stride = src_stride;
    return 7;
}

TEST(ConvertBlit, ClipsAndTurnsRowsOver) {
    struct Case {
        const char* name;
        int sw, sh, dw, dh;
        bool has_rect;
        Rect rect;
        int x, y;
        int result;
        Rect want;
        int want_x, want_row;
    };
    const Case cases[] = {
        {"larger source", 640, 480, 320, 240, false, {}, 0, 0, 7, {0, 240, 320, 480}, 0, 0},
        {"right of destination", 640, 480, 640, 480, false, {}, 700, 0, 0, {}, 0, 0},
        {"left of destination", 640, 480, 640, 480, false, {}, -10, 0, 7, {10, 0, 640, 480}, 0, 0},
        {"below destination", 64, 48, 64, 48, false, {}, 0, 48, 0, {}, 0, 0},
        {"whole", 64, 48, 64, 48, false, {}, 0, 0, 7, {0, 0, 64, 48}, 0, 0},
        {"region", 64, 48, 64, 48, true, {4, 6, 14, 16}, 4, 6, 7, {4, 32, 14, 42}, 4, 32},
        {"shifted down", 64, 48, 64, 48, false, {}, 0, 8, 7, {0, 8, 64, 48}, 0, 0},
        {"rect outside source", 64, 48, 64, 48, true, {70, 0, 80, 10}, 0, 0, 0, {}, 0, 0},
        // A rectangle sticking out of the source is cut on both sides alike.
        {"rect past source",
         64,
         48,
         64,
         48,
         true,
         {60, 40, 70, 50},
         0,
         0,
         7,
         {60, 0, 64, 8},
         0,
         40},
        {"negative rect", 64, 48, 64, 48, true, {-5, 0, 10, 48}, 0, 0, 7, {0, 0, 10, 48}, 5, 0},
    };
    for (const Case& c : cases) {
        CDibImage src, dst;
        ASSERT_EQ(src.Create(c.sw, c.sh, 8), 1);
        ASSERT_EQ(dst.Create(c.dw, c.dh, 24), 1);
        g_call = Call{};
        int result = CDibImage::ConvertBlit(&dst, Recorder, &src, c.has_rect ? &c.rect : nullptr,
                                            c.x, c.y, nullptr, nullptr);
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(g_call.count, c.result ? 1 : 0) << c.name;
        if (c.result == 0) continue;
        EXPECT_EQ(g_call.rect.left, c.want.left) << c.name;
        EXPECT_EQ(g_call.rect.top, c.want.top) << c.name;
        EXPECT_EQ(g_call.rect.right, c.want.right) << c.name;
        EXPECT_EQ(g_call.rect.bottom, c.want.bottom) << c.name;
        EXPECT_EQ(g_call.dst_x, c.want_x) << c.name;
        EXPECT_EQ(g_call.dst_row, c.want_row) << c.name;
        EXPECT_EQ(g_call.dst_bpp, 3);
        EXPECT_EQ(g_call.src_bpp, 1);
        EXPECT_EQ(g_call.dst_stride, dst.stride());
        EXPECT_EQ(g_call.src_stride, src.stride());
        // Whatever was clipped, the rectangle lies inside both images.
        int w = g_call.rect.right - g_call.rect.left, h = g_call.rect.bottom - g_call.rect.top;
        EXPECT_LE(g_call.dst_x + w, c.dw) << c.name;
        EXPECT_LE(g_call.dst_row + h, c.dh) << c.name;
    }
}

TEST(ConvertBlit, NullRoutineOrImage) {
    CDibImage a, b;
    ASSERT_EQ(a.Create(8, 8, 8), 1);
    EXPECT_EQ(CDibImage::ConvertBlit(&a, nullptr, &a, nullptr, 0, 0, nullptr, nullptr), 0);
    g_call = Call{};
    EXPECT_EQ(CDibImage::ConvertBlit(&a, Recorder, &b, nullptr, 0, 0, nullptr, nullptr), 0);
    EXPECT_EQ(CDibImage::ConvertBlit(nullptr, Recorder, &a, nullptr, 0, 0, nullptr, nullptr), 0);
    EXPECT_EQ(g_call.count, 0);
}

Rect g_scale_dst, g_scale_src;
uint64_t g_scale_sizes[2];
int ScaleRecorder(uint8_t*, const uint8_t*, const Rect& d, const Rect& s, uint64_t dst_size,
                  uint64_t src_size, uint16_t, uint16_t, int, int, void**, void**) {
    g_scale_dst = d;
    g_scale_src = s;
    g_scale_sizes[0] = dst_size;
    g_scale_sizes[1] = src_size;
    return 3;
}

TEST(ScaleBlit, WholeImagesAndPackedSizes) {
    CDibImage src, dst;
    ASSERT_EQ(src.Create(640, 480, 24), 1);
    ASSERT_EQ(dst.Create(300, 200, 24), 1);
    EXPECT_EQ(CDibImage::ScaleBlit(&dst, nullptr, &src, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(CDibImage::ScaleBlit(&dst, ScaleRecorder, &src, nullptr, nullptr, nullptr, nullptr),
              3);
    EXPECT_EQ(g_scale_dst.right, 300);
    EXPECT_EQ(g_scale_dst.bottom, 200);
    EXPECT_EQ(g_scale_src.right, 640);
    EXPECT_EQ(g_scale_src.bottom, 480);
    EXPECT_EQ(g_scale_sizes[0], (uint64_t{200} << 32) | 300);
    EXPECT_EQ(g_scale_sizes[1], (uint64_t{480} << 32) | 640);
}

// The blits of the display, JPEG and AVI paths, on small pictures.
TEST(PlatformBlits, GreyExpandsAndStretchTurnsOver) {
    CDibImage grey, colour, turned;
    ASSERT_EQ(grey.Create(3, 2, 8), 1);
    for (int i = 0; i < 3; ++i) grey.row(0)[i] = static_cast<uint8_t>(10 + i);
    for (int i = 0; i < 3; ++i) grey.row(1)[i] = static_cast<uint8_t>(20 + i);
    ASSERT_EQ(colour.Create(3, 2, 24), 1);
    ASSERT_EQ(colour.Draw(&grey, nullptr, 0, 0), 1);
    for (int r = 0; r < 2; ++r) {
        for (int i = 0; i < 3; ++i) {
            for (int c = 0; c < 3; ++c) EXPECT_EQ(colour.row(r)[3 * i + c], grey.row(r)[i]);
        }
    }
    // Source origin (0, H), height -H: memory row 0 lands in the last row.
    ASSERT_EQ(turned.Create(3, 2, 24), 1);
    ASSERT_EQ(platform::StretchBlt(turned.dc(), 0, 0, 3, 2, colour.dc(), 0, 2, 3, -2), 1);
    EXPECT_EQ(turned.row(1)[0], 10);
    EXPECT_EQ(turned.row(0)[0], 20);
    EXPECT_EQ(turned.row(0)[8], 22);
    // Doubling in both directions picks the nearest pixel.
    CDibImage big;
    ASSERT_EQ(big.Create(6, 4, 32), 1);
    ASSERT_EQ(platform::StretchBlt(big.dc(), 0, 0, 6, 4, colour.dc(), 0, 0, 3, 2), 1);
    EXPECT_EQ(big.row(0)[0], 10);
    EXPECT_EQ(big.row(1)[4], 10);
    EXPECT_EQ(big.row(3)[4 * 5], 22);
    // A partial Draw lands at the GDI position: y = 0 is the last memory row.
    CDibImage small;
    ASSERT_EQ(small.Create(3, 2, 8), 1);
    Rect one{1, 0, 2, 1};  // GDI row 0 = memory row 1 of the grey image
    ASSERT_EQ(small.Draw(&grey, &one, 0, 0), 1);
    EXPECT_EQ(small.row(1)[0], 21);
    // Images without a dc cannot be drawn.
    CDibImage deep;
    ASSERT_EQ(deep.Create(3, 2, 48), 1);
    EXPECT_EQ(colour.Draw(&deep, nullptr, 0, 0), 0);
}

TEST(PlatformBlits, ColourDepthsConvert) {
    CDibImage c24, c32, back;
    ASSERT_EQ(c24.Create(5, 2, 24), 1);
    ASSERT_EQ(c32.Create(5, 2, 32), 1);
    ASSERT_EQ(back.Create(5, 2, 24), 1);
    for (int i = 0; i < c24.stride() * 2; ++i) c24.bits()[i] = static_cast<uint8_t>(i + 1);
    std::memset(c32.bits(), 0xEE, static_cast<size_t>(c32.stride()) * 2);
    ASSERT_EQ(c32.Draw(&c24, nullptr, 0, 0), 1);
    ASSERT_EQ(back.Draw(&c32, nullptr, 0, 0), 1);
    for (int r = 0; r < 2; ++r) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(c32.row(r)[4 * x + 3], 0);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(c32.row(r)[4 * x + c], c24.row(r)[3 * x + c]);
                EXPECT_EQ(back.row(r)[3 * x + c], c24.row(r)[3 * x + c]);
            }
        }
    }
}

// A DIB section over the caller's memory (a window system's surface): blits
// land in that memory, laid out as CreateDibSection lays out its rows, and
// deleting the bitmap leaves the memory to its owner.
TEST(PlatformBlits, DibSectionOnCallersMemory) {
    platform::BitmapInfo info{};
    info.bmiHeader.biSize = sizeof(platform::BitmapInfoHeader);
    info.bmiHeader.biWidth = 3;
    info.bmiHeader.biHeight = -2;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    std::vector<uint8_t> memory(3 * 4 * 2, 0xEE);
    EXPECT_EQ(platform::CreateDibSectionOn(&info, nullptr), nullptr);
    platform::BitmapInfo deep = info;
    deep.bmiHeader.biBitCount = 48;
    EXPECT_EQ(platform::CreateDibSectionOn(&deep, memory.data()), nullptr);

    platform::Bitmap* on = platform::CreateDibSectionOn(&info, memory.data());
    ASSERT_NE(on, nullptr);
    platform::DeviceContext* dc = platform::CreateCompatibleDc(nullptr);
    platform::Bitmap* before = platform::SelectBitmap(dc, on);
    EXPECT_EQ(platform::GetDibView(dc).bits, memory.data());
    CDibImage colour;
    ASSERT_EQ(colour.Create(3, 2, 24), 1);
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 9; ++i) colour.row(r)[i] = static_cast<uint8_t>(10 * r + i);
    ASSERT_EQ(platform::BitBlt(dc, 0, 0, 3, 2, colour.dc(), 0, 0), 1);
    platform::SelectBitmap(dc, before);
    EXPECT_TRUE(platform::DeleteBitmap(on));
    platform::DeleteDc(dc);
    // Bottom-up source, top-down destination: memory rows are swapped.
    for (int r = 0; r < 2; ++r) {
        for (int x = 0; x < 3; ++x) {
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(memory[r * 12 + 4 * x + c], colour.row(1 - r)[3 * x + c]);
            EXPECT_EQ(memory[r * 12 + 4 * x + 3], 0);
        }
    }
}

TEST(PlatformBlits, SixteenBitIsFiveFiveFive) {
    CDibImage c24, c16, back;
    ASSERT_EQ(c24.Create(1, 1, 24), 1);
    ASSERT_EQ(c16.Create(1, 1, 16), 1);
    ASSERT_EQ(back.Create(1, 1, 32), 1);
    c24.bits()[0] = 0xFF;  // blue
    c24.bits()[2] = 0x80;  // red
    ASSERT_EQ(c16.Draw(&c24, nullptr, 0, 0), 1);
    EXPECT_EQ(c16.bits()[0] | (c16.bits()[1] << 8), (0x10 << 10) | 0x1F);
    ASSERT_EQ(back.Draw(&c16, nullptr, 0, 0), 1);
    EXPECT_EQ(back.bits()[0], 0xFF);
    EXPECT_EQ(back.bits()[2], 0x84);
}

}  // namespace
}  // namespace vimbra
