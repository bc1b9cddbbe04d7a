// Time per frame that the preview draws on Windows: ShowFrame of a 1280 x 960
// 24-bit frame into a top-level Win32 window at 1:1 and scaled to half size,
// and into an off-screen window at 1:1, each next to a memcpy of the frame's
// bytes measured in the same run. Each figure is the fastest of several runs
// (the machine is shared) and is printed as a ratio to the memcpy. Under Wine:
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" wine64 tests/windows/windows_preview_bench.exe
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "image/dib_image.h"
#include "image/preview_window.h"
#include "platform/window.h"

namespace vimbra {
namespace {

constexpr int kW = 1280, kH = 960;
constexpr int kRuns = 7;
constexpr int kFramesPerRun = 40;

// Milliseconds per call of `step`, the fastest of kRuns runs.
double FastestMs(const std::function<bool()>& step) {
    double best = 1e30;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kFramesPerRun; ++i) {
            if (!step()) return -1;
        }
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / kFramesPerRun);
    }
    return best;
}

struct Case {
    const char* name;
    platform::WindowBackendKind backend;
    int32_t sub_sample;  // 0: the window is the frame's size, 1: half of it
};

int Run() {
    CDibImage frame;
    if (frame.Create(kW, kH, 24) == 0) return 1;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW * 3; ++x) frame.row(y)[x] = static_cast<uint8_t>(x * 7 + y * 3);
    const size_t bytes = static_cast<size_t>(frame.stride()) * frame.height();
    std::vector<uint8_t> copy(bytes);
    const double reference = FastestMs([&] {
        std::memcpy(copy.data(), frame.bits(), bytes);
        // The copy counts as read, so the compiler keeps all of it.
        asm volatile("" : : "r"(copy.data()) : "memory");
        return true;
    });
    std::printf("%-26s %8.3f ms  1.00\n", "memcpy (reference)", reference);

    const FrameImages images{nullptr, nullptr, &frame, nullptr, nullptr, nullptr, nullptr};
    for (const Case& c : {Case{"win32 1:1", platform::WindowBackendKind::kWin32, 0},
                          Case{"win32 half size", platform::WindowBackendKind::kWin32, 1},
                          Case{"offscreen 1:1", platform::WindowBackendKind::kOffscreen, 0}}) {
        if (!platform::SelectWindowBackend(c.backend)) {
            std::printf("%-26s no such back end\n", c.name);
            continue;
        }
        PreviewWindow window;
        const int32_t rect[4] = {0, 0, kW, kH};
        if (!window.Open(nullptr, rect, kW, kH, c.sub_sample, &window)) {
            std::printf("%-26s no preview window\n", c.name);
            continue;
        }
        const double ms = FastestMs([&] { return window.ShowFrame(2, images) != 0; });
        if (ms < 0)
            std::printf("%-26s frame not drawn\n", c.name);
        else
            std::printf("%-26s %8.3f ms  %.2f\n", c.name, ms, ms / reference);
    }
    return 0;
}

}  // namespace
}  // namespace vimbra

int main() {
    return vimbra::Run();
}
