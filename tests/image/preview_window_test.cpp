#include "image/preview_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/messages.h"
#include "platform/window.h"

namespace vimbra {
namespace {

using platform::WindowPixels;

// Pixel (x, y) of a window read-back as 0x00RRGGBB.
uint32_t At(const WindowPixels& p, int x, int y) {
    const uint8_t* q = p.bits.data() + (static_cast<size_t>(y) * p.width + x) * 4;
    return (uint32_t{q[2]} << 16) | (uint32_t{q[1]} << 8) | q[0];
}

// A colour per pixel that no two pixels of a small picture share.
uint32_t Colour(int x, int y) {
    return 0x102030u + static_cast<uint32_t>(y) * 0x050000u + static_cast<uint32_t>(x) * 0x000705u;
}

void FillColour(CDibImage& image, int bytes_per_sample) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const uint32_t c = Colour(x, y);
            uint8_t* px = image.row(y) + x * image.bytes_per_pixel();
            for (int k = 0; k < 3; ++k) {
                const uint8_t v = static_cast<uint8_t>(c >> (8 * k));
                if (bytes_per_sample == 1) {
                    px[k] = v;
                } else {
                    // 12-bit samples that reduce to v by a shift of 4.
                    const uint16_t s = static_cast<uint16_t>(v << 4 | 0xA);
                    std::memcpy(px + 2 * k, &s, 2);
                }
            }
        }
    }
}

uint8_t Grey(int x, int y) {
    return static_cast<uint8_t>(10 + 40 * y + 7 * x);
}

// A small picture in every image a colour mode reads, with the session's
// layout: rgb24 beside the deeper colour images, raw8 beside raw16.
class PreviewFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(platform::SelectWindowBackend(platform::WindowBackendKind::kOffscreen));
        parent_ = platform::CreateMessageWindow();
    }
    void TearDown() override {
        window_.Close();
        platform::DestroyMessageWindow(parent_);
    }

    void MakePicture(int w, int h) {
        ASSERT_EQ(raw8_.Create(w, h, 8), 1);
        ASSERT_EQ(raw16_.Create(w, h, 16), 1);
        ASSERT_EQ(rgb24_.Create(w, h, 24), 1);
        ASSERT_EQ(rgb32_.Create(w, h, 32), 1);
        ASSERT_EQ(rgb48_.Create(w, h, 48), 1);
        ASSERT_EQ(rgb64_.Create(w, h, 64), 1);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                raw8_.row(y)[x] = Grey(x, y);
                const uint16_t s = static_cast<uint16_t>(Grey(x, y) << 4 | 0x5);
                std::memcpy(raw16_.row(y) + 2 * x, &s, 2);
            }
        }
        FillColour(rgb24_, 1);
        FillColour(rgb32_, 1);
        FillColour(rgb48_, 2);
        FillColour(rgb64_, 2);
    }

    // Source images the session would hand over for a colour mode: the
    // 8-bit and 24-bit images are cleared where the mode fills them.
    FrameImages Images(int32_t mode) {
        if (mode == 1)
            std::memset(raw8_.bits(), 0, static_cast<size_t>(raw8_.stride()) * raw8_.height());
        if (mode >= 3)
            std::memset(rgb24_.bits(), 0, static_cast<size_t>(rgb24_.stride()) * rgb24_.height());
        return FrameImages{&raw8_, &raw16_, &rgb24_, &rgb32_, &rgb48_, &rgb64_, nullptr};
    }

    void OpenChild(int w, int h) {
        const int32_t rect[4] = {5, 7, w, h};
        ASSERT_TRUE(window_.Open(parent_, rect, 0, 0, 0, this));
    }

    WindowPixels Shown() {
        WindowPixels p;
        EXPECT_TRUE(platform::ReadWindowPixels(window_.Handle(), &p));
        return p;
    }

    uint32_t Expected(int32_t mode, int x, int y) {
        if (mode <= 1) return Grey(x, y) * 0x010101u;
        return Colour(x, y);
    }

    HWND parent_ = nullptr;
    PreviewWindow window_;
    CDibImage raw8_, raw16_, rgb24_, rgb32_, rgb48_, rgb64_;
};

TEST_F(PreviewFixture, EveryColourModeIsShownUprightAtItsOwnSize) {
    MakePicture(5, 3);
    OpenChild(5, 3);
    for (int32_t mode = 0; mode < kColourModeCount; ++mode) {
        SCOPED_TRACE(mode);
        EXPECT_NE(window_.ShowFrame(mode, Images(mode)), 0);
        const WindowPixels p = Shown();
        ASSERT_EQ(p.width, 5);
        ASSERT_EQ(p.height, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(At(p, x, y), Expected(mode, x, y)) << x << "," << y;
    }
}

TEST_F(PreviewFixture, SameSizeDrawsDirectlyExceptSixteenBitGrey) {
    MakePicture(5, 3);
    OpenChild(5, 3);
    window_.ShowFrame(2, Images(2));
    EXPECT_TRUE(window_.display_image().empty());
    window_.ShowFrame(1, Images(1));
    EXPECT_EQ(window_.display_image().width(), 5);
    EXPECT_EQ(window_.display_image().bit_count(), 8);
}

TEST_F(PreviewFixture, TwoByTwoScaledToFourByFourRepeatsEachPixel) {
    MakePicture(2, 2);
    OpenChild(4, 4);
    for (int32_t mode : {0, 2}) {
        SCOPED_TRACE(mode);
        EXPECT_NE(window_.ShowFrame(mode, Images(mode)), 0);
        const WindowPixels p = Shown();
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(At(p, x, y), Expected(mode, x / 2, y / 2));
        // The display image holds the picture turned over, as a bottom-up
        // bitmap is drawn upright.
        const CDibImage& d = window_.display_image();
        const int bpp = d.bytes_per_pixel();
        EXPECT_EQ(d.row(0)[0], mode == 0 ? Grey(0, 1) : static_cast<uint8_t>(Colour(0, 1)));
        EXPECT_EQ(d.row(3)[3 * bpp], mode == 0 ? Grey(1, 0) : static_cast<uint8_t>(Colour(1, 0)));
    }
}

TEST_F(PreviewFixture, ResizeRecreatesTheDisplayImageOnceThenReusesIt) {
    MakePicture(8, 6);
    OpenChild(8, 6);
    window_.ShowFrame(2, Images(2));
    ASSERT_TRUE(platform::ResizeWindow(window_.Handle(), 640, 480));
    window_.ShowFrame(2, Images(2));
    const uint8_t* first = window_.display_image().bits();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(window_.display_image().width(), 640);
    EXPECT_EQ(window_.display_image().height(), 480);
    window_.ShowFrame(2, Images(2));
    EXPECT_EQ(window_.display_image().bits(), first);
    const WindowPixels p = Shown();
    EXPECT_EQ(At(p, 639, 479), Colour(7, 5));
    EXPECT_EQ(At(p, 0, 0), Colour(0, 0));
}

TEST_F(PreviewFixture, ColourModeChangeAtOneSizeChangesTheDisplayFormat) {
    MakePicture(2, 2);
    OpenChild(4, 4);
    window_.ShowFrame(0, Images(0));
    EXPECT_EQ(window_.display_image().bit_count(), 8);
    window_.ShowFrame(2, Images(2));
    EXPECT_EQ(window_.display_image().bit_count(), 24);
    EXPECT_EQ(At(Shown(), 3, 3), Colour(1, 1));
}

TEST_F(PreviewFixture, HiddenWindowIsNotDrawn) {
    MakePicture(2, 2);
    OpenChild(2, 2);
    ASSERT_TRUE(platform::ShowWindow(window_.Handle(), false));
    EXPECT_EQ(window_.ShowFrame(2, Images(2)), 0);
    EXPECT_EQ(At(Shown(), 0, 0), 0u);
}

TEST_F(PreviewFixture, NothingToDrawIsNotAFailure) {
    OpenChild(4, 4);
    EXPECT_NE(window_.ShowFrame(2, FrameImages{}), 0);
    ASSERT_TRUE(platform::ResizeWindow(window_.Handle(), 0, 4));
    MakePicture(2, 2);
    EXPECT_NE(window_.ShowFrame(2, Images(2)), 0);
}

TEST_F(PreviewFixture, ChildWindowTakesTheRectangleAsPositionAndSize) {
    OpenChild(320, 240);
    platform::WindowDescription d;
    ASSERT_TRUE(platform::DescribeWindow(window_.Handle(), &d));
    EXPECT_EQ(d.title, "ActiveMovie Window");
    EXPECT_EQ(d.style, 0x52000000u);
    EXPECT_EQ(d.parent, parent_);
    EXPECT_EQ(d.id, 6540);
    EXPECT_EQ(d.window_rect.left, 5);
    EXPECT_EQ(d.window_rect.top, 7);
    EXPECT_EQ(d.window_rect.right, 325);
    EXPECT_EQ(d.window_rect.bottom, 247);
    EXPECT_TRUE(platform::IsWindowVisible(window_.Handle()));
}

TEST_F(PreviewFixture, TopLevelWindowIsCentredWithTheFrameAsClientArea) {
    const int32_t rect[4] = {0, 0, 1280, 1024};
    ASSERT_TRUE(window_.Open(nullptr, rect, 1280, 1024, 2, this));
    platform::WindowRect client;
    ASSERT_TRUE(platform::GetClientRect(window_.Handle(), &client));
    EXPECT_EQ(client.right, 320);
    EXPECT_EQ(client.bottom, 256);
    platform::WindowDescription d;
    ASSERT_TRUE(platform::DescribeWindow(window_.Handle(), &d));
    EXPECT_EQ(d.title, "Active Window");
    EXPECT_EQ(d.style, 0x16CF0000u);
    EXPECT_EQ(d.parent, nullptr);
    int32_t sw = 0, sh = 0;
    platform::GetScreenSize(&sw, &sh);
    const int32_t ww = d.window_rect.right - d.window_rect.left;
    const int32_t wh = d.window_rect.bottom - d.window_rect.top;
    EXPECT_GT(ww, 320);  // the frame is around the client area
    EXPECT_EQ(d.window_rect.left, (sw - ww) / 2);
    EXPECT_EQ(d.window_rect.top, (sh - wh) / 2);
}

TEST(PreviewFrameSize, SubSampleDividesTheFrame) {
    struct Case {
        int32_t sub_sample, width, height;
    };
    for (const Case& c :
         {Case{0, 1280, 1024}, Case{1, 640, 512}, Case{17, 640, 512}, Case{2, 320, 256},
          Case{18, 320, 256}, Case{3, 160, 128}, Case{19, 160, 128}}) {
        int32_t w = 0, h = 0;
        PreviewFrameSize(1280, 1024, c.sub_sample, &w, &h);
        EXPECT_EQ(w, c.width) << c.sub_sample;
        EXPECT_EQ(h, c.height) << c.sub_sample;
    }
}

TEST_F(PreviewFixture, ClassNamesDifferBetweenSessionsOpenedTogether) {
    int session_a = 0, session_b = 0;
    const int32_t rect[4] = {0, 0, 16, 16};
    PreviewWindow a, b;
    ASSERT_TRUE(a.Open(parent_, rect, 0, 0, 0, &session_a));
    ASSERT_TRUE(b.Open(parent_, rect, 0, 0, 0, &session_b));
    EXPECT_STRNE(a.ClassName(), b.ClassName());
    EXPECT_THAT(a.ClassName(), ::testing::MatchesRegex("VideoRenderer_[0-9a-f]{8}_[0-9a-f]{8}"));
    char owner[16];
    std::snprintf(owner, sizeof owner, "%08x",
                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&session_a)));
    EXPECT_EQ(std::string(a.ClassName()).substr(14, 8), owner);
    platform::WindowDescription d;
    ASSERT_TRUE(platform::DescribeWindow(a.Handle(), &d));
    EXPECT_EQ(d.class_name, a.ClassName());
}

TEST_F(PreviewFixture, CloseReleasesTheWindowAndItsClass) {
    OpenChild(16, 16);
    const HWND h = window_.Handle();
    const std::string name = window_.ClassName();
    window_.Close();
    EXPECT_EQ(window_.Handle(), nullptr);
    EXPECT_FALSE(platform::IsDisplayWindow(h));
    // Unregistered: the name can be registered again.
    EXPECT_TRUE(platform::RegisterWindowClass(name.c_str()));
    EXPECT_TRUE(platform::UnregisterWindowClass(name.c_str()));
    window_.Close();  // twice is harmless
}

TEST_F(PreviewFixture, OpenFailsWithoutAUsablePlaceForTheWindow) {
    const int32_t zero[4] = {0, 0, 0, 0};
    const int32_t some[4] = {0, 0, 64, 48};
    const int32_t negative[4] = {0, 0, -1, 48};
    struct Case {
        const char* what;
        HWND parent;
        const int32_t* rect;
        int32_t frame_w, frame_h;
    };
    const Case cases[] = {
        {"all-zero rectangle and no parent", nullptr, zero, 1280, 1024},
        {"no rectangle", parent_, nullptr, 1280, 1024},
        {"unknown parent", reinterpret_cast<HWND>(uintptr_t{0x1234567}), some, 0, 0},
        {"negative size", parent_, negative, 0, 0},
        {"empty frame for a top-level window", nullptr, some, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PreviewWindow w;
        EXPECT_FALSE(w.Open(c.parent, c.rect, c.frame_w, c.frame_h, 0, this));
        EXPECT_EQ(w.Handle(), nullptr);
        EXPECT_STREQ(w.ClassName(), "");
    }
}

TEST(Scale, FactorsAreSinglePrecision) {
    // 26 rows onto 22: row 11 takes trunc(11 * (26f / 22f)) = 12 in single
    // precision, where the exact quotient gives 13. Likewise for columns.
    constexpr int kS = 26, kD = 22;
    uint8_t src[kS * kS], dst[kD * kD] = {};
    for (int r = 0; r < kS; ++r)
        for (int c = 0; c < kS; ++c) src[r * kS + c] = static_cast<uint8_t>(r * 8 + (c & 7));
    const Rect s{0, 0, kS, kS}, d{0, 0, kD, kD};
    const uint64_t src_size = (uint64_t{kS} << 32) | kS;
    const uint64_t dst_size = (uint64_t{kD} << 32) | kD;
    ASSERT_EQ(Scale8(dst, src, d, s, dst_size, src_size, 1, 1, kD, kS, nullptr, nullptr), 1);
    // Destination row 11 reads source memory row 26 - 12 - 1 = 13.
    EXPECT_EQ(dst[11 * kD + 0], 13 * 8);
    // Destination column 11 reads source column 12.
    EXPECT_EQ(dst[0 * kD + 11], 25 * 8 + (12 & 7));
}

TEST(Scale, TwentyFourBitCopiesThreeBytesOfEachPixel) {
    // 32-bit source: the fourth byte stays behind.
    const uint8_t src[2 * 4] = {1, 2, 3, 99, 4, 5, 6, 99};
    uint8_t dst[4 * 3] = {};
    const uint64_t src_size = (uint64_t{1} << 32) | 2;
    ASSERT_EQ(Scale24(dst, src, Rect{0, 0, 4, 1}, Rect{0, 0, 2, 1}, 0, src_size, 3, 4, 12, 8,
                      nullptr, nullptr),
              1);
    const uint8_t expected[12] = {1, 2, 3, 1, 2, 3, 4, 5, 6, 4, 5, 6};
    EXPECT_EQ(std::memcmp(dst, expected, 12), 0);
    EXPECT_EQ(Scale24(dst, src, Rect{0, 0, 0, 1}, Rect{0, 0, 2, 1}, 0, src_size, 3, 4, 12, 8,
                      nullptr, nullptr),
              0);
}

}  // namespace
}  // namespace vimbra
