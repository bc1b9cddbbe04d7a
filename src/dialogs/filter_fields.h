// The filter record's fields by slot number, as the image filter dialog
// addresses them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/settings_records.h"

namespace vimbra::dialogs {

// The field at `slot` (0..29) of a record.
inline int32_t* FilterSlot(FilterRecord& record, int slot) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(&record) +
                                      static_cast<size_t>(slot) * sizeof(int32_t));
}

}  // namespace vimbra::dialogs
