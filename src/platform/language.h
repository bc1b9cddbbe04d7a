// The language of the system's user interface, as a Windows language id,
// which picks the texts of the property dialogs.
#pragma once

#include <cstdint>
#include <string_view>

namespace vimbra::platform {

inline constexpr uint16_t kLanguageEnglishUs = 0x0409;  // 1033
inline constexpr uint16_t kLanguageJapanese = 0x0411;   // 1041

// Windows: the system's default language id. Elsewhere: the language of the
// locale the C library would choose for messages (LC_ALL, then LC_MESSAGES,
// then LANG), Japanese or English.
uint16_t SystemLanguageId();

#ifndef _WIN32
// The language id a POSIX locale name stands for: Japanese for a name that
// starts with "ja" ("ja_JP.UTF-8"), English for any other.
uint16_t LanguageIdOfLocale(std::string_view locale);
#endif

}  // namespace vimbra::platform
