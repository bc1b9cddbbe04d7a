#include "session/camera_table.h"

#include <cstring>
#include <mutex>

#include "platform/process.h"

namespace vimbra {
namespace {

std::mutex g_name_mutex;
std::string& NameOverride() {
    static std::string name;
    return name;
}

uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void Store64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, sizeof v);
}

uint64_t WindowWord(HWND window) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
}

using Table = CameraTable;

// Serialises this process's reads and writes of the table.
std::mutex g_table_mutex;

void ClaimEntry(uint8_t* e, HWND owner) {
    const platform::ProcessIdentity self = platform::CurrentProcess();
    Store64(e + Table::kOwnerWindowAt, WindowWord(owner));
    Store64(e + Table::kOwnerModuleAt, platform::MainModuleHandle());
    Store64(e + Table::kReservedAt, 0);
    std::memset(e + Table::kOwnerNameAt, 0, Table::kOwnerNameSize);
    std::memcpy(e + Table::kOwnerNameAt, Table::kOwnerName, std::strlen(Table::kOwnerName));
    Store64(e + Table::kOwnerPidAt, static_cast<uint64_t>(self.pid));
    Store64(e + Table::kOwnerStartAt, self.start_time);
}

bool EntryClaimed(uint8_t* e) {
    // A host without a notification window claims with window 0; the name
    // still marks the claim.
    if (Load64(e + Table::kOwnerWindowAt) == 0 && e[Table::kOwnerNameAt] == 0) return false;
    platform::ProcessIdentity owner;
    owner.pid = static_cast<int64_t>(Load64(e + Table::kOwnerPidAt));
    owner.start_time = Load64(e + Table::kOwnerStartAt);
    // A claim without a process identity cannot be checked and stands.
    if (owner.pid == 0 || platform::ProcessIsAlive(owner)) return true;
    std::memset(e, 0, Table::kEntrySize);
    return false;
}

}  // namespace

void CameraTable::SetObjectNameForTesting(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_name_mutex);
    NameOverride() = name;
}

std::string CameraTable::ObjectName() {
    std::lock_guard<std::mutex> lock(g_name_mutex);
    return NameOverride().empty() ? std::string(kObjectName) : NameOverride();
}

bool CameraTable::Open() {
    bool created = false;
    memory_ = platform::SharedMemory::OpenOrCreate(ObjectName().c_str(), kObjectSize, &created);
    if (memory_ && created) std::memset(memory_->data(), 0, kClearedBytes);
    return IsOpen();
}

uint8_t* CameraTable::Entry(int slot) const {
    if (!memory_ || slot < 0 || slot >= kSlots) return nullptr;
    return memory_->data() + kEntriesOffset + kEntrySize * static_cast<size_t>(slot);
}

int CameraTable::Claim(int slot, HWND owner) {
    uint8_t* e = Entry(slot);
    if (e == nullptr) return 0;
    std::lock_guard<std::mutex> lock(g_table_mutex);
    ClaimEntry(e, owner);
    return 1;
}

bool CameraTable::TryClaim(int slot, HWND owner) {
    uint8_t* e = Entry(slot);
    if (e == nullptr) return true;
    std::lock_guard<std::mutex> lock(g_table_mutex);
    if (EntryClaimed(e)) return false;
    ClaimEntry(e, owner);
    return true;
}

int CameraTable::Release(int slot, HWND owner) {
    uint8_t* e = Entry(slot);
    if (e == nullptr) return 0;
    std::lock_guard<std::mutex> lock(g_table_mutex);
    const platform::ProcessIdentity self = platform::CurrentProcess();
    // Window handles are only unique within a process, so the process must
    // match as well before a claim counts as this session's.
    if (Load64(e + kOwnerWindowAt) == WindowWord(owner) &&
        Load64(e + kOwnerModuleAt) == platform::MainModuleHandle() &&
        Load64(e + kReservedAt) == 0 && static_cast<int64_t>(Load64(e + kOwnerPidAt)) == self.pid) {
        Store64(e + kOwnerWindowAt, 0);
        Store64(e + kOwnerModuleAt, 0);
        Store64(e + kReservedAt, 0);
        std::memset(e + kOwnerNameAt, 0, kOwnerNameSize);
    }
    return 1;
}

bool CameraTable::IsClaimed(int slot) {
    uint8_t* e = Entry(slot);
    if (e == nullptr) return false;
    std::lock_guard<std::mutex> lock(g_table_mutex);
    return EntryClaimed(e);
}

}  // namespace vimbra
