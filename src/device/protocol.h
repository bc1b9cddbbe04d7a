// The camera's protocol as the device layer speaks it and the virtual camera
// answers it: the command codes of the 64-byte command block, the sensor and
// controller register numbers with their bits, the serial-memory addresses
// and the sensor geometry. The driver's control codes and pipes are in
// platform/driver.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vimbra {

// Device paths are "\\.\<base>-<c>", c the camera number's character in this
// alphabet (N before M).
inline constexpr char kDriverBaseName[] = "VmbrQX740RDL";
inline constexpr char kDeviceIndexAlphabet[] = "0123456789ABCDEFGHIJKLNMOPQRSTUV";

// Command codes (byte 0 of the 64-byte command block).
inline constexpr uint8_t kCmdReset = 0x01;
inline constexpr uint8_t kCmdStartFrame = 0x02;
inline constexpr uint8_t kCmdSensorWrite = 0x04;
inline constexpr uint8_t kCmdPrepare = 0x06;
inline constexpr uint8_t kCmdFrameSize = 0x09;
inline constexpr uint8_t kCmdTransferDepth = 0x0A;
inline constexpr uint8_t kCmdSensorRead = 0x0C;
inline constexpr uint8_t kCmdControllerWrite = 0x25;
inline constexpr uint8_t kCmdControllerRead = 0x26;
inline constexpr uint8_t kCmdSromWrite = 0x40;
inline constexpr uint8_t kCmdSromRead = 0x41;

inline constexpr size_t kCommandBlockSize = 64;
inline constexpr size_t kReplyBlockSize = 64;

// Bytes 1..3 of the SROM commands: a device tag, then the count of bytes that
// follow for the memory (three for a write, two for a read) and, for a write,
// the page byte, for a read the count of bytes to read back.
inline constexpr uint8_t kSromTag = 0x51;
inline constexpr uint8_t kSromWriteCount = 0x03;
inline constexpr uint8_t kSromWritePage = 0x18;
inline constexpr uint8_t kSromReadCount = 0x02;
inline constexpr uint8_t kSromReadBack = 0x01;

// Serial memory: the identification page (the only page a write reaches), the
// model record of monochrome cameras with its grey calibration, the variant byte.
inline constexpr uint32_t kSromIdBase = 0x1800;
inline constexpr uint32_t kSromSize = 0x800;
inline constexpr uint32_t kSromModelName = 0x1900;
inline constexpr uint32_t kSromModelNameSize = 16;
inline constexpr uint32_t kSromGreyCalibration = 0x1910;
inline constexpr uint32_t kSromGreyCalibrationSize = 10;
inline constexpr uint32_t kSromSensorVariant = 0x1EB0;
inline constexpr const char* kMonoModelNames[] = {"740QX-BW", "2250KT-BW"};

// Sensor registers (16-bit).
inline constexpr int kRegRowStart = 1;
inline constexpr int kRegColumnStart = 2;
inline constexpr int kRegRowSize = 3;
inline constexpr int kRegColumnSize = 4;
inline constexpr int kRegShutterWidth = 9;
inline constexpr int kRegReadMode = 30;
inline constexpr int kRegMirror = 32;
inline constexpr int kRegRowAddressMode = 34;
inline constexpr int kRegColumnAddressMode = 35;
inline constexpr int kRegGainGreen1 = 43;  // green sites of the red rows
inline constexpr int kRegGainBlue = 44;
inline constexpr int kRegGainRed = 45;
inline constexpr int kRegGainGreen2 = 46;  // green sites of the blue rows
inline constexpr int kRegGlobalGain = 53;

inline constexpr uint16_t kMirrorVertical = 0x8000;    // register 32
inline constexpr uint16_t kMirrorHorizontal = 0x4000;  // register 32
inline constexpr uint16_t kReadModeTrigger = 0x0300;   // register 30
inline constexpr uint16_t kReadModeTriggerOption = 0x0010;
inline constexpr uint16_t kAddressModeMask = 0x0037;  // registers 34 and 35: skip and bin bits
inline constexpr uint16_t kAddressModeBin = 0x0030;
inline constexpr uint16_t kGlobalGainMask = 0x7F;
inline constexpr uint16_t kColourGainWriteMask = 0xFF;
inline constexpr uint16_t kColourGainReadMask = 0x7F;

// Controller registers (8-bit).
inline constexpr int kCtlFrameSize0 = 0;  // 0..3: frame sample count, least significant first
inline constexpr int kCtlIoPort = 7;
inline constexpr int kCtlTrigger = 11;
inline constexpr int kCtlDepth = 14;
inline constexpr int kCtlClock = 15;

inline constexpr uint8_t kTriggerOn = 0x01;     // register 11
inline constexpr uint8_t kTriggerPulse = 0x80;  // register 11: a rising edge fires one frame
inline constexpr uint8_t kDepthBase = 0x84;     // register 14; bit 0 selects 16-bit samples
inline constexpr uint8_t kDepth16 = 0x01;

// The sensor: its active array and the sensor row and column of the array's
// first pixel, where a window at (0, 0) starts reading.
inline constexpr int kSensorWidth = 2592;
inline constexpr int kSensorHeight = 1944;
inline constexpr int kSensorOriginRow = 54;
inline constexpr int kSensorOriginColumn = 16;

// Power-on values of the sensor.
inline constexpr int kDefaultGlobalGain = 14;
inline constexpr int kDefaultColourGain = 14;
inline constexpr int kDefaultShutterWidth = 1970;
inline constexpr int kMaxShutterWidth = 0x3FFF;

}  // namespace vimbra
