// One virtual camera behind the virtual driver: the sensor's register file,
// the controller's registers, the serial memory, the command and reply pipes,
// and frames shaped by those registers with sensor-like timing and triggers.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/protocol.h"
#include "sim/playback_file.h"
#include "sim/scene.h"

namespace vimbra::sim {

enum class CameraModel { kColor, kMono740, kMono2250 };

// Frames replayed instead of the synthetic scene: those held in memory, then
// those of the files, in order.
struct Playback {
    int width = 0;
    int height = 0;
    int bits = 8;                              // 8: one byte per sample; 16: little-endian words
    std::vector<std::vector<uint8_t>> frames;  // packed rows of width samples
    std::vector<std::shared_ptr<const PlaybackFile>> files;

    uint64_t FrameCount() const;
};

class VirtualCamera {
  public:
    using Clock = std::chrono::steady_clock;
    VirtualCamera(CameraModel model, int slot);

    CameraModel model() const { return model_; }

    // Pipe traffic. Each returns false when the request fails; `transferred`
    // receives the bytes moved.
    bool Command(const uint8_t* data, uint32_t size, uint32_t* transferred);
    bool Reply(uint8_t* out, uint32_t size, uint32_t* transferred);
    bool Frame(uint8_t* out, uint32_t size, uint32_t* transferred);
    void SetTransferWait(int32_t ms);

    // Control of the test and demo hooks.
    void SetTiming(bool on);
    void SetStill(bool still);
    void SetPlayback(Playback playback);
    void SetAutoTrigger(uint32_t interval_ms);
    void FireTrigger();
    void FailNext(int pipe, int count);  // pipe -1: any pipe
    void ShortNext(int count);           // frame pipe
    void StallNext(uint32_t ms);         // frame pipe
    // Benchmark and test hook on the frame pipe, called on the transfer's
    // thread outside the camera's locks: with kBegin when a frame request
    // arrives (it may block there to pace the camera; it must return before
    // the stream can stop), with kDone and the bytes written once a frame is
    // complete.
    enum class FrameEvent { kBegin, kDone };
    using FrameHook = std::function<void(FrameEvent, const uint8_t* bytes, uint32_t size)>;
    void SetFrameHook(FrameHook hook);  // an empty hook removes it
    void Unplug();
    bool unplugged() const;

    // Read-only views for tests.
    uint16_t SensorRegister(int reg) const;
    uint8_t ControllerRegister(int reg) const;
    uint8_t Srom(uint32_t address) const;
    void SetSrom(uint32_t address, uint8_t value);
    uint64_t FramesServed() const;
    // The time between frames that timing mode keeps, from the current registers.
    double FramePeriodMs() const;
    bool Depth16() const;
    int32_t TransferWaitMs() const;

  private:
    struct Snapshot {
        SceneParams scene;
        uint32_t frame_bytes;
        uint64_t t;
    };
    bool TakeFault(int pipe);
    void HandleCommand(const uint8_t* block);
    void WriteSensor(int reg, uint16_t value);
    void WriteController(int reg, uint8_t value);
    SceneParams CurrentScene() const;
    Clock::duration FramePeriod() const;
    uint32_t FrameBytes() const;
    void InitialiseSrom();
    const uint8_t* NextPlaybackFrame();
    void RenderPlayback(const Snapshot& snap, uint8_t* out, uint32_t size);

    const CameraModel model_;
    const int slot_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    uint16_t sensor_[256] = {};
    uint8_t controller_[256] = {};
    uint8_t srom_[kSromSize] = {};
    uint8_t reply_[64] = {};
    bool depth16_ = false;
    int pending_starts_ = 0;
    int pending_triggers_ = 0;
    int32_t transfer_wait_ms_ = 3000;
    bool timing_ = true;
    bool still_ = false;
    uint32_t auto_trigger_ms_ = 0;
    bool unplugged_ = false;
    uint64_t frames_served_ = 0;
    uint64_t motion_t_ = 0;
    Clock::time_point last_frame_{};
    int fail_count_ = 0;
    int fail_pipe_ = -1;
    int short_count_ = 0;
    uint32_t stall_ms_ = 0;
    std::shared_ptr<const FrameHook> frame_hook_;
    Playback playback_;  // guarded by render_mutex_, as are the two below
    uint64_t playback_next_ = 0;
    std::vector<uint8_t> playback_scratch_;  // one frame read from a file

    std::mutex render_mutex_;  // the renderer's cached rows and the playback
    SceneRenderer renderer_;
};

}  // namespace vimbra::sim
