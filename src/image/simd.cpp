#include "image/simd.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vimbra {

namespace {

constexpr std::array<const char*, 5> kNames = {"scalar", "sse2", "avx2", "avx512", "neon"};

bool Detect(SimdPath path) {
    switch (path) {
        case SimdPath::kScalar:
            return true;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
        case SimdPath::kSse2:
            return true;
        case SimdPath::kAvx2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2");
        case SimdPath::kAvx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f") &&
                   __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("avx512vbmi");
#endif
#if defined(__aarch64__)
        case SimdPath::kNeon:
            return true;  // Advanced SIMD is part of every 64-bit Arm processor
#endif
        default:
            return false;
    }
}

struct Machine {
    std::array<SimdPath, 5> paths{};
    int count = 0;
    SimdPath best = SimdPath::kScalar;
    SimdPath initial = SimdPath::kScalar;

    Machine() {
        for (SimdPath p : {SimdPath::kScalar, SimdPath::kSse2, SimdPath::kNeon, SimdPath::kAvx2,
                           SimdPath::kAvx512}) {
            if (Detect(p)) paths[count++] = p;
        }
        best = paths[count - 1];
        std::string problem;
        initial = ChooseSimdPath(std::getenv("VIMBRA_SIMD"), best, &problem);
        if (!problem.empty()) std::fprintf(stderr, "vimbra: %s\n", problem.c_str());
    }
};

const Machine& TheMachine() {
    static const Machine machine;
    return machine;
}

// -1 until the first call of ActiveSimd or SetSimdPath.
std::atomic<int> g_path{-1};

}  // namespace

SimdPath ActiveSimd() {
    const int v = g_path.load(std::memory_order_relaxed);
    if (v >= 0) return static_cast<SimdPath>(v);
    int expected = -1;
    g_path.compare_exchange_strong(expected, static_cast<int>(TheMachine().initial));
    return static_cast<SimdPath>(g_path.load(std::memory_order_relaxed));
}

SimdPath SetSimdPath(SimdPath path) {
    ActiveSimd();  // the override is read (and reported) once whatever comes first
    if (!SimdAvailable(path)) path = TheMachine().best;
    g_path.store(static_cast<int>(path), std::memory_order_relaxed);
    return path;
}

bool SimdAvailable(SimdPath path) {
    for (SimdPath p : AvailableSimdPaths()) {
        if (p == path) return true;
    }
    return false;
}

std::span<const SimdPath> AvailableSimdPaths() {
    const Machine& m = TheMachine();
    return {m.paths.data(), static_cast<size_t>(m.count)};
}

const char* SimdPathName(SimdPath path) {
    const auto i = static_cast<size_t>(path);
    return i < kNames.size() ? kNames[i] : "?";
}

SimdPath ChooseSimdPath(const char* request, SimdPath best, std::string* problem) {
    problem->clear();
    if (request == nullptr || *request == '\0') return best;
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (std::strcmp(request, kNames[i]) != 0) continue;
        const auto path = static_cast<SimdPath>(i);
        if (Detect(path)) return path;
        *problem = std::string("VIMBRA_SIMD=") + request +
                   ": not available on this processor; using " + SimdPathName(best);
        return best;
    }
    *problem = std::string("VIMBRA_SIMD=") + request + ": unknown (scalar, sse2, avx2, avx512, " +
               "neon); using " + SimdPathName(best);
    return best;
}

}  // namespace vimbra
