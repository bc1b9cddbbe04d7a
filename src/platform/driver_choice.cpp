// The choice between the kernel driver's devices and the virtual camera.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/driver.h"
#include "platform/driver_native.h"

namespace vimbra::platform {
namespace {

std::atomic<VirtualBackendProvider> g_virtual_provider{nullptr};
std::atomic<DriverBackend*> g_override{nullptr};

// Says once per distinct value on standard error that VIMBRA_DRIVER was not
// taken as given, and what is used instead.
void ReportDriverChoice(std::string_view value, const std::string& used) {
    static std::mutex mutex;
    static std::string last;
    std::lock_guard<std::mutex> lock(mutex);
    if (last == value) return;
    last = value;
    std::fprintf(stderr, "vimbra: VIMBRA_DRIVER=\"%.*s\" %s; using %s\n",
                 static_cast<int>(value.size()), value.data(),
                 value == "sim" ? "but no virtual camera is built in" : "is not sim, dev or auto",
                 used.c_str());
}

// True when the kernel driver has a device for any camera number. The index
// characters of camera numbers 0..31 have N before M.
bool AnyNativeDeviceExists() {
    for (const char index : std::string_view("0123456789ABCDEFGHIJKLNMOPQRSTUV"))
        if (NativeDeviceExists(index)) return true;
    return false;
}

}  // namespace

void RegisterVirtualBackend(VirtualBackendProvider provider) {
    g_virtual_provider.store(provider, std::memory_order_release);
}

void SetDriverBackendOverride(DriverBackend* backend) {
    g_override.store(backend, std::memory_order_release);
}

DriverBackend* ActiveDriverBackend() {
    if (DriverBackend* forced = g_override.load(std::memory_order_acquire)) return forced;
    const char* choice = std::getenv("VIMBRA_DRIVER");
    const std::string_view mode = choice ? choice : "auto";
    VirtualBackendProvider provider = g_virtual_provider.load(std::memory_order_acquire);
    if (mode == "dev") return &DevNodeBackend();
    const bool known = mode == "sim" || mode == "auto";
    if (mode == "sim" || !AnyNativeDeviceExists()) {
        if (provider) {
            if (DriverBackend* virtual_backend = provider()) {
                if (!known) ReportDriverChoice(mode, "auto: the virtual camera");
                return virtual_backend;
            }
        }
        if (mode == "sim") ReportDriverChoice(mode, kNativeDevicesName);
    }
    if (!known) ReportDriverChoice(mode, std::string("auto: ") + kNativeDevicesName);
    return &DevNodeBackend();
}

}  // namespace vimbra::platform
