// Camera settings: the video format, colour and sub-sample modes, the filter
// values, gains, exposure and mirrors, the automatic iris, and the register,
// serial memory and I/O port pass-throughs.
#include <algorithm>

#include "device/vimbra_740qx_rdl_sdk.h"
#include "image/convert.h"
#include "image/dib_image.h"
#include "session/vimbra.h"
#include "settings/settings_store.h"

namespace vimbra {
namespace {

using Device = CVimbra740QXRDLSdk;

constexpr ColourModeInfo kColourModes[] = {
    {8, 8, false}, {16, 12, true}, {24, 24, false}, {32, 32, false}, {48, 44, true}, {64, 60, true},
};

constexpr int kFirstFilterId = kFvBrightness;
constexpr int kLastFilterId = kFvGreyBalance;

// The sensor's register numbers are one byte.
constexpr int32_t kMaxRegister = 0xFF;

// Values the setter accepts for each filter value id; ids 6 and 10 take any.
struct ValueRange {
    int32_t lo, hi;
};
ValueRange RangeOf(int32_t id) {
    switch (id) {
        case kFvBrightness:
        case kFvSaturation:
            return {-255, 255};
        case kFvContrast:
            return {-127, 127};
        case kFvHue:
            return {-360, 360};
        case kFvSharpness:
            return {0, 30};
        case kFvBayerGainRed:
        case kFvBayerGainGreen:
        case kFvBayerGainBlue:
            return {0, 400};
        case kFvGamma:
            return {0, 200};
        case kFvBayerMode:
            return {0, 3};
        case kFvGlobalGain:
        case kFvColorGainRed:
        case kFvColorGainGreen1:
        case kFvColorGainGreen2:
        case kFvColorGainBlue:
            return {Device::kMinGain, Device::kMaxReportedGain};
        case kFvExposure:
            return {1, kMaxShutterWidth};
        case kFvGrayMode:
            return {0, 2};
        case kFvGrayGainR:
        case kFvGrayGainG1:
        case kFvGrayGainG2:
        case kFvGrayGainB:
            return {0, 255};
        case kFvGrayOffsetR:
        case kFvGrayOffsetG1:
        case kFvGrayOffsetG2:
        case kFvGrayOffsetB:
            return {-255, 255};
        case kFvGreyBalance:
            return {0, 1};
        default:
            return {INT32_MIN, INT32_MAX};
    }
}

// The filter record field a stored id reads and writes; null for the ids
// that pack several fields or reach the camera.
int32_t* StoredField(FilterRecord& f, int32_t id) {
    switch (id) {
        case kFvBrightness:
            return &f.brightness;
        case kFvContrast:
            return &f.contrast;
        case kFvHue:
            return &f.hue;
        case kFvSaturation:
            return &f.saturation;
        case kFvSharpness:
            return &f.sharpness;
        case kFvBayerGainRed:
            return &f.red_gain;
        case kFvBayerGainGreen:
            return &f.green_gain;
        case kFvBayerGainBlue:
            return &f.blue_gain;
        case kFvBayerGainAuto:
            return &f.bayer_gain_auto;
        case kFvGamma:
            return &f.gamma;
        case kFvBayerMode:
            return &f.bayer_mode;
        case kFvGrayMode:
            return &f.gray.mode;
        case kFvGrayGainR:
            return &f.gray.gain_r;
        case kFvGrayGainG1:
            return &f.gray.gain_g1;
        case kFvGrayGainG2:
            return &f.gray.gain_g2;
        case kFvGrayGainB:
            return &f.gray.gain_b;
        case kFvGrayOffsetR:
            return &f.gray.offset_r;
        case kFvGrayOffsetG1:
            return &f.gray.offset_g1;
        case kFvGrayOffsetG2:
            return &f.gray.offset_g2;
        case kFvGrayOffsetB:
            return &f.gray.offset_b;
        case kFvGreyBalance:
            return &f.grey_balance_request;
        default:
            return nullptr;
    }
}

bool ReachesCamera(int32_t id) {
    return id >= kFvGlobalGain && id <= kFvExposure;
}

// The sensor register of a colour gain id, and the analog field it keeps.
struct ColourGain {
    int reg;
    int32_t AnalogRecord::*field;
};
ColourGain ColourGainOf(int32_t id) {
    switch (id) {
        case kFvColorGainRed:
            return {kRegGainRed, &AnalogRecord::gain_r};
        case kFvColorGainGreen1:
            return {kRegGainGreen1, &AnalogRecord::gain_g1};
        case kFvColorGainGreen2:
            return {kRegGainGreen2, &AnalogRecord::gain_g2};
        default:
            return {kRegGainBlue, &AnalogRecord::gain_b};
    }
}

int32_t PackBayerGains(const FilterRecord& f) {
    return (f.red_gain & 0xFF) | (f.green_gain & 0xFF) << 8 | (f.blue_gain & 0xFF) << 16;
}

void SetFlag(int32_t* ok, bool value) {
    if (ok != nullptr) *ok = value ? 1 : 0;
}

// Mean-level bands of the automatic iris: the first region's factor and the
// other regions' corrections.
float IrisBand(int32_t mean, const float (&by_band)[5]) {
    if (mean > 200) return by_band[0];
    if (mean > 160) return by_band[1];
    if (mean >= 100) return by_band[2];
    if (mean >= 50) return by_band[3];
    return by_band[4];
}
// Single precision, as the factor has always been kept: 0.85 - 4 x 0.15
// accumulates to just above 0.25 in it (and just below in double), so a gain
// of 40 becomes 10.
constexpr float kIrisFirst[5] = {0.85f, 0.9f, 1.0f, 1.05f, 1.1f};
constexpr float kIrisOthers[5] = {-0.15f, -0.1f, 0.0f, 0.05f, 0.1f};
// Factors inside this band leave the camera alone.
constexpr float kIrisHoldLow = 0.6f, kIrisHoldHigh = 1.2f;
// The gain the iris starts from and keeps when it raises the gain.
constexpr int32_t kIrisMinGain = 4;

}  // namespace

const ColourModeInfo* ColourModeProperties(int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(std::size(kColourModes))) return nullptr;
    return &kColourModes[index];
}

float AutoIrisFactor(const int32_t means[5]) {
    float f = IrisBand(means[0], kIrisFirst);
    for (int i = 1; i < 5; ++i) f += IrisBand(means[i], kIrisOthers);
    return f;
}

// ---- format settings ---------------------------------------------------

int32_t CVimbra::SetColorMode(int32_t bits) {
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(kColourModes)); ++i) {
        if (kColourModes[i].set_bits != bits) continue;
        std::lock_guard<std::mutex> lock(settings_mutex_);
        format_.color_mode = i;
        return 1;
    }
    RecordError(VIMBRA_ERR_ARGUMENT);
    return 0;
}

int32_t CVimbra::GetColorMode() const {
    const ColourModeInfo* mode = ColourModeProperties(ColorModeIndex());
    return mode != nullptr ? mode->report_bits : -1;
}

int32_t CVimbra::SetSubSample(int32_t mode) {
    if (mode != 0 && mode != 1 && mode != 2 && mode != 17 && mode != 18) return 0;
    std::lock_guard<std::mutex> lock(settings_mutex_);
    format_.sub_sample = mode;
    return 1;
}

int32_t CVimbra::GetSubSample() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return format_.sub_sample;
}

int32_t CVimbra::SetWaitTime(int32_t ms) {
    if (ms < 0) return 0;
    std::lock_guard<std::mutex> lock(settings_mutex_);
    format_.wait_time = ms;
    return 1;
}

int32_t CVimbra::GetWaitTime() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return format_.wait_time;
}

int32_t CVimbra::SetHalfClock(int32_t mode) {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    format_.clock_mode = mode;
    return 1;
}

int32_t CVimbra::GetHalfClock(int32_t* ok) {
    SetFlag(ok, false);
    int value = 0;
    bool read = false;
    if (HasDevice()) {
        std::lock_guard<platform::RecursiveLock> lock(device_lock_);
        read = device_->ReadClock(&value);
    }
    if (!read) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    SetFlag(ok, true);
    return value;
}

// ---- capture window ----------------------------------------------------

int32_t CVimbra::SetCaptureWindowEx(int32_t th, int32_t ehs, int32_t eh, int32_t tv, int32_t evs,
                                    int32_t ev) {
    if (!RequireDevice()) return 0;
    // After a stop in progress, whose worker may still be reading a frame.
    std::lock_guard<std::recursive_mutex> control(control_);
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    bool valid = false;
    {
        std::lock_guard<std::mutex> settings(settings_mutex_);
        video_.th = th;
        video_.ehs = ehs;
        video_.eh = eh;
        video_.tv = tv;
        video_.evs = evs;
        video_.ev = ev;
        valid = VideoFormatValid(video_, format_.sub_sample);
    }
    // A window the sensor cannot read out (narrower than 4 or lower than 3
    // pixels) or one changed under a running transfer is refused as well.
    if (!valid || !ProgramWindow()) {
        RecordError(VIMBRA_ERR_FORMAT);
        return 0;
    }
    return 1;
}

int32_t CVimbra::GetCaptureWindowEx(int32_t* th, int32_t* ehs, int32_t* eh, int32_t* tv,
                                    int32_t* evs, int32_t* ev) const {
    const VideoFormat v = Format();
    if (th != nullptr) *th = v.th;
    if (ehs != nullptr) *ehs = v.ehs;
    if (eh != nullptr) *eh = v.eh;
    if (tv != nullptr) *tv = v.tv;
    if (evs != nullptr) *evs = v.evs;
    if (ev != nullptr) *ev = v.ev;
    return 1;
}

int32_t CVimbra::SetCaptureWindow(int32_t width, int32_t height) {
    if (!RequireDevice()) return 0;
    // After a stop in progress, whose worker may still be reading a frame.
    std::lock_guard<std::recursive_mutex> control(control_);
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    VideoFormat found = Format();
    if (!FindSize(width, height, found)) {
        RecordError(VIMBRA_ERR_WINDOW);
        return 0;
    }
    const bool valid = VideoFormatValid(found, GetSubSample());
    if (!valid) {
        found.th = found.eh = kSensorWidth;
        found.tv = found.ev = kSensorHeight;
        found.ehs = found.evs = 0;
    }
    {
        std::lock_guard<std::mutex> settings(settings_mutex_);
        video_ = found;
    }
    if (!valid) RecordError(VIMBRA_ERR_FORMAT);
    ProgramWindow();
    return 1;
}

int32_t CVimbra::Width() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return video_.eh;
}

int32_t CVimbra::Height() const {
    std::lock_guard<std::mutex> lock(settings_mutex_);
    return video_.ev;
}

// ---- filter values, gains and exposure ---------------------------------

bool CVimbra::ReadCameraValue(int32_t id, int32_t* value) {
    switch (id) {
        case kFvGlobalGain: {
            uint16_t raw = 0;
            const bool ok = device_->ReadSensorRegister(kRegGlobalGain, &raw);
            *value = raw & 0x7F;
            return ok;
        }
        case kFvExposure:
            return device_->ReadShutterWidth(value);
        default:
            return device_->ReadColorGain(ColourGainOf(id).reg, value);
    }
}

bool CVimbra::WriteCameraValue(int32_t id, int32_t value) {
    switch (id) {
        case kFvGlobalGain:
            if (!device_->SetGlobalGain(value)) return false;
            StoreGlobalGain(value);
            return true;
        case kFvExposure: {
            if (!device_->SetShutterWidth(value)) return false;
            std::lock_guard<std::mutex> settings(settings_mutex_);
            analog_.exposure = value;
            return true;
        }
        default: {
            const ColourGain gain = ColourGainOf(id);
            if (!device_->SetColorGain(gain.reg, value)) return false;
            std::lock_guard<std::mutex> settings(settings_mutex_);
            analog_.*gain.field = value;
            return true;
        }
    }
}

void CVimbra::StoreGlobalGain(int32_t gain) {
    std::lock_guard<std::mutex> settings(settings_mutex_);
    analog_.global_gain = gain;
    analog_.gain_g1 = analog_.gain_r = analog_.gain_b = analog_.gain_g2 = gain;
}

int32_t CVimbra::GetFilterValue(int32_t id, int32_t* ok) {
    SetFlag(ok, false);
    if (!RequireDevice()) return 0;
    if (id < kFirstFilterId || id > kLastFilterId) {
        RecordError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    int32_t value = 0;
    if (ReachesCamera(id)) {
        std::lock_guard<platform::RecursiveLock> lock(device_lock_);
        if (!ReadCameraValue(id, &value)) {
            RecordError(VIMBRA_ERR_REGISTER);
            return 0;
        }
    } else {
        std::lock_guard<std::mutex> settings(settings_mutex_);
        value = id == kFvBayerGainRgb ? PackBayerGains(filter_) : *StoredField(filter_, id);
    }
    SetFlag(ok, true);
    return value;
}

int32_t CVimbra::SetFilterValue(int32_t id, int32_t value) {
    if (!RequireDevice()) return 0;
    const ValueRange range = RangeOf(id);
    if (id < kFirstFilterId || id > kLastFilterId || value < range.lo || value > range.hi) {
        RecordError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    if (ReachesCamera(id)) {
        std::lock_guard<platform::RecursiveLock> lock(device_lock_);
        if (!WriteCameraValue(id, value)) {
            RecordError(VIMBRA_ERR_REGISTER);
            return 0;
        }
        return 1;
    }
    std::lock_guard<std::mutex> settings(settings_mutex_);
    if (id == kFvBayerGainRgb) {
        filter_.red_gain = value & 0xFF;
        filter_.green_gain = (value >> 8) & 0xFF;
        filter_.blue_gain = (value >> 16) & 0xFF;
    } else {
        *StoredField(filter_, id) = id == kFvBayerGainAuto ? (value != 0 ? 1 : 0) : value;
    }
    return 1;
}

// ---- mirrors and auto iris ---------------------------------------------

int32_t CVimbra::SetMirrorH(int32_t flag) {
    if (!RequireDevice()) return 0;
    const int32_t on = flag != 0 ? 1 : 0;
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    device_->SetHorizontalMirror(on);
    std::lock_guard<std::mutex> settings(settings_mutex_);
    analog_.h_mirror = on;
    return 1;
}

int32_t CVimbra::SetMirrorV(int32_t flag) {
    if (!HasDevice()) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    const int32_t on = flag != 0 ? 1 : 0;
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    device_->SetVerticalMirror(on);
    std::lock_guard<std::mutex> settings(settings_mutex_);
    analog_.v_mirror = on;
    return 1;
}

int32_t CVimbra::GetMirrorH() {
    if (!RequireDevice()) return 0;
    return Analog().h_mirror;
}

int32_t CVimbra::GetMirrorV() {
    if (!HasDevice()) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    return Analog().v_mirror;
}

int32_t CVimbra::SetAutoIris(int32_t mode) {
    if (mode < 0 || mode > 2) {
        NotifyError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    std::lock_guard<std::mutex> settings(settings_mutex_);
    analog_.auto_iris = mode;
    return 1;
}

int32_t CVimbra::GetAutoIris(int32_t* ok) const {
    SetFlag(ok, true);
    return Analog().auto_iris;
}

void CVimbra::AutoIrisStep(CDibImage& raw) {
    const int32_t mode = Analog().auto_iris;
    const int32_t w = raw.width(), h = raw.height();
    if ((mode != 1 && mode != 2) || raw.empty() || w <= 0 || h <= 0 || !HasDevice()) return;
    // Four corners and the centre, as fractions of the frame.
    static constexpr double kRegions[5][4] = {{0.1, 0.1, 0.2, 0.2},
                                              {0.1, 0.8, 0.2, 0.9},
                                              {0.45, 0.45, 0.55, 0.55},
                                              {0.8, 0.1, 0.9, 0.2},
                                              {0.8, 0.8, 0.9, 0.9}};
    const PixelRoutine mean_of = raw.bytes_per_pixel() == 1 ? RegionMean8 : RegionMean16;
    int32_t means[5];
    for (int i = 0; i < 5; ++i) {
        const Rect r{
            static_cast<int32_t>(kRegions[i][0] * w), static_cast<int32_t>(kRegions[i][1] * h),
            static_cast<int32_t>(kRegions[i][2] * w), static_cast<int32_t>(kRegions[i][3] * h)};
        means[i] = CDibImage::ConvertBlit(&raw, mean_of, &raw, &r, r.left, r.top, nullptr, nullptr);
    }
    const float f = AutoIrisFactor(means);
    if (f > kIrisHoldLow && f < kIrisHoldHigh) return;

    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    if (mode == 2) {
        const int32_t g = std::max(device_->ReadGlobalGain(), kIrisMinGain);
        int32_t n = static_cast<int32_t>(static_cast<float>(g) * f);
        if (f > 1.0f) n = std::max(n, kIrisMinGain);
        n = std::clamp(n, device_->LowestGain(), static_cast<int32_t>(Device::kMaxReportedGain));
        if (device_->SetGlobalGain(n)) {
            StoreGlobalGain(n);
            open_dialogs_.AutoIrisGain(n);
        }
    } else {
        int e = 0;
        device_->ReadShutterWidth(&e);
        int32_t n = static_cast<uint16_t>(static_cast<int32_t>(static_cast<float>(e) * f));
        n = std::clamp(n, 1, device_->HighestShutterWidth());
        if (device_->SetShutterWidth(n)) {
            open_dialogs_.AutoIrisExposure(n);
            std::lock_guard<std::mutex> settings(settings_mutex_);
            analog_.exposure = n;
        }
    }
}

int32_t CVimbra::SetRealExposureTime(int32_t microseconds) {
    if (!RequireDevice()) return 0;
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    int32_t sub = 0, eh = 0, clock = 0;
    {
        std::lock_guard<std::mutex> settings(settings_mutex_);
        sub = format_.sub_sample;
        eh = video_.eh;
        clock = format_.clock_mode;
    }
    const int rows = Device::ExposureRowsFor(microseconds, sub, eh, clock);
    if (rows == 0) {
        RecordError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    if (!device_->SetShutterWidth(rows)) {
        RecordError(VIMBRA_ERR_REGISTER);
        return 0;
    }
    std::lock_guard<std::mutex> settings(settings_mutex_);
    analog_.exposure = rows;
    return 1;
}

int32_t CVimbra::GetRealExposureTime(int32_t* ok) {
    SetFlag(ok, false);
    if (!RequireDevice()) return 0;
    std::lock_guard<std::mutex> settings(settings_mutex_);
    const int64_t row = Device::RowLengthClocks(format_.sub_sample, video_.eh);
    exposure_.clock_period_ms = Device::ClockPeriodMs(format_.clock_mode);
    exposure_.row_length_clocks = static_cast<uint32_t>(row);
    exposure_.row_offset_clocks = 0;
    exposure_.rows = analog_.exposure;
    exposure_.real_exposure_us = Device::ExposureMicroseconds(analog_.exposure, format_.sub_sample,
                                                              video_.eh, format_.clock_mode);
    SetFlag(ok, true);
    return exposure_.real_exposure_us;
}

// ---- pass-throughs -------------------------------------------------------

int32_t CVimbra::GetIOPort(uint8_t* value) {
    if (!HasDevice()) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    if (value == nullptr) {
        NotifyError(VIMBRA_ERR_ARGUMENT);
        return 0;
    }
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    if (!device_->ReadIoPort(value)) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    return 1;
}

int32_t CVimbra::SetIOPort(int32_t value) {
    if (!HasDevice()) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    std::lock_guard<platform::RecursiveLock> lock(device_lock_);
    if (!device_->SetIoPort(value)) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    return 1;
}

int32_t CVimbra::ReadRegister(int32_t reg, int32_t* ok) {
    SetFlag(ok, false);
    if (!RequireDevice()) return 0;
    uint16_t value = 0;
    bool read = false;
    if (reg >= 0 && reg <= kMaxRegister) {
        std::lock_guard<platform::RecursiveLock> lock(device_lock_);
        read = device_->ReadSensorRegister(reg, &value);
    }
    if (!read) {
        RecordError(VIMBRA_ERR_REGISTER);
        return 0;
    }
    SetFlag(ok, true);
    return value;
}

int32_t CVimbra::WriteRegister(int32_t reg, int32_t value) {
    if (!RequireDevice()) return 0;
    bool written = false;
    if (reg >= 0 && reg <= kMaxRegister) {
        std::lock_guard<platform::RecursiveLock> lock(device_lock_);
        written = device_->WriteSensorRegister(reg, static_cast<uint16_t>(value));
    }
    if (!written) {
        RecordError(VIMBRA_ERR_REGISTER);
        return 0;
    }
    return 1;
}

int32_t CVimbra::ReadSromID(int32_t address, int32_t* ok) {
    SetFlag(ok, false);
    uint8_t value = 0;
    bool read = false;
    if (HasDevice()) {
        std::lock_guard<platform::RecursiveLock> lock(device_lock_);
        read = device_->ReadSromId(static_cast<uint32_t>(address), &value);
    }
    if (!read) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    SetFlag(ok, true);
    return value;
}

int32_t CVimbra::WriteSromID(int32_t address, int32_t value) {
    bool written = false;
    if (HasDevice()) {
        std::lock_guard<platform::RecursiveLock> lock(device_lock_);
        written = device_->WriteSrom(static_cast<uint32_t>(address), static_cast<uint32_t>(value));
    }
    if (!written) {
        NotifyError(VIMBRA_ERR_STATE);
        return 0;
    }
    return 1;
}

int32_t CVimbra::GetConfigFilter() {
    RecordError(VIMBRA_ERR_UNSUPPORTED);
    return -1;
}

int32_t CVimbra::SetConfigFilter() {
    RecordError(VIMBRA_ERR_UNSUPPORTED);
    return -1;
}

}  // namespace vimbra
