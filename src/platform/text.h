// Conversions between the interface's wide strings (UTF-16 code units) and
// the narrow strings of the calling thread's character set: the ANSI code
// page on Windows, the locale's character set elsewhere (UTF-8 in practice;
// the plain "C" locale, which only knows ASCII, is taken as UTF-8 too).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vimbra::platform {

// Converts the NUL-terminated `in` into `out` of `out_size` bytes, terminator
// included. False, with `out` holding "" when it has room, when `in` is null,
// a character has no narrow form (or a surrogate is unpaired) or the result
// does not fit.
bool WideToNarrow(const char16_t* in, char* out, size_t out_size);

// Converts the NUL-terminated `in` into `out` of `out_units` code units,
// terminator included; false as above.
bool NarrowToWide(const char* in, char16_t* out, size_t out_units);

}  // namespace vimbra::platform
