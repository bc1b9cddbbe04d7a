// The generic device object: the driver channel (device paths, control
// requests on the command, reply and frame pipes, the camera's command set)
// and frame transfer (geometry, one-shot read, streaming ring of buffers).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "device/protocol.h"
#include "platform/driver.h"
#include "platform/event.h"

namespace vimbra {

// Results of the channel and transfer operations.
inline constexpr int kDevOk = 0;
inline constexpr int kDevBadBufferCount = 1;
inline constexpr int kDevBadWidth = 3;
inline constexpr int kDevBadHeight = 4;
inline constexpr int kDevNoMemory = 7;
inline constexpr int kDevNoHandle = 10;
inline constexpr int kDevPipeFailed = 12;
inline constexpr int kDevNoBuffer = 14;
inline constexpr int kDevTransferFailed = 19;
inline constexpr int kDevAlreadyStreaming = 21;
inline constexpr int kDevBadCameraNumber = 22;

// Results of WaitForFrame.
inline constexpr int kWaitLoopEnded = 1;
inline constexpr int kWaitStopped = 0;
inline constexpr int kWaitNoFrameYet = 2;
inline constexpr int kWaitFrameReady = 3;

class CVBXSdkLib {
  public:
    static constexpr int kDeviceCount = 32;
    static constexpr size_t kDevicePathSize = 128;
    static constexpr uint32_t kDefaultTransferWaitMs = 3000;
    static constexpr uint32_t kDefaultFrameWaitMs = 6000;

    // `backend` carries the requests; nullptr takes platform::ActiveDriverBackend().
    explicit CVBXSdkLib(platform::DriverBackend* backend = nullptr);
    virtual ~CVBXSdkLib();
    CVBXSdkLib(const CVBXSdkLib&) = delete;
    CVBXSdkLib& operator=(const CVBXSdkLib&) = delete;

    // ---- virtual slots -------------------------------------------------
    // Slot 0: copies the effective area of one raw frame into `dst` (EV rows of
    // EH samples, no padding). 0, or 14 when either buffer is absent.
    virtual int CopyWindow(const uint8_t* frame, uint8_t* dst);
    // Slots 1 to 3 serve frame layouts this camera never produces; they return 0.
    virtual int ConvertCopy(const uint8_t* frame, uint8_t* dst, int x, int y, int w, int h);
    virtual int ConvertWindow(const uint8_t* frame, uint8_t* dst);
    virtual int CopyInterleaved(const uint8_t* frame, uint8_t* dst);
    // Slot 4: stores 0, 1 or 2, anything else as 1; returns 1.
    virtual int SetSensorVariant(int variant);
    // Slot 5: 0 = 8-bit samples, non-zero = 16-bit samples; returns 1.
    virtual int SetTransferDepth(int flag);

    // ---- driver channel ------------------------------------------------
    void SetDriverName(const char* name);
    const char* DriverName() const { return driver_name_; }
    // Formats "\\.\<base>-<c>" with c from the index alphabet (N before M).
    // Writes "" for a number outside 0..31.
    static void FormatDevicePath(char* out, size_t out_size, const char* base, int number);

    // Probes camera numbers 0..31, then selects number 0 (the path stays).
    void EnumerateDevices();
    // Probes camera numbers 0..31 again; the selected camera stays selected.
    void ProbeDevices();
    int DeviceCount() const { return kDeviceCount; }
    bool IsPresent(int number) const;
    // 0, or 22 for a number outside 0..31. Neither opens nor checks presence.
    int Select(int number);
    int SelectedCamera() const { return selected_; }
    const char* DevicePath() const { return device_path_; }

    // Primitive requests on an open handle.
    // 0, -1 when the request fails, -2 without buffer, -3 without handle.
    int PipeRequest(platform::DriverFile* handle, uint32_t pipe, uint32_t size, void* buffer,
                    bool in_direct, bool large, uint32_t* transferred);
    // 0, 10 without handle, 12 when the request fails or moves another count.
    int PipeRead(platform::DriverFile* handle, uint32_t pipe, uint32_t size, void* buffer);
    int PipeWrite(platform::DriverFile* handle, uint32_t pipe, uint32_t size, const void* buffer);
    std::unique_ptr<platform::DriverFile> OpenDevice() const;

    // Stores the wait and sends it to the driver (result not checked).
    void SetTransferWait(int32_t ms);
    int32_t TransferWait() const { return transfer_wait_ms_; }

    // Command exchanges; each opens and closes its own handle.
    bool Reset();
    bool Prepare();
    bool SendFrameSize(uint32_t sample_count);
    bool SendTransferDepthCommand(uint8_t flag);
    bool WriteSensorRegister(int reg, uint16_t value);
    bool ReadSensorRegister(int reg, uint16_t* value);
    bool WriteControllerRegister(int index, uint8_t value);
    bool ReadControllerRegister(int index, uint8_t* value);
    // By address: low 16 bits, refused below 0x1800 without any request.
    bool ReadSrom(uint32_t address, uint8_t* value);
    // By identification index: reads 0x1800 + (index & 0xFF).
    bool ReadSromId(uint32_t index, uint8_t* value);
    // Writes 0x1800 + (address & 0xFF) with value & 0xFF.
    bool WriteSrom(uint32_t address, uint32_t value);

    // ---- frame transfer ------------------------------------------------
    // 0; 3, 4 or 1 when refused (nothing changes); 7 when allocation fails.
    int SetGeometry(int th, int ehs, int eh, int tv, int evs, int ev, int buffer_count);
    int TotalWidth() const { return th_; }
    int EffectiveLeft() const { return ehs_; }
    int EffectiveWidth() const { return eh_; }
    int TotalHeight() const { return tv_; }
    int EffectiveTop() const { return evs_; }
    int EffectiveHeight() const { return ev_; }
    int BufferCount() const { return buffer_count_; }
    uint32_t SampleCount() const { return sample_count_; }
    // Bytes one frame request moves: the sample count, doubled in 16-bit depth.
    uint32_t TransferSize() const;
    int DepthFlag() const { return depth_flag_; }
    bool LargeTransfer() const { return large_transfer_; }
    void SetLargeTransfer(bool large) { large_transfer_ = large; }

    // One-shot read: 0, 10 when the device cannot be opened, 19 on a failed
    // or short transfer. Keeps its handle open between reads.
    int ReadOneFrame();
    int CopyOneShotFrame(void* buffer);  // 0, or 14 without buffer
    void CloseFrameHandle();
    const uint8_t* OneShotBuffer() const { return one_shot_.get(); }

    int StartStreaming();  // 0, or 21 when a loop already runs
    int StopStreaming();   // the loop's end code: 0, 10 or 19
    int WaitForFrame();    // kWaitLoopEnded, kWaitStopped, kWaitNoFrameYet, kWaitFrameReady
    int CopyRingFrame(void* buffer);  // 0, or 14 without buffer
    void FreeBuffers();
    bool IsStreaming() const { return idle_.load(std::memory_order_acquire) == 0; }

    // Observation points for tests and diagnostics.
    int WriteIndex() const { return write_index_.load(std::memory_order_acquire); }
    int ReadIndex() const { return read_index_.load(std::memory_order_acquire); }
    uint64_t FramesCompleted() const { return frames_completed_.load(std::memory_order_acquire); }
    const uint8_t* RingBuffer(int slot) const;
    // The time WaitForFrame waits for a frame before reporting an ended loop.
    void SetFrameWaitTimeout(uint32_t ms) { frame_wait_ms_ = ms; }

  protected:
    platform::DriverBackend* backend() const { return backend_; }
    // Sends one command block on a fresh handle; false when the path cannot
    // be opened. `write_ok` receives the pipe write's outcome.
    bool CommandExchange(const uint8_t* block, bool* write_ok);
    // Command, then two reply reads of which the second counts. With
    // `check_write` a failed command fails the exchange at once.
    bool ReadExchange(const uint8_t* block, uint8_t* reply, bool check_write, uint32_t pre_wait_ms,
                      uint32_t post_wait_ms);

    // Sets the stored transfer wait without telling the driver.
    void StoreTransferWait(int32_t ms) { transfer_wait_ms_ = ms; }

    int depth_flag_ = 0;
    int sensor_variant_ = 1;

  private:
    struct LoopArgs {
        uint32_t transfer_size;
        int buffer_count;
        bool large;
        char path[kDevicePathSize];
    };
    void StreamingLoop(LoopArgs args);

    platform::DriverBackend* backend_;
    char driver_name_[16] = {};
    int present_[kDeviceCount] = {};
    int selected_ = 0;
    char device_path_[kDevicePathSize] = {};
    std::unique_ptr<platform::DriverFile> kept_handle_;
    int32_t transfer_wait_ms_ = static_cast<int32_t>(kDefaultTransferWaitMs);

    int th_ = 0, ehs_ = 0, eh_ = 0, tv_ = 0, evs_ = 0, ev_ = 0, buffer_count_ = 0;
    uint32_t sample_count_ = 0;
    bool large_transfer_ = false;

    struct FreeDeleter {
        void operator()(uint8_t* p) const;
    };
    using Block = std::unique_ptr<uint8_t, FreeDeleter>;
    Block one_shot_;
    std::unique_ptr<Block[]> ring_;
    // A slot's lock is held while the loop fills the slot and while a reader
    // copies it, so a loop that laps a slow reader waits instead of writing
    // under its copy. Slots share locks modulo the array's size.
    static constexpr int kSlotLocks = 16;
    std::array<std::mutex, kSlotLocks> slot_locks_;
    int ring_count_ = 0;

    std::atomic<int> write_index_{0};
    std::atomic<int> read_index_{0};
    // Set by the loop alone, when it has finished; a stop is asked for with
    // stop_requested_.
    std::atomic<int> idle_{1};
    std::atomic<int> stop_requested_{0};
    std::atomic<int> error_{0};
    std::atomic<int> end_code_{0};
    std::atomic<uint64_t> frames_completed_{0};
    std::unique_ptr<platform::Event> frame_event_;
    std::unique_ptr<platform::Event> done_event_;
    std::thread loop_thread_;
    uint32_t frame_wait_ms_ = kDefaultFrameWaitMs;
};

}  // namespace vimbra
