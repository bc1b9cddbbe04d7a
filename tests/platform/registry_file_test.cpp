#include "platform/registry_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry_test_env.h"

namespace vimbra::platform {
namespace {

using testing::Utf16File;

std::vector<uint8_t> Wide(std::u16string_view s) {
    std::vector<uint8_t> out;
    for (char16_t c : s) out.insert(out.end(), {uint8_t(c & 0xFF), uint8_t(c >> 8)});
    return out;
}

std::vector<uint8_t> WideZ(std::u16string_view s) {
    auto out = Wide(s);
    out.insert(out.end(), {0, 0});
    return out;
}

const RegValue* Value(const RegTree& tree, const RegPath& path, std::u16string_view name) {
    const RegKeyNode* key = tree.Find(path);
    return key ? key->FindValue(name) : nullptr;
}

// A file as the Windows registry editor exports it: UTF-16 LE with a byte
// order mark, CRLF, long hex data wrapped, other programs' keys and types.
const std::u16string kWindowsExport =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Contoso]\r\n"
    u"@=\"Default text\"\r\n"
    u"\"Path\"=\"C:\\\\Program Files\\\\Contoso \\\"Pro\\\"\"\r\n"
    u"\"Greeting\"=\"\u3053\u3093\u306b\u3061\u306f\"\r\n"
    u"\"Count\"=dword:0000002a\r\n"
    u"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    u"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27\r\n"
    u"\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"
    u"  00,25,00,5c,00,61,00,70,00,70,00,00,00\r\n"
    u"\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    u"\"Big\"=hex(b):01,00,00,00,00,00,00,80\r\n"
    u"\"Empty\"=hex:\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Contoso\\Sub Key]\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
    u"\"Flag\"=dword:00000001\r\n"
    u"\r\n";

TEST(RegistryFile, ReadsWindowsExportAndWritesItBackUnchanged) {
    RegTree tree;
    std::string error;
    ASSERT_TRUE(ParseRegFile(Utf16File(kWindowsExport), tree, &error)) << error;

    const RegPath contoso{u"HKEY_CURRENT_USER", u"Software", u"Contoso"};
    struct Expect {
        std::u16string name;
        uint32_t type;
        std::vector<uint8_t> data;
    };
    std::vector<uint8_t> blob;
    for (int i = 0; i < 40; ++i) blob.push_back(static_cast<uint8_t>(i));
    const Expect expected[] = {
        {u"", kRegSz, WideZ(u"Default text")},
        {u"Path", kRegSz, WideZ(u"C:\\Program Files\\Contoso \"Pro\"")},
        {u"Greeting", kRegSz, WideZ(u"\u3053\u3093\u306b\u3061\u306f")},
        {u"Count", kRegDword, {0x2a, 0, 0, 0}},
        {u"Blob", kRegBinary, blob},
        {u"Expand", kRegExpandSz, WideZ(u"%SystemRoot%\\app")},
        {u"Multi", kRegMultiSz, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0}},
        {u"Big", kRegQword, {1, 0, 0, 0, 0, 0, 0, 0x80}},
        {u"Empty", kRegBinary, {}},
    };
    for (const Expect& e : expected) {
        const RegValue* v = Value(tree, contoso, e.name);
        ASSERT_NE(v, nullptr) << Utf16ToUtf8(e.name);
        EXPECT_EQ(v->type, e.type) << Utf16ToUtf8(e.name);
        EXPECT_EQ(v->data, e.data) << Utf16ToUtf8(e.name);
    }
    EXPECT_NE(tree.Find({u"HKEY_CURRENT_USER", u"Software", u"Contoso", u"Sub Key"}), nullptr);
    ASSERT_NE(Value(tree, {u"HKEY_LOCAL_MACHINE", u"SOFTWARE", u"Other"}, u"Flag"), nullptr);

    EXPECT_EQ(SerializeRegFile(tree), Utf16File(kWindowsExport));
}

TEST(RegistryFile, ReadsRegedit4EightBitText) {
    const std::string text =
        "REGEDIT4\n"
        "\n"
        "; written by hand\n"
        "[HKEY_CURRENT_USER\\Software\\Old]\n"
        "\"Name\"=\"caf\xE9\"\n"  // Latin-1, not UTF-8
        "\"Size\"=dword:00000010\n"
        "\"Expand\"=hex(2):25,41,25,00\n";
    RegTree tree;
    std::string error;
    ASSERT_TRUE(ParseRegFile(text, tree, &error)) << error;
    const RegPath old{u"HKEY_CURRENT_USER", u"Software", u"Old"};
    EXPECT_EQ(Value(tree, old, u"Name")->data, WideZ(u"caf\u00e9"));
    EXPECT_EQ(Value(tree, old, u"Size")->data, (std::vector<uint8_t>{0x10, 0, 0, 0}));
    // 8-bit expandable strings become the wide strings the registry stores.
    EXPECT_EQ(Value(tree, old, u"Expand")->data, WideZ(u"%A%"));

    const std::string written = SerializeRegFile(tree);
    EXPECT_EQ(written.substr(0, 2), "\xFF\xFE");
    RegTree again;
    ASSERT_TRUE(ParseRegFile(written, again, &error)) << error;
    EXPECT_EQ(again, tree);
}

// The header, not the file's encoding, says how expandable and multi-string
// data are stored: UTF-16 bytes under version 5.00 (also when the file was
// saved as 8-bit text, as hand-made files often are), 8-bit text under
// REGEDIT4 (also with a UTF-8 byte order mark).
TEST(RegistryFile, StringDataInHexFollowTheHeaderNotTheEncoding) {
    enum Encoding { kUtf16, kUtf8Bom, kEightBit };
    struct Case {
        const char* header;
        Encoding encoding;
        const char* hex;
    };
    const Case cases[] = {
        {"Windows Registry Editor Version 5.00", kUtf16, "25,00,41,00,25,00,00,00"},
        {"Windows Registry Editor Version 5.00", kUtf8Bom, "25,00,41,00,25,00,00,00"},
        {"Windows Registry Editor Version 5.00", kEightBit, "25,00,41,00,25,00,00,00"},
        {"REGEDIT4", kUtf16, "25,41,25,00"},
        {"REGEDIT4", kUtf8Bom, "25,41,25,00"},
        {"REGEDIT4", kEightBit, "25,41,25,00"},
    };
    for (const Case& c : cases) {
        const std::string text =
            std::string(c.header) +
            "\r\n\r\n[HKEY_CURRENT_USER\\Software\\X]\r\n\"E\"=hex(2):" + c.hex + "\r\n";
        std::string bytes = text;
        if (c.encoding == kUtf16) bytes = Utf16File(Utf8ToUtf16(text));
        if (c.encoding == kUtf8Bom) bytes = "\xEF\xBB\xBF" + text;
        RegTree tree;
        std::string error;
        const std::string what = std::string(c.header) + " encoding " + std::to_string(c.encoding);
        ASSERT_TRUE(ParseRegFile(bytes, tree, &error)) << what << ": " << error;
        const RegValue* v = Value(tree, {u"HKEY_CURRENT_USER", u"Software", u"X"}, u"E");
        ASSERT_NE(v, nullptr) << what;
        EXPECT_EQ(v->type, kRegExpandSz) << what;
        EXPECT_EQ(v->data, WideZ(u"%A%")) << what;
    }
}

TEST(RegistryFile, NamesMatchWithoutCaseAndDeletionsApply) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\App]\r\n"
        u"\"Keep\"=dword:00000001\r\n"
        u"\"Drop\"=dword:00000002\r\n\r\n"
        u"[hkey_current_user\\SOFTWARE\\app\\Gone]\r\n\r\n"
        u"[HKEY_CURRENT_USER\\Software\\APP]\r\n"
        u"\"drop\"=-\r\n\r\n"
        u"[-HKEY_CURRENT_USER\\Software\\App\\gone]\r\n";
    RegTree tree;
    std::string error;
    ASSERT_TRUE(ParseRegFile(Utf16File(text), tree, &error)) << error;
    const RegKeyNode* app = tree.Find({u"HKEY_CURRENT_USER", u"Software", u"App"});
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->values.size(), 1u);
    EXPECT_NE(app->FindValue(u"KEEP"), nullptr);
    EXPECT_TRUE(app->subkeys.empty());
    EXPECT_EQ(tree.top.subkeys.size(), 1u);
}

// Values whose form is easy to get wrong survive a write and a read exactly.
TEST(RegistryFile, AwkwardValuesSurviveRoundTrip) {
    RegTree tree;
    RegKeyNode& key = tree.Create({u"HKEY_CURRENT_USER", u"Software", u"Odd [key] name"});
    key.SetValue(u"quote\"and\\backslash", kRegSz, WideZ(u"x"));
    key.SetValue(u"line\nbreak", kRegSz, WideZ(u"a\r\nb"));
    key.SetValue(u"inner zero", kRegSz, WideZ(std::u16string(u"a\0b", 3)));
    key.SetValue(u"unterminated", kRegSz, Wide(u"abc"));
    key.SetValue(u"empty string data", kRegSz, {});
    key.SetValue(u"odd string data", kRegSz, {0x41});
    key.SetValue(u"short dword", kRegDword, {1, 2, 3});
    key.SetValue(u"big type", 0x12345678, {9});
    key.SetValue(u"surrogates \U0001F600", kRegSz, WideZ(u"\U0001F600"));
    std::vector<uint8_t> long_data(1000);
    for (size_t i = 0; i < long_data.size(); ++i) long_data[i] = static_cast<uint8_t>(i * 7);
    key.SetValue(u"long", kRegBinary, long_data);
    key.SetValue(u"", kRegDword, {0xff, 0xff, 0xff, 0xff});
    tree.Create({u"HKEY_USERS", u"S-1-5-18"});

    RegTree again;
    std::string error;
    ASSERT_TRUE(ParseRegFile(SerializeRegFile(tree), again, &error)) << error;
    EXPECT_EQ(again, tree);
}

TEST(RegistryFile, RejectsFilesThatDoNotParse) {
    const std::string h5 = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string key = "[HKEY_CURRENT_USER\\A]\r\n";
    struct Case {
        const char* what;
        std::string bytes;
        bool utf16;
    };
    const Case cases[] = {
        {"no header", key + "\"a\"=dword:00000001\r\n", false},
        {"binary junk", std::string("\x00\x01\x02\xff garbage", 12), false},
        {"value before any key", h5 + "\"a\"=dword:00000001\r\n", true},
        {"unterminated name", h5 + key + "\"a=dword:00000001\r\n", true},
        {"unterminated string", h5 + key + "\"a\"=\"text\r\n", true},
        {"bad dword digits", h5 + key + "\"a\"=dword:0000zz01\r\n", true},
        {"dword too long", h5 + key + "\"a\"=dword:000000001\r\n", true},
        {"bad hex byte", h5 + key + "\"a\"=hex:01,g2\r\n", true},
        {"unknown data form", h5 + key + "\"a\"=qword:1\r\n", true},
        {"unclosed key", h5 + "[HKEY_CURRENT_USER\\A\r\n", true},
        {"empty key name", h5 + "[HKEY_CURRENT_USER\\\\A]\r\n", true},
        {"text after a value", h5 + key + "\"a\"=\"x\" y\r\n", true},
        {"stray line", h5 + key + "hello\r\n", true},
        // A lone backslash joins into an empty value line.
        {"lone backslash last", "REGEDIT4\n[A]\n\\", false},
        {"backslash then blank line", h5 + key + "\\\r\n\r\n", true},
        // Files cut inside a value line.
        {"dword cut short", h5 + key + "\"a\"=dword:000007\r\n", true},
        {"hex byte cut short", h5 + key + "\"a\"=hex:01,0", true},
        {"hex list cut after a comma", h5 + key + "\"a\"=hex:01,02,", true},
        {"hex list cut after its line break", h5 + key + "\"a\"=hex:01,02,\\\r\n", true},
        {"hex continuation left blank", h5 + key + "\"a\"=hex:01,\\\r\n\r\n\"b\"=\"x\"\r\n", true},
        {"keys nested too deep",
         h5 + "[HKEY_CURRENT_USER" +
             [] {
                 std::string deep;
                 for (int i = 0; i < 600; ++i) deep += "\\k";
                 return deep;
             }() +
             "]\r\n",
         true},
    };
    for (const Case& c : cases) {
        std::string bytes = c.bytes;
        if (c.utf16) bytes = Utf16File(Utf8ToUtf16(c.bytes));
        RegTree tree;
        std::string error;
        EXPECT_FALSE(ParseRegFile(bytes, tree, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        EXPECT_EQ(tree, RegTree{}) << c.what;
    }
    RegTree tree;
    EXPECT_FALSE(ParseRegFile(std::string("\xFF\xFE\x57", 3), tree, nullptr)) << "odd UTF-16";
}

}  // namespace
}  // namespace vimbra::platform
