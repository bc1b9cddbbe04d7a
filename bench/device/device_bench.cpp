// Full frames through the streaming loop from the virtual camera without
// frame timing, and the virtual camera's frame generation alone, each next to
// a plain memcpy of the same bytes measured in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "device/vimbra_740qx_rdl_sdk.h"
#include "platform/clock.h"
#include "platform/driver.h"
#include "sim/virtual_driver.h"

namespace {

using Clock = std::chrono::steady_clock;
using vimbra::CVimbra740QXRDLSdk;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Copies per second of `bytes` between two buffers the size of a frame: the
// best of several rounds, so the reference is not flattered by noise.
double MemcpyPerSecond(size_t bytes) {
    std::vector<uint8_t> src(bytes, 0x5A), dst(bytes);
    std::memcpy(dst.data(), src.data(), bytes);  // touch the pages first
    double best = 0;
    for (int round = 0; round < 5; ++round) {
        constexpr int kCopies = 10;
        const auto t0 = Clock::now();
        for (int i = 0; i < kCopies; ++i) {
            src[i] = static_cast<uint8_t>(i);
            std::memcpy(dst.data(), src.data(), bytes);
            benchmark::DoNotOptimize(dst.data());
            benchmark::ClobberMemory();
        }
        best = std::max(best, kCopies / Seconds(Clock::now() - t0));
    }
    return best;
}

void Report(benchmark::State& state, double fps, size_t bytes) {
    const double reference = MemcpyPerSecond(bytes);
    state.counters["frames_per_s"] = fps;
    state.counters["memcpy_per_s"] = reference;
    state.counters["ratio_to_memcpy"] = fps / reference;
    state.counters["frame_MB"] = bytes / 1e6;
}

// Range 0: transfer depth flag (0: 8-bit, 1: 16-bit samples).
void BM_StreamingLoopFullFrame(benchmark::State& state) {
    vimbra::platform::SetSleepHook([](uint32_t) {});
    vimbra::sim::VirtualDriver driver;
    driver.SetTiming(false);
    driver.Plug(0, vimbra::sim::CameraModel::kColor);
    CVimbra740QXRDLSdk device(&driver);
    device.SetTransferDepth(static_cast<int>(state.range(0)));
    device.SetWindow(0, 0, vimbra::kSensorWidth, vimbra::kSensorHeight, 0);
    const size_t bytes = device.TransferSize();
    if (device.StartStreaming() != vimbra::kDevOk) {
        state.SkipWithError("streaming did not start");
        return;
    }
    while (device.FramesCompleted() < 2) {
    }
    std::vector<uint8_t> taken(bytes);
    const uint64_t first = device.FramesCompleted();
    const auto t0 = Clock::now();
    for (auto _ : state) {
        // The reader takes the newest frame and copies it out, as the
        // preview loop does; the loop keeps filling the other slots.
        while (device.WaitForFrame() != vimbra::kWaitFrameReady) {
        }
        device.CopyRingFrame(taken.data());
        benchmark::DoNotOptimize(taken.data());
    }
    const double elapsed = Seconds(Clock::now() - t0);
    const uint64_t frames = device.FramesCompleted() - first;
    device.StopStreaming();
    vimbra::platform::SetSleepHook(nullptr);
    state.SetBytesProcessed(static_cast<int64_t>(frames * bytes));
    state.counters["taken_per_s"] = state.iterations() / elapsed;
    Report(state, frames / elapsed, bytes);
}
BENCHMARK(BM_StreamingLoopFullFrame)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The virtual camera rendering full frames through its driver interface.
void BM_VirtualCameraFrame(benchmark::State& state) {
    vimbra::sim::VirtualDriver driver;
    driver.SetTiming(false);
    driver.Plug(0, vimbra::sim::CameraModel::kColor);
    auto file = driver.Open("\\\\.\\VmbrQX740RDL-0");
    const bool wide = state.range(0) != 0;
    uint8_t depth[64] = {0x25, 14, static_cast<uint8_t>(wide ? 0x85 : 0x84)};
    uint8_t start[64] = {0x02};
    uint8_t pipe0[4] = {0}, pipe2[4] = {2};
    uint32_t moved = 0;
    file->Control(vimbra::platform::kIoctlDirectIn, pipe0, 4, depth, 64, &moved);
    const size_t bytes = size_t{5039104} * (wide ? 2 : 1);
    std::vector<uint8_t> frame(bytes);
    uint64_t frames = 0;
    const auto t0 = Clock::now();
    for (auto _ : state) {
        file->Control(vimbra::platform::kIoctlDirectIn, pipe0, 4, start, 64, &moved);
        if (!file->Control(vimbra::platform::kIoctlLargeIn, pipe2, 4, frame.data(),
                           static_cast<uint32_t>(bytes), &moved) ||
            moved != bytes) {
            state.SkipWithError("frame request failed");
            return;
        }
        benchmark::DoNotOptimize(frame.data());
        ++frames;
    }
    const double elapsed = Seconds(Clock::now() - t0);
    state.SetBytesProcessed(static_cast<int64_t>(frames * bytes));
    Report(state, frames / elapsed, bytes);
}
BENCHMARK(BM_VirtualCameraFrame)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_MemcpyFullFrame(benchmark::State& state) {
    const size_t bytes = size_t{5039104} * (state.range(0) ? 2 : 1);
    std::vector<uint8_t> src(bytes, 0x5A), dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_MemcpyFullFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
