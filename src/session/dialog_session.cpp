#include "session/dialog_session.h"

#include <mutex>

#include "device/vimbra_740qx_rdl_sdk.h"
#include "dialogs/filter_fields.h"
#include "settings/settings_store.h"
#ifdef VIMBRA_HAVE_DIALOG_VIEWS
#include "dialogs/views/system_display.h"
#endif

namespace vimbra {
namespace {

using Device = CVimbra740QXRDLSdk;

#ifndef VIMBRA_HAVE_DIALOG_VIEWS
// Built without a toolkit: no dialog can be shown.
class NoDisplay final : public dialogs::DialogDisplay {
  public:
    bool Available() override { return false; }
    int Run(dialogs::CameraDialogModel&, HWND) override { return 0; }
    int Run(dialogs::AnalogDialogModel&, HWND) override { return 0; }
    int Run(dialogs::ImageDialogModel&, HWND) override { return 0; }
};
#endif

dialogs::DialogDisplay& Display() {
#ifdef VIMBRA_HAVE_DIALOG_VIEWS
    return dialogs::views::SystemDisplay();
#else
    static NoDisplay display;
    return display;
#endif
}

}  // namespace

void SessionDialogs::LoadCameraDialogSettings(CameraDialogSettings& settings) {
    LoadDialogSettings(settings);
}

void SessionDialogs::SaveCameraDialogSettings(const CameraDialogSettings& settings) {
    SaveDialogSettings(settings);
}

void SessionDialogs::PauseAcquisition() {
    paused_ = s_.PauseForDialog();
}

void SessionDialogs::ResumeAcquisition(bool reload_format) {
    if (reload_format) {
        // The reloaded format takes effect when the acquisition starts again.
        VideoFormat video = s_.Format();
        FormatSettings format;
        {
            std::lock_guard<std::mutex> settings(s_.settings_mutex_);
            format = s_.format_;
        }
        LoadSizes(s_.CameraNumber(), video);
        LoadVideoFormat(s_.CameraNumber(), format);
        std::lock_guard<std::mutex> settings(s_.settings_mutex_);
        s_.video_ = video;
        s_.format_ = format;
    }
    s_.ResumeAfterDialog(paused_);
}

void SessionDialogs::ReadAnalogFromCamera() {
    std::lock_guard<platform::RecursiveLock> lock(s_.device_lock_);
    if (!s_.HasDevice()) return;
    struct Read {
        int32_t id;
        int32_t AnalogRecord::*field;
    };
    static constexpr Read kReads[] = {
        {kFvGlobalGain, &AnalogRecord::global_gain},  {kFvColorGainGreen1, &AnalogRecord::gain_g1},
        {kFvColorGainRed, &AnalogRecord::gain_r},     {kFvColorGainBlue, &AnalogRecord::gain_b},
        {kFvColorGainGreen2, &AnalogRecord::gain_g2}, {kFvExposure, &AnalogRecord::exposure},
    };
    AnalogRecord analog = s_.Analog();
    for (const Read& r : kReads) {
        int32_t value = 0;
        if (s_.ReadCameraValue(r.id, &value)) analog.*r.field = value;
    }
    analog.v_mirror = s_.device_->ReadVerticalMirror();
    analog.h_mirror = s_.device_->ReadHorizontalMirror();
    SetAnalog(analog);
}

void SessionDialogs::SetAnalog(const AnalogRecord& analog) {
    std::lock_guard<std::mutex> settings(s_.settings_mutex_);
    s_.analog_ = analog;
}

void SessionDialogs::SetAnalogField(int32_t AnalogRecord::*field, int32_t value) {
    std::lock_guard<std::mutex> settings(s_.settings_mutex_);
    s_.analog_.*field = value;
}

dialogs::AnalogLimits SessionDialogs::Limits() const {
    dialogs::AnalogLimits limits;
    std::lock_guard<platform::RecursiveLock> lock(s_.device_lock_);
    if (!s_.HasDevice()) return limits;
    const Device& device = *s_.device_;
    limits.gain_min = device.LowestGain();
    limits.gain_max = Device::kMaxReportedGain;
    limits.global_gain_default = device.DefaultGlobalGain();
    limits.color_gain_default = device.DefaultColorGain(dialogs::kRegisterG1);
    limits.exposure_min = 1;
    limits.exposure_max = device.HighestShutterWidth();
    limits.exposure_default = device.DefaultShutterWidth();
    return limits;
}

dialogs::ExposureTiming SessionDialogs::Timing() const {
    const ExposureCache cache = s_.Exposure();
    return {static_cast<int32_t>(cache.row_length_clocks),
            static_cast<int32_t>(cache.row_offset_clocks), cache.clock_period_ms};
}

void SessionDialogs::WriteGlobalGain(int32_t gain) {
    std::lock_guard<platform::RecursiveLock> lock(s_.device_lock_);
    if (s_.HasDevice()) s_.device_->SetGlobalGain(gain);
}

void SessionDialogs::WriteColorGain(dialogs::ColorGainRegister reg, int32_t gain) {
    std::lock_guard<platform::RecursiveLock> lock(s_.device_lock_);
    if (s_.HasDevice()) s_.device_->SetColorGain(reg, gain);
}

void SessionDialogs::WriteExposure(int32_t rows) {
    std::lock_guard<platform::RecursiveLock> lock(s_.device_lock_);
    if (s_.HasDevice()) s_.device_->SetShutterWidth(rows);
}

void SessionDialogs::WriteMirrorV(int32_t on) {
    std::lock_guard<platform::RecursiveLock> lock(s_.device_lock_);
    if (s_.HasDevice()) s_.device_->SetVerticalMirror(on);
}

void SessionDialogs::WriteMirrorH(int32_t on) {
    std::lock_guard<platform::RecursiveLock> lock(s_.device_lock_);
    if (s_.HasDevice()) s_.device_->SetHorizontalMirror(on);
}

void SessionDialogs::SetFilter(const FilterRecord& filter) {
    std::lock_guard<std::mutex> settings(s_.settings_mutex_);
    s_.filter_ = filter;
}

int32_t SessionDialogs::FilterField(int slot) const {
    std::lock_guard<std::mutex> settings(s_.settings_mutex_);
    return *dialogs::FilterSlot(s_.filter_, slot);
}

void SessionDialogs::SetFilterField(int slot, int32_t value) {
    std::lock_guard<std::mutex> settings(s_.settings_mutex_);
    *dialogs::FilterSlot(s_.filter_, slot) = value;
}

int32_t SetCameraDlg(CVimbra& session, HWND parent) {
    SessionDialogs dialogs(session);
    return dialogs::RunCameraDialog(dialogs, Display(), parent);
}

int32_t SetAnalogDlg(CVimbra& session, HWND parent) {
    SessionDialogs dialogs(session);
    return dialogs::RunAnalogDialog(dialogs, Display(), parent);
}

int32_t SetImageDlg(CVimbra& session, HWND parent) {
    SessionDialogs dialogs(session);
    return dialogs::RunImageDialog(dialogs, Display(), parent);
}

}  // namespace vimbra
