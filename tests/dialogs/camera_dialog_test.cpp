#include "dialogs/camera_dialog.h"

#include <gtest/gtest.h>

#include "dialogs/dialog_flow.h"
#include "fake_dialog_session.h"
#include "platform/registry.h"
#include "platform/registry_test_env.h"

namespace vimbra::dialogs {
namespace {

using testing::FakeSession;
using testing::ScriptedDisplay;

class CameraDialogTest : public ::testing::Test {
  protected:
    // Stores a size table and format for camera 0 as an earlier dialog would.
    void Store(std::vector<SizeEntry> sizes, int32_t index, int32_t sub_sample_position = 0) {
        CameraDialogSettings settings;
        for (size_t i = 0; i < sizes.size(); ++i) settings.sizes[i] = sizes[i];
        settings.size_count = static_cast<int32_t>(sizes.size());
        settings.size_index = index;
        settings.sub_sample = sub_sample_position;
        ASSERT_EQ(SaveDialogSettings(settings), 1);
    }
    static CameraDialogSettings Stored() {
        CameraDialogSettings settings;
        LoadDialogSettings(settings);
        return settings;
    }
    static std::vector<std::string> Edits(const CameraDialogModel& model) {
        std::vector<std::string> texts;
        for (int id = kTotalWidthEdit; id <= kTopEdit; ++id) texts.push_back(model.At(id).text);
        return texts;
    }

    vimbra::testing::TempRegistry registry_;
    FakeSession session_;
    CameraDialogModel model_{session_, Language::kEnglish};
};

const SizeEntry k640{2592, 1944, 640, 480, 16, 8, 2};
const SizeEntry k1280{2592, 1944, 1280, 960, 0, 0, 4};

TEST_F(CameraDialogTest, WithoutStoredSizesOnlyCustomIsListedAndOkStoresItAsTheFirstSize) {
    model_.Init();
    EXPECT_EQ(model_.At(kSizeList).items, std::vector<std::string>{"Custom"});
    EXPECT_EQ(model_.At(kSizeList).selection, 0);
    EXPECT_EQ(Edits(model_), (std::vector<std::string>{"2592", "1944", "2560", "1920", "0", "0"}));
    EXPECT_FALSE(model_.At(kCameraApply).enabled);

    model_.Click(kCameraOk);
    EXPECT_EQ(model_.Result(), kResultOk);
    const CameraDialogSettings stored = Stored();
    EXPECT_EQ(stored.size_count, 1);
    EXPECT_EQ(stored.size_index, 0);
    const SizeEntry& e = stored.sizes[0];
    EXPECT_EQ((std::vector<uint32_t>{e.th, e.tv, e.eh, e.ev, e.ehs, e.evs, e.buf}),
              (std::vector<uint32_t>{2592, 1944, 2560, 1920, 0, 0, 4}));
}

TEST_F(CameraDialogTest, ListsAreFilledInTheirOrderAndShowTheStoredSelection) {
    Store({k640, k1280}, 1);
    model_.Init();
    EXPECT_EQ(model_.At(kSizeList).items,
              (std::vector<std::string>{"640 x 480", "1280 x 960", "Custom"}));
    EXPECT_EQ(model_.At(kSizeList).selection, 1);
    EXPECT_EQ(Edits(model_), (std::vector<std::string>{"2592", "1944", "1280", "960", "0", "0"}));
    EXPECT_EQ(model_.At(kColorList).items.size(), 6u);
    EXPECT_EQ(model_.At(kColorList).items[1], "Monochrome 10bit *");
    EXPECT_EQ(model_.At(kClockList).items,
              (std::vector<std::string>{"Nomal(24MHz)", "Half(12MHz)", "High(48MHz)"}));
    EXPECT_EQ(model_.At(kCameraTab).items, std::vector<std::string>{"Stream Format"});
    EXPECT_TRUE(model_.At(kTotalWidthEdit).read_only);
}

TEST_F(CameraDialogTest, StoredSubSampleModeSelectsItsListPositionAndIsSavedBack) {
    struct Case {
        int32_t stored_mode;
        int position;
        int32_t saved_mode;
    };
    for (const Case c : {Case{0, 0, 0}, Case{1, 1, 1}, Case{2, 2, 2}, Case{17, 3, 17},
                         Case{18, 4, 18}, Case{5, 0, 0}, Case{3, 0, 0}}) {
        SCOPED_TRACE(c.stored_mode);
        Store({k640}, 0);
        platform::ScopedRegKey key;
        ASSERT_EQ(
            platform::CreateKey(platform::HkeyCurrentUser(),
                                (std::string(kProductKey) + "\\Camera_00").c_str(), key.Receive()),
            platform::kRegOk);
        platform::SetDword(key.get(), "SubSample", c.stored_mode);
        key.Close();
        CameraDialogModel model(session_, Language::kEnglish);
        model.Init();
        EXPECT_EQ(model.At(kSubSampleList).selection, c.position);
        model.Click(kCameraOk);
        FormatSettings format;
        LoadVideoFormat(0, format);
        EXPECT_EQ(format.sub_sample, c.saved_mode);
    }
}

TEST_F(CameraDialogTest, CustomKeepsTheEditsWhileAStoredSizeFillsThem) {
    Store({k640, k1280}, 0);
    model_.Init();
    model_.TypeText(kWidthEdit, "1000");
    EXPECT_TRUE(model_.At(kCameraApply).enabled);
    model_.Choose(kSizeList, 2);  // Custom
    EXPECT_EQ(Edits(model_), (std::vector<std::string>{"2592", "1944", "1000", "480", "16", "8"}));
    model_.Choose(kSizeList, 1);
    EXPECT_EQ(Edits(model_), (std::vector<std::string>{"2592", "1944", "1280", "960", "0", "0"}));
}

TEST_F(CameraDialogTest, ApplyOfACustomSizeAddsItBeforeCustomAndKeepsTheDialogOpen) {
    Store({k640}, 0);
    model_.Init();
    model_.Choose(kSizeList, 1);
    model_.TypeText(kWidthEdit, "800");
    model_.TypeText(kHeightEdit, "600");
    model_.Choose(kColorList, 4);
    model_.TypeText(kWaitTimeEdit, "25");
    model_.Click(kCameraApply);
    EXPECT_EQ(model_.Result(), 0);
    EXPECT_FALSE(model_.At(kCameraApply).enabled);
    EXPECT_EQ(model_.At(kSizeList).items,
              (std::vector<std::string>{"640 x 480", "800 x 600", "Custom"}));
    EXPECT_EQ(model_.At(kSizeList).selection, 1);

    const CameraDialogSettings stored = Stored();
    EXPECT_EQ(stored.size_count, 2);
    EXPECT_EQ(stored.size_index, 1);
    EXPECT_EQ(stored.color_index, 4);
    EXPECT_EQ(stored.wait_time, 25);
    EXPECT_EQ(stored.sizes[1].eh, 800u);
    EXPECT_EQ(stored.sizes[1].buf, 4u);

    // A second Apply now edits the new entry instead of adding another.
    model_.TypeText(kWidthEdit, "808");
    model_.Click(kCameraApply);
    EXPECT_EQ(model_.At(kSizeList).items[1], "808 x 600");
    EXPECT_EQ(Stored().size_count, 2);
}

TEST_F(CameraDialogTest, OkOnAStoredSizeOverwritesItAndKeepsItsBufferCount) {
    Store({k640, k1280}, 0);
    model_.Init();
    model_.TypeText(kLeftEdit, "32");
    model_.TypeText(kHeightEdit, "abc");  // unreadable text reads as 0
    model_.Click(kCameraOk);
    const CameraDialogSettings stored = Stored();
    EXPECT_EQ(stored.size_count, 2);
    EXPECT_EQ(stored.sizes[0].ehs, 32u);
    EXPECT_EQ(stored.sizes[0].ev, 0u);
    EXPECT_EQ(stored.sizes[0].buf, 2u);
}

TEST_F(CameraDialogTest, ApplyThenCancelKeepsTheAppliedValuesWithoutReloadingTheCamera) {
    Store({k640}, 0);
    ScriptedDisplay display;
    display.camera_script = [](CameraDialogModel& model) {
        model.TypeText(kWaitTimeEdit, "40");
        model.Click(kCameraApply);
        model.TypeText(kWaitTimeEdit, "90");
        model.Click(kCameraCancel);
    };
    EXPECT_EQ(RunCameraDialog(session_, display, nullptr), 1);
    EXPECT_EQ(Stored().wait_time, 40);
    EXPECT_EQ(session_.log, (std::vector<std::string>{"pause", "save", "resume"}));
}

TEST_F(CameraDialogTest, OkReloadsTheFormatWhenAcquisitionResumes) {
    ScriptedDisplay display;
    display.camera_script = [](CameraDialogModel& model) { model.Click(kCameraOk); };
    EXPECT_EQ(RunCameraDialog(session_, display, nullptr), 1);
    EXPECT_EQ(session_.log, (std::vector<std::string>{"pause", "save", "resume reload"}));
}

TEST_F(CameraDialogTest, StoredSizeIndexOutsideTheListSelectsCustom) {
    for (int32_t index : {-1, 3, 99, 1000}) {
        SCOPED_TRACE(index);
        Store({k640, k1280}, index);
        CameraDialogModel model(session_, Language::kEnglish);
        model.Init();
        EXPECT_EQ(model.At(kSizeList).selection, 2);
        EXPECT_EQ(model.At(kWidthEdit).text, "2560");
    }
}

TEST_F(CameraDialogTest, AFullSizeTableOffersNoCustomLine) {
    Store(std::vector<SizeEntry>(kMaxSizeEntries, k640), kMaxSizeEntries);
    model_.Init();
    EXPECT_EQ(model_.At(kSizeList).items.size(), size_t{kMaxSizeEntries});
    EXPECT_EQ(model_.At(kSizeList).selection, 0);
    model_.Click(kCameraOk);
    EXPECT_EQ(Stored().size_count, kMaxSizeEntries);
}

TEST_F(CameraDialogTest, JapaneseLocaleGivesTheJapaneseTexts) {
    CameraDialogModel model(session_, Language::kJapanese);
    model.Init();
    EXPECT_EQ(model.At(kColorList).items[1], "白黒 12bit ※");
    EXPECT_EQ(model.At(kClockList).items[2], "高速(48MHz)");
    EXPECT_EQ(model.At(kSizeList).items.back(), "カスタム");
    EXPECT_EQ(model.At(kSubSampleList).items[3], "1/2 Bin");
}

}  // namespace
}  // namespace vimbra::dialogs
