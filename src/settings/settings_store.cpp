#include "settings/settings_store.h"

#include <cstdio>
#include <initializer_list>

#include "platform/registry.h"

namespace vimbra {

namespace {

using platform::CreateKey;
using platform::HkeyCurrentUser;
using platform::kRegOk;
using platform::OpenKey;
using platform::QueryDword;
using platform::ScopedRegKey;
using platform::SetDword;

template <typename Record, typename Field, size_t N>
struct Layout {
    const char* names[N];
    Field Record::*fields[N];
};

constexpr Layout<VideoFormat, int32_t, 7> kVideoFormatLayout = {
    {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"},
    {&VideoFormat::th, &VideoFormat::tv, &VideoFormat::eh, &VideoFormat::ev, &VideoFormat::ehs,
     &VideoFormat::evs, &VideoFormat::buf}};

constexpr Layout<SizeEntry, uint32_t, 7> kSizeEntryLayout = {
    {"TH", "TV", "EH", "EV", "EHS", "EVS", "Buf"},
    {&SizeEntry::th, &SizeEntry::tv, &SizeEntry::eh, &SizeEntry::ev, &SizeEntry::ehs,
     &SizeEntry::evs, &SizeEntry::buf}};

constexpr Layout<AnalogRecord, int32_t, 9> kAnalogLayout = {
    {"Global", "ColorG1", "ColorR", "ColorB", "ColorG2", "Exposure", "V_Mirror", "H_Mirror",
     "AutoIris"},
    {&AnalogRecord::global_gain, &AnalogRecord::gain_g1, &AnalogRecord::gain_r,
     &AnalogRecord::gain_b, &AnalogRecord::gain_g2, &AnalogRecord::exposure,
     &AnalogRecord::v_mirror, &AnalogRecord::h_mirror, &AnalogRecord::auto_iris}};

constexpr Layout<FilterRecord, int32_t, 10> kFilterLayout = {
    {"Brightness", "Contrast", "Hue", "Saturation", "Sharpness", "R_Gain", "G_Gain", "B_Gain",
     "Gamma", "BayerMode"},
    {&FilterRecord::brightness, &FilterRecord::contrast, &FilterRecord::hue,
     &FilterRecord::saturation, &FilterRecord::sharpness, &FilterRecord::red_gain,
     &FilterRecord::green_gain, &FilterRecord::blue_gain, &FilterRecord::gamma,
     &FilterRecord::bayer_mode}};
constexpr int32_t kFilterDefaults[10] = {0, 0, 0, 0, 0, 100, 100, 100, 100, 3};

constexpr Layout<GrayRecord, int32_t, 9> kGrayLayout = {
    {"Mode", "GainR1", "GainG1", "GainG2", "GainB1", "OffsetR1", "OffsetG1", "OffsetG2",
     "OffsetB1"},
    {&GrayRecord::mode, &GrayRecord::gain_r, &GrayRecord::gain_g1, &GrayRecord::gain_g2,
     &GrayRecord::gain_b, &GrayRecord::offset_r, &GrayRecord::offset_g1, &GrayRecord::offset_g2,
     &GrayRecord::offset_b}};
constexpr int32_t kGrayDefaults[9] = {0, 128, 128, 128, 128, 0, 0, 0, 0};

constexpr const char kSizeValue[] = "Size";
constexpr const char kColorValue[] = "Color";
constexpr const char kSubSampleValue[] = "SubSample";
constexpr const char kWaitTimeValue[] = "WaitTime";
constexpr const char kClockValue[] = "Clock";
constexpr const char kGainKey[] = "Gain";
constexpr const char kFilterKey[] = "Filter";
constexpr const char kGrayKey[] = "Gray";

// The values the first use of the registry writes.
constexpr SizeEntry kDefaultSizeEntry{};  // 2592, 1944, 2560, 1920, 0, 0, 4
constexpr int32_t kDefaultSize = 0, kDefaultColor = 2, kDefaultSubSample = 0, kDefaultWaitTime = 1,
                  kDefaultClock = 2;

bool ValidCamera(int camera) {
    return camera >= 0 && camera < kMaxCameras;
}

struct KeyName {
    char text[24];
};

KeyName CameraKeyName(int camera) {
    KeyName name;
    std::snprintf(name.text, sizeof name.text, "Camera_%02d", camera);
    return name;
}

KeyName SizeKeyName(int entry) {
    KeyName name;
    std::snprintf(name.text, sizeof name.text, "Size_%02d", entry);
    return name;
}

bool Open(platform::RegKey parent, const char* subkey, ScopedRegKey& key) {
    return parent && OpenKey(parent, subkey, key.Receive()) == kRegOk;
}

bool Create(platform::RegKey parent, const char* subkey, ScopedRegKey& key) {
    return parent && CreateKey(parent, subkey, key.Receive()) == kRegOk;
}

// Opens the product key and the camera's key for reading.
bool OpenCameraKey(int camera, ScopedRegKey& product, ScopedRegKey& camera_key) {
    return ValidCamera(camera) && Open(HkeyCurrentUser(), kProductKey, product) &&
           Open(product.get(), CameraKeyName(camera).text, camera_key);
}

// Creates (or opens) the product key and the camera's key for writing.
bool CreateCameraKey(int camera, ScopedRegKey& product, ScopedRegKey& camera_key) {
    return ValidCamera(camera) && Create(HkeyCurrentUser(), kProductKey, product) &&
           Create(product.get(), CameraKeyName(camera).text, camera_key);
}

// Closes the keys innermost first; false when the changes could not be saved
// (closing the last key opened for writing saves them).
bool CloseAll(std::initializer_list<ScopedRegKey*> keys) {
    bool saved = true;
    for (ScopedRegKey* key : keys) saved = key->Close() == kRegOk && saved;
    return saved;
}

// Reads each value straight into its field; a missing value leaves it.
template <typename Record, typename Field, size_t N>
void ReadFields(platform::RegKey key, const Layout<Record, Field, N>& layout, Record& record) {
    for (size_t i = 0; i < N; ++i) {
        int32_t holder = static_cast<int32_t>(record.*layout.fields[i]);
        if (QueryDword(key, layout.names[i], &holder) == kRegOk)
            record.*layout.fields[i] = static_cast<Field>(holder);
    }
}

template <typename Record, typename Field, size_t N>
void WriteFields(platform::RegKey key, const Layout<Record, Field, N>& layout,
                 const Record& record) {
    for (size_t i = 0; i < N; ++i)
        SetDword(key, layout.names[i], static_cast<int32_t>(record.*layout.fields[i]));
}

template <typename Record, size_t N>
void SetDefaults(const Layout<Record, int32_t, N>& layout, const int32_t (&defaults)[N],
                 Record& record) {
    for (size_t i = 0; i < N; ++i) record.*layout.fields[i] = defaults[i];
}

void ReadValue(platform::RegKey key, const char* name, int32_t& field) {
    int32_t holder = field;
    if (QueryDword(key, name, &holder) == kRegOk) field = holder;
}

// First use: the product key, the camera key with its format defaults and the
// default size entry.
void WriteDefaultTree(int camera) {
    ScopedRegKey product, camera_key, entry;
    if (!CreateCameraKey(camera, product, camera_key)) return;
    SetDword(camera_key.get(), kSizeValue, kDefaultSize);
    SetDword(camera_key.get(), kColorValue, kDefaultColor);
    SetDword(camera_key.get(), kSubSampleValue, kDefaultSubSample);
    SetDword(camera_key.get(), kWaitTimeValue, kDefaultWaitTime);
    SetDword(camera_key.get(), kClockValue, kDefaultClock);
    if (Create(camera_key.get(), SizeKeyName(0).text, entry))
        WriteFields(entry.get(), kSizeEntryLayout, kDefaultSizeEntry);
    CloseAll({&entry, &camera_key, &product});
}

// Loads a group whose key is missing as its defaults (filter and gray).
template <typename Record, size_t N>
int LoadGroup(int camera, const char* group, const Layout<Record, int32_t, N>& layout,
              const int32_t (&defaults)[N], Record& record) {
    ScopedRegKey product, camera_key, group_key;
    if (OpenCameraKey(camera, product, camera_key) && Open(camera_key.get(), group, group_key)) {
        ReadFields(group_key.get(), layout, record);
        return 1;
    }
    SetDefaults(layout, defaults, record);
    return 0;
}

}  // namespace

int LoadSizes(int camera, VideoFormat& size) {
    ScopedRegKey product;
    if (!Open(HkeyCurrentUser(), kProductKey, product)) {
        if (ValidCamera(camera)) WriteDefaultTree(camera);
        return 0;
    }
    ScopedRegKey camera_key, entry;
    if (!ValidCamera(camera) || !Open(product.get(), CameraKeyName(camera).text, camera_key))
        return 0;
    int32_t index = 0;
    if (QueryDword(camera_key.get(), kSizeValue, &index) != kRegOk) return 0;
    if (index < 0 || index >= kMaxSizeEntries) return 0;  // names no entry
    if (!Open(camera_key.get(), SizeKeyName(index).text, entry)) return 0;
    ReadFields(entry.get(), kVideoFormatLayout, size);
    return 1;
}

int LoadVideoFormat(int camera, FormatSettings& format) {
    ScopedRegKey product, camera_key;
    if (!OpenCameraKey(camera, product, camera_key)) return 0;
    ReadValue(camera_key.get(), kColorValue, format.color_mode);
    ReadValue(camera_key.get(), kSubSampleValue, format.sub_sample);
    ReadValue(camera_key.get(), kWaitTimeValue, format.wait_time);
    ReadValue(camera_key.get(), kClockValue, format.clock_mode);
    return 1;
}

int LoadAnalog(int camera, AnalogRecord& analog,
               const std::function<MirrorState()>& current_mirrors) {
    ScopedRegKey product, camera_key, gain;
    if (!OpenCameraKey(camera, product, camera_key) || !Open(camera_key.get(), kGainKey, gain)) {
        const MirrorState mirrors = current_mirrors ? current_mirrors() : MirrorState{};
        analog = AnalogRecord{14, 14, 14, 14, 14, 1970, mirrors.vertical, mirrors.horizontal, 0};
        return 1;
    }
    // One holder for all values: a missing value repeats the one read before it.
    int32_t holder = 0;
    for (size_t i = 0; i < 9; ++i) {
        QueryDword(gain.get(), kAnalogLayout.names[i], &holder);
        analog.*kAnalogLayout.fields[i] = holder;
    }
    return 1;
}

int SaveAnalog(int camera, const AnalogRecord& analog) {
    ScopedRegKey product, camera_key, gain;
    if (!CreateCameraKey(camera, product, camera_key) || !Create(camera_key.get(), kGainKey, gain))
        return 0;
    WriteFields(gain.get(), kAnalogLayout, analog);
    return CloseAll({&gain, &camera_key, &product}) ? 1 : 0;
}

int LoadFilter(int camera, FilterRecord& filter) {
    return LoadGroup(camera, kFilterKey, kFilterLayout, kFilterDefaults, filter);
}

int SaveFilter(int camera, const FilterRecord& filter) {
    ScopedRegKey product, camera_key, group;
    if (!CreateCameraKey(camera, product, camera_key)) return 0;
    // Without the "Filter" key nothing is written, yet the save counts as done.
    if (Create(camera_key.get(), kFilterKey, group))
        WriteFields(group.get(), kFilterLayout, filter);
    return CloseAll({&group, &camera_key, &product}) ? 1 : 0;
}

int LoadGray(int camera, GrayRecord& gray) {
    return LoadGroup(camera, kGrayKey, kGrayLayout, kGrayDefaults, gray);
}

int SaveGray(int camera, const GrayRecord& gray) {
    ScopedRegKey product, camera_key, group;
    if (!CreateCameraKey(camera, product, camera_key) || !Create(camera_key.get(), kGrayKey, group))
        return 0;
    WriteFields(group.get(), kGrayLayout, gray);
    return CloseAll({&group, &camera_key, &product}) ? 1 : 0;
}

int LoadDialogSettings(CameraDialogSettings& dialog) {
    ScopedRegKey product, camera_key;
    if (!OpenCameraKey(dialog.camera_number, product, camera_key)) return 0;
    int32_t count = 0;
    for (; count < kMaxSizeEntries; ++count) {
        ScopedRegKey entry;
        if (!Open(camera_key.get(), SizeKeyName(count).text, entry)) break;
        ReadFields(entry.get(), kSizeEntryLayout, dialog.sizes[count]);
    }
    ReadValue(camera_key.get(), kSizeValue, dialog.size_index);
    dialog.size_count = count;
    ReadValue(camera_key.get(), kColorValue, dialog.color_index);
    ReadValue(camera_key.get(), kSubSampleValue, dialog.sub_sample);
    ReadValue(camera_key.get(), kWaitTimeValue, dialog.wait_time);
    ReadValue(camera_key.get(), kClockValue, dialog.clock_index);
    return 1;
}

int32_t SubSampleFromListPosition(int32_t position) {
    if (position < 0 || position >= static_cast<int32_t>(kSubSampleListModes.size())) return 0;
    return kSubSampleListModes[static_cast<size_t>(position)];
}

int SaveDialogSettings(const CameraDialogSettings& dialog) {
    ScopedRegKey product, camera_key;
    if (!CreateCameraKey(dialog.camera_number, product, camera_key)) return 0;
    const int32_t count =
        dialog.size_count < 0
            ? 0
            : (dialog.size_count > kMaxSizeEntries ? kMaxSizeEntries : dialog.size_count);
    for (int32_t i = 0; i < count; ++i) {
        ScopedRegKey entry;
        if (!Create(camera_key.get(), SizeKeyName(i).text, entry)) break;
        WriteFields(entry.get(), kSizeEntryLayout, dialog.sizes[i]);
    }
    SetDword(camera_key.get(), kSizeValue, dialog.size_index);
    SetDword(camera_key.get(), kColorValue, dialog.color_index);
    SetDword(camera_key.get(), kSubSampleValue, SubSampleFromListPosition(dialog.sub_sample));
    SetDword(camera_key.get(), kWaitTimeValue, dialog.wait_time);
    SetDword(camera_key.get(), kClockValue, dialog.clock_index);
    return CloseAll({&camera_key, &product}) ? 1 : 0;
}

int FindSize(int32_t width, int32_t height, VideoFormat& size) {
    ScopedRegKey product;
    if (!Open(HkeyCurrentUser(), kProductKey, product)) return 0;
    for (int i = 0; i < kMaxSizeEntries; ++i) {
        ScopedRegKey entry;
        if (!Open(product.get(), SizeKeyName(i).text, entry)) break;
        // Values missing from an entry are taken from the current record.
        VideoFormat candidate = size;
        ReadFields(entry.get(), kVideoFormatLayout, candidate);
        if (candidate.eh == width && candidate.ev == height) {
            size = candidate;
            return 1;
        }
    }
    return 0;
}

}  // namespace vimbra
