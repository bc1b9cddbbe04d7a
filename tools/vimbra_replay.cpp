// Replays raw frame files through the library into image files: the virtual
// camera serves the files' frames, and each one is taken as a snapshot (hot
// pixel repair, grey filter, demosaic, tone filters, as for a live camera)
// and saved in the chosen format.
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "error_text.h"
#include "file_summary.h"
#include "library_tables.h"
#include "sim/playback_file.h"

namespace {

using vimbra::tools::ColourMode;
using vimbra::tools::FileFormat;

constexpr int kUsageError = 64;  // exit status for a bad command line (sysexits' EX_USAGE)
constexpr int kInputError = 66;  // exit status for an unusable input file (EX_NOINPUT)
constexpr int kMaxWidth = 2592, kMaxHeight = 1944;
constexpr int kSlots = 32;

struct Options {
    int32_t width = 0, height = 0, bits = 0;
    std::vector<std::string> files;
    std::string output = "vimbra-replay";
    const FileFormat* format = vimbra::tools::FormatNamed("png");
    const ColourMode* colour = vimbra::tools::ModeNamed("bgr24");
    bool mono = false;
    int64_t max_frames = 0;  // 0: every frame of the files
};

void PrintHelp(const char* program) {
    std::printf(
        "Usage: %s [options] WIDTHxHEIGHTxBITS FILE...\n"
        "Replays raw camera frames through the library's frame conversion into image\n"
        "files, one per frame, named frame-NNNNNN plus the format's suffix.\n"
        "\n"
        "FILE holds frames of WIDTH x HEIGHT samples (at most %d x %d), BITS 8 (one byte\n"
        "each) or 16 (little-endian words of 12 significant bits), rows packed or padded\n"
        "to four bytes as the library's raw image files are. Colour frames are a Bayer\n"
        "mosaic starting G R / B G. File names may not hold ':'.\n"
        "\n"
        "  --output DIR     folder for the images (default vimbra-replay)\n"
        "  --format NAME    bmp, raw, jpeg100, jpeg70, jpeg20, png or tiff (default png)\n"
        "  --colour MODE    grey8, grey16, bgr24, bgr32, bgr48 or bgr64 (default bgr24)\n"
        "  --mono           the frames come from a monochrome sensor\n"
        "  --frames N       replay at most N frames (default: every frame of the files)\n"
        "  --help           this text\n"
        "\n"
        "Exit status: 0 when every frame was saved; the library's error code when a\n"
        "library call failed; %d for a bad command line; %d for an unusable file.\n",
        program, kMaxWidth, kMaxHeight, kUsageError, kInputError);
}

bool ParseGeometry(std::string_view text, Options* o) {
    int w = 0, h = 0, b = 0;
    char end = 0;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%dx%dx%d%c", &w, &h, &b, &end) != 3) return false;
    if (w < 2 || w > kMaxWidth || h < 2 || h > kMaxHeight || (b != 8 && b != 16)) return false;
    o->width = w;
    o->height = h;
    o->bits = b;
    return true;
}

// Parses the command line; 0 to go on, -1 after help, else the exit status.
int ParseArguments(int argc, char** argv, Options* o) {
    std::vector<std::string_view> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp(argv[0]);
            return -1;
        }
        if (arg == "--mono") {
            o->mono = true;
            continue;
        }
        if (arg.substr(0, 2) != "--") {
            positional.push_back(arg);
            continue;
        }
        const char* value = i + 1 < argc ? argv[++i] : nullptr;
        bool ok = value != nullptr;
        if (!ok) {
        } else if (arg == "--output") {
            o->output = value;
            ok = !o->output.empty();
        } else if (arg == "--format") {
            ok = (o->format = vimbra::tools::FormatNamed(value)) != nullptr;
        } else if (arg == "--colour") {
            ok = (o->colour = vimbra::tools::ModeNamed(value)) != nullptr;
        } else if (arg == "--frames") {
            char* end = nullptr;
            errno = 0;
            o->max_frames = std::strtoll(value, &end, 10);
            ok = errno == 0 && end != value && *end == '\0' && o->max_frames > 0;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "%s: bad option %.*s %s (see --help)\n", argv[0],
                         static_cast<int>(arg.size()), arg.data(), value ? value : "");
            return kUsageError;
        }
    }
    if (positional.size() < 2 || !ParseGeometry(positional[0], o)) {
        std::fprintf(stderr,
                     "%s: expected WIDTHxHEIGHTxBITS (BITS 8 or 16, at most %dx%d) and "
                     "at least one FILE (see --help)\n",
                     argv[0], kMaxWidth, kMaxHeight);
        return kUsageError;
    }
    for (size_t i = 1; i < positional.size(); ++i) {
        // The virtual camera's configuration separates file names with ':'.
        if (positional[i].find(':') != std::string_view::npos) {
            std::fprintf(stderr, "%s: a file name with ':' cannot be replayed: %.*s\n", argv[0],
                         static_cast<int>(positional[i].size()), positional[i].data());
            return kUsageError;
        }
        o->files.emplace_back(positional[i]);
    }
    return 0;
}

// Counts the frames of every file, as the virtual camera will read them; 0
// with the reason printed when a file is unusable.
int64_t CountFrames(const Options& o) {
    int64_t frames = 0;
    const size_t packed_row = static_cast<size_t>(o.width) * (o.bits / 8);
    for (const std::string& file : o.files) {
        std::string error;
        const auto playback = vimbra::sim::PlaybackFile::Open(file, packed_row, o.height, &error);
        if (!playback) {
            std::fprintf(stderr, "vimbra_replay: %s\n", error.c_str());
            return 0;
        }
        frames += static_cast<int64_t>(playback->frames());
    }
    return frames;
}

// A private folder for the session's stored settings, so that a replay
// leaves the user's camera settings alone, and for the virtual cameras'
// configuration; removed at exit.
struct Scratch {
    std::string folder;
    Scratch() {
        char name[] = "/tmp/vimbra-replay-XXXXXX";
        if (mkdtemp(name) != nullptr) folder = name;
    }
    ~Scratch() {
        std::error_code ignored;
        if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
    }
};

// Virtual cameras in every slot, each serving the files in order, so that a
// slot another program holds is skipped. The library reads the configuration
// when it first looks for cameras, so it is written before; the variables
// that would override it are cleared.
bool SetUpPlayback(const Options& o, const Scratch& scratch) {
    if (scratch.folder.empty()) return false;
    const std::string config = scratch.folder + "/virtual-cameras.conf";
    std::ofstream out(config);
    const char* model = o.mono ? "mono" : "color";
    out << "cameras=";
    for (int slot = 0; slot < kSlots; ++slot) out << (slot ? "," : "") << slot << ':' << model;
    out << "\ntiming=0\nstill=1\n";  // frames as fast as they are asked for
    for (int slot = 0; slot < kSlots; ++slot) {
        out << "playback=" << slot << ':' << o.width << 'x' << o.height << 'x' << o.bits;
        for (const std::string& file : o.files) out << ':' << file;
        out << '\n';
    }
    if (!out.flush()) return false;
    for (const char* name : {"VIMBRA_SIM_CAMERAS", "VIMBRA_SIM_TIMING", "VIMBRA_SIM_STILL",
                             "VIMBRA_SIM_TRIGGER_MS", "VIMBRA_SIM_PLAYBACK"})
        unsetenv(name);
    setenv("VIMBRA_DRIVER", "sim", 1);
    setenv("VIMBRA_SIM_CONFIG", config.c_str(), 1);
    setenv("VIMBRA_REGISTRY_FILE", (scratch.folder + "/registry.reg").c_str(), 1);
    return true;
}

// The library session; stops at the first failing call and answers its code.
class Replay {
  public:
    explicit Replay(const Options& o) : o_(o) {}
    ~Replay() {
        if (handle_ != 0) {
            Vimbra_Close(handle_);
            Vimbra_Release(handle_);
        }
    }
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    int Run(int64_t frames) {
        handle_ = Vimbra_Initialize(nullptr);
        if (handle_ == 0) return Report("Vimbra_Initialize", VIMBRA_ERR_MEMORY);
        if (const int32_t code = Vimbra_GetLastError(handle_); code != 0)
            return Report("Vimbra_Initialize", code);
        for (int32_t slot = 0;; ++slot) {
            if (slot != 0 && Vimbra_SetDeviceNumber(handle_, slot) != 1)
                return Failed("Vimbra_SetDeviceNumber");
            if (const int status = SetUp(); status != 0) return status;
            if (Vimbra_Capture(handle_) == 1) break;
            // Code 2 under the refusal: another program holds this camera.
            const int32_t refusal = Vimbra_GetLastError(handle_);
            if (Vimbra_GetLastError(handle_) != VIMBRA_ERR_NO_CAMERA || slot + 1 == kSlots)
                return Report("Vimbra_Capture", refusal);
        }

        const int32_t width = Vimbra_Width(handle_), height = Vimbra_Height(handle_);
        std::vector<uint8_t> frame(static_cast<size_t>(height) *
                                   ((width * o_.colour->bits / 8 + 3) & ~3));
        for (int64_t i = 0; i < frames; ++i) {
            if (Vimbra_SnapShot(handle_, frame.data(), static_cast<int32_t>(frame.size()), 1) != 1)
                return Failed("Vimbra_SnapShot");
            char stem[32];
            std::snprintf(stem, sizeof stem, "frame-%06lld", static_cast<long long>(i + 1));
            const std::string path =
                (std::filesystem::path(o_.output) / (stem + std::string(o_.format->suffix)))
                    .string();
            if (Vimbra_SaveImage(handle_, path.c_str(), o_.format->code) != 1)
                return Failed("Vimbra_SaveImage(" + path + ")");
            std::printf("%s: %s\n", path.c_str(), vimbra::tools::DescribeFile(path).c_str());
        }
        return 0;
    }

  private:
    // The camera's window is the frame size, which the files' frames fill.
    int SetUp() {
        int32_t th = 0, ehs = 0, eh = 0, tv = 0, evs = 0, ev = 0;
        Vimbra_GetCaptureWindowEx(handle_, &th, &ehs, &eh, &tv, &evs, &ev);
        if (Vimbra_SetSubSample(handle_, 0) != 1) return Failed("Vimbra_SetSubSample");
        if (Vimbra_SetCaptureWindowEx(handle_, th, 0, o_.width, tv, 0, o_.height) != 1)
            return Failed("Vimbra_SetCaptureWindowEx");
        if (Vimbra_SetColorMode(handle_, o_.colour->bits) != 1)
            return Failed("Vimbra_SetColorMode");
        return 0;
    }

    // Reports the newest code of the call, and prints the older ones it left.
    int Failed(const std::string& call) {
        const int32_t code = Vimbra_GetLastError(handle_);
        for (int32_t older; (older = Vimbra_GetLastError(handle_)) != 0;)
            std::fprintf(stderr, "  earlier: error %d: %s\n", older,
                         vimbra::tools::ErrorText(older));
        return Report(call, code);
    }
    static int Report(const std::string& call, int32_t code) {
        std::fprintf(stderr, "vimbra_replay: %s failed: error %d: %s\n", call.c_str(), code,
                     vimbra::tools::ErrorText(code));
        return code != 0 ? code : 1;
    }

    const Options& o_;
    int32_t handle_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int status = ParseArguments(argc, argv, &options); status != 0)
        return status < 0 ? 0 : status;
    int64_t frames = CountFrames(options);
    if (frames == 0) return kInputError;
    if (options.max_frames > 0 && options.max_frames < frames) frames = options.max_frames;

    std::error_code error;
    std::filesystem::create_directories(options.output, error);
    if (error) {
        std::fprintf(stderr, "vimbra_replay: cannot make %s: %s\n", options.output.c_str(),
                     error.message().c_str());
        return VIMBRA_ERR_FILE;
    }
    const Scratch scratch;
    if (!SetUpPlayback(options, scratch)) {
        std::fprintf(stderr,
                     "vimbra_replay: cannot write the virtual cameras' configuration "
                     "under /tmp\n");
        return VIMBRA_ERR_FILE;
    }
    std::printf("replaying %lld frames of %d x %d x %d bits as %s %s\n",
                static_cast<long long>(frames), options.width, options.height, options.bits,
                options.colour->name, options.format->name);
    return Replay(options).Run(frames);
}
