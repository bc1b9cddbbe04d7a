#include "image/grey_filter.h"

#include <algorithm>

#include "image/filters_internal.h"
#include "image/parity_sums.h"

namespace vimbra {

namespace {

using pixel::At;
using pixel::Height;
using pixel::Param;
using pixel::Width;

// Gain and offset of each position class, in GreyPosition order.
struct ClassValues {
    int32_t gain[4];
    int32_t offset[4];
};

ClassValues ValuesOf(const GreyParams& p) {
    ClassValues v{};
    v.gain[kGreyG1] = p.gain_g1;
    v.gain[kGreyR] = p.gain_r;
    v.gain[kGreyB] = p.gain_b;
    v.gain[kGreyG2] = p.gain_g2;
    v.offset[kGreyG1] = p.offset_g1;
    v.offset[kGreyR] = p.offset_r;
    v.offset[kGreyB] = p.offset_b;
    v.offset[kGreyG2] = p.offset_g2;
    return v;
}

int Apply(int64_t sample, int32_t gain, int32_t offset, int64_t max_value) {
    const int64_t out = offset + int64_t{gain} * sample / 128;
    return static_cast<int>(std::clamp<int64_t>(out, 0, max_value));
}

#if VIMBRA_X86_SIMD
// One row of 8-bit samples, 32 at a time: every sample looked up in the table
// of its column's class. Returns the first column left.
__attribute__((target("avx2"))) int GreyRow8Avx2(uint8_t* d, const uint8_t* s, int w,
                                                 const pixel::ByteTableAvx2& even,
                                                 const pixel::ByteTableAvx2& odd) {
    const __m256i odd_bytes = _mm256_set1_epi16(static_cast<int16_t>(0xFF00));
    int x = 0;
    for (; x + 32 <= w; x += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
        const __m256i out = _mm256_blendv_epi8(pixel::LookUpBytesAvx2(v, even),
                                               pixel::LookUpBytesAvx2(v, odd), odd_bytes);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), out);
    }
    return x;
}

// One row of 16-bit samples, 16 at a time in 32-bit lanes; only for gains
// 0..32767 and offsets within +-2^30, where gain * s and the sum with the
// offset stay within int and the division by 128 is a shift. Returns the
// first column left.
__attribute__((target("avx2"))) int GreyRow16Avx2(uint16_t* d, const uint16_t* s, int w,
                                                  const int32_t gain[2], const int32_t offset[2],
                                                  int max_value) {
    const __m256i g =
        _mm256_setr_epi32(gain[0], gain[1], gain[0], gain[1], gain[0], gain[1], gain[0], gain[1]);
    const __m256i o = _mm256_setr_epi32(offset[0], offset[1], offset[0], offset[1], offset[0],
                                        offset[1], offset[0], offset[1]);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi32(max_value);
    auto part = [&](__m128i v) __attribute__((target("avx2"))) {
        const __m256i p = _mm256_add_epi32(
            _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_cvtepu16_epi32(v), g), 7), o);
        return _mm256_min_epi32(_mm256_max_epi32(p, zero), top);
    };
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
        const __m256i out =
            _mm256_permute4x64_epi64(_mm256_packus_epi32(part(_mm256_castsi256_si128(v)),
                                                         part(_mm256_extracti128_si256(v, 1))),
                                     0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), out);
    }
    return x;
}
#endif

#if VIMBRA_NEON_SIMD
// GreyRow8Avx2 on NEON, 16 samples at a time.
int GreyRow8Neon(uint8_t* d, const uint8_t* s, int w, const pixel::ByteTableNeon& even,
                 const pixel::ByteTableNeon& odd) {
    const uint8x16_t odd_bytes = vreinterpretq_u8_u16(vdupq_n_u16(0xFF00));
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        const uint8x16_t v = vld1q_u8(s + x);
        vst1q_u8(d + x, vbslq_u8(odd_bytes, pixel::LookUpBytesNeon(v, odd),
                                 pixel::LookUpBytesNeon(v, even)));
    }
    return x;
}
#endif

#if VIMBRA_X86_SIMD
// Whether every class's gain and offset suit GreyRow16Avx2.
bool ShortProducts(const ClassValues& v) {
    for (int c = 0; c < 4; ++c) {
        if (v.gain[c] < 0 || v.gain[c] > 32767 || v.offset[c] < -(1 << 30) ||
            v.offset[c] > (1 << 30)) {
            return false;
        }
    }
    return true;
}
#endif

template <class T>
int GreyFilter(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
               uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void** param1) {
    const GreyParams* p = Param<GreyParams>(param1);
    if (p == nullptr || dst_bpp != sizeof(T) || src_bpp != sizeof(T)) return 0;
    const ClassValues v = ValuesOf(*p);
    const int max_value = sizeof(T) == 1 ? 255 : GreyMaxValue(p->bit_depth);
    const int w = Width(r);
    if (sizeof(T) == 1) {
        // 8-bit samples: one table per position class.
        uint8_t lut[4][256];
        for (int c = 0; c < 4; ++c) {
            for (int s = 0; s < 256; ++s) {
                lut[c][s] = static_cast<uint8_t>(Apply(s, v.gain[c], v.offset[c], max_value));
            }
        }
#if VIMBRA_X86_SIMD
        const bool vector = simd::Avx2();
        pixel::ByteTableAvx2 tables[4];
        if (vector) {
            for (int c = 0; c < 4; ++c) pixel::LoadByteTableAvx2(lut[c], tables[c]);
        }
#endif
#if VIMBRA_NEON_SIMD
        const bool neon = simd::Neon();
        pixel::ByteTableNeon neon_tables[4];
        if (neon) {
            for (int c = 0; c < 4; ++c) pixel::LoadByteTableNeon(lut[c], neon_tables[c]);
        }
#endif
        for (int i = 0; i < Height(r); ++i) {
            uint8_t* d = At(dst_bits, dst_row + i, dst_x, dst_stride, 1);
            const uint8_t* s = At(src_bits, r.top + i, r.left, src_stride, 1);
            const int even_class = GreyPositionOf(p->phase, i, 0);
            const int odd_class = GreyPositionOf(p->phase, i, 1);
            const uint8_t* even = lut[even_class];
            const uint8_t* odd = lut[odd_class];
            int x = 0;
#if VIMBRA_X86_SIMD
            if (vector) x = GreyRow8Avx2(d, s, w, tables[even_class], tables[odd_class]);
#endif
#if VIMBRA_NEON_SIMD
            if (neon) x = GreyRow8Neon(d, s, w, neon_tables[even_class], neon_tables[odd_class]);
#endif
            for (; x + 1 < w; x += 2) {
                d[x] = even[s[x]];
                d[x + 1] = odd[s[x + 1]];
            }
            if (x < w) d[x] = even[s[x]];
        }
        return 1;
    }
#if VIMBRA_X86_SIMD
    const bool vector16 = simd::Avx2() && ShortProducts(v);
#endif
    for (int i = 0; i < Height(r); ++i) {
        auto* d = reinterpret_cast<T*>(At(dst_bits, dst_row + i, dst_x, dst_stride, sizeof(T)));
        auto* s =
            reinterpret_cast<const T*>(At(src_bits, r.top + i, r.left, src_stride, sizeof(T)));
        int x = 0;
#if VIMBRA_X86_SIMD
        if (vector16) {
            const int even = GreyPositionOf(p->phase, i, 0), odd = GreyPositionOf(p->phase, i, 1);
            const int32_t gain[2] = {v.gain[even], v.gain[odd]};
            const int32_t offset[2] = {v.offset[even], v.offset[odd]};
            x = GreyRow16Avx2(reinterpret_cast<uint16_t*>(d), reinterpret_cast<const uint16_t*>(s),
                              w, gain, offset, max_value);
        }
#endif
        for (; x < w; ++x) {
            const int c = GreyPositionOf(p->phase, i, x);
            d[x] = static_cast<T>(Apply(s[x], v.gain[c], v.offset[c], max_value));
        }
    }
    return 1;
}

template <class T>
void SumClasses(const uint8_t* src_bits, const Rect& r, int src_stride, int phase, int max_value,
                int64_t sums[4], int64_t counts[4]) {
    const int w = Width(r);
    for (int i = 0; i < Height(r); ++i) {
        auto* s =
            reinterpret_cast<const T*>(At(src_bits, r.top + i, r.left, src_stride, sizeof(T)));
        ParitySums row_sums;
        if constexpr (sizeof(T) == 1) {
            AddParitySums8(s, w, max_value, row_sums);
        } else {
            AddParitySums16(s, w, max_value, row_sums);
        }
        for (int parity = 0; parity < 2; ++parity) {
            const int c = GreyPositionOf(phase, i, parity);
            sums[c] += static_cast<int64_t>(row_sums.sum[parity]);
            counts[c] += static_cast<int64_t>(row_sums.nonzero[parity]);
        }
    }
}

}  // namespace

GreyPosition GreyPositionOf(int phase, int row, int column) {
    const int row_class = (row + (phase == 1 || phase == 3 ? 1 : 0)) & 1;
    const int column_class = (column + (phase == 2 || phase == 3 ? 1 : 0)) & 1;
    static constexpr GreyPosition kClasses[2][2] = {{kGreyG1, kGreyR}, {kGreyB, kGreyG2}};
    return kClasses[row_class][column_class];
}

int32_t GreyMaxValue(int32_t bit_depth) {
    switch (bit_depth) {
        case 8:
            return 255;
        case 10:
            return 1023;
        case 12:
            return 4095;
        case 14:
            return 16383;
        default:
            return 65535;
    }
}

int GreyFilter8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                void** param1, void** param2) {
    (void)param2;
    return GreyFilter<uint8_t>(dst_bits, src_bits, src_rect, dst_x, dst_row, dst_bpp, src_bpp,
                               dst_stride, src_stride, param1);
}

int GreyFilter16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                 int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                 void** param1, void** param2) {
    (void)param2;
    return GreyFilter<uint16_t>(dst_bits, src_bits, src_rect, dst_x, dst_row, dst_bpp, src_bpp,
                                dst_stride, src_stride, param1);
}

int MeasureGrey(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                void** param1, void** param2) {
    (void)dst_bits;
    (void)dst_x;
    (void)dst_row;
    (void)dst_bpp;
    (void)dst_stride;
    (void)param2;
    GreyParams* p = Param<GreyParams>(param1);
    if (p == nullptr) return 1;
    const bool eight = p->bit_depth == 8;
    if (src_bpp != (eight ? 1 : 2)) return 1;
    int64_t sums[4] = {0, 0, 0, 0};
    int64_t counts[4] = {0, 0, 0, 0};
    const int max_value = GreyMaxValue(p->bit_depth);
    if (eight) {
        SumClasses<uint8_t>(src_bits, src_rect, src_stride, p->phase, max_value, sums, counts);
    } else {
        SumClasses<uint16_t>(src_bits, src_rect, src_stride, p->phase, max_value, sums, counts);
    }
    for (int c = 0; c < 4; ++c) {
        if (counts[c] == 0) return 1;
    }
    double means[4];
    for (int c = 0; c < 4; ++c)
        means[c] = static_cast<double>(sums[c]) / static_cast<double>(counts[c]);
    const double h =
        std::max(std::max(means[kGreyR], means[kGreyG1]), std::max(means[kGreyG2], means[kGreyB]));
    auto gain = [h](double mean) { return static_cast<int32_t>(h / mean * 128); };
    p->gain_r = gain(means[kGreyR]);
    p->gain_g1 = gain(means[kGreyG1]);
    p->gain_g2 = gain(means[kGreyG2]);
    p->gain_b = gain(means[kGreyB]);
    return 1;
}

}  // namespace vimbra
