// The in-memory form of a registry export file (.reg) and its conversion from
// and to the text that the Windows registry editor reads and writes.
//
// Reading accepts "Windows Registry Editor Version 5.00" and "REGEDIT4" files,
// either in UTF-16 LE with a byte order mark or in 8-bit text (UTF-8 when the
// bytes are valid UTF-8, otherwise Latin-1); the header says whether string
// data in hex form are UTF-16 (5.00) or 8-bit text (REGEDIT4). Writing always
// produces the version 5.00 form in UTF-16 LE with a byte order mark and CRLF
// line ends.
// Every key and value is kept, whatever its root or type, so that a file
// read and written back loses nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vimbra::platform {

// Keys nest at most this deep (root included), as in the Windows registry;
// deeper paths are refused rather than recursed into.
inline constexpr size_t kMaxRegKeyDepth = 512;

// Registry value types (REG_*).
enum : uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
    kRegDwordBigEndian = 5,
    kRegLink = 6,
    kRegMultiSz = 7,
    kRegQword = 11,
};

// One named value; the data are the bytes the registry stores (strings as
// UTF-16 LE with their terminating zero, as the wide-character calls see them).
struct RegValue {
    std::u16string name;  // empty for the key's default value ("@")
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;

    bool operator==(const RegValue&) const = default;
};

// One key with its values and subkeys, both in file order. Names compare
// without regard to ASCII letter case, as the registry does.
struct RegKeyNode {
    std::u16string name;
    std::vector<RegValue> values;
    std::vector<RegKeyNode> subkeys;
    // The key has a line of its own in the file. Keys that only lie on the
    // path to another key are implied by it and written without one unless
    // they hold values or nothing at all.
    bool listed = false;

    // Lookups by name take constant time through an index of the folded
    // names, so that reading or building a key of n entries takes time in n.
    RegKeyNode* FindSubkey(std::u16string_view subkey_name);
    const RegKeyNode* FindSubkey(std::u16string_view subkey_name) const;
    RegKeyNode& CreateSubkey(std::u16string_view subkey_name);
    bool DeleteSubkey(std::u16string_view subkey_name);

    RegValue* FindValue(std::u16string_view value_name);
    const RegValue* FindValue(std::u16string_view value_name) const;
    void SetValue(std::u16string_view value_name, uint32_t type, std::vector<uint8_t> data);
    bool DeleteValue(std::u16string_view value_name);
    // Removes every value and subkey.
    void Clear();

    bool operator==(const RegKeyNode& other) const {
        return name == other.name && values == other.values && subkeys == other.subkeys &&
               listed == other.listed;
    }

  private:
    // Position of each entry by folded name; rebuilt when the vector was
    // changed other than through the methods above (its size or storage moved).
    struct Index {
        std::unordered_map<std::u16string, size_t> at;
        size_t size = 0;
        const void* storage = nullptr;
    };
    template <typename T>
    static T* Lookup(std::vector<T>& items, Index& index, std::u16string_view name);
    template <typename T>
    static void Indexed(const std::vector<T>& items, Index& index, std::u16string_view name);
    template <typename T>
    static bool Erase(std::vector<T>& items, Index& index, std::u16string_view name);

    Index value_index_;
    Index subkey_index_;
};

// A key path: the root ("HKEY_CURRENT_USER") followed by the subkey names.
using RegPath = std::vector<std::u16string>;

// The content of a whole file: an unnamed node whose subkeys are the roots.
struct RegTree {
    RegKeyNode top;

    RegKeyNode* Find(const RegPath& path);
    const RegKeyNode* Find(const RegPath& path) const;
    // Creates the key and every missing key above it; `list` marks the key
    // itself as listed.
    RegKeyNode& Create(const RegPath& path, bool list = true);
    // Removes the key with all its subkeys; false when it does not exist.
    bool Delete(const RegPath& path);

    bool operator==(const RegTree&) const = default;
};

// Case-insensitive comparison of registry names (ASCII letters folded).
bool RegNamesEqual(std::u16string_view a, std::u16string_view b);

// Parses the bytes of a .reg file into `tree` (which it replaces). Deletion
// entries ("[-key]" and "name"=-) are applied as an import would. On failure
// returns false and describes the first problem in `error`.
bool ParseRegFile(std::string_view bytes, RegTree& tree, std::string* error);

// Produces the bytes of a version 5.00 .reg file holding `tree`.
std::string SerializeRegFile(const RegTree& tree);

// Conversions between UTF-8 (the narrow names the library uses) and UTF-16.
// Invalid UTF-8 bytes are taken as Latin-1 characters.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace vimbra::platform
