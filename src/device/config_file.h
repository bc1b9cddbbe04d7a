// The configuration file: a flat run of 8-byte records, each two
// little-endian signed 32-bit values, with no header. Trailing bytes that do
// not fill a record are ignored; an empty file holds no records.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace vimbra {

using ConfigPair = std::pair<int32_t, int32_t>;

// Files larger than this are refused rather than read into memory whole.
inline constexpr uint64_t kMaxConfigFileBytes = uint64_t{64} << 20;

// Reads the records of the regular file `path` into `pairs` (replacing what
// it held). False, with `pairs` untouched, when the file cannot be opened, is
// not a regular file, is larger than kMaxConfigFileBytes, or yields fewer
// bytes than its size.
bool ReadConfigFile(const char* path, std::vector<ConfigPair>* pairs);

}  // namespace vimbra
