// What the property dialogs need of the camera session. The dialog models
// and the flows around them act on the session only through this interface,
// so they run without a camera, a session or a display; the session provides
// the real implementation over its own record and device.
#pragma once

#include <cstdint>

#include "dialogs/open_dialogs.h"
#include "settings/settings_records.h"

namespace vimbra::dialogs {

// Ranges and defaults of the sensor's analog settings.
struct AnalogLimits {
    int32_t gain_min = 0;
    int32_t gain_max = 63;
    int32_t global_gain_default = 14;
    int32_t color_gain_default = 14;
    int32_t exposure_min = 1;
    int32_t exposure_max = 16383;
    int32_t exposure_default = 1970;
};

// The session's last exposure computation, which turns rows into time.
struct ExposureTiming {
    int32_t line_length = 0;  // clocks per row
    int32_t line_offset = 0;  // clocks added once
    double clock_period_ms = 1.0;
};

// Colour gain registers of the Bayer cell.
enum ColorGainRegister : int32_t {
    kRegisterG1 = 43,
    kRegisterB = 44,
    kRegisterR = 45,
    kRegisterG2 = 46,
};

class DialogSession {
  public:
    virtual ~DialogSession() = default;

    // Whether the session has its device object; without one every dialog
    // call records code 1 and returns 0.
    virtual bool HasDevice() const = 0;
    // Record-and-notify of an error code.
    virtual void RecordError(int32_t code) = 0;
    // The session's requests to open dialogs (white balance, auto iris).
    virtual OpenDialogs& Dialogs() = 0;

    // Camera dialog.
    // The camera number whose stored format the dialog edits.
    virtual int32_t CameraNumber() const = 0;
    // The settings store's dialog load and save for `settings.camera_number`.
    virtual void LoadCameraDialogSettings(CameraDialogSettings& settings) = 0;
    virtual void SaveCameraDialogSettings(const CameraDialogSettings& settings) = 0;
    // Stops a running preview or capture, or pauses a running trigger
    // acquisition, before the camera dialog opens.
    virtual void PauseAcquisition() = 0;
    // After the camera dialog: reloads the size, colour mode, sub-sample, wait
    // time and clock from the store when `reload_format` (the user pressed OK),
    // then restarts or resumes what PauseAcquisition stopped.
    virtual void ResumeAcquisition(bool reload_format) = 0;

    // Analog dialog.
    // Reads the camera's gains, exposure and mirrors into the analog record.
    virtual void ReadAnalogFromCamera() = 0;
    virtual AnalogRecord Analog() const = 0;
    virtual void SetAnalog(const AnalogRecord& analog) = 0;
    // Field by field writes of the analog record, as the dialog edits it.
    virtual void SetAnalogField(int32_t AnalogRecord::*field, int32_t value) = 0;
    virtual AnalogLimits Limits() const = 0;
    virtual ExposureTiming Timing() const = 0;
    // Camera writes; they change the device, not the analog record.
    virtual void WriteGlobalGain(int32_t gain) = 0;
    virtual void WriteColorGain(ColorGainRegister reg, int32_t gain) = 0;
    virtual void WriteExposure(int32_t rows) = 0;
    virtual void WriteMirrorV(int32_t on) = 0;
    virtual void WriteMirrorH(int32_t on) = 0;

    // Image filter dialog. The acquisition converts frames with the same
    // record while the dialog edits it, so fields are written one at a time.
    virtual int32_t ColorModeIndex() const = 0;
    virtual FilterRecord Filter() const = 0;
    virtual void SetFilter(const FilterRecord& filter) = 0;
    virtual int32_t FilterField(int index) const = 0;
    virtual void SetFilterField(int index, int32_t value) = 0;
};

}  // namespace vimbra::dialogs
