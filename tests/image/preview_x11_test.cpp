// The preview on a real X server (Xvfb), with and without the shared-memory
// extension: what the screen shows is read back from the server and compared
// with the frame.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "image/preview_window.h"
#include "platform/window.h"
#include "xvfb_server.h"

// Last: Xlib defines macros (None, Status, True) that other headers use as names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "x11_host_window.h"

namespace vimbra {
namespace {

using testing::XvfbServer;

// One server per flavour, started on first use and kept for the program.
XvfbServer* Server(bool shm) {
    static std::map<bool, std::unique_ptr<XvfbServer>> servers;
    auto& s = servers[shm];
    if (s == nullptr) {
        s = std::make_unique<XvfbServer>(shm ? std::vector<std::string>{}
                                             : std::vector<std::string>{"-extension", "MIT-SHM"});
    }
    return s.get();
}

// Waits for a condition the X server brings about asynchronously.
bool Eventually(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

uint32_t Colour(int x, int y) {
    const uint32_t c = 0x204060u ^ (static_cast<uint32_t>(x) * 0x0B0301u) ^
                       (static_cast<uint32_t>(y) << 16) ^ (static_cast<uint32_t>(y) * 0x000D00u);
    return c & 0xFFFFFFu;
}

class PreviewX11 : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        XvfbServer* server = Server(GetParam());
        if (!server->ok()) GTEST_SKIP() << "Xvfb is not available";
        ASSERT_TRUE(
            platform::SelectWindowBackend(platform::WindowBackendKind::kX11, server->name()));
        host_ = XOpenDisplay(server->name());
        ASSERT_NE(host_, nullptr);
    }
    void TearDown() override {
        window_.Close();
        if (host_ != nullptr) XCloseDisplay(host_);
        platform::SelectWindowBackend(platform::WindowBackendKind::kOffscreen);
    }

    void MakePicture(int w, int h) {
        ASSERT_EQ(rgb24_.Create(w, h, 24), 1);
        ASSERT_EQ(raw8_.Create(w, h, 8), 1);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const uint32_t c = Colour(x, y);
                uint8_t* p = rgb24_.row(y) + 3 * x;
                p[0] = static_cast<uint8_t>(c);
                p[1] = static_cast<uint8_t>(c >> 8);
                p[2] = static_cast<uint8_t>(c >> 16);
                raw8_.row(y)[x] = static_cast<uint8_t>(c);
            }
        }
    }
    FrameImages Images() {
        return FrameImages{&raw8_, nullptr, &rgb24_, nullptr, nullptr, nullptr, nullptr};
    }

    // The host's own window, mapped at (x, y) on the screen.
    Window HostWindow(int x, int y, int w, int h) {
        return testing::MapHostWindow(host_, x, y, w, h);
    }

    // True when the screen at (x, y) shows the picture scaled by `scale`
    // (mode 0: as grey, mode 2: in colour).
    bool ScreenShows(int x, int y, int scale, int mode) {
        const int w = rgb24_.width() * scale, h = rgb24_.height() * scale;
        XImage* shot = XGetImage(host_, RootWindow(host_, DefaultScreen(host_)), x, y, w, h,
                                 AllPlanes, ZPixmap);
        if (shot == nullptr) return false;
        bool same = true;
        for (int yy = 0; yy < h && same; ++yy) {
            for (int xx = 0; xx < w && same; ++xx) {
                const uint32_t c = Colour(xx / scale, yy / scale);
                const uint32_t want = mode == 0 ? (c & 0xFF) * 0x010101u : c;
                same = (XGetPixel(shot, xx, yy) & 0xFFFFFF) == want;
            }
        }
        XDestroyImage(shot);
        return same;
    }

    Display* host_ = nullptr;
    PreviewWindow window_;
    CDibImage rgb24_, raw8_;
};

TEST_P(PreviewX11, TopLevelWindowDrawnFromAnotherThreadShowsTheFrameUpright) {
    MakePicture(320, 256);
    const int32_t rect[4] = {0, 0, 1280, 1024};
    ASSERT_TRUE(window_.Open(nullptr, rect, 1280, 1024, 2, this));
    int32_t shown = 0;
    std::thread worker([&] { shown = window_.ShowFrame(2, Images()); });
    worker.join();
    EXPECT_NE(shown, 0);
    platform::WindowDescription d;
    ASSERT_TRUE(platform::DescribeWindow(window_.Handle(), &d));
    EXPECT_EQ(d.window_rect.right - d.window_rect.left, 320);
    EXPECT_EQ(d.window_rect.left, (1280 - 320) / 2);
    EXPECT_EQ(d.window_rect.top, (1024 - 256) / 2);
    EXPECT_TRUE(ScreenShows(d.window_rect.left, d.window_rect.top, 1, 2));
}

TEST_P(PreviewX11, ChildOfAHostWindowSurvivesExposeAndResize) {
    MakePicture(16, 12);
    const Window host = HostWindow(100, 50, 400, 300);
    HWND parent = platform::WindowFromX11(host);
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(platform::WindowFromX11(host), parent);
    const int32_t rect[4] = {10, 20, 32, 24};
    ASSERT_TRUE(window_.Open(parent, rect, 0, 0, 0, this));
    EXPECT_NE(window_.ShowFrame(0, Images()), 0);
    EXPECT_TRUE(ScreenShows(110, 70, 2, 0));

    // Hidden and shown again, the window is drawn anew from what it showed.
    XUnmapWindow(host_, host);
    XSync(host_, False);
    XMapWindow(host_, host);
    XSync(host_, False);
    EXPECT_TRUE(Eventually([&] { return ScreenShows(110, 70, 2, 0); }));

    // The host resizes the preview: later frames fill the new size.
    Window root, parent_of, *children = nullptr;
    unsigned count = 0;
    ASSERT_NE(XQueryTree(host_, host, &root, &parent_of, &children, &count), 0);
    ASSERT_EQ(count, 1u);
    XResizeWindow(host_, children[0], 48, 36);
    XFree(children);
    XSync(host_, False);
    ASSERT_TRUE(Eventually([&] {
        platform::WindowRect r;
        return platform::GetClientRect(window_.Handle(), &r) && r.right == 48 && r.bottom == 36;
    }));
    EXPECT_NE(window_.ShowFrame(2, Images()), 0);
    EXPECT_TRUE(ScreenShows(110, 70, 3, 2));
    XDestroyWindow(host_, host);
}

TEST_P(PreviewX11, HostClosingTheParentLeavesAWindowThatIsNotDrawn) {
    MakePicture(16, 12);
    const Window host = HostWindow(0, 0, 100, 100);
    const int32_t rect[4] = {0, 0, 16, 12};
    ASSERT_TRUE(window_.Open(platform::WindowFromX11(host), rect, 0, 0, 0, this));
    EXPECT_NE(window_.ShowFrame(2, Images()), 0);
    XDestroyWindow(host_, host);
    XSync(host_, False);
    ASSERT_TRUE(Eventually([&] { return !platform::IsWindowVisible(window_.Handle()); }));
    EXPECT_EQ(window_.ShowFrame(2, Images()), 0);
    EXPECT_TRUE(platform::IsDisplayWindow(window_.Handle()));
    window_.Close();
    EXPECT_EQ(window_.Handle(), nullptr);
}

TEST_P(PreviewX11, DrawingGoesOnWhileTheHostResizesHidesAndClosesTheParent) {
    MakePicture(64, 48);
    const Window host = HostWindow(0, 0, 300, 200);
    const int32_t rect[4] = {0, 0, 64, 48};
    ASSERT_TRUE(window_.Open(platform::WindowFromX11(host), rect, 0, 0, 0, this));
    Window root, parent_of, *children = nullptr;
    unsigned count = 0;
    ASSERT_NE(XQueryTree(host_, host, &root, &parent_of, &children, &count), 0);
    ASSERT_EQ(count, 1u);
    const Window child = children[0];
    XFree(children);

    std::atomic<bool> parent_closed{false};
    std::atomic<int> frames_after_close{0};
    std::thread worker([&] {
        // Frames keep coming until the closed parent has taken the window.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (frames_after_close < 1 && std::chrono::steady_clock::now() < end) {
            const bool closed = parent_closed;
            if (window_.ShowFrame(2, Images()) == 0 && closed) ++frames_after_close;
        }
    });
    for (int i = 0; i < 40; ++i) {
        XResizeWindow(host_, child, 32 + 7 * i, 24 + 5 * i);
        if (i % 8 == 0) XUnmapWindow(host_, host);
        if (i % 8 == 4) XMapWindow(host_, host);
        XSync(host_, False);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    XDestroyWindow(host_, host);
    XSync(host_, False);
    parent_closed = true;
    worker.join();
    EXPECT_EQ(frames_after_close, 1);
    EXPECT_FALSE(platform::IsWindowVisible(window_.Handle()));
}

TEST_P(PreviewX11, UnknownX11WindowGivesNoHandle) {
    EXPECT_EQ(platform::WindowFromX11(0), nullptr);
    EXPECT_EQ(platform::WindowFromX11(0x7FFFFFF), nullptr);
}

TEST_P(PreviewX11, EnvironmentChoosesTheBackEnd) {
    const char* offscreen_env = std::getenv("VIMBRA_WINDOWS");
    const std::string saved = offscreen_env != nullptr ? offscreen_env : "";
    const char* display_env = std::getenv("DISPLAY");
    const std::string saved_display = display_env != nullptr ? display_env : "";
    setenv("DISPLAY", Server(GetParam())->name(), 1);
    struct Case {
        const char* windows;  // VIMBRA_WINDOWS, nullptr: unset
        platform::WindowBackendKind kind;
    };
    for (const Case& c : {Case{nullptr, platform::WindowBackendKind::kX11},
                          Case{"offscreen", platform::WindowBackendKind::kOffscreen},
                          Case{"x11", platform::WindowBackendKind::kX11}}) {
        if (c.windows != nullptr)
            setenv("VIMBRA_WINDOWS", c.windows, 1);
        else
            unsetenv("VIMBRA_WINDOWS");
        ASSERT_TRUE(platform::SelectDefaultWindowBackend());
        EXPECT_EQ(platform::ActiveWindowBackend(), c.kind) << (c.windows ? c.windows : "unset");
    }
    // No display at all: off-screen.
    unsetenv("VIMBRA_WINDOWS");
    setenv("DISPLAY", ":999999", 1);
    ASSERT_TRUE(platform::SelectDefaultWindowBackend());
    EXPECT_EQ(platform::ActiveWindowBackend(), platform::WindowBackendKind::kOffscreen);
    if (offscreen_env != nullptr) setenv("VIMBRA_WINDOWS", saved.c_str(), 1);
    if (display_env != nullptr)
        setenv("DISPLAY", saved_display.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

INSTANTIATE_TEST_SUITE_P(SharedMemory, PreviewX11, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) {
                             return i.param ? std::string("Shm") : std::string("PutImage");
                         });

}  // namespace
}  // namespace vimbra
