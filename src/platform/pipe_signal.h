// Writes into a pipe or socket whose reader has gone (an X server that died,
// a named pipe whose consumer ended) raise SIGPIPE, whose default action ends
// the process. The library's writers hold a PipeSignalBlock meanwhile: the
// write fails with EPIPE instead and is reported as an error. Windows has no
// such signal; there the block does nothing.
#pragma once

#ifdef _WIN32

namespace vimbra::platform {

class PipeSignalBlock {
  public:
    PipeSignalBlock() {}  // user-provided: a held block is not an unused variable
    PipeSignalBlock(const PipeSignalBlock&) = delete;
    PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;
};

}  // namespace vimbra::platform

#else

#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace vimbra::platform {

// Blocks SIGPIPE in the calling thread while alive; a SIGPIPE raised
// meanwhile is taken before the thread's mask is restored. One the thread
// had pending before is left to it.
class PipeSignalBlock {
  public:
    PipeSignalBlock() {
        const sigset_t pipe = PipeSignal();
        pthread_sigmask(SIG_BLOCK, &pipe, &previous_mask_);
        was_pending_ = Pending();
    }
    ~PipeSignalBlock() {
        const sigset_t pipe = PipeSignal();
        if (!was_pending_ && Pending()) {
            const timespec now{};
            sigtimedwait(&pipe, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
    }
    PipeSignalBlock(const PipeSignalBlock&) = delete;
    PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;

  private:
    static sigset_t PipeSignal() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        return set;
    }
    static bool Pending() {
        sigset_t pending;
        sigpending(&pending);
        return sigismember(&pending, SIGPIPE) == 1;
    }

    sigset_t previous_mask_;
    bool was_pending_ = false;
};

}  // namespace vimbra::platform

#endif
