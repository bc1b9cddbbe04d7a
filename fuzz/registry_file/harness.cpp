// The settings file parser on arbitrary bytes. Whatever parses is written back,
// read again and written back once more: the second reading must succeed and
// the two written files must be the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry_file.h"

using vimbra::platform::ParseRegFile;
using vimbra::platform::RegTree;
using vimbra::platform::SerializeRegFile;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RegTree tree;
    std::string error;
    if (!ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size), tree, &error))
        return 0;
    const std::string written = SerializeRegFile(tree);
    RegTree again;
    if (!ParseRegFile(written, again, &error)) std::abort();  // our own output must read back
    if (SerializeRegFile(again) != written) std::abort();
    return 0;
}
