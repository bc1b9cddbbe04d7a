#include "device/vbx_sdk_lib.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/clock.h"

namespace vimbra {
namespace {

// Samples above this make a frame buffer too large to be a camera frame.
constexpr uint64_t kMaxSampleCount = uint64_t{1} << 30;

void PutLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void CVBXSdkLib::FreeDeleter::operator()(uint8_t* p) const {
    std::free(p);
}

CVBXSdkLib::CVBXSdkLib(platform::DriverBackend* backend)
    : backend_(backend ? backend : platform::ActiveDriverBackend()),
      frame_event_(std::make_unique<platform::Event>(platform::Event::Mode::kAutoReset)),
      done_event_(std::make_unique<platform::Event>(platform::Event::Mode::kManualReset)) {}

CVBXSdkLib::~CVBXSdkLib() {
    // A loop still running would write into the buffers freed below.
    if (loop_thread_.joinable()) {
        stop_requested_.store(1, std::memory_order_release);
        loop_thread_.join();
    }
    FreeBuffers();
    CloseFrameHandle();
}

// ---- virtual slots --------------------------------------------------------

int CVBXSdkLib::CopyWindow(const uint8_t* frame, uint8_t* dst) {
    if (!frame || !dst) return kDevNoBuffer;
    const size_t bps = depth_flag_ ? 2 : 1;
    if (eh_ == th_ && ev_ == tv_) {
        std::memcpy(dst, frame, static_cast<size_t>(eh_) * ev_ * bps);
        return kDevOk;
    }
    const size_t row_bytes = static_cast<size_t>(eh_) * bps;
    for (int i = 0; i < ev_; ++i) {
        const size_t src = (static_cast<size_t>(i + evs_) * th_ + ehs_) * bps;
        std::memcpy(dst + row_bytes * i, frame + src, row_bytes);
    }
    return kDevOk;
}

int CVBXSdkLib::ConvertCopy(const uint8_t*, uint8_t*, int, int, int, int) {
    return 0;
}
int CVBXSdkLib::ConvertWindow(const uint8_t* frame, uint8_t* dst) {
    return ConvertCopy(frame, dst, 0, 0, eh_, ev_);
}
int CVBXSdkLib::CopyInterleaved(const uint8_t*, uint8_t*) {
    return 0;
}

int CVBXSdkLib::SetSensorVariant(int variant) {
    sensor_variant_ = (variant >= 0 && variant <= 2) ? variant : 1;
    return 1;
}

int CVBXSdkLib::SetTransferDepth(int flag) {
    depth_flag_ = flag;
    SendTransferDepthCommand(flag ? 1 : 0);
    return 1;
}

// ---- driver channel -------------------------------------------------------

void CVBXSdkLib::SetDriverName(const char* name) {
    std::snprintf(driver_name_, sizeof driver_name_, "%s", name ? name : "");
}

void CVBXSdkLib::FormatDevicePath(char* out, size_t out_size, const char* base, int number) {
    if (!out || out_size == 0) return;
    if (number < 0 || number >= kDeviceCount) {
        out[0] = '\0';
        return;
    }
    const char index[2] = {kDeviceIndexAlphabet[number], '\0'};
    std::snprintf(out, out_size, "\\\\.\\%s-%s", base ? base : "", index);
}

void CVBXSdkLib::EnumerateDevices() {
    ProbeDevices();
    selected_ = 0;
}

void CVBXSdkLib::ProbeDevices() {
    char path[kDevicePathSize];
    for (int i = 0; i < kDeviceCount; ++i) {
        FormatDevicePath(path, sizeof path, driver_name_, i);
        std::unique_ptr<platform::DriverFile> handle = backend_->Open(path);
        present_[i] = handle ? 1 : 0;
    }
}

bool CVBXSdkLib::IsPresent(int number) const {
    return number >= 0 && number < kDeviceCount && present_[number] == 1;
}

int CVBXSdkLib::Select(int number) {
    if (number < 0 || number >= kDeviceCount) return kDevBadCameraNumber;
    selected_ = number;
    FormatDevicePath(device_path_, sizeof device_path_, driver_name_, number);
    return kDevOk;
}

std::unique_ptr<platform::DriverFile> CVBXSdkLib::OpenDevice() const {
    if (device_path_[0] == '\0') return nullptr;
    return backend_->Open(device_path_);
}

int CVBXSdkLib::PipeRequest(platform::DriverFile* handle, uint32_t pipe, uint32_t size,
                            void* buffer, bool in_direct, bool large, uint32_t* transferred) {
    if (transferred) *transferred = 0;
    if (!handle) return -3;
    if (!buffer) return -2;
    const uint32_t code = in_direct ? (large ? platform::kIoctlLargeIn : platform::kIoctlDirectIn)
                                    : platform::kIoctlDirectOut;
    uint8_t pipe_bytes[4];
    PutLe32(pipe_bytes, pipe);
    uint32_t moved = 0;
    const bool ok = handle->Control(code, pipe_bytes, sizeof pipe_bytes, buffer, size, &moved);
    if (transferred) *transferred = moved;
    return ok ? 0 : -1;
}

int CVBXSdkLib::PipeRead(platform::DriverFile* handle, uint32_t pipe, uint32_t size, void* buffer) {
    if (!handle) return kDevNoHandle;
    uint32_t moved = 0;
    if (PipeRequest(handle, pipe, size, buffer, false, false, &moved) != 0 || moved != size)
        return kDevPipeFailed;
    return kDevOk;
}

int CVBXSdkLib::PipeWrite(platform::DriverFile* handle, uint32_t pipe, uint32_t size,
                          const void* buffer) {
    if (!handle) return kDevNoHandle;
    uint32_t moved = 0;
    // The request's output buffer carries the data to the device.
    if (PipeRequest(handle, pipe, size, const_cast<void*>(buffer), true, false, &moved) != 0 ||
        moved != size)
        return kDevPipeFailed;
    return kDevOk;
}

void CVBXSdkLib::SetTransferWait(int32_t ms) {
    transfer_wait_ms_ = ms;
    std::unique_ptr<platform::DriverFile> handle = OpenDevice();
    if (!handle) return;
    uint8_t block[platform::kTransferWaitBlockSize] = {};
    PutLe32(block, 1);
    PutLe32(block + platform::kTransferWaitMsOffset, static_cast<uint32_t>(ms));
    uint32_t moved = 0;
    (void)handle->Control(platform::kIoctlTransferWait, block, sizeof block, nullptr, 0, &moved);
}

bool CVBXSdkLib::CommandExchange(const uint8_t* block, bool* write_ok) {
    std::unique_ptr<platform::DriverFile> handle = OpenDevice();
    if (!handle) {
        if (write_ok) *write_ok = false;
        return false;
    }
    const int rc = PipeWrite(handle.get(), platform::kPipeCommand, kCommandBlockSize, block);
    if (write_ok) *write_ok = rc == kDevOk;
    return true;
}

bool CVBXSdkLib::ReadExchange(const uint8_t* block, uint8_t* reply, bool check_write,
                              uint32_t pre_wait_ms, uint32_t post_wait_ms) {
    std::unique_ptr<platform::DriverFile> handle = OpenDevice();
    if (!handle) return false;
    const int write_rc = PipeWrite(handle.get(), platform::kPipeCommand, kCommandBlockSize, block);
    if (check_write && write_rc != kDevOk) return false;
    if (pre_wait_ms) platform::SleepMs(pre_wait_ms);
    (void)PipeRead(handle.get(), platform::kPipeReply, kCommandBlockSize, reply);
    const int read_rc = PipeRead(handle.get(), platform::kPipeReply, kCommandBlockSize, reply);
    if (post_wait_ms) platform::SleepMs(post_wait_ms);
    return read_rc == kDevOk;
}

bool CVBXSdkLib::Reset() {
    uint8_t block[kCommandBlockSize] = {kCmdReset};
    return CommandExchange(block, nullptr);
}

bool CVBXSdkLib::Prepare() {
    uint8_t block[kCommandBlockSize] = {kCmdPrepare};
    return CommandExchange(block, nullptr);
}

bool CVBXSdkLib::SendFrameSize(uint32_t sample_count) {
    uint8_t block[kCommandBlockSize] = {kCmdFrameSize};
    PutLe32(block + 1, sample_count);
    (void)CommandExchange(block, nullptr);
    return true;
}

bool CVBXSdkLib::SendTransferDepthCommand(uint8_t flag) {
    uint8_t block[kCommandBlockSize] = {kCmdTransferDepth, flag};
    bool ok = false;
    return CommandExchange(block, &ok) && ok;
}

bool CVBXSdkLib::WriteSensorRegister(int reg, uint16_t value) {
    uint8_t block[kCommandBlockSize] = {kCmdSensorWrite};
    const uint8_t data[3] = {static_cast<uint8_t>(reg), static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(value)};
    std::memcpy(block + 1, data, sizeof data);
    bool ok = false;
    return CommandExchange(block, &ok) && ok;
}

bool CVBXSdkLib::ReadSensorRegister(int reg, uint16_t* value) {
    uint8_t block[kCommandBlockSize] = {kCmdSensorRead, static_cast<uint8_t>(reg)};
    uint8_t reply[kCommandBlockSize] = {};
    const bool ok = ReadExchange(block, reply, true, 0, 0);
    if (value) *value = ok ? static_cast<uint16_t>((reply[0] << 8) | reply[1]) : 0;
    return ok;
}

bool CVBXSdkLib::WriteControllerRegister(int index, uint8_t value) {
    uint8_t block[kCommandBlockSize] = {kCmdControllerWrite, static_cast<uint8_t>(index), value};
    bool ok = false;
    return CommandExchange(block, &ok) && ok;
}

bool CVBXSdkLib::ReadControllerRegister(int index, uint8_t* value) {
    uint8_t block[kCommandBlockSize] = {kCmdControllerRead, static_cast<uint8_t>(index)};
    uint8_t reply[kCommandBlockSize] = {};
    const bool ok = ReadExchange(block, reply, true, 0, 0);
    if (value) *value = ok ? reply[0] : 0;
    return ok;
}

bool CVBXSdkLib::ReadSrom(uint32_t address, uint8_t* value) {
    const uint32_t addr = address & 0xFFFF;
    if (addr < kSromIdBase) {
        if (value) *value = 0;
        return false;
    }
    uint8_t block[kCommandBlockSize] = {kCmdSromRead,
                                        kSromTag,
                                        kSromReadCount,
                                        kSromReadBack,
                                        static_cast<uint8_t>(addr >> 8),
                                        static_cast<uint8_t>(addr)};
    uint8_t reply[kCommandBlockSize] = {};
    const bool ok = ReadExchange(block, reply, false, 6, 6);
    if (value) *value = ok ? reply[0] : 0;
    return ok;
}

bool CVBXSdkLib::ReadSromId(uint32_t index, uint8_t* value) {
    return ReadSrom(kSromIdBase + (index & 0xFF), value);
}

bool CVBXSdkLib::WriteSrom(uint32_t address, uint32_t value) {
    uint8_t block[kCommandBlockSize] = {kCmdSromWrite,
                                        kSromTag,
                                        kSromWriteCount,
                                        kSromWritePage,
                                        static_cast<uint8_t>(address),
                                        static_cast<uint8_t>(value)};
    bool ok = false;
    const bool opened = CommandExchange(block, &ok);
    if (opened) platform::SleepMs(10);
    return opened && ok;
}

// ---- frame transfer -------------------------------------------------------

uint32_t CVBXSdkLib::TransferSize() const {
    return depth_flag_ ? sample_count_ * 2 : sample_count_;
}

const uint8_t* CVBXSdkLib::RingBuffer(int slot) const {
    if (!ring_ || slot < 0 || slot >= ring_count_) return nullptr;
    return ring_[slot].get();
}

void CVBXSdkLib::FreeBuffers() {
    if (loop_thread_.joinable() && idle_.load(std::memory_order_acquire) == 0) return;
    one_shot_.reset();
    ring_.reset();
    ring_count_ = 0;
}

int CVBXSdkLib::SetGeometry(int th, int ehs, int eh, int tv, int evs, int ev, int buffer_count) {
    // Offsets that would place the effective area outside the frame are
    // refused like the sizes, so the copy never reads past a buffer.
    if (th <= 0 || eh <= 0 || th < eh || ehs < 0 || ehs > th - eh) return kDevBadWidth;
    if (tv <= 0 || ev <= 0 || evs < 0 || tv < int64_t{evs} + ev) return kDevBadHeight;
    if (buffer_count < 2) return kDevBadBufferCount;
    // The loop writes into the ring; it is not swapped under a running loop.
    if (IsStreaming()) return kDevAlreadyStreaming;

    FreeBuffers();
    // Indices left by an earlier ring could point past a smaller new one.
    write_index_.store(0, std::memory_order_release);
    read_index_.store(0, std::memory_order_release);
    th_ = th;
    ehs_ = ehs;
    eh_ = eh;
    tv_ = tv;
    evs_ = evs;
    ev_ = ev;
    buffer_count_ = buffer_count;
    uint64_t count = static_cast<uint64_t>(th) * static_cast<uint64_t>(evs + ev);
    count = (count + 1023) / 1024 * 1024;
    if (count > kMaxSampleCount) {
        sample_count_ = 0;
        return kDevNoMemory;
    }
    sample_count_ = static_cast<uint32_t>(count);
    const size_t bytes = static_cast<size_t>(sample_count_) * 2;

    one_shot_.reset(static_cast<uint8_t*>(std::calloc(bytes, 1)));
    if (!one_shot_) return kDevNoMemory;
    ring_.reset(new (std::nothrow) Block[buffer_count]);
    if (!ring_) {
        one_shot_.reset();
        return kDevNoMemory;
    }
    for (int i = 0; i < buffer_count; ++i) {
        ring_[i].reset(static_cast<uint8_t*>(std::calloc(bytes, 1)));
        if (!ring_[i]) {
            FreeBuffers();
            return kDevNoMemory;
        }
    }
    ring_count_ = buffer_count;
    SendFrameSize(sample_count_);
    return kDevOk;
}

int CVBXSdkLib::ReadOneFrame() {
    // After a failed allocation there is nothing to read into: report it as
    // the allocation failure rather than transfer into a missing buffer.
    if (!one_shot_) return kDevNoMemory;
    const uint32_t n = TransferSize();
    if (!kept_handle_) {
        kept_handle_ = OpenDevice();
        if (!kept_handle_) return kDevNoHandle;
    }
    Reset();
    uint8_t start[kCommandBlockSize] = {kCmdStartFrame};
    uint32_t moved = 0;
    (void)PipeRequest(kept_handle_.get(), platform::kPipeCommand, kCommandBlockSize, start, true,
                      false, &moved);
    const int rc = PipeRequest(kept_handle_.get(), platform::kPipeFrame, n, one_shot_.get(), true,
                               large_transfer_, &moved);
    if (rc != 0 || moved != n) {
        kept_handle_.reset();
        return kDevTransferFailed;
    }
    return kDevOk;
}

int CVBXSdkLib::CopyOneShotFrame(void* buffer) {
    if (!buffer) return kDevNoBuffer;
    if (!one_shot_) return kDevNoMemory;
    return CopyWindow(one_shot_.get(), static_cast<uint8_t*>(buffer));
}

void CVBXSdkLib::CloseFrameHandle() {
    kept_handle_.reset();
}

int CVBXSdkLib::StartStreaming() {
    if (idle_.load(std::memory_order_acquire) == 0) return kDevAlreadyStreaming;
    // Without a ring (failed allocation) a loop would write into nothing.
    if (!ring_) return kDevNoMemory;
    // A loop that ended by itself is joined before a new one starts.
    if (loop_thread_.joinable()) loop_thread_.join();
    LoopArgs args{TransferSize(), ring_count_, large_transfer_, {}};
    std::memcpy(args.path, device_path_, sizeof args.path);
    Reset();
    frame_event_->Reset();
    done_event_->Reset();
    error_.store(0, std::memory_order_release);
    end_code_.store(0, std::memory_order_release);
    write_index_.store(0, std::memory_order_release);
    read_index_.store(0, std::memory_order_release);
    stop_requested_.store(0, std::memory_order_release);
    idle_.store(0, std::memory_order_release);
    try {
        loop_thread_ = std::thread(&CVBXSdkLib::StreamingLoop, this, args);
    } catch (...) {
        idle_.store(1, std::memory_order_release);
        return kDevNoHandle;
    }
    return kDevOk;
}

void CVBXSdkLib::StreamingLoop(LoopArgs args) {
    platform::RaiseCurrentThreadPriority();
    int end_code = kDevOk;
    std::unique_ptr<platform::DriverFile> handle =
        args.path[0] ? backend_->Open(args.path) : nullptr;
    if (!handle) {
        end_code = kDevNoHandle;
    } else if (stop_requested_.load(std::memory_order_acquire) == 0) {
        bool short_allowed = true;
        uint8_t start[kCommandBlockSize] = {kCmdStartFrame};
        for (;;) {
            const int w = write_index_.load(std::memory_order_relaxed);
            uint8_t* buffer = ring_[w].get();
            uint32_t moved = 0;
            (void)PipeRequest(handle.get(), platform::kPipeCommand, kCommandBlockSize, start, false,
                              false, &moved);
            int rc;
            {
                std::lock_guard<std::mutex> slot(slot_locks_[w % kSlotLocks]);
                rc = PipeRequest(handle.get(), platform::kPipeFrame, args.transfer_size, buffer,
                                 true, args.large, &moved);
            }
            bool publish = true;
            if (rc != 0) {
                end_code = kDevTransferFailed;
            } else if (moved != args.transfer_size) {
                if (short_allowed) {
                    short_allowed = false;
                    publish = false;
                } else {
                    end_code = kDevTransferFailed;
                }
            }
            if (publish) {
                // The failure is stored before its slot is published, so a
                // reader that sees the slot also sees that it holds no frame.
                if (end_code != kDevOk) error_.store(1, std::memory_order_release);
                int next = w + 1 >= args.buffer_count ? 0 : w + 1;
                if (next == read_index_.load(std::memory_order_acquire))
                    next = next + 1 >= args.buffer_count ? 0 : next + 1;
                write_index_.store(next, std::memory_order_release);
                frame_event_->Set();
                if (end_code == kDevOk) frames_completed_.fetch_add(1, std::memory_order_acq_rel);
            }
            if (end_code == kDevTransferFailed) break;
            if (stop_requested_.load(std::memory_order_acquire) == 1) break;
        }
    }
    handle.reset();
    end_code_.store(end_code, std::memory_order_release);
    // A loop that could not open the camera ended on a failure as much as one
    // whose transfer failed: the reader and stop must hear of it.
    if (end_code != kDevOk) error_.store(1, std::memory_order_release);
    idle_.store(1, std::memory_order_release);
    done_event_->Set();
}

int CVBXSdkLib::WaitForFrame() {
    if (error_.load(std::memory_order_acquire)) return kWaitLoopEnded;
    if (idle_.load(std::memory_order_acquire) == 1) return kWaitStopped;
    const int count = ring_count_;
    int w = write_index_.load(std::memory_order_acquire);
    // A slot published by a failed transfer comes with the error flag set.
    if (error_.load(std::memory_order_acquire)) return kWaitLoopEnded;
    const int r = read_index_.load(std::memory_order_relaxed);
    if (w < r) w += count;
    if (w - r <= 0) return frame_event_->Wait(frame_wait_ms_) ? kWaitNoFrameYet : kWaitLoopEnded;
    int next = w - 1;
    if (next < 0)
        next = count - 1;
    else if (next >= count)
        next -= count;
    read_index_.store(next, std::memory_order_release);
    return kWaitFrameReady;
}

int CVBXSdkLib::CopyRingFrame(void* buffer) {
    if (!buffer) return kDevNoBuffer;
    if (!ring_) return kDevNoMemory;
    const int r = read_index_.load(std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> slot(slot_locks_[r % kSlotLocks]);
        CopyWindow(ring_[r].get(), static_cast<uint8_t*>(buffer));
    }
    read_index_.store(r + 1 >= ring_count_ ? 0 : r + 1, std::memory_order_release);
    return kDevOk;
}

int CVBXSdkLib::StopStreaming() {
    if (idle_.load(std::memory_order_acquire) == 1 && error_.load(std::memory_order_acquire) == 0) {
        if (loop_thread_.joinable()) loop_thread_.join();
        return kDevOk;
    }
    // The loop reports idle itself once it has left its last transfer, so
    // nothing can free or resize the ring while a request still fills it.
    if (idle_.load(std::memory_order_acquire) == 0) {
        stop_requested_.store(1, std::memory_order_release);
        done_event_->Wait(platform::kInfinite);
    }
    if (loop_thread_.joinable()) loop_thread_.join();
    error_.store(0, std::memory_order_release);
    // A reader still waiting for a frame wakes up and finds the loop stopped.
    frame_event_->Set();
    return end_code_.load(std::memory_order_acquire);
}

}  // namespace vimbra
