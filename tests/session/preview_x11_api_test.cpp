// Live preview through the public interface on a private Xvfb server: a
// preview inside a host X11 window (at 1:1 and scaled) and a top-level one,
// whose pixels, read back from the server, are the frame delivered to the
// host. The cases skip when Xvfb is not installed.
#include <memory>
#include <vector>

#include "device/device_fixture.h"
#include "platform/window.h"
#include "session/api_fixture.h"
#include "xvfb_server.h"

// Last: Xlib defines macros (None, Status, True) that other headers use as names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "x11_host_window.h"

namespace vimbra::testing {
namespace {

constexpr int32_t kW = 64, kH = 48;

XvfbServer& Server() {
    static XvfbServer server;
    return server;
}

class PreviewX11Api : public ApiTest {
  protected:
    void SetUp() override {
        if (!Server().ok()) GTEST_SKIP() << "Xvfb is not available";
        ApiTest::SetUp();
        ASSERT_TRUE(
            platform::SelectWindowBackend(platform::WindowBackendKind::kX11, Server().name()));
        host_ = XOpenDisplay(Server().name());
        ASSERT_NE(host_, nullptr);
        Plug({{0, CameraModel::kColor}});
        h = Open();
        ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, kW, 1944, 0, kH), 1);
    }
    void TearDown() override {
        if (h != 0) Vimbra_Close(h);
        if (host_ != nullptr) XCloseDisplay(host_);
        ApiTest::TearDown();
        platform::SelectWindowBackend(platform::WindowBackendKind::kOffscreen);
    }

    // The host's own window, mapped at (x, y) on the screen.
    Window HostWindow(int x, int y, int w, int h) { return MapHostWindow(host_, x, y, w, h); }

    // Runs the preview with callback delivery until the host has a few frames,
    // then stops it; the window keeps the last frame, which is `delivered`.
    void DeliverFrames(std::vector<uint8_t>* delivered) {
        HWND inbox = VimbraHost_CreateWindow();
        delivered->assign(kW * 3 * kH, 0);
        ASSERT_EQ(Vimbra_CallBackPreview(h, inbox, delivered->data(),
                                         static_cast<int32_t>(delivered->size()), 1),
                  1);
        int frames = 0;
        VimbraHostMessage m{};
        while (frames < 3 && VimbraHost_GetMessage(inbox, &m, 5000) == 1)
            frames += m.message == VIMBRA_MSG_FRAME && m.wParam != 0;
        EXPECT_EQ(Vimbra_StopPreview(h), 1);
        VimbraHost_DestroyWindow(inbox);
        ASSERT_EQ(frames, 3);
    }

    // True when the screen at (x, y) shows the top-down 24-bit picture
    // `frame`, each pixel as a `scale` x `scale` block.
    bool ScreenShows(int x, int y, int scale, const std::vector<uint8_t>& frame) {
        XImage* shot = XGetImage(host_, RootWindow(host_, DefaultScreen(host_)), x, y, kW * scale,
                                 kH * scale, AllPlanes, ZPixmap);
        if (shot == nullptr) return false;
        bool same = true;
        for (int yy = 0; yy < kH * scale && same; ++yy) {
            for (int xx = 0; xx < kW * scale && same; ++xx) {
                const uint8_t* p = &frame[((yy / scale) * kW + xx / scale) * 3];
                const unsigned long want = p[0] | (p[1] << 8) | (p[2] << 16);
                same = (XGetPixel(shot, xx, yy) & 0xFFFFFF) == want;
            }
        }
        XDestroyImage(shot);
        return same;
    }

    HWND PreviewHandle() const {
        HWND window = nullptr;
        WithSession(h, [&](CVimbra& s) {
            window = s.PreviewWindowHandle();
            return 0;
        });
        return window;
    }

    Display* host_ = nullptr;
    int32_t h = 0;
};

TEST_F(PreviewX11Api, ChildOfAHostWindowShowsTheDeliveredFrame) {
    struct Case {
        int scale;  // preview size over frame size
    };
    for (const Case c : {Case{1}, Case{2}}) {
        SCOPED_TRACE(c.scale);
        const Window host = HostWindow(100, 50, 400, 300);
        HWND parent = VimbraHost_WindowFromX11(host);
        ASSERT_NE(parent, nullptr);
        ASSERT_EQ(Vimbra_SetPreviewWindow(h, parent, 10, 20, kW * c.scale, kH * c.scale), 1);
        std::vector<uint8_t> delivered;
        DeliverFrames(&delivered);
        EXPECT_TRUE(Eventually([&] { return ScreenShows(110, 70, c.scale, delivered); }));
        EXPECT_EQ(Vimbra_Close(h), 1);
        XDestroyWindow(host_, host);
        XSync(host_, False);
    }
}

TEST_F(PreviewX11Api, TopLevelWindowShowsTheDeliveredFrame) {
    ASSERT_EQ(Vimbra_SetPreviewWindow(h, nullptr, 0, 0, kW, kH), 1);
    std::vector<uint8_t> delivered;
    DeliverFrames(&delivered);
    platform::WindowDescription d;
    ASSERT_TRUE(platform::DescribeWindow(PreviewHandle(), &d));
    EXPECT_EQ(d.title, "Active Window");
    EXPECT_TRUE(Eventually(
        [&] { return ScreenShows(d.window_rect.left, d.window_rect.top, 1, delivered); }));
}

}  // namespace
}  // namespace vimbra::testing
