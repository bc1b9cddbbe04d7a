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
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"
#include "session/camera_table.h"
#include "sim/virtual_driver.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kWidth = 2592, kHeight = 1944;

// A private registry, camera table and scratch directory for the run.
class PrivateState {
  public:
    PrivateState() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vimbra-bench-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        ::setenv("VIMBRA_REGISTRY_FILE", (dir_ + "/registry.reg").c_str(), 1);
        ::setenv("VIMBRA_WINDOWS", "offscreen", 1);
        table_ = "vimbra-bench-" + std::to_string(::getpid());
        vimbra::CameraTable::SetObjectNameForTesting(table_);
        vimbra::platform::SetSleepHook([](uint32_t) {});
    }
    ~PrivateState() {
        vimbra::platform::SetSleepHook(nullptr);
        vimbra::platform::SharedMemory::Remove(table_.c_str());
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string File(const char* name) const { return dir_ + "/" + name; }

  private:
    std::string dir_;
    std::string table_;
};

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
    PrivateState private_state;
    vimbra::sim::DefaultVirtualDriver().UnplugAll();
    vimbra::sim::DefaultVirtualDriver().SetTiming(false);
    vimbra::sim::DefaultVirtualDriver().Plug(0, vimbra::sim::CameraModel::kColor);
    HWND notify = VimbraHost_CreateWindow();
    HWND callback = VimbraHost_CreateWindow();
    Arrivals arrivals;
    VimbraHost_SetCallback(callback, OnMessage, &arrivals);
    const int32_t h = Vimbra_Initialize(notify);
    Vimbra_SetColorMode(h, 24);
    Vimbra_SetWaitTime(h, 0);
    Vimbra_SetSubSample(h, 0);
    Vimbra_SetCaptureWindowEx(h, kWidth, 0, kWidth, kHeight, 0, kHeight);
    Vimbra_SetPreviewWindow(h, nullptr, 0, 0, 0, 0);
    if (Vimbra_CallBackPreview(h, callback, nullptr, 0, 1) != 1) {
        state.SkipWithError("preview did not start");
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto quiet_from = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const auto quiet_to = Clock::now();
    const std::string png = private_state.File("frame.png");
    int saved = 0;
    const auto save_from = Clock::now();
    for (auto _ : state) saved += Vimbra_SaveImage(h, png.c_str(), 5);
    const auto save_to = Clock::now();
    Vimbra_StopPreview(h);
    Vimbra_Release(h);
    VimbraHost_DestroyWindow(callback);
    VimbraHost_DestroyWindow(notify);

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
