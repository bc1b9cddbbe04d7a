// The library's own X connections when their server goes away: a write to
// the dead server fails quietly instead of ending the process with SIGPIPE.
#include "platform/x11_display.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>

#include "xvfb_server.h"

// Last: Xlib defines macros (None, Status, True) that other headers use as names.
#include <X11/Xlib.h>

namespace vimbra::platform {
namespace {

bool PipeSignalIn(const sigset_t& set) {
    return sigismember(&set, SIGPIPE) == 1;
}

sigset_t ThreadMask() {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return mask;
}

sigset_t Pending() {
    sigset_t pending;
    sigpending(&pending);
    return pending;
}

TEST(X11Connection, BrokenConnectionIsMarkedLostWithoutEndingTheProcess) {
    ASSERT_FALSE(PipeSignalIn(ThreadMask())) << "the test needs SIGPIPE's default action";
    testing::XvfbServer server;
    if (!server.ok()) GTEST_SKIP() << "Xvfb is not available";
    auto* display = static_cast<Display*>(OpenX11Connection(server.name()));
    ASSERT_NE(display, nullptr);
    ASSERT_EQ(SyncX11Connection(display), 0);

    // A server that goes away between Xlib's check of the socket and its
    // write leaves a socket that is writable by the check and broken to the
    // write: the next request meets EPIPE, with SIGPIPE.
    ASSERT_EQ(shutdown(ConnectionNumber(display), SHUT_WR), 0);
    SyncX11Connection(display);

    EXPECT_TRUE(X11ConnectionLost(display));
    EXPECT_FALSE(PipeSignalIn(Pending()));
    EXPECT_FALSE(PipeSignalIn(ThreadMask()));
    CloseX11Connection(display);
}

}  // namespace
}  // namespace vimbra::platform
