#include "device/config_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace vimbra {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

int32_t LoadLe32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool ReadConfigFile(const char* path, std::vector<ConfigPair>* pairs) {
    if (path == nullptr || pairs == nullptr) return false;
    std::error_code ec;
    // Directories, pipes and devices have no size to read up to.
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > kMaxConfigFileBytes) return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) return false;

    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    // A file cut short between the size query and the read counts as unread.
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;

    std::vector<ConfigPair> records;
    records.reserve(bytes.size() / 8);
    for (size_t at = 0; at + 8 <= bytes.size(); at += 8)
        records.emplace_back(LoadLe32(&bytes[at]), LoadLe32(&bytes[at + 4]));
    pairs->swap(records);
    return true;
}

}  // namespace vimbra
