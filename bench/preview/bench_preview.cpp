// Frames per second that the preview draws: ShowFrame of a 1280 x 960 24-bit
// frame into a top-level window at 1:1 and scaled to half size, on X11 (a
// private Xvfb server with the shared-memory extension and one without it)
// and off-screen, each next to a memcpy of the frame's bytes. At the end the
// program prints every figure as a ratio to the memcpy of the same run.
//
//   bench_preview --benchmark_repetitions=5 --benchmark_report_aggregates_only
//
// The X11 figures are left out when Xvfb is not installed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "image/preview_window.h"
#include "platform/window.h"
#include "xvfb_server.h"

#include "fastest_run.h"

namespace vimbra {
namespace {

constexpr int kW = 1280, kH = 960;
const char* const kReference = "memcpy";

struct Servers {
    std::unique_ptr<testing::XvfbServer> shm, plain;
};
Servers& X() {
    static Servers servers;
    return servers;
}

CDibImage& Frame() {
    static CDibImage frame;
    if (frame.empty()) {
        frame.Create(kW, kH, 24);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW * 3; ++x) frame.row(y)[x] = static_cast<uint8_t>(x * 7 + y * 3);
    }
    return frame;
}

void Memcpy(benchmark::State& state) {
    const CDibImage& f = Frame();
    const size_t bytes = static_cast<size_t>(f.stride()) * f.height();
    std::vector<uint8_t> out(bytes);
    for (auto _ : state) {
        std::memcpy(out.data(), f.bits(), bytes);
        benchmark::ClobberMemory();
    }
}

// sub_sample 0 gives a window of the frame's size, 1 one of half its size.
void Show(benchmark::State& state, testing::XvfbServer* server, bool x11, int32_t sub_sample) {
    if (x11 && (server == nullptr || !server->ok())) {
        state.SkipWithError("Xvfb is not available");
        return;
    }
    const bool selected =
        x11 ? platform::SelectWindowBackend(platform::WindowBackendKind::kX11, server->name())
            : platform::SelectWindowBackend(platform::WindowBackendKind::kOffscreen);
    PreviewWindow window;
    const int32_t rect[4] = {0, 0, kW, kH};
    if (!selected || !window.Open(nullptr, rect, kW, kH, sub_sample, &window)) {
        state.SkipWithError("no preview window");
        return;
    }
    const FrameImages images{nullptr, nullptr, &Frame(), nullptr, nullptr, nullptr, nullptr};
    for (auto _ : state) {
        if (window.ShowFrame(2, images) == 0) {
            state.SkipWithError("frame not drawn");
            break;
        }
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Remembers the time per frame of every run and prints the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const std::string name = FigureName(r);
            if (!name.empty() && !r.error_occurred) times_[name] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        if (!times_.count(kReference)) return;
        const double ref = times_[kReference];
        std::printf(
            "\nShowFrame, %d x %d 24-bit, time per frame / memcpy of the frame (%.3f ms):\n", kW,
            kH, ref);
        for (const auto& [name, t] : times_) {
            if (name == kReference) continue;
            std::printf("  %-28s %7.1f frames/s  = %6.2f x memcpy\n", name.c_str(), 1000.0 / t,
                        t / ref);
        }
    }

  private:
    std::map<std::string, double> times_;  // milliseconds
};

void Register() {
    using benchmark::RegisterBenchmark;
    auto ms = FastestOfRuns;
    Servers& x = X();
    ms(RegisterBenchmark(kReference, Memcpy));
    ms(RegisterBenchmark("X11-shm/1:1", Show, x.shm.get(), true, 0));
    ms(RegisterBenchmark("X11-shm/scaled-half", Show, x.shm.get(), true, 1));
    ms(RegisterBenchmark("X11-putimage/1:1", Show, x.plain.get(), true, 0));
    ms(RegisterBenchmark("X11-putimage/scaled-half", Show, x.plain.get(), true, 1));
    ms(RegisterBenchmark("offscreen/1:1", Show, nullptr, false, 0));
    ms(RegisterBenchmark("offscreen/scaled-half", Show, nullptr, false, 1));
}

}  // namespace
}  // namespace vimbra

int main(int argc, char** argv) {
    using vimbra::testing::XvfbServer;
    const std::string screen = "1600x1200x24";
    vimbra::X().shm = std::make_unique<XvfbServer>(std::vector<std::string>{}, screen);
    vimbra::X().plain =
        std::make_unique<XvfbServer>(std::vector<std::string>{"-extension", "MIT-SHM"}, screen);
    benchmark::Initialize(&argc, argv);
    vimbra::Register();
    vimbra::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    vimbra::X().shm.reset();
    vimbra::X().plain.reset();
    return 0;
}
