// Benchmarks whose figure is the fastest of repeated runs: the machine is
// shared, and slower runs were disturbed by other programs.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace vimbra {

// Milliseconds of real time, with a "min" statistic over repetitions.
inline benchmark::internal::Benchmark* FastestOfRuns(benchmark::internal::Benchmark* b) {
    return b->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->ComputeStatistics("min", [](const std::vector<double>& v) {
            return *std::min_element(v.begin(), v.end());
        });
}

// The name a run's figure is reported under: the "min" aggregate when there
// are repetitions, else the one run. Empty for every other run.
inline std::string FigureName(const benchmark::BenchmarkReporter::Run& r) {
    using Run = benchmark::BenchmarkReporter::Run;
    const bool best = r.run_type == Run::RT_Aggregate && r.aggregate_name == "min";
    if (!best && !(r.run_type == Run::RT_Iteration && r.repetitions <= 1)) return {};
    std::string name = r.benchmark_name();
    for (const std::string suffix : {"_min", "/real_time"}) {
        if (name.ends_with(suffix)) name.resize(name.size() - suffix.size());
    }
    return name;
}

// The main of a benchmark program that prints ratios: runs the benchmarks
// `register_benchmarks` registers with a `Reporter`, then has the reporter
// print its ratios.
template <class Reporter>
int RunAndPrintRatios(int argc, char** argv, void (*register_benchmarks)()) {
    benchmark::Initialize(&argc, argv);
    register_benchmarks();
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}

}  // namespace vimbra
