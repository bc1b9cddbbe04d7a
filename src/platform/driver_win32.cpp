// Access to the camera's kernel driver on Windows: device paths opened with
// CreateFileA and driven with DeviceIoControl, or the virtual camera when no
// device of the driver exists.
#include <windows.h>

#include <cstdio>
#include <string_view>

#include "platform/driver.h"
#include "platform/driver_native.h"

namespace vimbra::platform {
namespace {

constexpr std::string_view kWin32DevicePrefix = "\\\\.\\";

class DeviceFile final : public DriverFile {
  public:
    explicit DeviceFile(HANDLE h) : handle_(h) {}
    ~DeviceFile() override { ::CloseHandle(handle_); }

    bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                 uint32_t* transferred) override {
        DWORD returned = 0;
        const BOOL ok = ::DeviceIoControl(handle_, code, const_cast<void*>(in), in ? in_size : 0,
                                          out, out ? out_size : 0, &returned, nullptr);
        if (transferred) *transferred = ok ? returned : 0;
        return ok != FALSE;
    }

  private:
    HANDLE handle_;
};

HANDLE OpenDevice(const char* path, DWORD access) {
    return ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

class DeviceBackendImpl final : public DriverBackend {
  public:
    std::unique_ptr<DriverFile> Open(const char* path) override {
        if (path == nullptr ||
            std::string_view(path).substr(0, kWin32DevicePrefix.size()) != kWin32DevicePrefix)
            return nullptr;
        HANDLE h = OpenDevice(path, GENERIC_READ | GENERIC_WRITE);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<DeviceFile>(h);
    }
};

}  // namespace

const char* const kNativeDevicesName = "the driver's devices";

// A query-only open does not disturb a camera another process streams from.
bool NativeDeviceExists(char index) {
    char path[64];
    std::snprintf(path, sizeof path, "\\\\.\\VmbrQX740RDL-%c", index);
    HANDLE h = OpenDevice(path, 0);
    if (h == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(h);
    return true;
}

void DevNodePath(const char* device_path, char* out, size_t out_size) {
    // Windows opens the device path itself; there is no /dev node.
    if (out_size != 0) out[0] = '\0';
    (void)device_path;
}

DriverBackend& DevNodeBackend() {
    static DeviceBackendImpl backend;
    return backend;
}

void RaiseCurrentThreadPriority() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
}

}  // namespace vimbra::platform
