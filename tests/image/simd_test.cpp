#include "image/simd.h"

#include <gtest/gtest.h>

#include <string>

namespace vimbra {
namespace {

// The override text against this machine: a known, available name is taken;
// anything else keeps the best path and says why.
TEST(SimdPathTest, OverrideChoosesAvailablePathOrReportsAndKeepsBest) {
    const SimdPath best = AvailableSimdPaths().back();
    struct Case {
        const char* request;
        SimdPath expected;
        bool reported;
    };
    const Case cases[] = {
        {nullptr, best, false}, {"", best, false},     {"scalar", SimdPath::kScalar, false},
        {"AVX2", best, true},  // names are lower case
        {"avx3", best, true},   {"avx2 ", best, true},
    };
    for (const Case& c : cases) {
        std::string problem;
        EXPECT_EQ(ChooseSimdPath(c.request, best, &problem), c.expected)
            << (c.request ? c.request : "null");
        EXPECT_EQ(!problem.empty(), c.reported) << problem;
        if (c.reported) {
            EXPECT_NE(problem.find(SimdPathName(best)), std::string::npos);
        }
    }
    for (SimdPath p : {SimdPath::kSse2, SimdPath::kAvx2, SimdPath::kAvx512, SimdPath::kNeon}) {
        std::string problem;
        const SimdPath chosen = ChooseSimdPath(SimdPathName(p), best, &problem);
        EXPECT_EQ(chosen, SimdAvailable(p) ? p : best) << SimdPathName(p);
        EXPECT_EQ(problem.empty(), SimdAvailable(p)) << problem;
    }
}

// A path the processor lacks is never put in use; the scalar path always is.
TEST(SimdPathTest, SetSimdPathNeverChoosesAMissingPath) {
    const SimdPath saved = ActiveSimd();
    const SimdPath best = AvailableSimdPaths().back();
    EXPECT_EQ(AvailableSimdPaths().front(), SimdPath::kScalar);
    for (SimdPath p : {SimdPath::kScalar, SimdPath::kSse2, SimdPath::kAvx2, SimdPath::kAvx512,
                       SimdPath::kNeon}) {
        const SimdPath used = SetSimdPath(p);
        EXPECT_EQ(used, SimdAvailable(p) ? p : best) << SimdPathName(p);
        EXPECT_EQ(ActiveSimd(), used);
    }
    SetSimdPath(saved);
}

}  // namespace
}  // namespace vimbra
