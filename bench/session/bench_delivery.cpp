// Frames per second that live preview delivers to a host callback, with the
// virtual camera sending full frames without the sensor's timing, colour
// mode 24 and no wait, next to ProcessFrame alone on the camera's picture in
// the same run: the ratio is the cost of the delivery around the conversion
// (transfer, copy into the raw image, host copy, message).
//
// Each delivery figure is taken with the camera paced two ways:
//  - free: the camera renders frames as fast as they are asked for, so its
//    rendering (a 5 MB copy per frame, most of them never delivered) takes
//    processor time from the library on the same cores;
//  - lock-step: the camera renders the next frame only once the host has
//    received the previous one. The camera's rendering time per frame is
//    measured and taken out, leaving the library's time per frame; the
//    latency from the camera finishing a frame to the host callback is
//    exact because one frame is in flight at a time.
// and with no preview window, or a preview drawn into an X11 window on a
// private Xvfb server at 1:1 (a top-level window) and scaled to half size
// (a child of a host X11 window). The X11 runs are left out without Xvfb.
//
//   bench_delivery
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "api/sdk_chain.h"
#include "full_frame_session.h"
#include "image/dib_image.h"
#include "image/process_frame.h"
#include "platform/window.h"
#include "session/vimbra.h"
#include "sim/virtual_driver.h"
#include "xvfb_server.h"

#if VIMBRA_BENCH_X11
// Last: Xlib defines macros (None, Status, True) that other headers use as names.
#include "x11_host_window.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using FrameEvent = vimbra::sim::VirtualCamera::FrameEvent;
constexpr int32_t kWidth = vimbra::bench::FullFrameSession::kWidth;
constexpr int32_t kHeight = vimbra::bench::FullFrameSession::kHeight;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::unique_ptr<vimbra::testing::XvfbServer>& Server() {
    static std::unique_ptr<vimbra::testing::XvfbServer> server;
    return server;
}

// What the camera and the host callback saw, and the lock-step gate between
// them.
struct Traffic {
    bool lock_step = false;
    std::mutex mutex;
    std::condition_variable cv;
    bool released = true;  // the camera may render its next frame
    bool free_run = false;
    Clock::time_point begin, done;
    double render_ms = 0;
    uint64_t rendered = 0;
    uint64_t delivered = 0;
    std::vector<double> latency_ms;
    std::vector<uint8_t> first_frame;  // the camera's first whole frame, as sent

    void OnCamera(FrameEvent e, const uint8_t* bytes, uint32_t size) {
        std::unique_lock<std::mutex> lock(mutex);
        if (e == FrameEvent::kBegin) {
            if (lock_step) {
                cv.wait(lock, [&] { return released || free_run; });
                released = false;
            }
            begin = Clock::now();
            return;
        }
        done = Clock::now();
        render_ms += Ms(done - begin);
        ++rendered;
        if (first_frame.empty() && size == static_cast<uint32_t>(kWidth * kHeight))
            first_frame.assign(bytes, bytes + size);
    }
    void OnHost(bool frame) {
        const Clock::time_point now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        if (frame) {
            ++delivered;
            if (lock_step) latency_ms.push_back(Ms(now - done));
        }
        released = true;
        cv.notify_all();
    }
    void Stop() {
        std::lock_guard<std::mutex> lock(mutex);
        free_run = true;
        cv.notify_all();
    }
};

void OnMessage(void* user, HWND, uint32_t message, uintptr_t wparam, intptr_t) {
    if (message == VIMBRA_MSG_FRAME) static_cast<Traffic*>(user)->OnHost(wparam != 0);
}

// ProcessFrame alone, milliseconds per frame: a frame the camera sent, with
// the session's filters and analogue settings, colour mode 2, the fastest of
// three rounds.
double ProcessFrameMs(const std::vector<uint8_t>& frame, vimbra::FilterRecord filter,
                      const vimbra::AnalogRecord& analog) {
    vimbra::CDibImage raw, rgb24, work;
    raw.Create(kWidth, kHeight, 8);
    rgb24.Create(kWidth, kHeight, 24);
    work.Create(kWidth, kHeight, 24);
    std::memcpy(raw.bits(), frame.data(), std::min<size_t>(frame.size(), kWidth * kHeight));
    vimbra::FilterWorkspace workspace;
    double best = 1e9;
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
        best = std::min(best, Ms(Clock::now() - t0) / kFrames);
    }
    return best;
}

// The two copies of the delivery path alone, milliseconds per frame: the raw
// frame out of the transfer ring and the 24-bit picture into the host's
// buffer, the fastest of three rounds.
double CopiesMs() {
    const size_t raw = static_cast<size_t>(kWidth) * kHeight;
    const size_t stride = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> ring(raw, 1), raw_image(raw), picture(stride * kHeight, 2),
        host(stride * kHeight);
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        constexpr int kFrames = 10;
        const auto t0 = Clock::now();
        for (int i = 0; i < kFrames; ++i) {
            std::memcpy(raw_image.data(), ring.data(), raw);
            for (int32_t r = 0; r < kHeight; ++r)
                std::memcpy(host.data() + stride * r, picture.data() + stride * r, stride);
            benchmark::ClobberMemory();
        }
        best = std::min(best, Ms(Clock::now() - t0) / kFrames);
    }
    return best;
}

enum class Pace { kFree, kLockStep };
enum class View { kNone, kX11OneToOne, kX11Half };

#if VIMBRA_BENCH_X11
// A host X11 window for the scaled preview, on the host's own connection.
class HostX11Window {
  public:
    HostX11Window(const char* display, int w, int h) : display_(XOpenDisplay(display)) {
        if (display_ != nullptr) window_ = vimbra::testing::MapHostWindow(display_, 0, 0, w, h);
    }
    ~HostX11Window() {
        if (display_ == nullptr) return;
        XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    unsigned long xid() const { return window_; }

  private:
    Display* display_;
    Window window_ = 0;
};
#else
// Without Xlib there is no X11 back end either: the X11 runs are skipped.
class HostX11Window {
  public:
    HostX11Window(const char*, int, int) {}
    unsigned long xid() const { return 0; }
};
#endif

void BM_Delivery(benchmark::State& state, Pace pace, View view) {
    std::unique_ptr<HostX11Window> host_window;
    if (view == View::kNone) {
        vimbra::platform::SelectWindowBackend(vimbra::platform::WindowBackendKind::kOffscreen);
    } else {
        if (Server() == nullptr || !Server()->ok() ||
            !vimbra::platform::SelectWindowBackend(vimbra::platform::WindowBackendKind::kX11,
                                                   Server()->name())) {
            state.SkipWithError("Xvfb is not available");
            return;
        }
        if (view == View::kX11Half)
            host_window = std::make_unique<HostX11Window>(Server()->name(), kWidth, kHeight);
    }
    Traffic traffic;
    traffic.lock_step = pace == Pace::kLockStep;
    // The host buffer outlives the session, which writes into it until it stops.
    const int32_t stride = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> host(static_cast<size_t>(stride) * kHeight);
    vimbra::FilterRecord filter;
    vimbra::AnalogRecord analog;
    bool started = false;
    uint64_t first = 0, last = 0, first_rendered = 0, last_rendered = 0;
    double first_render_ms = 0, last_render_ms = 0, elapsed_ms = 0;
    size_t first_latency = 0, last_latency = 0;
    {
        vimbra::bench::FullFrameSession session(OnMessage, &traffic);
        const int32_t h = session.handle();
        vimbra::sim::DefaultVirtualDriver().Camera(0)->SetFrameHook(
            [&traffic](FrameEvent e, const uint8_t* bytes, uint32_t size) {
                traffic.OnCamera(e, bytes, size);
            });
        switch (view) {
            case View::kNone:
                break;
            case View::kX11OneToOne:
                Vimbra_SetPreviewWindow(h, nullptr, 0, 0, kWidth, kHeight);
                break;
            case View::kX11Half:
                Vimbra_SetPreviewWindow(h, VimbraHost_WindowFromX11(host_window->xid()), 0, 0,
                                        kWidth / 2, kHeight / 2);
                break;
        }
        started = Vimbra_CallBackPreview(h, session.callback_window(), host.data(),
                                         static_cast<int32_t>(host.size()), 1) == 1;
        auto snapshot = [&](uint64_t* delivered, uint64_t* rendered, double* render_ms,
                            size_t* latencies) {
            std::lock_guard<std::mutex> lock(traffic.mutex);
            *delivered = traffic.delivered;
            *rendered = traffic.rendered;
            *render_ms = traffic.render_ms;
            *latencies = traffic.latency_ms.size();
        };
        if (started) {
            while (first < 2) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                snapshot(&first, &first_rendered, &first_render_ms, &first_latency);
            }
        }
        const auto t0 = Clock::now();
        for (auto _ : state) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        elapsed_ms = Ms(Clock::now() - t0);
        snapshot(&last, &last_rendered, &last_render_ms, &last_latency);
        vimbra::Chain()->Call(h, 0, [&](vimbra::CVimbra& s) {
            filter = s.Filter();
            analog = s.Analog();
            return 0;
        });
        // The camera runs free again, so that the preview can stop.
        traffic.Stop();
    }
    host_window.reset();
    vimbra::platform::SelectWindowBackend(vimbra::platform::WindowBackendKind::kOffscreen);
    if (!started) {
        state.SkipWithError("preview did not start");
        return;
    }
    const double reference_ms = ProcessFrameMs(traffic.first_frame, filter, analog);
    const double delivered = static_cast<double>(last - first);
    const double rendered = static_cast<double>(last_rendered - first_rendered);
    const double per_frame_ms = elapsed_ms / delivered;
    state.counters["delivered_per_s"] = 1000.0 / per_frame_ms;
    state.counters["rendered_per_s"] = rendered * 1000.0 / elapsed_ms;
    state.counters["process_frame_per_s"] = 1000.0 / reference_ms;
    // Time per delivered frame over time per conversion alone.
    state.counters["overhead_ratio"] = per_frame_ms / reference_ms;
    if (pace == Pace::kLockStep) {
        const double render_ms = (last_render_ms - first_render_ms) / rendered;
        state.counters["camera_ms"] = render_ms;
        state.counters["library_ms"] = per_frame_ms - render_ms;
        state.counters["library_ratio"] = (per_frame_ms - render_ms) / reference_ms;
        // What the library's time per frame holds besides ProcessFrame and
        // the two copies: hand-overs between threads, the message, drawing.
        const double copies_ms = CopiesMs();
        state.counters["copies_ms"] = copies_ms;
        state.counters["process_frame_ms"] = reference_ms;
        state.counters["rest_ms"] = per_frame_ms - render_ms - reference_ms - copies_ms;
        std::vector<double> latency(traffic.latency_ms.begin() + first_latency,
                                    traffic.latency_ms.begin() + last_latency);
        std::sort(latency.begin(), latency.end());
        if (!latency.empty()) {
            state.counters["latency_median_ms"] = latency[latency.size() / 2];
            state.counters["latency_p99_ms"] =
                latency[std::min(latency.size() - 1, latency.size() * 99 / 100)];
        }
    }
}

void Register() {
    struct Case {
        const char* name;
        Pace pace;
        View view;
    };
    for (const Case& c : {Case{"free/no-window", Pace::kFree, View::kNone},
                          Case{"lock-step/no-window", Pace::kLockStep, View::kNone},
                          Case{"free/x11-1:1", Pace::kFree, View::kX11OneToOne},
                          Case{"lock-step/x11-1:1", Pace::kLockStep, View::kX11OneToOne},
                          Case{"free/x11-half", Pace::kFree, View::kX11Half},
                          Case{"lock-step/x11-half", Pace::kLockStep, View::kX11Half}}) {
        benchmark::RegisterBenchmark(c.name, BM_Delivery, c.pace, c.view)
            ->Iterations(30)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A screen that holds the full frame at 1:1.
    Server() =
        std::make_unique<vimbra::testing::XvfbServer>(std::vector<std::string>{}, "2700x2100x24");
    benchmark::Initialize(&argc, argv);
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Server().reset();
    return 0;
}
