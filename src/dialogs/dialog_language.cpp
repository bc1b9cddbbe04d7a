#include "dialogs/dialog_language.h"

#include <cstdlib>

namespace vimbra::dialogs {

Language LanguageOfLocale(std::string_view locale) {
    return locale.substr(0, 2) == "ja" ? Language::kJapanese : Language::kEnglish;
}

Language UserLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return LanguageOfLocale(value);
    }
    return Language::kEnglish;
}

}  // namespace vimbra::dialogs
