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
// The intrinsics headers trip this warning on their own undefined-vector idiom.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#else
#define VIMBRA_X86_SIMD 0
#endif

namespace vimbra::pixel {

#if VIMBRA_X86_SIMD
// A table of 256 bytes as sixteen pieces of sixteen, each in both halves of a
// register, for LookUpBytesAvx2.
struct ByteTableAvx2 {
    __m256i piece[16];
};

__attribute__((target("avx2"))) inline void LoadByteTableAvx2(const uint8_t* table,
                                                              ByteTableAvx2& t) {
    for (int i = 0; i < 16; ++i) {
        t.piece[i] = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * i)));
    }
}

// Each byte of v looked up in the table: the low four bits choose within
// every piece, then bits 4..7 choose the piece in a tree of byte blends.
__attribute__((target("avx2"))) inline __m256i LookUpBytesAvx2(__m256i v, const ByteTableAvx2& t) {
    const __m256i low = _mm256_and_si256(v, _mm256_set1_epi8(0x0F));
    __m256i level[16];
    for (int i = 0; i < 16; ++i) level[i] = _mm256_shuffle_epi8(t.piece[i], low);
    // A byte blend follows the top bit of each byte: bit b moved there.
    for (int bit = 4, count = 16; bit < 8; ++bit, count /= 2) {
        const __m256i select = _mm256_slli_epi16(v, 7 - bit);
        for (int i = 0; i < count / 2; ++i) {
            level[i] = _mm256_blendv_epi8(level[2 * i], level[2 * i + 1], select);
        }
    }
    return level[0];
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
