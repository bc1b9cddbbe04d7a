#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "platform/language.h"

namespace vimbra::platform {
namespace {

TEST(LanguageTest, JapaneseOnlyForJapaneseLocales) {
    struct Case {
        const char* locale;
        uint16_t id;
    };
    for (const Case c : {Case{"ja_JP.UTF-8", kLanguageJapanese}, Case{"ja", kLanguageJapanese},
                         Case{"en_US.UTF-8", kLanguageEnglishUs}, Case{"C", kLanguageEnglishUs},
                         Case{"", kLanguageEnglishUs}}) {
        EXPECT_EQ(LanguageIdOfLocale(c.locale), c.id) << c.locale;
    }
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = ::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(LanguageTest, LcAllOverridesLcMessagesWhichOverridesLang) {
    struct Case {
        const char *all, *messages, *lang;
        uint16_t id;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", kLanguageJapanese},
        {nullptr, "en_US.UTF-8", "ja_JP.UTF-8", kLanguageEnglishUs},
        {"ja_JP.UTF-8", "en_US.UTF-8", "en_US.UTF-8", kLanguageJapanese},
        {"", "", "ja_JP.UTF-8", kLanguageJapanese},  // empty values are skipped
        {nullptr, nullptr, nullptr, kLanguageEnglishUs},
    };
    for (const Case& c : cases) {
        ScopedEnv all("LC_ALL", c.all), messages("LC_MESSAGES", c.messages), lang("LANG", c.lang);
        EXPECT_EQ(SystemLanguageId(), c.id);
    }
}

}  // namespace
}  // namespace vimbra::platform
