// The camera session's setting records, as plain structures laid out field by
// field in the order the session keeps them; the settings store moves them
// between the session and the registry, the dialogs edit them in place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vimbra {

// Frame window on the sensor, stored as "TH", "TV", "EH", "EV", "EHS", "EVS",
// "Buf". The session's defaults are those of a fresh session.
struct VideoFormat {
    int32_t th = 2592;  // width of the area the format refers to
    int32_t tv = 1944;  // height of that area
    int32_t eh = 2560;  // frame width before subsampling
    int32_t ev = 1920;  // frame height before subsampling
    int32_t ehs = 0;    // left edge of the frame on the sensor
    int32_t evs = 0;    // top edge of the frame on the sensor
    int32_t buf = 4;    // buffer count, stored with the format and otherwise unused
};

// The session's format settings, stored as "Color", "SubSample", "WaitTime",
// "Clock" in the camera key.
struct FormatSettings {
    int32_t color_mode = 0;  // index 0..5: 8-bit grey, 16-bit grey, 24, 32, 48, 64-bit colour
    int32_t sub_sample = 0;  // 0 full, 1 1/2 skip, 2 1/4 skip, 17 1/2 bin, 18 1/4 bin
    int32_t wait_time = 10;  // ms the preview loop sleeps before each frame poll
    int32_t clock_mode = 0;  // pixel clock setting 0..5
};

// Analog settings (9 int32), stored in the "Gain" subkey in this order.
struct AnalogRecord {
    int32_t global_gain = 0;
    int32_t gain_g1 = 0;   // colour gain green 1
    int32_t gain_r = 0;    // colour gain red
    int32_t gain_b = 0;    // colour gain blue
    int32_t gain_g2 = 0;   // colour gain green 2
    int32_t exposure = 0;  // shutter width in rows
    int32_t v_mirror = 0;
    int32_t h_mirror = 0;
    int32_t auto_iris = 0;  // 0 off, 1 by exposure, 2 by gain
};
static_assert(sizeof(AnalogRecord) == 9 * sizeof(int32_t));

// Gray filter settings (9 int32), stored in the "Gray" subkey in this order.
struct GrayRecord {
    int32_t mode = 0;
    int32_t gain_r = 0;
    int32_t gain_g1 = 0;
    int32_t gain_g2 = 0;
    int32_t gain_b = 0;
    int32_t offset_r = 0;
    int32_t offset_g1 = 0;
    int32_t offset_g2 = 0;
    int32_t offset_b = 0;
};
static_assert(sizeof(GrayRecord) == 9 * sizeof(int32_t));

// The image filter record (30 int32). Fields 0..9 are stored in the "Filter"
// subkey, the gray filter (11..19) in "Gray"; the rest are requests and
// results of the running conversion and are not stored.
struct FilterRecord {
    int32_t brightness = 0;  // 0
    int32_t contrast = 0;
    int32_t hue = 0;
    int32_t saturation = 0;
    int32_t sharpness = 0;
    int32_t red_gain = 0;  // 5: Bayer gains
    int32_t green_gain = 0;
    int32_t blue_gain = 0;
    int32_t gamma = 0;
    int32_t bayer_mode = 0;  // 9
    int32_t unused10 = 0;
    GrayRecord gray;                                 // 11..19
    std::array<int32_t, 5> unused20{};               // 20..24
    int32_t bayer_gain_auto = 0;                     // 25: white balance on every frame
    std::array<int32_t, 2> white_balance_request{};  // 26, 27
    int32_t unused28 = 0;
    int32_t grey_balance_request = 0;  // 29: one-shot grey balance (filter value 28)
};
static_assert(sizeof(FilterRecord) == 30 * sizeof(int32_t));

// Slots of the session's filter record (30 int32).
namespace filter_slot {
inline constexpr int kBrightness = 0;
inline constexpr int kContrast = 1;
inline constexpr int kHue = 2;
inline constexpr int kSaturation = 3;
inline constexpr int kSharpness = 4;
inline constexpr int kGainRed = 5;
inline constexpr int kGainGreen = 6;
inline constexpr int kGainBlue = 7;
inline constexpr int kGamma = 8;
inline constexpr int kBayerMode = 9;
inline constexpr int kGrayMode = 11;
inline constexpr int kGrayGainR = 12;
inline constexpr int kGrayGainG1 = 13;
inline constexpr int kGrayGainG2 = 14;
inline constexpr int kGrayGainB = 15;
inline constexpr int kGrayOffsetR = 16;
inline constexpr int kGrayOffsetG1 = 17;
inline constexpr int kGrayOffsetG2 = 18;
inline constexpr int kGrayOffsetB = 19;
inline constexpr int kGainAuto = 25;
inline constexpr int kBalanceRequest0 = 26;
inline constexpr int kBalanceRequest1 = 27;
inline constexpr int kGreyBalanceRequest = 29;
inline constexpr int kCount = 30;
}  // namespace filter_slot

// Slots of the session's analog record (9 int32).
namespace analog_slot {
inline constexpr int kGlobalGain = 0;
inline constexpr int kGainG1 = 1;
inline constexpr int kGainR = 2;
inline constexpr int kGainB = 3;
inline constexpr int kGainG2 = 4;
inline constexpr int kExposure = 5;
inline constexpr int kMirrorV = 6;
inline constexpr int kMirrorH = 7;
inline constexpr int kAutoIris = 8;
inline constexpr int kCount = 9;
}  // namespace analog_slot

// The slots are the fields of the session's records, seen as arrays of int32.
#define VIMBRA_SLOT_IS(Record, field, slot) \
    static_assert(offsetof(Record, field) == (slot) * sizeof(int32_t), #field)
VIMBRA_SLOT_IS(FilterRecord, brightness, filter_slot::kBrightness);
VIMBRA_SLOT_IS(FilterRecord, contrast, filter_slot::kContrast);
VIMBRA_SLOT_IS(FilterRecord, hue, filter_slot::kHue);
VIMBRA_SLOT_IS(FilterRecord, saturation, filter_slot::kSaturation);
VIMBRA_SLOT_IS(FilterRecord, sharpness, filter_slot::kSharpness);
VIMBRA_SLOT_IS(FilterRecord, red_gain, filter_slot::kGainRed);
VIMBRA_SLOT_IS(FilterRecord, green_gain, filter_slot::kGainGreen);
VIMBRA_SLOT_IS(FilterRecord, blue_gain, filter_slot::kGainBlue);
VIMBRA_SLOT_IS(FilterRecord, gamma, filter_slot::kGamma);
VIMBRA_SLOT_IS(FilterRecord, bayer_mode, filter_slot::kBayerMode);
VIMBRA_SLOT_IS(FilterRecord, gray.mode, filter_slot::kGrayMode);
VIMBRA_SLOT_IS(FilterRecord, gray.gain_r, filter_slot::kGrayGainR);
VIMBRA_SLOT_IS(FilterRecord, gray.gain_g1, filter_slot::kGrayGainG1);
VIMBRA_SLOT_IS(FilterRecord, gray.gain_g2, filter_slot::kGrayGainG2);
VIMBRA_SLOT_IS(FilterRecord, gray.gain_b, filter_slot::kGrayGainB);
VIMBRA_SLOT_IS(FilterRecord, gray.offset_r, filter_slot::kGrayOffsetR);
VIMBRA_SLOT_IS(FilterRecord, gray.offset_g1, filter_slot::kGrayOffsetG1);
VIMBRA_SLOT_IS(FilterRecord, gray.offset_g2, filter_slot::kGrayOffsetG2);
VIMBRA_SLOT_IS(FilterRecord, gray.offset_b, filter_slot::kGrayOffsetB);
VIMBRA_SLOT_IS(FilterRecord, bayer_gain_auto, filter_slot::kGainAuto);
VIMBRA_SLOT_IS(FilterRecord, white_balance_request, filter_slot::kBalanceRequest0);
VIMBRA_SLOT_IS(FilterRecord, grey_balance_request, filter_slot::kGreyBalanceRequest);
VIMBRA_SLOT_IS(AnalogRecord, global_gain, analog_slot::kGlobalGain);
VIMBRA_SLOT_IS(AnalogRecord, gain_g1, analog_slot::kGainG1);
VIMBRA_SLOT_IS(AnalogRecord, gain_r, analog_slot::kGainR);
VIMBRA_SLOT_IS(AnalogRecord, gain_b, analog_slot::kGainB);
VIMBRA_SLOT_IS(AnalogRecord, gain_g2, analog_slot::kGainG2);
VIMBRA_SLOT_IS(AnalogRecord, exposure, analog_slot::kExposure);
VIMBRA_SLOT_IS(AnalogRecord, v_mirror, analog_slot::kMirrorV);
VIMBRA_SLOT_IS(AnalogRecord, h_mirror, analog_slot::kMirrorH);
VIMBRA_SLOT_IS(AnalogRecord, auto_iris, analog_slot::kAutoIris);
static_assert(sizeof(FilterRecord) == filter_slot::kCount * sizeof(int32_t));
static_assert(sizeof(AnalogRecord) == analog_slot::kCount * sizeof(int32_t));
#undef VIMBRA_SLOT_IS

// One stored size of the camera dialog's table; same values as VideoFormat.
struct SizeEntry {
    uint32_t th = 2592;
    uint32_t tv = 1944;
    uint32_t eh = 2560;
    uint32_t ev = 1920;
    uint32_t ehs = 0;
    uint32_t evs = 0;
    uint32_t buf = 4;
};

inline constexpr int kMaxSizeEntries = 100;

// The sub-sample modes in the order of the camera dialog's list (1/1, 1/2 and
// 1/4 skipping, 1/2 and 1/4 binning); the store keeps the mode, the dialog the
// position.
inline constexpr std::array<int32_t, 5> kSubSampleListModes = {0, 1, 2, 17, 18};

// The camera dialog's settings: the stored size table of one camera and its
// format settings. The dialog keeps its drawing resources beside it.
struct CameraDialogSettings {
    std::array<SizeEntry, kMaxSizeEntries> sizes{};
    int32_t size_count = 0;  // entries in use
    int32_t size_index = 0;  // selected entry; equal to size_count means a custom size
    int32_t color_index = 2;
    // The sub-sample mode as stored; while the dialog is open it holds the
    // position in the sub-sample list instead, translated back when saved.
    int32_t sub_sample = 0;
    int32_t wait_time = 1;
    int32_t clock_index = 2;
    int32_t camera_number = 0;  // the camera whose key is read and written
};

}  // namespace vimbra
