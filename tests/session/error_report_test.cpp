#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/messages.h"
#include "platform/registry_test_env.h"
#include "platform/shared_memory.h"
#include "session/vimbra.h"

namespace vimbra {
namespace {

using platform::GetResult;
using platform::Message;

class ErrorReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CameraTable::SetObjectNameForTesting("vimbra-error-test-" + std::to_string(::getpid()));
    }
    void TearDown() override {
        platform::DestroyMessageWindow(window);
        platform::SharedMemory::Remove(CameraTable::ObjectName().c_str());
        CameraTable::SetObjectNameForTesting("");
    }

    // Drains the queue of `w` (null: this thread's queue).
    static std::vector<intptr_t> Drain(HWND w) {
        std::vector<intptr_t> codes;
        Message m{};
        while (platform::GetMessage(w, &m, 0) == GetResult::kMessage) {
            EXPECT_EQ(m.message, VIMBRA_MSG_ERROR);
            EXPECT_EQ(m.wparam, 0u);
            codes.push_back(m.lparam);
        }
        return codes;
    }

    testing::TempRegistry registry;
    HWND window = platform::CreateMessageWindow();
    CVimbra session;
};

TEST_F(ErrorReportTest, TwentyOneFailuresReadBackNewestFirst) {
    for (int32_t code = 1; code <= 21; ++code) session.RecordError(code);
    for (int32_t expected = 21; expected >= 2; --expected)
        EXPECT_EQ(session.GetLastError(), expected);
    EXPECT_EQ(session.GetLastError(), 0);
    EXPECT_EQ(session.GetLastError(), 0);
}

TEST_F(ErrorReportTest, RecordPostsToNotificationWindowInOrder) {
    EXPECT_EQ(session.Initialize(window), 1);
    session.RecordError(7);
    session.RecordError(1);
    EXPECT_EQ(Drain(window), (std::vector<intptr_t>{7, 1}));
    EXPECT_EQ(session.GetLastError(), 1);
    EXPECT_EQ(session.GetLastError(), 7);
}

TEST_F(ErrorReportTest, NotifyOnlyLeavesTheStackAlone) {
    EXPECT_EQ(session.Initialize(window), 1);
    session.NotifyError(11);
    EXPECT_EQ(Drain(window), (std::vector<intptr_t>{11}));
    EXPECT_EQ(session.GetLastError(), 0);
}

TEST_F(ErrorReportTest, WithoutWindowRecordStoresAndNotifyGoesToThreadQueue) {
    session.RecordError(9);
    EXPECT_TRUE(Drain(nullptr).empty());  // record-and-notify posts nothing
    session.NotifyError(11);
    EXPECT_EQ(Drain(nullptr), (std::vector<intptr_t>{11}));
    EXPECT_EQ(session.GetLastError(), 9);
}

TEST_F(ErrorReportTest, ConcurrentPushAndPopLoseNothing) {
    constexpr int kPerThread = 5000;
    std::atomic<int> popped{0};
    std::thread pusher([&] {
        for (int i = 0; i < kPerThread; ++i) session.RecordError(3);
    });
    std::thread popper([&] {
        for (int i = 0; i < kPerThread; ++i)
            if (session.GetLastError() != 0) ++popped;
    });
    pusher.join();
    popper.join();
    int left = 0;
    for (int32_t e : session.Errors().Entries()) {
        EXPECT_TRUE(e == 0 || e == 3);
        left += e != 0;
    }
    EXPECT_LE(left + popped.load(), kPerThread);
}

}  // namespace
}  // namespace vimbra
