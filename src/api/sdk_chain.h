// CSdkChain: the process-wide registry from instance handles to sessions.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "api/ring.h"
#include "session/vimbra.h"

namespace vimbra {

// Holds one session. Calls into the session hold the gate shared, and
// release holds it exclusively, so a session is never destroyed while
// another thread is inside one of its operations.
struct SessionGate {
    std::shared_mutex mutex;
    std::unique_ptr<CVimbra> session;
};

// The gates the calling thread is inside, innermost first. A host may call
// the library again from inside a call: a window procedure run by a dialog's
// message loop, or by a wait that answers sent messages. That call must
// neither take the gate a second time (it would queue behind a waiting
// release) nor wait for the thread itself to leave.
class GateHold {
  public:
    explicit GateHold(const SessionGate* gate) : gate_(gate), outer_(innermost_) {
        innermost_ = this;
    }
    ~GateHold() { innermost_ = outer_; }
    GateHold(const GateHold&) = delete;
    GateHold& operator=(const GateHold&) = delete;

    static bool Inside(const SessionGate* gate) {
        for (const GateHold* h = innermost_; h != nullptr; h = h->outer_) {
            if (h->gate_ == gate) return true;
        }
        return false;
    }

  private:
    const SessionGate* const gate_;
    const GateHold* const outer_;
    static inline thread_local const GateHold* innermost_ = nullptr;
};

struct CSDKDATA {
    int32_t handle;
    std::shared_ptr<SessionGate> gate;
};

class CSdkChain : public CTRing<CSDKDATA> {
  public:
    using TickSource = uint32_t (*)();
    using RandSource = int (*)();

    // The sources of the handle formula; tests replace them.
    explicit CSdkChain(TickSource tick = nullptr, RandSource rnd = nullptr);
    // Frees the records; sessions the host never released are left alone.
    ~CSdkChain() override;

    // Constructs a session and registers it under a new handle; 0 on failure.
    int32_t CreateInstance();
    // The session's gate of a registered handle, or null. Moves head.
    std::shared_ptr<SessionGate> Lookup(int32_t handle);
    // Finds the handle and unlinks its record; 1 or 0.
    int32_t ReleaseInstance(int32_t handle);
    // Destroys the session of a handle (after every call in progress on it has
    // returned) and removes its record; 1, or 0 for an unregistered handle and
    // for a thread that is itself inside a call on the session (it would wait
    // for itself; the session stays for a release after that call).
    int32_t Release(int32_t handle);

    // Runs `op` on the session of `handle` while holding its gate; returns
    // `no_instance` for an unregistered handle or a released session. A call
    // made from inside another on the same session and thread runs under the
    // gate the outer call holds.
    template <class Op>
    int32_t Call(int32_t handle, int32_t no_instance, Op&& op) {
        std::shared_ptr<SessionGate> gate = Lookup(handle);
        if (!gate) return no_instance;
        std::shared_lock<std::shared_mutex> hold(gate->mutex, std::defer_lock);
        if (!GateHold::Inside(gate.get())) hold.lock();
        if (!gate->session) return no_instance;
        GateHold inside(gate.get());
        return op(*gate->session);
    }

    int32_t HeadHandle();

  private:
    TickSource tick_;
    RandSource rand_;
    // Guards every walk and every change of the ring.
    std::mutex lock_;
};

// The registry of this process; null once it has been destroyed at exit.
CSdkChain* Chain();

}  // namespace vimbra
