#include "platform/write_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/pipe_signal.h"

namespace vimbra::platform {

namespace {

// Takes the writer's exclusive hold and empties a regular file. The file is
// truncated only after the hold is taken, so a refused open never destroys
// what another writer is writing. Devices (e.g. /dev/null) are not truncated.
bool HoldAndTruncate(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    return !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) == 0;
}

}  // namespace

bool WriteFile::Open(const char* path) {
    Close();
    if (path == nullptr || path[0] == '\0') return false;
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (!HoldAndTruncate(fd)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool HeldByWriter(const char* path) {
    if (path == nullptr || path[0] == '\0') return false;
    // Read-only and non-blocking: nothing is created, changed or waited for.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

bool WriteFile::Write(const void* data, size_t size) {
    if (fd_ < 0) return false;
    PipeSignalBlock no_sigpipe;  // a pipe whose reader left fails the write
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    if (fd_ < 0) return false;
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        offset += static_cast<uint64_t>(n);
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteFile::Truncate(uint64_t size) {
    if (fd_ < 0) return false;
    const auto at = static_cast<off_t>(size);
    return ::ftruncate(fd_, at) == 0 && ::lseek(fd_, at, SEEK_SET) == at;
}

bool WriteFile::Close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
}

}  // namespace vimbra::platform
