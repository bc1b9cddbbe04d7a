// Load and save of the camera settings in the current user's registry, one
// key "Camera_NN" per camera number under the product key. Nothing is cached:
// each call opens the keys, moves the values and closes the keys again.
//
// Registry failures are never errors here: they show as the 0 results below,
// as defaults, or as fields left as they were. Camera numbers outside 0..31
// name no key: loads behave as if the camera key were missing and saves fail.
#pragma once

#include <cstdint>
#include <functional>

#include "settings/settings_records.h"

namespace vimbra {

// The product key under HKEY_CURRENT_USER.
inline constexpr const char kProductKey[] = "Software\\Norvix\\Vimbra740QXRDLSdk";
inline constexpr int kMaxCameras = 32;

// Loads the current size-list entry of the camera into `size`. On first use
// (no product key) creates the product key, the camera key with its default
// format values and the default entry "Size_00", and returns 0 with `size`
// unchanged. Returns 1 when the entry was found; a missing value leaves its
// field unchanged.
int LoadSizes(int camera, VideoFormat& size);

// Loads "Color", "SubSample", "WaitTime" and "Clock"; missing values leave
// their fields unchanged. 1 when the camera key exists, else 0.
int LoadVideoFormat(int camera, FormatSettings& format);

struct MirrorState {
    int32_t vertical = 0;
    int32_t horizontal = 0;
};

// Loads the analog record. Without a "Gain" key the record gets its defaults
// with the mirrors from `current_mirrors` (asked only then; empty means 0, 0).
// With the key, the values are read through one holder starting at 0, so a
// missing value repeats the one before it. Always returns 1.
int LoadAnalog(int camera, AnalogRecord& analog,
               const std::function<MirrorState()>& current_mirrors);
// 1 when the values were written, 0 when a key could not be created or the
// registry could not be saved.
int SaveAnalog(int camera, const AnalogRecord& analog);

// Loads fields 0..9 of the filter record. With the "Filter" key present,
// missing values leave their fields unchanged and the result is 1; without
// it the ten fields get their defaults and the result is 0.
int LoadFilter(int camera, FilterRecord& filter);
// 1 once the camera key exists, even when the "Filter" key cannot be created
// (then nothing is written); 0 when the product or camera key cannot be
// created or the registry could not be saved.
int SaveFilter(int camera, const FilterRecord& filter);

// Loads the gray filter; as LoadFilter with the "Gray" key and its defaults.
int LoadGray(int camera, GrayRecord& gray);
// 1 only when the "Gray" key was created and the values written.
int SaveGray(int camera, const GrayRecord& gray);

// Loads the camera dialog's table and format settings for
// `dialog.camera_number`: the consecutive entries "Size_00", "Size_01", ...
// (at most 100) set size_count; missing values keep what the record holds.
// 0 when the product or camera key is missing, else 1.
int LoadDialogSettings(CameraDialogSettings& dialog);

// Saves the dialog's first size_count entries and its format settings, with
// the sub-sample list position turned into its mode (1, 2, 3, 4 give 1, 2,
// 17, 18; anything else 0). 0 when the product or camera key cannot be
// created or the registry could not be saved, else 1.
int SaveDialogSettings(const CameraDialogSettings& dialog);

// The sub-sample mode of a position in the camera dialog's list.
int32_t SubSampleFromListPosition(int32_t position);

// Searches the entries "Size_NN" directly under the product key (not the
// camera keys) for the first with EH == width and EV == height and copies
// it into `size`. 1 when found; 0 when the product key is missing or no
// entry matches (the session reports both as a bad capture window).
int FindSize(int32_t width, int32_t height, VideoFormat& size);

}  // namespace vimbra
