// CVimbra: one camera session per instance handle. It owns the device object,
// the images and the filter workspace, holds every setting and the error
// codes of the session, and maps the camera table shared between processes.
// Its operations are split by concern: initialisation and camera selection
// (initialize.cpp), camera settings (settings.cpp), the configuration file
// (config.cpp), and construction, teardown and error reporting (vimbra.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "device/config_file.h"
#include "image/filters.h"
#include "image/process_frame.h"
#include "platform/event.h"
#include "session/camera_table.h"
#include "session/error_stack.h"
#include "settings/settings_records.h"

namespace vimbra {

class CDibImage;
class CVimbra740QXRDLSdk;

// Acquisition states.
enum class AcqState : int32_t { kIdle = 0, kPreview = 1, kCapture = 2, kTrigger = 3 };

// Colour modes by index, with what each reads and produces.
enum class ColourMode : int32_t { kGrey8, kGrey16, kRgb24, kRgb32, kRgb48, kRgb64 };
struct ColourModeInfo {
    int32_t set_bits;     // the value Vimbra_SetColorMode takes
    int32_t report_bits;  // the value Vimbra_GetColorMode answers
    bool samples16;       // the camera sends 16-bit samples
};
// Properties of colour mode index 0..5; null outside.
const ColourModeInfo* ColourModeProperties(int32_t index);

// The filter value identifiers of Vimbra_GetFilterValue / Vimbra_SetFilterValue.
enum FilterValueId : int32_t {
    kFvBrightness = 1,
    kFvContrast,
    kFvHue,
    kFvSaturation,
    kFvSharpness,
    kFvBayerGainRgb,
    kFvBayerGainRed,
    kFvBayerGainGreen,
    kFvBayerGainBlue,
    kFvBayerGainAuto,
    kFvGamma,
    kFvBayerMode,
    kFvGlobalGain,
    kFvColorGainRed,
    kFvColorGainGreen1,
    kFvColorGainGreen2,
    kFvColorGainBlue,
    kFvExposure,
    kFvGrayMode,
    kFvGrayGainR,
    kFvGrayGainG1,
    kFvGrayGainG2,
    kFvGrayGainB,
    kFvGrayOffsetR,
    kFvGrayOffsetG1,
    kFvGrayOffsetG2,
    kFvGrayOffsetB,
    kFvGreyBalance,
};

// The validity rule of a video format with a sub-sample mode.
bool VideoFormatValid(const VideoFormat& format, int32_t sub_sample);

// The factor the automatic iris applies, from the mean levels (0..255) of its
// five regions, the first weighted most.
float AutoIrisFactor(const int32_t means[5]);

// Results of the last exposure computation, which the analog dialog shows.
struct ExposureCache {
    uint32_t row_length_clocks = 0;
    uint32_t row_offset_clocks = 0;
    int32_t rows = 1;
    double clock_period_ms = 1.0;
    int32_t real_exposure_us = 0;
};

class CVimbra : public FrameCallbacks {
  public:
    // Entries Vimbra_EnumDevice may write: one per camera found.
    static constexpr int kNameTableEntries = 32;
    static constexpr int kNameEntryChars = 256;

    CVimbra();
    ~CVimbra() override;
    CVimbra(const CVimbra&) = delete;
    CVimbra& operator=(const CVimbra&) = delete;

    // ---- initialisation and camera selection (initialize.cpp) ----------
    // Maps the camera table, creates the device object and the images, loads
    // and applies the stored settings. 1, or code 5 and 0; after a failure
    // the session holds no device object, so every camera operation fails
    // with code 1.
    int32_t Initialize(HWND notify);
    int32_t EnumDevice(char* names);
    int32_t EnumDeviceW(char16_t* names);
    int32_t GetDeviceName(int32_t slot, char* name, int32_t size);
    int32_t GetDeviceNameW(int32_t slot, char16_t* name, int32_t size_bytes);
    int32_t SetDeviceNumber(int32_t slot);
    int32_t GetCameraInfo(VimbraCameraInfo* info);
    int32_t ClaimCamera(int32_t slot);
    int32_t ReleaseCamera(int32_t slot);
    // True when another session (of any process still running) holds `slot`.
    bool CameraClaimedElsewhere(int32_t slot);

    // ---- error reporting (vimbra.cpp) ----------------------------------
    // Record-and-notify pushes the code and posts it to the notification
    // window when one is set; notify-only just posts it (to the calling
    // thread's queue when there is no window).
    void RecordError(int32_t code);
    void NotifyError(int32_t code);
    int32_t GetLastError() { return errors_.Pop(); }
    const ErrorStack& Errors() const { return errors_; }

    // ---- settings (settings.cpp) ---------------------------------------
    int32_t SetColorMode(int32_t bits);
    int32_t GetColorMode() const;
    int32_t SetSubSample(int32_t mode);
    int32_t GetSubSample() const;
    int32_t SetWaitTime(int32_t ms);
    int32_t GetWaitTime() const;
    int32_t SetHalfClock(int32_t mode);
    int32_t GetHalfClock(int32_t* ok);
    int32_t SetCaptureWindow(int32_t width, int32_t height);
    int32_t SetCaptureWindowEx(int32_t th, int32_t ehs, int32_t eh, int32_t tv, int32_t evs,
                               int32_t ev);
    int32_t GetCaptureWindowEx(int32_t* th, int32_t* ehs, int32_t* eh, int32_t* tv, int32_t* evs,
                               int32_t* ev) const;
    int32_t Width() const;
    int32_t Height() const;
    int32_t GetFilterValue(int32_t id, int32_t* ok);
    int32_t SetFilterValue(int32_t id, int32_t value);
    int32_t SetMirrorH(int32_t flag);
    int32_t SetMirrorV(int32_t flag);
    int32_t GetMirrorH();
    int32_t GetMirrorV();
    int32_t SetAutoIris(int32_t mode);
    int32_t GetAutoIris(int32_t* ok) const;
    int32_t SetRealExposureTime(int32_t microseconds);
    int32_t GetRealExposureTime(int32_t* ok);
    int32_t GetIOPort(uint8_t* value);
    int32_t SetIOPort(int32_t value);
    int32_t ReadRegister(int32_t reg, int32_t* ok);
    int32_t WriteRegister(int32_t reg, int32_t value);
    int32_t ReadSromID(int32_t address, int32_t* ok);
    int32_t WriteSromID(int32_t address, int32_t value);
    int32_t GetConfigFilter();
    int32_t SetConfigFilter();

    // Exposure or gain feedback from the raw frame, run by ProcessFrame at
    // the start of every converted frame while the auto iris mode is 1 or 2.
    void AutoIrisStep(CDibImage& raw) override;
    void FilterRecordChanged() override {}

    // ---- configuration file (config.cpp) -------------------------------
    int32_t LoadConfigFile(const char* path);
    int32_t LoadConfigFileW(const char16_t* path);
    std::vector<ConfigPair> ConfigList();

    // ---- state for the other layers and tests --------------------------
    int32_t ColorModeIndex() const;
    int32_t GetClockMode() const;
    int32_t CameraNumber() const;
    int32_t TriggerWaitTime() const { return trigger_wait_time_; }
    AcqState State() const { return state_.load(); }
    bool HasDevice() const { return device_ != nullptr; }
    HWND NotifyWindow() const { return notify_window_; }
    AnalogRecord Analog() const;
    FilterRecord Filter() const;
    VideoFormat Format() const;
    ExposureCache Exposure() const;

  private:
    // Loads the analog, filter and gray settings of the device's camera,
    // overlays a monochrome camera's gray calibration and applies the analog
    // settings to the camera. Called with the device lock held.
    void LoadCameraSettings();
    // Saves the analog, filter and gray settings of the device's camera.
    void SaveCameraSettings();
    // Global gain, colour gains G1, R, B, G2, exposure, vertical and
    // horizontal mirror, in that order.
    void ApplyAnalog(const AnalogRecord& analog);
    // Programs the device window from the stored format. False when the
    // device refuses it.
    bool ProgramWindow();
    // The camera's global gain (filter id 13) or a colour gain (14..17) or
    // the exposure (18); false when the camera cannot be read.
    bool ReadCameraValue(int32_t id, int32_t* value);
    bool WriteCameraValue(int32_t id, int32_t value);
    // Sets the session's global gain and the four colour gains it fans out to.
    void StoreGlobalGain(int32_t gain);
    // Records code 1 when there is no device object; false then.
    bool RequireDevice();
    void CreateImages();
    void DestroyCameraObjects();

    CameraTable table_;

    // The device object is driven by one thread at a time: every call into
    // it holds device_lock_. Settings calls that go with a device call take
    // it first and settings_mutex_ second, never the other way round.
    platform::RecursiveLock device_lock_;
    std::unique_ptr<CVimbra740QXRDLSdk> device_;

    // Raw images by sample depth, output images by colour depth, the work
    // image of the filters and the display image of the preview window.
    struct Images {
        CDibImage* raw8() const { return owned[0].get(); }
        CDibImage* raw16() const { return owned[1].get(); }
        FrameImages Frame() const;
        std::unique_ptr<CDibImage> owned[8];
    };
    Images images_;
    FilterWorkspace workspace_;

    // Guards the settings records below; hosts may set and read single
    // values from several threads at once.
    mutable std::mutex settings_mutex_;
    VideoFormat video_;
    FilterRecord filter_;
    AnalogRecord analog_;
    FormatSettings format_;
    ExposureCache exposure_;
    int32_t camera_number_ = 0;

    platform::RecursiveLock image_lock_;
    // Guards the configuration list.
    platform::RecursiveLock config_lock_;
    std::vector<ConfigPair> config_list_;

    HWND notify_window_ = nullptr;
    std::atomic<AcqState> state_{AcqState::kIdle};
    int32_t trigger_wait_time_ = 3000;

    ErrorStack errors_;
};

}  // namespace vimbra
