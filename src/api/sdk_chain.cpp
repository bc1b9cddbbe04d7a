#include "api/sdk_chain.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/clock.h"

namespace vimbra {
namespace {

int LibcRand() {
    return std::rand();
}

}  // namespace

CSdkChain::CSdkChain(TickSource tick, RandSource rnd)
    : tick_(tick ? tick : platform::TickCount), rand_(rnd ? rnd : LibcRand) {}

CSdkChain::~CSdkChain() {
    std::lock_guard<std::mutex> lock(lock_);
    while (Node* head = Head()) {
        if (head->data.gate) (void)head->data.gate->session.release();
        RemoveHead();
    }
}

int32_t CSdkChain::CreateInstance() {
    std::unique_ptr<CVimbra> session(new (std::nothrow) CVimbra);
    auto gate = std::make_shared<SessionGate>();
    if (!session) return 0;
    gate->session = std::move(session);

    std::lock_guard<std::mutex> lock(lock_);
    uint32_t handle = 0;
    // A handle of 0 would read as failure to the host, so such a draw is
    // repeated.
    while (handle == 0) {
        handle = tick_() + static_cast<uint32_t>(rand_()) + static_cast<uint32_t>(Count());
    }
    Add(CSDKDATA{static_cast<int32_t>(handle), std::move(gate)});
    return static_cast<int32_t>(handle);
}

std::shared_ptr<SessionGate> CSdkChain::Lookup(int32_t handle) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!Find(handle)) return nullptr;
    return Head()->data.gate;
}

int32_t CSdkChain::ReleaseInstance(int32_t handle) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!Find(handle)) return 0;
    return RemoveHead();
}

int32_t CSdkChain::Release(int32_t handle) {
    std::shared_ptr<SessionGate> gate;
    {
        // Unlink first so that no new call can reach the session.
        std::lock_guard<std::mutex> lock(lock_);
        if (!Find(handle)) return 0;
        gate = Head()->data.gate;
        if (GateHold::Inside(gate.get())) return 0;
        RemoveHead();
    }
    std::unique_ptr<CVimbra> session;
    {
        std::unique_lock<std::shared_mutex> hold(gate->mutex);
        session = std::move(gate->session);
    }
    session.reset();  // teardown runs here, outside the gate
    return 1;
}

int32_t CSdkChain::HeadHandle() {
    std::lock_guard<std::mutex> lock(lock_);
    return Head() ? Head()->data.handle : 0;
}

namespace {

// Set when the process's registry is destroyed at exit. It has no destructor
// of its own, so an export called later (from a host's exit handler) still
// reads it and finds no session instead of a destroyed registry.
constinit std::atomic<bool> g_chain_destroyed{false};

class ProcessChain final : public CSdkChain {
  public:
    ~ProcessChain() override { g_chain_destroyed.store(true); }
};

}  // namespace

CSdkChain* Chain() {
    if (g_chain_destroyed.load()) return nullptr;
    static ProcessChain chain;
    return &chain;
}

}  // namespace vimbra
