// The virtual camera's configuration text (the VIMBRA_SIM_CONFIG file and
// variables) on arbitrary bytes, then one frame from each configured camera so
// that what was accepted is used.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/protocol.h"
#include "platform/driver.h"
#include "sim/virtual_driver.h"

using vimbra::sim::VirtualDriver;

namespace {

// A small window keeps each frame cheap whatever the playback asked for.
void ReadOneFrame(VirtualDriver& driver, int slot) {
    const std::string path =
        std::string("\\\\.\\") + vimbra::kDriverBaseName + "-" + vimbra::kDeviceIndexAlphabet[slot];
    auto file = driver.Open(path.c_str());
    if (!file) return;
    auto command = [&](std::vector<uint8_t> bytes) {
        bytes.resize(vimbra::kCommandBlockSize);
        uint8_t pipe[4] = {vimbra::platform::kPipeCommand, 0, 0, 0};
        uint32_t moved = 0;
        file->Control(vimbra::platform::kIoctlDirectIn, pipe, 4, bytes.data(),
                      static_cast<uint32_t>(bytes.size()), &moved);
    };
    command({vimbra::kCmdSensorWrite, vimbra::kRegRowSize, 0, 15});
    command({vimbra::kCmdSensorWrite, vimbra::kRegColumnSize, 0, 31});
    command({vimbra::kCmdFrameSize, 0, 4, 0, 0});
    command({vimbra::kCmdStartFrame});
    std::vector<uint8_t> frame(1024);
    uint8_t pipe[4] = {vimbra::platform::kPipeFrame, 0, 0, 0};
    uint32_t moved = 0;
    file->Control(vimbra::platform::kIoctlDirectIn, pipe, 4, frame.data(),
                  static_cast<uint32_t>(frame.size()), &moved);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VirtualDriver driver;
    driver.SetTiming(false);
    driver.Plug(0, vimbra::sim::CameraModel::kColor);
    std::vector<std::string> problems;
    driver.ConfigureFromText(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz",
                             &problems);
    driver.SetTiming(false);  // frames at once, whatever the text asked
    for (int slot = 0; slot < VirtualDriver::kSlots; ++slot)
        if (driver.Camera(slot)) ReadOneFrame(driver, slot);
    return 0;
}
