// Choosing the driver back end at run time, and the /dev node back end
// failing cleanly when no kernel driver is there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "device/vimbra_740qx_rdl_sdk.h"
#include "platform/driver.h"
#include "sim/virtual_driver.h"

namespace vimbra {
namespace {

class BackendChoiceTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ::unsetenv("VIMBRA_DRIVER");
        platform::SetDriverBackendOverride(nullptr);
        platform::RegisterVirtualBackend(nullptr);
    }
};

TEST(DevNodeTest, PathsMapIntoDev) {
    const std::pair<const char*, const char*> cases[] = {
        {"\\\\.\\VmbrQX740RDL-5", "/dev/VmbrQX740RDL-5"},
        {"\\\\.\\VmbrQX740RDL-N", "/dev/VmbrQX740RDL-N"},
        {"VmbrQX740RDL-5", ""},
        {"\\\\.\\", ""},
        {"\\\\.\\../etc/passwd", ""},
        {nullptr, ""},
    };
    for (const auto& [path, node] : cases) {
        char out[64] = "x";
        platform::DevNodePath(path, out, sizeof out);
        EXPECT_STREQ(out, node) << (path ? path : "null");
    }
    char small[8] = "x";
    platform::DevNodePath("\\\\.\\VmbrQX740RDL-5", small, sizeof small);
    EXPECT_STREQ(small, "") << "a path that does not fit is not truncated into another";
}

TEST(DevNodeTest, AbsentNodeCannotBeOpened) {
    EXPECT_EQ(platform::DevNodeBackend().Open("\\\\.\\VmbrQX740RDL-V"), nullptr);
    EXPECT_EQ(platform::DevNodeBackend().Open("\\\\.\\NoSuchDriver-0"), nullptr);
    // A device object on it finds no camera and fails every exchange.
    CVimbra740QXRDLSdk device(&platform::DevNodeBackend());
    for (int i = 0; i < 32; ++i) EXPECT_FALSE(device.IsPresent(i));
    uint16_t value = 1;
    EXPECT_FALSE(device.ReadSensorRegister(1, &value));
    EXPECT_EQ(device.ReadOneFrame(), kDevNoHandle);
}

sim::VirtualDriver* g_test_driver = nullptr;

TEST_F(BackendChoiceTest, VariableSelectsTheBackEnd) {
    sim::VirtualDriver driver;
    g_test_driver = &driver;
    // Without a registered virtual camera only the /dev back end is left.
    ::unsetenv("VIMBRA_DRIVER");
    EXPECT_EQ(platform::ActiveDriverBackend(), &platform::DevNodeBackend());
    platform::RegisterVirtualBackend([]() -> platform::DriverBackend* { return g_test_driver; });
    EXPECT_EQ(platform::ActiveDriverBackend(), &driver) << "no /dev node here: the virtual camera";
    ::setenv("VIMBRA_DRIVER", "sim", 1);
    EXPECT_EQ(platform::ActiveDriverBackend(), &driver);
    ::setenv("VIMBRA_DRIVER", "dev", 1);
    EXPECT_EQ(platform::ActiveDriverBackend(), &platform::DevNodeBackend());
    sim::VirtualDriver forced;
    platform::SetDriverBackendOverride(&forced);
    EXPECT_EQ(platform::ActiveDriverBackend(), &forced);
}

TEST_F(BackendChoiceTest, UnknownChoiceIsReportedWithTheBackEndUsed) {
    sim::VirtualDriver driver;
    g_test_driver = &driver;
    platform::RegisterVirtualBackend([]() -> platform::DriverBackend* { return g_test_driver; });
    ::setenv("VIMBRA_DRIVER", "simulator", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(platform::ActiveDriverBackend(), &driver) << "taken as auto";
    platform::ActiveDriverBackend();
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("VIMBRA_DRIVER=\"simulator\" is not sim, dev or auto; using auto"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("simulator", said.find("simulator") + 20), std::string::npos)
        << "said once: " << said;
}

TEST_F(BackendChoiceTest, InstalledDefaultServesOneColourCamera) {
    sim::InstallVirtualDriver();
    sim::DefaultVirtualDriver().SetTiming(false);
    CVimbra740QXRDLSdk device;  // takes the active back end
    EXPECT_TRUE(device.IsPresent(0));
    EXPECT_FALSE(device.IsPresent(1));
    ASSERT_EQ(device.SetWindow(0, 0, 640, 480, 0), 0);
    EXPECT_EQ(device.ReadOneFrame(), kDevOk);
}

}  // namespace
}  // namespace vimbra
