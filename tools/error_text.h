// The meaning of the library's error codes, as the tools print them.
#pragma once

#include <cstdint>

namespace vimbra::tools {

// One line of text for an error code of the public header; code 0 is a
// failure that left no code.
const char* ErrorText(int32_t code);

}  // namespace vimbra::tools
