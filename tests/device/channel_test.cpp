// The driver channel: device paths, presence, selection, the command blocks
// of each exchange and the reply rules, checked on the bytes the virtual
// camera received.
#include <gtest/gtest.h>

#include <string>

#include "device_fixture.h"

namespace vimbra::testing {
namespace {

using sim::LoggedRequest;

struct PathCase {
    int number;
    const char* path;
};

TEST(DevicePathTest, IndexAlphabetPutsNBeforeM) {
    const PathCase cases[] = {
        {0, "\\\\.\\VmbrQX740RDL-0"},
        {5, "\\\\.\\VmbrQX740RDL-5"},
        {10, "\\\\.\\VmbrQX740RDL-A"},
        {21, "\\\\.\\VmbrQX740RDL-L"},
        {22, "\\\\.\\VmbrQX740RDL-N"},
        {23, "\\\\.\\VmbrQX740RDL-M"},
        {24, "\\\\.\\VmbrQX740RDL-O"},
        {31, "\\\\.\\VmbrQX740RDL-V"},
        {32, ""},
        {-1, ""},
    };
    for (const PathCase& c : cases) {
        char path[CVBXSdkLib::kDevicePathSize];
        CVBXSdkLib::FormatDevicePath(path, sizeof path, "VmbrQX740RDL", c.number);
        EXPECT_STREQ(path, c.path) << "camera number " << c.number;
    }
}

TEST_F(DeviceTest, EnumerationFindsTheSlotsThatOpen) {
    driver_.Unplug(0);
    driver_.Plug(22, sim::CameraModel::kColor);
    CVimbra740QXRDLSdk& dev = Device();
    for (int i = 0; i < 32; ++i) EXPECT_EQ(dev.IsPresent(i), i == 22) << i;
    EXPECT_FALSE(dev.IsPresent(32));
    EXPECT_FALSE(dev.IsPresent(-1));
    EXPECT_EQ(dev.SelectedCamera(), 0);

    // Selecting 22 talks to the camera behind the -N path, not -M.
    ASSERT_EQ(dev.SelectCamera(22), 0);
    EXPECT_STREQ(dev.DevicePath(), "\\\\.\\VmbrQX740RDL-N");
    EXPECT_FALSE(Commands(22).empty());

    // Every probe closes what it opened.
    driver_.Plug(23, sim::CameraModel::kColor);
    dev.EnumerateDevices();
    EXPECT_TRUE(dev.IsPresent(23));
    EXPECT_EQ(driver_.OpenHandles(22), 0);
    EXPECT_EQ(driver_.OpenHandles(23), 0);
    EXPECT_EQ(dev.SelectedCamera(), 0);
    EXPECT_STREQ(dev.DevicePath(), "\\\\.\\VmbrQX740RDL-N") << "enumeration keeps the path";
}

TEST_F(DeviceTest, SelectRefusesNumbersOutsideTheSlots) {
    CVimbra740QXRDLSdk& dev = Device();
    for (int n : {32, -1, 1000}) {
        EXPECT_EQ(dev.Select(n), kDevBadCameraNumber);
        EXPECT_EQ(dev.SelectCamera(n), kDevBadCameraNumber);
    }
    EXPECT_EQ(dev.SelectedCamera(), 0);
    EXPECT_STREQ(dev.DevicePath(), "\\\\.\\VmbrQX740RDL-0");
    // Select neither opens nor checks presence.
    EXPECT_EQ(dev.Select(7), 0);
    EXPECT_STREQ(dev.DevicePath(), "\\\\.\\VmbrQX740RDL-7");
    for (const LoggedRequest& r : Requests()) EXPECT_NE(r.slot, 7);
}

TEST_F(DeviceTest, WithoutCamerasEveryExchangeFails) {
    driver_.UnplugAll();
    CVimbra740QXRDLSdk& dev = Device();
    for (int i = 0; i < 32; ++i) EXPECT_FALSE(dev.IsPresent(i));
    uint16_t value = 77;
    EXPECT_FALSE(dev.ReadSensorRegister(9, &value));
    EXPECT_EQ(value, 0);
    uint8_t byte = 77;
    EXPECT_FALSE(dev.ReadControllerRegister(15, &byte));
    EXPECT_EQ(byte, 0);
    byte = 77;
    EXPECT_FALSE(dev.ReadSrom(0x1800, &byte));
    EXPECT_EQ(byte, 0);
    EXPECT_FALSE(dev.WriteSensorRegister(9, 5));
    EXPECT_FALSE(dev.WriteControllerRegister(7, 5));
    EXPECT_FALSE(dev.Reset());
    EXPECT_FALSE(dev.Prepare());
    EXPECT_EQ(dev.ReadOneFrame(), kDevNoHandle);
}

TEST_F(DeviceTest, WriteExchangesSendExactBlocks) {
    CVimbra740QXRDLSdk& dev = Device();
    EXPECT_TRUE(dev.WriteSensorRegister(0x123, 0xBEEF));  // the register number is one byte
    EXPECT_TRUE(dev.WriteControllerRegister(7, 0x5A));
    EXPECT_TRUE(dev.Reset());
    EXPECT_TRUE(dev.Prepare());
    EXPECT_TRUE(dev.SendFrameSize(0x04CE400));
    const std::vector<Block> expected = {
        MakeBlock({0x04, 0x23, 0xBE, 0xEF}),
        MakeBlock({0x25, 0x07, 0x5A}),
        MakeBlock({0x01}),
        MakeBlock({0x06}),
        MakeBlock({0x09, 0x00, 0xE4, 0x4C, 0x00}),
    };
    EXPECT_EQ(Commands(), expected);
    EXPECT_EQ(Camera()->SensorRegister(0x23), 0xBEEF);
    EXPECT_EQ(Camera()->ControllerRegister(7), 0x5A);

    // Each exchange opens and closes its own handle; commands use the
    // direct-in code with the pipe number as the whole input.
    int opens = 0, closes = 0;
    for (const LoggedRequest& r : Requests()) {
        if (r.kind == LoggedRequest::Kind::kOpen) ++opens;
        if (r.kind == LoggedRequest::Kind::kClose) ++closes;
        if (r.kind == LoggedRequest::Kind::kControl) {
            EXPECT_EQ(r.code, platform::kIoctlDirectIn);
            EXPECT_EQ(r.size, 64u);
        }
    }
    EXPECT_EQ(opens, 5);
    EXPECT_EQ(closes, 5);
}

TEST_F(DeviceTest, ReadExchangesTakeTheSecondReply) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_TRUE(dev.WriteSensorRegister(9, 0x1234));
    Fresh();
    uint16_t value = 0;
    ASSERT_TRUE(dev.ReadSensorRegister(9, &value));
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(Commands(), std::vector<Block>{MakeBlock({0x0C, 9})});
    int reply_reads = 0;
    for (const LoggedRequest& r : Requests())
        if (r.kind == LoggedRequest::Kind::kControl && r.pipe == platform::kPipeReply) {
            EXPECT_EQ(r.code, platform::kIoctlDirectOut);
            EXPECT_EQ(r.size, 64u);
            ++reply_reads;
        }
    EXPECT_EQ(reply_reads, 2);

    // A failed first read is ignored; a failed second read fails the exchange.
    driver_.FailNextTransfers(0, 1, platform::kPipeReply);
    value = 0;
    EXPECT_TRUE(dev.ReadSensorRegister(9, &value));
    EXPECT_EQ(value, 0x1234);
    driver_.FailNextTransfers(0, 2, platform::kPipeReply);
    EXPECT_FALSE(dev.ReadSensorRegister(9, &value));
    EXPECT_EQ(value, 0);
    // So does a failed command.
    driver_.FailNextTransfers(0, 1, platform::kPipeCommand);
    value = 1;
    EXPECT_FALSE(dev.ReadSensorRegister(9, &value));
    EXPECT_EQ(value, 0);

    uint8_t byte = 0;
    ASSERT_TRUE(dev.WriteControllerRegister(15, 3));
    Fresh();
    ASSERT_TRUE(dev.ReadControllerRegister(15, &byte));
    EXPECT_EQ(byte, 3);
    EXPECT_EQ(Commands(), std::vector<Block>{MakeBlock({0x26, 15})});
}

TEST_F(DeviceTest, SromAddressesAndWaits) {
    CVimbra740QXRDLSdk& dev = Device();
    uint8_t value = 9;
    EXPECT_FALSE(dev.ReadSrom(0x17FF, &value));
    EXPECT_EQ(value, 0);
    EXPECT_TRUE(Requests().empty()) << "refused before opening the device";
    EXPECT_TRUE(SleepRecorder::Take().empty());

    ASSERT_TRUE(dev.ReadSrom(0x1800, &value));
    EXPECT_EQ(value, Camera()->Srom(0x1800));
    EXPECT_EQ(Commands(), std::vector<Block>{MakeBlock({0x41, 0x51, 0x02, 0x01, 0x18, 0x00})});
    EXPECT_EQ(SleepRecorder::Take(), (std::vector<uint32_t>{6, 6}));

    // The low 16 bits of the address count; an index uses its low byte.
    Fresh();
    ASSERT_TRUE(dev.ReadSrom(0x11EB0, &value));
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(dev.ReadSromId(256, &value));
    ASSERT_TRUE(dev.ReadSromId(0x13, &value));
    EXPECT_EQ(Commands(), (std::vector<Block>{MakeBlock({0x41, 0x51, 0x02, 0x01, 0x1E, 0xB0}),
                                              MakeBlock({0x41, 0x51, 0x02, 0x01, 0x18, 0x00}),
                                              MakeBlock({0x41, 0x51, 0x02, 0x01, 0x18, 0x13})}));

    // A write reaches only the 0x18 page and waits 10 ms.
    Fresh();
    ASSERT_TRUE(dev.WriteSrom(0x1905, 0x1AB));
    EXPECT_EQ(Commands(), std::vector<Block>{MakeBlock({0x40, 0x51, 0x03, 0x18, 0x05, 0xAB})});
    EXPECT_EQ(SleepRecorder::Take(), std::vector<uint32_t>{10});
    EXPECT_EQ(Camera()->Srom(0x1805), 0xAB);
    EXPECT_EQ(Camera()->Srom(0x1905), 0xFF);
    ASSERT_TRUE(dev.ReadSromId(5, &value));
    EXPECT_EQ(value, 0xAB);
}

TEST_F(DeviceTest, SromReadIgnoresTheCommandOutcome) {
    CVimbra740QXRDLSdk& dev = Device();
    driver_.FailNextTransfers(0, 1, platform::kPipeCommand);
    uint8_t value = 0;
    // The camera never saw the read, so the reply holds the last one.
    ASSERT_TRUE(dev.ReadSrom(0x1EB0, &value));
    EXPECT_TRUE(dev.ReadSrom(0x1EB0, &value));
    EXPECT_EQ(value, 1);
}

TEST_F(DeviceTest, TransferWaitSendsTheWaitBlock) {
    CVimbra740QXRDLSdk& dev = Device();
    EXPECT_EQ(dev.TransferWait(), 3000);
    dev.SetTransferWait(60000);
    EXPECT_EQ(dev.TransferWait(), 60000);
    EXPECT_EQ(Camera()->TransferWaitMs(), 60000);
    std::vector<LoggedRequest> waits;
    for (const LoggedRequest& r : Requests())
        if (r.kind == LoggedRequest::Kind::kControl) waits.push_back(r);
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_EQ(waits[0].code, platform::kIoctlTransferWait);
    EXPECT_EQ(waits[0].size, 44u);
    ASSERT_EQ(waits[0].data_size, 44u);
    Block expected = MakeBlock({1, 0, 0, 0, 0x60, 0xEA, 0, 0});
    EXPECT_EQ(waits[0].data, expected);

    // Selecting a camera restores 3000 without telling the driver.
    Fresh();
    dev.SelectCamera(0);
    EXPECT_EQ(dev.TransferWait(), 3000);
    for (const LoggedRequest& r : Requests()) EXPECT_NE(r.code, platform::kIoctlTransferWait);
}

}  // namespace
}  // namespace vimbra::testing
