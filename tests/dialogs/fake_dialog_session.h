// A session for the dialog tests: records in memory, a camera that logs each
// write and keeps the last value, and the real settings store for the camera
// dialog (tests give it a private registry file).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "dialogs/dialog_flow.h"
#include "dialogs/filter_fields.h"
#include "settings/settings_store.h"

namespace vimbra::dialogs::testing {

struct FakeCamera {
    int32_t global_gain = 0;
    std::map<int32_t, int32_t> color_gains;  // by register
    int32_t exposure = 0;
    int32_t mirror_v = 0;
    int32_t mirror_h = 0;
    bool operator==(const FakeCamera&) const = default;
};

class FakeSession : public DialogSession {
  public:
    bool has_device = true;
    std::vector<int32_t> errors;
    std::vector<std::string> log;  // camera writes and acquisition calls, in order
    FakeCamera camera;
    AnalogRecord analog;
    FilterRecord filter;
    int32_t colour_mode = 2;
    int32_t camera_number = 0;
    ExposureTiming timing{3476, 0, 1.0 / 24000};
    OpenDialogs open_dialogs;

    bool HasDevice() const override { return has_device; }
    void RecordError(int32_t code) override { errors.push_back(code); }
    OpenDialogs& Dialogs() override { return open_dialogs; }

    int32_t CameraNumber() const override { return camera_number; }
    void LoadCameraDialogSettings(CameraDialogSettings& settings) override {
        LoadDialogSettings(settings);
    }
    void SaveCameraDialogSettings(const CameraDialogSettings& settings) override {
        log.push_back("save");
        SaveDialogSettings(settings);
    }
    void PauseAcquisition() override { log.push_back("pause"); }
    void ResumeAcquisition(bool reload_format) override {
        log.push_back(reload_format ? "resume reload" : "resume");
    }

    void ReadAnalogFromCamera() override {
        analog.global_gain = camera.global_gain;
        analog.gain_g1 = camera.color_gains[kRegisterG1];
        analog.gain_r = camera.color_gains[kRegisterR];
        analog.gain_b = camera.color_gains[kRegisterB];
        analog.gain_g2 = camera.color_gains[kRegisterG2];
        analog.exposure = camera.exposure;
        analog.v_mirror = camera.mirror_v;
        analog.h_mirror = camera.mirror_h;
    }
    AnalogRecord Analog() const override { return analog; }
    void SetAnalog(const AnalogRecord& record) override { analog = record; }
    void SetAnalogField(int32_t AnalogRecord::*field, int32_t value) override {
        analog.*field = value;
    }
    AnalogLimits Limits() const override { return {}; }
    ExposureTiming Timing() const override { return timing; }
    void WriteGlobalGain(int32_t gain) override {
        camera.global_gain = gain;
        log.push_back("gain " + std::to_string(gain));
    }
    void WriteColorGain(ColorGainRegister reg, int32_t gain) override {
        camera.color_gains[reg] = gain;
        log.push_back("color " + std::to_string(reg) + " " + std::to_string(gain));
    }
    void WriteExposure(int32_t rows) override {
        camera.exposure = rows;
        log.push_back("exposure " + std::to_string(rows));
    }
    void WriteMirrorV(int32_t on) override {
        camera.mirror_v = on;
        log.push_back("mirror v " + std::to_string(on));
    }
    void WriteMirrorH(int32_t on) override {
        camera.mirror_h = on;
        log.push_back("mirror h " + std::to_string(on));
    }

    int32_t ColorModeIndex() const override { return colour_mode; }
    FilterRecord Filter() const override { return filter; }
    void SetFilter(const FilterRecord& record) override { filter = record; }
    int32_t FilterField(int index) const override {
        return *FilterSlot(const_cast<FilterRecord&>(filter), index);
    }
    void SetFilterField(int index, int32_t value) override { *FilterSlot(filter, index) = value; }
};

// A display that runs a script against the open model instead of a window;
// a script that leaves the dialog open ends it as the close box does. With
// `window_fails`, the window cannot be made and no script runs.
class ScriptedDisplay : public DialogDisplay {
  public:
    bool available = true;
    bool window_fails = false;
    std::function<void(CameraDialogModel&)> camera_script;
    std::function<void(AnalogDialogModel&)> analog_script;
    std::function<void(ImageDialogModel&)> image_script;

    bool Available() override { return available; }
    int Run(CameraDialogModel& model, HWND) override { return Play(model, camera_script); }
    int Run(AnalogDialogModel& model, HWND) override { return Play(model, analog_script); }
    int Run(ImageDialogModel& model, HWND) override { return Play(model, image_script); }

  private:
    template <typename Model>
    int Play(Model& model, const std::function<void(Model&)>& script) const {
        if (window_fails) return kResultNotShown;
        if (script) script(model);
        if (model.Result() == 0) model.Close();
        return model.Result();
    }
};

}  // namespace vimbra::dialogs::testing
