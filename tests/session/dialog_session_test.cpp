// The property dialogs on a live session with a virtual camera: the dialog
// calls through the exports, and the session side of each dialog with a
// scripted display standing in for the user.
#include <stdlib.h>

#include <optional>
#include <string>

#include "dialogs/fake_dialog_session.h"
#include "session/api_fixture.h"
#include "session/dialog_session.h"

namespace vimbra::testing {
namespace {

using dialogs::testing::ScriptedDisplay;

class DialogSessionTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        Plug({{0, CameraModel::kColor}});
        h = Open();
        ASSERT_EQ(Vimbra_SetPreviewWindow(h, nullptr, 0, 0, 0, 0), 1);
        Codes(h);
    }
    // Runs one dialog's flow on the session with `display`.
    template <class Flow>
    int32_t Run(Flow flow, ScriptedDisplay& display) {
        return WithSession(h, [&](CVimbra& s) {
            SessionDialogs session(s);
            return flow(session, display, nullptr);
        });
    }
    AcqState State() const {
        return static_cast<AcqState>(WithSession(h, [](CVimbra& s) { return s.State(); }));
    }
    int32_t h = 0;
};

TEST_F(DialogSessionTest, WithoutADisplayTheExportsReportCode4AndChangeNothing) {
    const char* display = std::getenv("DISPLAY");
    const std::optional<std::string> saved =
        display ? std::optional<std::string>(display) : std::nullopt;
    ::setenv("DISPLAY", ":99999", 1);  // a display nobody serves
    ASSERT_EQ(Vimbra_SetGlobalGain(h, 21), 1);
    ASSERT_EQ(Vimbra_StartPreview(h), 1);
    for (auto call : {Vimbra_SetCameraDlg, Vimbra_SetAnalogDlg, Vimbra_SetImageDlg}) {
        EXPECT_EQ(call(h, nullptr), 0);
        EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_WINDOW});
    }
    EXPECT_EQ(State(), AcqState::kPreview);  // the camera dialog did not stop it
    EXPECT_EQ(Vimbra_GetGlobalGain(h, nullptr), 21);
    EXPECT_EQ(Vimbra_SetCameraDlg(12345, nullptr), 0);
    if (saved) {
        ::setenv("DISPLAY", saved->c_str(), 1);
    } else {
        ::unsetenv("DISPLAY");
    }
}

TEST_F(DialogSessionTest, AnalogDialogDrivesTheCameraAndCancelPutsItBack) {
    ASSERT_EQ(Vimbra_SetGlobalGain(h, 30), 1);
    ASSERT_EQ(Vimbra_SetMirrorV(h, 0), 1);
    ScriptedDisplay display;
    display.analog_script = [this](dialogs::AnalogDialogModel& m) {
        m.Frame().Click(dialogs::kFrameDefault);
        m.Page().Click(dialogs::kMirrorVBox);
        EXPECT_EQ(Vimbra_GetGlobalGain(h, nullptr), 14);  // read back from the camera
        EXPECT_EQ(Vimbra_GetColorGainRed(h, nullptr), 14);
        m.Frame().Click(dialogs::kFrameCancel);
    };
    EXPECT_EQ(Run(dialogs::RunAnalogDialog, display), 1);
    EXPECT_EQ(Vimbra_GetGlobalGain(h, nullptr), 30);
    EXPECT_EQ(Vimbra_GetColorGainRed(h, nullptr), 30);
    EXPECT_EQ(Vimbra_GetMirrorV(h), 0);

    display.analog_script = [](dialogs::AnalogDialogModel& m) {
        m.Page().TypeText(dialogs::kGlobalGainEdit, "20");
        m.Frame().Click(dialogs::kFrameOk);
    };
    EXPECT_EQ(Run(dialogs::RunAnalogDialog, display), 1);
    EXPECT_EQ(Vimbra_GetColorGainBlue(h, nullptr), 20);
    EXPECT_TRUE(Codes(h).empty());
}

TEST_F(DialogSessionTest, CameraDialogOkReloadsTheFormatAndRestartsPreview) {
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, 64, 1944, 0, 48), 1);
    ASSERT_EQ(Vimbra_StartPreview(h), 1);
    ScriptedDisplay display;
    display.camera_script = [this](dialogs::CameraDialogModel& m) {
        EXPECT_EQ(State(), AcqState::kIdle);  // stopped while the dialog is open
        m.Choose(dialogs::kSizeList, static_cast<int>(m.At(dialogs::kSizeList).items.size()) - 1);
        m.TypeText(dialogs::kWidthEdit, "96");
        m.TypeText(dialogs::kHeightEdit, "72");
        m.TypeText(dialogs::kWaitTimeEdit, "5");
        m.Click(dialogs::kCameraOk);
    };
    EXPECT_EQ(Run(dialogs::RunCameraDialog, display), 1);
    EXPECT_EQ(State(), AcqState::kPreview);
    int32_t eh = 0, ev = 0;
    Vimbra_GetCaptureWindowEx(h, nullptr, nullptr, &eh, nullptr, nullptr, &ev);
    EXPECT_EQ(eh, 96);
    EXPECT_EQ(ev, 72);
    EXPECT_EQ(Vimbra_GetWaitTime(h), 5);
    ASSERT_EQ(Vimbra_StopPreview(h), 1);
}

TEST_F(DialogSessionTest, ImageDialogCancelPutsTheFilterBack) {
    ASSERT_EQ(Vimbra_SetFilterValue(h, 3, 45), 1);  // hue
    ScriptedDisplay display;
    display.image_script = [this](dialogs::ImageDialogModel& m) {
        m.Frame().Click(dialogs::kFrameDefault);
        EXPECT_EQ(Vimbra_GetFilterValue(h, 3, nullptr), 0);
    };
    EXPECT_EQ(Run(dialogs::RunImageDialog, display), 1);
    EXPECT_EQ(Vimbra_GetFilterValue(h, 3, nullptr), 45);
}

TEST_F(DialogSessionTest, WhiteBalanceOfTheRunningPreviewRefreshesTheOpenImageDialog) {
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, 64, 1944, 0, 48), 1);
    ASSERT_EQ(Vimbra_SetColorMode(h, 24), 1);
    ASSERT_EQ(Vimbra_StartPreview(h), 1);
    ScriptedDisplay display;
    display.image_script = [this](dialogs::ImageDialogModel& m) {
        m.Image().TypeText(2052, "1");  // red gain, which the measurement replaces
        m.Image().Click(dialogs::kOnceButton);
        int32_t measured = 1;
        for (int i = 0; i < 300 && m.Image().At(2052).text == "1"; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            m.ProcessRequests();
            measured = Vimbra_GetFilterValue(h, 7, nullptr);
        }
        EXPECT_NE(measured, 1);
        EXPECT_EQ(m.Image().At(2052).text, std::to_string(measured));
        m.Frame().Click(dialogs::kFrameOk);
    };
    EXPECT_EQ(Run(dialogs::RunImageDialog, display), 1);
    ASSERT_EQ(Vimbra_StopPreview(h), 1);
}

}  // namespace
}  // namespace vimbra::testing
