// The current user's registry, reached through calls shaped like the Win32
// registry functions (RegOpenKeyEx, RegCreateKeyEx, RegQueryValueEx,
// RegSetValueEx, RegDeleteValue, RegDeleteTree, RegCloseKey) so that the
// Windows registry can stand behind the same interface.
//
// Outside Windows the registry is a registry export file (.reg):
//   $VIMBRA_REGISTRY_FILE                when set (full path of the file),
//   $XDG_CONFIG_HOME/vimbra/registry.reg when XDG_CONFIG_HOME is an absolute path,
//   ~/.config/vimbra/registry.reg        otherwise, with ~ the absolute $HOME
//                                        or else the account's home directory.
// The file is written as "Windows Registry Editor Version 5.00" in UTF-16 LE
// with a byte order mark; "REGEDIT4" files are read as well, so settings can
// be copied to and from Windows. Keys and values of other programs are kept.
//
// Changes made through keys opened for writing become visible to this process
// at once and are written to the file when the last key opened for writing is
// closed: under a lock shared by all processes the file is read again, the
// changes are applied to what it holds now, and the result replaces the file
// atomically (temporary file, flush, rename). A file that cannot be parsed is
// moved aside as "<file>.corrupt" (or ".corrupt.N"), with one message on
// standard error, and the registry starts empty.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/registry_file.h"

namespace vimbra::platform {

// An open key (HKEY).
using RegKey = struct RegKeyObject*;

// The predefined key HKEY_CURRENT_USER; it needs no opening or closing.
RegKey HkeyCurrentUser();

// Results, with the values of the Win32 error codes.
using RegStatus = int32_t;
enum : RegStatus {
    kRegOk = 0,
    kRegNotFound = 2,       // ERROR_FILE_NOT_FOUND
    kRegAccessDenied = 5,   // ERROR_ACCESS_DENIED
    kRegInvalidHandle = 6,  // ERROR_INVALID_HANDLE
    kRegWriteFault = 29,    // ERROR_WRITE_FAULT: the file could not be written
    kRegInvalidParameter = 87,
    kRegMoreData = 234,     // ERROR_MORE_DATA
    kRegKeyDeleted = 1018,  // ERROR_KEY_DELETED
};

// Opens an existing key for reading (KEY_READ). `subkey` is a path of names
// separated by backslashes; empty opens `parent` again.
RegStatus OpenKey(RegKey parent, const char* subkey, RegKey* result);

// Opens a key for reading and writing (KEY_ALL_ACCESS), creating it and any
// missing key above it. `parent` must be open for writing.
RegStatus CreateKey(RegKey parent, const char* subkey, RegKey* result);

// Reads a value like RegQueryValueEx: with `data` null only the type and size
// are reported; otherwise `*size` is the buffer size on entry and the data
// size on return, and a buffer that is too small gives kRegMoreData and is
// left alone. Strings are stored as UTF-16 LE with their terminating zero.
// `name` null or empty is the default value.
RegStatus QueryValue(RegKey key, const char* name, uint32_t* type, void* data, uint32_t* size);

// Writes a value of any type (RegSetValueEx); the key must be open for writing.
RegStatus SetValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size);

// Reads a value into a 4-byte holder without looking at its type: data of up
// to 4 bytes are copied into its low bytes, longer data give kRegMoreData.
RegStatus QueryDword(RegKey key, const char* name, int32_t* value);

// Writes a REG_DWORD value.
RegStatus SetDword(RegKey key, const char* name, int32_t value);

RegStatus DeleteValue(RegKey key, const char* name);

// Removes `subkey` (or, when empty, everything below `key`) with all subkeys.
RegStatus DeleteTree(RegKey key, const char* subkey);

// Closes a key. Closing the last key opened for writing writes the pending
// changes to the file; kRegWriteFault reports that this failed (the changes
// are then dropped and the registry shows the file as it is).
RegStatus CloseKey(RegKey key);

// The file that holds the registry, as resolved from the environment now;
// empty when no location can be found.
std::string RegistryFilePath();

// Owns an open key and closes it when it goes out of scope.
class ScopedRegKey {
  public:
    ScopedRegKey() = default;
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;
    ScopedRegKey(ScopedRegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    ScopedRegKey& operator=(ScopedRegKey&& other) noexcept {
        if (this != &other) {
            Close();
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }
    ~ScopedRegKey() { Close(); }

    RegKey get() const { return key_; }
    // The address to pass as `result` to OpenKey or CreateKey; closes any key held.
    RegKey* Receive() {
        Close();
        return &key_;
    }
    RegStatus Close() { return key_ ? CloseKey(std::exchange(key_, nullptr)) : kRegOk; }

  private:
    RegKey key_ = nullptr;
};

}  // namespace vimbra::platform
