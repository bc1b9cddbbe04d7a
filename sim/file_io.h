// The few file calls the virtual camera makes on its input files, in one form
// for POSIX systems and Windows: a read-only open that never waits (a FIFO is
// refused rather than hung on) and a read at an offset that leaves the file
// position alone, so that threads may share the descriptor.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vimbra::sim {

#if defined(_WIN32)
// Windows opens files without waiting anyway; binary mode keeps the bytes as
// they are, and the descriptor is not inherited by child processes.
inline constexpr int kOpenReadOnly = O_RDONLY | O_BINARY | O_NOINHERIT;

inline ptrdiff_t ReadAtOffset(int fd, void* dst, size_t size, uint64_t offset) {
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) return -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    if (!::ReadFile(h, dst, want, &got, &at)) return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<ptrdiff_t>(got);
}
#else
inline constexpr int kOpenReadOnly = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

inline ptrdiff_t ReadAtOffset(int fd, void* dst, size_t size, uint64_t offset) {
    return ::pread(fd, dst, size, static_cast<off_t>(offset));
}
#endif

}  // namespace vimbra::sim
