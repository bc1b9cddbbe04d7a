// The configuration file loader on arbitrary file contents, through the
// export a host calls: the bytes are the file (kept in memory, opened by its
// /proc name), loaded into one session made for the whole run.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/clock.h"

namespace {

int32_t Session() {
    static const int32_t handle = [] {
        ::setenv("VIMBRA_DRIVER", "sim", 1);
        ::setenv("VIMBRA_REGISTRY_FILE", "/proc/vimbra-fuzz-no-settings/registry.reg", 1);
        vimbra::platform::SetSleepHook([](uint32_t) {});
        const int32_t h = Vimbra_Initialize(nullptr);
        // Registered after the library's first use, so it runs before the
        // library's own statics are destroyed.
        std::atexit([] { Vimbra_Release(Session()); });
        return h;
    }();
    return handle;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int32_t handle = Session();
    const int fd = ::memfd_create("config", 0);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    // A regular file of a few kilobytes always loads, whatever it holds.
    if (done == size && Vimbra_LoadConfigFileA(handle, path.c_str()) != 1) std::abort();
    ::close(fd);
    return 0;
}
