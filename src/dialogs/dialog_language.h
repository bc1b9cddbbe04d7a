// The language of the dialogs' texts: Japanese when the user's locale is
// Japanese, English otherwise.
#pragma once

#include <string_view>

namespace vimbra::dialogs {

enum class Language { kEnglish, kJapanese };

// Reads the locale as the C library would choose the message language:
// LC_ALL, then LC_MESSAGES, then LANG; a value starting with "ja" is Japanese.
Language UserLanguage();

// The same decision for one locale name ("ja_JP.UTF-8" is Japanese).
Language LanguageOfLocale(std::string_view locale);

}  // namespace vimbra::dialogs
