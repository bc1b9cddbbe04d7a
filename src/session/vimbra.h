// CVimbra: one camera session per instance handle. It holds every setting,
// flag and error code of the session; the device object, the images and the
// worker threads join it as the layers below it are built.
#pragma once

#include <atomic>
#include <cstdint>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/event.h"
#include "session/error_stack.h"
#include "settings/settings_records.h"

namespace vimbra {

// Acquisition states.
enum class AcqState : int32_t { kIdle = 0, kPreview = 1, kCapture = 2, kTrigger = 3 };

class CVimbra {
  public:
    CVimbra();
    virtual ~CVimbra();
    CVimbra(const CVimbra&) = delete;
    CVimbra& operator=(const CVimbra&) = delete;

    // Prepares the session for the camera and reports failures to `notify`.
    // Returns 1 on success; on failure records code 5 and returns 0.
    int32_t Initialize(HWND notify);

    // Error reporting: record-and-notify pushes the code and posts it to the
    // notification window when one is set; notify-only just posts it (to the
    // calling thread's queue when there is no window).
    void RecordError(int32_t code);
    void NotifyError(int32_t code);
    int32_t GetLastError() { return errors_.Pop(); }
    const ErrorStack& Errors() const { return errors_; }

    // Format settings that act on the record alone.
    int32_t GetColorMode() const;
    int32_t GetSubSample() const { return Read(format_.sub_sample); }
    int32_t SetWaitTime(int32_t ms);
    int32_t GetWaitTime() const { return Read(format_.wait_time); }
    int32_t SetHalfClock(int32_t mode);
    int32_t GetClockMode() const { return Read(format_.clock_mode); }
    int32_t Width() const { return Read(video_.eh); }
    int32_t Height() const { return Read(video_.ev); }

    int32_t ColorModeIndex() const { return Read(format_.color_mode); }
    int32_t CameraNumber() const { return camera_number_; }
    int32_t TriggerWaitTime() const { return trigger_wait_time_; }
    AcqState State() const { return state_.load(); }
    bool HasDevice() const { return false; }
    HWND NotifyWindow() const { return notify_window_; }

  private:
    // Settings stay plain records (the store and the dialogs work on them),
    // but hosts may set and read one value from several threads at once, so
    // single values are read and written as atomic accesses.
    static int32_t Read(const int32_t& field) {
        return std::atomic_ref<int32_t>(const_cast<int32_t&>(field))
            .load(std::memory_order_relaxed);
    }
    static void Write(int32_t& field, int32_t value) {
        std::atomic_ref<int32_t>(field).store(value, std::memory_order_relaxed);
    }

    VideoFormat video_;
    FilterRecord filter_;
    AnalogRecord analog_;

    // Results of the last exposure computation.
    uint32_t row_length_clocks_ = 0;
    uint32_t row_offset_clocks_ = 0;
    int32_t exposure_rows_copy_ = 1;
    double clock_period_ms_ = 1.0;
    int32_t real_exposure_us_ = 0;

    platform::RecursiveLock image_lock_;
    platform::RecursiveLock config_lock_;

    // Worker: run flag (0 stop, 1 run, 2 pause) and its finished event.
    std::atomic<int32_t> run_flag_{0};
    platform::Event worker_done_{platform::Event::Mode::kManualReset};

    HWND notify_window_ = nullptr;
    HWND callback_window_ = nullptr;
    uint8_t* host_buffer_ = nullptr;
    int32_t host_buffer_size_ = 0;
    int32_t host_row_order_ = 0;

    std::atomic<AcqState> state_{AcqState::kIdle};
    // Colour mode index, sub-sample mode, wait time and clock mode.
    FormatSettings format_;

    std::atomic<int32_t> image_ready_{0};
    std::atomic<int32_t> frame_rate_{0};
    int32_t frame_counter_ = 0;
    uint32_t rate_window_start_ms_ = 0;

    ErrorStack errors_;

    int32_t trigger_wait_time_ = 3000;
    int32_t skip_next_frame_ = 0;
    int32_t camera_number_ = 0;
};

}  // namespace vimbra
