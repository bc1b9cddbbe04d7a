// Access to the camera's kernel driver: open a device path, send device I/O
// control requests, close. The requests travel through a back end chosen at
// run time: a /dev node driven with open(2)/ioctl(2), or the virtual camera,
// which registers itself here so that this layer does not depend on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vimbra::platform {

// Device I/O control codes of the driver (device type 0x22, any access).
inline constexpr uint32_t kIoctlDirectOut = 0x0022204E;     // function 0x813, out-direct
inline constexpr uint32_t kIoctlDirectIn = 0x00222051;      // function 0x814, in-direct
inline constexpr uint32_t kIoctlLargeIn = 0x002220A9;       // function 0x82A, in-direct
inline constexpr uint32_t kIoctlTransferWait = 0x002220A0;  // function 0x828, buffered

// The 4-byte input of a pipe request is the pipe number.
inline constexpr uint32_t kPipeCommand = 0;
inline constexpr uint32_t kPipeReply = 1;
inline constexpr uint32_t kPipeFrame = 2;

// Layout of the transfer wait block (little-endian int32 fields).
inline constexpr size_t kTransferWaitBlockSize = 44;
inline constexpr size_t kTransferWaitMsOffset = 4;

// Frames of this many bytes or more go out with kIoctlLargeIn.
inline constexpr uint32_t kLargeTransferBytes = 3072000;

// One open device file. Destroying it closes it.
class DriverFile {
  public:
    virtual ~DriverFile() = default;
    // Sends one control request. `transferred` receives the byte count the
    // driver reports (0 when it reports none). False when the request fails.
    virtual bool Control(uint32_t code, const void* in, uint32_t in_size, void* out,
                         uint32_t out_size, uint32_t* transferred) = 0;
};

// A way of reaching the driver.
class DriverBackend {
  public:
    virtual ~DriverBackend() = default;
    // Opens a device path such as "\\.\VmbrQX740RDL-5"; nullptr when it
    // cannot be opened.
    virtual std::unique_ptr<DriverFile> Open(const char* path) = 0;
};

// The back end that drives /dev nodes. "\\.\NAME" maps to "/dev/NAME"; each
// request is ioctl(fd, code, DevNodeRequest*).
struct DevNodeRequest {
    uint64_t in;  // user address of the input buffer
    uint32_t in_size;
    uint32_t out_size;
    uint64_t out;          // user address of the output buffer
    uint32_t transferred;  // filled by the driver
    uint32_t reserved;
};
DriverBackend& DevNodeBackend();
// The /dev path a device path maps to ("" when it has no "\\.\" prefix).
void DevNodePath(const char* device_path, char* out, size_t out_size);

// The virtual camera installs a function returning its process-wide back end.
using VirtualBackendProvider = DriverBackend* (*)();
void RegisterVirtualBackend(VirtualBackendProvider provider);

// Forces one back end for the whole process (nullptr returns to the run-time
// choice). The back end must outlive its use.
void SetDriverBackendOverride(DriverBackend* backend);

// The back end new device objects use. VIMBRA_DRIVER picks it: "dev" for the
// /dev nodes, "sim" for the virtual camera, "auto" or unset for the /dev nodes
// when any /dev/VmbrQX740RDL-<c> exists and the virtual camera otherwise.
// Never null: without a registered virtual camera it falls back to the /dev
// back end, whose opens then fail. Another value is taken as "auto"; that, and
// "sim" without a virtual camera, is said once on standard error.
DriverBackend* ActiveDriverBackend();

// Raises the calling thread's scheduling priority a little above its peers
// (THREAD_PRIORITY_HIGHEST); silently keeps it where the system refuses.
void RaiseCurrentThreadPriority();

}  // namespace vimbra::platform
