#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vimbra::platform {
namespace {

// POSIX object names start with one slash and hold no other.
std::string ObjectName(const char* name) {
    return std::string("/") + name;
}

// Opens the object, or creates it when missing; -1 on failure. Two processes
// may race to create it: the loser of O_EXCL opens the winner's object.
int OpenObject(const std::string& name, bool* created) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
        if (fd >= 0) {
            *created = false;
            return fd;
        }
        if (errno != ENOENT) return -1;
        fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Every user's programs share the table, whatever the umask says.
            ::fchmod(fd, 0666);
            *created = true;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

}  // namespace

std::unique_ptr<SharedMemory> SharedMemory::OpenOrCreate(const char* name, size_t size,
                                                         bool* created) {
    bool made = false;
    if (created) *created = false;
    if (name == nullptr || size == 0) return nullptr;
    const int fd = OpenObject(ObjectName(name), &made);
    if (fd < 0) return nullptr;
    // A creator may not have sized the object yet; extending it is harmless
    // when it has, and touching pages past its end would fault.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || (static_cast<size_t>(st.st_size) < size &&
                                  ::ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        ::close(fd);
        return nullptr;
    }
    void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    if (created) *created = made;
    return std::unique_ptr<SharedMemory>(new SharedMemory(fd, static_cast<uint8_t*>(view), size));
}

bool SharedMemory::Remove(const char* name) {
    return name != nullptr && ::shm_unlink(ObjectName(name).c_str()) == 0;
}

SharedMemory::~SharedMemory() {
    ::munmap(data_, size_);
    ::close(fd_);
}

}  // namespace vimbra::platform
