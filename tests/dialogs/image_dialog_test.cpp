#include "dialogs/image_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "dialogs/dialog_flow.h"
#include "fake_dialog_session.h"

namespace vimbra::dialogs {
namespace {

using testing::FakeSession;
using testing::ScriptedDisplay;

constexpr int kBayerButtons[] = {1030, 1031, 1032, 1033};

FilterRecord SampleFilter() {
    FilterRecord f;
    f.brightness = -20;
    f.contrast = 5;
    f.hue = 90;
    f.saturation = -3;
    f.sharpness = 2;
    f.red_gain = 150;
    f.green_gain = 100;
    f.blue_gain = 80;
    f.gamma = 120;
    f.bayer_mode = 2;
    f.gray = {1, 130, 131, 132, 133, 4, 5, 6, 7};
    return f;
}

class ImageDialogTest : public ::testing::Test {
  protected:
    void Open(int32_t colour_mode) {
        session_.colour_mode = colour_mode;
        session_.filter = SampleFilter();
        model_ = std::make_unique<ImageDialogModel>(session_);
        model_->Init();
    }
    ImagePage& Image() { return model_->Image(); }
    GrayPage& Gray() { return model_->Gray(); }

    FakeSession session_;
    std::unique_ptr<ImageDialogModel> model_;
};

TEST_F(ImageDialogTest, ColourModeDecidesWhatIsEnabledAndWhetherTheGrayTabExists) {
    struct Case {
        int32_t mode;
        bool tone, colour, gray_tab;
    };
    for (const Case c : {Case{0, true, false, true}, Case{1, true, false, true},
                         Case{2, true, true, false}, Case{5, true, true, false},
                         Case{6, false, false, false}, Case{-1, false, false, false}}) {
        SCOPED_TRACE(c.mode);
        Open(c.mode);
        for (int id : {2001, 2002, 2004, 2012, 2042, 2081})
            EXPECT_EQ(Image().At(id).enabled, c.tone);
        for (int id : {2021, 2032, 2051, 2062, 2073, 2074, 1035, 1030, 1033}) {
            EXPECT_EQ(Image().At(id).enabled, c.colour) << id;
        }
        EXPECT_EQ(model_->HasGrayPage(), c.gray_tab);
        EXPECT_EQ(model_->Frame().At(kFrameTab).items.size(), c.gray_tab ? 2u : 1u);
        EXPECT_TRUE(Image().Visible());
        EXPECT_FALSE(Gray().Visible());
    }
}

TEST_F(ImageDialogTest, SetUpShowsTheRecordWithTheRangesAndWritesNothing) {
    Open(2);
    EXPECT_EQ(Image().At(2002).text, "-20");
    EXPECT_EQ(Image().At(2021).position, 90);
    const Control& hue = Image().At(2021);
    EXPECT_EQ((std::vector<int32_t>{hue.min, hue.max, hue.tick_frequency}),
              (std::vector<int32_t>{-360, 360, 90}));
    EXPECT_TRUE(Image().At(1032).checked);
    EXPECT_EQ(session_.filter.brightness, -20);
}

TEST_F(ImageDialogTest, TypedValuesAreStoredAsTypedWhileTrackbarsStopAtTheirEnds) {
    Open(2);
    Image().TypeText(2052, "500");
    EXPECT_EQ(session_.filter.red_gain, 500);
    EXPECT_EQ(Image().At(2051).position, 400);
    Image().MoveTrackbar(2001, -100);
    EXPECT_EQ(session_.filter.brightness, -100);
    EXPECT_EQ(Image().At(2002).text, "-100");
    Image().StepUpDown(2024, -1);
    EXPECT_EQ(session_.filter.hue, 89);
}

TEST_F(ImageDialogTest, DisabledControlsIgnoreTheUser) {
    Open(0);
    Image().TypeText(2022, "30");
    Image().MoveTrackbar(2051, 10);
    Image().Click(2074);
    EXPECT_EQ(session_.filter.hue, 90);
    EXPECT_EQ(session_.filter.red_gain, 150);
    EXPECT_EQ(session_.filter.bayer_gain_auto, 0);
}

TEST_F(ImageDialogTest, OnceRequestsOneMeasurementAndAllFramesMeasuresEveryFrame) {
    Open(3);
    Image().Click(kAllFramesBox);
    EXPECT_TRUE(Image().At(kAllFramesBox).checked);
    EXPECT_EQ(session_.filter.bayer_gain_auto, 1);
    EXPECT_EQ(session_.filter.white_balance_request, (std::array<int32_t, 2>{0, 0}));
    Image().Click(kOnceButton);
    EXPECT_FALSE(Image().At(kAllFramesBox).checked);
    EXPECT_EQ(session_.filter.bayer_gain_auto, 1);
    EXPECT_EQ(session_.filter.white_balance_request, (std::array<int32_t, 2>{1, 1}));
    Image().Click(kAllFramesBox);
    Image().Click(kAllFramesBox);
    EXPECT_EQ(session_.filter.bayer_gain_auto, 0);
    EXPECT_EQ(session_.filter.white_balance_request, (std::array<int32_t, 2>{0, 0}));
}

TEST_F(ImageDialogTest, DefaultWritesTheDefaultsAndShowsThem) {
    Open(0);
    model_->Frame().Click(kFrameDefault);
    const FilterRecord& f = session_.filter;
    EXPECT_EQ((std::vector<int32_t>{f.brightness, f.contrast, f.hue, f.saturation, f.sharpness,
                                    f.red_gain, f.green_gain, f.blue_gain, f.gamma, f.bayer_mode}),
              (std::vector<int32_t>{0, 0, 0, 0, 0, 100, 100, 100, 100, 3}));
    EXPECT_EQ(f.gray.mode, 1);  // the gray filter mode has no default
    std::vector<int32_t> positions;
    for (const FilterSetting& s : kGraySettings) positions.push_back(Gray().At(s.bar).position);
    EXPECT_EQ(positions, (std::vector<int32_t>{128, 128, 128, 128, 0, 0, 0, 0}));
    EXPECT_EQ(Gray().At(2122).text, "0");
    EXPECT_EQ(Image().At(2082).text, "100");
    EXPECT_TRUE(Image().At(1033).checked);
    EXPECT_TRUE(Gray().At(1033).checked);
}

TEST_F(ImageDialogTest, DefaultOfAColourModeLeavesTheGrayFilter) {
    Open(2);
    model_->Frame().Click(kFrameDefault);
    EXPECT_EQ(session_.filter.gray.gain_r, 130);
    EXPECT_EQ(session_.filter.gray.offset_b, 7);
}

TEST_F(ImageDialogTest, TabsShowOnePageAtATime) {
    Open(1);
    model_->Frame().Choose(kFrameTab, 1);
    EXPECT_FALSE(Image().Visible());
    EXPECT_TRUE(Gray().Visible());
    model_->Frame().Choose(kFrameTab, 0);
    EXPECT_TRUE(Image().Visible());
    EXPECT_FALSE(Gray().Visible());
}

TEST_F(ImageDialogTest, GrayPageSetsItsFieldsAtOnce) {
    Open(0);
    EXPECT_TRUE(Gray().At(kGrayModeConvertRadio).checked);
    EXPECT_FALSE(Gray().At(kAllFramesBox).checked);  // not taken from the record
    Gray().Click(kGrayModeGrayscaleRadio);
    EXPECT_EQ(session_.filter.gray.mode, 2);
    EXPECT_FALSE(Gray().At(kGrayModeConvertRadio).checked);
    EXPECT_EQ(session_.filter.gray.gain_r, 130);

    Gray().TypeText(2113, "250");
    EXPECT_EQ(session_.filter.gray.offset_r, 250);
    EXPECT_EQ(Gray().At(2112).position, 250);
    Gray().MoveTrackbar(2109, 401);
    EXPECT_EQ(session_.filter.gray.gain_b, 400);
    EXPECT_EQ(Gray().At(2110).text, "400");
}

TEST_F(ImageDialogTest, GreyBalanceRequestFollowsOnceAndAllFramesClicks) {
    Open(0);
    Gray().Click(kOnceButton);
    EXPECT_EQ(session_.filter.grey_balance_request, 1);
    Gray().Click(kAllFramesBox);  // before the measurement ran: off, though the box shows checked
    EXPECT_EQ(session_.filter.grey_balance_request, 0);
    EXPECT_TRUE(Gray().At(kAllFramesBox).checked);
    Gray().Click(kAllFramesBox);
    EXPECT_EQ(session_.filter.grey_balance_request, -1);
    Gray().Click(kAllFramesBox);
    EXPECT_EQ(session_.filter.grey_balance_request, 0);
}

TEST_F(ImageDialogTest, BayerModeChosenOnEitherPageSurvivesOk) {
    for (int page : {0, 1}) {
        SCOPED_TRACE(page);
        Open(page == 0 ? 2 : 0);
        ControlPage& chosen = page == 0 ? static_cast<ControlPage&>(Image()) : Gray();
        chosen.Click(1030);
        EXPECT_EQ(session_.filter.bayer_mode, 0);
        if (model_->HasGrayPage()) {
            EXPECT_TRUE(Image().At(1030).checked);
            EXPECT_FALSE(Image().At(1032).checked);
        }
        model_->Frame().Click(kFrameOk);
        EXPECT_EQ(session_.filter.bayer_mode, 0);
    }
}

TEST_F(ImageDialogTest, OkReadsBothPagesEdits) {
    Open(0);
    Image().TypeText(2042, "9");
    Gray().TypeText(2104, "77");
    session_.filter.sharpness = 0;  // the edits, not the fields, are what OK keeps
    session_.filter.gray.gain_g1 = 0;
    model_->Frame().Click(kFrameOk);
    EXPECT_EQ(model_->Result(), kResultOk);
    EXPECT_EQ(session_.filter.sharpness, 9);
    EXPECT_EQ(session_.filter.gray.gain_g1, 77);
}

TEST_F(ImageDialogTest, WhiteBalanceResultsFromTheAcquisitionRefreshBothPages) {
    Open(1);
    std::thread acquisition([this] { session_.open_dialogs.FilterChanged(); });
    acquisition.join();
    model_->ProcessRequests();  // not attached outside the flow: nothing arrived
    EXPECT_EQ(Image().At(2052).text, "150");

    ScriptedDisplay display;
    display.image_script = [this](ImageDialogModel& m) {
        std::thread acquisition([this] {
            session_.filter.red_gain = 210;  // as the measurement stores it
            session_.filter.gray.gain_g2 = 90;
            session_.open_dialogs.FilterChanged();
        });
        acquisition.join();
        m.ProcessRequests();
        EXPECT_EQ(m.Image().At(2052).text, "210");
        EXPECT_EQ(m.Image().At(2051).position, 210);
        EXPECT_EQ(m.Gray().At(2107).text, "90");
        m.Frame().Click(kFrameOk);
    };
    EXPECT_EQ(RunImageDialog(session_, display, nullptr), 1);
    EXPECT_EQ(session_.filter.red_gain, 210);
}

TEST_F(ImageDialogTest, LeavingWithoutOkPutsTheRecordBack) {
    session_.colour_mode = 0;
    session_.filter = SampleFilter();
    const FilterRecord before = session_.filter;
    ScriptedDisplay display;
    for (bool close_box : {false, true}) {
        display.image_script = [close_box](ImageDialogModel& m) {
            m.Frame().Click(kFrameDefault);
            m.Gray().Click(kOnceButton);
            m.Image().TypeText(2002, "44");
            if (!close_box) m.Frame().Click(kFrameCancel);
        };
        EXPECT_EQ(RunImageDialog(session_, display, nullptr), 1);
        EXPECT_EQ(std::memcmp(&session_.filter, &before, sizeof before), 0);
    }
}

}  // namespace
}  // namespace vimbra::dialogs
