// The configuration file: a list of value pairs that a host loads from a
// file; nothing else in the session reads it.
#include "platform/text.h"
#include "session/vimbra.h"

namespace vimbra {

int32_t CVimbra::LoadConfigFile(const char* path) {
    std::vector<ConfigPair> pairs;
    if (!ReadConfigFile(path, &pairs)) return 0;
    std::lock_guard<platform::RecursiveLock> lock(config_lock_);
    config_list_.swap(pairs);
    return 1;
}

int32_t CVimbra::LoadConfigFileW(const char16_t* path) {
    char narrow[kPathBufferBytes];
    if (!platform::WideToNarrow(path, narrow, sizeof narrow)) {
        RecordError(VIMBRA_ERR_FILE);
        return 0;
    }
    return LoadConfigFile(narrow);
}

std::vector<ConfigPair> CVimbra::ConfigList() {
    std::lock_guard<platform::RecursiveLock> lock(config_lock_);
    return config_list_;
}

}  // namespace vimbra
