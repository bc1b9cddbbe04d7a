// The camera table that the sessions of every process on the machine share:
// one 152-byte entry per camera slot in the named shared memory
// "NORVIX_USBCAMERA", through which a camera in use by one program is
// refused to another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/shared_memory.h"

namespace vimbra {

class CameraTable {
  public:
    static constexpr const char* kObjectName = "NORVIX_USBCAMERA";
    static constexpr size_t kObjectSize = 4980736;     // 0x4C0000
    static constexpr size_t kEntriesOffset = 1960192;  // 0x1DE900
    static constexpr size_t kEntrySize = 152;
    static constexpr int kSlots = 32;
    // The creator zeroes this much of the object.
    static constexpr size_t kClearedBytes = 32768;

    // Entry layout: owner window, owner module, a word that stays 0 while the
    // claim may be released, the owner name. The claimant's process identity
    // sits at the end of the name field, far past any name written there, so
    // that a claim whose process has died can be told from a live one.
    static constexpr size_t kOwnerWindowAt = 0;
    static constexpr size_t kOwnerModuleAt = 8;
    static constexpr size_t kReservedAt = 16;
    static constexpr size_t kOwnerNameAt = 24;
    static constexpr size_t kOwnerNameSize = 128;
    static constexpr size_t kOwnerPidAt = 136;
    static constexpr size_t kOwnerStartAt = 144;
    static constexpr const char* kOwnerName = "VimbraSdk_740QX_RDL.dll";

    // Maps the shared table, creating and clearing it when this is the first
    // user; false when it can be neither opened nor created.
    bool Open();
    bool IsOpen() const { return memory_ != nullptr; }

    // Writes this process's claim on `slot` with `owner` as owner window;
    // 1, or 0 when no view is mapped or the slot is outside 0..31.
    int Claim(int slot, HWND owner);
    // Clears the claim on `slot` when this process made it with `owner`;
    // 1, or 0 when no view is mapped or the slot is outside 0..31.
    int Release(int slot, HWND owner);
    // True when a running process holds `slot`. A claim whose process has
    // ended is cleared on the way and reads as free.
    bool IsClaimed(int slot);
    // Claims `slot` for `owner` unless a running process holds it; true
    // when this session holds it now (or no view is mapped). The sessions of
    // this process test and claim under one lock, so two starting on one
    // camera at once cannot both have it.
    bool TryClaim(int slot, HWND owner);

    // The shared object's name; tests give each run a name of its own.
    static void SetObjectNameForTesting(const std::string& name);
    static std::string ObjectName();

  private:
    uint8_t* Entry(int slot) const;

    std::unique_ptr<platform::SharedMemory> memory_;
};

}  // namespace vimbra
