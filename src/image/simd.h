// The instruction-set path of every pixel routine of the image layer. The
// processor is examined once; the environment variable VIMBRA_SIMD (scalar,
// sse2, avx2, avx512 or neon) read at the same time may choose a lower path.
// Every path gives the same bytes; only the speed differs.
#pragma once

#include <span>
#include <string>

namespace vimbra {

// kAvx512 needs AVX-512 F, BW, VL and VBMI; routines without an AVX-512
// kernel run their AVX2 one on it. kSse2 runs the demosaic's SSE2 kernel and
// scalar code elsewhere.
enum class SimdPath : int { kScalar = 0, kSse2 = 1, kAvx2 = 2, kAvx512 = 3, kNeon = 4 };

// The path in use now.
SimdPath ActiveSimd();

// Chooses the path for tests and benchmarks; a path the processor lacks is
// replaced by the best one it has. Returns the path now in use.
SimdPath SetSimdPath(SimdPath path);

// Whether this processor (and build) can run a path.
bool SimdAvailable(SimdPath path);

// Every path the processor can run, scalar first, best last.
std::span<const SimdPath> AvailableSimdPaths();

// "scalar", "sse2", "avx2", "avx512" or "neon".
const char* SimdPathName(SimdPath path);

// The path that the override text `request` asks for among the available
// ones: null or empty keeps `best`; an unknown or unavailable name gives
// `best` and a message saying so in *problem (left empty otherwise).
SimdPath ChooseSimdPath(const char* request, SimdPath best, std::string* problem);

namespace simd {
// AVX-512 kernels may run.
inline bool Avx512() {
    return ActiveSimd() == SimdPath::kAvx512;
}
// AVX2 kernels may run (also on the AVX-512 path).
inline bool Avx2() {
    const SimdPath p = ActiveSimd();
    return p == SimdPath::kAvx2 || p == SimdPath::kAvx512;
}
// NEON kernels may run.
inline bool Neon() {
    return ActiveSimd() == SimdPath::kNeon;
}
}  // namespace simd

}  // namespace vimbra
