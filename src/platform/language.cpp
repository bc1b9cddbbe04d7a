#include "platform/language.h"

#include <cstdlib>

namespace vimbra::platform {

uint16_t LanguageIdOfLocale(std::string_view locale) {
    return locale.substr(0, 2) == "ja" ? kLanguageJapanese : kLanguageEnglishUs;
}

uint16_t SystemLanguageId() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return LanguageIdOfLocale(value);
    }
    return kLanguageEnglishUs;
}

}  // namespace vimbra::platform
