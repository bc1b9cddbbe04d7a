#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace vimbra::platform {
namespace {

TEST(WideToNarrow, ConvertsToUtf8AndRefusesWhatDoesNotFit) {
    struct Case {
        std::u16string wide;
        size_t room;
        bool ok;
        std::string narrow;
    };
    const Case cases[] = {
        {u"camera.cfg", 11, true, "camera.cfg"},
        {u"camera.cfg", 10, false, ""},  // no room for the terminator
        {u"\u00e9t\u00e9", 6, true, "\xC3\xA9t\xC3\xA9"},
        {u"\U0001F4F7", 5, true, "\xF0\x9F\x93\xB7"},  // a surrogate pair
        {u"a\xD83D", 8, false, ""},                    // high surrogate alone
        {u"\xDC00z", 8, false, ""},                    // low surrogate alone
        {u"", 1, true, ""},
    };
    for (const Case& c : cases) {
        char out[16];
        std::fill(std::begin(out), std::end(out), 'x');
        EXPECT_EQ(WideToNarrow(c.wide.c_str(), out, c.room), c.ok) << c.narrow;
        EXPECT_EQ(std::string(out), c.narrow);
        EXPECT_EQ(out[c.room], 'x');
    }
    char out[4];
    EXPECT_FALSE(WideToNarrow(nullptr, out, sizeof out));
    EXPECT_FALSE(WideToNarrow(u"a", nullptr, 4));
}

TEST(NarrowToWide, ConvertsFromUtf8) {
    char16_t out[8];
    EXPECT_TRUE(NarrowToWide("\xC3\xA9\xF0\x9F\x93\xB7", out, 4));
    EXPECT_EQ(std::u16string(out), u"\u00e9\U0001F4F7");
    EXPECT_FALSE(NarrowToWide("\xC3\xA9\xF0\x9F\x93\xB7", out, 3));
    EXPECT_FALSE(NarrowToWide("\xFF\xFE", out, 8));  // not UTF-8
    EXPECT_EQ(out[0], u'\0');
}

}  // namespace
}  // namespace vimbra::platform
