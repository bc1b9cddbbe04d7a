#include "device/vimbra_740qx_rdl_sdk.h"

#include <cstring>
#include <limits>

#include "platform/clock.h"

namespace vimbra {
namespace {

constexpr uint16_t kAddressModeKeep = static_cast<uint16_t>(~kAddressModeMask);
constexpr uint16_t kReadModeKeep =
    static_cast<uint16_t>(~(kReadModeTrigger | kReadModeTriggerOption));

struct ModeBits {
    uint16_t bits;
    int divisor;
};

bool LookupMode(int mode, ModeBits* out) {
    switch (mode) {
        case 0:
        case 3:
            *out = {0x00, 1};
            return true;
        case 1:
            *out = {0x01, 2};
            return true;
        case 2:
            *out = {0x03, 4};
            return true;
        case 17:
            *out = {0x11, 2};
            return true;
        case 18:
            *out = {0x33, 4};
            return true;
        default:
            return false;
    }
}

}  // namespace

CVimbra740QXRDLSdk::CVimbra740QXRDLSdk(platform::DriverBackend* backend) : CVBXSdkLib(backend) {
    SetDriverName(kDriverBaseName);
    EnumerateDevices();
    SelectCamera(0);
}

CVimbra740QXRDLSdk::~CVimbra740QXRDLSdk() = default;

int CVimbra740QXRDLSdk::SetTransferDepth(int flag) {
    depth_flag_ = flag;
    SendTransferDepthCommand(1);
    WriteControllerRegister(kCtlDepth, static_cast<uint8_t>(kDepthBase | (flag ? kDepth16 : 0)));
    platform::SleepMs(2);
    Reset();
    // The request size follows the depth, so the request kind follows it too.
    SetLargeTransfer(TransferSize() >= platform::kLargeTransferBytes);
    return 1;
}

int CVimbra740QXRDLSdk::SelectCamera(int number) {
    StoreTransferWait(static_cast<int32_t>(kDefaultTransferWaitMs));
    trigger_on_ = 0;
    CloseFrameHandle();
    if (Select(number) != kDevOk) return kDevBadCameraNumber;
    SetTransferDepth(0);
    Prepare();
    SetWindow(0, 0, kSensorWidth, kSensorHeight, 0);
    SetVerticalMirror(0);
    SetTrigger(0, 0);
    platform::SleepMs(2);
    Reset();
    return kDevOk;
}

int CVimbra740QXRDLSdk::SetWindow(int x, int y, int w, int h, int mode) {
    ModeBits m;
    if (x < 0 || y < 0 || w < 4 || h < 3 || x > kSensorWidth - w || y > kSensorHeight - h ||
        !LookupMode(mode, &m))
        return 1;
    // A 1/4 mode over fewer than four rows would give a frame without rows.
    if (h / m.divisor < 1 || w / m.divisor < 1) return 1;
    // The ring cannot be resized under a running loop, and a sensor window
    // that no longer matches the frame geometry would garble every frame.
    if (IsStreaming()) return 1;

    mode_ = mode;
    uint16_t row_mode = 0, col_mode = 0;
    ReadSensorRegister(kRegRowAddressMode, &row_mode);
    ReadSensorRegister(kRegColumnAddressMode, &col_mode);
    row_mode = static_cast<uint16_t>((row_mode & kAddressModeKeep) | m.bits);
    col_mode = static_cast<uint16_t>((col_mode & kAddressModeKeep) | m.bits);

    win_x_ = x;
    win_y_ = y;
    win_w_ = w;
    win_h_ = h;
    const int fw = w / m.divisor;
    const int fh = h / m.divisor;
    SetGeometry(fw, 0, fw, fh, 0, fh, 4);

    switch (m.divisor) {
        case 1:
            reg_row_start_ = y + kSensorOriginRow;
            reg_col_start_ = x + kSensorOriginColumn;
            reg_row_size_ = ((h + 1) & ~1) - 1;
            reg_col_size_ = ((w + 1) & ~1) - 1;
            break;
        case 2:
            reg_row_start_ = (y + 57) & ~3;
            reg_col_start_ = (x + 19) & ~3;
            reg_row_size_ = ((h + 3) & ~3) - 1;
            reg_col_size_ = ((w + 3) & ~3) - 1;
            break;
        default:
            reg_row_start_ = (y + 61) & ~7;
            reg_col_start_ = (x + 23) & ~7;
            reg_row_size_ = ((h + 7) & ~7) - 1;
            reg_col_size_ = ((w + 7) & ~7) - 1;
            break;
    }
    WriteSensorRegister(kRegRowStart, static_cast<uint16_t>(reg_row_start_));
    WriteSensorRegister(kRegColumnStart, static_cast<uint16_t>(reg_col_start_));
    WriteSensorRegister(kRegRowSize, static_cast<uint16_t>(reg_row_size_));
    WriteSensorRegister(kRegColumnSize, static_cast<uint16_t>(reg_col_size_));
    WriteSensorRegister(kRegRowAddressMode, row_mode);
    WriteSensorRegister(kRegColumnAddressMode, col_mode);

    SetVerticalMirror(v_mirror_);
    SetHorizontalMirror(h_mirror_);

    const uint32_t count = SampleCount();
    for (int i = 0; i < 4; ++i)
        WriteControllerRegister(kCtlFrameSize0 + i, static_cast<uint8_t>(count >> (8 * i)));
    platform::SleepMs(100);
    SetLargeTransfer(TransferSize() >= platform::kLargeTransferBytes);
    return 0;
}

int CVimbra740QXRDLSdk::SetVerticalMirror(int on) {
    uint16_t before = 0;
    ReadSensorRegister(kRegMirror, &before);
    const uint16_t after =
        static_cast<uint16_t>(on ? (before | kMirrorVertical) : (before & ~kMirrorVertical));
    // With an even number of rows the first row read out changes colour
    // phase; moving the row start by one keeps the mosaic order.
    if (win_h_ % 2 == 0) {
        uint16_t row_start = 0;
        ReadSensorRegister(kRegRowStart, &row_start);
        row_start = static_cast<uint16_t>(on ? (row_start | 1) : (row_start & ~1));
        WriteSensorRegister(kRegRowStart, row_start);
        reg_row_start_ = row_start;
    }
    WriteSensorRegister(kRegMirror, after);
    if (after != before) platform::SleepMs(300);
    ReadVerticalMirror();
    return 0;
}

int CVimbra740QXRDLSdk::SetHorizontalMirror(int on) {
    uint16_t before = 0;
    ReadSensorRegister(kRegMirror, &before);
    const uint16_t after =
        static_cast<uint16_t>(on ? (before | kMirrorHorizontal) : (before & ~kMirrorHorizontal));
    WriteSensorRegister(kRegMirror, after);
    if (after != before) platform::SleepMs(300);
    ReadHorizontalMirror();
    return 0;
}

int CVimbra740QXRDLSdk::ReadHorizontalMirror() {
    uint16_t value = 0;
    ReadSensorRegister(kRegMirror, &value);
    h_mirror_ = (value & kMirrorHorizontal) ? 1 : 0;
    return h_mirror_;
}

int CVimbra740QXRDLSdk::ReadVerticalMirror() {
    uint16_t value = 0;
    ReadSensorRegister(kRegMirror, &value);
    v_mirror_ = (value & kMirrorVertical) ? 1 : 0;
    return v_mirror_;
}

int CVimbra740QXRDLSdk::SetTrigger(int on, int option) {
    if (!WriteControllerRegister(kCtlTrigger, on ? 1 : 0)) return 0;
    uint16_t mode = 0;
    ReadSensorRegister(kRegReadMode, &mode);
    mode &= kReadModeKeep;
    if (on) {
        mode |= kReadModeTrigger;
        if (option == 1) mode |= kReadModeTriggerOption;
    }
    if (!WriteSensorRegister(kRegReadMode, mode)) return 0;
    trigger_on_ = on;
    trigger_option_ = option;
    return 1;
}

bool CVimbra740QXRDLSdk::SetGlobalGain(int gain) {
    return WriteSensorRegister(kRegGlobalGain, static_cast<uint16_t>(gain & kGlobalGainMask));
}

int CVimbra740QXRDLSdk::ReadGlobalGain() {
    uint16_t value = 0;
    ReadSensorRegister(kRegGlobalGain, &value);
    return value & kGlobalGainMask;
}

bool CVimbra740QXRDLSdk::SetColorGain(int reg, int gain) {
    if (reg < kRegGainGreen1 || reg > kRegGainGreen2) return false;
    return WriteSensorRegister(reg, static_cast<uint16_t>(gain & kColourGainWriteMask));
}

bool CVimbra740QXRDLSdk::ReadColorGain(int reg, int* value) {
    if (value) *value = 0;
    if (reg < kRegGainGreen1 || reg > kRegGainGreen2) return false;
    uint16_t raw = 0;
    const bool ok = ReadSensorRegister(reg, &raw);
    if (value) *value = raw & kColourGainReadMask;
    return ok;
}

int CVimbra740QXRDLSdk::DefaultColorGain(int reg) const {
    return (reg >= kRegGainGreen1 && reg <= kRegGainGreen2) ? kDefaultColourGain : 0;
}

bool CVimbra740QXRDLSdk::SetShutterWidth(int rows) {
    uint32_t value = static_cast<uint32_t>(rows) & 0xFFFF;
    if (value == 0) value = 1;
    if (value >= 0x4000) value = kMaxShutterWidth;
    return WriteSensorRegister(kRegShutterWidth, static_cast<uint16_t>(value));
}

bool CVimbra740QXRDLSdk::ReadShutterWidth(int* value) {
    uint16_t raw = 0;
    const bool ok = ReadSensorRegister(kRegShutterWidth, &raw);
    if (value) *value = raw;
    return ok;
}

bool CVimbra740QXRDLSdk::SetClock(int value) {
    return WriteControllerRegister(kCtlClock, static_cast<uint8_t>(value));
}

bool CVimbra740QXRDLSdk::ReadClock(int* value) {
    uint8_t raw = 0;
    const bool ok = ReadControllerRegister(kCtlClock, &raw);
    if (value) *value = raw;
    return ok;
}

bool CVimbra740QXRDLSdk::ReadGrayCalibration(GrayCalibration* out) {
    uint8_t first = 0;
    if (!ReadSrom(kSromModelName, &first) || first == 0xFF) return false;
    char name[17] = {};
    name[0] = static_cast<char>(first);
    for (uint32_t i = 1; i < kSromModelNameSize; ++i) {
        uint8_t b = 0;
        ReadSrom(kSromModelName + i, &b);
        name[i] = static_cast<char>(b);
    }
    bool mono = false;
    for (const char* model : kMonoModelNames) mono = mono || std::strcmp(name, model) == 0;
    if (!mono) return false;
    uint8_t b[kSromGreyCalibrationSize] = {};
    for (uint32_t i = 0; i < kSromGreyCalibrationSize; ++i)
        ReadSrom(kSromGreyCalibration + i, &b[i]);
    if (out) {
        out->mode = b[0];
        out->gain_r1 = b[2];
        out->gain_g1 = b[3];
        out->gain_g2 = b[4];
        out->gain_b1 = b[5];
        out->offset_r1 = b[6];
        out->offset_g1 = b[7];
        out->offset_g2 = b[8];
        out->offset_b1 = b[9];
    }
    return true;
}

void CVimbra740QXRDLSdk::ApplySensorVariantFromSrom() {
    uint8_t variant = 0;
    if (!ReadSrom(kSromSensorVariant, &variant)) return;
    if (variant == 1 || variant == 2) SetSensorVariant(variant == 1 ? 0 : 1);
}

double CVimbra740QXRDLSdk::ClockPeriodMs(int clock) {
    switch (clock) {
        case 1:
            return 8.333333244081587e-05;
        case 2:
            return 2.0833333110203966e-05;
        case 3:
            return 2.499999936844688e-05;
        case 4:
            return 4.999999873689376e-05;
        case 5:
            return 9.999999747378752e-05;
        default:
            return 4.166666622040793e-05;
    }
}

int64_t CVimbra740QXRDLSdk::RowLengthClocks(int mode, int width) {
    // 64-bit: the session may hold a window width it never accepted.
    const int64_t w = width;
    switch (mode) {
        case 1:
            return w / 2 + 916;
        case 2:
            return w / 4 + 916;
        case 17:
            return w / 2 + 1555;
        case 18:
            return w / 4 + 2918;
        default:
            return w + 916;
    }
}

int CVimbra740QXRDLSdk::ExposureMicroseconds(int shutter_rows, int mode, int width, int clock) {
    const double rows_clocks =
        static_cast<double>(shutter_rows) * static_cast<double>(RowLengthClocks(mode, width));
    const double us = rows_clocks * ClockPeriodMs(clock) * 1000;
    // Values beyond the int range saturate instead of an undefined conversion.
    if (us >= 2147483647.0) return std::numeric_limits<int>::max();
    if (us <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(us);
}

int CVimbra740QXRDLSdk::ExposureRowsFor(double microseconds, int mode, int width, int clock) {
    const double row_ms = static_cast<double>(RowLengthClocks(mode, width)) * ClockPeriodMs(clock);
    const double rows = microseconds / 1000 / row_ms;
    if (!(rows >= 1.0) || rows >= static_cast<double>(kMaxShutterWidth) + 1.0) return 0;
    return static_cast<int>(rows);
}

}  // namespace vimbra
