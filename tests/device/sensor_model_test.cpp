// The 740QX sensor model: window registers, mirrors, trigger, gains, shutter,
// depth, camera selection, the SROM model record and exposure arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "device_fixture.h"

namespace vimbra::testing {
namespace {

using Model = CVimbra740QXRDLSdk;

// Index of the first command block with this code and second byte.
int IndexOf(const std::vector<Block>& blocks, uint8_t code, uint8_t arg) {
    for (size_t i = 0; i < blocks.size(); ++i)
        if (blocks[i][0] == code && blocks[i][1] == arg) return static_cast<int>(i);
    return -1;
}

struct WindowCase {
    int x, y, w, h, mode;
    uint16_t row_start, col_start, row_size, col_size, address_mode;
    int frame_w, frame_h;
    uint32_t samples;
};

TEST_F(DeviceTest, SetWindowProgramsTheSensor) {
    const WindowCase cases[] = {
        {0, 0, 2592, 1944, 0, 54, 16, 1943, 2591, 0x0040, 2592, 1944, 5039104},
        {0, 0, 2592, 1944, 2, 56, 16, 1943, 2591, 0x0043, 648, 486, 315392},
        {10, 10, 100, 50, 1, 64, 28, 51, 99, 0x0041, 50, 25, 2048},
        {0, 0, 2592, 1944, 17, 56, 16, 1943, 2591, 0x0051, 1296, 972, 1260544},
        {8, 3, 640, 480, 18, 64, 24, 479, 639, 0x0073, 160, 120, 19456},
        {1, 1, 5, 3, 3, 55, 17, 3, 5, 0x0040, 5, 3, 1024},
    };
    CVimbra740QXRDLSdk& dev = Device();
    for (const WindowCase& c : cases) {
        Fresh();
        ASSERT_EQ(dev.SetWindow(c.x, c.y, c.w, c.h, c.mode), 0) << c.w << "x" << c.h;
        auto cam = Camera();
        EXPECT_EQ(cam->SensorRegister(1), c.row_start) << "mode " << c.mode;
        EXPECT_EQ(cam->SensorRegister(2), c.col_start) << "mode " << c.mode;
        EXPECT_EQ(cam->SensorRegister(3), c.row_size) << "mode " << c.mode;
        EXPECT_EQ(cam->SensorRegister(4), c.col_size) << "mode " << c.mode;
        EXPECT_EQ(cam->SensorRegister(34), c.address_mode) << "mode " << c.mode;
        EXPECT_EQ(cam->SensorRegister(35), c.address_mode) << "mode " << c.mode;
        EXPECT_EQ(dev.EffectiveWidth(), c.frame_w);
        EXPECT_EQ(dev.EffectiveHeight(), c.frame_h);
        EXPECT_EQ(dev.SampleCount(), c.samples);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(cam->ControllerRegister(i), static_cast<uint8_t>(c.samples >> (8 * i)));
        EXPECT_EQ(SleepRecorder::Take(), std::vector<uint32_t>{100});

        // Registers 1, 2, 3, 4, 34, 35 in that order, then the controller.
        const std::vector<Block> blocks = Commands();
        const int order[] = {IndexOf(blocks, 0x04, 1),  IndexOf(blocks, 0x04, 2),
                             IndexOf(blocks, 0x04, 3),  IndexOf(blocks, 0x04, 4),
                             IndexOf(blocks, 0x04, 34), IndexOf(blocks, 0x04, 35),
                             IndexOf(blocks, 0x25, 0),  IndexOf(blocks, 0x25, 3)};
        EXPECT_GE(order[0], 0);
        EXPECT_TRUE(std::is_sorted(std::begin(order), std::end(order)));
    }
}

TEST_F(DeviceTest, SetWindowRefusalsSendNothing) {
    struct Bad {
        int x, y, w, h, mode;
    };
    const Bad cases[] = {{0, 0, 3, 100, 0},    {1, 0, 2592, 100, 0}, {0, 0, 100, 2, 0},
                         {0, 1, 100, 1944, 0}, {-1, 0, 100, 100, 0}, {0, -1, 100, 100, 0},
                         {0, 0, 100, 100, 4},  {0, 0, 100, 100, 19}, {0, 0, 100, 3, 2}};
    CVimbra740QXRDLSdk& dev = Device();
    for (const Bad& c : cases)
        EXPECT_EQ(dev.SetWindow(c.x, c.y, c.w, c.h, c.mode), 1)
            << c.x << "," << c.y << " " << c.w << "x" << c.h << " mode " << c.mode;
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(dev.WindowWidth(), 2592);
}

TEST_F(DeviceTest, VerticalMirrorMovesTheRowStartOnlyForEvenHeights) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetVerticalMirror(1), 0);
    EXPECT_EQ(Camera()->SensorRegister(1), 55);
    EXPECT_EQ(Camera()->SensorRegister(32), 0x8040);
    EXPECT_EQ(dev.VerticalMirror(), 1);
    EXPECT_EQ(SleepRecorder::Take(), std::vector<uint32_t>{300});
    // No change, no wait.
    ASSERT_EQ(dev.SetVerticalMirror(1), 0);
    EXPECT_TRUE(SleepRecorder::Take().empty());
    ASSERT_EQ(dev.SetVerticalMirror(0), 0);
    EXPECT_EQ(Camera()->SensorRegister(1), 54);
    EXPECT_EQ(dev.VerticalMirror(), 0);

    ASSERT_EQ(dev.SetWindow(0, 0, 2592, 1943, 0), 0);
    Fresh();
    ASSERT_EQ(dev.SetVerticalMirror(1), 0);
    EXPECT_EQ(Camera()->SensorRegister(1), 54);
    for (const Block& b : Commands()) EXPECT_FALSE((b[0] == 0x04 || b[0] == 0x0C) && b[1] == 1);
    EXPECT_EQ(dev.VerticalMirror(), 1);
    // The window re-applies the mirror: an even height gets the odd start.
    ASSERT_EQ(dev.SetWindow(0, 0, 2592, 1944, 0), 0);
    EXPECT_EQ(Camera()->SensorRegister(1), 55);
}

TEST_F(DeviceTest, HorizontalMirrorUsesBitFourteen) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetHorizontalMirror(1), 0);
    EXPECT_EQ(Camera()->SensorRegister(32), 0x4040);
    EXPECT_EQ(dev.HorizontalMirror(), 1);
    EXPECT_EQ(dev.ReadVerticalMirror(), 0);
    EXPECT_EQ(SleepRecorder::Take(), std::vector<uint32_t>{300});
    ASSERT_EQ(dev.SetHorizontalMirror(0), 0);
    EXPECT_EQ(Camera()->SensorRegister(32), 0x0040);
    EXPECT_EQ(dev.ReadHorizontalMirror(), 0);
    // The stored state is what the sensor reads back.
    driver_.FailNextTransfers(0, 100, platform::kPipeReply);
    ASSERT_EQ(dev.SetHorizontalMirror(1), 0);
    EXPECT_EQ(dev.HorizontalMirror(), 0);
}

TEST_F(DeviceTest, ShutterWidthIsClamped) {
    const std::pair<int, uint16_t> cases[] = {{0, 1},         {1, 1},         {1970, 1970},
                                              {16383, 16383}, {16384, 16383}, {20000, 16383},
                                              {65536, 1},     {-1, 16383}};
    CVimbra740QXRDLSdk& dev = Device();
    for (const auto& [rows, written] : cases) {
        ASSERT_TRUE(dev.SetShutterWidth(rows));
        EXPECT_EQ(Camera()->SensorRegister(9), written) << rows;
        int read = 0;
        ASSERT_TRUE(dev.ReadShutterWidth(&read));
        EXPECT_EQ(read, written);
    }
}

TEST_F(DeviceTest, GainsAreMasked) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_TRUE(dev.SetGlobalGain(200));
    EXPECT_EQ(Commands().back(), MakeBlock({0x04, 53, 0x00, 72}));
    EXPECT_EQ(dev.ReadGlobalGain(), 72);

    ASSERT_TRUE(dev.SetColorGain(45, 300));
    EXPECT_EQ(Camera()->SensorRegister(45), 300 & 0xFF);
    ASSERT_TRUE(dev.SetColorGain(44, 0xC5));
    int value = 0;
    ASSERT_TRUE(dev.ReadColorGain(44, &value));
    EXPECT_EQ(value, 0xC5 & 0x7F);

    Fresh();
    for (int reg : {42, 47, 53}) {
        EXPECT_FALSE(dev.SetColorGain(reg, 10));
        EXPECT_FALSE(dev.ReadColorGain(reg, &value));
        EXPECT_EQ(value, 0);
    }
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(dev.DefaultColorGain(43), 14);
    EXPECT_EQ(dev.DefaultColorGain(47), 0);
}

TEST_F(DeviceTest, TriggerSetsReadoutModeBits) {
    CVimbra740QXRDLSdk& dev = Device();
    struct Case {
        int on, option;
        uint8_t control;
        uint16_t read_mode;
    };
    const Case cases[] = {
        {1, 1, 1, 0x0350}, {1, 0, 1, 0x0340}, {1, 2, 1, 0x0340}, {0, 1, 0, 0x0040}};
    for (const Case& c : cases) {
        ASSERT_EQ(dev.SetTrigger(c.on, c.option), 1);
        EXPECT_EQ(Camera()->ControllerRegister(11), c.control);
        EXPECT_EQ(Camera()->SensorRegister(30), c.read_mode) << c.on << "/" << c.option;
        EXPECT_EQ(dev.TriggerState(), c.on);
    }
    // A failed write keeps the stored state.
    driver_.FailNextTransfers(0, 1, platform::kPipeCommand);
    EXPECT_EQ(dev.SetTrigger(1, 1), 0);
    EXPECT_EQ(dev.TriggerState(), 0);
    EXPECT_EQ(Camera()->SensorRegister(30), 0x0040);
}

TEST_F(DeviceTest, TransferDepthOverride) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetTransferDepth(1), 1);
    EXPECT_EQ(Commands(), (std::vector<Block>{MakeBlock({0x0A, 1}), MakeBlock({0x25, 14, 0x85}),
                                              MakeBlock({0x01})}));
    EXPECT_EQ(SleepRecorder::Take(), std::vector<uint32_t>{2});
    EXPECT_TRUE(Camera()->Depth16());
    Fresh();
    ASSERT_EQ(dev.SetTransferDepth(0), 1);
    EXPECT_EQ(Commands(), (std::vector<Block>{MakeBlock({0x0A, 1}), MakeBlock({0x25, 14, 0x84}),
                                              MakeBlock({0x01})}));
    EXPECT_FALSE(Camera()->Depth16());

    // The generic device only sends the depth command, with the flag.
    CVBXSdkLib generic(&driver_);
    generic.SetDriverName("VmbrQX740RDL");
    generic.Select(0);
    Fresh();
    generic.SetTransferDepth(5);
    generic.SetTransferDepth(0);
    EXPECT_EQ(Commands(), (std::vector<Block>{MakeBlock({0x0A, 1}), MakeBlock({0x0A, 0})}));
}

TEST_F(DeviceTest, SelectCameraInitialisesTheModel) {
    CVimbra740QXRDLSdk& dev = Device();
    dev.SetHorizontalMirror(1);
    dev.SetTrigger(1, 1);
    dev.SetTransferDepth(1);
    Fresh();
    ASSERT_EQ(dev.SelectCamera(0), 0);
    const std::vector<Block> blocks = Commands();
    ASSERT_GE(blocks.size(), 6u);
    EXPECT_EQ(blocks[0], MakeBlock({0x0A, 1}));
    EXPECT_EQ(blocks[1], MakeBlock({0x25, 14, 0x84}));
    EXPECT_EQ(blocks[2], MakeBlock({0x01}));
    EXPECT_EQ(blocks[3], MakeBlock({0x06}));
    EXPECT_EQ(blocks.back(), MakeBlock({0x01}));
    EXPECT_LT(IndexOf(blocks, 0x09, 0x00), IndexOf(blocks, 0x25, 11));
    EXPECT_EQ(SleepRecorder::Take(), (std::vector<uint32_t>{2, 100, 2}));
    EXPECT_EQ(dev.HorizontalMirror(), 1) << "the horizontal mirror is kept";
    EXPECT_EQ(dev.TriggerState(), 0);
    EXPECT_EQ(Camera()->ControllerRegister(11), 0);
    EXPECT_EQ(Camera()->SensorRegister(30), 0x0040);
    EXPECT_EQ(dev.DepthFlag(), 0);
    EXPECT_EQ(dev.SampleCount(), 5039104u);
    EXPECT_TRUE(dev.LargeTransfer());
}

TEST_F(DeviceTest, GrayCalibrationOnlyOnMonochromeModels) {
    driver_.Plug(1, sim::CameraModel::kMono740);
    driver_.Plug(2, sim::CameraModel::kMono2250);
    CVimbra740QXRDLSdk& dev = Device();
    GrayCalibration cal{};
    EXPECT_FALSE(dev.ReadGrayCalibration(&cal));
    for (int slot : {1, 2}) {
        ASSERT_EQ(dev.SelectCamera(slot), 0);
        cal = {};
        ASSERT_TRUE(dev.ReadGrayCalibration(&cal)) << slot;
        EXPECT_EQ(cal.mode, 1);
        EXPECT_EQ(cal.gain_r1, 142);
        EXPECT_EQ(cal.gain_g1, 128);
        EXPECT_EQ(cal.gain_g2, 128);
        EXPECT_EQ(cal.gain_b1, 160);
        EXPECT_EQ(cal.offset_b1, 0);
    }
    // A name that only starts like a known model is not one.
    Camera(2)->SetSrom(0x1909, 'X');
    EXPECT_FALSE(dev.ReadGrayCalibration(&cal));
}

TEST_F(DeviceTest, SensorVariantFromSrom) {
    CVimbra740QXRDLSdk& dev = Device();
    const std::pair<uint8_t, int> cases[] = {{2, 1}, {1, 0}, {7, 0}, {0, 0}};
    for (const auto& [byte, variant] : cases) {
        Camera()->SetSrom(0x1EB0, byte);
        dev.ApplySensorVariantFromSrom();
        EXPECT_EQ(dev.SensorVariant(), variant) << int{byte};
    }
    EXPECT_EQ(dev.SetSensorVariant(9), 1);
    EXPECT_EQ(dev.SensorVariant(), 1);
}

TEST(ExposureTest, RowLengthAndMicroseconds) {
    EXPECT_EQ(Model::RowLengthClocks(0, 2592), 3508);
    EXPECT_EQ(Model::RowLengthClocks(1, 2592), 2212);
    EXPECT_EQ(Model::RowLengthClocks(2, 2592), 1564);
    EXPECT_EQ(Model::RowLengthClocks(17, 2592), 2851);
    EXPECT_EQ(Model::RowLengthClocks(18, 2592), 3566);
    EXPECT_EQ(Model::RowLengthClocks(3, 2592), 3508);
    EXPECT_EQ(Model::ExposureMicroseconds(1970, 0, 2592, 0), 287948);
    EXPECT_EQ(Model::ClockPeriodMs(7), Model::ClockPeriodMs(0));
    EXPECT_EQ(Model::ClockPeriodMs(2), static_cast<double>(1.0f / 48000.0f));

    // Asking for what a shutter width gives back returns that width.
    const int us = Model::ExposureMicroseconds(1970, 0, 2592, 2);
    EXPECT_EQ(Model::ExposureRowsFor(us + 1, 0, 2592, 2), 1970);
    EXPECT_EQ(Model::ExposureRowsFor(0, 0, 2592, 0), 0);
    EXPECT_EQ(Model::ExposureRowsFor(100, 0, 2592, 0), 0) << "less than one row";
    EXPECT_EQ(Model::ExposureRowsFor(1e7, 0, 2592, 0), 0) << "more than 16383 rows";
    EXPECT_EQ(Model::ExposureRowsFor(-5000, 0, 2592, 0), 0);

    // Width 2560: 3476 clocks a row; 1000 us gives 6 rows, which read back as
    // 868 us because the single-precision period falls just short of 869.
    EXPECT_EQ(Model::RowLengthClocks(0, 2560), 3476);
    EXPECT_EQ(Model::ExposureRowsFor(1000, 0, 2560, 0), 6);
    EXPECT_EQ(Model::ExposureMicroseconds(6, 0, 2560, 0), 868);
}

TEST(ExposureTest, ExtremeStoredValuesStayDefined) {
    // A window the session stored without accepting it, or an exposure read
    // from settings, can hold any int; the arithmetic must not overflow.
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    EXPECT_EQ(Model::RowLengthClocks(0, kMax), int64_t{kMax} + 916);
    EXPECT_EQ(Model::RowLengthClocks(17, kMax), int64_t{kMax} / 2 + 1555);
    EXPECT_EQ(Model::ExposureMicroseconds(kMax, 0, 2592, 1), kMax);
    EXPECT_EQ(Model::ExposureMicroseconds(kMin, 0, 2592, 1), kMin);
    EXPECT_EQ(Model::ExposureMicroseconds(1970, 0, kMax, 0), kMax);
    EXPECT_EQ(Model::ExposureRowsFor(1000, 0, kMax, 0), 0);
}

}  // namespace
}  // namespace vimbra::testing
