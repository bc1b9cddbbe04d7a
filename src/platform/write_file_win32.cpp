// Files opened for writing on Windows: no write sharing, so a file another
// writer holds is refused by the system itself.
#include <windows.h>

#include "platform/write_file.h"

namespace vimbra::platform {
namespace {

// Kernel handles carry 32 significant bits and may be sign-extended back, so
// the file's handle is kept in the object's int field (-1 when closed).
HANDLE Handle(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

// Writes all of `size` bytes at the position `at` gives, or at the current
// position when `at` is null.
bool WriteAll(HANDLE h, const void* data, size_t size, OVERLAPPED* at) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint64_t offset = at ? (uint64_t{at->OffsetHigh} << 32) | at->Offset : 0;
    while (size > 0) {
        const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (at) {
            at->Offset = static_cast<DWORD>(offset);
            at->OffsetHigh = static_cast<DWORD>(offset >> 32);
        }
        if (!::WriteFile(h, p, chunk, &written, at) || written == 0) return false;
        p += written;
        size -= written;
        offset += written;
    }
    return true;
}

}  // namespace

bool WriteFile::Open(const char* path) {
    Close();
    if (path == nullptr || *path == '\0') return false;
    HANDLE h = ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    if (!::SetEndOfFile(h)) {
        ::CloseHandle(h);
        return false;
    }
    fd_ = static_cast<int>(reinterpret_cast<intptr_t>(h));
    return true;
}

bool WriteFile::Write(const void* data, size_t size) {
    if (fd_ < 0 || (size && !data)) return false;
    return WriteAll(Handle(fd_), data, size, nullptr);
}

bool WriteFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (fd_ < 0 || (size && !data)) return false;
    // A positioned write moves the file pointer on Windows: put it back.
    LARGE_INTEGER zero{}, here{};
    if (!::SetFilePointerEx(Handle(fd_), zero, &here, FILE_CURRENT)) return false;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const bool ok = WriteAll(Handle(fd_), data, size, &at);
    return ::SetFilePointerEx(Handle(fd_), here, nullptr, FILE_BEGIN) && ok;
}

bool WriteFile::Truncate(uint64_t size) {
    if (fd_ < 0) return false;
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(Handle(fd_), at, nullptr, FILE_BEGIN) && ::SetEndOfFile(Handle(fd_));
}

bool WriteFile::Close() {
    if (fd_ < 0) return true;
    const bool ok = ::CloseHandle(Handle(fd_)) != FALSE;
    fd_ = -1;
    return ok;
}

bool HeldByWriter(const char*) {
    // A held file is opened without write sharing, so the system itself
    // refuses every other open for writing.
    return false;
}

}  // namespace vimbra::platform
