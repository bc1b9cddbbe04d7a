// Helpers for the output tests: a scratch directory, whole-file reads,
// external readers run as processes, and small pictures with known pixels.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/dib_image.h"

namespace vimbra::testing {

// A fresh directory per test, removed with everything in it afterwards.
class ScratchDir {
  public:
    ScratchDir() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "vimbra-output-XXXXXX").string();
        if (::mkdtemp(templ.data()) != nullptr) path_ = templ;
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (uint32_t{b.at(at + 3)} << 24);
}
inline uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::string FourCc(const std::vector<uint8_t>& b, size_t at) {
    return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
}

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Skips the calling test with a message when a reader is not installed.
#define VIMBRA_REQUIRE_TOOL(name)                                                      \
    do {                                                                               \
        if (!::vimbra::testing::HaveTool(name))                                        \
            GTEST_SKIP() << name << " is not installed (tools/setup-deps.sh adds it)"; \
    } while (0)

// Runs a shell command and returns its standard output; `status` receives
// the exit status.
inline std::string RunTool(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status != nullptr) *status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

// What ffprobe reads of an AVI's video stream: codec, size and the frames it
// counted by reading them ("key=value" lines); empty when ffprobe fails.
inline std::string ProbeVideo(const std::string& path) {
    int status = -1;
    const std::string out = RunTool(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,nb_read_frames -of default=noprint_wrappers=1 '" +
            path + "' 2>&1",
        &status);
    return status == 0 ? out : std::string();
}

// A picture as a reader decoded it: rows top first, `channels` bytes or
// 16-bit samples per pixel, no padding.
struct Decoded {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint16_t> samples;
    uint16_t at(int x, int y, int c) const {
        return samples.at((static_cast<size_t>(y) * width + x) * channels + c);
    }
};

// Parses the binary PGM or PPM that `djpeg -pnm` writes.
inline Decoded ParsePnm(const std::string& pnm) {
    Decoded d;
    int maxval = 0;
    char magic[3] = {};
    int consumed = 0;
    if (std::sscanf(pnm.c_str(), "%2s %d %d %d%n", magic, &d.width, &d.height, &maxval,
                    &consumed) != 4 ||
        maxval != 255) {
        return {};
    }
    d.channels = std::strcmp(magic, "P6") == 0 ? 3 : 1;
    const size_t count = static_cast<size_t>(d.width) * d.height * d.channels;
    const size_t start = static_cast<size_t>(consumed) + 1;
    if (pnm.size() < start + count) return {};
    for (size_t i = 0; i < count; ++i) d.samples.push_back(static_cast<uint8_t>(pnm[start + i]));
    return d;
}

// Fills every pixel of `image` with `pixel(x, y, sample)` for each of its
// samples (bytes for 8, 24 and 32 bits; 16-bit words for 16, 48 and 64),
// where y counts memory rows from the top.
template <typename F>
void Fill(CDibImage& image, F pixel) {
    const bool wide = image.bit_count() == 16 || image.bit_count() >= 48;
    const int samples = image.bytes_per_pixel() / (wide ? 2 : 1);
    for (int y = 0; y < image.height(); ++y) {
        uint8_t* row = image.row(y);
        for (int x = 0; x < image.width(); ++x) {
            for (int s = 0; s < samples; ++s) {
                const unsigned v = pixel(x, y, s);
                if (wide) {
                    row[(x * samples + s) * 2] = static_cast<uint8_t>(v);
                    row[(x * samples + s) * 2 + 1] = static_cast<uint8_t>(v >> 8);
                } else {
                    row[x * samples + s] = static_cast<uint8_t>(v);
                }
            }
        }
    }
}

// Lets the process write files only up to `bytes`, as a disk that fills up
// would; writes past it fail instead of raising a signal. Undone on
// destruction.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        saved_handler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, saved_handler_);
    }

  private:
    rlimit saved_{};
    sighandler_t saved_handler_ = SIG_DFL;
};

}  // namespace vimbra::testing
