// An X server that goes away during a preview: the process lives on, the
// preview keeps delivering frames to the host, the session closes normally
// and later previews run off-screen. A host's own connection to another
// server keeps its own I/O error handler. Each case has servers of its own,
// which it kills. The cases skip when Xvfb is not installed.
#include <cstdio>
#include <memory>
#include <vector>

#include "device/device_fixture.h"
#include "platform/window.h"
#include "session/api_fixture.h"
#include "xvfb_server.h"

// Last: Xlib defines macros (None, Status, True) that other headers use as names.
#include <X11/Xlib.h>

#include "x11_host_window.h"

namespace vimbra::testing {
namespace {

constexpr int32_t kW = 64, kH = 48;

class PreviewX11Lost : public ApiTest {
  protected:
    void SetUp() override {
        if (!Server().ok()) GTEST_SKIP() << "Xvfb is not available";
        ApiTest::SetUp();
        Plug({{0, CameraModel::kColor}});
    }
    void TearDown() override {
        ApiTest::TearDown();
        platform::SelectWindowBackend(platform::WindowBackendKind::kOffscreen);
    }

    // The server the preview windows go to; a new one after Kill(). Making
    // it opens no connection, so the case decides which handlers come first.
    XvfbServer& Server() {
        if (server_ == nullptr) server_ = std::make_unique<XvfbServer>();
        return *server_;
    }
    void KillServer() {
        Server().Kill();
        server_.reset();
    }
    void UseServer() {
        ASSERT_TRUE(
            platform::SelectWindowBackend(platform::WindowBackendKind::kX11, Server().name()));
    }

    // A session with preview frames of kW x kH.
    int32_t OpenPreviewSession() {
        const int32_t h = Open();
        EXPECT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, kW, 1944, 0, kH), 1);
        return h;
    }
    // Starts the preview with callback delivery to an inbox of its own.
    void StartCallbacks(int32_t h) {
        inbox_ = VimbraHost_CreateWindow();
        windows_.push_back(inbox_);
        ASSERT_EQ(Vimbra_CallBackPreview(h, inbox_, delivered_.data(),
                                         static_cast<int32_t>(delivered_.size()), 1),
                  1);
    }
    // True once `count` more frames have reached the inbox.
    bool FramesArrive(int count) {
        VimbraHostMessage m{};
        while (count > 0 && VimbraHost_GetMessage(inbox_, &m, 5000) == 1)
            count -= m.message == VIMBRA_MSG_FRAME && m.wParam != 0;
        return count <= 0;
    }

    static HWND PreviewHandle(int32_t h) {
        HWND window = nullptr;
        WithSession(h, [&](CVimbra& s) {
            window = s.PreviewWindowHandle();
            return 0;
        });
        return window;
    }

    // A host's window on the server, left there when the host's connection
    // ends, so that the test holds no connection of its own to the server
    // it kills (Xlib's default handler would end the test).
    unsigned long RetainedHostWindow() {
        Display* host = XOpenDisplay(Server().name());
        if (host == nullptr) return 0;
        const Window w = MapHostWindow(host, 100, 50, 400, 300);
        XSetCloseDownMode(host, RetainPermanent);
        XCloseDisplay(host);
        return w;
    }

    // Runs a preview into a window on the server (a child of a host's window
    // or one of its own) and kills the server; the window is gone, frames
    // keep coming, and the session stops and closes normally.
    void LoseServerDuringPreview(bool child) {
        UseServer();
        const int32_t h = OpenPreviewSession();
        HWND parent = nullptr;
        if (child) {
            parent = VimbraHost_WindowFromX11(RetainedHostWindow());
            ASSERT_NE(parent, nullptr);
        }
        ASSERT_EQ(Vimbra_SetPreviewWindow(h, parent, 10, 20, kW, kH), 1);
        StartCallbacks(h);
        ASSERT_TRUE(FramesArrive(3));
        const HWND preview = PreviewHandle(h);
        ASSERT_NE(platform::X11WindowOf(preview), 0u) << "the preview is not on the server";

        KillServer();

        EXPECT_TRUE(Eventually([&] { return !platform::IsWindowVisible(preview); }));
        EXPECT_EQ(platform::X11WindowOf(preview), 0u);
        EXPECT_TRUE(FramesArrive(3));
        std::vector<uint8_t> image(delivered_.size());
        EXPECT_EQ(Vimbra_GetImage(h, image.data(), static_cast<int32_t>(image.size()), 1), 1);
        EXPECT_EQ(Vimbra_StopPreview(h), 1);
        EXPECT_EQ(Vimbra_Close(h), 1);
        Close(h);
    }

    std::unique_ptr<XvfbServer> server_;
    HWND inbox_ = nullptr;
    std::vector<uint8_t> delivered_ = std::vector<uint8_t>(kW * 3 * kH);
};

TEST_F(PreviewX11Lost, PreviewOutlivesItsServerAndTheNextOneRunsOffScreen) {
    for (const bool child : {false, true}) {
        SCOPED_TRACE(child ? "child of a host window" : "top-level window");
        LoseServerDuringPreview(child);
        if (HasFatalFailure()) return;

        const int32_t next = OpenPreviewSession();
        ASSERT_EQ(Vimbra_SetPreviewWindow(next, nullptr, 0, 0, kW, kH), 1);
        StartCallbacks(next);
        EXPECT_TRUE(FramesArrive(3));
        EXPECT_EQ(platform::ActiveWindowBackend(), platform::WindowBackendKind::kOffscreen);
        EXPECT_EQ(Vimbra_StopPreview(next), 1);
        Close(next);
    }
}

// The host's handler ends the process with a code of its own, as a host that
// cannot go on without its display would.
int HostIoErrorHandler(Display*) {
    std::fputs("host handler ran\n", stderr);
    std::fflush(stderr);
    _exit(3);
}

TEST_F(PreviewX11Lost, HostConnectionKeepsTheHostsHandler) {
    // A child process of its own, whose handlers are set as in a host that
    // installs its I/O error handler before the library's first connection.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            XSetIOErrorHandler(HostIoErrorHandler);
            XvfbServer hosts;
            Display* host = hosts.ok() ? XOpenDisplay(hosts.name()) : nullptr;
            if (host == nullptr) _exit(1);
            LoseServerDuringPreview(false);
            if (HasFailure()) _exit(2);
            hosts.Kill();
            XSync(host, False);
            _exit(0);
        },
        ::testing::ExitedWithCode(3), "host handler ran");
}

}  // namespace
}  // namespace vimbra::testing
