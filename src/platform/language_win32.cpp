// The system's default language on Windows, as the dialogs' templates are
// chosen by it.
#include <windows.h>

#include "platform/language.h"

namespace vimbra::platform {

uint16_t SystemLanguageId() {
    return ::GetSystemDefaultLangID();
}

}  // namespace vimbra::platform
