#include "platform/driver.h"
#include "platform/driver_native.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace vimbra::platform {
namespace {

constexpr std::string_view kWin32DevicePrefix = "\\\\.\\";

class DevNodeFile final : public DriverFile {
  public:
    explicit DevNodeFile(int fd) : fd_(fd) {}
    ~DevNodeFile() override { ::close(fd_); }

    bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                 uint32_t* transferred) override {
        DevNodeRequest request{};
        request.in = reinterpret_cast<uintptr_t>(in);
        request.in_size = in ? in_size : 0;
        request.out = reinterpret_cast<uintptr_t>(out);
        request.out_size = out ? out_size : 0;
        int rc;
        do {
            rc = ::ioctl(fd_, static_cast<unsigned long>(code), &request);
        } while (rc < 0 && errno == EINTR);
        if (transferred) *transferred = rc < 0 ? 0 : request.transferred;
        return rc >= 0;
    }

  private:
    int fd_;
};

class DevNodeBackendImpl final : public DriverBackend {
  public:
    std::unique_ptr<DriverFile> Open(const char* path) override {
        char node[256];
        DevNodePath(path, node, sizeof node);
        if (node[0] == '\0') return nullptr;
        int fd;
        do {
            fd = ::open(node, O_RDWR | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) return nullptr;
        return std::make_unique<DevNodeFile>(fd);
    }
};

}  // namespace

const char* const kNativeDevicesName = "the /dev nodes";

bool NativeDeviceExists(char index) {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/VmbrQX740RDL-%c", index);
    struct stat st;
    return ::stat(node, &st) == 0;
}

void DevNodePath(const char* device_path, char* out, size_t out_size) {
    if (out_size == 0) return;
    out[0] = '\0';
    if (!device_path) return;
    std::string_view path(device_path);
    if (path.substr(0, kWin32DevicePrefix.size()) != kWin32DevicePrefix) return;
    path.remove_prefix(kWin32DevicePrefix.size());
    if (path.empty() || path.find('/') != std::string_view::npos) return;
    const int n =
        std::snprintf(out, out_size, "/dev/%.*s", static_cast<int>(path.size()), path.data());
    if (n < 0 || static_cast<size_t>(n) >= out_size) out[0] = '\0';
}

DriverBackend& DevNodeBackend() {
    static DevNodeBackendImpl backend;
    return backend;
}

void RaiseCurrentThreadPriority() {
    // Two steps above the process's niceness, like THREAD_PRIORITY_HIGHEST.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0) return;
    (void)::setpriority(PRIO_PROCESS, tid, current - 2);
}

}  // namespace vimbra::platform
