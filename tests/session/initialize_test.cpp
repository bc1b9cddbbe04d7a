#include <cstring>
#include <string>

#include "session/api_fixture.h"

namespace vimbra::testing {
namespace {

using InitializeTest = ApiTest;

TEST_F(InitializeTest, FreshMachineTakesTheStoredDefaults) {
    Plug({{0, CameraModel::kColor}});
    const int32_t h = Open();
    EXPECT_TRUE(Codes(h).empty());
    EXPECT_EQ(Vimbra_GetColorMode(h), 24);
    EXPECT_EQ(Vimbra_GetSubSample(h), 0);
    EXPECT_EQ(Vimbra_GetWaitTime(h), 1);
    EXPECT_EQ(Vimbra_Width(h), 2560);
    EXPECT_EQ(Vimbra_Height(h), 1920);
    // Clock mode 2 (48 MHz) shows in the exposure arithmetic: 1970 default
    // rows of 2560 + 916 clocks.
    int32_t ok = 0;
    EXPECT_EQ(Vimbra_GetRealExposureTime(h, &ok),
              static_cast<int32_t>(1970.0 * 3476 * 2.0833333110203966e-05 * 1000));
    EXPECT_EQ(ok, 1);
    // The registry now holds the default tree.
    const platform::RegTree tree = registry_.Tree();
    EXPECT_NE(tree.Find({u"HKEY_CURRENT_USER", u"Software", u"Norvix", u"Vimbra740QXRDLSdk",
                         u"Camera_00", u"Size_00"}),
              nullptr);
}

TEST_F(InitializeTest, AnalogSettingsReachTheCameraInOrder) {
    Plug({{0, CameraModel::kColor}});
    WriteValues(std::string(kMainKey) + "\\Camera_00\\Gain", {{"Global", 20},
                                                              {"ColorG1", 21},
                                                              {"ColorR", 22},
                                                              {"ColorB", 23},
                                                              {"ColorG2", 24},
                                                              {"Exposure", 500},
                                                              {"V_Mirror", 1},
                                                              {"H_Mirror", 1},
                                                              {"AutoIris", 0}});
    const int32_t h = Open();
    auto camera = Driver().Camera(0);
    EXPECT_EQ(Vimbra_GetColorGainGreen1(h, nullptr), 21);
    EXPECT_EQ(Vimbra_GetColorGainRed(h, nullptr), 22);
    EXPECT_EQ(Vimbra_GetColorGainBlue(h, nullptr), 23);
    EXPECT_EQ(Vimbra_GetColorGainGreen2(h, nullptr), 24);
    EXPECT_EQ(Vimbra_GetExposureTime(h, nullptr), 500);
    EXPECT_EQ(camera->SensorRegister(53) & 0x7F, 20);
    EXPECT_EQ(camera->SensorRegister(32) & 0xC000, 0xC000);
    EXPECT_EQ(Vimbra_GetMirrorH(h), 1);
    EXPECT_EQ(Vimbra_GetMirrorV(h), 1);
}

TEST_F(InitializeTest, MonochromeCalibrationOverridesStoredGraySettings) {
    for (CameraModel model : {CameraModel::kMono740, CameraModel::kColor}) {
        SCOPED_TRACE(model == CameraModel::kColor ? "colour" : "mono");
        Plug({{0, model}});
        WriteValues(std::string(kMainKey) + "\\Camera_00\\Gray", {{"Mode", 2},
                                                                  {"GainR1", 50},
                                                                  {"GainG1", 51},
                                                                  {"GainG2", 52},
                                                                  {"GainB1", 53},
                                                                  {"OffsetR1", 7}});
        const int32_t h = Open();
        auto camera = Driver().Camera(0);
        if (model == CameraModel::kColor) {
            EXPECT_EQ(Vimbra_GetGrayMode(h, nullptr), 2);
            EXPECT_EQ(Vimbra_GetGrayGainR(h, nullptr), 50);
            EXPECT_EQ(Vimbra_GetGrayGainB(h, nullptr), 53);
            EXPECT_EQ(Vimbra_GetGrayOffsetR(h, nullptr), 7);
        } else {
            EXPECT_EQ(Vimbra_GetGrayMode(h, nullptr), camera->Srom(0x1910));
            EXPECT_EQ(Vimbra_GetGrayGainR(h, nullptr), camera->Srom(0x1912));
            EXPECT_EQ(Vimbra_GetGrayGainG1(h, nullptr), camera->Srom(0x1913));
            EXPECT_EQ(Vimbra_GetGrayGainG2(h, nullptr), camera->Srom(0x1914));
            EXPECT_EQ(Vimbra_GetGrayGainB(h, nullptr), camera->Srom(0x1915));
            EXPECT_EQ(Vimbra_GetGrayOffsetR(h, nullptr), camera->Srom(0x1916));
            EXPECT_NE(Vimbra_GetGrayGainR(h, nullptr), 50);
        }
        Close(h);
    }
}

TEST_F(InitializeTest, InvalidStoredFormatFallsBackToTheFullSensor) {
    Plug({{0, CameraModel::kColor}});
    Close(Open());  // writes the default tree
    WriteValues(std::string(kMainKey) + "\\Camera_00\\Size_00", {{"EH", 2000}, {"EHS", 600}});
    const int32_t h = Open();
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FORMAT});
    int32_t th = 0, ehs = -1, eh = 0, tv = 0, evs = -1, ev = 0;
    EXPECT_EQ(Vimbra_GetCaptureWindowEx(h, &th, &ehs, &eh, &tv, &evs, &ev), 1);
    EXPECT_EQ((std::vector<int32_t>{th, ehs, eh, tv, evs, ev}),
              (std::vector<int32_t>{2592, 0, 2592, 1944, 0, 1944}));
}

TEST_F(InitializeTest, WithoutCamerasInitialisationSucceedsButNamesNothing) {
    const int32_t h = Open();
    EXPECT_TRUE(Codes(h).empty());
    char names[32][256];
    std::memset(names, 'x', sizeof names);
    EXPECT_EQ(Vimbra_EnumDevice(h, &names[0][0]), 0);
    for (int i = 0; i < 10; ++i) EXPECT_STREQ(names[i], "") << i;
    EXPECT_EQ(names[10][0], 'x');  // only the first ten entries are cleared
    char name[32];
    EXPECT_EQ(Vimbra_GetDeviceName(h, 0, name, sizeof name), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_NO_CAMERA});
}

TEST_F(InitializeTest, EnumerationNumbersCamerasByCountAndSeesLateArrivals) {
    Plug({{0, CameraModel::kColor}, {3, CameraModel::kMono740}});
    const int32_t h = Open();
    char names[32][256] = {};
    VimbraWChar wide[32][256] = {};
    EXPECT_EQ(Vimbra_EnumDevice(h, &names[0][0]), 2);
    EXPECT_STREQ(names[0], "Vimbra740QX-RDL_01");
    EXPECT_STREQ(names[1], "Vimbra740QX-RDL_02");
    EXPECT_STREQ(names[2], "");
    EXPECT_EQ(Vimbra_EnumDeviceW(h, &wide[0][0]), 2);
    EXPECT_EQ(std::u16string(wide[1]), u"Vimbra740QX-RDL_02");

    Plug({{7, CameraModel::kColor}});
    // The wide form answers from the last probe until the narrow one probes again.
    EXPECT_EQ(Vimbra_EnumDeviceW(h, &wide[0][0]), 2);
    EXPECT_EQ(Vimbra_EnumDevice(h, &names[0][0]), 3);
    EXPECT_STREQ(names[2], "Vimbra740QX-RDL_03");
    EXPECT_EQ(Vimbra_EnumDeviceW(h, &wide[0][0]), 3);
    EXPECT_EQ(std::u16string(wide[2]), u"Vimbra740QX-RDL_03");
    EXPECT_TRUE(Codes(h).empty());
}

TEST_F(InitializeTest, AllThirtyTwoCamerasFitTheDocumentedTable) {
    for (int slot = 0; slot < 32; ++slot) Plug({{slot, CameraModel::kColor}});
    const int32_t h = Open();
    std::vector<char> table(33 * 256, 'x');
    EXPECT_EQ(Vimbra_EnumDevice(h, table.data()), 32);
    EXPECT_STREQ(&table[31 * 256], "Vimbra740QX-RDL_32");
    EXPECT_EQ(table[32 * 256], 'x');
    EXPECT_EQ(Vimbra_EnumDevice(h, nullptr), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_ARGUMENT});
}

TEST_F(InitializeTest, DeviceNameNeedsRoomForTheWholeName) {
    Plug({{0, CameraModel::kColor}, {3, CameraModel::kColor}});
    const int32_t h = Open();
    struct Case {
        int32_t slot, size, result, code;
        const char* name;
    };
    const Case cases[] = {
        {0, 14, 0, VIMBRA_ERR_ARGUMENT, nullptr},
        {1, 14, 0, VIMBRA_ERR_ARGUMENT, nullptr},  // size checked before the slot
        {0, 18, 0, VIMBRA_ERR_ARGUMENT, nullptr},  // no truncated names
        {0, 19, 1, 0, "Vimbra740QX-RDL_01"},
        {3, 64, 1, 0, "Vimbra740QX-RDL_04"},  // slot + 1, not the count
        {1, 19, 0, VIMBRA_ERR_NO_CAMERA, nullptr},
        {32, 19, 0, VIMBRA_ERR_ARGUMENT, nullptr},
        {-1, 19, 0, VIMBRA_ERR_ARGUMENT, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "slot " << c.slot << " size " << c.size);
        char buffer[80];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(Vimbra_GetDeviceName(h, c.slot, buffer, c.size), c.result);
        if (c.name != nullptr) {
            EXPECT_STREQ(buffer, c.name);
        }
        EXPECT_EQ(buffer[c.size], 'x');
        EXPECT_EQ(Codes(h), c.code ? std::vector<int32_t>{c.code} : std::vector<int32_t>{});
    }
    EXPECT_EQ(Vimbra_GetDeviceName(h, 0, nullptr, 64), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_ARGUMENT});

    VimbraWChar wide[40];
    std::fill(std::begin(wide), std::end(wide), u'x');
    EXPECT_EQ(Vimbra_GetDeviceNameW(h, 0, wide, 37), 0);  // bytes: 19 units need 38
    EXPECT_EQ(Vimbra_GetDeviceNameW(h, 3, wide, 38), 1);
    EXPECT_EQ(std::u16string(wide), u"Vimbra740QX-RDL_04");
    EXPECT_EQ(wide[19], u'x');
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_ARGUMENT});
}

TEST_F(InitializeTest, SelectingACameraSwapsItsSettings) {
    Plug({{0, CameraModel::kColor}, {3, CameraModel::kColor}});
    const int32_t h = Open();
    auto number = [&] { return WithSession(h, [](CVimbra& s) { return s.CameraNumber(); }); };
    EXPECT_EQ(Vimbra_SetBrightness(h, 50), 1);
    EXPECT_EQ(Vimbra_SetGlobalGain(h, 30), 1);

    EXPECT_EQ(Vimbra_SetDeviceNumber(h, 5), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_NO_CAMERA});
    EXPECT_EQ(number(), 0);
    EXPECT_EQ(Vimbra_GetBrightness(h, nullptr), 50);

    EXPECT_EQ(Vimbra_SetDeviceNumber(h, 3), 1);
    EXPECT_EQ(number(), 3);
    EXPECT_EQ(Vimbra_GetBrightness(h, nullptr), 0);
    EXPECT_EQ(Vimbra_GetGlobalGain(h, nullptr), 14);
    EXPECT_EQ(Driver().Camera(3)->SensorRegister(53) & 0x7F, 14);

    EXPECT_EQ(Vimbra_SetDeviceNumber(h, 0), 1);
    EXPECT_EQ(Vimbra_GetBrightness(h, nullptr), 50);
    EXPECT_EQ(Vimbra_GetGlobalGain(h, nullptr), 30);
    EXPECT_TRUE(Codes(h).empty());
}

TEST_F(InitializeTest, CameraInfoNeedsAFullRecord) {
    Plug({{0, CameraModel::kColor}});
    const int32_t h = Open();
    VimbraCameraInfo info{};
    info.size = 35;
    EXPECT_EQ(Vimbra_GetCameraInfo(h, &info), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_MEMORY});
    EXPECT_EQ(Vimbra_GetCameraInfo(h, nullptr), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_ARGUMENT});
    info.size = 36;
    EXPECT_EQ(Vimbra_GetCameraInfo(h, &info), 1);
    int32_t words[9];
    static_assert(sizeof info == sizeof words);
    std::memcpy(words, &info, sizeof words);
    EXPECT_EQ(std::vector<int32_t>(words, words + 9),
              (std::vector<int32_t>{36, 2592, 1944, 0, 63, 0, 63, 1, 16383}));
}

TEST_F(InitializeTest, ReleaseSavesTheSettingsForTheNextSession) {
    Plug({{0, CameraModel::kColor}});
    int32_t h = Open();
    EXPECT_EQ(Vimbra_SetHue(h, -90), 1);
    EXPECT_EQ(Vimbra_SetColorGainBlue(h, 40), 1);
    EXPECT_EQ(Vimbra_SetGrayOffsetB(h, -3), 1);
    Close(h);
    h = Open();
    EXPECT_EQ(Vimbra_GetHue(h, nullptr), -90);
    EXPECT_EQ(Vimbra_GetColorGainBlue(h, nullptr), 40);
    EXPECT_EQ(Vimbra_GetGrayOffsetB(h, nullptr), -3);
}

TEST_F(InitializeTest, StoredFileUsesTheKnownKeyAndValueNames) {
    Plug({{0, CameraModel::kColor}});
    Close(Open());
    const platform::RegTree tree = registry_.Tree();
    const platform::RegPath camera = {u"HKEY_CURRENT_USER", u"Software", u"Norvix",
                                      u"Vimbra740QXRDLSdk", u"Camera_00"};
    struct Group {
        const char16_t* key;
        std::vector<const char16_t*> values;
    };
    const Group groups[] = {
        {nullptr, {u"Size", u"Color", u"SubSample", u"WaitTime", u"Clock"}},
        {u"Size_00", {u"TH", u"TV", u"EH", u"EV", u"EHS", u"EVS", u"Buf"}},
        {u"Gain",
         {u"Global", u"ColorG1", u"ColorR", u"ColorB", u"ColorG2", u"Exposure", u"V_Mirror",
          u"H_Mirror", u"AutoIris"}},
        {u"Filter",
         {u"Brightness", u"Contrast", u"Hue", u"Saturation", u"Sharpness", u"R_Gain", u"G_Gain",
          u"B_Gain", u"Gamma", u"BayerMode"}},
        {u"Gray",
         {u"Mode", u"GainR1", u"GainG1", u"GainG2", u"GainB1", u"OffsetR1", u"OffsetG1",
          u"OffsetG2", u"OffsetB1"}},
    };
    for (const Group& g : groups) {
        platform::RegPath path = camera;
        if (g.key != nullptr) path.push_back(g.key);
        const platform::RegKeyNode* key = tree.Find(path);
        ASSERT_NE(key, nullptr);
        for (const char16_t* name : g.values) {
            const platform::RegValue* value = key->FindValue(name);
            ASSERT_NE(value, nullptr) << platform::Utf16ToUtf8(name);
            EXPECT_EQ(value->type, 4u);  // REG_DWORD
        }
    }
}

TEST_F(InitializeTest, FailedInitialisationLeavesASessionThatRefusesCleanly) {
    // A camera table that cannot be mapped: a name the system refuses.
    CameraTable::SetObjectNameForTesting("no/such/dir");
    const int32_t h = Open();
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_MEMORY});
    char names[32][256];
    VimbraCameraInfo info{};
    info.size = 36;
    int32_t ok = 1;
    EXPECT_EQ(Vimbra_EnumDevice(h, &names[0][0]), 0);
    EXPECT_EQ(Vimbra_GetCameraInfo(h, &info), 0);
    EXPECT_EQ(Vimbra_SetBrightness(h, 1), 0);
    EXPECT_EQ(Vimbra_GetGlobalGain(h, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Vimbra_SetDeviceNumber(h, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>(5, VIMBRA_ERR_STATE));
    EXPECT_EQ(Vimbra_SetMirrorV(h, 1), 0);  // notify-only
    EXPECT_TRUE(Codes(h).empty());
}

}  // namespace
}  // namespace vimbra::testing
