// The acquisition state machine: preparation, live preview, capture with
// snapshots, hardware-trigger mode, stopping and closing, the worker loops
// that take the frames, and the camera dialog's pause and resume.
#include <algorithm>
#include <cstring>
#include <system_error>

#include "device/vimbra_740qx_rdl_sdk.h"
#include "image/convert.h"
#include "image/dib_image.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "session/vimbra.h"

namespace vimbra {
namespace {

using Device = CVimbra740QXRDLSdk;

// A clock change settles before anything else is programmed.
constexpr uint32_t kClockSettleMs = 100;
// Pauses of the trigger loop: while paused, and after a failed frame request
// so that a camera that has gone away is not asked again at full speed.
constexpr uint32_t kTriggerIdleMs = 10;
// The trigger mode's transfer wait: a frame request waits this long for a
// trigger.
constexpr int32_t kTriggerWaitMs = 60000;
// The preview loop sleeps its wait time in slices of at most this long, so
// that a stop is not held up by a long wait time.
constexpr uint32_t kStopPollMs = 10;

int32_t FrameDivisor(int32_t sub_sample) {
    switch (sub_sample) {
        case 1:
        case 17:
            return 2;
        case 2:
        case 18:
            return 4;
        case 3:
        case 19:
            return 8;
        default:
            return 1;
    }
}

}  // namespace

int32_t CVimbra::TriggerWaitTime() const {
    std::lock_guard<std::recursive_mutex> control(control_);
    return trigger_wait_time_;
}

// ---- preparation ---------------------------------------------------------

int32_t CVimbra::CreateAcquisitionImages(int32_t width, int32_t height, int32_t mode) {
    FrameImages f = images_.Frame();
    const bool samples16 = ColourModeProperties(mode)->samples16;
    bool ok = true;
    // The 8-bit raw image also carries the grey picture the preview draws
    // for 16-bit grey frames.
    if (mode <= 3) {
        ok = ok && f.raw8->Create(width, height, 8) && f.raw8->SetPalette(0, nullptr, 0, 0);
    }
    if (samples16) ok = ok && f.raw16->Create(width, height, 16);
    if (mode != 1) ok = ok && f.rgb24->Create(width, height, 24);
    if (mode == 3) ok = ok && f.rgb32->Create(width, height, 32);
    if (mode == 4) ok = ok && f.rgb48->Create(width, height, 48);
    if (mode == 5) ok = ok && f.rgb64->Create(width, height, 64);
    return ok && f.work->CreateLike(OutputImage(f, mode)) ? 1 : 0;
}

void CVimbra::ProgramAcquisition(const VideoFormat& v, int32_t sub, bool samples16) {
    const AnalogRecord a = Analog();
    const int32_t clock = GetClockMode();
    device_->SetTransferDepth(samples16 ? 1 : 0);
    int current = 0;
    device_->ReadClock(&current);
    if (current != clock) {
        device_->SetClock(clock);
        platform::SleepMs(kClockSettleMs);
    }
    device_->SetWindow(v.ehs, v.evs, v.eh, v.ev, sub);
    device_->SetVerticalMirror(a.v_mirror);
    device_->SetHorizontalMirror(a.h_mirror);
    device_->SetTrigger(0, 0);
    ApplyGainsAndExposure(a);
}

int32_t CVimbra::PrepareAcquisition() {
    const int slot = device_->SelectedCamera();
    if (!device_->IsPresent(slot) || table_.IsClaimed(slot)) {
        RecordError(VIMBRA_ERR_NO_CAMERA);
        return 0;
    }
    const VideoFormat v = Format();
    const int32_t sub = GetSubSample();
    const int32_t mode = ColorModeIndex();
    if (!VideoFormatValid(v, sub) || ColourModeProperties(mode) == nullptr) {
        RecordError(VIMBRA_ERR_FORMAT);
        return 0;
    }
    const int32_t div = FrameDivisor(sub);
    {
        std::lock_guard<platform::RecursiveLock> images(image_lock_);
        if (!CreateAcquisitionImages(v.eh / div, v.ev / div, mode)) {
            RecordError(VIMBRA_ERR_MEMORY);
            return 0;
        }
        frame_mode_ = mode;
        frame_sub_sample_ = sub;
    }
    std::lock_guard<platform::RecursiveLock> device(device_lock_);
    // The format and modes the images were made for, not what the host may
    // have set since they were read.
    ProgramAcquisition(v, sub, ColourModeProperties(mode)->samples16);
    // A window the sensor cannot read out leaves the frames a size the
    // images do not have.
    if (device_->EffectiveWidth() != v.eh / div || device_->EffectiveHeight() != v.ev / div) {
        RecordError(VIMBRA_ERR_FORMAT);
        return 0;
    }
    GetRealExposureTime(nullptr);
    return 1;
}

bool CVimbra::OpenPreviewWindow() {
    HWND parent = nullptr;
    int32_t rect[4];
    {
        std::lock_guard<std::mutex> settings(settings_mutex_);
        parent = preview_parent_;
        std::memcpy(rect, preview_rect_, sizeof rect);
    }
    if (parent == nullptr && rect[0] == 0 && rect[1] == 0 && rect[2] == 0 && rect[3] == 0)
        return true;
    const VideoFormat v = Format();
    std::lock_guard<platform::RecursiveLock> images(image_lock_);
    if (!preview_.Open(parent, rect, v.eh, v.ev, GetSubSample(), this)) {
        // Nothing half-made is left behind.
        preview_.Close();
        RecordError(VIMBRA_ERR_WINDOW);
        return false;
    }
    return true;
}

void CVimbra::StoreHostTarget(HWND callback, uint8_t* buffer, int32_t size, int32_t row_order) {
    std::lock_guard<platform::RecursiveLock> images(image_lock_);
    callback_window_ = callback;
    host_buffer_ = buffer;
    host_buffer_size_ = size;
    host_row_order_ = row_order;
}

// ---- commands ------------------------------------------------------------

bool CVimbra::ClaimForAcquisition() {
    if (table_.TryClaim(device_->SelectedCamera(), notify_window_)) return true;
    // Another session took the camera since the preparation looked.
    RecordError(VIMBRA_ERR_NO_CAMERA);
    return false;
}

CVimbra::Entry CVimbra::EnterFromIdle(AcqState target) {
    const AcqState state = State();
    if (state == target) return Entry::kAlreadyRunning;
    if (state != AcqState::kIdle || !PrepareAcquisition() || !ClaimForAcquisition()) {
        RecordError(VIMBRA_ERR_STATE);
        return Entry::kRefused;
    }
    return Entry::kPrepared;
}

int32_t CVimbra::StartPreview() {
    if (!RequireDevice()) return 0;
    std::lock_guard<std::recursive_mutex> control(control_);
    const Entry entry = EnterFromIdle(AcqState::kPreview);
    if (entry != Entry::kPrepared) return entry == Entry::kAlreadyRunning ? 1 : 0;
    run_flag_ = 1;
    if (!StartWorker(Loop::kPreview)) {
        StopPreview();
        ReleaseCamera(device_->SelectedCamera());
        RecordError(VIMBRA_ERR_THREAD);
        return 0;
    }
    int started = 0;
    {
        std::lock_guard<platform::RecursiveLock> device(device_lock_);
        device_->SetTrigger(0, 0);
        started = device_->StartStreaming();
    }
    if (started != kDevOk) {
        StopPreview();
        ReleaseCamera(device_->SelectedCamera());
        RecordError(VIMBRA_ERR_REGISTER);
        return 0;
    }
    state_ = AcqState::kPreview;
    return 1;
}

int32_t CVimbra::Preview() {
    return CallBackPreview(nullptr, nullptr, 0, 0);
}

int32_t CVimbra::CallBackPreview(HWND callback, uint8_t* buffer, int32_t size, int32_t row_order) {
    std::lock_guard<std::recursive_mutex> control(control_);
    StoreHostTarget(callback, buffer, size, row_order);
    if (!OpenPreviewWindow()) return 0;
    if (!StartPreview()) {
        Close();
        RecordError(VIMBRA_ERR_TRANSFER);
        return 0;
    }
    return 1;
}

int32_t CVimbra::StopPreview() {
    if (!RequireDevice()) return 0;
    std::lock_guard<std::recursive_mutex> control(control_);
    run_flag_ = 0;
    if (State() != AcqState::kIdle) {
        state_ = AcqState::kIdle;
        std::lock_guard<platform::RecursiveLock> device(device_lock_);
        // Trigger mode goes first: a frame request still waiting for a
        // trigger returns, so the worker is not held for the trigger wait.
        device_->SetTrigger(0, 0);
        device_->SetTransferWait(static_cast<int32_t>(CVBXSdkLib::kDefaultTransferWaitMs));
        trigger_wait_time_ = static_cast<int32_t>(CVBXSdkLib::kDefaultTransferWaitMs);
        device_->StopStreaming();
        ReleaseCamera(device_->SelectedCamera());
    }
    JoinWorker();
    if (recorder_) recorder_->End();
    // A frame converted before the stop is not a new frame for a recording
    // started later: that recording's first frame must come from its own
    // acquisition, not be the picture left from this one.
    new_frame_ = 0;
    return 1;
}

int32_t CVimbra::Capture() {
    if (!RequireDevice()) return 0;
    std::lock_guard<std::recursive_mutex> control(control_);
    const Entry entry = EnterFromIdle(AcqState::kCapture);
    if (entry != Entry::kPrepared) return entry == Entry::kAlreadyRunning ? 1 : 0;
    state_ = AcqState::kCapture;
    return 1;
}

int32_t CVimbra::SnapShot(uint8_t* buffer, int32_t size, int32_t row_order) {
    if (!RequireDevice()) return 0;
    std::lock_guard<std::recursive_mutex> control(control_);
    const AcqState state = State();
    if (state == AcqState::kPreview || state == AcqState::kTrigger) {
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    if (state == AcqState::kIdle && !PrepareAcquisition()) {
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    const bool keep_open = state == AcqState::kCapture;
    auto close_device = [&] {
        if (keep_open) return;
        std::lock_guard<platform::RecursiveLock> device(device_lock_);
        device_->CloseFrameHandle();
    };
    std::unique_lock<platform::RecursiveLock> images(image_lock_);
    int read = 0;
    {
        std::lock_guard<platform::RecursiveLock> device(device_lock_);
        read = device_->ReadOneFrame();
    }
    if (read != kDevOk) {
        close_device();
        RecordError(VIMBRA_ERR_TRANSFER);
        return 0;
    }
    if (!ReadIntoRawImage(false)) {
        PostFrameError(VIMBRA_ERR_TRANSFER);
        close_device();
        RecordError(VIMBRA_ERR_TRANSFER);
        return 0;
    }
    ConvertFrame();
    image_ready_ = 1;
    if (buffer != nullptr && size != 0) {
        CDibImage* out = OutputOfMode(FrameMode());
        if (out == nullptr || !CopyToHost(*out, row_order, buffer, size)) {
            close_device();
            images.unlock();
            RecordError(VIMBRA_ERR_MEMORY);
            return 0;
        }
    }
    images.unlock();
    close_device();
    return 1;
}

int32_t CVimbra::Trigger(HWND callback, uint8_t* buffer, int32_t size, int32_t row_order) {
    if (!RequireDevice()) return 0;
    std::lock_guard<std::recursive_mutex> control(control_);
    if (State() != AcqState::kIdle) {
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    StoreHostTarget(callback, buffer, size, row_order);
    if (!OpenPreviewWindow()) return 0;
    if (!PrepareAcquisition() || !ClaimForAcquisition()) {
        Close();
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    state_ = AcqState::kTrigger;
    trigger_wait_time_ = kTriggerWaitMs;
    {
        std::lock_guard<platform::RecursiveLock> device(device_lock_);
        device_->SetTransferWait(kTriggerWaitMs);
        device_->SetTrigger(1, 0);
    }
    skip_next_frame_ = 1;
    run_flag_ = 1;
    if (!StartWorker(Loop::kTrigger)) {
        Close();
        RecordError(VIMBRA_ERR_THREAD);
        return 0;
    }
    return 1;
}

int32_t CVimbra::Close() {
    std::lock_guard<std::recursive_mutex> control(control_);
    {
        std::lock_guard<platform::RecursiveLock> images(image_lock_);
        preview_.Close();
    }
    StopPreview();
    image_ready_ = 0;
    if (HasDevice()) {
        std::lock_guard<platform::RecursiveLock> device(device_lock_);
        device_->CloseFrameHandle();
    }
    return 1;
}

AcqState CVimbra::PauseForDialog() {
    std::lock_guard<std::recursive_mutex> control(control_);
    const AcqState state = State();
    if (state == AcqState::kPreview || state == AcqState::kCapture) StopPreview();
    if (state == AcqState::kTrigger) run_flag_ = 2;
    return state;
}

void CVimbra::ResumeAfterDialog(AcqState paused) {
    std::lock_guard<std::recursive_mutex> control(control_);
    switch (paused) {
        case AcqState::kPreview:
            StartPreview();
            break;
        case AcqState::kCapture:
            Capture();
            break;
        case AcqState::kTrigger:
            if (State() == AcqState::kTrigger) run_flag_ = 1;
            break;
        default:
            break;
    }
}

// ---- workers -------------------------------------------------------------

bool CVimbra::StartWorker(Loop loop) {
    JoinWorker();
    try {
        worker_ = std::thread([this, loop] {
            if (loop == Loop::kTrigger)
                TriggerLoop();
            else
                PreviewLoop();
        });
    } catch (const std::system_error&) {
        run_flag_ = 0;
        return false;
    }
    return true;
}

void CVimbra::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

void CVimbra::PreviewLoop() {
    while (run_flag_ != 0) {
        // A negative wait (from a damaged stored value) counts as none.
        for (uint32_t left = static_cast<uint32_t>(std::max(GetWaitTime(), 0));
             left > 0 && run_flag_ != 0;) {
            const uint32_t slice = std::min(left, kStopPollMs);
            platform::SleepMs(slice);
            left -= slice;
        }
        if (run_flag_ != 1) continue;
        // Only the transfer ring is read here; the device lock stays free
        // for the host while the worker waits.
        const int wait = device_->WaitForFrame();
        if (run_flag_ == 0) break;
        if (wait == kWaitLoopEnded) {
            run_flag_ = 0;
            // Recorded first, so a host reading the code on the message finds it.
            RecordError(VIMBRA_ERR_FRAME_WAIT);
            PostFrameError(VIMBRA_ERR_FRAME_WAIT);
            break;
        }
        if (wait != kWaitFrameReady) continue;
        if (HandleFrame(true, true)) {
            std::lock_guard<platform::RecursiveLock> images(image_lock_);
            if (callback_window_ != nullptr)
                platform::PostMessage(callback_window_, VIMBRA_MSG_FRAME,
                                      reinterpret_cast<uintptr_t>(&frame_info_), 0);
        }
    }
}

void CVimbra::TriggerLoop() {
    bool absence_reported = false;
    while (run_flag_ != 0) {
        if (run_flag_ != 1) {
            platform::SleepMs(kTriggerIdleMs);
            continue;
        }
        // Blocks until a trigger or the trigger wait; nothing else touches the
        // one-shot buffer while trigger mode runs.
        const int read = device_->ReadOneFrame();
        if (run_flag_ == 0) break;
        if (read != kDevOk) {
            // A trigger wait that runs out is no failure, but a camera that
            // can no longer be opened (unplugged) is reported, once until a
            // frame comes again; the loop keeps asking in case it returns.
            if (read == kDevNoHandle && !absence_reported) {
                absence_reported = true;
                RecordError(VIMBRA_ERR_TRANSFER);
                PostFrameError(VIMBRA_ERR_TRANSFER);
            }
            platform::SleepMs(kTriggerIdleMs);
            continue;
        }
        absence_reported = false;
        if (skip_next_frame_.exchange(0) != 0) continue;
        HandleFrame(false, false);
    }
}

bool CVimbra::HandleFrame(bool streamed, bool count_rate) {
    std::lock_guard<platform::RecursiveLock> images(image_lock_);
    if (!ReadIntoRawImage(streamed)) {
        RecordError(VIMBRA_ERR_TRANSFER);
        PostFrameError(VIMBRA_ERR_TRANSFER);
        return false;
    }
    const int32_t mode = FrameMode();
    const FrameImages f = images_.Frame();
    FillFrameInfo(*(ColourModeProperties(mode)->samples16 ? f.raw16 : f.raw8), count_rate);
    ConvertFrame();
    image_ready_ = 1;
    if (streamed) {
        new_frame_ = 1;
        preview_.ShowFrame(mode, f);
    }
    if (host_buffer_ != nullptr && host_buffer_size_ != 0) {
        CDibImage* out = OutputOfMode(mode);
        if (out == nullptr || !CopyToHost(*out, host_row_order_, host_buffer_, host_buffer_size_))
            return false;
    }
    if (!streamed) {
        // Trigger mode posts and draws under the lock.
        if (callback_window_ != nullptr)
            platform::PostMessage(callback_window_, VIMBRA_MSG_FRAME,
                                  reinterpret_cast<uintptr_t>(&frame_info_), 0);
        preview_.ShowFrame(mode, f);
    }
    return true;
}

bool CVimbra::ReadIntoRawImage(bool streamed) {
    const int32_t mode = FrameMode();
    const ColourModeInfo* info = ColourModeProperties(mode);
    if (info == nullptr) return false;
    const FrameImages f = images_.Frame();
    CDibImage* raw = info->samples16 ? f.raw16 : f.raw8;
    std::lock_guard<platform::RecursiveLock> device(device_lock_);
    // The device writes whole frames of its own geometry: the image must be
    // exactly that size or the copy would run past it.
    const int bytes = info->samples16 ? 2 : 1;
    if (raw == nullptr || raw->empty() || raw->width() != device_->EffectiveWidth() ||
        raw->height() != device_->EffectiveHeight() || raw->bytes_per_pixel() != bytes ||
        device_->DepthFlag() != (info->samples16 ? 1 : 0))
        return false;
    const int rc =
        streamed ? device_->CopyRingFrame(raw->bits()) : device_->CopyOneShotFrame(raw->bits());
    if (rc != kDevOk) return false;
    if (raw->stride() != raw->width() * bytes) {
        CDibImage::ConvertBlit(raw, bytes == 1 ? Repack8 : Repack16, raw, nullptr, 0, 0, nullptr,
                               nullptr);
    }
    return true;
}

void CVimbra::ConvertFrame() {
    FilterRecord filter;
    AnalogRecord analog;
    const int32_t mode = FrameMode();
    const int32_t sub = frame_mode_ >= 0 ? frame_sub_sample_ : GetSubSample();
    {
        std::lock_guard<std::mutex> settings(settings_mutex_);
        filter = filter_;
        analog = analog_;
    }
    const FilterRecord before = filter;
    FrameContext ctx{std::span<int32_t, filter_slot::kCount>(reinterpret_cast<int32_t*>(&filter),
                                                             filter_slot::kCount),
                     std::span<const int32_t, analog_slot::kCount>(
                         reinterpret_cast<const int32_t*>(&analog), analog_slot::kCount),
                     mode,
                     sub,
                     images_.Frame(),
                     this,
                     &workspace_};
    ProcessFrame(ctx);
    // Only what the frame's measurements changed goes back, so a value the
    // host set meanwhile is kept.
    const int32_t* old_values = reinterpret_cast<const int32_t*>(&before);
    const int32_t* new_values = reinterpret_cast<const int32_t*>(&filter);
    std::lock_guard<std::mutex> settings(settings_mutex_);
    int32_t* stored = reinterpret_cast<int32_t*>(&filter_);
    for (int i = 0; i < filter_slot::kCount; ++i)
        if (new_values[i] != old_values[i]) stored[i] = new_values[i];
}

void CVimbra::PostFrameError(int32_t code) {
    std::lock_guard<platform::RecursiveLock> images(image_lock_);
    if (callback_window_ != nullptr)
        platform::PostMessage(callback_window_, VIMBRA_MSG_FRAME, 0, code);
}

}  // namespace vimbra
