// The demo host: opens a session on a camera (the virtual camera when no
// driver is installed) and runs the library's main uses on it as a series of
// steps. It stops at the first step that fails and exits with the library's
// error code, after printing the code and its meaning.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#if defined(VIMBRA_DEMO_X11)
#include <X11/Xlib.h>
#endif

#include "VimbraSdk_740QX_RDL.h"
#include "error_text.h"
#include "file_summary.h"
#include "library_tables.h"

namespace {

using vimbra::tools::ColourMode;
using vimbra::tools::DescribeFile;
using vimbra::tools::ErrorText;
using vimbra::tools::kColourModes;
using vimbra::tools::kFileFormats;
using vimbra::tools::ModeOfDepth;

constexpr int kUsageError = 64;  // exit status for a bad command line (sysexits' EX_USAGE)

struct Options {
    int32_t slot = 0;
    int32_t seconds = 3;
    std::string output = "vimbra-demo";
    std::vector<std::string> steps;  // empty: every step
};

// Frames delivered to the demo's callback window; written on the library's
// delivery thread, read by the main thread.
struct FrameCounter {
    std::atomic<int32_t> frames{0};
    std::atomic<int32_t> rate_x10{0};
    std::atomic<int32_t> width{0}, height{0};
    std::atomic<int32_t> error{0};  // the code of a failed frame, 0 while all is well
};

void OnFrameMessage(void* user, HWND, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    auto* counter = static_cast<FrameCounter*>(user);
    if (message != VIMBRA_MSG_FRAME) return;
    if (wParam == 0) {
        counter->error = static_cast<int32_t>(lParam);
        return;
    }
    // The record is rewritten by the next frame, perhaps while this reads it,
    // so each field is read at once with an atomic load, as the library
    // writes it.
    auto* info = reinterpret_cast<VimbraFrameInfo*>(wParam);
    counter->rate_x10 = std::atomic_ref<int32_t>(info->frameRate).load(std::memory_order_relaxed);
    counter->width = std::atomic_ref<int32_t>(info->width).load(std::memory_order_relaxed);
    counter->height = std::atomic_ref<int32_t>(info->height).load(std::memory_order_relaxed);
    counter->frames.fetch_add(1);
}

// The session every step works on: a message window for the library's error
// notices and the instance handle, released when the demo ends. The colour
// mode the demo changes is put back first, so the camera's stored settings
// are the user's own afterwards.
struct Session {
    const Options& options;
    HWND window = nullptr;
    int32_t handle = 0;
    int32_t initial_bits = 0;  // 0 until a step changes the colour mode
    // Frame delivery of the preview step: the library may deliver into these
    // until the session is released, so they live as long as it.
    HWND frames_window = nullptr;
    FrameCounter counter;
    std::vector<uint8_t> host_buffer;

    explicit Session(const Options& o) : options(o) {}
    ~Session() {
        if (handle != 0) {
            Vimbra_Close(handle);
            if (initial_bits != 0) Vimbra_SetColorMode(handle, initial_bits);
            Vimbra_Release(handle);
        }
        if (frames_window != nullptr) VimbraHost_DestroyWindow(frames_window);
        if (window != nullptr) VimbraHost_DestroyWindow(window);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The reason for the last failure: the first code the failing call
    // recorded (a refusal often stacks a general code over the cause), else
    // the newest code only posted to the window (some calls just notify).
    int32_t TakeErrorCode() {
        std::vector<int32_t> stack;  // newest first
        for (int32_t code; handle != 0 && (code = Vimbra_GetLastError(handle)) != 0;)
            stack.push_back(code);
        for (size_t i = 0; i + 1 < stack.size(); ++i)
            std::fprintf(stderr, "  then: error %d: %s\n", stack[i], ErrorText(stack[i]));
        VimbraHostMessage msg{};
        int32_t posted = 0;
        while (window != nullptr && VimbraHost_PeekMessage(window, &msg) == 1)
            if (msg.message == VIMBRA_MSG_ERROR) posted = static_cast<int32_t>(msg.lParam);
        return !stack.empty() ? stack.back() : posted;
    }

    bool SetColourMode(int32_t bits) {
        if (initial_bits == 0) {
            const ColourMode* now = ModeOfDepth(Vimbra_GetColorMode(handle));
            initial_bits = now != nullptr ? now->bits : 24;
        }
        return Vimbra_SetColorMode(handle, bits) == 1;
    }

    // Output picture size: the stored frame size reduced by skipping or binning.
    int32_t Divisor() const {
        const int32_t mode = Vimbra_GetSubSample(handle) & 0x0F;
        return mode == 1 ? 2 : mode == 2 ? 4 : 1;
    }
    int32_t OutWidth() const { return Vimbra_Width(handle) / Divisor(); }
    int32_t OutHeight() const { return Vimbra_Height(handle) / Divisor(); }
    // Bytes of one output frame in a host buffer: rows padded to 4 bytes.
    int32_t FrameBytes(int32_t bits) const {
        return OutHeight() * ((OutWidth() * bits / 8 + 3) & ~3);
    }

    std::string OutputPath(const std::string& name) const {
        return (std::filesystem::path(options.output) / name).string();
    }
};

// What a failing step leaves: the call that failed and the library's code.
struct Failure {
    std::string call;
    int32_t code = 0;
};
using Result = std::optional<Failure>;  // empty: the step succeeded

Result Fail(Session& s, std::string call) {
    return Failure{std::move(call), s.TakeErrorCode()};
}

// ---- Steps -------------------------------------------------------------------
// Each step is one function over the open session; add a new one to kSteps.

Result OpenSession(Session& s) {
    s.window = VimbraHost_CreateWindow();
    if (s.window == nullptr) return Failure{"VimbraHost_CreateWindow", 0};
    s.handle = Vimbra_Initialize(s.window);
    if (s.handle == 0) return Failure{"Vimbra_Initialize", VIMBRA_ERR_MEMORY};
    if (const int32_t code = s.TakeErrorCode(); code != 0)
        return Failure{"Vimbra_Initialize", code};
    // The name is there only when the slot holds a camera (else code 2).
    char name[64] = {};
    const std::string slot = std::to_string(s.options.slot);
    if (Vimbra_GetDeviceName(s.handle, s.options.slot, name, sizeof name) != 1)
        return Fail(s, "Vimbra_GetDeviceName(" + slot + ")");
    if (s.options.slot != 0 && Vimbra_SetDeviceNumber(s.handle, s.options.slot) != 1)
        return Fail(s, "Vimbra_SetDeviceNumber(" + slot + ")");
    std::printf("session %d on camera slot %d: %s\n", s.handle, s.options.slot, name);
    return {};
}

Result ListCameras(Session& s) {
    constexpr int kEntries = 32, kEntryBytes = 256;
    std::vector<char> names(kEntries * kEntryBytes);
    const int32_t count = Vimbra_EnumDevice(s.handle, names.data());
    std::printf("cameras found: %d\n", count);
    for (int i = 0; i < count && i < kEntries; ++i)
        std::printf("  %.*s\n", kEntryBytes, &names[i * kEntryBytes]);
    VimbraCameraInfo info{};
    info.size = sizeof info;
    if (Vimbra_GetCameraInfo(s.handle, &info) != 1) return Fail(s, "Vimbra_GetCameraInfo");
    std::printf(
        "camera limits: %d x %d, global gain %d..%d, colour gains %d..%d, "
        "exposure %d..%d rows\n",
        info.maxWidth, info.maxHeight, info.minGlobalGain, info.maxGlobalGain, info.minColorGain,
        info.maxColorGain, info.minExposure, info.maxExposure);
    return {};
}

Result ShowFormat(Session& s) {
    const int32_t width = Vimbra_Width(s.handle);
    const int32_t height = Vimbra_Height(s.handle);
    if (width <= 0 || height <= 0) return Fail(s, "Vimbra_Width/Vimbra_Height");
    std::printf("format: %d x %d, colour depth %d bits, sub-sample mode %d, wait time %d ms\n",
                width, height, Vimbra_GetColorMode(s.handle), Vimbra_GetSubSample(s.handle),
                Vimbra_GetWaitTime(s.handle));
    return {};
}

// Where the library shows its windows: on X11 when a display is named and
// opens, else in memory only.
std::string WindowKind() {
    const char* display = std::getenv("DISPLAY");
    const char* choice = std::getenv("VIMBRA_WINDOWS");
    if (display == nullptr || *display == '\0' ||
        (choice != nullptr && std::string_view(choice) == "offscreen"))
        return "off-screen (no X display)";
#if defined(VIMBRA_DEMO_X11)
    // The library falls back to memory when the display does not open.
    Display* x = XOpenDisplay(display);
    if (x == nullptr) return std::string("off-screen (display ") + display + " does not open)";
    XCloseDisplay(x);
    return std::string("an X11 window on display ") + display;
#else
    return "off-screen (built without X11)";
#endif
}

// Live preview with each frame copied into a host buffer and announced to a
// message window whose callback counts it; prints a progress line meanwhile.
Result Preview(Session& s) {
    if (!s.SetColourMode(24)) return Fail(s, "Vimbra_SetColorMode(24)");
    s.frames_window = VimbraHost_CreateWindow();
    if (s.frames_window == nullptr) return Failure{"VimbraHost_CreateWindow", 0};
    VimbraHost_SetCallback(s.frames_window, OnFrameMessage, &s.counter);
    s.host_buffer.assign(static_cast<size_t>(s.FrameBytes(24)), 0);
    if (Vimbra_CallBackPreview(s.handle, s.frames_window, s.host_buffer.data(),
                               static_cast<int32_t>(s.host_buffer.size()), 1) != 1)
        return Fail(s, "Vimbra_CallBackPreview");
    std::printf("preview for %d s in %s\n", s.options.seconds, WindowKind().c_str());

    // A terminal gets one line rewritten four times a second; a log one line a second.
    const bool terminal = isatty(STDOUT_FILENO) == 1;
    const auto period = std::chrono::milliseconds(terminal ? 250 : 1000);
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(s.options.seconds);
    double measured = 0;
    for (auto now = start; now < end && s.counter.error == 0;) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(period, end - now));
        now = std::chrono::steady_clock::now();
        const int32_t frames = s.counter.frames;
        measured = frames / std::chrono::duration<double>(now - start).count();
        std::printf(
            "%s  %d frames received, %.1f frames/s measured, %.1f frames/s by the library%s",
            terminal ? "\r" : "", frames, measured, s.counter.rate_x10 / 10.0,
            terminal ? "" : "\n");
        std::fflush(stdout);
    }
    if (terminal) std::printf("\n");
    Vimbra_StopPreview(s.handle);
    Vimbra_Close(s.handle);  // closes the preview window too
    if (s.counter.error != 0) return Failure{"frame delivery", s.counter.error};
    if (s.counter.frames == 0)
        return Failure{"Vimbra_CallBackPreview (no frame arrived)", VIMBRA_ERR_FRAME_WAIT};
    std::printf("preview: %d frames of %d x %d into the host buffer, %.1f frames/s\n",
                s.counter.frames.load(), s.counter.width.load(), s.counter.height.load(), measured);
    return {};
}

Result MakeOutputFolder(Session& s) {
    std::error_code error;
    std::filesystem::create_directories(s.options.output, error);
    if (error) {
        std::fprintf(stderr, "vimbra_demo: cannot make %s: %s\n", s.options.output.c_str(),
                     error.message().c_str());
        return Failure{"making the output folder", VIMBRA_ERR_FILE};
    }
    return {};
}

// Takes one frame in capture mode into a host buffer of the frame's size;
// the camera stays in capture mode, with the frame as its current image.
Result TakeSnapShot(Session& s, int32_t bits, std::vector<uint8_t>* buffer) {
    if (!s.SetColourMode(bits)) return Fail(s, "Vimbra_SetColorMode(" + std::to_string(bits) + ")");
    if (Vimbra_Capture(s.handle) != 1) return Fail(s, "Vimbra_Capture");
    buffer->assign(static_cast<size_t>(s.FrameBytes(bits)), 0);
    if (Vimbra_SnapShot(s.handle, buffer->data(), static_cast<int32_t>(buffer->size()), 1) != 1)
        return Fail(s, "Vimbra_SnapShot");
    return {};
}

Result Save(Session& s, const std::string& name, int32_t format) {
    const std::string path = s.OutputPath(name);
    if (Vimbra_SaveImage(s.handle, path.c_str(), format) != 1)
        return Fail(s, "Vimbra_SaveImage(" + path + ", " + std::to_string(format) + ")");
    std::printf("  %-34s %s\n", path.c_str(), DescribeFile(path).c_str());
    return {};
}

// One snapshot in each colour mode, each saved as PNG (grey or colour, 8 or
// 16 bits per sample).
Result SnapShotEveryMode(Session& s) {
    if (Result r = MakeOutputFolder(s)) return r;
    std::vector<uint8_t> buffer;
    for (const ColourMode& mode : kColourModes) {
        if (Result r = TakeSnapShot(s, mode.bits, &buffer)) return r;
        std::printf("snapshot %-6s %d x %d, %zu bytes in the host buffer\n", mode.name,
                    s.OutWidth(), s.OutHeight(), buffer.size());
        if (Result r = Save(s, std::string("snapshot-") + mode.name + ".png", 5)) return r;
        Vimbra_StopPreview(s.handle);
    }
    return {};
}

// One 24-bit snapshot saved in every file format the library writes.
Result SaveEveryFormat(Session& s) {
    if (Result r = MakeOutputFolder(s)) return r;
    std::vector<uint8_t> buffer;
    if (Result r = TakeSnapShot(s, 24, &buffer)) return r;
    std::printf("saving a %d x %d bgr24 snapshot in every format\n", s.OutWidth(), s.OutHeight());
    for (const auto& format : kFileFormats)
        if (Result r = Save(s, std::string("image") + format.suffix, format.code)) return r;
    Vimbra_StopPreview(s.handle);
    return {};
}

// Records the live preview into an AVI file for the chosen time.
Result Record(Session& s) {
    if (Result r = MakeOutputFolder(s)) return r;
    if (!s.SetColourMode(24)) return Fail(s, "Vimbra_SetColorMode(24)");
    const std::string path = s.OutputPath("recording.avi");
    const int32_t ms = s.options.seconds * 1000;
    if (Vimbra_Record(s.handle, path.c_str(), ms, 1) != 1) return Fail(s, "Vimbra_Record");
    std::printf("recording %d s into %s\n", s.options.seconds, path.c_str());
    // The recording runs for its time from the first frame; the margin
    // covers the camera's start. Stopping the preview closes the file.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms + 1500));
    Vimbra_StopPreview(s.handle);
    Vimbra_Close(s.handle);
    if (const int32_t code = s.TakeErrorCode(); code != 0) return Failure{"recording", code};
    std::printf("  %-34s %s\n", path.c_str(), DescribeFile(path).c_str());
    return {};
}

struct Step {
    const char* name;
    const char* summary;
    Result (*run)(Session&);
};

// Run in this order; the session is opened first whatever steps are chosen.
constexpr Step kSteps[] = {
    {"list", "list the cameras found and the selected camera's limits", ListCameras},
    {"format", "print the video format of the session", ShowFormat},
    {"preview", "live preview with frames delivered to a host buffer", Preview},
    {"snapshot", "a snapshot in every colour mode, each saved as PNG", SnapShotEveryMode},
    {"save", "a snapshot saved in every file format", SaveEveryFormat},
    {"record", "record the live picture into an AVI file", Record},
};

// ---- Command line --------------------------------------------------------------

void PrintHelp(const char* program) {
    std::printf(
        "Usage: %s [options]\n"
        "Runs the camera library through its main uses on one camera, step by step; stops\n"
        "at the first failure with the library's error code as exit status.\n"
        "\n"
        "  --camera N     camera slot 0..31 (default 0)\n"
        "  --seconds S    how long live steps run, 1..3600 (default 3)\n"
        "  --output DIR   folder for the files the demo writes (default vimbra-demo)\n"
        "  --steps LIST   comma-separated steps to run (default: all)\n"
        "  --help         this text\n"
        "\n"
        "Steps, in the order they run (a session is always opened first):\n",
        program);
    for (const Step& step : kSteps) std::printf("  %-12s %s\n", step.name, step.summary);
    std::printf(
        "\nWithout a camera driver the library serves its virtual camera; VIMBRA_SIM_CAMERAS\n"
        "and the other VIMBRA_SIM_ variables set it up (see the README).\n");
}

bool ParseInt(const char* text, int32_t low, int32_t high, int32_t* out) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

bool KnownStep(std::string_view name) {
    for (const Step& step : kSteps)
        if (name == step.name) return true;
    return false;
}

// Parses the command line; 0 to go on, else the exit status (help or an error).
int ParseArguments(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp(argv[0]);
            return -1;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s: unknown option or missing value: %s (see --help)\n", argv[0],
                         argv[i]);
            return kUsageError;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--camera") {
            ok = ParseInt(value, 0, 31, &o->slot);
        } else if (arg == "--seconds") {
            ok = ParseInt(value, 1, 3600, &o->seconds);
        } else if (arg == "--output") {
            o->output = value;
            ok = !o->output.empty();
        } else if (arg == "--steps") {
            for (std::string_view rest = value; ok && !rest.empty();) {
                const size_t comma = rest.find(',');
                const std::string_view name = rest.substr(0, comma);
                ok = KnownStep(name);
                if (!ok)
                    std::fprintf(stderr, "%s: unknown step %.*s\n", argv[0],
                                 static_cast<int>(name.size()), name.data());
                o->steps.emplace_back(name);
                rest = comma == std::string_view::npos ? "" : rest.substr(comma + 1);
            }
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "%s: bad option %s %s (see --help)\n", argv[0], argv[i - 1],
                         value);
            return kUsageError;
        }
    }
    return 0;
}

bool Chosen(const Options& o, const Step& step) {
    if (o.steps.empty()) return true;
    for (const std::string& name : o.steps)
        if (name == step.name) return true;
    return false;
}

int Report(const char* step, const Failure& f) {
    std::fprintf(stderr, "vimbra_demo: step %s: %s failed: error %d: %s\n", step, f.call.c_str(),
                 f.code, ErrorText(f.code));
    if (f.code == VIMBRA_ERR_NO_CAMERA)
        std::fprintf(stderr,
                     "vimbra_demo: is another program using the camera? --camera N picks "
                     "another slot\n");
    return f.code != 0 ? f.code : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int status = ParseArguments(argc, argv, &options); status != 0)
        return status < 0 ? 0 : status;

    std::printf("VimbraSdk_740QX_RDL %s (library answers version number %d)\n",
                VIMBRA_VERSION_STRING, Vimbra_GetDllVersion());
    if (Vimbra_GetDllVersion() != VIMBRA_DLL_VERSION)
        return Report("version", Failure{"Vimbra_GetDllVersion", 0});

    Session session(options);
    if (const Result r = OpenSession(session); r) return Report("open", *r);
    for (const Step& step : kSteps) {
        if (!Chosen(options, step)) continue;
        if (const Result r = step.run(session); r) return Report(step.name, *r);
    }
    std::printf("all steps passed\n");
    return 0;
}
