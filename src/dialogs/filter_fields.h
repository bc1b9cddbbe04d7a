// Positions of the filter record's fields, as the image filter dialog
// addresses them, tied to the record's layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "settings/settings_records.h"

namespace vimbra::dialogs {

enum FilterIndex : int {
    kBrightness = 0,
    kContrast = 1,
    kHue = 2,
    kSaturation = 3,
    kSharpness = 4,
    kRedGain = 5,
    kGreenGain = 6,
    kBlueGain = 7,
    kGamma = 8,
    kBayerMode = 9,
    kGrayMode = 11,
    kGrayGainR = 12,
    kGrayGainG1 = 13,
    kGrayGainG2 = 14,
    kGrayGainB = 15,
    kGrayOffsetR = 16,
    kGrayOffsetG1 = 17,
    kGrayOffsetG2 = 18,
    kGrayOffsetB = 19,
    kBayerGainAuto = 25,
    kWhiteBalanceRequest0 = 26,
    kWhiteBalanceRequest1 = 27,
    kGreyBalanceRequest = 29,
};
inline constexpr int kFilterFieldCount = 30;

#define VIMBRA_FILTER_AT(index, member) \
    static_assert(offsetof(FilterRecord, member) == (index) * sizeof(int32_t))
VIMBRA_FILTER_AT(kBrightness, brightness);
VIMBRA_FILTER_AT(kGamma, gamma);
VIMBRA_FILTER_AT(kBayerMode, bayer_mode);
VIMBRA_FILTER_AT(kGrayMode, gray.mode);
VIMBRA_FILTER_AT(kGrayGainR, gray.gain_r);
VIMBRA_FILTER_AT(kGrayOffsetB, gray.offset_b);
VIMBRA_FILTER_AT(kBayerGainAuto, bayer_gain_auto);
VIMBRA_FILTER_AT(kWhiteBalanceRequest0, white_balance_request);
VIMBRA_FILTER_AT(kGreyBalanceRequest, grey_balance_request);
#undef VIMBRA_FILTER_AT
static_assert(std::is_standard_layout_v<FilterRecord> &&
              sizeof(FilterRecord) == kFilterFieldCount * sizeof(int32_t));

// The field at `index` (0..29) of a record.
inline int32_t* FilterSlot(FilterRecord& record, int index) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(&record) +
                                      static_cast<size_t>(index) * sizeof(int32_t));
}

}  // namespace vimbra::dialogs
