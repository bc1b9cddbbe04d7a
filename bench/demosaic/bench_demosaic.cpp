// Speed of the Bayer demosaic on a full 2592 x 1944 frame, 8-bit into 24-bit
// and 16-bit (12 significant bits) into 48-bit, on one core and on all cores,
// next to a memory copy of the same input and output bytes and to OpenCV's
// bilinear Bayer conversion of the same frame. After the runs a table gives
// every time as a ratio to the references measured in the same run.
//
// Run (from the repository root, with a build directory of your own):
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release &&
//   ninja -C build-bench bench_demosaic &&
//   build-bench/bench/demosaic/bench_demosaic --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fastest_run.h"
#include "image/convert.h"
#include "image/demosaic.h"
#include "image/dib_image.h"
#include "image/simd.h"

#ifdef VIMBRA_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kWidth = 2592;
constexpr int kHeight = 1944;

int Cores() {
    unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : static_cast<int>(n);
}

struct Frames {
    vimbra::CDibImage raw8, raw16, out24, out48;
    Frames() {
        raw8.Create(kWidth, kHeight, 8);
        raw16.Create(kWidth, kHeight, 16);
        out24.Create(kWidth, kHeight, 24);
        out48.Create(kWidth, kHeight, 48);
        std::mt19937 rng(1);
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* r8 = raw8.row(y);
            auto* r16 = reinterpret_cast<uint16_t*>(raw16.row(y));
            for (int x = 0; x < kWidth; ++x) {
                uint32_t v = rng();
                r8[x] = static_cast<uint8_t>(v);
                r16[x] = static_cast<uint16_t>(v & 0xFFF);
            }
        }
    }
};

Frames& GetFrames() {
    static Frames frames;
    return frames;
}

size_t Bytes(const vimbra::CDibImage& img) {
    return static_cast<size_t>(img.stride()) * static_cast<size_t>(img.height());
}

void Vimbra(benchmark::State& state, bool deep, vimbra::SimdPath wanted) {
    Frames& f = GetFrames();
    vimbra::SetDemosaicThreads(static_cast<int>(state.range(0)));
    const vimbra::SimdPath saved = vimbra::ActiveSimd();
    if (vimbra::SetSimdPath(wanted) != wanted) state.SetLabel("not on this CPU: best path instead");
    vimbra::ColourSettings settings;
    settings.gain_red = 130;
    settings.gain_blue = 90;
    vimbra::CDibImage& raw = deep ? f.raw16 : f.raw8;
    vimbra::CDibImage& out = deep ? f.out48 : f.out24;
    for (auto _ : state) {
        vimbra::ConvertToColour(&out, &raw, settings);
        benchmark::ClobberMemory();
    }
    vimbra::SetDemosaicThreads(0);
    vimbra::SetSimdPath(saved);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(Bytes(raw) + Bytes(out)));
}

// The border pass alone: the two outer rows and columns on every side.
void Border(benchmark::State& state, bool deep) {
    Frames& f = GetFrames();
    vimbra::DemosaicParams params{0, 130, 100, 90};
    void* p = &params;
    vimbra::CDibImage& raw = deep ? f.raw16 : f.raw8;
    vimbra::CDibImage& out = deep ? f.out48 : f.out24;
    for (auto _ : state) {
        vimbra::CDibImage::ConvertBlit(&out,
                                       deep ? vimbra::DemosaicBorder16 : vimbra::DemosaicBorder8,
                                       &raw, nullptr, 0, 0, &p, nullptr);
        benchmark::ClobberMemory();
    }
}

// Reads and writes the bytes the demosaic reads and writes: the raw frame
// copied once, and a buffer of the output's size copied into the output.
void Memcpy(benchmark::State& state, bool deep) {
    Frames& f = GetFrames();
    vimbra::CDibImage& raw = deep ? f.raw16 : f.raw8;
    vimbra::CDibImage& out = deep ? f.out48 : f.out24;
    std::vector<uint8_t> raw_copy(Bytes(raw)), out_source(Bytes(out), 1);
    for (auto _ : state) {
        std::memcpy(raw_copy.data(), raw.bits(), Bytes(raw));
        std::memcpy(out.bits(), out_source.data(), Bytes(out));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(Bytes(raw) + Bytes(out)));
}

#ifdef VIMBRA_BENCH_OPENCV
void OpenCv(benchmark::State& state, bool deep) {
    Frames& f = GetFrames();
    cv::setNumThreads(static_cast<int>(state.range(0)));
    vimbra::CDibImage& raw = deep ? f.raw16 : f.raw8;
    vimbra::CDibImage& out = deep ? f.out48 : f.out24;
    cv::Mat src(kHeight, kWidth, deep ? CV_16UC1 : CV_8UC1, raw.bits(),
                static_cast<size_t>(raw.stride()));
    cv::Mat dst(kHeight, kWidth, deep ? CV_16UC3 : CV_8UC3, out.bits(),
                static_cast<size_t>(out.stride()));
    for (auto _ : state) {
        cv::cvtColor(src, dst, cv::COLOR_BayerGB2BGR);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(Bytes(raw) + Bytes(out)));
}
#endif

// The per-frame conversions of the display path and the frame arrival.
void Conversion(benchmark::State& state, vimbra::PixelRoutine routine, int dst_bits, int src_bits) {
    vimbra::CDibImage src, dst;
    // Repacking has work only where rows are padded: a width one short.
    src.Create(routine == vimbra::Repack8 ? kWidth - 1 : kWidth, kHeight,
               static_cast<uint16_t>(src_bits));
    dst.Create(kWidth, kHeight, static_cast<uint16_t>(dst_bits));
    vimbra::CDibImage* target = routine == vimbra::Repack8 ? &src : &dst;
    for (auto _ : state) {
        vimbra::CDibImage::ConvertBlit(target, routine, &src, nullptr, 0, 0, nullptr, nullptr);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(Bytes(src) + Bytes(dst)));
}

void Register() {
    struct Named {
        const char* name;
        vimbra::PixelRoutine routine;
        int dst_bits, src_bits;
    };
    const Named conversions[] = {
        {"convert/Mono16To8Shift4", vimbra::Mono16To8Shift4, 8, 16},
        {"convert/Colour24Copy_32to24", vimbra::Colour24Copy, 24, 32},
        {"convert/Colour48To24Shift4", vimbra::Colour48To24Shift4, 24, 48},
        {"convert/Colour24CopyTurned", vimbra::Colour24CopyTurned, 24, 24},
        {"convert/Repack8_2591wide", vimbra::Repack8, 8, 8},
    };
    for (const Named& n : conversions) {
        benchmark::RegisterBenchmark(n.name, Conversion, n.routine, n.dst_bits, n.src_bits)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    for (bool deep : {false, true}) {
        std::string depth = deep ? "16to48" : "8to24";
        benchmark::RegisterBenchmark(("memcpy/" + depth).c_str(), Memcpy, deep)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("border/" + depth).c_str(), Border, deep)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        // The paths of processors without AVX2, on one core.
        benchmark::RegisterBenchmark(("vimbra_sse2/" + depth).c_str(), Vimbra, deep,
                                     vimbra::SimdPath::kSse2)
            ->Arg(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("vimbra_scalar/" + depth).c_str(), Vimbra, deep,
                                     vimbra::SimdPath::kScalar)
            ->Arg(1)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        for (int threads : {1, Cores()}) {
            benchmark::RegisterBenchmark(("vimbra/" + depth).c_str(), Vimbra, deep,
                                         vimbra::ActiveSimd())
                ->Arg(threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#ifdef VIMBRA_BENCH_OPENCV
            benchmark::RegisterBenchmark(("opencv/" + depth).c_str(), OpenCv, deep)
                ->Arg(threads)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
#endif
        }
    }
}

// Keeps the console output and remembers each run's time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            // With repetitions the median stands for the run.
            const std::string name = r.run_name.str();
            if ((r.run_type == Run::RT_Iteration && r.iterations > 0 && !times_.count(name)) ||
                (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")) {
                times_[name] = r.GetAdjustedRealTime();
                cpu_times_[name] = r.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        std::printf("\nRatios (time / reference time, lower is faster for us):\n");
        for (const char* depth : {"8to24", "16to48"}) {
            double copy = Get("memcpy", depth, "real_time");
            for (int threads : {1, Cores()}) {
                char suffix[32];
                std::snprintf(suffix, sizeof suffix, "%d/real_time", threads);
                double ours = Get("vimbra", depth, suffix);
                double cv = Get("opencv", depth, suffix);
                if (ours <= 0) continue;
                std::printf("  %-7s %d thread(s): vimbra %.2f ms", depth, threads, ours);
                if (cv > 0) std::printf(" | opencv %.2f ms, vimbra/opencv %.2f", cv, ours / cv);
                if (copy > 0) std::printf(" | vimbra/memcpy %.2f", ours / copy);
                std::printf("\n");
                // On one thread the CPU times tell the same without the time
                // the process spent waiting for a core on a busy machine.
                double ours_cpu = Get("vimbra", depth, suffix, true);
                double cv_cpu = Get("opencv", depth, suffix, true);
                double copy_cpu = Get("memcpy", depth, "real_time", true);
                if (threads == 1 && cv_cpu > 0 && copy_cpu > 0) {
                    std::printf(
                        "  %-7s 1 thread,  CPU time: vimbra/opencv %.2f | vimbra/memcpy %.2f\n",
                        depth, ours_cpu / cv_cpu, ours_cpu / copy_cpu);
                }
            }
        }
    }

  private:
    double Get(const char* what, const char* depth, const char* suffix, bool cpu = false) const {
        char name[128];
        std::snprintf(name, sizeof name, "%s/%s/%s", what, depth, suffix);
        const auto& times = cpu ? cpu_times_ : times_;
        auto it = times.find(name);
        return it == times.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> times_;
    std::map<std::string, double> cpu_times_;
};

}  // namespace

int main(int argc, char** argv) {
    return vimbra::RunAndPrintRatios<RatioReporter>(argc, argv, Register);
}
