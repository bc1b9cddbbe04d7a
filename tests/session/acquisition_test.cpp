#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/device_fixture.h"
#include "image/dib_image.h"
#include "platform/window.h"
#include "session/api_fixture.h"

namespace vimbra::testing {
namespace {

// Messages of one window, waited for with a time limit.
class Inbox {
  public:
    Inbox() : window_(VimbraHost_CreateWindow()) {}
    ~Inbox() { VimbraHost_DestroyWindow(window_); }
    HWND window() const { return window_; }
    // The next message within `ms`; message 0 when none came.
    VimbraHostMessage Next(uint32_t ms = 5000) {
        VimbraHostMessage m{};
        if (VimbraHost_GetMessage(window_, &m, ms) != 1) m.message = 0;
        return m;
    }
    std::vector<VimbraHostMessage> Drain() {
        std::vector<VimbraHostMessage> out;
        VimbraHostMessage m{};
        while (VimbraHost_PeekMessage(window_, &m) == 1) out.push_back(m);
        return out;
    }

  private:
    HWND window_;
};

class AcquisitionTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        Plug({{0, CameraModel::kColor}, {3, CameraModel::kColor}});
        h = Open();
        // Small frames keep every conversion quick; no preview window.
        ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, 64, 1944, 0, 48), 1);
        ASSERT_EQ(Vimbra_SetPreviewWindow(h, nullptr, 0, 0, 0, 0), 1);
        Codes(h);
    }
    AcqState State() const {
        return static_cast<AcqState>(WithSession(h, [](CVimbra& s) { return s.State(); }));
    }
    // Brings the session into `state` through the commands.
    void Enter(AcqState state) {
        switch (state) {
            case AcqState::kPreview:
                ASSERT_EQ(Vimbra_StartPreview(h), 1);
                break;
            case AcqState::kCapture:
                ASSERT_EQ(Vimbra_Capture(h), 1);
                break;
            case AcqState::kTrigger:
                ASSERT_EQ(Vimbra_Trigger(h, nullptr, nullptr, 0, 0), 1);
                break;
            default:
                break;
        }
        ASSERT_EQ(State(), state);
    }
    // Live preview with frame messages to `inbox` and copies into `buffer`.
    int32_t CallBackPreview(Inbox& inbox, std::vector<uint8_t>& buffer, int32_t row_order) {
        return Vimbra_CallBackPreview(h, inbox.window(), buffer.data(),
                                      static_cast<int32_t>(buffer.size()), row_order);
    }
    int32_t Trigger(Inbox& inbox, std::vector<uint8_t>& buffer) {
        return Vimbra_Trigger(h, inbox.window(), buffer.data(), static_cast<int32_t>(buffer.size()),
                              0);
    }
    int32_t h = 0;
};

enum class Command { kStartPreview, kCapture, kSnapShot, kTrigger, kStopPreview, kClose };

TEST_F(AcquisitionTest, EveryRowOfTheStateTable) {
    using S = AcqState;
    using C = Command;
    struct Row {
        S from;
        C command;
        int32_t result;
        S to;
    };
    const Row rows[] = {
        {S::kIdle, C::kStartPreview, 1, S::kPreview},
        {S::kIdle, C::kCapture, 1, S::kCapture},
        {S::kIdle, C::kTrigger, 1, S::kTrigger},
        {S::kIdle, C::kSnapShot, 1, S::kIdle},
        {S::kPreview, C::kStartPreview, 1, S::kPreview},
        {S::kPreview, C::kCapture, 0, S::kPreview},
        {S::kPreview, C::kSnapShot, 0, S::kPreview},
        {S::kPreview, C::kTrigger, 0, S::kPreview},
        {S::kCapture, C::kSnapShot, 1, S::kCapture},
        {S::kCapture, C::kCapture, 1, S::kCapture},
        {S::kCapture, C::kStartPreview, 0, S::kCapture},
        {S::kCapture, C::kTrigger, 0, S::kCapture},
        {S::kTrigger, C::kCapture, 0, S::kTrigger},
        {S::kTrigger, C::kSnapShot, 0, S::kTrigger},
        {S::kTrigger, C::kStartPreview, 0, S::kTrigger},
        {S::kTrigger, C::kTrigger, 0, S::kTrigger},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (S from : {S::kIdle, S::kPreview, S::kCapture, S::kTrigger})
        for (C stop : {C::kStopPreview, C::kClose}) all.push_back({from, stop, 1, S::kIdle});
    for (const Row& row : all) {
        SCOPED_TRACE(::testing::Message() << "from " << static_cast<int>(row.from) << " command "
                                          << static_cast<int>(row.command));
        Enter(row.from);
        std::vector<uint8_t> buffer(64 * 48 * 3);
        int32_t result = -1;
        switch (row.command) {
            case C::kStartPreview:
                result = Vimbra_StartPreview(h);
                break;
            case C::kCapture:
                result = Vimbra_Capture(h);
                break;
            case C::kSnapShot:
                result = Vimbra_SnapShot(h, buffer.data(), static_cast<int32_t>(buffer.size()), 0);
                break;
            case C::kTrigger:
                result = Vimbra_Trigger(h, nullptr, nullptr, 0, 0);
                break;
            case C::kStopPreview:
                result = Vimbra_StopPreview(h);
                break;
            case C::kClose:
                result = Vimbra_Close(h);
                break;
        }
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(State(), row.to);
        EXPECT_EQ(Codes(h), row.result ? std::vector<int32_t>{} : std::vector<int32_t>{1});
        EXPECT_EQ(Vimbra_StopPreview(h), 1);
        EXPECT_EQ(State(), S::kIdle);
    }
}

TEST_F(AcquisitionTest, StartingPreviewTwiceRunsOneTransfer) {
    ASSERT_EQ(Vimbra_StartPreview(h), 1);
    ASSERT_EQ(Vimbra_StartPreview(h), 1);
    auto camera = Driver().Camera(0);
    const uint64_t before = camera->FramesServed();
    ASSERT_TRUE(Eventually([&] { return camera->FramesServed() > before + 3; }));
    EXPECT_EQ(Driver().OpenHandles(0), 1);  // one streaming loop keeps one handle
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_EQ(Driver().OpenHandles(0), 0);
}

TEST_F(AcquisitionTest, SnapshotsOpenTheCameraPerFrameUnlessCaptureKeepsItOpen) {
    std::vector<uint8_t> buffer(64 * 48 * 3);
    const int32_t size = static_cast<int32_t>(buffer.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Vimbra_SnapShot(h, buffer.data(), size, 1), 1);
        EXPECT_EQ(Driver().OpenHandles(0), 0);
    }
    ASSERT_EQ(Vimbra_Capture(h), 1);
    Driver().SetLogging(true);
    Driver().ClearLog();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Vimbra_SnapShot(h, buffer.data(), size, 1), 1);
        EXPECT_EQ(Driver().OpenHandles(0), 1);
    }
    int frame_reads = 0;
    for (const sim::LoggedRequest& r : Driver().Log()) {
        if (r.kind == sim::LoggedRequest::Kind::kControl && r.pipe == 2) ++frame_reads;
    }
    EXPECT_EQ(frame_reads, 3);
    EXPECT_EQ(Vimbra_Close(h), 1);
    EXPECT_EQ(Driver().OpenHandles(0), 0);
    Driver().SetLogging(false);
}

TEST_F(AcquisitionTest, SnapshotFailuresCarryTheirCodes) {
    std::vector<uint8_t> buffer(64 * 48 * 3);
    EXPECT_EQ(Vimbra_SnapShot(h, buffer.data(), static_cast<int32_t>(buffer.size()) - 1, 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int32_t>{VIMBRA_ERR_MEMORY, VIMBRA_ERR_MEMORY}));
    Driver().FailNextTransfers(0, 1);
    EXPECT_EQ(Vimbra_SnapShot(h, buffer.data(), static_cast<int32_t>(buffer.size()), 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_TRANSFER});
    EXPECT_EQ(Driver().OpenHandles(0), 0);
    // Without a camera the preparation refuses with 2, the command with 1.
    Driver().Unplug(0);
    char names[32][256];
    Vimbra_EnumDevice(h, &names[0][0]);
    Codes(h);
    EXPECT_EQ(Vimbra_SnapShot(h, buffer.data(), static_cast<int32_t>(buffer.size()), 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int32_t>{VIMBRA_ERR_STATE, VIMBRA_ERR_NO_CAMERA}));
}

TEST_F(AcquisitionTest, CallbackPreviewDeliversFramesWithTheirRecord) {
    Inbox inbox;
    std::vector<uint8_t> buffer(64 * 48 * 3);
    ASSERT_EQ(CallBackPreview(inbox, buffer, 1), 1);
    const VimbraHostMessage m = inbox.Next();
    ASSERT_EQ(m.message, VIMBRA_MSG_FRAME);
    EXPECT_EQ(m.lParam, 0);
    ASSERT_NE(m.wParam, 0u);
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    const auto* info = reinterpret_cast<const VimbraFrameInfo*>(m.wParam);
    EXPECT_EQ(info->size, 32);
    EXPECT_EQ(info->width, 64);
    EXPECT_EQ(info->height, 48);
    EXPECT_EQ(info->bitsPerPixel, 24);
    EXPECT_EQ(info->data, buffer.data());
    // The copy is the current image.
    std::vector<uint8_t> image(buffer.size());
    EXPECT_EQ(Vimbra_GetImage(h, image.data(), static_cast<int32_t>(image.size()), 1), 1);
    EXPECT_EQ(image, buffer);

    // A buffer given with size 0 receives no copy, so the record names none.
    inbox.Drain();
    std::vector<uint8_t> untouched(buffer.size(), 0xA5);
    ASSERT_EQ(Vimbra_CallBackPreview(h, inbox.window(), untouched.data(), 0, 1), 1);
    const VimbraHostMessage next = inbox.Next();
    ASSERT_EQ(next.message, VIMBRA_MSG_FRAME);
    ASSERT_NE(next.wParam, 0u);
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_EQ(reinterpret_cast<const VimbraFrameInfo*>(next.wParam)->data, nullptr);
    EXPECT_EQ(untouched, std::vector<uint8_t>(buffer.size(), 0xA5));
}

TEST_F(AcquisitionTest, PreviewAfterCallbackPreviewStopsFrameMessages) {
    Inbox inbox;
    ASSERT_EQ(Vimbra_CallBackPreview(h, inbox.window(), nullptr, 0, 0), 1);
    ASSERT_EQ(inbox.Next().message, VIMBRA_MSG_FRAME);
    ASSERT_EQ(Vimbra_StopPreview(h), 1);
    inbox.Drain();
    ASSERT_EQ(Vimbra_Preview(h), 1);
    auto camera = Driver().Camera(0);
    const uint64_t before = camera->FramesServed();
    ASSERT_TRUE(Eventually([&] { return camera->FramesServed() > before + 3; }));
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_TRUE(inbox.Drain().empty());
}

TEST_F(AcquisitionTest, FailedFrameWaitEndsTheWorkerButNotThePreview) {
    Inbox inbox;
    ASSERT_EQ(Vimbra_CallBackPreview(h, inbox.window(), nullptr, 0, 0), 1);
    ASSERT_EQ(inbox.Next().message, VIMBRA_MSG_FRAME);
    Driver().FailNextTransfers(0, 1);
    VimbraHostMessage m{};
    do {
        m = inbox.Next();
    } while (m.message == VIMBRA_MSG_FRAME && m.wParam != 0);
    EXPECT_EQ(m.message, VIMBRA_MSG_FRAME);
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, VIMBRA_ERR_FRAME_WAIT);
    EXPECT_EQ(State(), AcqState::kPreview);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FRAME_WAIT});
    EXPECT_EQ(inbox.Next(50).message, 0u);  // the worker has ended
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_EQ(State(), AcqState::kIdle);
}

TEST_F(AcquisitionTest, ShortHostBufferFailsEveryFrameButLeavesTheImage) {
    Inbox inbox;
    std::vector<uint8_t> buffer(64 * 48 * 3 - 1);
    ASSERT_EQ(Vimbra_CallBackPreview(h, inbox.window(), buffer.data(),
                                     static_cast<int32_t>(buffer.size()), 0),
              1);
    for (int i = 0; i < 3; ++i) {
        const VimbraHostMessage m = inbox.Next();
        EXPECT_EQ(m.message, VIMBRA_MSG_FRAME);
        EXPECT_EQ(m.wParam, 0u);
        EXPECT_EQ(m.lParam, VIMBRA_ERR_MEMORY);
    }
    std::vector<uint8_t> image(64 * 48 * 3);
    EXPECT_EQ(Vimbra_GetImage(h, image.data(), static_cast<int32_t>(image.size()), 0), 1);
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    for (int32_t code : Codes(h)) EXPECT_EQ(code, VIMBRA_ERR_MEMORY);
}

TEST_F(AcquisitionTest, TriggerDiscardsTheFirstFrameAndDeliversTheNext) {
    Inbox inbox;
    std::vector<uint8_t> buffer(64 * 48 * 3);
    ASSERT_EQ(Trigger(inbox, buffer), 1);
    EXPECT_EQ(WithSession(h, [](CVimbra& s) { return s.TriggerWaitTime(); }), 60000);
    EXPECT_EQ(Driver().Camera(0)->ControllerRegister(11) & 1, 1);
    Driver().FireTrigger(0);
    EXPECT_EQ(inbox.Next(200).message, 0u);
    Driver().FireTrigger(0);
    const VimbraHostMessage m = inbox.Next();
    ASSERT_EQ(m.message, VIMBRA_MSG_FRAME);
    const auto* info = reinterpret_cast<const VimbraFrameInfo*>(m.wParam);
    EXPECT_EQ(Vimbra_StopPreview(h), 1);  // returns without another trigger
    EXPECT_EQ(info->frameRate, 0);
    EXPECT_EQ(info->data, buffer.data());
    EXPECT_EQ(Driver().Camera(0)->ControllerRegister(11) & 1, 0);
    EXPECT_TRUE(inbox.Drain().empty());
}

// A camera unplugged in trigger mode is reported once, to the notification
// window and as a frame error to the callback window; the loop keeps asking
// and delivers again once the camera is back.
TEST_F(AcquisitionTest, TriggerReportsAnUnpluggedCameraOnce) {
    Inbox inbox;
    std::vector<uint8_t> buffer(64 * 48 * 3);
    ASSERT_EQ(Trigger(inbox, buffer), 1);
    Driver().Unplug(0);
    const VimbraHostMessage m = inbox.Next();
    EXPECT_EQ(m.message, VIMBRA_MSG_FRAME);
    EXPECT_EQ(m.wParam, 0u);
    EXPECT_EQ(m.lParam, VIMBRA_ERR_TRANSFER);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // ten more attempts
    EXPECT_TRUE(inbox.Drain().empty());
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_TRANSFER});

    // Plugged in again with its power-on settings (trigger off), the camera
    // sends frames without a trigger.
    Plug({{0, CameraModel::kColor}});
    const VimbraHostMessage again = inbox.Next();
    EXPECT_EQ(again.message, VIMBRA_MSG_FRAME);
    EXPECT_NE(again.wParam, 0u);
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
}

TEST_F(AcquisitionTest, RowOrdersCopyWholeRowsWithTheirFill) {
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, 641, 1944, 0, 5), 1);
    const int32_t stride = 1924;  // 641 x 3 rounded up to 4
    std::vector<uint8_t> top(stride * 5, 0xAA), bottom(stride * 5, 0xAA);
    EXPECT_EQ(Vimbra_SnapShot(h, top.data(), static_cast<int32_t>(top.size()), 1), 1);
    EXPECT_EQ(Vimbra_GetImage(h, bottom.data(), static_cast<int32_t>(bottom.size()), 0), 1);
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(std::memcmp(&top[r * stride], &bottom[(4 - r) * stride], stride), 0) << r;
        EXPECT_EQ(top[r * stride + 1923], 0);  // fill byte, copied from the image
    }
    EXPECT_EQ(Vimbra_GetImage(h, top.data(), stride * 5 - 1, 1), 0);
    EXPECT_EQ(Codes(h), (std::vector<int32_t>{VIMBRA_ERR_MEMORY, VIMBRA_ERR_MEMORY}));
    EXPECT_EQ(Vimbra_GetImage(h, nullptr, stride * 5, 1), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_MEMORY});
}

TEST_F(AcquisitionTest, FrameRateCoversWindowsOfJustOverASecond) {
    Inbox inbox;
    ASSERT_EQ(Vimbra_SetWaitTime(h, 5), 1);
    ASSERT_EQ(Vimbra_CallBackPreview(h, inbox.window(), nullptr, 0, 0), 1);
    // Frames for longer than one rate window; the record is read once the
    // worker has stopped writing it.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1300);
    uintptr_t record = 0;
    while (std::chrono::steady_clock::now() < until) {
        const VimbraHostMessage m = inbox.Next(100);
        if (m.message == VIMBRA_MSG_FRAME && m.wParam != 0) record = m.wParam;
    }
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    ASSERT_NE(record, 0u);
    const int32_t rate = reinterpret_cast<const VimbraFrameInfo*>(record)->frameRate;
    // At most one frame per 5 ms wait: 200 frames a second, 2000 in tenths.
    EXPECT_GT(rate, 0);
    EXPECT_LE(rate, 2000);
}

TEST_F(AcquisitionTest, PreviewWindowFollowsThePlacement) {
    ASSERT_EQ(Vimbra_SetPreviewWindow(h, nullptr, 0, 0, 64, 48), 1);
    ASSERT_EQ(Vimbra_Preview(h), 1);
    EXPECT_NE(WithSession(h, [](CVimbra& s) { return s.PreviewWindowHandle() != nullptr; }), 0);
    EXPECT_EQ(Vimbra_Close(h), 1);
    EXPECT_EQ(WithSession(h, [](CVimbra& s) { return s.PreviewWindowHandle() != nullptr; }), 0);
    EXPECT_EQ(Vimbra_GetStatus(h, 123), 0);
}

TEST_F(AcquisitionTest, PreviewWindowShowsTheFrameUpright) {
    HWND parent = VimbraHost_CreateWindow();
    ASSERT_EQ(Vimbra_SetPreviewWindow(h, parent, 10, 20, 64, 48), 1);
    ASSERT_EQ(Vimbra_Preview(h), 1);
    HWND window = nullptr;
    WithSession(h, [&](CVimbra& s) {
        window = s.PreviewWindowHandle();
        return 0;
    });
    auto camera = Driver().Camera(0);
    const uint64_t before = camera->FramesServed();
    ASSERT_TRUE(Eventually([&] { return camera->FramesServed() > before + 2; }));
    ASSERT_EQ(Vimbra_StopPreview(h), 1);
    // The last frame drawn is the current image: 64 x 48 at 1:1, top row first.
    platform::WindowPixels shown;
    ASSERT_TRUE(platform::ReadWindowPixels(window, &shown));
    ASSERT_EQ(shown.width, 64);
    ASSERT_EQ(shown.height, 48);
    std::vector<uint8_t> image(64 * 3 * 48);
    ASSERT_EQ(Vimbra_GetImage(h, image.data(), static_cast<int32_t>(image.size()), 1), 1);
    int mismatches = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 3; ++c)
                mismatches += shown.bits[(y * 64 + x) * 4 + c] != image[(y * 64 + x) * 3 + c];
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(Vimbra_Close(h), 1);
    VimbraHost_DestroyWindow(parent);
}

// A preview window whose edges would lie beyond 32-bit coordinates, or wider
// or taller than a window system can describe, is refused like any window
// that cannot be made, instead of wrapping its edges or drawing into memory
// for an area of many gigabytes: a child placed by the host, and a window of
// its own sized from a format the host set (refused, but kept as set).
TEST_F(AcquisitionTest, PreviewWindowBeyondIntegerCoordinatesIsRefused) {
    HWND parent = VimbraHost_CreateWindow();
    windows_.push_back(parent);
    struct Case {
        HWND parent;
        int32_t left, top, right, bottom, frame;
    };
    const Case cases[] = {
        {parent, 1, 0, INT32_MAX, 48, 64},  {parent, 0, INT32_MAX, 64, 48, 64},
        {nullptr, 0, 0, 64, 48, INT32_MAX}, {parent, 0, 0, 40000, 48, 64},
        {parent, 0, 0, 64, 32768, 64},      {nullptr, 0, 0, 64, 48, 40000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.left << " " << c.top << " " << c.right << " "
                                          << c.bottom << " frame " << c.frame);
        Vimbra_SetCaptureWindowEx(h, 2592, 0, c.frame, 1944, 0, c.frame);
        Codes(h);
        ASSERT_EQ(Vimbra_SetPreviewWindow(h, c.parent, c.left, c.top, c.right, c.bottom), 1);
        EXPECT_EQ(Vimbra_Preview(h), 0);
        EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_WINDOW});
        EXPECT_EQ(WithSession(h, [](CVimbra& s) { return s.PreviewWindowHandle() != nullptr; }), 0);
        Vimbra_Close(h);
    }
}

TEST_F(AcquisitionTest, TopLevelPreviewIsTheSubsampledFrameSize) {
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, 1280, 1944, 0, 1024), 1);
    ASSERT_EQ(Vimbra_SetSubSample(h, 2), 1);
    ASSERT_EQ(Vimbra_SetPreviewWindow(h, nullptr, 0, 0, 1280, 1024), 1);
    ASSERT_EQ(Vimbra_Preview(h), 1);
    HWND window = nullptr;
    WithSession(h, [&](CVimbra& s) {
        window = s.PreviewWindowHandle();
        return 0;
    });
    platform::WindowRect client;
    ASSERT_TRUE(platform::GetClientRect(window, &client));
    EXPECT_EQ(client.right - client.left, 320);
    EXPECT_EQ(client.bottom - client.top, 256);
    EXPECT_EQ(Vimbra_Close(h), 1);
}

TEST_F(AcquisitionTest, ACameraInUseIsRefusedToAnotherSession) {
    const int32_t other = Open();
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(other, 2592, 0, 64, 1944, 0, 48), 1);
    ASSERT_EQ(Vimbra_StartPreview(h), 1);
    Codes(other);
    EXPECT_EQ(Vimbra_Capture(other), 0);
    EXPECT_EQ(Codes(other), (std::vector<int32_t>{VIMBRA_ERR_STATE, VIMBRA_ERR_NO_CAMERA}));
    EXPECT_EQ(Vimbra_SetDeviceNumber(other, 3), 1);
    EXPECT_EQ(Vimbra_Capture(other), 1);             // another camera is free
    EXPECT_EQ(Vimbra_SetDeviceNumber(other, 0), 0);  // not while capturing
    EXPECT_EQ(Vimbra_StopPreview(other), 1);
    EXPECT_EQ(Vimbra_SetDeviceNumber(other, 0), 1);
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_EQ(Vimbra_Capture(other), 1);
}

TEST_F(AcquisitionTest, CameraDialogPausesAndResumes) {
    for (AcqState state : {AcqState::kPreview, AcqState::kCapture, AcqState::kTrigger}) {
        Enter(state);
        const AcqState paused =
            static_cast<AcqState>(WithSession(h, [](CVimbra& s) { return s.PauseForDialog(); }));
        EXPECT_EQ(paused, state);
        EXPECT_EQ(State(), state == AcqState::kTrigger ? state : AcqState::kIdle);
        WithSession(h, [paused](CVimbra& s) {
            s.ResumeAfterDialog(paused);
            return 0;
        });
        EXPECT_EQ(State(), state);
        EXPECT_EQ(Vimbra_StopPreview(h), 1);
    }
    EXPECT_TRUE(Codes(h).empty());
}

// Host threads start, stop, snapshot and read images of shared sessions while
// one of them is released; run under ThreadSanitizer.
TEST_F(AcquisitionTest, CommandsFromManyThreads) {
    const int32_t second = Open();
    Vimbra_SetCaptureWindowEx(second, 2592, 0, 32, 1944, 0, 24);
    Vimbra_SetDeviceNumber(second, 3);
    Inbox inbox;
    // Delivery buffers outlive the threads that hand them over.
    std::vector<uint8_t> delivered[2] = {std::vector<uint8_t>(64 * 48 * 8),
                                         std::vector<uint8_t>(64 * 48 * 8)};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint8_t> buffer(64 * 48 * 8);
            const int32_t size = static_cast<int32_t>(buffer.size());
            for (int i = 0; i < 25; ++i) {
                const int which = (i + t) % 2;
                const int32_t target = which ? h : second;
                switch ((i * 7 + t) % 6) {
                    case 0:
                        Vimbra_CallBackPreview(target, inbox.window(), delivered[which].data(),
                                               size, t % 2);
                        break;
                    case 1:
                        Vimbra_StopPreview(target);
                        break;
                    case 2:
                        Vimbra_SnapShot(target, buffer.data(), size, 1);
                        break;
                    case 3:
                        Vimbra_GetImage(target, buffer.data(), size, 0);
                        break;
                    case 4:
                        Vimbra_Trigger(target, nullptr, nullptr, 0, 0);
                        break;
                    default:
                        Vimbra_SetBrightness(target, i);
                        Vimbra_Close(target);
                        break;
                }
            }
        });
    }
    threads.emplace_back([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Close(second);
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_EQ(State(), AcqState::kIdle);
}

}  // namespace
}  // namespace vimbra::testing

namespace vimbra::testing {
namespace {

// Records what the session asks of its recorder.
struct FakeRecorder : SessionRecorder {
    struct Calls {
        std::string file;
        int32_t width = 0, height = 0;
        uint32_t duration = 0;
        int ends = 0;
    };
    FakeRecorder(Calls* calls, Start answer) : calls(calls), answer(answer) {}
    Start Begin(const char* file, int32_t width, int32_t height, uint32_t duration_ms) override {
        calls->file = file;
        calls->width = width;
        calls->height = height;
        calls->duration = duration_ms;
        return answer;
    }
    void End() override { ++calls->ends; }
    Calls* calls;
    Start answer;
};

TEST_F(AcquisitionTest, RecordStartsPreviewThenTheRecorder) {
    EXPECT_EQ(Vimbra_Record(h, nullptr, 1000, 0), 0);
    EXPECT_EQ(Vimbra_Record(h, "", 1000, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>(2, VIMBRA_ERR_ARGUMENT));
    // Without a recorder the file cannot be written.
    WithSession(h, [](CVimbra& s) {
        s.SetRecorder(nullptr);
        return 0;
    });
    EXPECT_EQ(Vimbra_Record(h, "clip.avi", 1000, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FILE});
    EXPECT_EQ(State(), AcqState::kIdle);

    FakeRecorder::Calls calls;
    auto install = [&](SessionRecorder::Start answer) {
        WithSession(h, [&](CVimbra& s) {
            s.SetRecorder(std::make_unique<FakeRecorder>(&calls, answer));
            return 0;
        });
    };
    install(SessionRecorder::Start::kThreadFailed);
    EXPECT_EQ(Vimbra_Record(h, "clip.avi", 1000, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_THREAD});
    EXPECT_EQ(State(), AcqState::kIdle);

    install(SessionRecorder::Start::kStarted);
    // A negative duration is refused before anything starts, instead of
    // recording until the file is full.
    calls.file.clear();
    EXPECT_EQ(Vimbra_Record(h, "clip.avi", -1, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_ARGUMENT});
    EXPECT_EQ(State(), AcqState::kIdle);
    EXPECT_TRUE(calls.file.empty());
    const std::u16string wide = u"clip\u00e9.avi";
    EXPECT_EQ(Vimbra_RecordW(h, wide.c_str(), 5000, 1), 1);
    EXPECT_EQ(calls.file, "clip\xC3\xA9.avi");
    EXPECT_EQ(calls.width, 64);
    EXPECT_EQ(calls.height, 48);
    EXPECT_EQ(calls.duration, 5000u);
    EXPECT_EQ(State(), AcqState::kPreview);
    // The recorder's thread takes each new frame once.
    int32_t taken = 0;
    ASSERT_TRUE(Eventually([&] {
        return WithSession(h, [&](CVimbra& s) {
            return s.TakeNewFrame([&](CDibImage& image) { taken = image.width(); });
        });
    }));
    EXPECT_EQ(taken, 64);
    const int ends = calls.ends;
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_EQ(calls.ends, ends + 1);
    const std::u16string broken = u"\xD800.avi";
    EXPECT_EQ(Vimbra_RecordW(h, broken.c_str(), 5000, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FILE});
    // The recorder goes before the calls it writes to.
    WithSession(h, [](CVimbra& s) {
        s.SetRecorder(nullptr);
        return 0;
    });
}

// A frame left flagged by a stopped preview would become the first frame of
// a recording started later, before any frame of the new acquisition.
TEST_F(AcquisitionTest, StoppedPreviewLeavesNoNewFrameForTheRecorder) {
    Inbox inbox;
    std::vector<uint8_t> buffer(64 * 48 * 3);
    ASSERT_EQ(CallBackPreview(inbox, buffer, 1), 1);
    // The message is posted after the frame was flagged for the recorder.
    ASSERT_EQ(inbox.Next().message, VIMBRA_MSG_FRAME);
    ASSERT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_EQ(WithSession(h, [](CVimbra& s) { return s.TakeNewFrame([](CDibImage&) {}); }), 0);
}

}  // namespace
}  // namespace vimbra::testing

namespace vimbra::testing {
namespace {

// Settings the host changes while an acquisition runs take effect at the next
// start; the running one keeps delivering the frames it was prepared for.
TEST_F(AcquisitionTest, ColourModeChangedDuringPreviewWaitsForTheNextStart) {
    Inbox inbox;
    std::vector<uint8_t> buffer(64 * 48 * 3);
    ASSERT_EQ(CallBackPreview(inbox, buffer, 1), 1);
    ASSERT_EQ(inbox.Next().message, VIMBRA_MSG_FRAME);
    // 32-bit colour and 16-bit grey read frames the running preview has no
    // images for.
    for (int32_t bits : {32, 16}) {
        SCOPED_TRACE(bits);
        ASSERT_EQ(Vimbra_SetColorMode(h, bits), 1);
        inbox.Drain();
        for (int i = 0; i < 3; ++i) {
            const VimbraHostMessage m = inbox.Next();
            ASSERT_EQ(m.message, VIMBRA_MSG_FRAME);
            ASSERT_NE(m.wParam, 0u) << "error " << m.lParam;
            // The worker may be filling in the next frame: read as a host does.
            auto* info = reinterpret_cast<VimbraFrameInfo*>(m.wParam);
            EXPECT_EQ(std::atomic_ref<int32_t>(info->bitsPerPixel).load(), 24);
        }
        std::vector<uint8_t> image(buffer.size());
        EXPECT_EQ(Vimbra_GetImage(h, image.data(), static_cast<int32_t>(image.size()), 1), 1);
    }
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    EXPECT_TRUE(Codes(h).empty());
    // The next start uses the mode set meanwhile.
    std::vector<uint8_t> grey(64 * 48 * 2);
    EXPECT_EQ(Vimbra_SnapShot(h, grey.data(), static_cast<int32_t>(grey.size()), 1), 1);
}

// A camera change or a new capture window while a stop waits for the trigger
// worker's frame request would free the buffer and the driver handle the
// request is still using; they wait for the stop to finish instead.
TEST_F(AcquisitionTest, DeviceChangesWaitForAStopInProgress) {
    enum class Change { kDeviceNumber, kCaptureWindow };
    for (Change change : {Change::kDeviceNumber, Change::kCaptureWindow}) {
        SCOPED_TRACE(static_cast<int>(change));
        ASSERT_EQ(Vimbra_SetDeviceNumber(h, 0), 1);
        std::promise<void> entered, release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> armed{true};
        Driver().Camera(0)->SetFrameHook([&](sim::VirtualCamera::FrameEvent event, auto, auto) {
            if (event != sim::VirtualCamera::FrameEvent::kBegin || !armed.exchange(false)) return;
            entered.set_value();
            released.wait();
        });
        ASSERT_EQ(Vimbra_Trigger(h, nullptr, nullptr, 0, 0), 1);
        // The worker's frame request is held inside the driver.
        entered.get_future().wait();
        std::thread stopper([&] { EXPECT_EQ(Vimbra_StopPreview(h), 1); });
        // The stop has begun (and waits for the worker) once the state is idle.
        ASSERT_TRUE(Eventually([&] { return State() == AcqState::kIdle; }));
        std::atomic<bool> changed{false};
        std::thread changer([&] {
            const int32_t result = change == Change::kDeviceNumber
                                       ? Vimbra_SetDeviceNumber(h, 3)
                                       : Vimbra_SetCaptureWindowEx(h, 2592, 0, 32, 1944, 0, 24);
            EXPECT_EQ(result, 1);
            changed = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(changed.load()) << "changed under the worker's request";
        release.set_value();
        stopper.join();
        changer.join();
        Driver().Camera(0)->SetFrameHook(nullptr);
        EXPECT_TRUE(Codes(h).empty());
        ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, 64, 1944, 0, 48), 1);
    }
}

// A long wait time between preview frames does not hold up a stop: the host
// may set any wait, and Vimbra_StopPreview (and Vimbra_Release) wait for the
// worker without a time limit.
TEST_F(AcquisitionTest, StopDoesNotWaitOutALongWaitTime) {
    static constexpr int32_t kHour = 3600000;
    // A sleep of the whole wait time lasts until the test ends it; the short
    // pauses are slept, the protocol waits skipped.
    static std::mutex mutex;
    static std::condition_variable woken;
    static bool wake = false;
    wake = false;
    platform::SetSleepHook([](uint32_t ms) {
        if (ms == static_cast<uint32_t>(kHour)) {
            std::unique_lock<std::mutex> lock(mutex);
            woken.wait(lock, [] { return wake; });
        } else if (ms <= 10) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    });
    auto end_sleeps = [] {
        std::lock_guard<std::mutex> lock(mutex);
        wake = true;
        woken.notify_all();
    };
    ASSERT_EQ(Vimbra_SetWaitTime(h, kHour), 1);
    ASSERT_EQ(Vimbra_StartPreview(h), 1);
    std::future<int32_t> stopped =
        std::async(std::launch::async, [this] { return Vimbra_StopPreview(h); });
    const bool returned = stopped.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    end_sleeps();
    EXPECT_TRUE(returned) << "the stop waited for the wait time";
    EXPECT_EQ(stopped.get(), 1);
    EXPECT_EQ(State(), AcqState::kIdle);
}

// Two sessions of one process starting on the same camera at once: the
// camera table lets exactly one of them have it.
TEST_F(AcquisitionTest, SimultaneousStartsOnOneCameraLetOneWin) {
    const int32_t other = Open();
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(other, 2592, 0, 64, 1944, 0, 48), 1);
    ASSERT_EQ(Vimbra_SetPreviewWindow(other, nullptr, 0, 0, 0, 0), 1);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::atomic<int> ready{0};
        int32_t results[2] = {};
        auto start = [&](int i, int32_t session) {
            ++ready;
            while (ready.load() < 2) {
            }
            results[i] = i == 0 ? Vimbra_StartPreview(session) : Vimbra_Capture(session);
        };
        std::thread first(start, 0, h), second(start, 1, other);
        first.join();
        second.join();
        EXPECT_EQ(results[0] + results[1], 1);
        Vimbra_StopPreview(h);
        Vimbra_StopPreview(other);
        Codes(h);
        Codes(other);
    }
}

// A sub-sample mode set while a snapshot prepares the camera applies to the
// whole of that preparation or to none of it.
TEST_F(AcquisitionTest, SubSampleSetDuringAPreparationAppliesWhole) {
    std::atomic<bool> done{false};
    std::thread toggler([&] {
        for (int i = 0; !done.load(); ++i) Vimbra_SetSubSample(h, i % 2);
    });
    std::vector<uint8_t> buffer(64 * 48 * 3);
    int failures = 0;
    for (int i = 0; i < 200; ++i)
        failures += Vimbra_SnapShot(h, buffer.data(), static_cast<int32_t>(buffer.size()), 1) == 0;
    done = true;
    toggler.join();
    EXPECT_EQ(failures, 0);
    EXPECT_TRUE(Codes(h).empty());
}

// A wait time read from a damaged registry value (here -1, which is 49 days
// as an unsigned count) does not stop preview from delivering frames.
TEST_F(AcquisitionTest, NegativeStoredWaitTimeDoesNotStallPreview) {
    WriteValues(std::string(kMainKey) + "\\Camera_00", {{"WaitTime", -1}});
    const int32_t stored = Open();
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(stored, 2592, 0, 64, 1944, 0, 48), 1);
    ASSERT_EQ(Vimbra_SetPreviewWindow(stored, nullptr, 0, 0, 0, 0), 1);
    Inbox inbox;
    ASSERT_EQ(Vimbra_CallBackPreview(stored, inbox.window(), nullptr, 0, 0), 1);
    EXPECT_EQ(inbox.Next().message, VIMBRA_MSG_FRAME);
    EXPECT_EQ(Vimbra_StopPreview(stored), 1);
}

// Settings changed from host threads while preview, trigger mode and a
// recording run; run under ThreadSanitizer.
TEST_F(AcquisitionTest, SettingsFromManyThreadsDuringAcquisition) {
    const std::string clip = registry_.dir() + "/settings.avi";
    std::vector<uint8_t> images[3];
    // One change per entry; `i` varies the value, `t` is the thread.
    const std::function<void(int, int)> changes[] = {
        [&](int i, int) { Vimbra_SetColorMode(h, i % 3 == 0 ? 24 : (i % 3 == 1 ? 32 : 48)); },
        [&](int i, int) { Vimbra_SetSubSample(h, i % 2); },
        [&](int i, int) {
            Vimbra_SetCaptureWindowEx(h, 2592, 0, i % 2 ? 64 : 32, 1944, 0, i % 2 ? 48 : 24);
        },
        [&](int i, int) { Vimbra_SetGlobalGain(h, i % 60); },
        [&](int i, int) { Vimbra_SetAutoIris(h, i % 3); },
        [&](int i, int) { Vimbra_SetBayerGainAuto(h, i % 2); },
        [&](int i, int) { Vimbra_SetMirrorV(h, i % 2); },
        [&](int, int t) {
            Vimbra_GetImage(h, images[t].data(), static_cast<int32_t>(images[t].size()), 0);
        },
        [&](int i, int) { Vimbra_SetDeviceNumber(h, i % 2 ? 0 : 3); },
        [&](int i, int) { Vimbra_SetBrightness(h, i % 50); },
        [&](int, int) { Vimbra_GetRealExposureTime(h, nullptr); },
        [&](int i, int) { Vimbra_SetWaitTime(h, i % 3); },
    };
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        images[t].resize(64 * 48 * 8);
        threads.emplace_back([&, t] {
            for (int i = 0; !done.load(); ++i) changes[(i + t) % std::size(changes)](i, t);
        });
    }
    Inbox inbox;
    std::vector<uint8_t> delivered(64 * 48 * 8);
    for (int round = 0; round < 6; ++round) {
        switch (round % 3) {
            case 0:
                Vimbra_CallBackPreview(h, inbox.window(), delivered.data(),
                                       static_cast<int32_t>(delivered.size()), 1);
                break;
            case 1:
                Vimbra_Trigger(h, inbox.window(), delivered.data(),
                               static_cast<int32_t>(delivered.size()), 0);
                Driver().FireTrigger(0);
                Driver().FireTrigger(3);
                break;
            default:
                Vimbra_Record(h, clip.c_str(), 50, 0);
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        Vimbra_StopPreview(h);
        inbox.Drain();
    }
    done = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(Vimbra_Close(h), 1);
}

}  // namespace
}  // namespace vimbra::testing
