#include "sim/virtual_camera.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vimbra::sim {
namespace {

constexpr uint32_t kFullFrameSamples =
    (kSensorWidth * kSensorHeight + 1023) / 1024 * 1024;  // 5,039,104
constexpr int kVerticalBlankRows = 16;

int DivisorOfAddressMode(uint16_t mode) {
    switch (mode & 0x3) {
        case 1:
            return 2;
        case 3:
            return 4;
        default:
            return 1;
    }
}

}  // namespace

VirtualCamera::VirtualCamera(CameraModel model, int slot) : model_(model), slot_(slot) {
    sensor_[kRegRowStart] = kSensorOriginRow;
    sensor_[kRegColumnStart] = kSensorOriginColumn;
    sensor_[kRegRowSize] = kSensorHeight - 1;
    sensor_[kRegColumnSize] = kSensorWidth - 1;
    sensor_[kRegShutterWidth] = kDefaultShutterWidth;
    // Bits the host must keep when it edits these registers.
    sensor_[kRegReadMode] = 0x0040;
    sensor_[kRegMirror] = 0x0040;
    sensor_[kRegRowAddressMode] = 0x0040;
    sensor_[kRegColumnAddressMode] = 0x0040;
    WriteSensor(kRegGlobalGain, kDefaultGlobalGain);
    for (int i = 0; i < 4; ++i)
        controller_[kCtlFrameSize0 + i] = static_cast<uint8_t>(kFullFrameSamples >> (8 * i));
    controller_[kCtlDepth] = kDepthBase;
    InitialiseSrom();
}

void VirtualCamera::InitialiseSrom() {
    std::memset(srom_, 0xFF, sizeof srom_);
    // Identification page: a tag, a format byte and a serial number.
    char id[32] = {};
    std::snprintf(id, sizeof id, "VBX%cSIM-%04d", 1, slot_);
    std::memcpy(srom_, id, 16);
    if (model_ != CameraModel::kColor) {
        const char* name = kMonoModelNames[model_ == CameraModel::kMono740 ? 0 : 1];
        uint8_t* record = srom_ + (kSromModelName - kSromIdBase);
        std::memset(record, 0, kSromModelNameSize);
        std::memcpy(record, name, std::strlen(name));
        // Mode 1 and the gains that even out the site sensitivities.
        static constexpr uint8_t kCalibration[kSromGreyCalibrationSize] = {1,   0, 142, 128, 128,
                                                                           160, 0, 0,   0,   0};
        std::memcpy(srom_ + (kSromGreyCalibration - kSromIdBase), kCalibration,
                    sizeof kCalibration);
    }
    srom_[kSromSensorVariant - kSromIdBase] = 1;
}

bool VirtualCamera::TakeFault(int pipe) {
    if (fail_count_ > 0 && (fail_pipe_ < 0 || fail_pipe_ == pipe)) {
        --fail_count_;
        return true;
    }
    return false;
}

bool VirtualCamera::Command(const uint8_t* data, uint32_t size, uint32_t* transferred) {
    *transferred = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_ || size == 0 || TakeFault(0)) return false;
    uint8_t block[kCommandBlockSize] = {};
    std::memcpy(block, data, std::min<size_t>(size, kCommandBlockSize));
    HandleCommand(block);
    *transferred = size;
    return true;
}

void VirtualCamera::HandleCommand(const uint8_t* b) {
    switch (b[0]) {
        case kCmdReset:  // the sensor restarts, the next frame is a period away
            last_frame_ = Clock::now();
            break;
        case kCmdStartFrame:
            pending_starts_ = 1;
            cv_.notify_all();
            break;
        case kCmdSensorWrite:
            WriteSensor(b[1], static_cast<uint16_t>((b[2] << 8) | b[3]));
            break;
        case kCmdFrameSize:
            for (int i = 0; i < 4; ++i) controller_[kCtlFrameSize0 + i] = b[1 + i];
            break;
        case kCmdTransferDepth:
            depth16_ = b[1] != 0;
            break;
        case kCmdSensorRead:
            std::memset(reply_, 0, sizeof reply_);
            reply_[0] = static_cast<uint8_t>(sensor_[b[1]] >> 8);
            reply_[1] = static_cast<uint8_t>(sensor_[b[1]]);
            break;
        case kCmdControllerWrite:
            WriteController(b[1], b[2]);
            break;
        case kCmdControllerRead:
            std::memset(reply_, 0, sizeof reply_);
            reply_[0] = controller_[b[1]];
            break;
        case kCmdSromWrite:
            // Only the identification page is reachable by a three-byte write.
            if (b[1] == kSromTag && b[2] == kSromWriteCount && b[3] == kSromWritePage)
                srom_[b[4]] = b[5];
            break;
        case kCmdSromRead:
            std::memset(reply_, 0, sizeof reply_);
            if (b[1] == kSromTag && b[2] == kSromReadCount && b[3] == kSromReadBack) {
                const uint32_t address = (static_cast<uint32_t>(b[4]) << 8) | b[5];
                reply_[0] = (address >= kSromIdBase && address < kSromIdBase + kSromSize)
                                ? srom_[address - kSromIdBase]
                                : 0xFF;
            }
            break;
        default:
            break;  // prepare and unknown codes change nothing
    }
}

void VirtualCamera::WriteSensor(int reg, uint16_t value) {
    sensor_[reg] = value;
    // The global gain register is a shorthand that sets the four colour gains.
    if (reg == kRegGlobalGain)
        for (int colour = kRegGainGreen1; colour <= kRegGainGreen2; ++colour)
            sensor_[colour] = value;
}

void VirtualCamera::WriteController(int reg, uint8_t value) {
    const uint8_t before = controller_[reg];
    controller_[reg] = value;
    if (reg == kCtlDepth) depth16_ = (value & kDepth16) != 0;
    if (reg == kCtlTrigger) {
        // A rising pulse bit fires one trigger; leaving trigger mode frees waiters.
        if ((value & kTriggerPulse) && !(before & kTriggerPulse)) ++pending_triggers_;
        if (!(value & kTriggerOn)) pending_triggers_ = 0;
        cv_.notify_all();
    }
}

bool VirtualCamera::Reply(uint8_t* out, uint32_t size, uint32_t* transferred) {
    *transferred = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (unplugged_ || TakeFault(1)) return false;
    const uint32_t n = std::min<uint32_t>(size, sizeof reply_);
    std::memcpy(out, reply_, n);
    *transferred = n;
    return true;
}

void VirtualCamera::SetTransferWait(int32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    transfer_wait_ms_ = ms;
}

uint32_t VirtualCamera::FrameBytes() const {
    const uint32_t count = controller_[0] | (controller_[1] << 8) | (controller_[2] << 16) |
                           (static_cast<uint32_t>(controller_[3]) << 24);
    const uint64_t bytes = static_cast<uint64_t>(count) * (depth16_ ? 2 : 1);
    return static_cast<uint32_t>(std::min<uint64_t>(bytes, 0xFFFFFFFFu));
}

SceneParams VirtualCamera::CurrentScene() const {
    SceneParams p;
    p.mono = model_ != CameraModel::kColor;
    p.depth16 = depth16_;
    p.row_divisor = DivisorOfAddressMode(sensor_[kRegRowAddressMode]);
    p.divisor = DivisorOfAddressMode(sensor_[kRegColumnAddressMode]);
    p.width = (sensor_[kRegColumnSize] + 1) / p.divisor;
    p.height = (sensor_[kRegRowSize] + 1) / p.row_divisor;
    p.row_start = sensor_[kRegRowStart];
    p.col_start = sensor_[kRegColumnStart];
    p.mirror_h = (sensor_[kRegMirror] & kMirrorHorizontal) != 0;
    p.mirror_v = (sensor_[kRegMirror] & kMirrorVertical) != 0;
    p.gain_g1 = sensor_[kRegGainGreen1] & 0xFF;
    p.gain_b = sensor_[kRegGainBlue] & 0xFF;
    p.gain_r = sensor_[kRegGainRed] & 0xFF;
    p.gain_g2 = sensor_[kRegGainGreen2] & 0xFF;
    p.shutter = sensor_[kRegShutterWidth];
    return p;
}

VirtualCamera::Clock::duration VirtualCamera::FramePeriod() const {
    static constexpr double kClockHz[6] = {24e6, 12e6, 48e6, 40e6, 20e6, 10e6};
    const int clock = controller_[kCtlClock];
    const double hz = clock < 6 ? kClockHz[clock] : 24e6;
    const SceneParams p = CurrentScene();
    int blank = 916;
    if (sensor_[kRegColumnAddressMode] & kAddressModeBin) blank = p.divisor == 4 ? 2918 : 1555;
    const double row_clocks = p.width + blank;
    const double rows = std::max(p.height + kVerticalBlankRows, p.shutter + 1);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(rows * row_clocks / hz));
}

bool VirtualCamera::Frame(uint8_t* out, uint32_t size, uint32_t* transferred) {
    *transferred = 0;
    std::shared_ptr<const FrameHook> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = frame_hook_;
    }
    if (hook) (*hook)(FrameEvent::kBegin, nullptr, 0);
    Snapshot snap;
    bool short_transfer = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (unplugged_ || TakeFault(2)) return false;
        const auto deadline =
            Clock::now() + std::chrono::milliseconds(std::max<int32_t>(transfer_wait_ms_, 0));
        // A frame is read out only after a start command.
        while (pending_starts_ == 0) {
            if (unplugged_) return false;
            if (cv_.wait_until(lock, deadline) == std::cv_status::timeout && pending_starts_ == 0)
                return false;
        }
        pending_starts_ = 0;
        if (stall_ms_ > 0) {
            const auto until = Clock::now() + std::chrono::milliseconds(stall_ms_);
            stall_ms_ = 0;
            while (!unplugged_ && Clock::now() < until) {
                if (Clock::now() >= deadline) return false;
                cv_.wait_until(lock, std::min(until, deadline));
            }
            if (unplugged_) return false;
        }
        if (controller_[kCtlTrigger] & kTriggerOn) {
            auto next_auto = Clock::now() + std::chrono::milliseconds(auto_trigger_ms_);
            while ((controller_[kCtlTrigger] & kTriggerOn) && pending_triggers_ == 0) {
                if (unplugged_) return false;
                const auto now = Clock::now();
                if (auto_trigger_ms_ > 0 && now >= next_auto) {
                    ++pending_triggers_;
                    break;
                }
                if (now >= deadline) return false;
                cv_.wait_until(lock,
                               auto_trigger_ms_ > 0 ? std::min(deadline, next_auto) : deadline);
            }
            if (pending_triggers_ > 0) --pending_triggers_;
        } else if (timing_) {
            // A frame further away than the transfer wait times the request out.
            const auto ready = last_frame_ + FramePeriod();
            while (!unplugged_ && Clock::now() < ready) {
                if (Clock::now() >= deadline) return false;
                cv_.wait_until(lock, std::min(ready, deadline));
            }
            if (unplugged_) return false;
        }
        last_frame_ = Clock::now();
        if (short_count_ > 0) {
            --short_count_;
            short_transfer = true;
        }
        snap = {CurrentScene(), FrameBytes(), motion_t_};
        if (!still_) ++motion_t_;
        ++frames_served_;
    }
    uint32_t n = std::min(size, snap.frame_bytes);
    if (short_transfer) n /= 2;
    {
        std::lock_guard<std::mutex> lock(render_mutex_);
        if (playback_.FrameCount() > 0)
            RenderPlayback(snap, out, n);
        else
            renderer_.Render(snap.scene, snap.t, out, n);
    }
    *transferred = n;
    if (hook) (*hook)(FrameEvent::kDone, out, n);
    return true;
}

uint64_t Playback::FrameCount() const {
    uint64_t count = frames.size();
    for (const auto& file : files) count += file->frames();
    return count;
}

const uint8_t* VirtualCamera::NextPlaybackFrame() {
    uint64_t index = playback_next_;
    playback_next_ = (playback_next_ + 1) % playback_.FrameCount();
    if (index < playback_.frames.size()) return playback_.frames[index].data();
    index -= playback_.frames.size();
    for (const auto& file : playback_.files) {
        if (index < file->frames()) {
            // A file cut short since it was opened gives a black frame.
            if (!file->Read(index, playback_scratch_.data()))
                std::fill(playback_scratch_.begin(), playback_scratch_.end(), 0);
            return playback_scratch_.data();
        }
        index -= file->frames();
    }
    return nullptr;
}

void VirtualCamera::RenderPlayback(const Snapshot& snap, uint8_t* out, uint32_t size) {
    const uint8_t* frame = NextPlaybackFrame();
    const int out_bps = snap.scene.depth16 ? 2 : 1;
    const int in_bps = playback_.bits == 16 ? 2 : 1;
    const int w = snap.scene.width, h = snap.scene.height;
    const int copy_w = std::min(w, playback_.width);
    const size_t row_bytes = static_cast<size_t>(w) * out_bps;
    size_t pos = 0;
    for (int i = 0; i < h && pos < size; ++i) {
        const size_t n = std::min(row_bytes, size - pos);
        uint8_t* dst = out + pos;
        if (i < playback_.height && copy_w > 0) {
            const uint8_t* src = frame + static_cast<size_t>(i) * playback_.width * in_bps;
            const size_t copied = std::min(n, static_cast<size_t>(copy_w) * out_bps);
            if (in_bps == out_bps) {
                std::memcpy(dst, src, copied);
            } else {
                for (size_t j = 0; j * out_bps < copied; ++j) {
                    if (out_bps == 2) {
                        const uint16_t v = static_cast<uint16_t>(src[j] << 4);
                        dst[2 * j] = static_cast<uint8_t>(v);
                        if (2 * j + 1 < copied) dst[2 * j + 1] = static_cast<uint8_t>(v >> 8);
                    } else {
                        const uint16_t v =
                            static_cast<uint16_t>(src[2 * j] | (src[2 * j + 1] << 8));
                        dst[j] = static_cast<uint8_t>(std::min<uint16_t>(v >> 4, 255));
                    }
                }
            }
            if (copied < n) std::memset(dst + copied, 0, n - copied);
        } else {
            std::memset(dst, 0, n);
        }
        pos += n;
    }
    if (pos < size) std::memset(out + pos, 0, size - pos);
}

void VirtualCamera::SetTiming(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    timing_ = on;
    cv_.notify_all();
}

void VirtualCamera::SetStill(bool still) {
    std::lock_guard<std::mutex> lock(mutex_);
    still_ = still;
}

void VirtualCamera::SetPlayback(Playback playback) {
    std::lock_guard<std::mutex> lock(render_mutex_);
    playback_ = std::move(playback);
    playback_next_ = 0;
    playback_scratch_.assign(playback_.files.empty() ? 0
                                                     : static_cast<size_t>(playback_.width) *
                                                           playback_.height * (playback_.bits / 8),
                             0);
}

void VirtualCamera::SetAutoTrigger(uint32_t interval_ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto_trigger_ms_ = interval_ms;
    cv_.notify_all();
}

void VirtualCamera::FireTrigger() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (controller_[kCtlTrigger] & kTriggerOn) ++pending_triggers_;
    cv_.notify_all();
}

void VirtualCamera::FailNext(int pipe, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    fail_pipe_ = pipe;
    fail_count_ = count;
}

void VirtualCamera::ShortNext(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    short_count_ = count;
}

void VirtualCamera::StallNext(uint32_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    stall_ms_ = ms;
}

void VirtualCamera::SetFrameHook(FrameHook hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    frame_hook_ = hook ? std::make_shared<const FrameHook>(std::move(hook)) : nullptr;
}

void VirtualCamera::Unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    unplugged_ = true;
    cv_.notify_all();
}

bool VirtualCamera::unplugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unplugged_;
}

uint16_t VirtualCamera::SensorRegister(int reg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sensor_[reg & 0xFF];
}

uint8_t VirtualCamera::ControllerRegister(int reg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return controller_[reg & 0xFF];
}

uint8_t VirtualCamera::Srom(uint32_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (address < kSromIdBase || address >= kSromIdBase + kSromSize) return 0xFF;
    return srom_[address - kSromIdBase];
}

void VirtualCamera::SetSrom(uint32_t address, uint8_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (address >= kSromIdBase && address < kSromIdBase + kSromSize)
        srom_[address - kSromIdBase] = value;
}

double VirtualCamera::FramePeriodMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::chrono::duration<double, std::milli>(FramePeriod()).count();
}

uint64_t VirtualCamera::FramesServed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_served_;
}

bool VirtualCamera::Depth16() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return depth16_;
}

int32_t VirtualCamera::TransferWaitMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return transfer_wait_ms_;
}

}  // namespace vimbra::sim
