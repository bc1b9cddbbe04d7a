// The language of the dialogs' texts: Japanese when the system's language is
// Japanese, English otherwise.
#pragma once

namespace vimbra::dialogs {

enum class Language { kEnglish, kJapanese };

// The system's language as the dialogs use it (see platform/language.h).
Language UserLanguage();

}  // namespace vimbra::dialogs
