// Frames per second that live preview delivers to a host callback, with the
// virtual camera sending full frames as fast as they are asked for, colour
// mode 24 and no wait, next to ProcessFrame alone on frames of the same size
// in the same run: the ratio is the cost of the delivery around the
// conversion (transfer, copy into the raw image, host copy, message).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "full_frame_session.h"
#include "image/dib_image.h"
#include "image/process_frame.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kWidth = vimbra::bench::FullFrameSession::kWidth;
constexpr int32_t kHeight = vimbra::bench::FullFrameSession::kHeight;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Delivered {
    std::atomic<uint64_t> frames{0};
};

void OnMessage(void* user, HWND, uint32_t message, uintptr_t wparam, intptr_t) {
    if (message == VIMBRA_MSG_FRAME && wparam != 0)
        static_cast<Delivered*>(user)->frames.fetch_add(1, std::memory_order_relaxed);
}

// ProcessFrame alone, frames per second: colour mode 2, default filters.
double ProcessFramePerSecond() {
    vimbra::CDibImage raw, rgb24, work;
    raw.Create(kWidth, kHeight, 8);
    rgb24.Create(kWidth, kHeight, 24);
    work.Create(kWidth, kHeight, 24);
    for (int32_t r = 0; r < kHeight; ++r)
        for (int32_t c = 0; c < kWidth; ++c) raw.row(r)[c] = static_cast<uint8_t>(r * 7 + c * 3);
    vimbra::FilterRecord filter;
    filter.red_gain = filter.green_gain = filter.blue_gain = filter.gamma = 100;
    filter.bayer_mode = 3;
    vimbra::AnalogRecord analog;
    vimbra::FilterWorkspace workspace;
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        constexpr int kFrames = 10;
        const auto t0 = Clock::now();
        for (int i = 0; i < kFrames; ++i) {
            vimbra::FrameContext ctx{
                std::span<int32_t, vimbra::filter_slot::kCount>(reinterpret_cast<int32_t*>(&filter),
                                                                vimbra::filter_slot::kCount),
                std::span<const int32_t, vimbra::analog_slot::kCount>(
                    reinterpret_cast<const int32_t*>(&analog), vimbra::analog_slot::kCount),
                2,
                0,
                vimbra::FrameImages{},
                nullptr,
                &workspace};
            ctx.images.raw8 = &raw;
            ctx.images.rgb24 = &rgb24;
            ctx.images.work = &work;
            vimbra::ProcessFrame(ctx);
            benchmark::DoNotOptimize(rgb24.bits());
        }
        best = std::max(best, kFrames / Seconds(Clock::now() - t0));
    }
    return best;
}

void BM_DeliveryToHostCallback(benchmark::State& state) {
    Delivered delivered;
    double fps = 0;
    // The host buffer outlives the session, which writes into it until it stops.
    const int32_t stride = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> host(static_cast<size_t>(stride) * kHeight);
    {
        vimbra::bench::FullFrameSession session(OnMessage, &delivered);
        const int32_t h = session.handle();
        if (Vimbra_CallBackPreview(h, session.callback_window(), host.data(),
                                   static_cast<int32_t>(host.size()), 1) != 1) {
            state.SkipWithError("preview did not start");
            return;
        }
        while (delivered.frames.load() < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const uint64_t first = delivered.frames.load();
        const auto t0 = Clock::now();
        for (auto _ : state) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double elapsed = Seconds(Clock::now() - t0);
        fps = static_cast<double>(delivered.frames.load() - first) / elapsed;
    }
    const double reference = ProcessFramePerSecond();
    state.counters["delivered_per_s"] = fps;
    state.counters["process_frame_per_s"] = reference;
    // Time per delivered frame over time per conversion alone.
    state.counters["overhead_ratio"] = reference / fps;
}
BENCHMARK(BM_DeliveryToHostCallback)->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
