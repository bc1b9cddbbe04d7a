// A private registry file for one test: points VIMBRA_REGISTRY_FILE at a file
// in a fresh temporary directory and removes the directory afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/registry_file.h"

namespace vimbra::testing {

class TempRegistry {
  public:
    TempRegistry() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vimbra-registry-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        path_ = dir_ + "/registry.reg";
        ::setenv("VIMBRA_REGISTRY_FILE", path_.c_str(), 1);
    }
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;
    ~TempRegistry() {
        ::unsetenv("VIMBRA_REGISTRY_FILE");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const std::string& path() const { return path_; }
    const std::string& dir() const { return dir_; }

    static std::string Read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string Read() const { return Read(path_); }
    // Replaces the file as another writer would: a new file renamed over it.
    void Write(std::string_view bytes) const {
        const std::string temp = path_ + ".new";
        std::ofstream(temp, std::ios::binary | std::ios::trunc)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::filesystem::rename(temp, path_);
    }
    bool Exists(const std::string& file) const { return std::filesystem::exists(file); }

    // The file's content parsed; an unreadable file gives an empty tree.
    platform::RegTree Tree() const {
        platform::RegTree tree;
        platform::ParseRegFile(Read(), tree, nullptr);
        return tree;
    }

  private:
    std::string dir_;
    std::string path_;
};

// The bytes of a UTF-16 LE text file with a byte order mark.
inline std::string Utf16File(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

}  // namespace vimbra::testing
