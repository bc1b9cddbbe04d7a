#include "settings/settings_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_test_env.h"

namespace vimbra {
namespace {

using platform::CreateKey;
using platform::HkeyCurrentUser;
using platform::kRegOk;
using platform::OpenKey;
using platform::ScopedRegKey;

const std::string kMain = kProductKey;
const std::string kCamera0 = kMain + "\\Camera_00";
const std::string kCamera1 = kMain + "\\Camera_01";

// Direct access to the registry for arranging and checking the store's keys;
// paths are relative to HKEY_CURRENT_USER.
class SettingsStoreTest : public ::testing::Test {
  protected:
    static void Put(const std::string& key, const char* name, int32_t value) {
        ScopedRegKey k;
        ASSERT_EQ(CreateKey(HkeyCurrentUser(), key.c_str(), k.Receive()), kRegOk);
        ASSERT_EQ(platform::SetDword(k.get(), name, value), kRegOk);
    }
    static void PutEntry(const std::string& key, const VideoFormat& f) {
        const char* names[] = {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"};
        const int32_t values[] = {f.th, f.tv, f.eh, f.ev, f.ehs, f.evs, f.buf};
        for (int i = 0; i < 7; ++i) Put(key, names[i], values[i]);
    }
    static void Remove(const std::string& key, const char* name) {
        ScopedRegKey k;
        ASSERT_EQ(CreateKey(HkeyCurrentUser(), key.c_str(), k.Receive()), kRegOk);
        ASSERT_EQ(platform::DeleteValue(k.get(), name), kRegOk);
    }
    static bool Exists(const std::string& key) {
        ScopedRegKey k;
        return OpenKey(HkeyCurrentUser(), key.c_str(), k.Receive()) == kRegOk;
    }
    static std::optional<int32_t> Get(const std::string& key, const char* name) {
        ScopedRegKey k;
        int32_t value = 0;
        if (OpenKey(HkeyCurrentUser(), key.c_str(), k.Receive()) != kRegOk ||
            platform::QueryDword(k.get(), name, &value) != kRegOk)
            return std::nullopt;
        return value;
    }

    testing::TempRegistry registry_;
};

bool SameFormat(const VideoFormat& a, const VideoFormat& b) {
    return a.th == b.th && a.tv == b.tv && a.eh == b.eh && a.ev == b.ev && a.ehs == b.ehs &&
           a.evs == b.evs && a.buf == b.buf;
}

std::vector<int32_t> Fields(const AnalogRecord& a) {
    return {a.global_gain, a.gain_g1,  a.gain_r,   a.gain_b,   a.gain_g2,
            a.exposure,    a.v_mirror, a.h_mirror, a.auto_iris};
}

std::vector<int32_t> Fields(const GrayRecord& g) {
    return {g.mode,     g.gain_r,    g.gain_g1,   g.gain_g2, g.gain_b,
            g.offset_r, g.offset_g1, g.offset_g2, g.offset_b};
}

std::vector<int32_t> FilterFields(const FilterRecord& f) {
    return {f.brightness, f.contrast,   f.hue,       f.saturation, f.sharpness,
            f.red_gain,   f.green_gain, f.blue_gain, f.gamma,      f.bayer_mode};
}

TEST_F(SettingsStoreTest, FirstRunWritesDefaultsThatTheNextLoadReads) {
    VideoFormat size{1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(LoadSizes(0, size), 0);
    EXPECT_TRUE(SameFormat(size, VideoFormat{1, 2, 3, 4, 5, 6, 7})) << "this run keeps its own";
    EXPECT_TRUE(Exists(kCamera0 + "\\Size_00"));

    EXPECT_EQ(LoadSizes(0, size), 1);
    EXPECT_TRUE(SameFormat(size, VideoFormat{2592, 1944, 2560, 1920, 0, 0, 4}));
    FormatSettings format{5, 5, 5, 5};
    EXPECT_EQ(LoadVideoFormat(0, format), 1);
    EXPECT_EQ(format.color_mode, 2);
    EXPECT_EQ(format.sub_sample, 0);
    EXPECT_EQ(format.wait_time, 1);
    EXPECT_EQ(format.clock_mode, 2);
    EXPECT_EQ(Get(kCamera0, "Size"), 0);
}

TEST_F(SettingsStoreTest, SecondCameraGetsNoDefaults) {
    VideoFormat size;
    LoadSizes(0, size);  // creates the product key for camera 0

    const VideoFormat before{1, 2, 3, 4, 5, 6, 7};
    size = before;
    EXPECT_EQ(LoadSizes(1, size), 0);
    EXPECT_TRUE(SameFormat(size, before));
    EXPECT_FALSE(Exists(kCamera1));
    FormatSettings format{5, 5, 5, 5};
    EXPECT_EQ(LoadVideoFormat(1, format), 0);
    EXPECT_EQ(format.wait_time, 5);

    int asked = 0;
    AnalogRecord analog;
    EXPECT_EQ(LoadAnalog(1, analog,
                         [&] {
                             ++asked;
                             return MirrorState{1, 0};
                         }),
              1);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Fields(analog), (std::vector<int32_t>{14, 14, 14, 14, 14, 1970, 1, 0, 0}));

    FilterRecord filter;
    filter.unused10 = 77;  // not part of the group
    EXPECT_EQ(LoadFilter(1, filter), 0);
    EXPECT_EQ(FilterFields(filter), (std::vector<int32_t>{0, 0, 0, 0, 0, 100, 100, 100, 100, 3}));
    EXPECT_EQ(filter.unused10, 77);
    GrayRecord gray{9, 9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(LoadGray(1, gray), 0);
    EXPECT_EQ(Fields(gray), (std::vector<int32_t>{0, 128, 128, 128, 128, 0, 0, 0, 0}));
    EXPECT_FALSE(Exists(kCamera1));
}

TEST_F(SettingsStoreTest, LoadSizesNeedsTheCameraKeyItsIndexAndTheEntry) {
    VideoFormat size;
    LoadSizes(0, size);
    PutEntry(kCamera0 + "\\Size_02", {100, 200, 64, 48, 8, 4, 2});
    Put(kCamera0, "Size", 2);
    size = VideoFormat{};
    EXPECT_EQ(LoadSizes(0, size), 1);
    EXPECT_TRUE(SameFormat(size, VideoFormat{100, 200, 64, 48, 8, 4, 2}));

    // A missing value leaves the field alone.
    Remove(kCamera0 + "\\Size_02", "EVS");
    size.evs = 99;
    EXPECT_EQ(LoadSizes(0, size), 1);
    EXPECT_EQ(size.evs, 99);

    const struct {
        int32_t index;
        const char* what;
    } missing[] = {{5, "index names no entry"}, {-1, "negative index"}, {100, "index too large"}};
    for (const auto& c : missing) {
        Put(kCamera0, "Size", c.index);
        const VideoFormat before = size;
        EXPECT_EQ(LoadSizes(0, size), 0) << c.what;
        EXPECT_TRUE(SameFormat(size, before)) << c.what;
    }
    Remove(kCamera0, "Size");
    EXPECT_EQ(LoadSizes(0, size), 0) << "no Size value";
}

TEST_F(SettingsStoreTest, AnalogRoundTripAndOneHolderForMissingValues) {
    const AnalogRecord saved{20, 21, 22, 23, 24, 1000, 1, 1, 2};
    ASSERT_EQ(SaveAnalog(3, saved), 1);
    AnalogRecord loaded;
    const auto never = []() -> MirrorState {
        ADD_FAILURE() << "mirrors asked although the key exists";
        return {};
    };
    EXPECT_EQ(LoadAnalog(3, loaded, never), 1);
    EXPECT_EQ(Fields(loaded), Fields(saved));

    const std::string gain = kMain + "\\Camera_03\\Gain";
    const struct {
        std::vector<const char*> removed;
        std::vector<int32_t> expected;
    } cases[] = {
        {{"ColorR"}, {20, 21, 21, 23, 24, 1000, 1, 1, 2}},
        {{"Global"}, {0, 21, 21, 23, 24, 1000, 1, 1, 2}},
        {{"Exposure", "V_Mirror"}, {0, 21, 21, 23, 24, 24, 24, 1, 2}},
    };
    for (const auto& c : cases) {
        for (const char* name : c.removed) Remove(gain, name);
        AnalogRecord record{9, 9, 9, 9, 9, 9, 9, 9, 9};
        EXPECT_EQ(LoadAnalog(3, record, never), 1);
        EXPECT_EQ(Fields(record), c.expected) << c.removed.front();
    }
}

TEST_F(SettingsStoreTest, FilterAndGrayRoundTripAndKeepFieldsOfMissingValues) {
    FilterRecord filter;
    filter.brightness = -20;
    filter.contrast = 30;
    filter.hue = -360;
    filter.saturation = 255;
    filter.sharpness = 7;
    filter.red_gain = 150;
    filter.green_gain = 90;
    filter.blue_gain = 400;
    filter.gamma = 180;
    filter.bayer_mode = 1;
    filter.gray = GrayRecord{2, 10, 20, 30, 40, -1, -2, -3, -4};
    ASSERT_EQ(SaveFilter(4, filter), 1);
    ASSERT_EQ(SaveGray(4, filter.gray), 1);

    FilterRecord loaded;
    EXPECT_EQ(LoadFilter(4, loaded), 1);
    EXPECT_EQ(FilterFields(loaded), FilterFields(filter));
    EXPECT_EQ(LoadGray(4, loaded.gray), 1);
    EXPECT_EQ(Fields(loaded.gray), Fields(filter.gray));

    Remove(kMain + "\\Camera_04\\Filter", "Gamma");
    Remove(kMain + "\\Camera_04\\Gray", "OffsetB1");
    loaded.gamma = 55;
    loaded.gray.offset_b = 66;
    EXPECT_EQ(LoadFilter(4, loaded), 1);
    EXPECT_EQ(LoadGray(4, loaded.gray), 1);
    EXPECT_EQ(loaded.gamma, 55);
    EXPECT_EQ(loaded.gray.offset_b, 66);

    // Only the gray key missing: gray defaults, filter still read.
    ScopedRegKey camera;
    ASSERT_EQ(CreateKey(HkeyCurrentUser(), (kMain + "\\Camera_04").c_str(), camera.Receive()),
              kRegOk);
    ASSERT_EQ(platform::DeleteTree(camera.get(), "Gray"), kRegOk);
    camera.Close();
    EXPECT_EQ(LoadGray(4, loaded.gray), 0);
    EXPECT_EQ(Fields(loaded.gray), (std::vector<int32_t>{0, 128, 128, 128, 128, 0, 0, 0, 0}));
    EXPECT_EQ(LoadFilter(4, loaded), 1);
}

TEST_F(SettingsStoreTest, ValuesAreStoredUnderTheirOwnNames) {
    ASSERT_EQ(SaveAnalog(0, AnalogRecord{1, 2, 3, 4, 5, 6, 7, 8, 9}), 1);
    FilterRecord filter;
    filter.bayer_mode = 2;
    filter.gray.gain_b = 200;
    ASSERT_EQ(SaveFilter(0, filter), 1);
    ASSERT_EQ(SaveGray(0, filter.gray), 1);
    EXPECT_EQ(Get(kCamera0 + "\\Gain", "ColorB"), 4);
    EXPECT_EQ(Get(kCamera0 + "\\Gain", "H_Mirror"), 8);
    EXPECT_EQ(Get(kCamera0 + "\\Filter", "BayerMode"), 2);
    EXPECT_EQ(Get(kCamera0 + "\\Gray", "GainB1"), 200);
    EXPECT_EQ(Get(kCamera0 + "\\Filter", "Mode"), std::nullopt) << "gray values stay in Gray";
}

TEST_F(SettingsStoreTest, DialogSeesConsecutiveEntriesOnly) {
    PutEntry(kCamera0 + "\\Size_00", {2592, 1944, 640, 480, 0, 0, 4});
    PutEntry(kCamera0 + "\\Size_01", {2592, 1944, 1280, 960, 16, 8, 4});
    PutEntry(kCamera0 + "\\Size_03", {2592, 1944, 320, 240, 0, 0, 4});
    Remove(kCamera0 + "\\Size_01", "Buf");
    Put(kCamera0, "Size", 1);
    Put(kCamera0, "Color", 4);
    Put(kCamera0, "SubSample", 17);
    Put(kCamera0, "WaitTime", 33);
    Put(kCamera0, "Clock", 1);

    CameraDialogSettings dialog;
    dialog.sizes[1].buf = 9;
    EXPECT_EQ(LoadDialogSettings(dialog), 1);
    EXPECT_EQ(dialog.size_count, 2);
    EXPECT_EQ(dialog.sizes[0].eh, 640u);
    EXPECT_EQ(dialog.sizes[1].ehs, 16u);
    EXPECT_EQ(dialog.sizes[1].buf, 9u) << "a missing value keeps what the record held";
    EXPECT_EQ(dialog.sizes[3].eh, 2560u) << "entry 03 is not read";
    EXPECT_EQ(dialog.size_index, 1);
    EXPECT_EQ(dialog.color_index, 4);
    EXPECT_EQ(dialog.sub_sample, 17);
    EXPECT_EQ(dialog.wait_time, 33);
    EXPECT_EQ(dialog.clock_index, 1);

    CameraDialogSettings other;
    other.camera_number = 1;
    EXPECT_EQ(LoadDialogSettings(other), 0);
    EXPECT_EQ(other.size_count, 0);
    EXPECT_EQ(other.color_index, 2);
}

TEST_F(SettingsStoreTest, DialogSaveWritesEntriesAndTranslatesTheSubSamplePosition) {
    CameraDialogSettings dialog;
    dialog.camera_number = 2;
    dialog.size_count = 2;
    dialog.sizes[1] = SizeEntry{2592, 1944, 800, 600, 32, 16, 4};
    dialog.size_index = 1;
    dialog.color_index = 3;
    dialog.wait_time = 15;
    dialog.clock_index = 0;
    const std::string camera = kMain + "\\Camera_02";

    const struct {
        int32_t position;
        int32_t stored;
    } positions[] = {{0, 0}, {1, 1}, {2, 2}, {3, 17}, {4, 18}, {5, 0}, {-1, 0}, {17, 0}};
    for (const auto& p : positions) {
        dialog.sub_sample = p.position;
        ASSERT_EQ(SaveDialogSettings(dialog), 1);
        EXPECT_EQ(Get(camera, "SubSample"), p.stored) << "position " << p.position;
    }
    EXPECT_TRUE(Exists(camera + "\\Size_01"));
    EXPECT_FALSE(Exists(camera + "\\Size_02"));

    // What the dialog saved is what the session loads next.
    VideoFormat size;
    EXPECT_EQ(LoadSizes(2, size), 1);
    EXPECT_TRUE(SameFormat(size, VideoFormat{2592, 1944, 800, 600, 32, 16, 4}));
    FormatSettings format;
    EXPECT_EQ(LoadVideoFormat(2, format), 1);
    EXPECT_EQ(format.color_mode, 3);
    EXPECT_EQ(format.wait_time, 15);
    EXPECT_EQ(format.clock_mode, 0);

    CameraDialogSettings again;
    again.camera_number = 2;
    EXPECT_EQ(LoadDialogSettings(again), 1);
    EXPECT_EQ(again.size_count, 2);
    EXPECT_EQ(again.sizes[1].evs, 16u);
}

TEST_F(SettingsStoreTest, FindSizeSearchesTheProductKeyOnly) {
    VideoFormat size;
    EXPECT_EQ(FindSize(640, 480, size), 0) << "no product key";

    PutEntry(kCamera0 + "\\Size_00", {2592, 1944, 640, 480, 0, 0, 4});
    EXPECT_EQ(FindSize(640, 480, size), 0) << "entries under a camera key are not searched";

    PutEntry(kMain + "\\Size_00", {2592, 1944, 640, 480, 0, 0, 4});
    PutEntry(kMain + "\\Size_01", {2592, 1944, 1024, 768, 100, 50, 3});
    PutEntry(kMain + "\\Size_03", {2592, 1944, 320, 240, 0, 0, 4});
    size = VideoFormat{};
    EXPECT_EQ(FindSize(1024, 768, size), 1);
    EXPECT_TRUE(SameFormat(size, VideoFormat{2592, 1944, 1024, 768, 100, 50, 3}));
    const VideoFormat before = size;
    EXPECT_EQ(FindSize(320, 240, size), 0) << "beyond a gap in the numbering";
    EXPECT_EQ(FindSize(1024, 480, size), 0) << "width and height must both match";
    EXPECT_TRUE(SameFormat(size, before));
}

TEST_F(SettingsStoreTest, CameraNumbersOutsideTheRangeNameNoKey) {
    for (int camera : {-1, 32, 100}) {
        VideoFormat size;
        EXPECT_EQ(LoadSizes(camera, size), 0);
        EXPECT_EQ(SaveAnalog(camera, AnalogRecord{}), 0);
        EXPECT_EQ(SaveFilter(camera, FilterRecord{}), 0);
        EXPECT_EQ(SaveGray(camera, GrayRecord{}), 0);
        CameraDialogSettings dialog;
        dialog.camera_number = camera;
        EXPECT_EQ(SaveDialogSettings(dialog), 0);
        AnalogRecord analog;
        EXPECT_EQ(LoadAnalog(camera, analog, nullptr), 1);
        EXPECT_EQ(analog.exposure, 1970);
    }
    EXPECT_FALSE(Exists(kMain));
}

TEST_F(SettingsStoreTest, SavesFailWhenTheRegistryCannotBeWritten) {
    ::setenv("VIMBRA_REGISTRY_FILE", "/proc/vimbra-no-such-dir/registry.reg", 1);
    FilterRecord filter;
    EXPECT_EQ(SaveAnalog(0, AnalogRecord{}), 0);
    EXPECT_EQ(SaveFilter(0, filter), 0);
    EXPECT_EQ(SaveGray(0, filter.gray), 0);
    EXPECT_EQ(SaveDialogSettings(CameraDialogSettings{}), 0);
    VideoFormat size;
    EXPECT_EQ(LoadSizes(0, size), 0);
    EXPECT_EQ(LoadFilter(0, filter), 0);
}

// Two processes save different cameras at the same time, many times; every
// camera ends with the last values its process saved.
TEST_F(SettingsStoreTest, TwoProcessesSavingAtOnceLoseNothing) {
    constexpr int kProcesses = 2, kCamerasEach = 8, kRounds = 5;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(gate[1]);
            char c;
            (void)!::read(gate[0], &c, 1);  // wait until both are ready
            int failures = 0;
            for (int round = 0; round < kRounds; ++round) {
                for (int i = 0; i < kCamerasEach; ++i) {
                    const int camera = p * kCamerasEach + i;
                    const AnalogRecord analog{round, camera, 0, 0, 0, 1000 + round, 0, 0, 0};
                    failures += SaveAnalog(camera, analog) != 1;
                }
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);  // opens the gate
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int camera = 0; camera < kProcesses * kCamerasEach; ++camera) {
        AnalogRecord analog;
        LoadAnalog(camera, analog, [] { return MirrorState{5, 5}; });
        EXPECT_EQ(analog.global_gain, kRounds - 1) << "camera " << camera;
        EXPECT_EQ(analog.gain_g1, camera) << "camera " << camera;
        EXPECT_EQ(analog.exposure, 1000 + kRounds - 1) << "camera " << camera;
    }
}

}  // namespace
}  // namespace vimbra
