#include <gmock/gmock.h>

#include <filesystem>
#include <string>

#include "device/device_fixture.h"
#include "output/output_test_util.h"
#include "session/api_fixture.h"

namespace vimbra::testing {
namespace {

class SaveAndRecordTest : public ApiTest {
  protected:
    std::string Path(const char* name) const { return registry_.dir() + "/" + name; }
    // A colour camera with small frames and no preview window.
    int32_t OpenSmall() {
        Plug({{0, CameraModel::kColor}});
        const int32_t handle = Open();
        EXPECT_EQ(Vimbra_SetCaptureWindowEx(handle, 2592, 0, 64, 1944, 0, 48), 1);
        EXPECT_EQ(Vimbra_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0), 1);
        Codes(handle);
        return handle;
    }
    // Waits until the recorder has patched the file's RIFF size, which it
    // does last; the file's bytes then.
    static std::vector<uint8_t> FinishedAvi(const std::string& path) {
        std::vector<uint8_t> bytes;
        Eventually([&] {
            bytes = ReadBytes(path);
            return bytes.size() > 8 && Get32(bytes, 4) != 0;
        });
        return bytes;
    }
    // Frames in the header, the index and as ffprobe counts them agree.
    static void ExpectPlayable(const std::string& path, const std::vector<uint8_t>& bytes) {
        ASSERT_GT(bytes.size(), 240u);
        EXPECT_EQ(Get32(bytes, 4), bytes.size() - 8);
        const uint32_t frames = Get32(bytes, 48);
        EXPECT_GT(frames, 0u);
        const size_t index = 228 + Get32(bytes, 224);
        ASSERT_LT(index + 8, bytes.size());
        EXPECT_EQ(FourCc(bytes, index), "idx1");
        EXPECT_EQ(Get32(bytes, index + 4), 16 * frames);
        if (!HaveTool("ffprobe")) return;
        const std::string probe = ProbeVideo(path);
        EXPECT_THAT(probe, ::testing::HasSubstr("width=64"));
        EXPECT_THAT(probe, ::testing::HasSubstr("nb_read_frames=" + std::to_string(frames)));
    }
};

TEST_F(SaveAndRecordTest, WithoutADeviceBothFormsFailWithCode1) {
    CameraTable::SetObjectNameForTesting("no/such/dir");  // initialisation fails
    const int32_t h = Open();
    Codes(h);
    const std::string path = Path("a.bmp");
    const std::u16string wide(path.begin(), path.end());
    EXPECT_EQ(Vimbra_SaveImage(h, path.c_str(), 0), 0);
    EXPECT_EQ(Vimbra_SaveImageW(h, wide.c_str(), 0), 0);
    EXPECT_EQ(Codes(h), (std::vector<int32_t>{VIMBRA_ERR_STATE, VIMBRA_ERR_STATE}));
    EXPECT_FALSE(std::filesystem::exists(path));
}

// Before any acquisition there is no converted frame and no current image:
// both forms refuse with code 1 whatever the format, and so does a wide name
// that has no narrow form within 1023 bytes. An unknown handle records nothing.
TEST_F(SaveAndRecordTest, NothingToSaveBeforeTheFirstFrame) {
    const int32_t h = OpenSmall();
    const std::string path = Path("a.png");
    const std::u16string wide(path.begin(), path.end());
    const std::u16string lone_surrogate = u"a\xD800.png";
    const std::u16string too_long(1024, u'a');
    for (int32_t format : {0, 5, 7, -1}) {
        EXPECT_EQ(Vimbra_SaveImage(h, path.c_str(), format), 0) << format;
        EXPECT_EQ(Vimbra_SaveImageW(h, wide.c_str(), format), 0) << format;
        EXPECT_EQ(Codes(h), (std::vector<int32_t>{VIMBRA_ERR_STATE, VIMBRA_ERR_STATE})) << format;
    }
    for (const VimbraWChar* name :
         {lone_surrogate.c_str(), too_long.c_str(), static_cast<const VimbraWChar*>(nullptr)}) {
        EXPECT_EQ(Vimbra_SaveImageW(h, name, 0), 0);
        EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_STATE});
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(Vimbra_SaveImage(h + 1000, path.c_str(), 0), 0);
    EXPECT_EQ(Vimbra_SaveImageW(h + 1000, wide.c_str(), 0), 0);
    EXPECT_TRUE(Codes(h).empty());
}

// During preview every format saves the current 64 x 48 picture; after the
// acquisition is closed only the wide form still saves what the image holds.
TEST_F(SaveAndRecordTest, SavesTheCurrentImageUntilTheAcquisitionCloses) {
    const int32_t h = OpenSmall();
    ASSERT_EQ(Vimbra_SetColorMode(h, 24), 1);
    ASSERT_EQ(Vimbra_StartPreview(h), 1);
    const std::string bmp = Path("frame.bmp");
    ASSERT_TRUE(Eventually([&] { return Vimbra_SaveImage(h, bmp.c_str(), 0) == 1; }));
    Codes(h);
    EXPECT_EQ(ReadBytes(bmp).size(), 54u + 48 * 64 * 3);
    for (int32_t format = 1; format <= 6; ++format) {
        const std::string path = Path(("frame" + std::to_string(format)).c_str());
        EXPECT_EQ(Vimbra_SaveImage(h, path.c_str(), format), 1) << format;
        EXPECT_GT(ReadBytes(path).size(), 0u) << format;
    }
    EXPECT_EQ(Vimbra_SaveImage(h, Path("seven").c_str(), 7), 0);
    EXPECT_TRUE(Codes(h).empty());

    ASSERT_EQ(Vimbra_Close(h), 1);
    const std::string after = Path("after.raw");
    const std::u16string wide(after.begin(), after.end());
    EXPECT_EQ(Vimbra_SaveImage(h, after.c_str(), 1), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_STATE});
    EXPECT_EQ(Vimbra_SaveImageW(h, wide.c_str(), 1), 1);
    EXPECT_EQ(ReadBytes(after).size(), 48u * 64 * 3);
}

// A recording runs on preview for its duration and leaves a file that
// plays; a second Record meanwhile is refused and the first goes on.
TEST_F(SaveAndRecordTest, RecordingPlaysAndASecondOneIsRefused) {
    const int32_t h = OpenSmall();
    const std::string path = Path("clip.avi"), second = Path("second.avi");
    ASSERT_EQ(Vimbra_Record(h, path.c_str(), 200, 0), 1);
    EXPECT_EQ(Vimbra_Record(h, second.c_str(), 200, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_STATE});
    EXPECT_FALSE(std::filesystem::exists(second));
    ExpectPlayable(path, FinishedAvi(path));
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
}

// Stopping preview (or closing) in the middle of a recording finishes the
// file with the frames taken so far.
TEST_F(SaveAndRecordTest, StoppedRecordingIsFinished) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "stop preview");
        const int32_t h = OpenSmall();
        const std::string path = Path(close ? "closed.avi" : "stopped.avi");
        ASSERT_EQ(Vimbra_Record(h, path.c_str(), 3600000, 0), 1);
        ASSERT_TRUE(
            Eventually([&] { return ReadBytes(path).size() > 232 + 3 * (8 + 64 * 48 * 3); }));
        EXPECT_EQ(close ? Vimbra_Close(h) : Vimbra_StopPreview(h), 1);
        ExpectPlayable(path, ReadBytes(path));
        Close(h);
        Driver().UnplugAll();
    }
}

// A disk that fills up during a recording ends it with a file that plays
// the frames written whole, and the host hears of it as a file failure.
TEST_F(SaveAndRecordTest, FullDiskEndsTheRecordingWithCode12) {
    const int32_t h = OpenSmall();
    const std::string path = Path("full.avi");
    {
        FileSizeLimit disk(232 + 2 * (8 + 64 * 48 * 3) + 100);
        ASSERT_EQ(Vimbra_Record(h, path.c_str(), 3600000, 0), 1);
        ExpectPlayable(path, FinishedAvi(path));
    }
    EXPECT_EQ(Get32(ReadBytes(path), 48), 2u);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FILE});
    EXPECT_EQ(Vimbra_StopPreview(h), 1);
}

}  // namespace
}  // namespace vimbra::testing
