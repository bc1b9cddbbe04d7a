// The driver protocol's fixed values, spelled out as the driver knows them:
// tests elsewhere use the named constants, so these keep them honest.
#include <gtest/gtest.h>

#include "platform/driver.h"

namespace vimbra::platform {
namespace {

TEST(DriverLiterals, ControlCodesPipesAndTheLargeRequestThreshold) {
    EXPECT_EQ(kIoctlDirectOut, 0x0022204Eu);
    EXPECT_EQ(kIoctlDirectIn, 0x00222051u);
    EXPECT_EQ(kIoctlLargeIn, 0x002220A9u);
    EXPECT_EQ(kIoctlTransferWait, 0x002220A0u);
    EXPECT_EQ(kPipeCommand, 0u);
    EXPECT_EQ(kPipeReply, 1u);
    EXPECT_EQ(kPipeFrame, 2u);
    EXPECT_EQ(kLargeTransferBytes, 3072000u);
    EXPECT_EQ(kTransferWaitBlockSize, 44u);
    EXPECT_EQ(kTransferWaitMsOffset, 4u);
}

}  // namespace
}  // namespace vimbra::platform
