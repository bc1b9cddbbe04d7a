#include "image/parity_sums.h"

#include "image/filters_internal.h"

namespace vimbra {

namespace {

template <class T>
void AddScalar(const T* row, int from, int w, int skip, ParitySums& out) {
    for (int x = from; x < w; ++x) {
        const int v = row[x];
        if (v == skip) continue;
        out.sum[x & 1] += static_cast<uint64_t>(v);
        out.nonzero[x & 1] += v != 0;
    }
}

#if VIMBRA_X86_SIMD
__attribute__((target("avx2"))) inline uint64_t Total64(__m256i v) {
    const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(s)) +
           static_cast<uint64_t>(_mm_extract_epi64(s, 1));
}

// Thirty-two samples a step; the byte sums of even and odd bytes go
// straight into 64-bit lanes. Returns the first column left.
__attribute__((target("avx2"))) int AddAvx2(const uint8_t* row, int w, int skip, ParitySums& out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = _mm256_set1_epi16(0x00FF);
    const __m256i skipped = _mm256_set1_epi8(static_cast<char>(skip));
    __m256i even = zero, odd = zero;
    uint64_t nz_even = 0, nz_odd = 0;
    int x = 0;
    for (; x + 32 <= w; x += 32) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
        if (skip >= 0 && skip <= 255) v = _mm256_andnot_si256(_mm256_cmpeq_epi8(v, skipped), v);
        const auto nonzero =
            ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, zero)));
        nz_even += static_cast<uint64_t>(__builtin_popcount(nonzero & 0x55555555u));
        nz_odd += static_cast<uint64_t>(__builtin_popcount(nonzero & 0xAAAAAAAAu));
        even = _mm256_add_epi64(even, _mm256_sad_epu8(_mm256_and_si256(v, low), zero));
        odd = _mm256_add_epi64(odd, _mm256_sad_epu8(_mm256_srli_epi16(v, 8), zero));
    }
    out.sum[0] += Total64(even);
    out.sum[1] += Total64(odd);
    out.nonzero[0] += nz_even;
    out.nonzero[1] += nz_odd;
    return x;
}

// Sixteen samples a step into 32-bit lanes, moved into 64-bit lanes before
// they could overflow.
__attribute__((target("avx2"))) int AddAvx2(const uint16_t* row, int w, int skip, ParitySums& out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const __m256i skipped = _mm256_set1_epi16(static_cast<int16_t>(skip));
    const bool skipping = skip >= 0 && skip <= 65535;
    __m256i even64 = zero, odd64 = zero;
    uint64_t nz_even = 0, nz_odd = 0;
    int x = 0;
    while (x + 16 <= w) {
        // At most 65536 steps of 65535 per lane fit 32 bits.
        const int stop = w - x > 16 * 65536 ? x + 16 * 65536 : w;
        __m256i even = zero, odd = zero;
        for (; x + 16 <= stop; x += 16) {
            __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
            if (skipping) v = _mm256_andnot_si256(_mm256_cmpeq_epi16(v, skipped), v);
            const auto nonzero =
                ~static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(v, zero)));
            nz_even += static_cast<uint64_t>(__builtin_popcount(nonzero & 0x33333333u)) / 2;
            nz_odd += static_cast<uint64_t>(__builtin_popcount(nonzero & 0xCCCCCCCCu)) / 2;
            even = _mm256_add_epi32(even, _mm256_and_si256(v, low));
            odd = _mm256_add_epi32(odd, _mm256_srli_epi32(v, 16));
        }
        even64 = _mm256_add_epi64(even64, _mm256_add_epi64(_mm256_unpacklo_epi32(even, zero),
                                                           _mm256_unpackhi_epi32(even, zero)));
        odd64 = _mm256_add_epi64(odd64, _mm256_add_epi64(_mm256_unpacklo_epi32(odd, zero),
                                                         _mm256_unpackhi_epi32(odd, zero)));
    }
    out.sum[0] += Total64(even64);
    out.sum[1] += Total64(odd64);
    out.nonzero[0] += nz_even;
    out.nonzero[1] += nz_odd;
    return x;
}
#endif

template <class T>
void Add(const T* row, int w, int skip, ParitySums& out) {
    int x = 0;
#if VIMBRA_X86_SIMD
    if (simd::Avx2()) x = AddAvx2(row, w, skip, out);
#endif
    AddScalar(row, x, w, skip, out);
}

}  // namespace

void AddParitySums8(const uint8_t* row, int w, int skip, ParitySums& out) {
    Add(row, w, skip, out);
}

void AddParitySums16(const uint16_t* row, int w, int skip, ParitySums& out) {
    Add(row, w, skip, out);
}

}  // namespace vimbra
