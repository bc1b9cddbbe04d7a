#include "session/error_stack.h"

#include <algorithm>

namespace vimbra {

void ErrorStack::Push(int32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::copy_backward(entries_.begin(), entries_.end() - 1, entries_.end());
    entries_[0] = code;
}

int32_t ErrorStack::Pop() {
    std::lock_guard<std::mutex> lock(mutex_);
    const int32_t result = entries_[0];
    std::copy(entries_.begin() + 1, entries_.end(), entries_.begin());
    entries_[kDepth - 1] = 0;
    return result;
}

std::array<int32_t, ErrorStack::kDepth> ErrorStack::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

}  // namespace vimbra
