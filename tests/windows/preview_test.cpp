// The preview window of the Windows DLL as a Windows host sees it: a child
// of the host's own window or a top-level window, found by class and title,
// showing the frame the host can fetch, and gone when the session closes it.
// The test's thread never runs a message loop of its own, as a console host
// would not: the library's windows must be drawn, repainted and destroyed
// without it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"

namespace {

// Wider than the smallest top-level window the system allows.
constexpr int32_t kW = 160, kH = 120;
constexpr char kHostClass[] = "PreviewTestHost";

// A client area read back as 0x00RRGGBB values, rows top first.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

enum class ReadBack {
    kWindowDc,     // BitBlt from the window's device context
    kPrintWindow,  // the window draws itself into the test's dc (WM_PRINTCLIENT)
};

Picture ReadClient(HWND window, ReadBack how) {
    Picture p;
    RECT rc{};
    if (!::GetClientRect(window, &rc) || rc.right <= 0 || rc.bottom <= 0) return p;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = rc.right;
    info.bmiHeader.biHeight = -rc.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(mem, dib);
    bool ok = false;
    if (how == ReadBack::kWindowDc) {
        HDC dc = ::GetDC(window);
        ok = ::BitBlt(mem, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY) != FALSE;
        ::ReleaseDC(window, dc);
    } else {
        ok = ::PrintWindow(window, mem, PW_CLIENTONLY) != FALSE;
    }
    ::GdiFlush();
    if (ok) {
        p.width = rc.right;
        p.height = rc.bottom;
        const auto* px = static_cast<const uint32_t*>(bits);
        p.pixels.assign(px, px + static_cast<size_t>(p.width) * p.height);
        for (uint32_t& v : p.pixels) v &= 0xFFFFFF;
    }
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    ::DeleteObject(dib);
    return p;
}

// True when `shown` is the top-down B, G, R frame with each pixel as a
// `scale` x `scale` block; the first mismatch is reported.
::testing::AssertionResult Shows(const Picture& shown, const std::vector<uint8_t>& frame,
                                 int scale) {
    if (shown.width != kW * scale || shown.height != kH * scale)
        return ::testing::AssertionFailure()
               << "client area " << shown.width << " x " << shown.height;
    for (int y = 0; y < shown.height; ++y) {
        for (int x = 0; x < shown.width; ++x) {
            const uint8_t* p = &frame[((y / scale) * kW + x / scale) * 3];
            const uint32_t want = p[0] | (p[1] << 8) | (p[2] << 16);
            const uint32_t got = shown.pixels[static_cast<size_t>(y) * shown.width + x];
            if (got != want) {
                std::ostringstream what;
                what << "at (" << x << ", " << y << ") 0x" << std::hex << got << " for 0x" << want;
                return ::testing::AssertionFailure() << what.str();
            }
        }
    }
    return ::testing::AssertionSuccess();
}

std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

// True when a class of that name could be registered (and is unregistered
// again): the library has let go of it.
bool ClassIsFree(const std::string& name) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = ::DefWindowProcA;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = name.c_str();
    if (::RegisterClassA(&wc) == 0) return false;
    ::UnregisterClassA(name.c_str(), wc.hInstance);
    return true;
}

class WindowsPreview : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ::DefWindowProcA;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
        wc.lpszClassName = kHostClass;
        ::RegisterClassA(&wc);
        shared_host_ = MakeHostWindow();
    }

    static void TearDownTestSuite() { ::DestroyWindow(shared_host_); }

    static HWND MakeHostWindow() {
        return ::CreateWindowExA(0, kHostClass, "Preview host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                 100, 50, 400, 300, nullptr, nullptr, ::GetModuleHandleA(nullptr),
                                 nullptr);
    }

    void SetUp() override {
        h_ = Vimbra_Initialize(nullptr);
        ASSERT_NE(h_, 0);
        Vimbra_GetCaptureWindowEx(h_, &format_[0], &format_[1], &format_[2], &format_[3],
                                  &format_[4], &format_[5]);
        ASSERT_EQ(Vimbra_SetCaptureWindowEx(h_, 2592, 0, kW, 1944, 0, kH), 1);
    }

    void TearDown() override {
        if (h_ != 0) {
            Vimbra_Close(h_);
            // The stored format is the session's setting: leave it as found.
            Vimbra_SetCaptureWindowEx(h_, format_[0], format_[1], format_[2], format_[3],
                                      format_[4], format_[5]);
            Vimbra_Release(h_);
        }
        if (host_ != nullptr) ::DestroyWindow(host_);
    }

    // A host window of the test's own, destroyed at its end.
    HWND MakeHost() {
        host_ = MakeHostWindow();
        return host_;
    }

    // Previews until a few frames have been drawn and stops; the window
    // keeps the last one, which is `frame` (top-down B, G, R). `meanwhile`
    // runs after the first frames, and a few more frames are drawn after it.
    // The test's thread reads its frame messages from a message-only window
    // of its own and never pumps the host's windows.
    void PreviewSomeFrames(std::vector<uint8_t>* frame,
                           const std::function<void()>& meanwhile = nullptr) {
        frame->assign(static_cast<size_t>(kW) * kH * 3, 0);
        HWND inbox = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       nullptr, nullptr);
        ASSERT_NE(inbox, nullptr);
        ASSERT_EQ(Vimbra_CallBackPreview(h_, inbox, nullptr, 0, 1), 1);
        EXPECT_TRUE(AwaitFrames(inbox, 2));
        if (meanwhile) {
            meanwhile();
            // A frame announced now may have been drawn before; the second
            // one after this was drawn after it.
            MSG m;
            while (::PeekMessageA(&m, inbox, 0, 0, PM_REMOVE)) {
            }
            EXPECT_TRUE(AwaitFrames(inbox, 2));
        }
        EXPECT_EQ(Vimbra_StopPreview(h_), 1);
        ::DestroyWindow(inbox);
        ASSERT_EQ(Vimbra_GetImage(h_, frame->data(), static_cast<int32_t>(frame->size()), 1), 1);
    }

    // True once `count` frames are announced to `inbox` within ten seconds.
    static bool AwaitFrames(HWND inbox, int count) {
        const DWORD start = ::GetTickCount();
        while (count > 0 && ::GetTickCount() - start < 10000) {
            MSG m;
            if (::PeekMessageA(&m, inbox, VIMBRA_MSG_FRAME, VIMBRA_MSG_FRAME, PM_REMOVE))
                count -= m.wParam != 0;
            else
                ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_POSTMESSAGE);
        }
        return count <= 0;
    }

    void WaitForFrame(std::vector<uint8_t>* frame) {
        for (int i = 0; i < 500; ++i) {
            if (Vimbra_GetImage(h_, frame->data(), static_cast<int32_t>(frame->size()), 1) == 1)
                return;
            ::Sleep(10);
        }
        FAIL() << "no frame";
    }

    // Under Wine without a window manager destroying a top-level window
    // takes a while: the tests share one host window where they can.
    static HWND shared_host_;
    int32_t h_ = 0;
    int32_t format_[6] = {};
    HWND host_ = nullptr;
};

HWND WindowsPreview::shared_host_ = nullptr;

TEST_F(WindowsPreview, ChildOfTheHostsWindowShowsTheFrame) {
    struct Case {
        int placed;  // preview size over frame size: 1 is one blit, 2 the scaling path
        int scale;   // the same once the host has resized the window while previewing
    };
    HWND host = shared_host_;
    ASSERT_NE(host, nullptr);
    for (const Case c : {Case{1, 1}, Case{2, 2}, Case{1, 2}}) {
        SCOPED_TRACE(::testing::Message() << c.placed << " -> " << c.scale);
        ASSERT_EQ(Vimbra_SetPreviewWindow(h_, host, 10, 20, kW * c.placed, kH * c.placed), 1);
        std::vector<uint8_t> frame;
        PreviewSomeFrames(&frame, [&] {
            if (c.scale == c.placed) return;
            HWND preview = ::FindWindowExA(host, nullptr, nullptr, "ActiveMovie Window");
            ::MoveWindow(preview, 10, 20, kW * c.scale, kH * c.scale, TRUE);
        });

        HWND preview = ::FindWindowExA(host, nullptr, nullptr, "ActiveMovie Window");
        ASSERT_NE(preview, nullptr);
        const std::string cls = ClassOf(preview);
        EXPECT_EQ(cls.rfind("VideoRenderer_", 0), 0u) << cls;
        EXPECT_EQ(cls.size(), std::strlen("VideoRenderer_00000000_00000000")) << cls;
        EXPECT_EQ(::FindWindowExA(host, nullptr, cls.c_str(), "ActiveMovie Window"), preview);
        EXPECT_EQ(::GetParent(preview), host);
        EXPECT_EQ(::GetDlgCtrlID(preview), 6540);
        EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrA(preview, GWL_STYLE)), 0x52000000u);
        // The class is the host executable's, with a black background.
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        ASSERT_TRUE(::GetClassInfoExA(::GetModuleHandleA(nullptr), cls.c_str(), &wc));
        EXPECT_EQ(wc.style, 0u);
        EXPECT_EQ(wc.hbrBackground, ::GetStockObject(BLACK_BRUSH));
        POINT origin{0, 0};
        ::MapWindowPoints(preview, host, &origin, 1);
        EXPECT_EQ(origin.x, 10);
        EXPECT_EQ(origin.y, 20);

        for (ReadBack how : {ReadBack::kWindowDc, ReadBack::kPrintWindow}) {
            SCOPED_TRACE(how == ReadBack::kWindowDc ? "window dc" : "PrintWindow");
            EXPECT_TRUE(Shows(ReadClient(preview, how), frame, c.scale));
        }

        ASSERT_EQ(Vimbra_Close(h_), 1);
        EXPECT_EQ(::FindWindowExA(host, nullptr, cls.c_str(), nullptr), nullptr);
        EXPECT_FALSE(::IsWindow(preview));
        EXPECT_TRUE(ClassIsFree(cls));
    }
}

TEST_F(WindowsPreview, TopLevelWindowIsCentredAndRepaintsTheLastFrame) {
    ASSERT_EQ(Vimbra_SetPreviewWindow(h_, nullptr, 0, 0, 1, 1), 1);
    std::vector<uint8_t> frame;
    PreviewSomeFrames(&frame);

    HWND preview = ::FindWindowA(nullptr, "Active Window");
    ASSERT_NE(preview, nullptr);
    const std::string cls = ClassOf(preview);
    EXPECT_EQ(cls.rfind("VideoRenderer_", 0), 0u) << cls;
    EXPECT_EQ(::FindWindowA(cls.c_str(), "Active Window"), preview);
    EXPECT_EQ(::GetParent(preview), nullptr);
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongPtrA(preview, GWL_STYLE)), 0x16CF0000u);
    EXPECT_TRUE(::IsWindowVisible(preview));
    RECT client{};
    ASSERT_TRUE(::GetClientRect(preview, &client));
    EXPECT_EQ(client.right, kW);
    EXPECT_EQ(client.bottom, kH);
    RECT outer{};
    ASSERT_TRUE(::GetWindowRect(preview, &outer));
    const int32_t width = outer.right - outer.left, height = outer.bottom - outer.top;
    EXPECT_EQ(outer.left, std::max(0, (::GetSystemMetrics(SM_CXSCREEN) - width) / 2));
    EXPECT_EQ(outer.top, std::max(0, (::GetSystemMetrics(SM_CYSCREEN) - height) / 2));
    EXPECT_TRUE(Shows(ReadClient(preview, ReadBack::kWindowDc), frame, 1));

    // Erased to the black background and painted again: with no new frame
    // the window paints what it showed last.
    ASSERT_TRUE(
        ::RedrawWindow(preview, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW));
    EXPECT_TRUE(Shows(ReadClient(preview, ReadBack::kWindowDc), frame, 1));
    // Hidden and shown again by the host.
    ::ShowWindow(preview, SW_HIDE);
    EXPECT_FALSE(::IsWindowVisible(preview));
    ::ShowWindow(preview, SW_SHOW);
    ::UpdateWindow(preview);
    EXPECT_TRUE(Shows(ReadClient(preview, ReadBack::kWindowDc), frame, 1));

    // A close request from the user only hides the window; it stays the
    // library's until the session closes it.
    ::SendMessageA(preview, WM_CLOSE, 0, 0);
    for (int i = 0; i < 500 && ::IsWindowVisible(preview); ++i) ::Sleep(10);
    EXPECT_FALSE(::IsWindowVisible(preview));
    EXPECT_TRUE(::IsWindow(preview));

    ASSERT_EQ(Vimbra_Close(h_), 1);
    EXPECT_EQ(::FindWindowA(cls.c_str(), nullptr), nullptr);
    EXPECT_TRUE(ClassIsFree(cls));
}

TEST_F(WindowsPreview, HostDestroyingTheParentWhilePreviewingLeavesTheSessionWorking) {
    HWND host = MakeHost();
    ASSERT_NE(host, nullptr);
    ASSERT_EQ(Vimbra_SetPreviewWindow(h_, host, 0, 0, kW, kH), 1);
    ASSERT_EQ(Vimbra_Preview(h_), 1);
    std::vector<uint8_t> frame(static_cast<size_t>(kW) * kH * 3);
    WaitForFrame(&frame);
    HWND preview = ::FindWindowExA(host, nullptr, nullptr, "ActiveMovie Window");
    ASSERT_NE(preview, nullptr);
    const std::string cls = ClassOf(preview);

    ASSERT_TRUE(::DestroyWindow(host));
    host_ = nullptr;
    // The child goes with its parent, on its own thread and so possibly a
    // moment later.
    for (int i = 0; i < 500 && ::IsWindow(preview); ++i) ::Sleep(10);
    EXPECT_FALSE(::IsWindow(preview));
    ::Sleep(150);  // frames go on arriving with nowhere to be drawn
    EXPECT_EQ(Vimbra_StopPreview(h_), 1);
    EXPECT_EQ(Vimbra_GetImage(h_, frame.data(), static_cast<int32_t>(frame.size()), 1), 1);
    EXPECT_EQ(Vimbra_Close(h_), 1);
    EXPECT_TRUE(ClassIsFree(cls));

    // The session previews into another host window afterwards.
    host = shared_host_;
    ASSERT_EQ(Vimbra_SetPreviewWindow(h_, host, 0, 0, kW, kH), 1);
    PreviewSomeFrames(&frame);
    HWND again = ::FindWindowExA(host, nullptr, nullptr, "ActiveMovie Window");
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(Shows(ReadClient(again, ReadBack::kWindowDc), frame, 1));
}

TEST_F(WindowsPreview, ParentThatIsNoWindowIsRefused) {
    ASSERT_EQ(
        Vimbra_SetPreviewWindow(h_, reinterpret_cast<HWND>(uintptr_t{0x7ffe1234}), 0, 0, kW, kH),
        1);
    EXPECT_EQ(Vimbra_Preview(h_), 0);
    EXPECT_EQ(Vimbra_GetLastError(h_), VIMBRA_ERR_WINDOW);
}

}  // namespace
