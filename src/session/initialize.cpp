// Session initialisation, camera listing and selection, camera information
// and the claims in the camera table shared between processes.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>
#include <type_traits>

#include "device/vimbra_740qx_rdl_sdk.h"
#include "image/dib_image.h"
#include "platform/text.h"
#include "session/vimbra.h"
#include "settings/settings_store.h"

namespace vimbra {
namespace {

constexpr const char kDeviceBaseName[] = "Vimbra740QX-RDL";
// "Vimbra740QX-RDL_NN" and its terminator.
constexpr int kDeviceNameChars = 19;
// Hosts must give more than this many bytes for a name.
constexpr int kMinNameBufferBytes = 14;
// Entries a name table always gets, written "" when fewer cameras exist.
constexpr int kClearedEntries = 10;

using Device = CVimbra740QXRDLSdk;

void FormatDeviceName(char* out, size_t size, int number) {
    std::snprintf(out, size, "%s_%02d", kDeviceBaseName, number);
}

void FullSensor(VideoFormat& v) {
    v.th = kSensorWidth;
    v.tv = kSensorHeight;
    v.eh = kSensorWidth;
    v.ev = kSensorHeight;
    v.ehs = 0;
    v.evs = 0;
}

}  // namespace

bool VideoFormatValid(const VideoFormat& f, int32_t sub_sample) {
    const int64_t w = kSensorWidth, h = kSensorHeight;
    return f.eh >= 0 && f.ev >= 0 && f.ehs >= 0 && f.evs >= 0 && f.eh <= w && f.ehs <= w &&
           f.ev <= h && f.evs <= h && int64_t{f.eh} + f.ehs <= w && int64_t{f.ev} + f.evs <= h &&
           sub_sample != 3 && sub_sample != 19;
}

int32_t CVimbra::Initialize(HWND notify) {
    notify_window_ = notify;
    try {
        if (!table_.Open()) throw std::bad_alloc();
        // The image lock is never taken under the device lock.
        CreateImages();
        std::lock_guard<platform::RecursiveLock> lock(device_lock_);
        device_ = std::make_unique<Device>();

        VideoFormat loaded;
        int32_t sub_sample = 0;
        {
            std::lock_guard<std::mutex> settings(settings_mutex_);
            loaded = video_;
            sub_sample = format_.sub_sample;
        }
        LoadSizes(CameraNumber(), loaded);
        const bool valid = VideoFormatValid(loaded, sub_sample);
        if (!valid) FullSensor(loaded);
        {
            std::lock_guard<std::mutex> settings(settings_mutex_);
            video_ = loaded;
        }
        if (!valid) RecordError(VIMBRA_ERR_FORMAT);
        ProgramWindow();
        {
            std::lock_guard<std::mutex> settings(settings_mutex_);
            preview_rect_[0] = preview_rect_[1] = 0;
            preview_rect_[2] = loaded.eh;
            preview_rect_[3] = loaded.ev;
        }
        LoadCameraSettings();

        FormatSettings format;
        {
            std::lock_guard<std::mutex> settings(settings_mutex_);
            format = format_;
        }
        LoadVideoFormat(CameraNumber(), format);
        std::lock_guard<std::mutex> settings(settings_mutex_);
        format_ = format;
        return 1;
    } catch (const std::exception&) {
        // Nothing half-made stays behind: without a device object every
        // camera operation refuses with code 1.
        DestroyCameraObjects();
        RecordError(VIMBRA_ERR_MEMORY);
        return 0;
    }
}

bool CVimbra::ProgramWindow() {
    // A running acquisition keeps the frame size its images were made for;
    // the next preparation programs the stored window.
    if (State() != AcqState::kIdle) return true;
    const VideoFormat v = Format();
    return device_->SetWindow(v.ehs, v.evs, v.eh, v.ev, GetSubSample()) == 0;
}

void CVimbra::LoadCameraSettings() {
    const int camera = device_->SelectedCamera();
    FilterRecord filter = Filter();
    AnalogRecord analog = Analog();
    LoadFilter(camera, filter);
    LoadGray(camera, filter.gray);
    GrayCalibration cal{};
    if (device_->ReadGrayCalibration(&cal)) {
        filter.gray =
            GrayRecord{cal.mode,      cal.gain_r1,   cal.gain_g1,   cal.gain_g2,  cal.gain_b1,
                       cal.offset_r1, cal.offset_g1, cal.offset_g2, cal.offset_b1};
    }
    LoadAnalog(camera, analog, [this] {
        return MirrorState{device_->ReadVerticalMirror(), device_->ReadHorizontalMirror()};
    });
    {
        std::lock_guard<std::mutex> settings(settings_mutex_);
        // Only the stored groups, fields 0..19; the measurement requests
        // after them stay as they are.
        static_assert(std::is_standard_layout_v<FilterRecord>);
        std::memcpy(static_cast<void*>(&filter_), &filter, offsetof(FilterRecord, unused20));
        analog_ = analog;
    }
    ApplyAnalog(analog);
}

void CVimbra::SaveCameraSettings() {
    const int camera = device_->SelectedCamera();
    const AnalogRecord analog = Analog();
    const FilterRecord filter = Filter();
    SaveAnalog(camera, analog);
    SaveFilter(camera, filter);
    SaveGray(camera, filter.gray);
}

void CVimbra::ApplyGainsAndExposure(const AnalogRecord& a) {
    device_->SetGlobalGain(a.global_gain);
    device_->SetColorGain(kRegGainGreen1, a.gain_g1);
    device_->SetColorGain(kRegGainRed, a.gain_r);
    device_->SetColorGain(kRegGainBlue, a.gain_b);
    device_->SetColorGain(kRegGainGreen2, a.gain_g2);
    device_->SetShutterWidth(a.exposure);
}

void CVimbra::ApplyAnalog(const AnalogRecord& a) {
    ApplyGainsAndExposure(a);
    device_->SetVerticalMirror(a.v_mirror);
    device_->SetHorizontalMirror(a.h_mirror);
}

int32_t CVimbra::EnumDevice(char* names) {
    if (!RequireDevice()) return 0;
    if (names == nullptr) {
        RecordError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    // One probe answers for every slot; the selection stays as it was.
    device_->ProbeDevices();
    int found = 0;
    for (int slot = 0; slot < device_->DeviceCount(); ++slot) {
        if (!device_->IsPresent(slot)) continue;
        ++found;
        FormatDeviceName(names + (found - 1) * kNameEntryChars, kNameEntryChars, found);
    }
    for (int i = found; i < kClearedEntries; ++i) names[i * kNameEntryChars] = '\0';
    return found;
}

int32_t CVimbra::EnumDeviceW(char16_t* names) {
    if (!RequireDevice()) return 0;
    if (names == nullptr) {
        RecordError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    // The presence found by the last probe, not a new one.
    int found = 0;
    for (int slot = 0; slot < device_->DeviceCount(); ++slot) {
        if (!device_->IsPresent(slot)) continue;
        ++found;
        char name[32];
        FormatDeviceName(name, sizeof name, found);
        platform::NarrowToWide(name, names + (found - 1) * kNameEntryChars, kNameEntryChars);
    }
    for (int i = found; i < kClearedEntries; ++i) names[i * kNameEntryChars] = u'\0';
    return found;
}

bool CVimbra::NameRequestValid(int32_t slot, const void* name, int32_t size_bytes,
                               int32_t unit_bytes) {
    if (!RequireDevice()) return false;
    // Sizes that cannot hold the whole name fail rather than truncate it.
    if (name == nullptr || size_bytes <= kMinNameBufferBytes ||
        size_bytes < kDeviceNameChars * unit_bytes || slot < 0 ||
        slot >= CVBXSdkLib::kDeviceCount) {
        RecordError(VIMBRA_ERR_ARGUMENT);
        return false;
    }
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    if (!device_->IsPresent(slot)) {
        RecordError(VIMBRA_ERR_NO_CAMERA);
        return false;
    }
    return true;
}

int32_t CVimbra::GetDeviceName(int32_t slot, char* name, int32_t size) {
    if (!NameRequestValid(slot, name, size, 1)) return 0;
    FormatDeviceName(name, static_cast<size_t>(size), slot + 1);
    return 1;
}

int32_t CVimbra::GetDeviceNameW(int32_t slot, char16_t* name, int32_t size_bytes) {
    if (!NameRequestValid(slot, name, size_bytes, sizeof(char16_t))) return 0;
    char narrow[32];
    FormatDeviceName(narrow, sizeof narrow, slot + 1);
    return platform::NarrowToWide(narrow, name, static_cast<size_t>(size_bytes) / sizeof(char16_t))
               ? 1
               : 0;
}

int32_t CVimbra::SetDeviceNumber(int32_t slot) {
    if (!RequireDevice()) return 0;
    // Switching cameras under a running acquisition would tear its transfer;
    // a stop in progress is waited for, since its worker may still be
    // reading a frame into the buffers a new camera replaces.
    std::lock_guard<std::recursive_mutex> control(control_);
    if (State() != AcqState::kIdle) {
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    SaveCameraSettings();
    if (!device_->IsPresent(slot) || device_->SelectCamera(slot) != kDevOk) {
        RecordError(VIMBRA_ERR_NO_CAMERA);
        return 0;
    }
    LoadCameraSettings();
    device_->ApplySensorVariantFromSrom();
    std::lock_guard<std::mutex> settings(settings_mutex_);
    camera_number_ = slot;
    return 1;
}

int32_t CVimbra::GetCameraInfo(VimbraCameraInfo* info) {
    if (!RequireDevice()) return 0;
    if (info == nullptr) {
        RecordError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    if (info->size < static_cast<int32_t>(sizeof(VimbraCameraInfo))) {
        RecordError(VIMBRA_ERR_MEMORY);
        return 0;
    }
    info->maxWidth = kSensorWidth;
    info->maxHeight = kSensorHeight;
    info->minGlobalGain = device_->LowestGain();
    info->maxGlobalGain = Device::kMaxReportedGain;
    info->minColorGain = device_->LowestGain();
    info->maxColorGain = Device::kMaxReportedGain;
    info->minExposure = 1;
    info->maxExposure = device_->HighestShutterWidth();
    return 1;
}

int32_t CVimbra::ClaimCamera(int32_t slot) {
    return table_.Claim(slot, notify_window_);
}

int32_t CVimbra::ReleaseCamera(int32_t slot) {
    return table_.Release(slot, notify_window_);
}

bool CVimbra::CameraClaimedElsewhere(int32_t slot) {
    return table_.IsClaimed(slot);
}

}  // namespace vimbra
