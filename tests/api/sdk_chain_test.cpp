#include "api/sdk_chain.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vimbra {
namespace {

uint32_t g_tick = 0;
int g_rand = 0;
uint32_t FixedTick() {
    return g_tick;
}
int FixedRand() {
    return g_rand;
}

class ChainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_tick = 1000;
        g_rand = 5;
    }
    // Unloading frees only the records, so every test releases what it made.
    void TearDown() override { ReleaseAll(chain); }
    static void ReleaseAll(CSdkChain& c) {
        while (c.Count() > 0) c.Release(c.HeadHandle());
    }
    CSdkChain chain{FixedTick, FixedRand};
};

TEST_F(ChainTest, HandleIsTickPlusRandPlusCount) {
    EXPECT_EQ(chain.CreateInstance(), 1005);
    EXPECT_EQ(chain.CreateInstance(), 1006);  // one record already present
    g_tick = 0xFFFFFFF0u;
    g_rand = 0x20;
    // Wraps in 32-bit unsigned arithmetic: 0xFFFFFFF0 + 0x20 + 2.
    EXPECT_EQ(chain.CreateInstance(), 0x12);
}

TEST_F(ChainTest, HandleOfZeroIsDrawnAgain) {
    // The first draw is 0xFFFFFFFB + 5 + 0, which wraps to 0.
    std::atomic<int> calls{0};
    static std::atomic<int>* counter;
    counter = &calls;
    CSdkChain c([]() -> uint32_t { return (*counter)++ == 0 ? 0xFFFFFFFBu : 7u; }, FixedRand);
    EXPECT_EQ(c.CreateInstance(), 12);
    EXPECT_EQ(calls.load(), 2);
    ReleaseAll(c);
}

TEST_F(ChainTest, LookupsMoveHead) {
    const int32_t a = chain.CreateInstance();
    g_tick = 2000;
    const int32_t b = chain.CreateInstance();
    g_tick = 3000;
    const int32_t c = chain.CreateInstance();
    for (int32_t h : {a, b, c, b}) {
        EXPECT_NE(chain.Lookup(h), nullptr);
        EXPECT_EQ(chain.HeadHandle(), h);
    }
    // Head is b; the ring runs c, b, a, so the node before b is c and a
    // failed search rests there.
    EXPECT_EQ(chain.Lookup(424242), nullptr);
    EXPECT_EQ(chain.HeadHandle(), c);
}

TEST_F(ChainTest, ReleaseTwice) {
    const int32_t h = chain.CreateInstance();
    EXPECT_EQ(chain.Release(h), 1);
    EXPECT_EQ(chain.Count(), 0);
    EXPECT_EQ(chain.Release(h), 0);
    EXPECT_EQ(chain.Lookup(h), nullptr);
}

TEST_F(ChainTest, CallReturnsNoInstanceValueForUnknownHandle) {
    EXPECT_EQ(chain.Call(77, -1, [](CVimbra&) { return 5; }), -1);
    const int32_t h = chain.CreateInstance();
    EXPECT_EQ(chain.Call(h, -1, [](CVimbra& s) { return s.GetWaitTime(); }), 10);
}

TEST_F(ChainTest, ReleaseWaitsForCallsInProgress) {
    const int32_t h = chain.CreateInstance();
    std::atomic<bool> inside{false}, release_done{false};
    std::thread user([&] {
        chain.Call(h, 0, [&](CVimbra& s) {
            inside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            // The session is still whole while this call runs.
            EXPECT_FALSE(release_done.load());
            return s.GetWaitTime();
        });
    });
    while (!inside) std::this_thread::yield();
    EXPECT_EQ(chain.Release(h), 1);
    release_done = true;
    user.join();
}

// A host calling back into the library from inside a call, as a window
// procedure run by a dialog's message loop does.
TEST_F(ChainTest, CallsFromInsideACallOnTheSameThread) {
    const int32_t h = chain.CreateInstance();
    const int32_t other = chain.CreateInstance();
    EXPECT_EQ(chain.Call(h, -1,
                         [&](CVimbra&) {
                             // Releasing the session it is inside would wait for
                             // itself: refused, the session stays.
                             EXPECT_EQ(chain.Release(h), 0);
                             EXPECT_EQ(
                                 chain.Call(h, -1, [](CVimbra& s) { return s.GetWaitTime(); }), 10);
                             // Another session is free to go.
                             EXPECT_EQ(chain.Release(other), 1);
                             return 1;
                         }),
              1);
    EXPECT_EQ(chain.Release(h), 1);
}

TEST(ChainStress, ConcurrentCreateUseRelease) {
    CSdkChain chain;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&chain] {
            for (int i = 0; i < 200; ++i) {
                const int32_t h = chain.CreateInstance();
                ASSERT_NE(h, 0);
                chain.Call(h, 0, [](CVimbra& s) {
                    s.RecordError(3);
                    return s.GetLastError();
                });
                chain.Lookup(h ^ 0x5a5a);
                EXPECT_EQ(chain.Release(h), 1);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(chain.Count(), 0);
}

}  // namespace
}  // namespace vimbra
