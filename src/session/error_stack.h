// The session's store of failure codes: 20 entries, newest first.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

namespace vimbra {

class ErrorStack {
  public:
    static constexpr int kDepth = 20;

    // Pushes a code as entry 0; when full, the oldest code is dropped.
    void Push(int32_t code);
    // Removes and returns entry 0; 0 when the stack is empty.
    int32_t Pop();
    // Copy of all entries, newest first (for inspection).
    std::array<int32_t, kDepth> Entries() const;

  private:
    // Worker threads push while host threads pop, so both are serialised.
    mutable std::mutex mutex_;
    std::array<int32_t, kDepth> entries_{};
};

}  // namespace vimbra
