#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vimbra::platform {
namespace {

TEST(Event, AutoResetReleasesOneWaitThenClears) {
    Event e(Event::Mode::kAutoReset);
    EXPECT_FALSE(e.Wait(0));
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(10));
}

TEST(Event, ManualResetStaysSetUntilReset) {
    Event e(Event::Mode::kManualReset, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, ManualResetWakesEveryWaiter) {
    Event e(Event::Mode::kManualReset);
    std::atomic<int> woken{0};
    std::thread a([&] { woken += e.Wait(kInfinite); });
    std::thread b([&] { woken += e.Wait(kInfinite); });
    e.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 2);
}

TEST(RecursiveLock, OwnerMayEnterAgainOthersWait) {
    RecursiveLock lock;
    lock.Enter();
    lock.Enter();
    std::atomic<bool> other_got_it{true};
    std::thread t([&] { other_got_it = lock.TryEnter(); });
    t.join();
    EXPECT_FALSE(other_got_it.load());
    lock.Leave();
    lock.Leave();
    std::thread u([&] {
        other_got_it = lock.TryEnter();
        if (other_got_it) lock.Leave();
    });
    u.join();
    EXPECT_TRUE(other_got_it.load());
}

}  // namespace
}  // namespace vimbra::platform
