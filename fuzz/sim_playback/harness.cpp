// The virtual camera's raw-frame playback on arbitrary file contents and frame
// shapes: the first bytes give the file's frame shape and the camera's window
// and depth, the rest is the file, served for a few frames.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "device/protocol.h"
#include "platform/driver.h"
#include "sim/virtual_driver.h"

using vimbra::sim::VirtualDriver;

namespace {

constexpr size_t kShapeBytes = 6;

class Camera {
  public:
    explicit Camera(VirtualDriver& driver) {
        const std::string path = std::string("\\\\.\\") + vimbra::kDriverBaseName + "-0";
        file_ = driver.Open(path.c_str());
    }
    void Command(std::vector<uint8_t> bytes) {
        bytes.resize(vimbra::kCommandBlockSize);
        Pipe(vimbra::platform::kPipeCommand, bytes);
    }
    bool Pipe(uint32_t pipe, std::vector<uint8_t>& buffer) {
        const uint8_t in[4] = {static_cast<uint8_t>(pipe), 0, 0, 0};
        uint32_t moved = 0;
        return file_ && file_->Control(vimbra::platform::kIoctlDirectIn, in, 4, buffer.data(),
                                       static_cast<uint32_t>(buffer.size()), &moved);
    }

  private:
    std::unique_ptr<vimbra::platform::DriverFile> file_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kShapeBytes) return 0;
    const int width = 1 + data[0] % 64, height = 1 + data[1] % 64;
    const int bits = (data[2] & 1) ? 16 : 8;
    const bool depth16 = (data[2] & 2) != 0;
    const int skip = (data[2] >> 2) & 3;  // address mode bits: 0, 1 (1/2) or 3 (1/4)
    const int window_w = 2 + data[3] % 96, window_h = 1 + data[4] % 96;
    const int frames = 1 + data[5] % 4;

    // The file lives in memory; the camera opens it by its /proc name.
    const int fd = ::memfd_create("playback", 0);
    if (fd < 0) return 0;
    const uint8_t* content = data + kShapeBytes;
    size_t left = size - kShapeBytes;
    while (left > 0) {
        const ssize_t n = ::write(fd, content, left);
        if (n <= 0) break;
        content += n;
        left -= static_cast<size_t>(n);
    }
    VirtualDriver driver;
    driver.SetTiming(false);
    driver.Plug(0, vimbra::sim::CameraModel::kColor);
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    driver.LoadPlayback(0, width, height, bits, {name});
    ::close(fd);

    Camera camera(driver);
    const uint16_t mode = static_cast<uint16_t>(skip == 2 ? 3 : skip);
    camera.Command({vimbra::kCmdSensorWrite, vimbra::kRegRowAddressMode, 0, uint8_t(mode)});
    camera.Command({vimbra::kCmdSensorWrite, vimbra::kRegColumnAddressMode, 0, uint8_t(mode)});
    camera.Command({vimbra::kCmdSensorWrite, vimbra::kRegRowSize, 0, uint8_t(window_h - 1)});
    camera.Command({vimbra::kCmdSensorWrite, vimbra::kRegColumnSize, 0, uint8_t(window_w - 1)});
    const uint32_t count = static_cast<uint32_t>(window_w * window_h);
    camera.Command({vimbra::kCmdFrameSize, uint8_t(count), uint8_t(count >> 8), 0, 0});
    camera.Command({vimbra::kCmdControllerWrite, vimbra::kCtlDepth,
                    uint8_t(vimbra::kDepthBase | (depth16 ? vimbra::kDepth16 : 0))});
    // Requests a little shorter or longer than the frame, as a host might.
    std::vector<uint8_t> frame(std::max<int>(1, int(count) * (depth16 ? 2 : 1) + data[5] % 7 - 3));
    for (int i = 0; i < frames; ++i) {
        camera.Command({vimbra::kCmdStartFrame});
        camera.Pipe(vimbra::platform::kPipeFrame, frame);
    }
    return 0;
}
