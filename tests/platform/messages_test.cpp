#include "platform/messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace vimbra::platform {
namespace {

class MessagesTest : public ::testing::Test {
  protected:
    void TearDown() override { DestroyMessageWindow(window); }
    HWND window = CreateMessageWindow();
};

TEST_F(MessagesTest, FirstInFirstOutWithArguments) {
    ASSERT_NE(window, nullptr);
    for (intptr_t i = 0; i < 5; ++i) ASSERT_TRUE(PostMessage(window, 0x8002, i + 100, -i));
    Message m{};
    for (intptr_t i = 0; i < 5; ++i) {
        ASSERT_EQ(GetMessage(window, &m, 0), GetResult::kMessage);
        EXPECT_EQ(m.window, window);
        EXPECT_EQ(m.message, 0x8002u);
        EXPECT_EQ(m.wparam, static_cast<uintptr_t>(i + 100));
        EXPECT_EQ(m.lparam, -i);
    }
    EXPECT_EQ(GetMessage(window, &m, 0), GetResult::kEmpty);
}

TEST_F(MessagesTest, TimedGetWaitsForAPostFromAnotherThread) {
    Message m{};
    EXPECT_EQ(GetMessage(window, &m, 20), GetResult::kEmpty);
    std::thread poster([w = window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessage(w, 1, 2, 3);
    });
    EXPECT_EQ(GetMessage(window, &m, kInfinite), GetResult::kMessage);
    EXPECT_EQ(m.lparam, 3);
    poster.join();
}

TEST_F(MessagesTest, QueueStopsAtTenThousand) {
    for (int i = 0; i < kMaxQueuedMessages; ++i) ASSERT_TRUE(PostMessage(window, 1, 0, i));
    EXPECT_FALSE(PostMessage(window, 1, 0, -1));
    Message m{};
    ASSERT_EQ(GetMessage(window, &m, 0), GetResult::kMessage);
    EXPECT_EQ(m.lparam, 0);
    EXPECT_TRUE(PostMessage(window, 1, 0, -2));  // room again after one is read
}

// Reads and posts interleaved so that the queue's storage wraps around and
// then grows while wrapped: the order stays the posting order.
TEST_F(MessagesTest, OrderSurvivesWrappingAndGrowing) {
    intptr_t posted = 0, read = 0;
    Message m{};
    for (const auto& [posts, reads] : {std::pair{50, 40}, std::pair{40, 30}, std::pair{300, 320}}) {
        for (int i = 0; i < posts; ++i) ASSERT_TRUE(PostMessage(window, 1, 0, posted++));
        for (int i = 0; i < reads; ++i) {
            ASSERT_EQ(GetMessage(window, &m, 0), GetResult::kMessage);
            ASSERT_EQ(m.lparam, read++);
        }
    }
    EXPECT_EQ(GetMessage(window, &m, 0), GetResult::kEmpty);
}

TEST_F(MessagesTest, UnknownOrDestroyedWindowFailsQuietly) {
    HWND other = CreateMessageWindow();
    ASSERT_TRUE(DestroyMessageWindow(other));
    EXPECT_FALSE(DestroyMessageWindow(other));
    EXPECT_FALSE(PostMessage(other, 1, 0, 0));
    EXPECT_FALSE(PostMessage(reinterpret_cast<HWND>(uintptr_t{12345}), 1, 0, 0));
    Message m{};
    EXPECT_EQ(GetMessage(other, &m, 0), GetResult::kNoWindow);
    EXPECT_FALSE(IsMessageWindow(other));
}

TEST_F(MessagesTest, DestroyWakesAWaitingReader) {
    HWND other = CreateMessageWindow();
    std::thread reader([other] {
        Message m{};
        EXPECT_EQ(GetMessage(other, &m, kInfinite), GetResult::kNoWindow);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    DestroyMessageWindow(other);
    reader.join();
}

TEST(ThreadQueue, NullWindowPostsToTheCallingThread) {
    ASSERT_TRUE(PostMessage(nullptr, 7, 0, 42));
    std::thread other([] {
        Message m{};
        EXPECT_EQ(GetMessage(nullptr, &m, 0), GetResult::kEmpty);  // not this thread's
    });
    other.join();
    Message m{};
    ASSERT_EQ(GetMessage(nullptr, &m, 0), GetResult::kMessage);
    EXPECT_EQ(m.window, nullptr);
    EXPECT_EQ(m.lparam, 42);
}

struct Collector {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<intptr_t> seen;
    static void Receive(void* user, HWND, uint32_t, uintptr_t, intptr_t lparam) {
        auto* self = static_cast<Collector*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->seen.push_back(lparam);
        self->cv.notify_all();
    }
    void WaitFor(size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::seconds(5), [&] { return seen.size() >= n; });
    }
};

TEST_F(MessagesTest, CallbackReceivesQueuedAndLaterMessagesInOrder) {
    PostMessage(window, 1, 0, 1);
    Collector c;
    ASSERT_TRUE(SetMessageCallback(window, Collector::Receive, &c));
    for (intptr_t i = 2; i <= 100; ++i) PostMessage(window, 1, 0, i);
    c.WaitFor(100);
    ASSERT_TRUE(SetMessageCallback(window, nullptr, nullptr));
    std::vector<intptr_t> expected;
    for (intptr_t i = 1; i <= 100; ++i) expected.push_back(i);
    EXPECT_EQ(c.seen, expected);
    // Back to queueing once the callback is removed.
    PostMessage(window, 1, 0, 101);
    Message m{};
    EXPECT_EQ(GetMessage(window, &m, 0), GetResult::kMessage);
    EXPECT_EQ(m.lparam, 101);
}

// Callbacks changed from two threads while messages arrive: every message is
// delivered once, in posting order, whichever callback takes it.
TEST_F(MessagesTest, CallbacksSetFromTwoThreadsKeepOneDispatcherInOrder) {
    Collector a, b;
    std::vector<intptr_t> accepted;  // a full queue refuses posts
    std::thread poster([&] {
        for (intptr_t i = 0; i < 20000; ++i)
            if (PostMessage(window, 1, 0, i)) accepted.push_back(i);
    });
    auto flip = [&](Collector* first, Collector* second) {
        for (int i = 0; i < 300; ++i) {
            SetMessageCallback(window, Collector::Receive, i % 2 ? first : second);
            if (i % 7 == 0) SetMessageCallback(window, nullptr, nullptr);
        }
    };
    std::thread one(flip, &a, &b), two(flip, &b, &a);
    one.join();
    two.join();
    poster.join();
    ASSERT_TRUE(SetMessageCallback(window, Collector::Receive, &a));
    ASSERT_TRUE(SetMessageCallback(window, nullptr, nullptr));
    // Whatever is still queued is read here; together every message once.
    std::vector<intptr_t> all;
    all.insert(all.end(), a.seen.begin(), a.seen.end());
    all.insert(all.end(), b.seen.begin(), b.seen.end());
    Message m{};
    while (GetMessage(window, &m, 0) == GetResult::kMessage) all.push_back(m.lparam);
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, accepted);
    for (const Collector* c : {&a, &b}) EXPECT_TRUE(std::is_sorted(c->seen.begin(), c->seen.end()));
}

// A callback set while the window is destroyed never outlives the window:
// setters keep replacing the callback until the window is gone.
TEST(MessagesStress, CallbackRacingDestroyLeavesNoDispatcher) {
    Collector c;
    for (int round = 0; round < 300; ++round) {
        const HWND w = CreateMessageWindow();
        std::atomic<int> started{0};
        std::vector<std::thread> setters;
        for (int i = 0; i < 3; ++i)
            setters.emplace_back([&] {
                ++started;
                while (SetMessageCallback(w, Collector::Receive, &c)) PostMessage(w, 1, 0, 0);
            });
        while (started.load() < 3) std::this_thread::yield();
        DestroyMessageWindow(w);
        for (auto& t : setters) t.join();
        EXPECT_FALSE(IsMessageWindow(w));
    }
}

TEST(MessagesStress, ManyPostersOneReaderKeepPerPosterOrder) {
    HWND w = CreateMessageWindow();
    constexpr int kPosters = 4, kEach = 2000;
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p)
        posters.emplace_back([w, p] {
            for (int i = 0; i < kEach; ++i) PostMessage(w, 1, static_cast<uintptr_t>(p), i);
        });
    std::vector<intptr_t> last(kPosters, -1);
    int received = 0;
    Message m{};
    while (received < kPosters * kEach && GetMessage(w, &m, 5000) == GetResult::kMessage) {
        EXPECT_EQ(m.lparam, last[m.wparam] + 1);
        last[m.wparam] = m.lparam;
        ++received;
    }
    for (auto& t : posters) t.join();
    EXPECT_EQ(received, kPosters * kEach);
    DestroyMessageWindow(w);
}

}  // namespace
}  // namespace vimbra::platform
