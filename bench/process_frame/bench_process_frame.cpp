// Speed of the per-frame conversion on a full 2592 x 1944 sensor frame:
// ProcessFrame with default settings (hot pixels and demosaic) and with every
// tone filter on, in colour modes 2 (24-bit) and 4 (48-bit), each next to the
// demosaic alone; the single filters next to their OpenCV counterparts. At
// the end the program prints every figure as a ratio to its reference from
// the same run.
//
//   bench_process_frame --benchmark_repetitions=5 --benchmark_report_aggregates_only
//
// takes the fastest of five runs of each; VIMBRA_BENCH_THREADS=1 runs
// everything (OpenCV included) on one thread, which also prints the ratios of
// CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/demosaic.h"
#include "image/dib_image.h"
#include "image/filters.h"
#include "image/hot_pixel.h"
#include "image/process_frame.h"
#include "image/simd.h"

#if VIMBRA_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include "fastest_run.h"

namespace vimbra {
namespace {

constexpr int kW = 2592, kH = 1944;
namespace fs = filter_slot;

// A smooth scene with sensor noise and one hot sample in about 5000, in the
// mosaic of phase 0; 16-bit frames carry 12 significant bits.
void FillScene(CDibImage& raw) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> noise(-3, 3), hot(0, 4999), level(0, 255);
    const bool wide = raw.bit_count() == 16;
    for (int y = 0; y < raw.height(); ++y) {
        for (int x = 0; x < raw.width(); ++x) {
            const int colour = (y % 2) * 2 + (x % 2);  // G B / R G
            const double gain = colour == 1 ? 0.6 : colour == 2 ? 0.8 : 1.0;
            int v = static_cast<int>(gain * (60 + 120 * x / kW + 60 * y / kH)) + noise(rng);
            if (hot(rng) == 0) v = 250;
            v = std::clamp(v, 0, 255);
            if (wide) {
                const uint16_t s = static_cast<uint16_t>(v * 16 + (level(rng) & 15));
                std::memcpy(raw.row(y) + 2 * x, &s, 2);
            } else {
                raw.row(y)[x] = static_cast<uint8_t>(v);
            }
        }
    }
}

struct Pipeline {
    CDibImage raw8, raw16, rgb24, rgb48, work, pristine;
    std::array<int32_t, fs::kCount> filter{};
    std::array<int32_t, analog_slot::kCount> analog{};
    FilterWorkspace workspace;
    int32_t mode;
    bool fuse = true;  // tone filters in shared passes, else one pass each

    Pipeline(int32_t colour_mode, bool all_filters) : mode(colour_mode) {
        CDibImage& raw = mode == 4 ? raw16 : raw8;
        raw.Create(kW, kH, mode == 4 ? 16 : 8);
        FillScene(raw);
        pristine.CreateLike(&raw);
        std::memcpy(pristine.bits(), raw.bits(), Bytes(raw));
        CDibImage& out = mode == 4 ? rgb48 : rgb24;
        out.Create(kW, kH, mode == 4 ? 48 : 24);
        work.CreateLike(&out);
        filter[fs::kGainRed] = filter[fs::kGainGreen] = filter[fs::kGainBlue] = 100;
        filter[fs::kGamma] = 100;
        if (all_filters) {
            filter[fs::kHue] = 30;
            filter[fs::kSaturation] = 40;
            filter[fs::kGamma] = 120;
            filter[fs::kContrast] = 20;
            filter[fs::kSharpness] = 10;
            filter[fs::kBrightness] = 20;
        }
    }
    static size_t Bytes(const CDibImage& i) { return static_cast<size_t>(i.stride()) * i.height(); }
    CDibImage& Raw() { return mode == 4 ? raw16 : raw8; }
    void Restore() { std::memcpy(Raw().bits(), pristine.bits(), Bytes(pristine)); }
    void Run() {
        FrameContext ctx{filter,
                         analog,
                         mode,
                         0,
                         FrameImages{&raw8, &raw16, &rgb24, nullptr, &rgb48, nullptr, &work},
                         nullptr,
                         &workspace};
        ctx.fuse_tone_filters = fuse;
        ProcessFrame(ctx);
    }
};

// Each run starts from the unrepaired frame; restoring it is timed as well,
// and measured on its own (RestoreOnly) so it can be taken out.
// `fuse` false runs every tone filter in a pass of its own, the reference of
// the shared passes.
void ProcessFrameBench(benchmark::State& state, int mode, bool all, bool fuse) {
    Pipeline p(mode, all);
    p.fuse = fuse;
    for (auto _ : state) {
        p.Restore();
        p.Run();
        benchmark::ClobberMemory();
    }
}

void RestoreOnly(benchmark::State& state, int mode) {
    Pipeline p(mode, false);
    for (auto _ : state) {
        p.Restore();
        benchmark::ClobberMemory();
    }
}

void DemosaicAlone(benchmark::State& state, int mode) {
    Pipeline p(mode, false);
    ColourSettings cs;
    for (auto _ : state) {
        ConvertToColour(mode == 4 ? &p.rgb48 : &p.rgb24, &p.Raw(), cs);
        benchmark::ClobberMemory();
    }
}

void HotPixelAlone(benchmark::State& state, int mode) {
    Pipeline p(mode, false);
    DemosaicParams params;
    int32_t threshold = mode == 4 ? kHotPixelThreshold16 : kHotPixelThreshold8;
    void* p1 = &params;
    void* p2 = &threshold;
    for (auto _ : state) {
        p.Restore();
        CDibImage::ConvertBlit(&p.Raw(), mode == 4 ? HotPixel16 : HotPixel8, &p.Raw(), nullptr, 0,
                               0, &p1, &p2);
        benchmark::ClobberMemory();
    }
}

// One filter on the demosaiced frame of the mode.
void FilterAlone(benchmark::State& state, int mode, PixelRoutine routine, int value, bool hue) {
    Pipeline p(mode, false);
    p.Run();
    CDibImage& out = mode == 4 ? p.rgb48 : p.rgb24;
    std::memcpy(p.work.bits(), out.bits(), Pipeline::Bytes(out));
    ToneParams tone{value, 12};
    HueSatParams hs{value, 0, 40, 12};
    void* p1 = hue ? static_cast<void*>(&hs) : static_cast<void*>(&tone);
    void* p2 = &p.workspace;
    const bool sharpen = routine == SharpenColour8 || routine == SharpenColour16;
    for (auto _ : state) {
        CDibImage::ConvertBlit(&out, routine, sharpen ? &p.work : &out, nullptr, 0, 0, &p1, &p2);
        benchmark::ClobberMemory();
    }
}

// Hue and saturation with a gamma table on its results, as the fused
// filters run them, on the demosaiced frame of the mode.
void HueSatTableAlone(benchmark::State& state, int mode) {
    Pipeline p(mode, false);
    p.Run();
    CDibImage& out = mode == 4 ? p.rgb48 : p.rgb24;
    alignas(64) uint8_t t8[256];
    std::vector<uint16_t> t16(kToneTable16Size);
    BuildToneTable8(ToneKind::kGammaColour8, 120, t8);
    BuildToneTable16(ToneKind::kGamma, 120, 12, t16.data());
    HueSatTableParams params{{30, 0, 40, 12}, {t8, t16.data()}};
    void* p1 = &params;
    void* p2 = &p.workspace;
    for (auto _ : state) {
        CDibImage::ConvertBlit(&out, mode == 4 ? HueSatTableColour16 : HueSatTableColour8, &out,
                               nullptr, 0, 0, &p1, &p2);
        benchmark::ClobberMemory();
    }
}

#if VIMBRA_BENCH_OPENCV
void CvLut(benchmark::State& state) {
    cv::setNumThreads(DemosaicThreads());  // as many threads as ours
    cv::Mat img(kH, kW, CV_8UC3);
    cv::randu(img, 0, 255);
    cv::Mat lut(1, 256, CV_8U);
    for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = static_cast<uint8_t>(255 - i);
    for (auto _ : state) {
        cv::LUT(img, lut, img);
        benchmark::ClobberMemory();
    }
}

void CvUnsharp(benchmark::State& state) {
    cv::setNumThreads(DemosaicThreads());  // as many threads as ours
    cv::Mat img(kH, kW, CV_8UC3), blurred, out;
    cv::randu(img, 0, 255);
    for (auto _ : state) {
        cv::blur(img, blurred, cv::Size(4, 4));
        cv::addWeighted(img, 2.0, blurred, -1.0, 0, out);
        benchmark::ClobberMemory();
    }
}

void CvUnsharp16(benchmark::State& state) {
    cv::setNumThreads(DemosaicThreads());  // as many threads as ours
    cv::Mat img(kH, kW, CV_16UC3), blurred, out;
    cv::randu(img, 0, 4095);
    for (auto _ : state) {
        cv::blur(img, blurred, cv::Size(4, 4));
        cv::addWeighted(img, 2.0, blurred, -1.0, 0, out);
        benchmark::ClobberMemory();
    }
}
#endif

// Remembers the time per iteration of every run and prints the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const std::string name = FigureName(r);
            if (!name.empty()) {
                times_[name] = r.GetAdjustedRealTime();
                cpu_[name] = r.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios (same run, time / reference time):\n");
        Ratios();
        if (DemosaicThreads() == 1) {
            // On one thread the CPU time of the calling thread is the whole
            // work and is not stretched by other programs on the machine.
            std::printf("\nThe same with CPU time:\n");
            times_.swap(cpu_);
            Ratios();
            times_.swap(cpu_);
        }
    }

    void Ratios() {
        for (const std::string& path : paths_) {
            const std::string p = path + "/";
            std::printf("%s:\n", path.c_str());
            Ratio(p + "ProcessFrame/mode2/default", p + "Demosaic/mode2");
            Ratio(p + "ProcessFrame/mode2/all", p + "Demosaic/mode2");
            Ratio(p + "ProcessFrame/mode4/default", p + "Demosaic/mode4");
            Ratio(p + "ProcessFrame/mode4/all", p + "Demosaic/mode4");
            Ratio(p + "ProcessFrame/mode2/all/one-by-one", p + "Demosaic/mode2");
            Ratio(p + "ProcessFrame/mode4/all/one-by-one", p + "Demosaic/mode4");
            Ratio(p + "ProcessFrame/mode2/all", p + "ProcessFrame/mode2/all/one-by-one");
            Ratio(p + "ProcessFrame/mode4/all", p + "ProcessFrame/mode4/all/one-by-one");
            Net(p + "ProcessFrame/mode2/default", "Restore/mode2", p + "Demosaic/mode2");
            Net(p + "ProcessFrame/mode2/all", "Restore/mode2", p + "Demosaic/mode2");
            Net(p + "ProcessFrame/mode4/default", "Restore/mode4", p + "Demosaic/mode4");
            Net(p + "ProcessFrame/mode4/all", "Restore/mode4", p + "Demosaic/mode4");
            Ratio(p + "Filter/GammaColour8", "OpenCV/LUT");
            Ratio(p + "Filter/ContrastColour8", "OpenCV/LUT");
            Ratio(p + "Filter/BrightnessColour8", "OpenCV/LUT");
            Ratio(p + "Filter/SharpenColour8", "OpenCV/blur+addWeighted");
            Ratio(p + "Filter/SharpenColour16", "OpenCV/blur+addWeighted16");
            Ratio(p + "Filter/HueSatColour8", p + "Demosaic/mode2");
            Ratio(p + "Filter/HueSatColour16", p + "Demosaic/mode4");
            Ratio(p + "Filter/GammaColour16", p + "Demosaic/mode4");
        }
        // Each path against the best one, routine by routine.
        if (paths_.size() < 2) return;
        const std::string best = paths_.back() + "/";
        for (size_t i = 0; i + 1 < paths_.size(); ++i) {
            std::printf("%s / %s:\n", paths_[i].c_str(), paths_.back().c_str());
            for (const std::string& name : routines_) Ratio(paths_[i] + "/" + name, best + name);
        }
    }

    std::vector<std::string> paths_;     // in the order run, best last
    std::vector<std::string> routines_;  // names run on every path

  private:
    void Ratio(const std::string& a, const std::string& b) {
        if (!times_.count(a) || !times_.count(b)) return;
        std::printf("  %-28s / %-26s = %6.2f\n", a.c_str(), b.c_str(), times_[a] / times_[b]);
    }
    // (a - restore) / b: the figure without the copy that resets the frame.
    void Net(const std::string& a, const std::string& restore, const std::string& b) {
        if (!times_.count(a) || !times_.count(restore) || !times_.count(b)) return;
        std::printf("  %-28s - copy / %-19s = %6.2f\n", a.c_str(), b.c_str(),
                    (times_[a] - times_[restore]) / times_[b]);
    }
    std::map<std::string, double> times_;
    std::map<std::string, double> cpu_;  // calling thread only
};

// The paths to measure: VIMBRA_BENCH_PATHS (a comma-separated list of path
// names), else every path of the processor but SSE2, whose filters are the
// scalar ones.
std::vector<SimdPath> BenchPaths() {
    const char* wanted = std::getenv("VIMBRA_BENCH_PATHS");
    std::vector<SimdPath> paths;
    for (SimdPath p : AvailableSimdPaths()) {
        const std::string name = SimdPathName(p);
        const bool chosen =
            wanted != nullptr
                ? ("," + std::string(wanted) + ",").find("," + name + ",") != std::string::npos
                : p != SimdPath::kSse2;
        if (chosen) paths.push_back(p);
    }
    return paths;
}

void Register(RatioReporter& reporter) {
    using benchmark::RegisterBenchmark;
    auto ms = FastestOfRuns;
    ms(RegisterBenchmark("Restore/mode2", RestoreOnly, 2));
    ms(RegisterBenchmark("Restore/mode4", RestoreOnly, 4));
    // Every routine on one path, the path chosen just before its runs.
    for (SimdPath path : BenchPaths()) {
        const std::string prefix = std::string(SimdPathName(path)) + "/";
        reporter.paths_.push_back(SimdPathName(path));
        auto on = [&](const std::string& name, auto fn, auto... args) {
            if (reporter.paths_.size() == 1) reporter.routines_.push_back(name);
            ms(RegisterBenchmark((prefix + name).c_str(), [=](benchmark::State& state) {
                const SimdPath saved = ActiveSimd();
                SetSimdPath(path);
                fn(state, args...);
                SetSimdPath(saved);
            }));
        };
        on("Demosaic/mode2", DemosaicAlone, 2);
        on("Demosaic/mode4", DemosaicAlone, 4);
        on("ProcessFrame/mode2/default", ProcessFrameBench, 2, false, true);
        on("ProcessFrame/mode2/all", ProcessFrameBench, 2, true, true);
        on("ProcessFrame/mode4/default", ProcessFrameBench, 4, false, true);
        on("ProcessFrame/mode4/all", ProcessFrameBench, 4, true, true);
        on("ProcessFrame/mode2/all/one-by-one", ProcessFrameBench, 2, true, false);
        on("ProcessFrame/mode4/all/one-by-one", ProcessFrameBench, 4, true, false);
        on("HotPixel8", HotPixelAlone, 2);
        on("HotPixel16", HotPixelAlone, 4);
        on("Filter/HueSatColour8", FilterAlone, 2, HueSatColour8, 30, true);
        on("Filter/GammaColour8", FilterAlone, 2, GammaColour8, 120, false);
        on("Filter/ContrastColour8", FilterAlone, 2, ContrastColour8, 20, false);
        on("Filter/SharpenColour8", FilterAlone, 2, SharpenColour8, 10, false);
        on("Filter/BrightnessColour8", FilterAlone, 2, BrightnessColour8, 20, false);
        on("Filter/HueSatColour16", FilterAlone, 4, HueSatColour16, 30, true);
        on("Filter/GammaColour16", FilterAlone, 4, GammaColour16, 120, false);
        on("Filter/HueSatTableColour8", HueSatTableAlone, 2);
        on("Filter/HueSatTableColour16", HueSatTableAlone, 4);
        on("Filter/SharpenColour16", FilterAlone, 4, SharpenColour16, 10, false);
    }
#if VIMBRA_BENCH_OPENCV
    ms(RegisterBenchmark("OpenCV/LUT", CvLut));
    ms(RegisterBenchmark("OpenCV/blur+addWeighted", CvUnsharp));
    ms(RegisterBenchmark("OpenCV/blur+addWeighted16", CvUnsharp16));
#endif
}

}  // namespace
}  // namespace vimbra

// VIMBRA_BENCH_THREADS=n runs the demosaic and the filters on n threads
// (default: every core, as the library does).
int main(int argc, char** argv) {
    if (const char* threads = std::getenv("VIMBRA_BENCH_THREADS")) {
        vimbra::SetDemosaicThreads(std::atoi(threads));
    }
    std::printf("threads: %d\n", vimbra::DemosaicThreads());
    benchmark::Initialize(&argc, argv);
    vimbra::RatioReporter reporter;
    vimbra::Register(reporter);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
