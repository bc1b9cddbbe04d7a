#include "session/vimbra.h"

#include "device/vimbra_740qx_rdl_sdk.h"
#include "image/dib_image.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "session/avi_recording.h"
#include "settings/settings_store.h"

namespace vimbra {

CVimbra::CVimbra() : rate_window_start_ms_(platform::TimeGetTime()) {
    recorder_ = MakeAviRecorder(*this);
}

CVimbra::~CVimbra() {
    if (HasDevice()) {
        {
            std::lock_guard<platform::RecursiveLock> device(device_lock_);
            SaveCameraSettings();
        }
        // The worker is stopped before anything it uses goes away.
        Close();
        ReleaseCamera(device_->SelectedCamera());
    }
    DestroyCameraObjects();
}

void CVimbra::DestroyCameraObjects() {
    std::lock_guard<platform::RecursiveLock> images(image_lock_);
    std::lock_guard<platform::RecursiveLock> device(device_lock_);
    device_.reset();
    for (auto& image : images_.owned) image.reset();
}

void CVimbra::RecordError(int32_t code) {
    errors_.Push(code);
    if (notify_window_ != nullptr) platform::PostMessage(notify_window_, VIMBRA_MSG_ERROR, 0, code);
}

void CVimbra::NotifyError(int32_t code) {
    platform::PostMessage(notify_window_, VIMBRA_MSG_ERROR, 0, code);
}

bool CVimbra::RequireDevice() {
    if (HasDevice()) return true;
    RecordError(VIMBRA_ERR_STATE);
    return false;
}

FrameImages CVimbra::Images::Frame() const {
    FrameImages f;
    f.raw8 = owned[0].get();
    f.raw16 = owned[1].get();
    f.rgb24 = owned[2].get();
    f.rgb32 = owned[3].get();
    f.rgb48 = owned[4].get();
    f.rgb64 = owned[5].get();
    f.work = owned[6].get();
    return f;
}

void CVimbra::CreateImages() {
    std::lock_guard<platform::RecursiveLock> lock(image_lock_);
    for (auto& image : images_.owned) image = std::make_unique<CDibImage>();
}

AnalogRecord CVimbra::Analog() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return analog_;
}

FilterRecord CVimbra::Filter() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return filter_;
}

VideoFormat CVimbra::Format() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return video_;
}

ExposureCache CVimbra::Exposure() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return exposure_;
}

int32_t CVimbra::ColorModeIndex() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return format_.color_mode;
}

int32_t CVimbra::GetClockMode() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return format_.clock_mode;
}

int32_t CVimbra::CameraNumber() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return camera_number_;
}

}  // namespace vimbra
