// Named memory shared by every process on Windows: a named file mapping
// backed by the paging file.
#include <windows.h>

#include "platform/shared_memory.h"

namespace vimbra::platform {
namespace {

// Kernel handles carry 32 significant bits and may be sign-extended back, so
// the mapping's handle is kept in the object's int field.
int HandleToInt(HANDLE h) {
    return static_cast<int>(reinterpret_cast<intptr_t>(h));
}

HANDLE IntToHandle(int v) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(v));
}

}  // namespace

std::unique_ptr<SharedMemory> SharedMemory::OpenOrCreate(const char* name, size_t size,
                                                         bool* created) {
    if (created) *created = false;
    if (name == nullptr || size == 0) return nullptr;
    const uint64_t size64 = size;
    HANDLE mapping =
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                             static_cast<DWORD>(size64 >> 32), static_cast<DWORD>(size64), name);
    if (mapping == nullptr) return nullptr;
    const bool made = ::GetLastError() != ERROR_ALREADY_EXISTS;
    void* view = ::MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
    // A mapping another process created smaller cannot grow: refuse it rather
    // than hand out a view that reaches past its end.
    MEMORY_BASIC_INFORMATION info{};
    if (view != nullptr &&
        (::VirtualQuery(view, &info, sizeof info) == 0 || info.RegionSize < size)) {
        ::UnmapViewOfFile(view);
        view = nullptr;
    }
    if (view == nullptr) {
        ::CloseHandle(mapping);
        return nullptr;
    }
    if (created) *created = made;
    return std::unique_ptr<SharedMemory>(
        new SharedMemory(HandleToInt(mapping), static_cast<uint8_t*>(view), size));
}

bool SharedMemory::Remove(const char*) {
    // A named mapping has no name of its own to remove: it goes with its last handle.
    return false;
}

SharedMemory::~SharedMemory() {
    ::UnmapViewOfFile(data_);
    ::CloseHandle(IntToHandle(fd_));
}

}  // namespace vimbra::platform
