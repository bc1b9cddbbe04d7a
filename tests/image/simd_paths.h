// Runs a parameterised test once on every instruction-set path this machine
// has, the scalar one included, and puts the path back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "image/simd.h"

namespace vimbra::test {

class SimdPaths : public ::testing::TestWithParam<SimdPath> {
  protected:
    void SetUp() override {
        saved_ = ActiveSimd();
        ASSERT_EQ(SetSimdPath(GetParam()), GetParam());
    }
    void TearDown() override { SetSimdPath(saved_); }

  private:
    SimdPath saved_ = SimdPath::kScalar;
};

inline auto EverySimdPath() {
    const auto paths = AvailableSimdPaths();
    return ::testing::ValuesIn(paths.begin(), paths.end());
}

inline std::string SimdPathTestName(const ::testing::TestParamInfo<SimdPath>& info) {
    return SimdPathName(info.param);
}

}  // namespace vimbra::test
