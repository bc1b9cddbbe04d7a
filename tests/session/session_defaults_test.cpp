#include <gtest/gtest.h>

#include "session/vimbra.h"

namespace vimbra {
namespace {

TEST(SessionDefaults, FreshSession) {
    CVimbra s;
    EXPECT_EQ(s.ColorModeIndex(), 0);
    EXPECT_EQ(s.GetColorMode(), 8);
    EXPECT_EQ(s.GetSubSample(), 0);
    EXPECT_EQ(s.GetWaitTime(), 10);
    EXPECT_EQ(s.GetClockMode(), 0);
    EXPECT_EQ(s.TriggerWaitTime(), 3000);
    EXPECT_EQ(s.CameraNumber(), 0);
    EXPECT_EQ(s.State(), AcqState::kIdle);
    EXPECT_FALSE(s.HasDevice());
    EXPECT_EQ(s.Width(), 2560);
    EXPECT_EQ(s.Height(), 1920);
    for (int32_t e : s.Errors().Entries()) EXPECT_EQ(e, 0);
}

TEST(SessionDefaults, WaitTimeRejectsNegativeSilently) {
    CVimbra s;
    EXPECT_EQ(s.SetWaitTime(-1), 0);
    EXPECT_EQ(s.GetWaitTime(), 10);
    EXPECT_EQ(s.SetWaitTime(0), 1);
    EXPECT_EQ(s.GetWaitTime(), 0);
    EXPECT_EQ(s.GetLastError(), 0);
}

}  // namespace
}  // namespace vimbra
