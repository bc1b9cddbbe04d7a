// Internal helpers shared by the filter and raw correction routines: row
// addressing, the vector intrinsics and splitting rows over threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "image/demosaic.h"
#include "image/pixel_routine.h"
#include "image/row_pool.h"
#include "image/simd.h"

// VIMBRA_X86_SIMD tells the filter sources whether the x86 vector intrinsics
// are there; their AVX-512 and AVX2 functions run only where simd::Avx512()
// and simd::Avx2() say so.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VIMBRA_X86_SIMD 1
#include <immintrin.h>
// The intrinsics headers trip this warning on their own undefined-vector idiom
// (GCC's name for it; clang has no such group).
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#pragma GCC diagnostic ignored "-Wuninitialized"
#else
#define VIMBRA_X86_SIMD 0
#endif

// VIMBRA_NEON_SIMD: the Arm Advanced SIMD intrinsics are there; their
// kernels run only where simd::Neon() says so.
#if defined(__aarch64__)
#define VIMBRA_NEON_SIMD 1
#include <arm_neon.h>
#else
#define VIMBRA_NEON_SIMD 0
#endif

namespace vimbra::pixel {

#if VIMBRA_X86_SIMD
// A table of 256 bytes for LookUpBytesAvx2: for each half of the table, its
// eight pieces of sixteen entries, each exclusive-ored with the next piece
// (the last as it is), in both halves of a register.
struct ByteTableAvx2 {
    __m256i piece[16];
};

__attribute__((target("avx2"))) inline void LoadByteTableAvx2(const uint8_t* table,
                                                              ByteTableAvx2& t) {
    for (int i = 0; i < 16; ++i) {
        const __m128i own = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * i));
        const __m128i next =
            i % 8 == 7 ? _mm_setzero_si128()
                       : _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * (i + 1)));
        t.piece[i] = _mm256_broadcastsi128_si256(_mm_xor_si128(own, next));
    }
}

// Each byte of v looked up in the table. A byte shuffle gives 0 where the
// index has its top bit set: adding 112 - 16 k with unsigned saturation
// keeps that bit clear exactly for the values below 16 (k + 1), so piece k
// of a half counts for the indexes of pieces 0..k, and the exclusive-or of
// pieces g..7 leaves the table's piece g. Values of the upper half take the
// same steps with their top bit flipped; the lower half's come out as 0.
__attribute__((target("avx2"))) inline __m256i LookUpBytesAvx2(__m256i v, const ByteTableAvx2& t) {
    const __m256i upper = _mm256_xor_si256(v, _mm256_set1_epi8(static_cast<char>(0x80)));
    __m256i r = _mm256_setzero_si256();
    // Unrolled: left as a loop, the step constants were rebuilt through the
    // stack on every round.
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        const __m256i step = _mm256_set1_epi8(static_cast<char>(112 - 16 * k));
        r = _mm256_xor_si256(r, _mm256_shuffle_epi8(t.piece[k], _mm256_adds_epu8(v, step)));
        r = _mm256_xor_si256(r, _mm256_shuffle_epi8(t.piece[8 + k], _mm256_adds_epu8(upper, step)));
    }
    return r;
}
#endif

#if VIMBRA_NEON_SIMD
// A table of 256 bytes as four quarters of four registers each.
struct ByteTableNeon {
    uint8x16x4_t quarter[4];
};

inline void LoadByteTableNeon(const uint8_t* table, ByteTableNeon& t) {
    for (int q = 0; q < 4; ++q) t.quarter[q] = vld1q_u8_x4(table + 64 * q);
}

// Each byte of v looked up in the table: a table lookup gives 0 for an index
// beyond its 64 entries, so each quarter answers only for its own indexes.
inline uint8x16_t LookUpBytesNeon(uint8x16_t v, const ByteTableNeon& t) {
    const uint8x16_t step = vdupq_n_u8(64);
    uint8x16_t r = vqtbl4q_u8(t.quarter[0], v);
    for (int q = 1; q < 4; ++q) {
        v = vsubq_u8(v, step);
        r = vorrq_u8(r, vqtbl4q_u8(t.quarter[q], v));
    }
    return r;
}
#endif

// Reads the record that a parameter pointer refers to, or null.
template <class T>
T* Param(void** param) {
    return param != nullptr ? static_cast<T*>(*param) : nullptr;
}

// Address of column `x` of memory row `row`.
inline uint8_t* At(uint8_t* bits, int row, int x, int stride, int bpp) {
    return bits + static_cast<ptrdiff_t>(row) * stride + static_cast<ptrdiff_t>(x) * bpp;
}
inline const uint8_t* At(const uint8_t* bits, int row, int x, int stride, int bpp) {
    return bits + static_cast<ptrdiff_t>(row) * stride + static_cast<ptrdiff_t>(x) * bpp;
}

// Calls f(begin, end) over [0, rows) split over the same number of threads as
// the demosaic; for routines whose rows are independent of each other.
template <class F>
void SplitRows(int rows, F&& f) {
    RowPool::Instance().Run(DemosaicThreads(), rows, f);
}

// The thread count SplitRows would use now, at least 1 and at most the
// pool's limit; with SplitRowsOver a routine can size per-part scratch for
// exactly the split it then runs.
inline int RowThreads() {
    return std::clamp(DemosaicThreads(), 1, RowPool::kMaxThreads);
}

// Like SplitRows, on at most `threads` threads at once.
template <class F>
void SplitRowsOver(int threads, int rows, F&& f) {
    RowPool::Instance().Run(threads, rows, f);
}

// Hands each of up to `count` (at most 64) concurrent callers its own index,
// so that the blocks of a split job can share per-thread scratch memory: a
// block takes a free index for as long as it runs.
class ScratchSlots {
  public:
    explicit ScratchSlots(int count) : count_(std::clamp(count, 1, 64)) {}
    int Acquire() {
        uint64_t busy = busy_.load(std::memory_order_relaxed);
        for (;;) {
            int free_slot = -1;
            for (int i = 0; i < count_; ++i) {
                if (((busy >> i) & 1) == 0) {
                    free_slot = i;
                    break;
                }
            }
            if (free_slot < 0) {
                busy = busy_.load(std::memory_order_relaxed);  // all taken: wait for one
                continue;
            }
            if (busy_.compare_exchange_weak(busy, busy | (uint64_t{1} << free_slot),
                                            std::memory_order_acquire)) {
                return free_slot;
            }
        }
    }
    void Release(int slot) { busy_.fetch_and(~(uint64_t{1} << slot), std::memory_order_release); }

  private:
    std::atomic<uint64_t> busy_{0};
    int count_;
};

inline int Width(const Rect& r) {
    return r.right - r.left;
}
inline int Height(const Rect& r) {
    return r.bottom - r.top;
}

}  // namespace vimbra::pixel
