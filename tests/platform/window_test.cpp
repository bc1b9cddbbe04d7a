#include "platform/window.h"

#include <gtest/gtest.h>

#include "platform/messages.h"

namespace vimbra::platform {
namespace {

class WindowFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SelectWindowBackend(WindowBackendKind::kOffscreen));
        ASSERT_TRUE(RegisterWindowClass(kClass));
        parent_ = CreateMessageWindow();
    }
    void TearDown() override {
        DestroyMessageWindow(parent_);
        UnregisterWindowClass(kClass);
    }
    HWND Child(int w, int h) {
        WindowParams p;
        p.class_name = kClass;
        p.style = kWsChild | kWsVisible;
        p.width = w;
        p.height = h;
        p.parent = parent_;
        return CreateWindow(p);
    }

    static constexpr char kClass[] = "WindowFixtureClass";
    HWND parent_ = nullptr;
};

TEST_F(WindowFixture, HandlesNeverEqualMessageWindows) {
    HWND windows[4], queues[4];
    for (int i = 0; i < 4; ++i) {
        windows[i] = Child(8, 8);
        queues[i] = CreateMessageWindow();
        ASSERT_NE(windows[i], nullptr);
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(IsMessageWindow(windows[i]));
        EXPECT_FALSE(IsDisplayWindow(queues[i]));
        EXPECT_FALSE(PostMessage(windows[i], 0x8002, 0, 0));
        for (int j = 0; j < 4; ++j) EXPECT_NE(windows[i], queues[j]);
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(DestroyWindow(windows[i]));
        EXPECT_TRUE(DestroyMessageWindow(queues[i]));
    }
}

TEST_F(WindowFixture, ClassesAreUniqueAndHeldByTheirWindows) {
    EXPECT_FALSE(RegisterWindowClass(kClass));
    EXPECT_FALSE(RegisterWindowClass(""));
    HWND w = Child(8, 8);
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(UnregisterWindowClass(kClass));
    ASSERT_TRUE(DestroyWindow(w));
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_TRUE(UnregisterWindowClass(kClass));
    EXPECT_EQ(Child(8, 8), nullptr);  // class gone
    ASSERT_TRUE(RegisterWindowClass(kClass));
}

TEST_F(WindowFixture, DcOfADestroyedWindowDrawsNothingUntilReleased) {
    HWND w = Child(4, 4);
    WindowDc* dc = GetWindowDc(w);
    ASSERT_NE(dc, nullptr);
    DeviceContext* mem = CreateCompatibleDc(nullptr);
    BitmapInfo info{};
    info.bmiHeader = {40, 4, 4, 1, 24, kBiRgb, 0, 0, 0, 0, 0};
    uint8_t* bits = nullptr;
    Bitmap* b = CreateDibSection(nullptr, &info, &bits);
    Bitmap* old = SelectBitmap(mem, b);
    EXPECT_EQ(BitBlt(dc, 0, 0, 4, 4, mem, 0, 0), 1);
    ASSERT_TRUE(DestroyWindow(w));
    EXPECT_EQ(BitBlt(dc, 0, 0, 4, 4, mem, 0, 0), 0);
    EXPECT_TRUE(ReleaseWindowDc(w, dc));
    SelectBitmap(mem, old);
    DeleteBitmap(b);
    DeleteDc(mem);
}

TEST_F(WindowFixture, WindowStartsBlack) {
    HWND w = Child(3, 2);
    WindowPixels p;
    ASSERT_TRUE(ReadWindowPixels(w, &p));
    EXPECT_EQ(p.width, 3);
    EXPECT_EQ(p.height, 2);
    EXPECT_EQ(p.bits, std::vector<uint8_t>(24, 0));
    DestroyWindow(w);
}

TEST_F(WindowFixture, BackEndCannotChangeWhileWindowsExist) {
    HWND w = Child(3, 2);
    EXPECT_FALSE(SelectWindowBackend(WindowBackendKind::kOffscreen));
    DestroyWindow(w);
    EXPECT_TRUE(SelectWindowBackend(WindowBackendKind::kOffscreen));
}

}  // namespace
}  // namespace vimbra::platform
