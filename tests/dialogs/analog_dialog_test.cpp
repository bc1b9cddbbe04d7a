#include "dialogs/analog_dialog.h"

#include <gtest/gtest.h>

#include <thread>

#include "dialogs/dialog_flow.h"
#include "fake_dialog_session.h"
#include "platform/registry_test_env.h"

namespace vimbra::dialogs {
namespace {

using testing::FakeCamera;
using testing::FakeSession;
using testing::ScriptedDisplay;

constexpr int kGainBars[] = {kGlobalGainBar, kGainG1Bar, kGainRBar, kGainBBar, kGainG2Bar};

class AnalogDialogTest : public ::testing::Test {
  protected:
    AnalogDialogTest() {
        session_.analog = {10, 11, 12, 13, 15, 500, 0, 1, 0};
        model_.Init();
    }
    FakeSession session_;
    AnalogDialogModel model_{session_};
    AnalogPage& page_ = model_.Page();
};

TEST_F(AnalogDialogTest, SetUpShowsTheRecordWithTheSensorRangesAndWritesNothing) {
    EXPECT_TRUE(session_.log.empty());
    EXPECT_EQ(page_.At(kGlobalGainEdit).text, "10");
    EXPECT_EQ(page_.At(kGainG2Bar).position, 15);
    const Control& gain = page_.At(kGainRBar);
    EXPECT_EQ((std::vector<int32_t>{gain.min, gain.max, gain.tick_frequency}),
              (std::vector<int32_t>{0, 63, 7}));
    const Control& exposure = page_.At(kExposureBar);
    EXPECT_EQ((std::vector<int32_t>{exposure.min, exposure.max, exposure.tick_frequency}),
              (std::vector<int32_t>{1, 16383, 2047}));
    EXPECT_EQ(page_.At(kExposureUpDown).buddy, kExposureEdit);
    EXPECT_FALSE(page_.At(kMirrorVBox).checked);
    EXPECT_TRUE(page_.At(kMirrorHBox).checked);
    EXPECT_EQ(page_.At(kExposureTimeText).text, "=72.42ms");  // 500 rows of 3476 clocks at 24 MHz
    EXPECT_EQ(model_.Frame().At(kFrameTab).items, std::vector<std::string>{"Analog Gain"});
}

TEST_F(AnalogDialogTest, TypingTheGlobalGainSetsAllFourColourGains) {
    page_.TypeText(kGlobalGainEdit, "20");
    const AnalogRecord& r = session_.analog;
    EXPECT_EQ((std::vector<int32_t>{r.global_gain, r.gain_g1, r.gain_r, r.gain_b, r.gain_g2}),
              (std::vector<int32_t>{20, 20, 20, 20, 20}));
    EXPECT_EQ(session_.log, (std::vector<std::string>{"gain 20", "color 43 20", "color 45 20",
                                                      "color 44 20", "color 46 20"}));
    for (int bar : kGainBars) EXPECT_EQ(page_.At(bar).position, 20) << bar;
    EXPECT_EQ(page_.At(kGainBEdit).text, "20");
}

TEST_F(AnalogDialogTest, TrackbarWritesItsEditWhichAppliesTheValue) {
    page_.MoveTrackbar(kExposureBar, 16383);
    EXPECT_EQ(page_.At(kExposureEdit).text, "16383");
    EXPECT_EQ(session_.analog.exposure, 16383);
    EXPECT_EQ(session_.camera.exposure, 16383);
    EXPECT_EQ(page_.At(kExposureTimeText).text, "=2372.80ms");

    page_.MoveTrackbar(kGainRBar, 99);  // held at the end of the range
    EXPECT_EQ(session_.analog.gain_r, 63);
    EXPECT_EQ(session_.camera.color_gains[kRegisterR], 63);
    EXPECT_EQ(session_.analog.gain_b, 13);
}

TEST_F(AnalogDialogTest, TypedValuesAreStoredUnclampedForTheSensorToLimit) {
    page_.TypeText(kExposureEdit, "0");
    EXPECT_EQ(session_.analog.exposure, 0);
    EXPECT_EQ(session_.log.back(), "exposure 0");
    EXPECT_EQ(page_.At(kExposureBar).position, 1);
    EXPECT_EQ(page_.At(kExposureTimeText).text, "=0.00ms");
}

TEST_F(AnalogDialogTest, UpDownStepsFromTheEditsNumberWithinItsRange) {
    page_.TypeText(kGainG1Edit, "62");
    page_.StepUpDown(kGainG1UpDown, 1);
    EXPECT_EQ(page_.At(kGainG1Edit).text, "63");
    session_.log.clear();
    page_.StepUpDown(kGainG1UpDown, 1);
    EXPECT_TRUE(session_.log.empty());
    page_.StepUpDown(kGainG1UpDown, -1);
    EXPECT_EQ(session_.analog.gain_g1, 62);
}

TEST_F(AnalogDialogTest, AutoIrisBoxesExcludeEachOther) {
    struct Step {
        int box;
        int32_t mode;
        bool gain_checked, exposure_checked;
    };
    const Step steps[] = {
        {kAutoIrisGainBox, 2, true, false},
        {kAutoIrisExposureBox, 1, false, true},
        {kAutoIrisGainBox, 2, true, false},
        {kAutoIrisGainBox, 0, false, false},
    };
    for (const Step& s : steps) {
        page_.Click(s.box);
        EXPECT_EQ(session_.analog.auto_iris, s.mode);
        EXPECT_EQ(page_.At(kAutoIrisGainBox).checked, s.gain_checked);
        EXPECT_EQ(page_.At(kAutoIrisExposureBox).checked, s.exposure_checked);
    }
    EXPECT_TRUE(session_.log.empty());  // stored only
}

TEST_F(AnalogDialogTest, MirrorBoxesWriteTheCameraAndTheRecord) {
    page_.Click(kMirrorVBox);
    page_.Click(kMirrorHBox);
    EXPECT_EQ(session_.log, (std::vector<std::string>{"mirror v 1", "mirror h 0"}));
    EXPECT_EQ(session_.analog.v_mirror, 1);
    EXPECT_EQ(session_.analog.h_mirror, 0);
}

TEST_F(AnalogDialogTest, DefaultSetsGainsAndExposureButNotMirrorsOrAutoIris) {
    session_.analog.auto_iris = 1;
    model_.Frame().Click(kFrameDefault);
    const AnalogRecord& r = session_.analog;
    EXPECT_EQ((std::vector<int32_t>{r.global_gain, r.gain_g1, r.gain_r, r.gain_b, r.gain_g2,
                                    r.exposure, r.v_mirror, r.h_mirror, r.auto_iris}),
              (std::vector<int32_t>{14, 14, 14, 14, 14, 1970, 0, 1, 1}));
    EXPECT_EQ(session_.camera.exposure, 1970);
    EXPECT_EQ(session_.camera.color_gains[kRegisterG2], 14);
    for (int bar : kGainBars) EXPECT_EQ(page_.At(bar).position, 14);
    EXPECT_EQ(page_.At(kExposureEdit).text, "1970");
    EXPECT_EQ(model_.Result(), 0);
}

TEST_F(AnalogDialogTest, OkReadsTheEditsIntoTheRecord) {
    page_.TypeText(kGainREdit, "7");
    model_.Frame().Click(kFrameOk);
    EXPECT_EQ(model_.Result(), kResultOk);
    model_.Close();  // the window going away afterwards does not turn OK into Cancel
    EXPECT_EQ(model_.Result(), kResultOk);
    EXPECT_EQ(session_.analog.gain_r, 7);
    EXPECT_EQ(session_.analog.global_gain, 10);
}

class AnalogFlowTest : public ::testing::Test {
  protected:
    AnalogFlowTest() {
        session_.camera = {9, {{43, 8}, {44, 7}, {45, 6}, {46, 5}}, 300, 0, 1};
        session_.analog.auto_iris = 2;
        session_.filter.bayer_mode = 1;
    }
    FakeSession session_;
    ScriptedDisplay display_;
};

TEST_F(AnalogFlowTest, LeavingWithoutOkPutsCameraAndRecordBack) {
    const FakeCamera before = session_.camera;
    struct Case {
        const char* name;
        std::function<void(AnalogDialogModel&)> script;
    };
    const Case cases[] = {
        {"default then cancel",
         [](AnalogDialogModel& m) {
             m.Frame().Click(kFrameDefault);
             m.Frame().Click(kFrameCancel);
         }},
        {"mirror v then cancel",
         [](AnalogDialogModel& m) {
             m.Page().Click(kMirrorVBox);
             m.Frame().Click(kFrameCancel);
         }},
        {"gain then close box",
         [](AnalogDialogModel& m) {
             m.Page().TypeText(kGlobalGainEdit, "40");
             m.Page().Click(kAutoIrisExposureBox);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        display_.analog_script = c.script;
        EXPECT_EQ(RunAnalogDialog(session_, display_, nullptr), 1);
        EXPECT_EQ(session_.camera, before);
        EXPECT_EQ(session_.analog.global_gain, 9);
        EXPECT_EQ(session_.analog.v_mirror, 0);
        EXPECT_EQ(session_.analog.auto_iris, 2);
        EXPECT_EQ(session_.filter.bayer_mode, 1);
    }
}

TEST_F(AnalogFlowTest, OkKeepsTheChanges) {
    display_.analog_script = [](AnalogDialogModel& m) {
        m.Page().TypeText(kGlobalGainEdit, "40");
        m.Page().Click(kMirrorVBox);
        m.Frame().Click(kFrameOk);
    };
    EXPECT_EQ(RunAnalogDialog(session_, display_, nullptr), 1);
    EXPECT_EQ(session_.camera.global_gain, 40);
    EXPECT_EQ(session_.camera.mirror_v, 1);
    EXPECT_EQ(session_.analog.gain_g2, 40);
}

TEST_F(AnalogFlowTest, AutoIrisChangesFromTheAcquisitionReachTheOpenDialogOnly) {
    display_.analog_script = [this](AnalogDialogModel& m) {
        std::thread acquisition([this] {
            session_.open_dialogs.AutoIrisGain(33);
            session_.open_dialogs.AutoIrisExposure(1200);
        });
        acquisition.join();
        EXPECT_EQ(m.Page().At(kGlobalGainEdit).text,
                  "9");  // not before the dialog's thread takes it
        m.ProcessRequests();
        EXPECT_EQ(m.Page().At(kGlobalGainEdit).text, "33");
        EXPECT_EQ(m.Page().At(kGainREdit).text, "33");
        EXPECT_EQ(m.Page().At(kExposureBar).position, 1200);
        m.Frame().Click(kFrameOk);
    };
    EXPECT_EQ(RunAnalogDialog(session_, display_, nullptr), 1);
    EXPECT_EQ(session_.camera.color_gains[kRegisterB], 33);
    EXPECT_EQ(session_.analog.exposure, 1200);
    session_.log.clear();
    session_.open_dialogs.AutoIrisGain(50);  // no dialog open: nothing to show
    EXPECT_TRUE(session_.log.empty());
}

TEST(DialogFlowTest, WithoutDeviceOrDisplayNothingOpensAndNothingChanges) {
    struct Case {
        bool device, display;
        int32_t code;
    };
    for (const Case c : {Case{false, true, VIMBRA_ERR_STATE}, Case{false, false, VIMBRA_ERR_STATE},
                         Case{true, false, VIMBRA_ERR_WINDOW}}) {
        FakeSession session;
        session.has_device = c.device;
        session.camera.global_gain = 5;
        session.filter.hue = 7;
        ScriptedDisplay display;
        display.available = c.display;
        bool opened = false;
        display.camera_script = [&](CameraDialogModel&) { opened = true; };
        display.analog_script = [&](AnalogDialogModel&) { opened = true; };
        display.image_script = [&](ImageDialogModel&) { opened = true; };
        EXPECT_EQ(RunCameraDialog(session, display, nullptr), 0);
        EXPECT_EQ(RunAnalogDialog(session, display, nullptr), 0);
        EXPECT_EQ(RunImageDialog(session, display, nullptr), 0);
        EXPECT_FALSE(opened);
        EXPECT_EQ(session.errors, std::vector<int32_t>(3, c.code));
        EXPECT_TRUE(session.log.empty());  // no pause, no camera write, no save
        EXPECT_EQ(session.analog.global_gain, 0);
        EXPECT_EQ(session.filter.hue, 7);
    }
}

// A second analog or image filter dialog on a session that already shows one
// (asked for from within it, or from another thread) fails with code 1 before
// touching anything, and the open dialog still gets the acquisition's updates.
TEST(DialogFlowTest, ASecondDialogOfTheSameKindFailsAndLeavesTheFirstConnected) {
    FakeSession session;
    ScriptedDisplay display;
    session.camera.global_gain = 9;
    int analog_runs = 0;
    display.analog_script = [&](AnalogDialogModel& m) {
        if (++analog_runs > 1) return;  // the second dialog must not open
        m.Page().TypeText(kGlobalGainEdit, "20");
        EXPECT_EQ(RunAnalogDialog(session, display, nullptr), 0);
        EXPECT_EQ(session.analog.global_gain, 20);  // not read back from the camera
        session.open_dialogs.AutoIrisGain(33);
        m.ProcessRequests();
        EXPECT_EQ(m.Page().At(kGlobalGainEdit).text, "33");
        m.Frame().Click(kFrameOk);
    };
    EXPECT_EQ(RunAnalogDialog(session, display, nullptr), 1);
    EXPECT_EQ(analog_runs, 1);
    EXPECT_EQ(session.analog.global_gain, 33);

    int image_runs = 0;
    display.image_script = [&](ImageDialogModel& m) {
        if (++image_runs > 1) return;
        EXPECT_EQ(RunImageDialog(session, display, nullptr), 0);
        session.filter.hue = 45;
        session.open_dialogs.FilterChanged();
        m.ProcessRequests();
        EXPECT_EQ(m.Image().At(2022).text, "45");
        m.Frame().Click(kFrameOk);
    };
    EXPECT_EQ(RunImageDialog(session, display, nullptr), 1);
    EXPECT_EQ(image_runs, 1);
    EXPECT_EQ(session.errors, std::vector<int32_t>(2, VIMBRA_ERR_STATE));
}

// A window the display cannot make (a bad owner window, say) is a failure
// with code 4, not a dialog the user cancelled: 0, and the session is left as
// it was, its acquisition resumed without reloading the format.
TEST(DialogFlowTest, AWindowThatCannotBeMadeReportsCode4) {
    vimbra::testing::TempRegistry registry;  // the camera dialog loads the stored format
    FakeSession session;
    session.camera.global_gain = 5;
    session.filter.hue = 7;
    ScriptedDisplay display;
    display.window_fails = true;
    EXPECT_EQ(RunCameraDialog(session, display, nullptr), 0);
    EXPECT_EQ(session.log, (std::vector<std::string>{"pause", "resume"}));
    EXPECT_EQ(RunAnalogDialog(session, display, nullptr), 0);
    EXPECT_EQ(RunImageDialog(session, display, nullptr), 0);
    EXPECT_EQ(session.errors, std::vector<int32_t>(3, VIMBRA_ERR_WINDOW));
    EXPECT_EQ(session.camera.global_gain, 5);
    EXPECT_EQ(session.analog.global_gain, 5);
    EXPECT_EQ(session.filter.hue, 7);
}

}  // namespace
}  // namespace vimbra::dialogs
