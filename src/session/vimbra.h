// CVimbra: one camera session per instance handle. It owns the device object,
// the images and the filter workspace, holds every setting and the error
// codes of the session, and maps the camera table shared between processes.
// Its operations are split by concern: initialisation and camera selection
// (initialize.cpp), camera settings (settings.cpp), the configuration file
// (config.cpp), the acquisition state machine and its workers
// (acquisition.cpp), frame delivery to the host (delivery.cpp), and
// construction, teardown and error reporting (vimbra.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "device/config_file.h"
#include "dialogs/open_dialogs.h"
#include "image/filters.h"
#include "image/preview_window.h"
#include "image/process_frame.h"
#include "platform/event.h"
#include "session/camera_table.h"
#include "session/error_stack.h"
#include "session/recorder_seam.h"
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
    // Bytes a wide file name is converted into, terminator included.
    static constexpr size_t kPathBufferBytes = 1024;

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

    // ---- acquisition (acquisition.cpp) ----------------------------------
    // Live preview without frame messages or host copies.
    int32_t Preview();
    int32_t CallBackPreview(HWND callback, uint8_t* buffer, int32_t size, int32_t row_order);
    int32_t StartPreview();
    int32_t StopPreview();
    int32_t Capture();
    int32_t SnapShot(uint8_t* buffer, int32_t size, int32_t row_order);
    // A trigger mode already running refuses a second start with code 1.
    int32_t Trigger(HWND callback, uint8_t* buffer, int32_t size, int32_t row_order);
    int32_t Close();
    // Starts preview (with a window when `show_window` is set and the
    // placement asks for one) and the recorder on it: code 9 without a file
    // name or with a negative duration, 12 when preview or the file fails, 3
    // when the recorder's thread does.
    int32_t Record(const char* file, int32_t duration_ms, int32_t show_window);
    int32_t RecordW(const char16_t* file, int32_t duration_ms, int32_t show_window);
    // The recorder Record starts; without one, recording fails with code 12.
    void SetRecorder(std::unique_ptr<SessionRecorder> recorder);
    // For the recorder's thread: when a frame has been converted since the
    // last call, runs `take` on the current output image under the image
    // lock and returns true; otherwise returns false at once.
    template <class Take>
    bool TakeNewFrame(Take&& take) {
        if (!new_frame_.exchange(0)) return false;
        std::lock_guard<platform::RecursiveLock> images(image_lock_);
        CDibImage* current = OutputOfMode(FrameMode());
        if (current == nullptr || current->empty()) return false;
        take(*current);
        return true;
    }

    // The camera dialog's hooks: preview and capture stop while it is open
    // and trigger mode pauses; the resume call restarts what the pause
    // returned.
    AcqState PauseForDialog();
    void ResumeAfterDialog(AcqState paused);

    // ---- frame delivery (delivery.cpp) ---------------------------------
    int32_t GetImage(uint8_t* buffer, int32_t size, int32_t row_order);
    int32_t SetPreviewWindow(HWND parent, int32_t left, int32_t top, int32_t right, int32_t bottom);
    int32_t GetStatus() const { return 0; }
    // The record passed with every frame notification; rewritten per frame.
    const VimbraFrameInfo& FrameInfo() const { return frame_info_; }
    HWND PreviewWindowHandle() const { return preview_.Handle(); }

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
    void FilterRecordChanged() override { open_dialogs_.FilterChanged(); }

    // ---- configuration file (config.cpp) -------------------------------
    int32_t LoadConfigFile(const char* path);
    int32_t LoadConfigFileW(const char16_t* path);
    std::vector<ConfigPair> ConfigList();

    // ---- still images and recording (save.cpp) -------------------------
    // Saves the current image in the format of the code (0 BMP, 1 raw, 2 to
    // 4 JPEG, 5 PNG, 6 TIFF). Code 1 without a device or a current image; the
    // narrow call also refuses before a frame has been converted since the
    // acquisition was last closed. The image lock is held only while the
    // image is copied: encoding runs from the copy.
    int32_t SaveImage(const char* file_name, int32_t format);
    int32_t SaveImageW(const char16_t* file_name, int32_t format);

    // ---- state for the other layers and tests --------------------------
    int32_t ColorModeIndex() const;
    int32_t GetClockMode() const;
    int32_t CameraNumber() const;
    int32_t TriggerWaitTime() const;
    AcqState State() const { return state_.load(); }
    bool HasDevice() const { return device_ != nullptr; }
    HWND NotifyWindow() const { return notify_window_; }
    AnalogRecord Analog() const;
    FilterRecord Filter() const;
    VideoFormat Format() const;
    ExposureCache Exposure() const;

  private:
    // The property dialogs edit the records and drive the device directly.
    friend class SessionDialogs;

    enum class Loop { kPreview, kTrigger };
    enum class Entry { kPrepared, kAlreadyRunning, kRefused };

    // A start command's way in: prepared from idle with the camera claimed,
    // already in `target`, or refused (code 1) in another acquisition or
    // after a failed preparation or claim.
    Entry EnterFromIdle(AcqState target);
    // Claims the device's camera in the shared table unless another session
    // holds it (code 2, false).
    bool ClaimForAcquisition();

    // ---- acquisition (acquisition.cpp) ----
    // Checks the camera and the format, creates the images of the colour
    // mode and programs the camera; 1, or its code and 0.
    int32_t PrepareAcquisition();
    int32_t CreateAcquisitionImages(int32_t width, int32_t height, int32_t mode);
    void ProgramAcquisition(const VideoFormat& v, int32_t sub, bool samples16);
    // Opens the preview window when the placement asks for one; false (code
    // 4, no window left behind) when it cannot be made.
    bool OpenPreviewWindow();
    // Starts the worker thread; false when the thread cannot be made.
    bool StartWorker(Loop loop);
    void JoinWorker();
    void PreviewLoop();
    void TriggerLoop();
    // Handles one frame under the image lock: copy into the raw image,
    // frame record, conversion, drawing, copy into the host buffer. False
    // when no notification is to be posted for it.
    bool HandleFrame(bool streamed, bool count_rate);
    // Copies the device's newest frame into the raw image of the colour mode,
    // repacking rows to its stride; false when the sizes disagree.
    bool ReadIntoRawImage(bool streamed);
    void ConvertFrame();
    void StoreHostTarget(HWND callback, uint8_t* buffer, int32_t size, int32_t row_order);
    void PostFrameError(int32_t code);

    // ---- delivery (delivery.cpp) ----
    // Copies `image` into the host buffer, rows in memory order (row order
    // non-zero) or last row first, each with its fill bytes; code 5 (and a
    // frame message when a callback window is set) when it does not fit.
    int32_t CopyToHost(const CDibImage& image, int32_t row_order, uint8_t* buffer, int32_t size);
    void FillFrameInfo(const CDibImage& raw, bool count_rate);
    CDibImage* OutputOfMode(int32_t mode) const;
    // The colour mode of the current images: the one the last preparation
    // made them for, or the stored mode before any. Under the image lock.
    int32_t FrameMode() const;

    int32_t SaveCurrentImage(const char* file_name, int32_t format);

    // Loads the analog, filter and gray settings of the device's camera,
    // overlays a monochrome camera's gray calibration and applies the analog
    // settings to the camera. Called with the device lock held.
    void LoadCameraSettings();
    // Saves the analog, filter and gray settings of the device's camera.
    void SaveCameraSettings();
    // Global gain, colour gains G1, R, B, G2, exposure, vertical and
    // horizontal mirror, in that order.
    void ApplyAnalog(const AnalogRecord& analog);
    // Global gain, colour gains G1, R, B, G2 and exposure.
    void ApplyGainsAndExposure(const AnalogRecord& analog);
    // Checks a name request: device, buffer, size for the whole name in
    // units of `unit_bytes`, slot range and presence; records the code.
    bool NameRequestValid(int32_t slot, const void* name, int32_t size_bytes, int32_t unit_bytes);
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

    // Raw images by sample depth, output images by colour depth and the
    // work image of the filters (the preview window keeps its own display
    // image).
    struct Images {
        FrameImages Frame() const;
        std::unique_ptr<CDibImage> owned[7];
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

    // Held for the whole handling of one frame; guards the images, the
    // preview window, the frame record and the host buffer fields.
    platform::RecursiveLock image_lock_;
    // The colour and sub-sample mode the images were last prepared for
    // (guarded by image_lock_). A running acquisition reads and converts its
    // frames in these, so a mode the host sets meanwhile waits for the next
    // preparation; -1 before the first.
    int32_t frame_mode_ = -1;
    int32_t frame_sub_sample_ = 0;
    // Guards the configuration list.
    platform::RecursiveLock config_lock_;
    std::vector<ConfigPair> config_list_;

    HWND notify_window_ = nullptr;

    // Serialises the acquisition commands (start, stop, snapshot, close) of
    // the host's threads, and the camera and capture window changes that
    // reprogram the device. Taken before the image lock and the device lock;
    // the worker never takes it, so a command may wait for the worker.
    mutable std::recursive_mutex control_;
    std::atomic<AcqState> state_{AcqState::kIdle};
    // Worker: 0 stop, 1 run, 2 pause.
    std::atomic<int32_t> run_flag_{0};
    std::thread worker_;  // guarded by control_
    std::atomic<int32_t> skip_next_frame_{0};
    std::atomic<int32_t> image_ready_{0};
    // Set per converted preview frame, taken by the recorder.
    std::atomic<int32_t> new_frame_{0};
    std::unique_ptr<SessionRecorder> recorder_;  // guarded by control_
    int32_t trigger_wait_time_ = 3000;           // guarded by control_

    // Preview placement (guarded by settings_mutex_) and the window.
    HWND preview_parent_ = nullptr;
    int32_t preview_rect_[4] = {0, 0, 2560, 1920};
    PreviewWindow preview_;

    // Frame delivery targets and the frame record (guarded by image_lock_).
    HWND callback_window_ = nullptr;
    uint8_t* host_buffer_ = nullptr;
    int32_t host_buffer_size_ = 0;
    int32_t host_row_order_ = 0;
    VimbraFrameInfo frame_info_{};
    int32_t frame_rate_ = 0;
    uint32_t frame_counter_ = 0;
    uint32_t rate_window_start_ms_ = 0;

    ErrorStack errors_;
    // The analog and image filter dialogs open on this session, which the
    // automatic iris and white balance keep up to date.
    dialogs::OpenDialogs open_dialogs_;
};

}  // namespace vimbra
