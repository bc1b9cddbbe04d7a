// The demo host: opens a session on a camera (the virtual camera when no
// driver is installed) and runs the library's main uses on it as a series of
// steps. It stops at the first step that fails and exits with the library's
// error code, after printing the code and its meaning.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"

namespace {

constexpr int kUsageError = 64;  // exit status for a bad command line (sysexits' EX_USAGE)

const char* ErrorText(int32_t code) {
    switch (code) {
        case 0:
            return "failed without a recorded reason";
        case VIMBRA_ERR_STATE:
            return "no device, or the call is refused in this state";
        case VIMBRA_ERR_NO_CAMERA:
            return "no camera in the selected slot, or it is in use";
        case VIMBRA_ERR_THREAD:
            return "a worker thread could not be started";
        case VIMBRA_ERR_WINDOW:
            return "window failure, or no stored size matches";
        case VIMBRA_ERR_MEMORY:
            return "initialisation or memory failure";
        case VIMBRA_ERR_REGISTER:
            return "register access or streaming start failed";
        case VIMBRA_ERR_FORMAT:
            return "invalid video format";
        case VIMBRA_ERR_TRANSFER:
            return "frame transfer failed";
        case VIMBRA_ERR_ARGUMENT:
            return "argument out of range";
        case VIMBRA_ERR_UNSUPPORTED:
            return "not supported by this camera";
        case VIMBRA_ERR_FILE:
            return "file operation failed";
        case VIMBRA_ERR_FRAME_WAIT:
            return "no frame arrived in time";
        default:
            return "unknown code";
    }
}

struct Options {
    int32_t slot = 0;
    int32_t seconds = 3;
    std::string output = "vimbra-demo";
    std::vector<std::string> steps;  // empty: every step
};

// The session every step works on: a message window for the library's error
// notices and the instance handle, released when the demo ends.
struct Session {
    const Options& options;
    HWND window = nullptr;
    int32_t handle = 0;

    explicit Session(const Options& o) : options(o) {}
    ~Session() {
        if (handle != 0) Vimbra_Release(handle);
        if (window != nullptr) VimbraHost_DestroyWindow(window);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The reason for the last failure: the newest recorded code, else the
    // newest code only posted to the window (some calls just notify).
    int32_t TakeErrorCode() {
        int32_t code = handle != 0 ? Vimbra_GetLastError(handle) : 0;
        for (int32_t older; handle != 0 && (older = Vimbra_GetLastError(handle)) != 0;)
            std::fprintf(stderr, "  earlier: error %d: %s\n", older, ErrorText(older));
        VimbraHostMessage msg{};
        int32_t posted = 0;
        while (window != nullptr && VimbraHost_PeekMessage(window, &msg) == 1)
            if (msg.message == VIMBRA_MSG_ERROR) posted = static_cast<int32_t>(msg.lParam);
        return code != 0 ? code : posted;
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
    // Choosing another slot needs the camera selection functions of a later build.
    if (s.options.slot != 0) return Failure{"camera slot selection", VIMBRA_ERR_UNSUPPORTED};
    std::printf("session %d on camera slot %d\n", s.handle, s.options.slot);
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

struct Step {
    const char* name;
    const char* summary;
    Result (*run)(Session&);
};

// Run in this order; the session is opened first whatever steps are chosen.
constexpr Step kSteps[] = {
    {"format", "print the video format of the session", ShowFormat},
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
