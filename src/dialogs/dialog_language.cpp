#include "dialogs/dialog_language.h"

#include "platform/language.h"

namespace vimbra::dialogs {

Language UserLanguage() {
    return platform::SystemLanguageId() == platform::kLanguageJapanese ? Language::kJapanese
                                                                       : Language::kEnglish;
}

}  // namespace vimbra::dialogs
