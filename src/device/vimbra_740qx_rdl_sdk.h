// The device object of the 740QX camera: the 2592 x 1944 sensor's registers
// (window, skipping and binning, mirrors, gains, shutter, trigger readout) and
// the camera controller's 8-bit registers (frame size, I/O port, trigger,
// depth, clock), on top of the generic driver channel and frame transfer.
#pragma once

#include <cstdint>

#include "device/vbx_sdk_lib.h"

namespace vimbra {

// Grey calibration bytes held by monochrome cameras at SROM 0x1910..0x1919.
struct GrayCalibration {
    int mode;
    int gain_r1, gain_g1, gain_g2, gain_b1;
    int offset_r1, offset_g1, offset_g2, offset_b1;
};

class CVimbra740QXRDLSdk : public CVBXSdkLib {
  public:
    static constexpr int kMinGain = 0;
    static constexpr int kMaxReportedGain = 63;

    // Probes the 32 camera numbers and selects camera 0.
    explicit CVimbra740QXRDLSdk(platform::DriverBackend* backend = nullptr);
    ~CVimbra740QXRDLSdk() override;

    int SetTransferDepth(int flag) override;

    // Model initialisation of a camera number: 0, or 22 outside 0..31.
    int SelectCamera(int number);

    // 0 on success, 1 when the rectangle or mode is refused or a loop is
    // streaming (nothing sent).
    int SetWindow(int x, int y, int w, int h, int mode);
    int WindowX() const { return win_x_; }
    int WindowY() const { return win_y_; }
    int WindowWidth() const { return win_w_; }
    int WindowHeight() const { return win_h_; }
    int SubSampleMode() const { return mode_; }

    int SetHorizontalMirror(int on);  // 0
    int SetVerticalMirror(int on);    // 0
    int ReadHorizontalMirror();       // reads register 32 bit 14, stores it
    int ReadVerticalMirror();         // reads register 32 bit 15, stores it
    int HorizontalMirror() const { return h_mirror_; }
    int VerticalMirror() const { return v_mirror_; }

    // 1, or 0 when a write fails (state kept).
    int SetTrigger(int on, int option);
    int TriggerState() const { return trigger_on_; }
    int TriggerOption() const { return trigger_option_; }

    bool SetGlobalGain(int gain);
    int ReadGlobalGain();
    // Only registers 43..46; others are refused with false and send nothing.
    bool SetColorGain(int reg, int gain);
    bool ReadColorGain(int reg, int* value);
    bool SetShutterWidth(int rows);
    bool ReadShutterWidth(int* value);
    bool SetClock(int value);
    bool ReadClock(int* value);
    bool SetIoPort(int value) {
        return WriteControllerRegister(kCtlIoPort, static_cast<uint8_t>(value));
    }
    bool ReadIoPort(uint8_t* value) { return ReadControllerRegister(kCtlIoPort, value); }

    int DefaultGlobalGain() const { return kDefaultGlobalGain; }
    int DefaultColorGain(int reg) const;  // 14 for 43..46, else 0
    int DefaultShutterWidth() const { return kDefaultShutterWidth; }
    int LowestGain() const { return kMinGain; }
    int HighestShutterWidth() const { return kMaxShutterWidth; }

    // Reads the model record at SROM 0x1900; true with the calibration bytes
    // when it names a monochrome model ("740QX-BW" or "2250KT-BW").
    bool ReadGrayCalibration(GrayCalibration* out);
    // Reads the variant byte at SROM 0x1EB0 and applies 1 -> 0, 2 -> 1 to slot 4.
    void ApplySensorVariantFromSrom();
    int SensorVariant() const { return sensor_variant_; }

    // Exposure arithmetic of the session's clock setting and window.
    static double ClockPeriodMs(int clock);
    static int64_t RowLengthClocks(int mode, int width);
    static int ExposureMicroseconds(int shutter_rows, int mode, int width, int clock);
    // Rows for an exposure of `microseconds`; 0 when outside 1..16383.
    static int ExposureRowsFor(double microseconds, int mode, int width, int clock);

  private:
    int win_x_ = 0, win_y_ = 0, win_w_ = 0, win_h_ = 0, mode_ = 0;
    int reg_row_start_ = 0, reg_col_start_ = 0, reg_row_size_ = 0, reg_col_size_ = 0;
    int h_mirror_ = 0, v_mirror_ = 0;
    int trigger_on_ = 0, trigger_option_ = 0;
};

}  // namespace vimbra
