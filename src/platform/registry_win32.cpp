// The current user's registry on Windows: the calls go straight to the
// system's registry functions under HKEY_CURRENT_USER. Keys are opened with
// the ANSI calls; values are read and written with the wide-character calls so
// that strings keep the UTF-16 form the interface promises.
#include <windows.h>

#include <cstring>
#include <string>

#include "platform/registry.h"
#include "platform/text.h"

namespace vimbra::platform {
namespace {

HKEY Native(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

// The wide form of a value name; "" (the default value) for null. False when
// the name has no UTF-16 form.
bool WideName(const char* name, std::u16string* out) {
    out->clear();
    if (name == nullptr || *name == '\0') return true;
    out->resize(std::strlen(name) + 1);
    if (!NarrowToWide(name, out->data(), out->size())) return false;
    out->resize(std::char_traits<char16_t>::length(out->data()));
    return true;
}

const wchar_t* AsWide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

}  // namespace

RegKey HkeyCurrentUser() {
    return reinterpret_cast<RegKey>(HKEY_CURRENT_USER);
}

RegStatus OpenKey(RegKey parent, const char* subkey, RegKey* result) {
    if (result == nullptr) return kRegInvalidParameter;
    *result = nullptr;
    HKEY key = nullptr;
    const LONG rc = ::RegOpenKeyExA(Native(parent), subkey ? subkey : "", 0, KEY_READ, &key);
    if (rc == ERROR_SUCCESS) *result = reinterpret_cast<RegKey>(key);
    return rc;
}

RegStatus CreateKey(RegKey parent, const char* subkey, RegKey* result) {
    if (result == nullptr) return kRegInvalidParameter;
    *result = nullptr;
    HKEY key = nullptr;
    const LONG rc =
        ::RegCreateKeyExA(Native(parent), subkey ? subkey : "", 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) *result = reinterpret_cast<RegKey>(key);
    return rc;
}

RegStatus QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size) {
    if (data != nullptr && size == nullptr) return kRegInvalidParameter;
    std::u16string wide;
    if (!WideName(name, &wide)) return kRegNotFound;
    DWORD t = 0;
    DWORD n = size ? *size : 0;
    const LONG rc = ::RegQueryValueExW(Native(key), AsWide(wide), nullptr, &t,
                                       static_cast<BYTE*>(data), size ? &n : nullptr);
    if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        if (type) *type = t;
        if (size) *size = n;
    }
    return rc;
}

RegStatus SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size) {
    if (size && !data) return kRegInvalidParameter;
    std::u16string wide;
    if (!WideName(name, &wide)) return kRegInvalidParameter;
    return ::RegSetValueExW(Native(key), AsWide(wide), 0, type, static_cast<const BYTE*>(data),
                            size);
}

RegStatus DeleteValue(RegKey key, const char* name) {
    std::u16string wide;
    if (!WideName(name, &wide)) return kRegNotFound;
    return ::RegDeleteValueW(Native(key), AsWide(wide));
}

RegStatus DeleteTree(RegKey key, const char* subkey) {
    return ::RegDeleteTreeA(Native(key), subkey && *subkey ? subkey : nullptr);
}

RegStatus CloseKey(RegKey key) {
    // The predefined root is never closed, as on the file-backed registry.
    if (key == HkeyCurrentUser()) return kRegOk;
    return ::RegCloseKey(Native(key));
}

std::string RegistryFilePath() {
    // The system keeps the registry; there is no file of the library's own.
    return {};
}

}  // namespace vimbra::platform
