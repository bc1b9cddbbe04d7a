// Whether saving stalls live preview: the longest gap between two frame
// messages of a full-resolution preview while full-frame PNGs are being
// saved, next to the longest gap and the median gap (the normal frame
// interval) in the same preview without a save. Goal: no gap during a save
// longer than twice the normal interval. The virtual camera sends full
// frames as fast as they are asked for; colour mode 24, no wait.
//
// Run (from the repository root, with a build directory of your own):
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release &&
//   ninja -C build-bench bench_save_gap && build-bench/bench/output/bench_save_gap
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "full_frame_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// Arrival times of the frame messages.
struct Arrivals {
    std::mutex mutex;
    std::vector<Clock::time_point> times;
    std::vector<double> GapsMs(Clock::time_point from, Clock::time_point to) {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<double> gaps;
        for (size_t i = 1; i < times.size(); ++i) {
            if (times[i - 1] < from || times[i] > to) continue;
            gaps.push_back(
                std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
        }
        return gaps;
    }
};

void OnMessage(void* user, HWND, uint32_t message, uintptr_t wparam, intptr_t) {
    if (message != VIMBRA_MSG_FRAME || wparam == 0) return;
    auto* arrivals = static_cast<Arrivals*>(user);
    std::lock_guard<std::mutex> lock(arrivals->mutex);
    arrivals->times.push_back(Clock::now());
}

double Max(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}
double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

void BM_PreviewGapWhileSavingPng(benchmark::State& state) {
    Arrivals arrivals;
    Clock::time_point quiet_from, quiet_to, save_from, save_to;
    int saved = 0;
    {
        vimbra::bench::FullFrameSession session(OnMessage, &arrivals);
        const int32_t h = session.handle();
        if (Vimbra_CallBackPreview(h, session.callback_window(), nullptr, 0, 1) != 1) {
            state.SkipWithError("preview did not start");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        quiet_from = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        quiet_to = Clock::now();
        const std::string png = session.File("frame.png");
        save_from = Clock::now();
        for (auto _ : state) saved += Vimbra_SaveImage(h, png.c_str(), 5);
        save_to = Clock::now();
    }
    const std::vector<double> quiet = arrivals.GapsMs(quiet_from, quiet_to);
    const std::vector<double> saving = arrivals.GapsMs(save_from, save_to);
    const double interval = Median(quiet);
    if (saved != static_cast<int>(state.iterations()) || interval <= 0) {
        state.SkipWithError("no frames or a save failed");
        return;
    }
    state.counters["frame_interval_ms"] = interval;
    state.counters["max_gap_without_save_ms"] = Max(quiet);
    state.counters["max_gap_during_save_ms"] = Max(saving);
    state.counters["frames_during_save"] = static_cast<double>(saving.size());
    // Longest gaps over the normal frame interval; the goal is at most 2
    // during a save.
    state.counters["gap_ratio_without_save"] = Max(quiet) / interval;
    state.counters["gap_ratio_during_save"] = Max(saving) / interval;
}
BENCHMARK(BM_PreviewGapWhileSavingPng)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
