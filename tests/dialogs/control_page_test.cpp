#include "dialogs/control_page.h"

#include <gtest/gtest.h>

namespace vimbra::dialogs {
namespace {

TEST(ParseDialogIntTest, ReadsAsTheDialogReadsItsEdits) {
    struct Case {
        const char* text;
        bool is_signed;
        int32_t value;
    };
    const Case cases[] = {
        {"42", true, 42},
        {" -17 ", true, -17},
        {"+5", true, 5},
        {"-5", false, 0},
        {"", true, 0},
        {"-", true, 0},
        {"12a", true, 0},
        {"abc", false, 0},
        {"2147483647", true, 2147483647},
        {"2147483648", true, 0},
        {"-2147483648", true, INT32_MIN},
        {"4294967295", false, -1},  // all bits set, as the record's int32 holds it
        {"4294967296", false, 0},
        {"99999999999999999999", true, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseDialogInt(c.text, c.is_signed), c.value) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace vimbra::dialogs
