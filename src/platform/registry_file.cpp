#include "platform/registry_file.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace vimbra::platform {

namespace {

constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";

char16_t FoldAscii(char16_t c) {
    return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c;
}

// ---- UTF-8 / UTF-16 -------------------------------------------------------

// Decodes one UTF-8 sequence at `i`; returns its length, or 0 when invalid.
size_t DecodeUtf8(std::string_view s, size_t i, char32_t* out) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    size_t len;
    char32_t cp;
    if (c < 0x80) {
        *out = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    *out = cp;
    return len;
}

bool IsValidUtf8(std::string_view s) {
    char32_t cp;
    for (size_t i = 0; i < s.size();) {
        const size_t n = DecodeUtf8(s, i, &cp);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

std::u16string Latin1ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (char c : s) out.push_back(static_cast<unsigned char>(c));
    return out;
}

// 8-bit text: UTF-8 when the whole text is valid UTF-8, else Latin-1.
std::u16string EightBitToUtf16(std::string_view s) {
    return IsValidUtf8(s) ? Utf8ToUtf16(s) : Latin1ToUtf16(s);
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view s, bool terminate) {
    std::vector<uint8_t> out;
    out.reserve((s.size() + 1) * 2);
    for (char16_t c : s) {
        out.push_back(static_cast<uint8_t>(c & 0xFF));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminate) out.insert(out.end(), {0, 0});
    return out;
}

// ---- Parsing --------------------------------------------------------------

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

std::u16string_view TrimRight(std::u16string_view s) {
    while (!s.empty() && (IsBlank(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
    return s;
}

std::u16string_view TrimLeft(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool StartsWithNoCase(std::u16string_view s, std::u16string_view prefix) {
    return s.size() >= prefix.size() && RegNamesEqual(s.substr(0, prefix.size()), prefix);
}

// Reads a quoted string starting at s[0] == '"'; `s` is advanced past the
// closing quote. Backslash escapes: \\ \" \n \r \0; any other backslash is
// taken literally.
bool ReadQuoted(std::u16string_view& s, std::u16string* out) {
    out->clear();
    size_t i = 1;
    for (; i < s.size(); ++i) {
        char16_t c = s[i];
        if (c == u'"') break;
        if (c == u'\\' && i + 1 < s.size()) {
            const char16_t n = s[i + 1];
            if (n == u'\\' || n == u'"') {
                c = n;
                ++i;
            } else if (n == u'n') {
                c = u'\n';
                ++i;
            } else if (n == u'r') {
                c = u'\r';
                ++i;
            } else if (n == u'0') {
                c = 0;
                ++i;
            }
        }
        out->push_back(c);
    }
    if (i >= s.size()) return false;
    s.remove_prefix(i + 1);
    return true;
}

bool SplitPath(std::u16string_view text, RegPath* path) {
    path->clear();
    size_t start = 0;
    while (true) {
        const size_t pos = text.find(u'\\', start);
        const std::u16string_view part = text.substr(
            start, pos == std::u16string_view::npos ? std::u16string_view::npos : pos - start);
        if (part.empty()) {
            // A single trailing backslash is tolerated; other empty names are not.
            if (pos == std::u16string_view::npos && !path->empty()) return true;
            return false;
        }
        path->emplace_back(part);
        if (pos == std::u16string_view::npos) return true;
        start = pos + 1;
    }
}

class Parser {
  public:
    Parser(RegTree& tree, std::string* error) : tree_(tree), error_(error) {}

    bool Run(const std::u16string& text) {
        std::vector<std::u16string_view> lines;
        std::u16string_view rest(text);
        while (!rest.empty()) {
            const size_t nl = rest.find(u'\n');
            lines.push_back(rest.substr(0, nl));
            if (nl == std::u16string_view::npos) break;
            rest.remove_prefix(nl + 1);
        }
        size_t n = 0;
        // The header is the first line that is not blank.
        while (n < lines.size() && TrimRight(lines[n]).empty()) ++n;
        if (n == lines.size()) return Fail(0, "no header");
        const std::u16string_view header = TrimRight(lines[n]);
        if (header != kHeader5 && header != kHeader4) return Fail(n, "unknown header");
        // The header, not the file's encoding, says how string data in hex
        // form are stored: version 5.00 files are often saved as 8-bit text.
        ansi_ = header == kHeader4;
        size_t last_content = lines.size();
        while (last_content > n && TrimRight(lines[last_content - 1]).empty()) --last_content;
        last_content = last_content == 0 ? 0 : last_content - 1;
        for (++n; n < lines.size(); ++n) {
            std::u16string_view line = TrimRight(lines[n]);
            const size_t line_no = n;
            if (TrimLeft(line).empty() || TrimLeft(line).front() == u';') continue;
            if (line.front() == u'[') {
                if (!Section(line)) return Fail(line_no, "bad key line");
                continue;
            }
            // Hex data continue on following lines while a line ends with '\'.
            // A continuation that is blank or missing is a file cut short.
            std::u16string joined;
            if (line.back() == u'\\') {
                joined.assign(line.substr(0, line.size() - 1));
                bool complete = false;
                while (!complete && n + 1 < lines.size()) {
                    const std::u16string_view next = TrimLeft(TrimRight(lines[++n]));
                    if (next.empty()) break;
                    complete = next.back() != u'\\';
                    joined.append(next.substr(0, next.size() - (complete ? 0 : 1)));
                }
                if (!complete) return Fail(line_no, "value cut short");
                line = joined;
            }
            if (!Value(line, n >= last_content)) return Fail(line_no, "bad value line");
        }
        return true;
    }

  private:
    bool Fail(size_t line, const char* what) {
        if (error_) *error_ = "line " + std::to_string(line + 1) + ": " + what;
        return false;
    }

    bool Section(std::u16string_view line) {
        const size_t close = line.rfind(u']');
        if (close == std::u16string_view::npos || close + 1 != line.size()) return false;
        std::u16string_view inner = line.substr(1, close - 1);
        const bool remove = !inner.empty() && inner.front() == u'-';
        if (remove) inner.remove_prefix(1);
        RegPath path;
        if (!SplitPath(inner, &path) || path.size() > kMaxRegKeyDepth) return false;
        if (remove) {
            tree_.Delete(path);
            current_ = nullptr;
            have_section_ = true;  // values after a deletion are ignored, as on import
        } else {
            current_ = &tree_.Create(path);
            have_section_ = true;
        }
        return true;
    }

    // `last`: the line is the file's last content, where a list that ends
    // in a comma was cut short.
    bool Value(std::u16string_view line, bool last) {
        if (!have_section_ || line.empty()) return false;
        std::u16string name;
        if (line.front() == u'@') {
            line.remove_prefix(1);
        } else if (line.front() == u'"') {
            if (!ReadQuoted(line, &name)) return false;
        } else {
            return false;
        }
        line = TrimLeft(line);
        if (line.empty() || line.front() != u'=') return false;
        line = TrimLeft(line.substr(1));
        if (line.empty()) return false;

        uint32_t type;
        std::vector<uint8_t> data;
        if (line == u"-") {
            if (current_) current_->DeleteValue(name);
            return true;
        } else if (line.front() == u'"') {
            std::u16string text;
            if (!ReadQuoted(line, &text) || !TrimLeft(line).empty()) return false;
            type = kRegSz;
            data = Utf16Bytes(text, true);
        } else if (StartsWithNoCase(line, u"dword:")) {
            line.remove_prefix(6);
            // Always eight digits: fewer are a value cut short.
            if (line.size() != 8) return false;
            uint32_t v = 0;
            for (char16_t c : line) {
                const int d = HexDigit(c);
                if (d < 0) return false;
                v = (v << 4) | static_cast<uint32_t>(d);
            }
            type = kRegDword;
            data = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        } else if (StartsWithNoCase(line, u"hex")) {
            line.remove_prefix(3);
            type = kRegBinary;
            if (!line.empty() && line.front() == u'(') {
                const size_t close = line.find(u')');
                if (close == std::u16string_view::npos || close == 1 || close > 9) return false;
                uint32_t t = 0;
                for (char16_t c : line.substr(1, close - 1)) {
                    const int d = HexDigit(c);
                    if (d < 0) return false;
                    t = (t << 4) | static_cast<uint32_t>(d);
                }
                type = t;
                line.remove_prefix(close + 1);
            }
            if (line.empty() || line.front() != u':') return false;
            line.remove_prefix(1);
            if (!HexBytes(line, last, &data)) return false;
            // Version 4 files hold expandable and multi-strings as 8-bit text.
            if (ansi_ && (type == kRegExpandSz || type == kRegMultiSz)) {
                const std::string narrow(data.begin(), data.end());
                data = Utf16Bytes(EightBitToUtf16(narrow), false);
            }
        } else {
            return false;
        }
        if (current_) current_->SetValue(name, type, std::move(data));
        return true;
    }

    // Bytes of two hex digits each, separated by commas. A trailing comma is
    // tolerated, except at the end of the file, where the list was cut.
    static bool HexBytes(std::u16string_view s, bool last, std::vector<uint8_t>* out) {
        s = TrimLeft(s);
        if (s.empty()) return true;
        while (true) {
            s = TrimLeft(s);
            if (s.size() < 2 || HexDigit(s[0]) < 0 || HexDigit(s[1]) < 0) return false;
            out->push_back(static_cast<uint8_t>(HexDigit(s[0]) * 16 + HexDigit(s[1])));
            s = TrimLeft(s.substr(2));
            if (s.empty()) return true;
            if (s.front() != u',') return false;
            s.remove_prefix(1);
            if (TrimLeft(s).empty()) return !last;
        }
    }

    RegTree& tree_;
    bool ansi_ = false;  // REGEDIT4: expandable and multi-strings are 8-bit text
    std::string* error_;
    // The key of the current section; valid until the next section line.
    RegKeyNode* current_ = nullptr;
    bool have_section_ = false;
};

// ---- Writing --------------------------------------------------------------

void AppendAscii(std::u16string& out, std::string_view s) {
    for (char c : s) out.push_back(static_cast<char16_t>(c));
}

void AppendQuoted(std::u16string& out, std::u16string_view s) {
    out.push_back(u'"');
    for (char16_t c : s) {
        switch (c) {
            case u'\\':
                out += u"\\\\";
                break;
            case u'"':
                out += u"\\\"";
                break;
            case u'\n':
                out += u"\\n";
                break;
            case u'\r':
                out += u"\\r";
                break;
            case 0:
                out += u"\\0";
                break;
            default:
                out.push_back(c);
        }
    }
    out.push_back(u'"');
}

// A REG_SZ that a quoted string reproduces exactly: UTF-16 text ending in its
// one terminating zero, without line breaks.
bool IsPlainString(const std::vector<uint8_t>& d) {
    if (d.size() < 2 || d.size() % 2 != 0) return false;
    if (d[d.size() - 1] != 0 || d[d.size() - 2] != 0) return false;
    for (size_t i = 0; i + 2 < d.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(d[i] | (d[i + 1] << 8));
        if (c == 0 || c == u'\n' || c == u'\r') return false;
    }
    return true;
}

void AppendValue(std::u16string& out, const RegValue& v) {
    const size_t line_start = out.size();
    if (v.name.empty())
        out.push_back(u'@');
    else
        AppendQuoted(out, v.name);
    out.push_back(u'=');
    char buf[32];
    if (v.type == kRegSz && IsPlainString(v.data)) {
        std::u16string text;
        for (size_t i = 0; i + 2 < v.data.size(); i += 2)
            text.push_back(static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8)));
        AppendQuoted(out, text);
    } else if (v.type == kRegDword && v.data.size() == 4) {
        const uint32_t x = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) |
                           (static_cast<uint32_t>(v.data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", x);
        AppendAscii(out, buf);
    } else {
        if (v.type == kRegBinary)
            AppendAscii(out, "hex:");
        else {
            std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
            AppendAscii(out, buf);
        }
        // Lines are wrapped after a comma near column 77, continuing with two
        // spaces, as the registry editor does.
        size_t column = out.size() - line_start;
        for (size_t i = 0; i < v.data.size(); ++i) {
            std::snprintf(buf, sizeof buf, "%02x", v.data[i]);
            AppendAscii(out, buf);
            column += 2;
            if (i + 1 == v.data.size()) break;
            out.push_back(u',');
            ++column;
            if (column >= 77) {
                out += u"\\\r\n  ";
                column = 2;
            }
        }
    }
    out += u"\r\n";
}

void AppendKey(std::u16string& out, const RegKeyNode& key, std::u16string& path) {
    const size_t path_size = path.size();
    if (!path.empty()) path.push_back(u'\\');
    path += key.name;
    if (key.listed || !key.values.empty() || key.subkeys.empty()) {
        out.push_back(u'[');
        out += path;
        out += u"]\r\n";
        for (const RegValue& v : key.values) AppendValue(out, v);
        out += u"\r\n";
    }
    for (const RegKeyNode& sub : key.subkeys) AppendKey(out, sub, path);
    path.resize(path_size);
}

}  // namespace

// ---- Names and tree -------------------------------------------------------

bool RegNamesEqual(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

namespace {

std::u16string Folded(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) c = FoldAscii(c);
    return out;
}

}  // namespace

template <typename T>
T* RegKeyNode::Lookup(std::vector<T>& items, Index& index, std::u16string_view name) {
    if (index.size != items.size() || index.storage != items.data()) {
        index.at.clear();
        for (size_t i = 0; i < items.size(); ++i) index.at.emplace(Folded(items[i].name), i);
        index.size = items.size();
        index.storage = items.data();
    }
    const auto it = index.at.find(Folded(name));
    return it == index.at.end() ? nullptr : &items[it->second];
}

template <typename T>
void RegKeyNode::Indexed(const std::vector<T>& items, Index& index, std::u16string_view name) {
    // Called after appending `name` to an index that was current before.
    index.at.emplace(Folded(name), items.size() - 1);
    index.size = items.size();
    index.storage = items.data();
}

template <typename T>
bool RegKeyNode::Erase(std::vector<T>& items, Index& index, std::u16string_view name) {
    T* item = Lookup(items, index, name);
    if (!item) return false;
    items.erase(items.begin() + (item - items.data()));
    index.size = ~size_t{0};  // positions moved: rebuilt on the next lookup
    return true;
}

RegKeyNode* RegKeyNode::FindSubkey(std::u16string_view subkey_name) {
    return Lookup(subkeys, subkey_index_, subkey_name);
}

const RegKeyNode* RegKeyNode::FindSubkey(std::u16string_view subkey_name) const {
    return const_cast<RegKeyNode*>(this)->FindSubkey(subkey_name);
}

RegKeyNode& RegKeyNode::CreateSubkey(std::u16string_view subkey_name) {
    if (RegKeyNode* k = FindSubkey(subkey_name)) return *k;
    subkeys.emplace_back().name = subkey_name;
    Indexed(subkeys, subkey_index_, subkey_name);
    return subkeys.back();
}

bool RegKeyNode::DeleteSubkey(std::u16string_view subkey_name) {
    return Erase(subkeys, subkey_index_, subkey_name);
}

RegValue* RegKeyNode::FindValue(std::u16string_view value_name) {
    return Lookup(values, value_index_, value_name);
}

const RegValue* RegKeyNode::FindValue(std::u16string_view value_name) const {
    return const_cast<RegKeyNode*>(this)->FindValue(value_name);
}

void RegKeyNode::SetValue(std::u16string_view value_name, uint32_t type,
                          std::vector<uint8_t> data) {
    if (RegValue* v = FindValue(value_name)) {
        v->type = type;
        v->data = std::move(data);
    } else {
        values.push_back(RegValue{std::u16string(value_name), type, std::move(data)});
        Indexed(values, value_index_, value_name);
    }
}

bool RegKeyNode::DeleteValue(std::u16string_view value_name) {
    return Erase(values, value_index_, value_name);
}

void RegKeyNode::Clear() {
    values.clear();
    subkeys.clear();
    value_index_ = Index{};
    subkey_index_ = Index{};
}

RegKeyNode* RegTree::Find(const RegPath& path) {
    RegKeyNode* node = &top;
    for (const std::u16string& part : path) {
        node = node->FindSubkey(part);
        if (!node) return nullptr;
    }
    return node;
}

const RegKeyNode* RegTree::Find(const RegPath& path) const {
    return const_cast<RegTree*>(this)->Find(path);
}

RegKeyNode& RegTree::Create(const RegPath& path, bool list) {
    RegKeyNode* node = &top;
    for (const std::u16string& part : path) node = &node->CreateSubkey(part);
    if (list && !path.empty()) node->listed = true;
    return *node;
}

bool RegTree::Delete(const RegPath& path) {
    if (path.empty()) return false;
    RegKeyNode* parent = Find(RegPath(path.begin(), path.end() - 1));
    return parent && parent->DeleteSubkey(path.back());
}

// ---- Conversions ----------------------------------------------------------

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        size_t n = DecodeUtf8(text, i, &cp);
        if (n == 0) {
            cp = static_cast<unsigned char>(text[i]);
            n = 1;
        }
        AppendUtf16(out, cp);
        i += n;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // an unpaired surrogate has no UTF-8 form
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// ---- Whole files ----------------------------------------------------------

bool ParseRegFile(std::string_view bytes, RegTree& tree, std::string* error) {
    tree = RegTree{};
    std::u16string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) {
            if (error) *error = "odd length for UTF-16 text";
            return false;
        }
        text.reserve(bytes.size() / 2);
        for (size_t i = 2; i < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text = Utf8ToUtf16(bytes.substr(3));
    } else {
        text = EightBitToUtf16(bytes);
    }
    if (text.find(u'\0') != std::u16string::npos) {
        if (error) *error = "zero character in text";
        tree = RegTree{};
        return false;
    }
    Parser parser(tree, error);
    if (!parser.Run(text)) {
        tree = RegTree{};
        return false;
    }
    return true;
}

std::string SerializeRegFile(const RegTree& tree) {
    std::u16string text(kHeader5);
    text += u"\r\n\r\n";
    std::u16string path;
    for (const RegKeyNode& root : tree.top.subkeys) AppendKey(text, root, path);
    std::string bytes = "\xFF\xFE";
    bytes.reserve(2 + text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

}  // namespace vimbra::platform
