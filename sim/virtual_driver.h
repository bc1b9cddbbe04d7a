// The virtual driver: a driver back end serving the device paths of up to 32
// virtual cameras, and the control interface that tests and the demo use to
// plug cameras, fire triggers, inject faults, replay raw files and read the
// requests the device layer sent.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/driver.h"
#include "sim/virtual_camera.h"

namespace vimbra::sim {

// One request as the driver received it.
struct LoggedRequest {
    enum class Kind { kOpen, kClose, kControl };
    Kind kind = Kind::kControl;
    int slot = -1;
    uint32_t code = 0;
    uint32_t pipe = 0;  // pipe number of a pipe request
    uint32_t size = 0;  // output buffer size (input size for the wait block)
    uint32_t transferred = 0;
    bool ok = false;
    // Bytes that went to the device: the command block on pipe 0, the wait block.
    std::array<uint8_t, 64> data{};
    uint32_t data_size = 0;
};

class VirtualDriver final : public platform::DriverBackend {
  public:
    static constexpr int kSlots = 32;
    static constexpr size_t kMaxLogEntries = 1 << 20;

    VirtualDriver();
    ~VirtualDriver() override;

    std::unique_ptr<platform::DriverFile> Open(const char* path) override;

    // Applies a configuration (see README.md): camera list, timing, still
    // scene, playback, trigger interval. Text form of the environment. False,
    // with the reason in `error`, when the value is refused; nothing changes then.
    bool Configure(const std::string& key, const std::string& value, std::string* error = nullptr);
    // The current value of a setting as the configuration would write it
    // ("" for an unknown key).
    std::string Setting(const std::string& key) const;
    // What stays when a value for `key` is refused, in words.
    std::string Kept(const std::string& key) const;
    // Applies key=value lines (`#` starts a comment line). Each line refused
    // is described in `problems`, named after `origin` and its line number.
    void ConfigureFromText(std::string_view text, const std::string& origin,
                           std::vector<std::string>* problems);
    // Reads VIMBRA_SIM_CONFIG (a file of key=value lines), then the
    // VIMBRA_SIM_* variables; what is refused is said on standard error with
    // the setting kept instead.
    void ConfigureFromEnvironment();

    // ---- control interface ----
    void Plug(int slot, CameraModel model);
    void Unplug(int slot);
    void UnplugAll();
    std::shared_ptr<VirtualCamera> Camera(int slot) const;
    void SetTiming(bool on);  // applies to present and future cameras
    void SetStill(bool still);
    void FireTrigger(int slot);
    void SetAutoTrigger(uint32_t interval_ms);
    // Fails the next `count` requests on `pipe` (-1: any pipe) of a camera.
    void FailNextTransfers(int slot, int count, int pipe = platform::kPipeFrame);
    // The next `count` frames move half their bytes.
    void ShortNextTransfers(int slot, int count = 1);
    // The next frame is held back `ms` (bounded by the transfer wait).
    void StallNextFrame(int slot, uint32_t ms);
    // The next `count` opens of a slot fail (-1: until cleared with 0).
    void RefuseOpens(int slot, int count);
    // Raw frames of width x height samples, 8 or 16 bits; false, with the
    // reason in `error`, when a file cannot be read or holds no whole frame.
    bool LoadPlayback(int slot, int width, int height, int bits,
                      const std::vector<std::string>& files, std::string* error = nullptr);
    void SetPlayback(int slot, Playback playback);

    void SetLogging(bool on);
    std::vector<LoggedRequest> Log() const;
    void ClearLog();
    // The command blocks a slot received on pipe 0, in order.
    std::vector<std::array<uint8_t, 64>> Commands(int slot) const;
    int OpenHandles(int slot) const;

    // Internal: called by the open files.
    void Record(const LoggedRequest& request);
    void HandleClosed(int slot);

    // Index of a device path's camera number ("\\.\VmbrQX740RDL-N" gives 22); -1.
    static int SlotOfPath(const char* path);

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<VirtualCamera> cameras_[kSlots];
    int refuse_opens_[kSlots] = {};
    int open_handles_[kSlots] = {};
    bool timing_ = true;
    bool still_ = false;
    uint32_t auto_trigger_ms_ = 0;
    bool logging_ = false;
    std::vector<LoggedRequest> log_;
};

// The process-wide virtual driver, configured from the environment on first use.
VirtualDriver& DefaultVirtualDriver();
// Registers DefaultVirtualDriver() as the platform's virtual back end.
void InstallVirtualDriver();

}  // namespace vimbra::sim
