// The block around the library's writes into pipes and sockets.
#include "platform/pipe_signal.h"

#include <gtest/gtest.h>

namespace vimbra::platform {
namespace {

bool PipeSignalIn(const sigset_t& set) {
    return sigismember(&set, SIGPIPE) == 1;
}

TEST(PipeSignalBlock, TakesTheSignalItsWriteRaised) {
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, nullptr, &before);
    {
        PipeSignalBlock block;
        pthread_kill(pthread_self(), SIGPIPE);  // as a write into a broken pipe does
    }
    sigset_t pending, after;
    sigpending(&pending);
    pthread_sigmask(SIG_BLOCK, nullptr, &after);
    EXPECT_FALSE(PipeSignalIn(pending));
    EXPECT_EQ(PipeSignalIn(after), PipeSignalIn(before));
}

TEST(PipeSignalBlock, LeavesTheThreadsOwnPendingSignal) {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &pipe, &before);
    pthread_kill(pthread_self(), SIGPIPE);
    { PipeSignalBlock block; }
    sigset_t pending, mask;
    sigpending(&pending);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    EXPECT_TRUE(PipeSignalIn(pending));
    EXPECT_TRUE(PipeSignalIn(mask));
    const timespec now{};
    sigtimedwait(&pipe, nullptr, &now);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace
}  // namespace vimbra::platform
