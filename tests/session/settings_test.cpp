#include <cstring>
#include <string>

#include "image/dib_image.h"
#include "image/process_frame.h"
#include "session/api_fixture.h"

namespace vimbra::testing {
namespace {

class SettingsTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        Plug({{0, CameraModel::kColor}});
        h = Open();
        Codes(h);
    }
    int32_t h = 0;
};

TEST_F(SettingsTest, ColourModesRoundTrip) {
    const std::pair<int32_t, int32_t> modes[] = {{8, 8},   {16, 12}, {24, 24},
                                                 {32, 32}, {48, 44}, {64, 60}};
    for (const auto& [set, answer] : modes) {
        EXPECT_EQ(Vimbra_SetColorMode(h, set), 1);
        EXPECT_EQ(Vimbra_GetColorMode(h), answer) << set;
    }
    for (int32_t bad : {0, 12, 44, 60, -8}) {
        EXPECT_EQ(Vimbra_SetColorMode(h, bad), 0);
        EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_ARGUMENT}) << bad;
    }
    EXPECT_EQ(Vimbra_GetColorMode(h), 60);
}

TEST_F(SettingsTest, SubSampleAndWaitTimeRefuseSilently) {
    for (int32_t mode : {0, 1, 2, 17, 18}) EXPECT_EQ(Vimbra_SetSubSample(h, mode), 1);
    for (int32_t mode : {3, 19, -1, 16}) EXPECT_EQ(Vimbra_SetSubSample(h, mode), 0);
    EXPECT_EQ(Vimbra_GetSubSample(h), 18);
    EXPECT_EQ(Vimbra_SetWaitTime(h, -1), 0);
    EXPECT_TRUE(Codes(h).empty());
}

TEST_F(SettingsTest, FilterValuesKeepToTheirRanges) {
    struct Range {
        int32_t id, lo, hi;
    };
    const Range ranges[] = {{1, -255, 255},  {2, -127, 127},  {3, -360, 360},  {4, -255, 255},
                            {5, 0, 30},      {7, 0, 400},     {8, 0, 400},     {9, 0, 400},
                            {11, 0, 200},    {12, 0, 3},      {13, 0, 63},     {14, 0, 63},
                            {15, 0, 63},     {16, 0, 63},     {17, 0, 63},     {18, 1, 16383},
                            {19, 0, 2},      {20, 0, 255},    {21, 0, 255},    {22, 0, 255},
                            {23, 0, 255},    {24, -255, 255}, {25, -255, 255}, {26, -255, 255},
                            {27, -255, 255}, {28, 0, 1}};
    for (const Range& r : ranges) {
        SCOPED_TRACE(r.id);
        for (int32_t v : {r.lo, r.hi}) {
            EXPECT_EQ(Vimbra_SetFilterValue(h, r.id, v), 1);
            int32_t ok = 0;
            EXPECT_EQ(Vimbra_GetFilterValue(h, r.id, &ok), v);
            EXPECT_EQ(ok, 1);
        }
        EXPECT_EQ(Vimbra_SetFilterValue(h, r.id, r.lo - 1), 0);
        EXPECT_EQ(Vimbra_SetFilterValue(h, r.id, r.hi + 1), 0);
        EXPECT_EQ(Vimbra_GetFilterValue(h, r.id, nullptr), r.hi);
        EXPECT_EQ(Codes(h), std::vector<int32_t>(2, VIMBRA_ERR_ARGUMENT));
    }
    for (int32_t id : {0, 29, -1}) {
        int32_t ok = 1;
        EXPECT_EQ(Vimbra_GetFilterValue(h, id, &ok), 0);
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(Vimbra_SetFilterValue(h, id, 0), 0);
        EXPECT_EQ(Codes(h), std::vector<int32_t>(2, VIMBRA_ERR_ARGUMENT));
    }
}

TEST_F(SettingsTest, BayerGainsPackIntoOneWord) {
    const int32_t word = 50 | 100 << 8 | 200 << 16;
    EXPECT_EQ(Vimbra_SetBayerGainRGB(h, word | 0x7F000000), 1);
    EXPECT_EQ(Vimbra_GetBayerGainRed(h, nullptr), 50);
    EXPECT_EQ(Vimbra_GetBayerGainGreen(h, nullptr), 100);
    EXPECT_EQ(Vimbra_GetBayerGainBlue(h, nullptr), 200);
    EXPECT_EQ(Vimbra_GetBayerGainRGB(h, nullptr), word);
    // Gains above 255 keep only their low byte in the packed word.
    EXPECT_EQ(Vimbra_SetBayerGainRed(h, 300), 1);
    EXPECT_EQ(Vimbra_GetBayerGainRGB(h, nullptr), (300 & 0xFF) | 100 << 8 | 200 << 16);
    EXPECT_EQ(Vimbra_SetBayerGainAuto(h, 7), 1);
    EXPECT_EQ(Vimbra_GetBayerGainAuto(h, nullptr), 1);
}

TEST_F(SettingsTest, GlobalGainFansOutToTheColourGains) {
    EXPECT_EQ(Vimbra_SetColorGainRed(h, 33), 1);
    EXPECT_EQ(Vimbra_SetGlobalGain(h, 20), 1);
    WithSession(h, [](CVimbra& s) {
        const AnalogRecord r = s.Analog();
        EXPECT_EQ(r.global_gain, 20);
        EXPECT_EQ(r.gain_r, 20);
        EXPECT_EQ(r.gain_g1, 20);
        EXPECT_EQ(r.gain_g2, 20);
        EXPECT_EQ(r.gain_b, 20);
        return 0;
    });
    EXPECT_EQ(Driver().Camera(0)->SensorRegister(53) & 0x7F, 20);
    // The sensor's global gain register sets its four colour gains too.
    EXPECT_EQ(Vimbra_GetColorGainRed(h, nullptr), 20);
    EXPECT_EQ(Vimbra_GetColorGainBlue(h, nullptr), 20);
}

TEST_F(SettingsTest, InvalidCaptureWindowIsStoredButRefused) {
    EXPECT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 600, 2000, 1944, 0, 1000), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FORMAT});
    int32_t v[6] = {};
    EXPECT_EQ(Vimbra_GetCaptureWindowEx(h, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), 1);
    EXPECT_EQ(std::vector<int32_t>(v, v + 6),
              (std::vector<int32_t>{2592, 600, 2000, 1944, 0, 1000}));
    EXPECT_EQ(Vimbra_GetCaptureWindowEx(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
              1);

    EXPECT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 100, 640, 1944, 40, 480), 1);
    EXPECT_EQ(Vimbra_Width(h), 640);
    auto camera = Driver().Camera(0);
    EXPECT_EQ(camera->SensorRegister(2), 100 + 16);  // column start
    EXPECT_EQ(camera->SensorRegister(1), 40 + 54);   // row start
    // Windows the sensor cannot read out are refused as well.
    EXPECT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, 2, 1944, 0, 480), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FORMAT});
}

TEST_F(SettingsTest, CaptureWindowBySizeStoredUnderTheMainKey) {
    EXPECT_EQ(Vimbra_SetCaptureWindow(h, 800, 600), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_WINDOW});  // camera keys are not searched
    const std::string main = kMainKey;
    WriteValues(main + "\\Size_00", {{"TH", 2592},
                                     {"TV", 1944},
                                     {"EH", 1024},
                                     {"EV", 768},
                                     {"EHS", 0},
                                     {"EVS", 0},
                                     {"Buf", 4}});
    WriteValues(main + "\\Size_01", {{"TH", 2592},
                                     {"TV", 1944},
                                     {"EH", 800},
                                     {"EV", 600},
                                     {"EHS", 64},
                                     {"EVS", 32},
                                     {"Buf", 4}});
    WriteValues(
        main + "\\Size_03",
        {{"TH", 2592}, {"TV", 1944}, {"EH", 640}, {"EV", 480}, {"EHS", 0}, {"EVS", 0}, {"Buf", 4}});
    EXPECT_EQ(Vimbra_SetCaptureWindow(h, 800, 600), 1);
    int32_t ehs = 0, evs = 0;
    Vimbra_GetCaptureWindowEx(h, nullptr, &ehs, nullptr, nullptr, &evs, nullptr);
    EXPECT_EQ(ehs, 64);
    EXPECT_EQ(evs, 32);
    EXPECT_EQ(Vimbra_SetCaptureWindow(h, 640, 480), 0);  // behind the gap at 02
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_WINDOW});

    WriteValues(main + "\\Size_02", {{"EH", 2000}, {"EV", 500}, {"EHS", 1000}, {"EVS", 0}});
    EXPECT_EQ(Vimbra_SetCaptureWindow(h, 2000, 500), 1);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_FORMAT});
    EXPECT_EQ(Vimbra_Width(h), 2592);
    EXPECT_EQ(Vimbra_Height(h), 1944);
}

TEST_F(SettingsTest, ExposureInMicrosecondsUsesTheSinglePrecisionPeriod) {
    EXPECT_EQ(Vimbra_SetHalfClock(h, 0), 1);
    EXPECT_EQ(Vimbra_SetRealExposureTime(h, 1000), 1);
    EXPECT_EQ(Vimbra_GetExposureTime(h, nullptr), 6);
    int32_t ok = 0;
    EXPECT_EQ(Vimbra_GetRealExposureTime(h, &ok), 868);
    EXPECT_EQ(ok, 1);
    WithSession(h, [](CVimbra& s) {
        const ExposureCache c = s.Exposure();
        EXPECT_EQ(c.row_length_clocks, 3476u);
        EXPECT_EQ(c.rows, 6);
        EXPECT_EQ(c.clock_period_ms, 4.166666622040793e-05);
        return 0;
    });
    for (int32_t bad : {0, 10, 3000000}) {
        EXPECT_EQ(Vimbra_SetRealExposureTime(h, bad), 0) << bad;
        EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_ARGUMENT});
    }
    EXPECT_EQ(Vimbra_GetExposureTime(h, nullptr), 6);
}

TEST_F(SettingsTest, MirrorsAndAutoIris) {
    EXPECT_EQ(Vimbra_SetMirrorH(h, 5), 1);
    EXPECT_EQ(Vimbra_GetMirrorH(h), 1);
    EXPECT_EQ(Vimbra_SetMirrorV(h, 1), 1);
    EXPECT_EQ(Vimbra_GetMirrorV(h), 1);
    EXPECT_EQ(Driver().Camera(0)->SensorRegister(32) & 0xC000, 0xC000);
    EXPECT_EQ(Vimbra_SetMirrorH(h, 0), 1);
    EXPECT_EQ(Driver().Camera(0)->SensorRegister(32) & 0xC000, 0x8000);

    HWND window = windows_.back();
    VimbraHostMessage m{};
    while (VimbraHost_PeekMessage(window, &m) == 1) {
    }
    EXPECT_EQ(Vimbra_SetAutoIris(h, 3), 0);
    EXPECT_EQ(VimbraHost_PeekMessage(window, &m), 1);
    EXPECT_EQ(m.lParam, VIMBRA_ERR_ARGUMENT);
    EXPECT_TRUE(Codes(h).empty());  // notify-only
    EXPECT_EQ(Vimbra_SetAutoIris(h, 2), 1);
    int32_t ok = 0;
    EXPECT_EQ(Vimbra_GetAutoIris(h, &ok), 2);
    EXPECT_EQ(ok, 1);
}

TEST_F(SettingsTest, RegisterSerialMemoryAndPortPassThroughs) {
    int32_t ok = 0;
    EXPECT_EQ(Vimbra_WriteRegister(h, 9, 1234), 1);
    EXPECT_EQ(Vimbra_ReadRegister(h, 9, &ok), 1234);
    EXPECT_EQ(Vimbra_ReadRegisterEx(h, 9, &ok), 1234);
    EXPECT_EQ(Vimbra_WriteRegisterEx(h, 9, 77), 1);
    EXPECT_EQ(Vimbra_ReadRegister(h, 9, nullptr), 77);
    // Register numbers are one byte; others would alias a different register.
    EXPECT_EQ(Vimbra_ReadRegister(h, 256 + 9, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Vimbra_WriteRegister(h, -1, 0), 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>(2, VIMBRA_ERR_REGISTER));

    Driver().FailNextTransfers(0, 4, -1);
    EXPECT_EQ(Vimbra_ReadRegister(h, 9, &ok), 0);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(Codes(h), std::vector<int32_t>{VIMBRA_ERR_REGISTER});
    Driver().FailNextTransfers(0, 0, -1);

    EXPECT_EQ(Vimbra_WriteSromID(h, 0x20, 0x5A), 1);
    EXPECT_EQ(Vimbra_ReadSromID(h, 0x20, &ok), 0x5A);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(Driver().Camera(0)->Srom(0x1820), 0x5A);

    EXPECT_EQ(Vimbra_SetIOPort(h, 0x3C), 1);
    uint8_t port = 0;
    EXPECT_EQ(Vimbra_GetIOPort(h, &port, 0, 0), 1);
    EXPECT_EQ(port, 0x3C);
    EXPECT_EQ(Vimbra_GetIOPort(h, nullptr, 0, 0), 0);  // notify-only
    EXPECT_EQ(Vimbra_SetHalfClock(h, 4), 1);
    EXPECT_EQ(Vimbra_GetHalfClock(h, &ok), Driver().Camera(0)->ControllerRegister(15));
    EXPECT_EQ(ok, 1);

    EXPECT_EQ(Vimbra_GetConfigFilter(h), -1);
    EXPECT_EQ(Vimbra_SetConfigFilter(h, 1, 2), -1);
    EXPECT_EQ(Codes(h), std::vector<int32_t>(2, VIMBRA_ERR_UNSUPPORTED));
}

// A raw frame whose five measuring regions all read `level`.
void FillFrame(CDibImage& raw, uint8_t level) {
    ASSERT_EQ(raw.Create(200, 100, 8), 1);
    for (int32_t r = 0; r < raw.height(); ++r) std::memset(raw.row(r), level, raw.width());
}

TEST_F(SettingsTest, AutoIrisByGainOnASaturatedFrame) {
    EXPECT_EQ(Vimbra_SetGlobalGain(h, 40), 1);
    EXPECT_EQ(Vimbra_SetAutoIris(h, 2), 1);
    CDibImage raw;
    FillFrame(raw, 255);
    // Through the conversion's call-out, as every converted frame runs it.
    WithSession(h, [&](CVimbra& s) {
        FilterRecord filter = s.Filter();
        const AnalogRecord analog = s.Analog();
        FrameContext ctx{
            std::span<int32_t, filter_slot::kCount>(reinterpret_cast<int32_t*>(&filter), 30),
            std::span<const int32_t, analog_slot::kCount>(reinterpret_cast<const int32_t*>(&analog),
                                                          9),
            0,
            0,
            FrameImages{},
            nullptr,
            nullptr};
        ctx.colour_mode = 0;
        ctx.images.raw8 = &raw;
        ctx.callbacks = &s;
        ProcessFrame(ctx);
        return 0;
    });
    // 0.85 - 4 x 0.15 = 0.25 of 40.
    EXPECT_EQ(Vimbra_GetGlobalGain(h, nullptr), 10);
    EXPECT_EQ(WithSession(h, [](CVimbra& s) { return s.Analog().gain_b; }), 10);
}

TEST_F(SettingsTest, AutoIrisStepsTable) {
    struct Case {
        int32_t mode;
        uint8_t level;
        int32_t start, expected;
    };
    const Case cases[] = {
        {2, 255, 40, 10},                                      // factor 0.25
        {2, 0, 3, 6},                                          // 1.5 x at least 4
        {2, 0, 50, 63},                                        // held to the maximum gain
        {2, 130, 40, 40},                                      // factor 1.0: nothing changes
        {1, 255, 400, 100}, {1, 0, 400, 600}, {1, 255, 2, 1},  // at least one row
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << c.mode << " level " << int(c.level));
        EXPECT_EQ(Vimbra_SetFilterValue(h, c.mode == 2 ? kFvGlobalGain : kFvExposure, c.start), 1);
        EXPECT_EQ(Vimbra_SetAutoIris(h, c.mode), 1);
        CDibImage raw;
        FillFrame(raw, c.level);
        WithSession(h, [&](CVimbra& s) {
            s.AutoIrisStep(raw);
            return 0;
        });
        EXPECT_EQ(Vimbra_GetFilterValue(h, c.mode == 2 ? kFvGlobalGain : kFvExposure, nullptr),
                  c.expected);
    }
    const int32_t means[5] = {170, 60, 20, 210, 130};
    EXPECT_FLOAT_EQ(AutoIrisFactor(means), 0.9f + 0.05f + 0.1f - 0.15f + 0.0f);
}

}  // namespace
}  // namespace vimbra::testing
