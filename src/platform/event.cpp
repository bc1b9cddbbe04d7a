#include "platform/event.h"

#include <chrono>

namespace vimbra::platform {

Event::Event(Mode mode, bool initially_set) : mode_(mode), signalled_(initially_set) {}

Event::~Event() = default;

void Event::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    if (mode_ == Mode::kManualReset)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool Event::Wait(uint32_t timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return signalled_; };
    if (timeout_ms == kInfinite) {
        cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
        return false;
    }
    if (mode_ == Mode::kAutoReset) signalled_ = false;
    return true;
}

}  // namespace vimbra::platform
