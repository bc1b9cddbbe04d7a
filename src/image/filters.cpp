#include "image/filters.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

#include "image/filters_internal.h"

namespace vimbra {

namespace {

using pixel::At;
using pixel::Height;
using pixel::Param;
using pixel::Width;

int ClampDepth(int32_t depth) {
    return std::clamp<int32_t>(depth, 8, 16);
}

// Converts a computed level to a sample: truncation toward zero, clamped to
// 0..max_value; anything that is not a number below 0 becomes 0.
int ClampTrunc(double x, int max_value) {
    if (!(x > 0.0)) return 0;
    if (x >= max_value) return max_value;
    return static_cast<int>(x);
}

// ---------------------------------------------------------------------------
// Lookup tables of the tone filters.

void BrightnessTable8(int32_t value, uint8_t* lut) {
    const float factor = BrightnessFactor(value);
    for (int i = 0; i < 256; ++i) {
        lut[i] = static_cast<uint8_t>(ClampTrunc(static_cast<float>(i) * factor, 255));
    }
}

void BrightnessTable16(int32_t value, int max_value, uint16_t* lut) {
    const float factor = BrightnessFactor(value);
    for (int i = 0; i < 65536; ++i) {
        lut[i] = static_cast<uint16_t>(ClampTrunc(static_cast<float>(i) * factor, max_value));
    }
}

void ContrastTable8(int32_t value, uint8_t* lut) {
    // 64 bits, so that 255 - c and 256 - 2c hold for any value.
    const int64_t c = value;
    for (int i = 0; i < 256; ++i) {
        if (i < c) {
            lut[i] = 0;
        } else if (i > 255 - c) {
            lut[i] = 255;
        } else {
            lut[i] = static_cast<uint8_t>(ClampTrunc(256.0 / (256 - 2 * c) * (i - c), 255));
        }
    }
}

void ContrastTable16(int32_t value, int depth, uint16_t* lut) {
    const int64_t n = int64_t{1} << depth;
    const int64_t c = int64_t{value} * (int64_t{1} << (depth - 8));
    const int max_value = static_cast<int>(n - 1);
    for (int64_t i = 0; i < n; ++i) {
        int out;
        if (c > n / 2 - 1) {
            out = 0;
        } else if (i < c) {
            out = 0;
        } else if (i > n - c - 1) {
            out = max_value;
        } else {
            out = ClampTrunc(static_cast<double>(n) / static_cast<double>(n - 2 * c) *
                                 static_cast<double>(i - c),
                             max_value);
        }
        lut[i] = static_cast<uint16_t>(out);
    }
    std::fill(lut + n, lut + 65536, static_cast<uint16_t>(max_value));
}

void GammaTable8(double exponent, uint8_t* lut) {
    for (int i = 0; i < 256; ++i) {
        lut[i] = static_cast<uint8_t>(ClampTrunc(std::pow(i / 255.0, exponent) * 255.0, 255));
    }
}

void GammaTable16(double exponent, int depth, uint16_t* lut) {
    const int n = 1 << depth;
    for (int i = 0; i < n; ++i) {
        lut[i] = static_cast<uint16_t>(ClampTrunc(
            std::pow(static_cast<double>(i) / static_cast<double>(n), exponent) * (n - 1), n - 1));
    }
    std::fill(lut + n, lut + 65536, lut[n - 1]);
}

// ---------------------------------------------------------------------------
// Applying a table.

#if VIMBRA_X86_SIMD
// Looks up n bytes in a 256-entry table, 64 at a time, with two two-register
// byte permutes; `write` selects the bytes of each 64 that are stored.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void Lut8Avx512(uint8_t* d, const uint8_t* s,
                                                                       size_t n, const uint8_t* lut,
                                                                       uint64_t write) {
    const __m512i t0 = _mm512_loadu_si512(lut);
    const __m512i t1 = _mm512_loadu_si512(lut + 64);
    const __m512i t2 = _mm512_loadu_si512(lut + 128);
    const __m512i t3 = _mm512_loadu_si512(lut + 192);
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i x = _mm512_loadu_si512(s + i);
        const __m512i lo = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i hi = _mm512_permutex2var_epi8(t2, x, t3);
        const __m512i y = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), lo, hi);
        _mm512_mask_storeu_epi8(d + i, write, y);
    }
    if (i < n) {
        const __mmask64 tail = (~uint64_t{0}) >> (64 - (n - i));
        const __m512i x = _mm512_maskz_loadu_epi8(tail, s + i);
        const __m512i lo = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i hi = _mm512_permutex2var_epi8(t2, x, t3);
        const __m512i y = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), lo, hi);
        _mm512_mask_storeu_epi8(d + i, tail & write, y);
    }
}
// Looks up n bytes, 32 at a time; with `keep_fourth` the fourth byte of
// every four keeps the destination's value. Returns the number done.
__attribute__((target("avx2"))) size_t Lut8Avx2(uint8_t* d, const uint8_t* s, size_t n,
                                                const uint8_t* lut, bool keep_fourth) {
    pixel::ByteTableAvx2 t;
    pixel::LoadByteTableAvx2(lut, t);
    const __m256i keep = _mm256_set1_epi32(keep_fourth ? static_cast<int>(0xFF000000u) : 0);
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i y =
            pixel::LookUpBytesAvx2(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i)), t);
        if (keep_fourth) {
            y = _mm256_blendv_epi8(y, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i)),
                                   keep);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), y);
    }
    return i;
}
#endif

#if VIMBRA_NEON_SIMD
// Looks up n bytes, 16 at a time; with `keep_fourth` the fourth byte of
// every four keeps the destination's value. Returns the number done.
size_t Lut8Neon(uint8_t* d, const uint8_t* s, size_t n, const uint8_t* lut, bool keep_fourth) {
    pixel::ByteTableNeon t;
    pixel::LoadByteTableNeon(lut, t);
    const uint8x16_t keep = vreinterpretq_u8_u32(vdupq_n_u32(keep_fourth ? 0xFF000000u : 0));
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        uint8x16_t y = pixel::LookUpBytesNeon(vld1q_u8(s + i), t);
        if (keep_fourth) y = vbslq_u8(keep, vld1q_u8(d + i), y);
        vst1q_u8(d + i, y);
    }
    return i;
}
#endif

// One row of `width` pixels: `channels` samples of each pixel through the
// table, the rest of the pixel untouched.
void Lut8Row(uint8_t* d, const uint8_t* s, int width, int dst_bpp, int src_bpp, int channels,
             const uint8_t* lut) {
    if (dst_bpp == src_bpp && (dst_bpp == channels || (dst_bpp == 4 && channels == 3))) {
        const size_t n = static_cast<size_t>(width) * dst_bpp;
#if VIMBRA_X86_SIMD
        if (simd::Avx512()) {
            Lut8Avx512(d, s, n, lut, dst_bpp == 4 ? 0x7777777777777777ULL : ~uint64_t{0});
            return;
        }
        if (simd::Avx2()) {
            const bool keep = dst_bpp == 4;
            for (size_t i = Lut8Avx2(d, s, n, lut, keep); i < n; ++i) {
                if (!keep || (i & 3) != 3) d[i] = lut[s[i]];
            }
            return;
        }
#endif
#if VIMBRA_NEON_SIMD
        if (simd::Neon()) {
            const bool keep = dst_bpp == 4;
            for (size_t i = Lut8Neon(d, s, n, lut, keep); i < n; ++i) {
                if (!keep || (i & 3) != 3) d[i] = lut[s[i]];
            }
            return;
        }
#endif
        if (dst_bpp == channels) {
            for (size_t i = 0; i < n; ++i) d[i] = lut[s[i]];
            return;
        }
    }
    for (int x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) d[c] = lut[s[c]];
        d += dst_bpp;
        s += src_bpp;
    }
}

#if VIMBRA_X86_SIMD
// The low halves of the lanes of a vector, packed. A permute and a plain
// store are much faster here than the narrowing store the compiler would
// otherwise make of a truncating conversion.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m256i LowWords(__m512i v) {
    const __m512i idx =
        _mm512_setr_epi32(0x00020000, 0x00060004, 0x000A0008, 0x000E000C, 0x00120010, 0x00160014,
                          0x001A0018, 0x001E001C, 0, 0, 0, 0, 0, 0, 0, 0);
    return _mm512_castsi512_si256(_mm512_permutexvar_epi16(idx, v));
}
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) inline __m256i LowBytes(__m512i v) {
    const __m512i idx =
        _mm512_setr_epi32(0x06040200, 0x0E0C0A08, 0x16141210, 0x1E1C1A18, 0x26242220, 0x2E2C2A28,
                          0x36343230, 0x3E3C3A38, 0, 0, 0, 0, 0, 0, 0, 0);
    return _mm512_castsi512_si256(_mm512_permutexvar_epi8(idx, v));
}
#endif

// Plain loads from the table: they beat a gather of 32-bit words on both
// vector paths (measured on full frames).
void Lut16Row(uint8_t* d8, const uint8_t* s8, int width, int dst_bpp, int src_bpp, int channels,
              const uint16_t* lut) {
    auto* d = reinterpret_cast<uint16_t*>(d8);
    auto* s = reinterpret_cast<const uint16_t*>(s8);
    const int dstep = dst_bpp / 2;
    const int sstep = src_bpp / 2;
    if (dstep == channels && sstep == channels) {
        const int n = width * channels;
        for (int i = 0; i < n; ++i) d[i] = lut[s[i]];
        return;
    }
    for (int x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) d[c] = lut[s[c]];
        d += dstep;
        s += sstep;
    }
}

void ApplyLut8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
               int dst_bpp, int src_bpp, int dst_stride, int src_stride, int channels,
               const uint8_t* lut) {
    const int w = Width(r);
    pixel::SplitRows(Height(r), [&](int begin, int end) {
        for (int i = begin; i < end; ++i) {
            Lut8Row(At(dst_bits, dst_row + i, dst_x, dst_stride, dst_bpp),
                    At(src_bits, r.top + i, r.left, src_stride, src_bpp), w, dst_bpp, src_bpp,
                    channels, lut);
        }
    });
}

void ApplyLut16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
                int dst_bpp, int src_bpp, int dst_stride, int src_stride, int channels,
                const uint16_t* lut) {
    const int w = Width(r);
    pixel::SplitRows(Height(r), [&](int begin, int end) {
        for (int i = begin; i < end; ++i) {
            Lut16Row(At(dst_bits, dst_row + i, dst_x, dst_stride, dst_bpp),
                     At(src_bits, r.top + i, r.left, src_stride, src_bpp), w, dst_bpp, src_bpp,
                     channels, lut);
        }
    });
}

// Checks the pixel sizes a variant can work with.
bool SizesFit(int dst_bpp, int src_bpp, int sample_bytes, int channels) {
    return dst_bpp >= sample_bytes * channels && src_bpp >= sample_bytes * channels &&
           dst_bpp % sample_bytes == 0 && src_bpp % sample_bytes == 0;
}

// The table of a 16-bit filter: from the workspace when there is one, else
// from `local`.
uint16_t* Table16(void** param2, std::vector<uint16_t>& local) {
    if (auto* ws = Param<FilterWorkspace>(param2)) return ws->table16();
    local.resize(kToneTable16Size);
    return local.data();
}

enum class Tone { kBrightness, kContrast, kGamma };

template <Tone kTone>
int Tone8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
          uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void** param1,
          int channels, bool clamp_exponent) {
    const ToneParams* p = Param<ToneParams>(param1);
    if (p == nullptr || !SizesFit(dst_bpp, src_bpp, 1, channels)) return 0;
    alignas(64) uint8_t lut[256];
    if constexpr (kTone == Tone::kBrightness) {
        BuildToneTable8(ToneKind::kBrightness, p->value, lut);
    } else if constexpr (kTone == Tone::kContrast) {
        BuildToneTable8(ToneKind::kContrast, p->value, lut);
    } else {
        BuildToneTable8(clamp_exponent ? ToneKind::kGammaColour8 : ToneKind::kGamma, p->value, lut);
    }
    ApplyLut8(dst_bits, src_bits, r, dst_x, dst_row, dst_bpp, src_bpp, dst_stride, src_stride,
              channels, lut);
    return 1;
}

template <Tone kTone>
int Tone16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
           uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void** param1,
           void** param2, int channels) {
    const ToneParams* p = Param<ToneParams>(param1);
    if (p == nullptr || !SizesFit(dst_bpp, src_bpp, 2, channels)) return 0;
    std::vector<uint16_t> local;
    uint16_t* lut = Table16(param2, local);
    constexpr ToneKind kind = kTone == Tone::kBrightness ? ToneKind::kBrightness
                              : kTone == Tone::kContrast ? ToneKind::kContrast
                                                         : ToneKind::kGamma;
    BuildToneTable16(kind, p->value, p->bit_depth, lut);
    ApplyLut16(dst_bits, src_bits, r, dst_x, dst_row, dst_bpp, src_bpp, dst_stride, src_stride,
               channels, lut);
    return 1;
}

// ---------------------------------------------------------------------------
// Sharpness.

// Column sums of the four source rows y-2..y+1 over n samples.
template <class T, class Sum>
void ColumnSums(const T* const rows[4], int n, int from, Sum* sums) {
    for (int j = from; j < n; ++j) {
        sums[j] = static_cast<Sum>(rows[0][j] + rows[1][j] + rows[2][j] + rows[3][j]);
    }
}

// Brightness applied to the sharpened samples as they are written, computed
// exactly as its table would be.
struct Brighten {
    bool on = false;
    float factor = 1.0f;
};

// Output samples j = from .. last-1 of one row of the unsharp mask, from the
// column sums and the unfiltered row `s`; the fourth sample of pixels with
// four samples is left as it is.
template <class T, class Sum, int kStep>
void SharpenSpan(T* d, const T* s, const Sum* sums, int from, int last, int value, int max_value,
                 const T* post, Brighten bright = {}) {
    for (int j = from; j < last; ++j) {
        const int box = static_cast<int>(sums[j - 2 * kStep]) + static_cast<int>(sums[j - kStep]) +
                        static_cast<int>(sums[j]) + static_cast<int>(sums[j + kStep]);
        const int sample = s[j];
        const int diff = sample - (box >> 4);
        int out = sample + value * diff / 10;
        out = out < 0 ? 0 : (out > max_value ? max_value : out);
        if constexpr (kStep == 4) {
            if ((j & 3) == 3) continue;
        }
        if (bright.on) out = ClampTrunc(static_cast<float>(out) * bright.factor, max_value);
        d[j] = post != nullptr ? post[out] : static_cast<T>(out);
    }
}

#if VIMBRA_X86_SIMD
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i Widen8(const uint8_t* q) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
}
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i Widen16(const uint16_t* q) {
    return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
}
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i LoadAt(const void* q) {
    return _mm512_loadu_si512(q);
}

// 8-bit samples, 32 at a time in 16-bit lanes. The division by 10 is the
// exact truncating one of 16-bit integers: (hi(t * 26215) >> 2) - (t >> 15).
// Returns the first sample left to the scalar code.
template <int kStep>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) int SharpenRow8Avx512(
    uint8_t* d, const uint8_t* const rows[4], int width, int value, uint16_t* sums,
    const uint8_t* post) {
    const int n = width * kStep;
    int j = 0;
    const auto widen = Widen8;
    for (; j + 32 <= n; j += 32) {
        const __m512i v =
            _mm512_add_epi16(_mm512_add_epi16(widen(rows[0] + j), widen(rows[1] + j)),
                             _mm512_add_epi16(widen(rows[2] + j), widen(rows[3] + j)));
        _mm512_storeu_si512(sums + j, v);
    }
    ColumnSums<uint8_t, uint16_t>(rows, n, j, sums);
    const int first = 2 * kStep;
    const int last = (width - 2) * kStep;
    const __m512i vvalue = _mm512_set1_epi16(static_cast<int16_t>(value));
    const __m512i magic = _mm512_set1_epi16(26215);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i top = _mm512_set1_epi16(255);
    const __mmask32 write = kStep == 4 ? 0x77777777u : 0xFFFFFFFFu;
    // The table that follows, as four quarters for two-register byte permutes.
    __m512i t0 = zero, t1 = zero, t2 = zero, t3 = zero;
    if (post != nullptr) {
        t0 = _mm512_loadu_si512(post);
        t1 = _mm512_loadu_si512(post + 64);
        t2 = _mm512_loadu_si512(post + 128);
        t3 = _mm512_loadu_si512(post + 192);
    }
    j = first;
    for (; j + 32 <= last; j += 32) {
        const __m512i box = _mm512_add_epi16(
            _mm512_add_epi16(LoadAt(sums + j + (-2 * kStep)), LoadAt(sums + j + (-kStep))),
            _mm512_add_epi16(LoadAt(sums + j + (0)), LoadAt(sums + j + (kStep))));
        const __m512i sample = widen(rows[2] + j);
        const __m512i t =
            _mm512_mullo_epi16(_mm512_sub_epi16(sample, _mm512_srli_epi16(box, 4)), vvalue);
        const __m512i q = _mm512_sub_epi16(_mm512_srai_epi16(_mm512_mulhi_epi16(t, magic), 2),
                                           _mm512_srai_epi16(t, 15));
        const __m512i out =
            _mm512_min_epi16(_mm512_max_epi16(_mm512_add_epi16(sample, q), zero), top);
        __m256i bytes = LowBytes(out);
        if (post != nullptr) {
            const __m512i x = _mm512_castsi256_si512(bytes);
            const __m512i lo = _mm512_permutex2var_epi8(t0, x, t1);
            const __m512i hi = _mm512_permutex2var_epi8(t2, x, t3);
            bytes = _mm512_castsi512_si256(_mm512_mask_blend_epi8(_mm512_movepi8_mask(x), lo, hi));
        }
        _mm256_mask_storeu_epi8(d + j, write, bytes);
    }
    return j;
}

// 16-bit samples, 16 at a time in 32-bit lanes; the division by 10 goes
// through single precision, exact for |t| < 2^24 (a quotient that is not a
// whole number lies at least 0.1 from one, far more than its rounding).
template <int kStep>
__attribute__((target("avx512f,avx512bw,avx512vl"))) int SharpenRow16Avx512(
    uint16_t* d, const uint16_t* const rows[4], int width, int value, int max_value, uint32_t* sums,
    const uint16_t* post, Brighten bright) {
    const int n = width * kStep;
    int j = 0;
    const auto widen = Widen16;
    for (; j + 16 <= n; j += 16) {
        const __m512i v =
            _mm512_add_epi32(_mm512_add_epi32(widen(rows[0] + j), widen(rows[1] + j)),
                             _mm512_add_epi32(widen(rows[2] + j), widen(rows[3] + j)));
        _mm512_storeu_si512(sums + j, v);
    }
    ColumnSums<uint16_t, uint32_t>(rows, n, j, sums);
    const int first = 2 * kStep;
    const int last = (width - 2) * kStep;
    const __m512i vvalue = _mm512_set1_epi32(value);
    const __m512 ten = _mm512_set1_ps(10.0f);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i top = _mm512_set1_epi32(max_value);
    const __mmask16 write = kStep == 4 ? 0x7777 : 0xFFFF;
    j = first;
    for (; j + 16 <= last; j += 16) {
        const __m512i box = _mm512_add_epi32(
            _mm512_add_epi32(LoadAt(sums + j + (-2 * kStep)), LoadAt(sums + j + (-kStep))),
            _mm512_add_epi32(LoadAt(sums + j + (0)), LoadAt(sums + j + (kStep))));
        const __m512i sample = widen(rows[2] + j);
        const __m512i t =
            _mm512_mullo_epi32(_mm512_sub_epi32(sample, _mm512_srli_epi32(box, 4)), vvalue);
        const __m512i q = _mm512_cvttps_epi32(_mm512_div_ps(_mm512_cvtepi32_ps(t), ten));
        const __m512i out =
            _mm512_min_epi32(_mm512_max_epi32(_mm512_add_epi32(sample, q), zero), top);
        __m512i result = out;
        if (bright.on) {
            // trunc(out * factor) in single precision, held at 0..max_value;
            // held at max_value before the conversion, which turns a product
            // beyond int into 0x80000000 (0 after the lower limit).
            const __m512 scaled =
                _mm512_min_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(out), _mm512_set1_ps(bright.factor)),
                              _mm512_set1_ps(static_cast<float>(max_value)));
            result = _mm512_min_epi32(_mm512_max_epi32(_mm512_cvttps_epi32(scaled), zero), top);
        }
        // The table has a spare entry, so the 32-bit gather may read past the last.
        if (post != nullptr) result = _mm512_i32gather_epi32(result, post, 2);
        _mm256_mask_storeu_epi16(d + j, write, LowWords(result));
    }
    return j;
}

__attribute__((target("avx2"))) inline __m256i LoadAvx2(const void* q) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(q));
}
__attribute__((target("avx2"))) inline __m256i Widen8Avx2(const uint8_t* q) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}
__attribute__((target("avx2"))) inline __m256i Widen16Avx2(const uint16_t* q) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}

// The AVX2 twin of SharpenRow8Avx512: sixteen samples per register, two
// registers (32 samples) per step so that the table lookup works on whole
// registers of bytes.
template <int kStep>
__attribute__((target("avx2"))) int SharpenRow8Avx2(uint8_t* d, const uint8_t* const rows[4],
                                                    int width, int value, uint16_t* sums,
                                                    const uint8_t* post) {
    const int n = width * kStep;
    int j = 0;
    for (; j + 16 <= n; j += 16) {
        const __m256i v =
            _mm256_add_epi16(_mm256_add_epi16(Widen8Avx2(rows[0] + j), Widen8Avx2(rows[1] + j)),
                             _mm256_add_epi16(Widen8Avx2(rows[2] + j), Widen8Avx2(rows[3] + j)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + j), v);
    }
    ColumnSums<uint8_t, uint16_t>(rows, n, j, sums);
    const int last = (width - 2) * kStep;
    const __m256i vvalue = _mm256_set1_epi16(static_cast<int16_t>(value));
    const __m256i magic = _mm256_set1_epi16(26215);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi16(255);
    const __m256i keep = _mm256_set1_epi32(kStep == 4 ? static_cast<int>(0xFF000000u) : 0);
    pixel::ByteTableAvx2 t;
    if (post != nullptr) pixel::LoadByteTableAvx2(post, t);
    auto half = [&](int at) __attribute__((target("avx2"))) {
        const __m256i box = _mm256_add_epi16(
            _mm256_add_epi16(LoadAvx2(sums + at - 2 * kStep), LoadAvx2(sums + at - kStep)),
            _mm256_add_epi16(LoadAvx2(sums + at), LoadAvx2(sums + at + kStep)));
        const __m256i sample = Widen8Avx2(rows[2] + at);
        const __m256i tv =
            _mm256_mullo_epi16(_mm256_sub_epi16(sample, _mm256_srli_epi16(box, 4)), vvalue);
        const __m256i q = _mm256_sub_epi16(_mm256_srai_epi16(_mm256_mulhi_epi16(tv, magic), 2),
                                           _mm256_srai_epi16(tv, 15));
        return _mm256_min_epi16(_mm256_max_epi16(_mm256_add_epi16(sample, q), zero), top);
    };
    for (j = 2 * kStep; j + 32 <= last; j += 32) {
        __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(half(j), half(j + 16)), 0xD8);
        if (post != nullptr) bytes = pixel::LookUpBytesAvx2(bytes, t);
        if constexpr (kStep == 4) bytes = _mm256_blendv_epi8(bytes, LoadAvx2(d + j), keep);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + j), bytes);
    }
    return j;
}

// The AVX2 twin of SharpenRow16Avx512: eight samples per register, sixteen
// per step.
template <int kStep>
__attribute__((target("avx2"))) int SharpenRow16Avx2(uint16_t* d, const uint16_t* const rows[4],
                                                     int width, int value, int max_value,
                                                     uint32_t* sums, const uint16_t* post,
                                                     Brighten bright) {
    const int n = width * kStep;
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m256i v =
            _mm256_add_epi32(_mm256_add_epi32(Widen16Avx2(rows[0] + j), Widen16Avx2(rows[1] + j)),
                             _mm256_add_epi32(Widen16Avx2(rows[2] + j), Widen16Avx2(rows[3] + j)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + j), v);
    }
    ColumnSums<uint16_t, uint32_t>(rows, n, j, sums);
    const int last = (width - 2) * kStep;
    const __m256i vvalue = _mm256_set1_epi32(value);
    const __m256 ten = _mm256_set1_ps(10.0f);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i top = _mm256_set1_epi32(max_value);
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const auto* table = reinterpret_cast<const int*>(post);
    auto part = [&](int at) __attribute__((target("avx2"))) {
        const __m256i box = _mm256_add_epi32(
            _mm256_add_epi32(LoadAvx2(sums + at - 2 * kStep), LoadAvx2(sums + at - kStep)),
            _mm256_add_epi32(LoadAvx2(sums + at), LoadAvx2(sums + at + kStep)));
        const __m256i sample = Widen16Avx2(rows[2] + at);
        const __m256i tv =
            _mm256_mullo_epi32(_mm256_sub_epi32(sample, _mm256_srli_epi32(box, 4)), vvalue);
        const __m256i q = _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(tv), ten));
        __m256i out = _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(sample, q), zero), top);
        if (bright.on) {
            // As in SharpenRow16Avx512: held at max_value before the conversion.
            const __m256 scaled =
                _mm256_min_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(out), _mm256_set1_ps(bright.factor)),
                              _mm256_set1_ps(static_cast<float>(max_value)));
            out = _mm256_min_epi32(_mm256_max_epi32(_mm256_cvttps_epi32(scaled), zero), top);
        }
        if (post != nullptr) out = _mm256_and_si256(_mm256_i32gather_epi32(table, out, 2), low);
        return out;
    };
    for (j = 2 * kStep; j + 16 <= last; j += 16) {
        __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(part(j), part(j + 8)), 0xD8);
        if constexpr (kStep == 4) words = _mm256_blend_epi16(words, LoadAvx2(d + j), 0x88);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + j), words);
    }
    return j;
}
#endif

#if VIMBRA_NEON_SIMD
// SharpenRow8Avx2 on NEON: eight samples per register, sixteen per step. The
// division by 10 is the same exact one: (t * 26215) >> 18, formed as the
// doubling high product shifted by 3, minus t >> 15; the saturating narrow
// to bytes is the clamp to 0..255.
template <int kStep>
int SharpenRow8Neon(uint8_t* d, const uint8_t* const rows[4], int width, int value, uint16_t* sums,
                    const uint8_t* post) {
    const int n = width * kStep;
    int j = 0;
    for (; j + 16 <= n; j += 16) {
        uint8x16_t r[4];
        for (int k = 0; k < 4; ++k) r[k] = vld1q_u8(rows[k] + j);
        vst1q_u16(sums + j, vaddq_u16(vaddl_u8(vget_low_u8(r[0]), vget_low_u8(r[1])),
                                      vaddl_u8(vget_low_u8(r[2]), vget_low_u8(r[3]))));
        vst1q_u16(sums + j + 8, vaddq_u16(vaddl_high_u8(r[0], r[1]), vaddl_high_u8(r[2], r[3])));
    }
    ColumnSums<uint8_t, uint16_t>(rows, n, j, sums);
    const int last = (width - 2) * kStep;
    const int16x8_t vvalue = vdupq_n_s16(static_cast<int16_t>(value));
    const int16x8_t magic = vdupq_n_s16(26215);
    const uint8x16_t keep = vreinterpretq_u8_u32(vdupq_n_u32(kStep == 4 ? 0xFF000000u : 0));
    pixel::ByteTableNeon t;
    if (post != nullptr) pixel::LoadByteTableNeon(post, t);
    auto half = [&](int at) {
        const uint16x8_t box =
            vaddq_u16(vaddq_u16(vld1q_u16(sums + at - 2 * kStep), vld1q_u16(sums + at - kStep)),
                      vaddq_u16(vld1q_u16(sums + at), vld1q_u16(sums + at + kStep)));
        const int16x8_t sample = vreinterpretq_s16_u16(vmovl_u8(vld1_u8(rows[2] + at)));
        const int16x8_t tv =
            vmulq_s16(vsubq_s16(sample, vreinterpretq_s16_u16(vshrq_n_u16(box, 4))), vvalue);
        const int16x8_t q = vsubq_s16(vshrq_n_s16(vqdmulhq_s16(tv, magic), 3), vshrq_n_s16(tv, 15));
        return vqmovun_s16(vaddq_s16(sample, q));
    };
    for (j = 2 * kStep; j + 16 <= last; j += 16) {
        uint8x16_t bytes = vcombine_u8(half(j), half(j + 8));
        if (post != nullptr) bytes = pixel::LookUpBytesNeon(bytes, t);
        if constexpr (kStep == 4) bytes = vbslq_u8(keep, vld1q_u8(d + j), bytes);
        vst1q_u8(d + j, bytes);
    }
    return j;
}
#endif

// One output row: `rows` are the source rows y-2..y+1, `d` row y of the
// destination; own32 / own16 are this caller's row sum buffers.
template <class T, int kStep>
void SharpenOneRow(T* d, const T* const rows[4], int w, int value, int max_value, uint32_t* own32,
                   uint16_t* own16, const T* post, Brighten bright) {
    const int last = (w - 2) * kStep;
    // The first sample the vector kernel of the path in use left, or -1.
    int j = -1;
#if VIMBRA_X86_SIMD
    if constexpr (sizeof(T) == 1) {
        if (simd::Avx512())
            j = SharpenRow8Avx512<kStep>(d, rows, w, value, own16, post);
        else if (simd::Avx2())
            j = SharpenRow8Avx2<kStep>(d, rows, w, value, own16, post);
    } else {
        if (simd::Avx512()) {
            j = SharpenRow16Avx512<kStep>(d, rows, w, value, max_value, own32, post, bright);
        } else if (simd::Avx2()) {
            j = SharpenRow16Avx2<kStep>(d, rows, w, value, max_value, own32, post, bright);
        }
    }
#endif
#if VIMBRA_NEON_SIMD
    if constexpr (sizeof(T) == 1) {
        if (simd::Neon()) j = SharpenRow8Neon<kStep>(d, rows, w, value, own16, post);
    }
#endif
    if (j >= 0) {
        if constexpr (sizeof(T) == 1) {
            SharpenSpan<T, uint16_t, kStep>(d, rows[2], own16, j, last, value, max_value, post);
        } else {
            SharpenSpan<T, uint32_t, kStep>(d, rows[2], own32, j, last, value, max_value, post,
                                            bright);
        }
        return;
    }
    (void)own16;
    ColumnSums<T, uint32_t>(rows, w * kStep, 0, own32);
    SharpenSpan<T, uint32_t, kStep>(d, rows[2], own32, 2 * kStep, last, value, max_value, post,
                                    bright);
}

template <class T, class Sum, int kStep>
void SharpenRect(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
                 int dst_stride, int src_stride, int value, int max_value, uint32_t* sums32,
                 uint16_t* sums16, const T* post, int threads, Brighten bright) {
    constexpr int bpp = static_cast<int>(sizeof(T)) * kStep;
    const int w = Width(r);
    const int h = Height(r);
    // Each block of rows being worked on takes a stretch of the row sum
    // buffers that no other running block has.
    pixel::ScratchSlots slots(threads);
    const size_t count = static_cast<size_t>(w) * kStep;
    pixel::SplitRowsOver(threads, h - 4, [&](int begin, int end) {
        const int slot = slots.Acquire();
        uint32_t* own32 = sums32 + static_cast<size_t>(slot) * count;
        uint16_t* own16 = sums16 + static_cast<size_t>(slot) * count;
        for (int y = begin + 2; y < end + 2; ++y) {
            const T* rows[4];
            for (int k = 0; k < 4; ++k) {
                rows[k] = reinterpret_cast<const T*>(
                    At(src_bits, r.top + y - 2 + k, r.left, src_stride, bpp));
            }
            auto* d = reinterpret_cast<T*>(At(dst_bits, dst_row + y, dst_x, dst_stride, bpp));
            SharpenOneRow<T, kStep>(d, rows, w, value, max_value, own32, own16, post, bright);
        }
        slots.Release(slot);
    });
}

// The copy into the work image fused with the sharpness filter (see
// SharpenFrameFromCopy). The output rows 2..h-3 are cut into ranges; before
// anything is filtered, the rows that two ranges need are copied: around
// every start of a range (and the end of the last) the two rows before it
// (filtered by the range before, needed unfiltered by this one) and the first
// row (needed unfiltered by the range before), and the two outer rows at each
// end. Each range then copies its other rows, each just before it is needed,
// and no row is touched by two threads.
// `copy_row(row)` makes row `row` of the work image from the frame.
template <class T, int kStep, class CopyRow>
void SharpenCopyRect(uint8_t* frame, uint8_t* work, int w, int h, int stride, int value,
                     int max_value, uint32_t* sums32, uint16_t* sums16, const T* post, int threads,
                     Brighten bright, const CopyRow& copy_row) {
    constexpr int bpp = static_cast<int>(sizeof(T)) * kStep;
    const int outputs = h - 4;
    // Ranges: one on one thread, else enough for the pool to share out. The
    // pool hands a thread no fewer than kMinRowsPerPart items, so a fixed 32
    // ranges kept the filter on two threads whatever the thread count.
    const int ranges = threads <= 1 || outputs < 4 * RowPool::kMinRowsPerPart
                           ? 1
                           : RowPool::kMinRowsPerPart * std::max(2, threads);
    auto start = [&](int i) { return 2 + static_cast<int>(int64_t{outputs} * i / ranges); };
    // The rows come in increasing order with repeats (ranges share rows and
    // may be empty); each is made once, as making it may change the frame.
    int made = -1;
    auto once = [&](int row) {
        if (row > made) copy_row(row);
        made = std::max(made, row);
    };
    once(0);
    once(1);
    for (int i = 0; i <= ranges; ++i) {
        for (int row = start(i) - 2; row <= start(i); ++row) once(row);
    }
    once(h - 2);
    once(h - 1);
    pixel::ScratchSlots slots(threads);
    const size_t count = static_cast<size_t>(w) * kStep;
    pixel::SplitRowsOver(threads, ranges, [&](int begin, int end) {
        const int slot = slots.Acquire();
        uint32_t* own32 = sums32 + static_cast<size_t>(slot) * count;
        uint16_t* own16 = sums16 + static_cast<size_t>(slot) * count;
        for (int i = begin; i < end; ++i) {
            const int first = start(i), stop = start(i + 1);
            for (int y = first; y < stop; ++y) {
                // Rows stop - 2 .. stop were copied first (other ranges read them).
                if (y + 1 < stop - 2) copy_row(y + 1);
                const T* rows[4];
                for (int k = 0; k < 4; ++k) {
                    rows[k] = reinterpret_cast<const T*>(At(work, y - 2 + k, 0, stride, bpp));
                }
                auto* d = reinterpret_cast<T*>(At(frame, y, 0, stride, bpp));
                SharpenOneRow<T, kStep>(d, rows, w, value, max_value, own32, own16, post, bright);
            }
        }
        slots.Release(slot);
    });
}

template <class T>
int Sharpen(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
            uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, const ToneParams* p,
            void** param2, bool colour, const T* post, Brighten bright = {}) {
    if (p == nullptr) return 0;
    const int step = dst_bpp / static_cast<int>(sizeof(T));
    if (dst_bpp != src_bpp || step * static_cast<int>(sizeof(T)) != dst_bpp ||
        (colour ? (step != 3 && step != 4) : step != 1)) {
        return 0;
    }
    const int w = Width(r);
    const int h = Height(r);
    if (w <= 4 || h <= 4) return 1;
    const int value = std::clamp<int32_t>(p->value, 0, 30);
    const int max_value = sizeof(T) == 1 ? 255 : (1 << ClampDepth(p->bit_depth)) - 1;
    // One stretch of row sums per part of the split.
    const int threads = pixel::RowThreads();
    const size_t count = static_cast<size_t>(w) * step * static_cast<size_t>(threads);
    std::vector<uint32_t> local32;
    std::vector<uint16_t> local16;
    uint32_t* sums32;
    uint16_t* sums16;
    if (auto* ws = Param<FilterWorkspace>(param2)) {
        sums32 = ws->row_sums(count);
        sums16 = ws->row_sums16(count);
    } else {
        local32.resize(count);
        local16.resize(count);
        sums32 = local32.data();
        sums16 = local16.data();
    }
    switch (step) {
        case 1:
            SharpenRect<T, uint32_t, 1>(dst_bits, src_bits, r, dst_x, dst_row, dst_stride,
                                        src_stride, value, max_value, sums32, sums16, post, threads,
                                        bright);
            break;
        case 3:
            SharpenRect<T, uint32_t, 3>(dst_bits, src_bits, r, dst_x, dst_row, dst_stride,
                                        src_stride, value, max_value, sums32, sums16, post, threads,
                                        bright);
            break;
        default:
            SharpenRect<T, uint32_t, 4>(dst_bits, src_bits, r, dst_x, dst_row, dst_stride,
                                        src_stride, value, max_value, sums32, sums16, post, threads,
                                        bright);
            break;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Hue and saturation.

// 0xFF0000 / k: the reciprocal of a chroma on a 16-bit fixed-point scale.
constexpr std::array<int32_t, 256> kReciprocal = [] {
    std::array<int32_t, 256> q{};
    for (int k = 1; k < 256; ++k) q[k] = 0xFF0000 / k;
    return q;
}();

// Per sector of the hue circle: the channels that are full and the packed
// increment of the channel that rises or falls.
constexpr int32_t kSectorMask[6] = {0xFF00FF, 0xFF0000, 0xFFFF00, 0xFF00, 0xFFFF, 0xFF};
constexpr int32_t kSectorStep[6] = {-1, 256, -65536, 1, -256, 65536};

struct HueSatConstants {
    int32_t saturation_scale;  // (saturation + 256) * 256
    int32_t offset_in_sector;  // hue offset mod 255
    int32_t offset_sectors;    // hue offset / 255
};

HueSatConstants MakeHueSat(const HueSatParams& p) {
    const int32_t offset = HueOffset(p.hue);
    return {(std::clamp<int32_t>(p.saturation, -255, 255) + 256) * 256, offset % 255, offset / 255};
}

// One pixel: returns 0x00RRGGBB.
inline int32_t HueSatPixel(int b, int g, int r, const HueSatConstants& k) {
    int hi, lo, base, num;
    if (r >= g) {
        hi = r;
        lo = g;
        base = 1;
        num = g - b;
    } else {
        hi = g;
        lo = r;
        base = 3;
        num = b - r;
    }
    int max;
    if (b > hi) {
        max = b;
        base = 5;
        num = r - g;
    } else {
        max = hi;
    }
    const int min = std::min(b, lo);
    const int d = max - min;
    const int sum = max + min;
    if (num < 0) {
        base -= 1;
        num += d;
    }
    const int limit = sum < 256 ? sum : 511 - sum;
    const int scaled = (k.saturation_scale * d + 0x8000) >> 16;
    const int chroma = std::min(limit, scaled);
    const int new_min = (sum - chroma) >> 1;
    const int span = ((sum + chroma) >> 1) - new_min;
    int32_t out = 0x010101 * new_min;
    if (d > 0) {
        int frac = ((num * kReciprocal[d] + 0x8000) >> 16) + k.offset_in_sector;
        int sector = base + k.offset_sectors;
        if (frac >= 255) {
            frac -= 255;
            sector += 1;
        }
        sector %= 6;
        out += ((0x010101 * span) & kSectorMask[sector]) +
               ((span * frac + 128) >> 8) * kSectorStep[sector];
    }
    return out;
}

#if VIMBRA_X86_SIMD
// (n * (0xFF0000 / d) + 0x8000) >> 16 in 32-bit lanes (0 <= n <= d <= 255):
// the quotient of single-precision numbers below 2^24 is rounded too little
// to cross a whole number, so truncating it is exact, and n times it stays at
// or below 0xFF0000. Lanes with d = 0 have n = 0 and give 0.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i HueSatFraction(__m512i n,
                                                                                   __m512i d) {
    const __m512i q =
        _mm512_cvttps_epi32(_mm512_div_ps(_mm512_set1_ps(16711680.0f), _mm512_cvtepi32_ps(d)));
    return _mm512_srli_epi32(_mm512_add_epi32(_mm512_mullo_epi32(n, q), _mm512_set1_epi32(0x8000)),
                             16);
}

// One channel in word lanes: the level, plus the span in the sectors (bits
// of `bit`) where the channel is full, plus `moving` where it moves.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i HueSatChannel(
    __m512i new_min, __m512i span, __m512i moving, __m512i bit, int full, int moves) {
    const __m512i v = _mm512_mask_add_epi16(
        new_min, _mm512_test_epi16_mask(bit, _mm512_set1_epi16(static_cast<int16_t>(full))),
        new_min, span);
    return _mm512_mask_add_epi16(
        v, _mm512_test_epi16_mask(bit, _mm512_set1_epi16(static_cast<int16_t>(moves))), v, moving);
}

// Thirty-two pixels at once in 16-bit lanes (channels 0..255), lane for lane
// the arithmetic of HueSatPixel; the results come back one channel per
// register. Every intermediate fits a word but the reciprocal product, which
// is formed in 32-bit halves.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline void HueSat32Words(
    __m512i b, __m512i g, __m512i r, __m512i sat_plus_256, __m512i off_in, __m512i off_sec,
    __m512i& out_b, __m512i& out_g, __m512i& out_r) {
    const __m512i one = _mm512_set1_epi16(1);
    const __mmask32 r_ge_g = _mm512_cmpge_epu16_mask(r, g);
    const __m512i hi = _mm512_max_epu16(r, g);
    const __m512i lo = _mm512_min_epu16(r, g);
    __m512i base = _mm512_mask_blend_epi16(r_ge_g, _mm512_set1_epi16(3), one);
    __m512i num = _mm512_mask_blend_epi16(r_ge_g, _mm512_sub_epi16(b, r), _mm512_sub_epi16(g, b));
    const __mmask32 b_gt = _mm512_cmpgt_epu16_mask(b, hi);
    const __m512i max = _mm512_max_epu16(b, hi);
    base = _mm512_mask_blend_epi16(b_gt, base, _mm512_set1_epi16(5));
    num = _mm512_mask_blend_epi16(b_gt, num, _mm512_sub_epi16(r, g));
    const __m512i min = _mm512_min_epu16(b, lo);
    const __m512i d = _mm512_sub_epi16(max, min);
    const __m512i sum = _mm512_add_epi16(max, min);
    const __mmask32 neg = _mm512_cmplt_epi16_mask(num, _mm512_setzero_si512());
    base = _mm512_mask_sub_epi16(base, neg, base, one);
    num = _mm512_mask_add_epi16(num, neg, num, d);
    const __m512i limit = _mm512_min_epi16(sum, _mm512_sub_epi16(_mm512_set1_epi16(511), sum));
    // (s * d + 128) >> 8 with s = saturation + 256 (1..511) is the rounded
    // high half of (d << 7) * s >> 15, and d << 7 stays below 2^15.
    const __m512i scaled = _mm512_mulhrs_epi16(_mm512_slli_epi16(d, 7), sat_plus_256);
    const __m512i chroma = _mm512_min_epi16(limit, scaled);
    const __m512i new_min = _mm512_srli_epi16(_mm512_sub_epi16(sum, chroma), 1);
    const __m512i span =
        _mm512_sub_epi16(_mm512_srli_epi16(_mm512_add_epi16(sum, chroma), 1), new_min);
    // (num * (0xFF0000 / d) + 0x8000) >> 16 for the even and the odd words.
    const __m512i low = _mm512_set1_epi32(0xFFFF);
    const __m512i even = HueSatFraction(_mm512_and_si512(num, low), _mm512_and_si512(d, low));
    const __m512i odd = HueSatFraction(_mm512_srli_epi32(num, 16), _mm512_srli_epi32(d, 16));
    __m512i frac = _mm512_add_epi16(_mm512_or_si512(even, _mm512_slli_epi32(odd, 16)), off_in);
    __m512i sector = _mm512_add_epi16(base, off_sec);
    const __m512i c255 = _mm512_set1_epi16(255);
    const __mmask32 wrap = _mm512_cmpge_epu16_mask(frac, c255);
    frac = _mm512_mask_sub_epi16(frac, wrap, frac, c255);
    sector = _mm512_mask_add_epi16(sector, wrap, sector, one);
    const __m512i six = _mm512_set1_epi16(6);
    sector = _mm512_mask_sub_epi16(sector, _mm512_cmpge_epu16_mask(sector, six), sector, six);
    // span (the chroma, 0..255) times frac (0..254) plus 128 fits an unsigned
    // word; grey lanes have span 0 and so add nothing below.
    const __m512i rise = _mm512_srli_epi16(
        _mm512_add_epi16(_mm512_mullo_epi16(span, frac), _mm512_set1_epi16(128)), 8);
    // The channel that moves rises by `rise` in the odd sectors and falls
    // from full by it in the even ones.
    const __m512i moving = _mm512_mask_blend_epi16(_mm512_test_epi16_mask(sector, one),
                                                   _mm512_sub_epi16(span, rise), rise);
    const __m512i bit = _mm512_sllv_epi16(one, sector);
    // Sectors (as bits) in which a channel is full, and in which it moves.
    out_b = HueSatChannel(new_min, span, moving, bit, 0x30, 0x09);
    out_g = HueSatChannel(new_min, span, moving, bit, 0x0C, 0x12);
    out_r = HueSatChannel(new_min, span, moving, bit, 0x03, 0x24);
}

// Byte shuffles that take 32 pixels (in two registers) apart into one
// channel per word and put them back together; made once per call.
struct HueSatShuffles8 {
    alignas(64) uint8_t in[3][64];   // channel c of pixel i -> byte 2i
    alignas(64) uint8_t out[2][64];  // output byte k (of 128) <- blue|green or red word

    explicit HueSatShuffles8(int step) {
        std::memset(this, 0, sizeof(*this));
        for (int i = 0; i < 32; ++i) {
            for (int c = 0; c < 3; ++c) in[c][2 * i] = static_cast<uint8_t>(step * i + c);
        }
        // Output byte k is channel k % step of pixel k / step: blue and green
        // are bytes 2i and 2i + 1 of the first register, red byte 2i of the
        // second (index 64 + 2i).
        for (int k = 0; k < 128; ++k) {
            const int i = k / step, c = k % step;
            const int from = c == 0 ? 2 * i : c == 1 ? 2 * i + 1 : c == 2 ? 64 + 2 * i : 0;
            out[k / 64][k % 64] = static_cast<uint8_t>(i < 32 ? from : 0);
        }
    }
};

// Each byte looked up in a table of 256 bytes held in four registers.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) inline __m512i LookUpBytes(
    __m512i v, __m512i t0, __m512i t1, __m512i t2, __m512i t3) {
    const __m512i lo = _mm512_permutex2var_epi8(t0, v, t1);
    const __m512i hi = _mm512_permutex2var_epi8(t2, v, t3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), lo, hi);
}

// One row of 24 or 32-bit pixels, thirty-two at a time; returns the number
// of pixels done, the rest is left to the scalar loop.
template <int kStep>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) int HueSatRow8Avx512(
    uint8_t* d, const uint8_t* s, int width, const HueSatConstants& k, const HueSatShuffles8& sh,
    const uint8_t* post) {
    __m512i t0 = _mm512_setzero_si512(), t1 = t0, t2 = t0, t3 = t0;
    if (post != nullptr) {
        t0 = _mm512_loadu_si512(post);
        t1 = _mm512_loadu_si512(post + 64);
        t2 = _mm512_loadu_si512(post + 128);
        t3 = _mm512_loadu_si512(post + 192);
    }
    const __m512i sat_scale =
        _mm512_set1_epi16(static_cast<int16_t>(k.saturation_scale >> 8));  // saturation + 256
    const __m512i off_in = _mm512_set1_epi16(static_cast<int16_t>(k.offset_in_sector));
    const __m512i off_sec = _mm512_set1_epi16(static_cast<int16_t>(k.offset_sectors));
    const __m512i ib = _mm512_load_si512(sh.in[0]);
    const __m512i ig = _mm512_load_si512(sh.in[1]);
    const __m512i ir = _mm512_load_si512(sh.in[2]);
    const __m512i io0 = _mm512_load_si512(sh.out[0]);
    const __m512i io1 = _mm512_load_si512(sh.out[1]);
    constexpr __mmask64 kEven = 0x5555555555555555ULL;
    constexpr __mmask64 kSecond = kStep == 3 ? 0xFFFFFFFFULL : ~uint64_t{0};
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t* p = s + x * kStep;
        const __m512i v0 = _mm512_loadu_si512(p);
        const __m512i v1 = _mm512_maskz_loadu_epi8(kSecond, p + 64);
        __m512i ob, og, orr;
        HueSat32Words(_mm512_maskz_permutex2var_epi8(kEven, v0, ib, v1),
                      _mm512_maskz_permutex2var_epi8(kEven, v0, ig, v1),
                      _mm512_maskz_permutex2var_epi8(kEven, v0, ir, v1), sat_scale, off_in, off_sec,
                      ob, og, orr);
        const __m512i bg = _mm512_or_si512(ob, _mm512_slli_epi16(og, 8));
        __m512i first = _mm512_permutex2var_epi8(bg, io0, orr);
        __m512i second = _mm512_permutex2var_epi8(bg, io1, orr);
        if (post != nullptr) {
            first = LookUpBytes(first, t0, t1, t2, t3);
            second = LookUpBytes(second, t0, t1, t2, t3);
        }
        uint8_t* q = d + x * kStep;
        if constexpr (kStep == 3) {
            // Exactly 96 bytes, so that no store overlaps the next load.
            _mm512_storeu_si512(q, first);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + 64), _mm512_castsi512_si256(second));
        } else {
            _mm512_mask_storeu_epi8(q, 0x7777777777777777ULL, first);
            _mm512_mask_storeu_epi8(q + 64, 0x7777777777777777ULL, second);
        }
    }
    return x;
}

// Word shuffles that take 32 pixels of 16-bit samples (in up to four
// registers) apart into one channel per word, and byte shuffles that put the
// 8-bit results back in sample order; made once per call.
struct HueSatShuffles16 {
    alignas(64) uint16_t in[3][32];  // sample c of pixel i, within its pair of registers
    alignas(64) uint8_t out[4][64];  // output word k (of 128) <- blue|green or red word
    __mmask32 upper[3];              // pixels whose sample c is in the second pair

    explicit HueSatShuffles16(int step) {
        std::memset(this, 0, sizeof(*this));
        for (int c = 0; c < 3; ++c) {
            for (int i = 0; i < 32; ++i) {
                const int at = step * i + c;
                in[c][i] = static_cast<uint16_t>(at & 63);
                if (at >= 64) upper[c] |= __mmask32{1} << i;
            }
        }
        // Output word k is sample k % step of pixel k / step: its low byte is
        // byte 2i (blue) or 2i + 1 (green) of the first register or byte 2i
        // of the second (red, index 64 + 2i); the high byte is cleared.
        for (int k = 0; k < 32 * step; ++k) {
            const int i = k / step, c = k % step;
            const int from = c == 0 ? 2 * i : c == 1 ? 2 * i + 1 : c == 2 ? 64 + 2 * i : 0;
            out[k / 32][2 * (k % 32)] = static_cast<uint8_t>(from);
        }
    }
};

// One channel of 32 pixels of 16-bit samples from four registers, reduced by
// the shift count and held at 255, one per word.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i Channel32Words(
    __m512i v0, __m512i v1, __m512i v2, __m512i v3, __m512i idx, __mmask32 upper, __m128i count) {
    const __m512i picked = _mm512_mask_blend_epi16(upper, _mm512_permutex2var_epi16(v0, idx, v1),
                                                   _mm512_permutex2var_epi16(v2, idx, v3));
    return _mm512_min_epu16(_mm512_srl_epi16(picked, count), _mm512_set1_epi16(255));
}

// Looks up each word lane (0..255) in a table of 256 words held in eight
// registers: four two-register permutes on the low six bits, then bits 6 and
// 7 choose among them.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i LookUpWords256(
    __m512i idx, const __m512i t[8]) {
    const __m512i q0 = _mm512_permutex2var_epi16(t[0], idx, t[1]);
    const __m512i q1 = _mm512_permutex2var_epi16(t[2], idx, t[3]);
    const __m512i q2 = _mm512_permutex2var_epi16(t[4], idx, t[5]);
    const __m512i q3 = _mm512_permutex2var_epi16(t[6], idx, t[7]);
    const __mmask32 bit6 = _mm512_test_epi16_mask(idx, _mm512_set1_epi16(64));
    const __mmask32 bit7 = _mm512_test_epi16_mask(idx, _mm512_set1_epi16(128));
    return _mm512_mask_blend_epi16(bit7, _mm512_mask_blend_epi16(bit6, q0, q1),
                                   _mm512_mask_blend_epi16(bit6, q2, q3));
}

// One row of 48 or 64-bit pixels, thirty-two at a time: samples reduced by
// `shift` (and held at 255), results widened back.
template <int kStep>
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) int HueSatRow16Avx512(
    uint16_t* d, const uint16_t* s, int width, const HueSatConstants& k, const HueSatShuffles16& sh,
    int shift, const uint16_t* post256) {
    // post256: the table that follows, by 8-bit result (entry v is the
    // table's entry for v << shift), or null.
    __m512i t[8];
    for (int i = 0; i < 8; ++i) {
        t[i] = post256 != nullptr ? _mm512_loadu_si512(post256 + 32 * i) : _mm512_setzero_si512();
    }
    const __m512i sat_scale =
        _mm512_set1_epi16(static_cast<int16_t>(k.saturation_scale >> 8));  // saturation + 256
    const __m512i off_in = _mm512_set1_epi16(static_cast<int16_t>(k.offset_in_sector));
    const __m512i off_sec = _mm512_set1_epi16(static_cast<int16_t>(k.offset_sectors));
    const __m512i ib = _mm512_load_si512(sh.in[0]);
    const __m512i ig = _mm512_load_si512(sh.in[1]);
    const __m512i ir = _mm512_load_si512(sh.in[2]);
    __m512i io[kStep];
    for (int j = 0; j < kStep; ++j) io[j] = _mm512_load_si512(sh.out[j]);
    const __m128i count = _mm_cvtsi32_si128(shift);
    constexpr __mmask64 kEven = 0x5555555555555555ULL;
    constexpr __mmask32 kWrite = kStep == 3 ? 0xFFFFFFFFu : 0x77777777u;
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint16_t* p = s + x * kStep;
        const __m512i v0 = _mm512_loadu_si512(p);
        const __m512i v1 = _mm512_loadu_si512(p + 32);
        const __m512i v2 = _mm512_loadu_si512(p + 64);
        const __m512i v3 = kStep == 4 ? _mm512_loadu_si512(p + 96) : _mm512_setzero_si512();
        __m512i ob, og, orr;
        HueSat32Words(Channel32Words(v0, v1, v2, v3, ib, sh.upper[0], count),
                      Channel32Words(v0, v1, v2, v3, ig, sh.upper[1], count),
                      Channel32Words(v0, v1, v2, v3, ir, sh.upper[2], count), sat_scale, off_in,
                      off_sec, ob, og, orr);
        const __m512i bg = _mm512_or_si512(ob, _mm512_slli_epi16(og, 8));
        uint16_t* q = d + x * kStep;
        for (int j = 0; j < kStep; ++j) {
            __m512i out = _mm512_maskz_permutex2var_epi8(kEven, bg, io[j], orr);
            out = post256 != nullptr ? LookUpWords256(out, t) : _mm512_sll_epi16(out, count);
            _mm512_mask_storeu_epi16(q + 32 * j, kWrite, out);
        }
    }
    return x;
}

// The constants of the AVX2 kernels for one call, each 16-byte pattern
// repeated in both halves of a register so that a byte shuffle or blend can
// take it straight from memory.
struct HueSatTablesAvx2 {
    // By case code (see HueSat16Words), for blue, green and red: 0xFF where
    // the channel gets the whole span, and 1 / -1 / 0 where it then gains the
    // rise, loses it or neither.
    alignas(32) int8_t full[3][32];
    alignas(32) int8_t slope[3][32];
    // Pixels of three samples of `size` bytes come in three chunks of 16
    // bytes per group of 16 / size pixels; every position of a chunk holds
    // the same channel in exactly one of the three. Channel c's samples are
    // picked from the chunks by two blends (top bit set: take chunk 1, then
    // chunk 2) and reordered to blue's pixel order by a byte shuffle;
    // results go back the other way.
    alignas(32) uint8_t take[3][2][32];
    alignas(32) uint8_t to_blue_order[3][32];
    alignas(32) uint8_t from_blue_order[3][32];
    alignas(32) uint8_t give[3][2][32];  // output chunk j: take plane 1, then plane 2
    // Pixels of four bytes: each four pixels to b0..b3 g0..g3 r0..r3 a0..a3.
    alignas(32) uint8_t split4[32];
    int16_t saturation;  // saturation + 256
    int16_t offset_in_sector;

    HueSatTablesAvx2(const HueSatConstants& k, int size) {
        std::memset(this, 0, sizeof(*this));
        saturation = static_cast<int16_t>(k.saturation_scale >> 8);
        offset_in_sector = static_cast<int16_t>(k.offset_in_sector);
        // Sectors (as bits) in which a channel is full, and in which it moves:
        // it rises in the odd ones and falls from full in the even ones.
        constexpr int kFull[3] = {0x30, 0x0C, 0x03};
        constexpr int kMoves[3] = {0x09, 0x12, 0x24};
        for (int code = 0; code < 16; ++code) {
            int base = (code & 2) != 0 ? 5 : (code & 1) != 0 ? 3 : 1;
            base -= (code >> 2) & 1;
            const int sector = (base + k.offset_sectors + ((code >> 3) & 1)) % 6;
            const int bit = 1 << sector;
            for (int c = 0; c < 3; ++c) {
                const bool moves = (kMoves[c] & bit) != 0, rises = (sector & 1) != 0;
                const int8_t f = (kFull[c] & bit) != 0 || (moves && !rises) ? -1 : 0;
                const int8_t s = moves ? (rises ? 1 : -1) : 0;
                full[c][code] = full[c][code + 16] = f;
                slope[c][code] = slope[c][code + 16] = s;
            }
        }
        const int n = 16 / size;  // samples per chunk, pixels per group
        int position[3][16] = {}, chunk[3][16] = {};
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < 3; ++c) {
                position[c][i] = (3 * i + c) % n;
                chunk[c][i] = (3 * i + c) / n;
            }
        }
        for (int half = 0; half < 32; half += 16) {
            for (int i = 0; i < n; ++i) {
                for (int c = 0; c < 3; ++c) {
                    const int j = chunk[c][i];
                    for (int b = 0; b < size; ++b) {
                        const int at = half + position[c][i] * size + b;
                        const int blue_at = position[0][i] * size + b;
                        const int own_at = position[c][i] * size + b;
                        if (j > 0) take[c][j - 1][at] = 0x80;
                        if (c > 0) give[j][c - 1][at] = 0x80;
                        to_blue_order[c][half + blue_at] = static_cast<uint8_t>(own_at);
                        from_blue_order[c][at] = static_cast<uint8_t>(blue_at);
                    }
                }
            }
            for (int q = 0; q < 16; ++q) {
                split4[half + q] = static_cast<uint8_t>(4 * (q % 4) + q / 4);
            }
        }
    }
};

__attribute__((target("avx2"))) inline __m256i Table32(const void* q) {
    return _mm256_load_si256(static_cast<const __m256i*>(q));
}

// (n * (0xFF0000 / d) + 0x8000) >> 16 for the sixteen word lanes, formed in
// 32-bit halves as HueSatFraction does; the odd lanes' result is left in
// place by clearing the low word instead of shifting down and back.
__attribute__((target("avx2"), always_inline)) inline __m256i HueSatFractionAvx2(__m256i n,
                                                                                 __m256i d) {
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const __m256i half = _mm256_set1_epi32(0x8000);
    const __m256 scale = _mm256_set1_ps(16711680.0f);
    auto quotient = [scale](__m256i v) __attribute__((target("avx2"))) {
        return _mm256_cvttps_epi32(_mm256_div_ps(scale, _mm256_cvtepi32_ps(v)));
    };
    const __m256i even = _mm256_srli_epi32(
        _mm256_add_epi32(
            _mm256_mullo_epi32(_mm256_and_si256(n, low), quotient(_mm256_and_si256(d, low))), half),
        16);
    const __m256i odd = _mm256_andnot_si256(
        low, _mm256_add_epi32(
                 _mm256_mullo_epi32(_mm256_srli_epi32(n, 16), quotient(_mm256_srli_epi32(d, 16))),
                 half));
    return _mm256_or_si256(even, odd);
}

// Sixteen pixels in 16-bit lanes (channels 0..255), lane for lane the
// arithmetic of HueSatPixel. The three comparisons that choose the sector
// and the wrap of the fraction make a four-bit case code per pixel (in both
// bytes of its word); byte shuffles of small tables turn it into what each
// channel gets, so the sector itself is never formed. The span equals the
// chroma: (sum + chroma) / 2 - (sum - chroma) / 2 rounded down is chroma
// whenever sum >= chroma.
__attribute__((target("avx2"), always_inline)) inline void HueSat16Words(
    __m256i b, __m256i g, __m256i r, const HueSatTablesAvx2& t, __m256i& out_b, __m256i& out_g,
    __m256i& out_r) {
    // Samples are 0..255, so signed word compares order them.
    const __m256i g_gt_r = _mm256_cmpgt_epi16(g, r);
    const __m256i hi = _mm256_max_epi16(r, g);
    const __m256i lo = _mm256_min_epi16(r, g);
    __m256i num = _mm256_blendv_epi8(_mm256_sub_epi16(g, b), _mm256_sub_epi16(b, r), g_gt_r);
    const __m256i b_gt = _mm256_cmpgt_epi16(b, hi);
    num = _mm256_blendv_epi8(num, _mm256_sub_epi16(r, g), b_gt);
    const __m256i max = _mm256_max_epi16(b, hi);
    const __m256i min = _mm256_min_epi16(b, lo);
    const __m256i d = _mm256_sub_epi16(max, min);
    const __m256i sum = _mm256_add_epi16(max, min);
    const __m256i neg = _mm256_srai_epi16(num, 15);
    num = _mm256_add_epi16(num, _mm256_and_si256(neg, d));
    const __m256i limit = _mm256_min_epi16(sum, _mm256_sub_epi16(_mm256_set1_epi16(511), sum));
    // (s * d + 128) >> 8 with s = saturation + 256 (1..511) is the rounded
    // high half of (d << 7) * s >> 15, and d << 7 stays below 2^15.
    const __m256i chroma = _mm256_min_epi16(
        limit, _mm256_mulhrs_epi16(_mm256_slli_epi16(d, 7), _mm256_set1_epi16(t.saturation)));
    const __m256i new_min = _mm256_srli_epi16(_mm256_sub_epi16(sum, chroma), 1);
    __m256i frac =
        _mm256_add_epi16(HueSatFractionAvx2(num, d), _mm256_set1_epi16(t.offset_in_sector));
    const __m256i wrap = _mm256_cmpgt_epi16(frac, _mm256_set1_epi16(254));
    frac = _mm256_sub_epi16(frac, _mm256_and_si256(wrap, _mm256_set1_epi16(255)));
    // (chroma * frac + 128) >> 8, the same rounded high half.
    const __m256i rise = _mm256_mulhrs_epi16(_mm256_slli_epi16(chroma, 7), frac);
    // Case code: bit 0 green above red, 1 blue above both, 2 fraction taken
    // from the far end, 3 wrapped into the next sector. Compare results are
    // 0 or -1 in every byte, so subtracting one sets bit 0.
    __m256i code = _mm256_sub_epi8(_mm256_and_si256(b_gt, _mm256_set1_epi8(2)), g_gt_r);
    code = _mm256_or_si256(code, _mm256_and_si256(neg, _mm256_set1_epi8(4)));
    code = _mm256_or_si256(code, _mm256_and_si256(wrap, _mm256_set1_epi8(8)));
    auto channel = [&](int c) __attribute__((target("avx2"))) {
        const __m256i full = _mm256_shuffle_epi8(Table32(t.full[c]), code);
        const __m256i slope = _mm256_shuffle_epi8(Table32(t.slope[c]), code);
        return _mm256_add_epi16(_mm256_add_epi16(new_min, _mm256_and_si256(full, chroma)),
                                _mm256_sign_epi16(rise, slope));
    };
    out_b = channel(0);
    out_g = channel(1);
    out_r = channel(2);
}

// Channel c's samples from the three chunks of pixels of three samples, in
// blue's pixel order.
__attribute__((target("avx2"), always_inline)) inline __m256i PickPlane3(const __m256i chunk[3],
                                                                         const HueSatTablesAvx2& t,
                                                                         int c) {
    const __m256i v =
        _mm256_blendv_epi8(_mm256_blendv_epi8(chunk[0], chunk[1], Table32(t.take[c][0])), chunk[2],
                           Table32(t.take[c][1]));
    return c == 0 ? v : _mm256_shuffle_epi8(v, Table32(t.to_blue_order[c]));
}

// The three chunks of pixels of three samples back from the planes (in
// blue's pixel order).
__attribute__((target("avx2"), always_inline)) inline void PutPlanes3(const __m256i plane[3],
                                                                      const HueSatTablesAvx2& t,
                                                                      __m256i chunk[3]) {
    const __m256i g = _mm256_shuffle_epi8(plane[1], Table32(t.from_blue_order[1]));
    const __m256i r = _mm256_shuffle_epi8(plane[2], Table32(t.from_blue_order[2]));
#pragma GCC unroll 4
    for (int j = 0; j < 3; ++j) {
        chunk[j] = _mm256_blendv_epi8(_mm256_blendv_epi8(plane[0], g, Table32(t.give[j][0])), r,
                                      Table32(t.give[j][1]));
    }
}

__attribute__((target("avx2"))) inline __m256i LoadHalves(const void* low, const void* high) {
    return _mm256_loadu2_m128i(static_cast<const __m128i*>(high), static_cast<const __m128i*>(low));
}
__attribute__((target("avx2"))) inline void StoreHalves(void* low, void* high, __m256i v) {
    _mm256_storeu2_m128i(static_cast<__m128i*>(high), static_cast<__m128i*>(low), v);
}

// One row of 24/32-bit pixels, thirty-two at a time: the low halves of the
// registers hold pixels 0..15, the high halves 16..31, one byte per sample
// until the arithmetic widens them to words. With `kInPlace` the fourth
// byte of 32-bit pixels is carried through from the source (it is the
// destination's); otherwise the destination's is blended back. Returns the
// number of pixels done.
template <int kStep, bool kInPlace>
__attribute__((target("avx2"))) int HueSatRow8Avx2(uint8_t* d, const uint8_t* s, int width,
                                                   const HueSatTablesAvx2& t,
                                                   const pixel::ByteTableAvx2* post) {
    constexpr int kGroup = 16 * kStep;  // bytes of sixteen pixels
    const __m256i zero = _mm256_setzero_si256();
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t* p = s + x * kStep;
        __m256i plane[3], alpha = zero;
        if constexpr (kStep == 3) {
            __m256i chunk[3];
#pragma GCC unroll 4
            for (int j = 0; j < 3; ++j) chunk[j] = LoadHalves(p + 16 * j, p + kGroup + 16 * j);
#pragma GCC unroll 4
            for (int c = 0; c < 3; ++c) plane[c] = PickPlane3(chunk, t, c);
        } else {
            __m256i c[4];
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) {
                c[j] = _mm256_shuffle_epi8(LoadHalves(p + 16 * j, p + kGroup + 16 * j),
                                           Table32(t.split4));
            }
            const __m256i bg_lo = _mm256_unpacklo_epi32(c[0], c[1]);
            const __m256i bg_hi = _mm256_unpacklo_epi32(c[2], c[3]);
            const __m256i ra_lo = _mm256_unpackhi_epi32(c[0], c[1]);
            const __m256i ra_hi = _mm256_unpackhi_epi32(c[2], c[3]);
            plane[0] = _mm256_unpacklo_epi64(bg_lo, bg_hi);
            plane[1] = _mm256_unpackhi_epi64(bg_lo, bg_hi);
            plane[2] = _mm256_unpacklo_epi64(ra_lo, ra_hi);
            if constexpr (kInPlace) alpha = _mm256_unpackhi_epi64(ra_lo, ra_hi);
        }
        __m256i lo[3], hi[3];
        HueSat16Words(_mm256_unpacklo_epi8(plane[0], zero), _mm256_unpacklo_epi8(plane[1], zero),
                      _mm256_unpacklo_epi8(plane[2], zero), t, lo[0], lo[1], lo[2]);
        HueSat16Words(_mm256_unpackhi_epi8(plane[0], zero), _mm256_unpackhi_epi8(plane[1], zero),
                      _mm256_unpackhi_epi8(plane[2], zero), t, hi[0], hi[1], hi[2]);
#pragma GCC unroll 4
        for (int c = 0; c < 3; ++c) {
            plane[c] = _mm256_packus_epi16(lo[c], hi[c]);
            if (post != nullptr) plane[c] = pixel::LookUpBytesAvx2(plane[c], *post);
        }
        uint8_t* q = d + x * kStep;
        if constexpr (kStep == 3) {
            __m256i chunk[3];
            PutPlanes3(plane, t, chunk);
#pragma GCC unroll 4
            for (int j = 0; j < 3; ++j) StoreHalves(q + 16 * j, q + kGroup + 16 * j, chunk[j]);
        } else {
            const __m256i bg_lo = _mm256_unpacklo_epi8(plane[0], plane[1]);
            const __m256i bg_hi = _mm256_unpackhi_epi8(plane[0], plane[1]);
            const __m256i ra_lo = _mm256_unpacklo_epi8(plane[2], alpha);
            const __m256i ra_hi = _mm256_unpackhi_epi8(plane[2], alpha);
            const __m256i out[4] = {
                _mm256_unpacklo_epi16(bg_lo, ra_lo), _mm256_unpackhi_epi16(bg_lo, ra_lo),
                _mm256_unpacklo_epi16(bg_hi, ra_hi), _mm256_unpackhi_epi16(bg_hi, ra_hi)};
            const __m256i keep = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) {
                __m256i v = out[j];
                if constexpr (!kInPlace) {
                    v = _mm256_blendv_epi8(v, LoadHalves(q + 16 * j, q + kGroup + 16 * j), keep);
                }
                StoreHalves(q + 16 * j, q + kGroup + 16 * j, v);
            }
        }
    }
    return x;
}

// One row of 48/64-bit pixels, sixteen at a time, samples reduced by
// `shift` and held at 255, results widened back and sent through `post`
// (indexed by the widened result). 48-bit pixels: the low halves of the
// registers hold pixels 0..7, the high halves 8..15; 64-bit pixels are
// taken apart by word interleaves, which put them in an order of their own
// that the same interleaves undo. The fourth sample of 64-bit pixels is
// handled as in HueSatRow8Avx2. Returns the number of pixels done.
template <int kStep, bool kInPlace>
__attribute__((target("avx2"))) int HueSatRow16Avx2(uint16_t* d, const uint16_t* s, int width,
                                                    const HueSatTablesAvx2& t, int shift,
                                                    const uint16_t* post) {
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m256i c255 = _mm256_set1_epi16(255);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const auto* table = reinterpret_cast<const int*>(post);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint16_t* p = s + x * kStep;
        __m256i plane[3], alpha = zero;
        if constexpr (kStep == 3) {
            __m256i chunk[3];
#pragma GCC unroll 4
            for (int j = 0; j < 3; ++j) chunk[j] = LoadHalves(p + 8 * j, p + 24 + 8 * j);
#pragma GCC unroll 4
            for (int c = 0; c < 3; ++c) plane[c] = PickPlane3(chunk, t, c);
        } else {
            __m256i v[4];
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) v[j] = LoadAvx2(p + 16 * j);
            const __m256i w0 = _mm256_unpacklo_epi16(v[0], v[1]);
            const __m256i w1 = _mm256_unpackhi_epi16(v[0], v[1]);
            const __m256i w2 = _mm256_unpacklo_epi16(v[2], v[3]);
            const __m256i w3 = _mm256_unpackhi_epi16(v[2], v[3]);
            const __m256i bg_lo = _mm256_unpacklo_epi16(w0, w1);
            const __m256i ra_lo = _mm256_unpackhi_epi16(w0, w1);
            const __m256i bg_hi = _mm256_unpacklo_epi16(w2, w3);
            const __m256i ra_hi = _mm256_unpackhi_epi16(w2, w3);
            plane[0] = _mm256_unpacklo_epi64(bg_lo, bg_hi);
            plane[1] = _mm256_unpackhi_epi64(bg_lo, bg_hi);
            plane[2] = _mm256_unpacklo_epi64(ra_lo, ra_hi);
            if constexpr (kInPlace) alpha = _mm256_unpackhi_epi64(ra_lo, ra_hi);
        }
#pragma GCC unroll 4
        for (int c = 0; c < 3; ++c)
            plane[c] = _mm256_min_epu16(_mm256_srl_epi16(plane[c], count), c255);
        __m256i outs[3];
        HueSat16Words(plane[0], plane[1], plane[2], t, outs[0], outs[1], outs[2]);
#pragma GCC unroll 4
        for (int c = 0; c < 3; ++c) {
            outs[c] = _mm256_sll_epi16(outs[c], count);
            if (post != nullptr) {
                // Two gathers of eight, packed back within each half.
                const __m256i lo = _mm256_and_si256(
                    _mm256_i32gather_epi32(table, _mm256_unpacklo_epi16(outs[c], zero), 2), low);
                const __m256i hi = _mm256_and_si256(
                    _mm256_i32gather_epi32(table, _mm256_unpackhi_epi16(outs[c], zero), 2), low);
                outs[c] = _mm256_packus_epi32(lo, hi);
            }
        }
        uint16_t* q = d + x * kStep;
        if constexpr (kStep == 3) {
            __m256i chunk[3];
            PutPlanes3(outs, t, chunk);
#pragma GCC unroll 4
            for (int j = 0; j < 3; ++j) StoreHalves(q + 8 * j, q + 24 + 8 * j, chunk[j]);
        } else {
            const __m256i bg_lo = _mm256_unpacklo_epi64(outs[0], outs[1]);
            const __m256i bg_hi = _mm256_unpackhi_epi64(outs[0], outs[1]);
            const __m256i ra_lo = _mm256_unpacklo_epi64(outs[2], alpha);
            const __m256i ra_hi = _mm256_unpackhi_epi64(outs[2], alpha);
            const __m256i w0 = _mm256_unpacklo_epi16(bg_lo, ra_lo);
            const __m256i w1 = _mm256_unpackhi_epi16(bg_lo, ra_lo);
            const __m256i w2 = _mm256_unpacklo_epi16(bg_hi, ra_hi);
            const __m256i w3 = _mm256_unpackhi_epi16(bg_hi, ra_hi);
            const __m256i out[4] = {_mm256_unpacklo_epi16(w0, w1), _mm256_unpackhi_epi16(w0, w1),
                                    _mm256_unpacklo_epi16(w2, w3), _mm256_unpackhi_epi16(w2, w3)};
#pragma GCC unroll 4
            for (int j = 0; j < 4; ++j) {
                __m256i v = out[j];
                if constexpr (!kInPlace) v = _mm256_blend_epi16(v, LoadAvx2(q + 16 * j), 0x88);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + 16 * j), v);
            }
        }
    }
    return x;
}
#endif

// Hue and saturation followed by an optional table, set up once for a layout
// of `step` samples per pixel and then run row by row.
template <class T>
class HueSatRows {
  public:
    HueSatRows(const HueSatParams& p, int step, const T* post)
        : k_(MakeHueSat(p)),
          step_(step),
          shift_(sizeof(T) == 1 ? 0 : ClampDepth(p.bit_depth) - 8),
          post_(post) {
#if VIMBRA_X86_SIMD
        vector_ = simd::Avx512();
        if (!vector_ && simd::Avx2()) {
            tables_avx2_.emplace(k_, static_cast<int>(sizeof(T)));
            if constexpr (sizeof(T) == 1) {
                if (post != nullptr) pixel::LoadByteTableAvx2(post, post_avx2_.emplace());
            }
        }
        if (vector_) {
            if constexpr (sizeof(T) == 1) {
                shuffles8_.emplace(step);
            } else {
                shuffles_.emplace(step);
            }
        }
        // 16-bit results have 8-bit precision: the table that follows reduced
        // to the 256 values they can take.
        if constexpr (sizeof(T) == 2) {
            if (post != nullptr) {
                for (int v = 0; v < 256; ++v) post256_[v] = post[v << shift_];
            }
        }
#endif
    }

    // `w` pixels of `s` into `d` (which may be `s`).
    void Row(T* d, const T* s, int w) const {
        const int step = step_;
        const int shift = shift_;
        const T* post = post_;
        int x = 0;
#if VIMBRA_X86_SIMD
        if (vector_) {
            if constexpr (sizeof(T) == 1) {
                x = step == 3 ? HueSatRow8Avx512<3>(d, s, w, k_, *shuffles8_, post)
                              : HueSatRow8Avx512<4>(d, s, w, k_, *shuffles8_, post);
            } else {
                const uint16_t* small = post != nullptr ? post256_ : nullptr;
                x = step == 3 ? HueSatRow16Avx512<3>(d, s, w, k_, *shuffles_, shift, small)
                              : HueSatRow16Avx512<4>(d, s, w, k_, *shuffles_, shift, small);
            }
        } else if (tables_avx2_) {
            x = d == s ? Avx2Row<true>(d, s, w) : Avx2Row<false>(d, s, w);
        }
#endif
        for (; x < w; ++x) {
            const T* sp = s + x * step;
            T* dp = d + x * step;
            const int b = std::min(sp[0] >> shift, 255);
            const int g = std::min(sp[1] >> shift, 255);
            const int rr = std::min(sp[2] >> shift, 255);
            const int32_t out = HueSatPixel(b, g, rr, k_);
            for (int c = 0; c < 3; ++c) {
                const int v = ((out >> (8 * c)) & 0xFF) << shift;
                dp[c] = post != nullptr ? post[v] : static_cast<T>(v);
            }
        }
    }

  private:
#if VIMBRA_X86_SIMD
    // The AVX2 kernel for this layout; returns the number of pixels done.
    template <bool kInPlace>
    int Avx2Row(T* d, const T* s, int w) const {
        const HueSatTablesAvx2& t = *tables_avx2_;
        if constexpr (sizeof(T) == 1) {
            const pixel::ByteTableAvx2* post = post_avx2_ ? &*post_avx2_ : nullptr;
            return step_ == 3 ? HueSatRow8Avx2<3, kInPlace>(d, s, w, t, post)
                              : HueSatRow8Avx2<4, kInPlace>(d, s, w, t, post);
        } else {
            return step_ == 3 ? HueSatRow16Avx2<3, kInPlace>(d, s, w, t, shift_, post_)
                              : HueSatRow16Avx2<4, kInPlace>(d, s, w, t, shift_, post_);
        }
    }
#endif

    HueSatConstants k_;
    int step_;
    int shift_;
    const T* post_;
#if VIMBRA_X86_SIMD
    bool vector_ = false;
    std::optional<HueSatShuffles16> shuffles_;
    std::optional<HueSatShuffles8> shuffles8_;
    std::optional<HueSatTablesAvx2> tables_avx2_;
    std::optional<pixel::ByteTableAvx2> post_avx2_;
    alignas(64) uint16_t post256_[256];
#endif
};

// The pixel layouts hue and saturation work on: colour pixels of three or
// four samples, the same in source and destination.
template <class T>
bool HueSatFits(uint16_t dst_bpp, uint16_t src_bpp) {
    const int step = dst_bpp / static_cast<int>(sizeof(T));
    return dst_bpp == src_bpp && step * static_cast<int>(sizeof(T)) == dst_bpp &&
           (step == 3 || step == 4);
}

template <class T>
int HueSat(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
           uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
           const HueSatParams* p, const T* post) {
    if (p == nullptr || !HueSatFits<T>(dst_bpp, src_bpp)) return 0;
    const HueSatRows<T> rows(*p, dst_bpp / static_cast<int>(sizeof(T)), post);
    const int w = Width(r);
    pixel::SplitRows(Height(r), [&](int begin, int end) {
        for (int i = begin; i < end; ++i) {
            rows.Row(
                reinterpret_cast<T*>(At(dst_bits, dst_row + i, dst_x, dst_stride, dst_bpp)),
                reinterpret_cast<const T*>(At(src_bits, r.top + i, r.left, src_stride, src_bpp)),
                w);
        }
    });
    return 1;
}

}  // namespace

FilterWorkspace::FilterWorkspace()
    : table16_(new uint16_t[kToneTable16Size]()), table16b_(new uint16_t[kToneTable16Size]()) {}
FilterWorkspace::~FilterWorkspace() = default;

uint32_t* FilterWorkspace::row_sums(size_t count) {
    if (count > row_sums_size_) {
        row_sums_.reset(new uint32_t[count]);
        row_sums_size_ = count;
    }
    return row_sums_.get();
}

uint16_t* FilterWorkspace::row_sums16(size_t count) {
    if (count > row_sums16_size_) {
        row_sums16_.reset(new uint16_t[count]);
        row_sums16_size_ = count;
    }
    return row_sums16_.get();
}

float BrightnessFactor(int32_t value) {
    double factor = 1.0;
    if (value > 0) {
        factor = 1.0 + value * 0.0392156862745098;
    } else if (value < 0) {
        factor = 1.0 - -static_cast<double>(value) * 0.00392156862745098;
    }
    return static_cast<float>(factor);
}

double GammaExponent(int32_t value) {
    if (value > 100) return (value - 100) / 10.0 + 1.0;
    return value / 100.0;
}

int32_t HueOffset(int32_t hue) {
    int64_t p = int64_t{hue} * 65536 / 360;
    p &= 0xFFFF;
    const int64_t q = (p * 6) >> 8;
    const int64_t k = ((q + 256) >> 9) % 3;
    int64_t r = q % 512;
    if (r >= 256) r -= 512;
    int64_t offset = r + 510 * k;
    if (offset < 0) offset += 1530;
    if (offset > 1529) offset -= 1530;
    return static_cast<int32_t>(offset);
}

#define VIMBRA_ROUTINE_ARGS                                                                   \
    uint8_t *dst_bits, const uint8_t *src_bits, const Rect &src_rect, int dst_x, int dst_row, \
        uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void **param1,    \
        void **param2
#define VIMBRA_TONE_ARGS \
    dst_bits, src_bits, src_rect, dst_x, dst_row, dst_bpp, src_bpp, dst_stride, src_stride, param1

int Brightness8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return Tone8<Tone::kBrightness>(VIMBRA_TONE_ARGS, 1, false);
}
int BrightnessColour8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return Tone8<Tone::kBrightness>(VIMBRA_TONE_ARGS, 3, false);
}
int Brightness16(VIMBRA_ROUTINE_ARGS) {
    return Tone16<Tone::kBrightness>(VIMBRA_TONE_ARGS, param2, 1);
}
int BrightnessColour16(VIMBRA_ROUTINE_ARGS) {
    return Tone16<Tone::kBrightness>(VIMBRA_TONE_ARGS, param2, 3);
}

int Contrast8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return Tone8<Tone::kContrast>(VIMBRA_TONE_ARGS, 1, false);
}
int ContrastColour8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return Tone8<Tone::kContrast>(VIMBRA_TONE_ARGS, 3, false);
}
int Contrast16(VIMBRA_ROUTINE_ARGS) {
    return Tone16<Tone::kContrast>(VIMBRA_TONE_ARGS, param2, 1);
}
int ContrastColour16(VIMBRA_ROUTINE_ARGS) {
    return Tone16<Tone::kContrast>(VIMBRA_TONE_ARGS, param2, 3);
}

int Gamma8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return Tone8<Tone::kGamma>(VIMBRA_TONE_ARGS, 1, false);
}
int GammaColour8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return Tone8<Tone::kGamma>(VIMBRA_TONE_ARGS, 3, true);
}
int Gamma16(VIMBRA_ROUTINE_ARGS) {
    return Tone16<Tone::kGamma>(VIMBRA_TONE_ARGS, param2, 1);
}
int GammaColour16(VIMBRA_ROUTINE_ARGS) {
    return Tone16<Tone::kGamma>(VIMBRA_TONE_ARGS, param2, 3);
}

#define VIMBRA_GEOMETRY_ARGS \
    dst_bits, src_bits, src_rect, dst_x, dst_row, dst_bpp, src_bpp, dst_stride, src_stride

int Sharpen8(VIMBRA_ROUTINE_ARGS) {
    return Sharpen<uint8_t>(VIMBRA_GEOMETRY_ARGS, Param<ToneParams>(param1), param2, false,
                            nullptr);
}
int SharpenColour8(VIMBRA_ROUTINE_ARGS) {
    return Sharpen<uint8_t>(VIMBRA_GEOMETRY_ARGS, Param<ToneParams>(param1), param2, true, nullptr);
}
int Sharpen16(VIMBRA_ROUTINE_ARGS) {
    return Sharpen<uint16_t>(VIMBRA_GEOMETRY_ARGS, Param<ToneParams>(param1), param2, false,
                             nullptr);
}
int SharpenColour16(VIMBRA_ROUTINE_ARGS) {
    return Sharpen<uint16_t>(VIMBRA_GEOMETRY_ARGS, Param<ToneParams>(param1), param2, true,
                             nullptr);
}

namespace {
template <class T>
int SharpenThenTable(VIMBRA_ROUTINE_ARGS, bool colour) {
    const SharpenTableParams* p = Param<SharpenTableParams>(param1);
    if (p == nullptr) return 0;
    const T* table;
    Brighten bright;
    if constexpr (sizeof(T) == 1) {
        table = p->table.table8;
    } else {
        table = p->table.table16;
        if (table == nullptr && p->brightness != 0) {
            bright.on = true;
            bright.factor = BrightnessFactor(p->brightness);
        }
    }
    if (table == nullptr && !bright.on) return 0;
    return Sharpen<T>(VIMBRA_GEOMETRY_ARGS, &p->sharpen, param2, colour, table, bright);
}

int ApplyTable(VIMBRA_ROUTINE_ARGS, bool wide, int channels) {
    (void)param2;
    const SampleTable* t = Param<SampleTable>(param1);
    if (t == nullptr || !SizesFit(dst_bpp, src_bpp, wide ? 2 : 1, channels)) return 0;
    if (wide) {
        if (t->table16 == nullptr) return 0;
        ApplyLut16(VIMBRA_GEOMETRY_ARGS, channels, t->table16);
    } else {
        if (t->table8 == nullptr) return 0;
        ApplyLut8(VIMBRA_GEOMETRY_ARGS, channels, t->table8);
    }
    return 1;
}
}  // namespace

int SharpenTable8(VIMBRA_ROUTINE_ARGS) {
    return SharpenThenTable<uint8_t>(VIMBRA_TONE_ARGS, param2, false);
}
int SharpenTableColour8(VIMBRA_ROUTINE_ARGS) {
    return SharpenThenTable<uint8_t>(VIMBRA_TONE_ARGS, param2, true);
}
int SharpenTable16(VIMBRA_ROUTINE_ARGS) {
    return SharpenThenTable<uint16_t>(VIMBRA_TONE_ARGS, param2, false);
}
int SharpenTableColour16(VIMBRA_ROUTINE_ARGS) {
    return SharpenThenTable<uint16_t>(VIMBRA_TONE_ARGS, param2, true);
}

int ApplyTable8(VIMBRA_ROUTINE_ARGS) {
    return ApplyTable(VIMBRA_TONE_ARGS, param2, false, 1);
}
int ApplyTableColour8(VIMBRA_ROUTINE_ARGS) {
    return ApplyTable(VIMBRA_TONE_ARGS, param2, false, 3);
}
int ApplyTable16(VIMBRA_ROUTINE_ARGS) {
    return ApplyTable(VIMBRA_TONE_ARGS, param2, true, 1);
}
int ApplyTableColour16(VIMBRA_ROUTINE_ARGS) {
    return ApplyTable(VIMBRA_TONE_ARGS, param2, true, 3);
}

void BuildToneTable8(ToneKind kind, int32_t value, uint8_t* table) {
    switch (kind) {
        case ToneKind::kBrightness:
            BrightnessTable8(value, table);
            break;
        case ToneKind::kContrast:
            ContrastTable8(value, table);
            break;
        case ToneKind::kGamma:
            GammaTable8(GammaExponent(value), table);
            break;
        case ToneKind::kGammaColour8:
            GammaTable8(std::clamp(GammaExponent(value), 0.001, 99.999), table);
            break;
    }
}

void BuildToneTable16(ToneKind kind, int32_t value, int32_t bit_depth, uint16_t* table) {
    const int depth = ClampDepth(bit_depth);
    switch (kind) {
        case ToneKind::kBrightness:
            BrightnessTable16(value, (1 << depth) - 1, table);
            break;
        case ToneKind::kContrast:
            ContrastTable16(value, depth, table);
            break;
        case ToneKind::kGamma:
        case ToneKind::kGammaColour8:
            GammaTable16(GammaExponent(value), depth, table);
            break;
    }
    table[65536] = table[65537] = table[65535];
}

int SharpenFrameFromCopy(uint8_t* frame, uint8_t* work, int width, int height, int stride,
                         int bytes_per_pixel, bool colour, const SharpenTableParams& params,
                         FilterWorkspace* workspace) {
    if (frame == nullptr || work == nullptr || width <= 0 || height <= 0) return 0;
    const bool wide =
        colour ? (bytes_per_pixel == 6 || bytes_per_pixel == 8) : bytes_per_pixel == 2;
    const int step = bytes_per_pixel / (wide ? 2 : 1);
    if (colour ? (step != 3 && step != 4) : step != 1) return 0;
    if (stride < width * bytes_per_pixel) return 0;
    const bool before = params.hue_sat != nullptr || params.before.table8 != nullptr ||
                        params.before.table16 != nullptr;
    if (width <= 4 || height <= 4) {
        if (before) return 0;
        // Nothing is filtered; the work image still gets its copy.
        std::memcpy(work, frame, static_cast<size_t>(stride) * static_cast<size_t>(height));
        return 1;
    }
    const int value = std::clamp<int32_t>(params.sharpen.value, 0, 30);
    const int max_value = wide ? (1 << ClampDepth(params.sharpen.bit_depth)) - 1 : 255;
    Brighten bright;
    if (wide && params.table.table16 == nullptr && params.brightness != 0) {
        bright.on = true;
        bright.factor = BrightnessFactor(params.brightness);
    }
    const int threads = pixel::RowThreads();
    const size_t count = static_cast<size_t>(width) * step * static_cast<size_t>(threads);
    std::vector<uint32_t> local32;
    std::vector<uint16_t> local16;
    uint32_t* sums32;
    uint16_t* sums16;
    if (workspace != nullptr) {
        sums32 = workspace->row_sums(count);
        sums16 = workspace->row_sums16(count);
    } else {
        local32.resize(count);
        local16.resize(count);
        sums32 = local32.data();
        sums16 = local16.data();
    }
    auto run = [&](auto sample, auto step_constant) {
        using T = decltype(sample);
        constexpr int kStep = decltype(step_constant)::value;
        const T* post;
        const T* post_before;
        if constexpr (sizeof(T) == 1) {
            post = params.table.table8;
            post_before = params.before.table8;
        } else {
            post = params.table.table16;
            post_before = params.before.table16;
        }
        auto row_of = [stride](uint8_t* bits, int row) {
            return bits + static_cast<ptrdiff_t>(row) * stride;
        };
        auto copy = [&](int row) {
            std::memcpy(row_of(work, row), row_of(frame, row), static_cast<size_t>(stride));
        };
        if ((params.hue_sat == nullptr || kStep == 1) && post_before == nullptr) {
            SharpenCopyRect<T, kStep>(frame, work, width, height, stride, value, max_value, sums32,
                                      sums16, post, threads, bright, copy);
            return;
        }
        // The work row is filtered in place after its copy; the frame takes
        // back the samples the sharpness filter does not write: whole outer
        // rows, the two outer pixels at each end of the others.
        constexpr size_t kPixel = sizeof(T) * kStep;
        std::optional<HueSatRows<T>> hue_sat;
        if constexpr (kStep != 1) {
            if (params.hue_sat != nullptr) hue_sat.emplace(*params.hue_sat, kStep, post_before);
        }
        auto prepare = [&](int row) {
            copy(row);
            uint8_t* wr = row_of(work, row);
            if (hue_sat) {
                hue_sat->Row(reinterpret_cast<T*>(wr), reinterpret_cast<const T*>(wr), width);
            } else if constexpr (sizeof(T) == 1) {
                Lut8Row(wr, wr, width, kPixel, kPixel, kStep == 1 ? 1 : 3, post_before);
            } else {
                Lut16Row(wr, wr, width, kPixel, kPixel, kStep == 1 ? 1 : 3, post_before);
            }
            uint8_t* fr = row_of(frame, row);
            if (row < 2 || row >= height - 2) {
                std::memcpy(fr, wr, kPixel * width);
            } else {
                std::memcpy(fr, wr, 2 * kPixel);
                std::memcpy(fr + (width - 2) * kPixel, wr + (width - 2) * kPixel, 2 * kPixel);
            }
        };
        SharpenCopyRect<T, kStep>(frame, work, width, height, stride, value, max_value, sums32,
                                  sums16, post, threads, bright, prepare);
    };
    if (wide) {
        if (step == 1) run(uint16_t{}, std::integral_constant<int, 1>{});
        if (step == 3) run(uint16_t{}, std::integral_constant<int, 3>{});
        if (step == 4) run(uint16_t{}, std::integral_constant<int, 4>{});
    } else {
        if (step == 1) run(uint8_t{}, std::integral_constant<int, 1>{});
        if (step == 3) run(uint8_t{}, std::integral_constant<int, 3>{});
        if (step == 4) run(uint8_t{}, std::integral_constant<int, 4>{});
    }
    return 1;
}

int HueSatColour8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return HueSat<uint8_t>(VIMBRA_GEOMETRY_ARGS, Param<HueSatParams>(param1), nullptr);
}
int HueSatColour16(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return HueSat<uint16_t>(VIMBRA_GEOMETRY_ARGS, Param<HueSatParams>(param1), nullptr);
}
int HueSatTableColour8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    const HueSatTableParams* p = Param<HueSatTableParams>(param1);
    if (p == nullptr || p->table.table8 == nullptr) return 0;
    return HueSat<uint8_t>(VIMBRA_GEOMETRY_ARGS, &p->hue_sat, p->table.table8);
}
int HueSatTableColour16(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    const HueSatTableParams* p = Param<HueSatTableParams>(param1);
    if (p == nullptr || p->table.table16 == nullptr) return 0;
    return HueSat<uint16_t>(VIMBRA_GEOMETRY_ARGS, &p->hue_sat, p->table.table16);
}

}  // namespace vimbra
