#include "image/filters.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <vector>

#include "image/filters_internal.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VIMBRA_X86_SIMD 1
#include <immintrin.h>
// The intrinsics headers trip this warning on their own undefined-vector idiom.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#else
#define VIMBRA_X86_SIMD 0
#endif

namespace vimbra {

namespace {

using pixel::At;
using pixel::Height;
using pixel::Param;
using pixel::Width;

std::atomic<bool> g_vector_paths{true};

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
    const int c = value;
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
#endif

// One row of `width` pixels: `channels` samples of each pixel through the
// table, the rest of the pixel untouched.
void Lut8Row(uint8_t* d, const uint8_t* s, int width, int dst_bpp, int src_bpp, int channels,
             const uint8_t* lut) {
    if (dst_bpp == src_bpp && (dst_bpp == channels || (dst_bpp == 4 && channels == 3))) {
        const size_t n = static_cast<size_t>(width) * dst_bpp;
#if VIMBRA_X86_SIMD
        if (pixel::UseAvx512()) {
            Lut8Avx512(d, s, n, lut, dst_bpp == 4 ? 0x7777777777777777ULL : ~uint64_t{0});
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
    for (int i = 0; i < Height(r); ++i) {
        Lut8Row(At(dst_bits, dst_row + i, dst_x, dst_stride, dst_bpp),
                At(src_bits, r.top + i, r.left, src_stride, src_bpp), w, dst_bpp, src_bpp, channels,
                lut);
    }
}

void ApplyLut16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
                int dst_bpp, int src_bpp, int dst_stride, int src_stride, int channels,
                const uint16_t* lut) {
    const int w = Width(r);
    for (int i = 0; i < Height(r); ++i) {
        Lut16Row(At(dst_bits, dst_row + i, dst_x, dst_stride, dst_bpp),
                 At(src_bits, r.top + i, r.left, src_stride, src_bpp), w, dst_bpp, src_bpp,
                 channels, lut);
    }
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
    local.resize(65536);
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
        BrightnessTable8(p->value, lut);
    } else if constexpr (kTone == Tone::kContrast) {
        ContrastTable8(p->value, lut);
    } else {
        double e = GammaExponent(p->value);
        if (clamp_exponent) e = std::clamp(e, 0.001, 99.999);
        GammaTable8(e, lut);
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
    const int depth = ClampDepth(p->bit_depth);
    std::vector<uint16_t> local;
    uint16_t* lut = Table16(param2, local);
    if constexpr (kTone == Tone::kBrightness) {
        BrightnessTable16(p->value, (1 << depth) - 1, lut);
    } else if constexpr (kTone == Tone::kContrast) {
        ContrastTable16(p->value, depth, lut);
    } else {
        GammaTable16(GammaExponent(p->value), depth, lut);
    }
    ApplyLut16(dst_bits, src_bits, r, dst_x, dst_row, dst_bpp, src_bpp, dst_stride, src_stride,
               channels, lut);
    return 1;
}

// ---------------------------------------------------------------------------
// Sharpness.

// One output row of the unsharp mask. `rows` are the four source rows y-2..y+1
// and `s` is row y; all point at the rectangle's first column. `sums` gets the
// column sums of the four rows. Pixels 2..width-3 are written, channels 0..2
// of pixels with four samples.
template <class T, class Sum, int kStep>
void SharpenRow(T* d, const T* const rows[4], const T* s, int width, int value, int max_value,
                Sum* sums) {
    const int n = width * kStep;
    for (int j = 0; j < n; ++j) {
        sums[j] = static_cast<Sum>(rows[0][j] + rows[1][j] + rows[2][j] + rows[3][j]);
    }
    const int first = 2 * kStep;
    const int last = (width - 2) * kStep;
    for (int j = first; j < last; ++j) {
        const int box =
            static_cast<int>(sums[j - 2 * kStep]) + sums[j - kStep] + sums[j] + sums[j + kStep];
        const int sample = s[j];
        const int diff = sample - (box >> 4);
        int out = sample + value * diff / 10;
        out = out < 0 ? 0 : (out > max_value ? max_value : out);
        if constexpr (kStep == 4) {
            d[j] = (j & 3) == 3 ? d[j] : static_cast<T>(out);
        } else {
            d[j] = static_cast<T>(out);
        }
    }
}

template <class T, class Sum, int kStep>
void SharpenRect(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
                 int dst_stride, int src_stride, int value, int max_value, Sum* sums) {
    constexpr int bpp = static_cast<int>(sizeof(T)) * kStep;
    const int w = Width(r);
    const int h = Height(r);
    for (int y = 2; y <= h - 3; ++y) {
        const T* rows[4];
        for (int k = 0; k < 4; ++k) {
            rows[k] = reinterpret_cast<const T*>(
                At(src_bits, r.top + y - 2 + k, r.left, src_stride, bpp));
        }
        auto* d = reinterpret_cast<T*>(At(dst_bits, dst_row + y, dst_x, dst_stride, bpp));
        SharpenRow<T, Sum, kStep>(d, rows, rows[2], w, value, max_value, sums);
    }
}

template <class T>
int Sharpen(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
            uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void** param1,
            void** param2, bool colour) {
    const ToneParams* p = Param<ToneParams>(param1);
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
    const size_t count = static_cast<size_t>(w) * step;
    std::vector<uint32_t> local;
    uint32_t* sums;
    if (auto* ws = Param<FilterWorkspace>(param2)) {
        sums = ws->row_sums(count);
    } else {
        local.resize(count);
        sums = local.data();
    }
    switch (step) {
        case 1:
            SharpenRect<T, uint32_t, 1>(dst_bits, src_bits, r, dst_x, dst_row, dst_stride,
                                        src_stride, value, max_value, sums);
            break;
        case 3:
            SharpenRect<T, uint32_t, 3>(dst_bits, src_bits, r, dst_x, dst_row, dst_stride,
                                        src_stride, value, max_value, sums);
            break;
        default:
            SharpenRect<T, uint32_t, 4>(dst_bits, src_bits, r, dst_x, dst_row, dst_stride,
                                        src_stride, value, max_value, sums);
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
// Sixteen pixels at once, lane for lane the arithmetic of HueSatPixel.
__attribute__((target("avx512f,avx512bw"))) inline __m512i HueSat16Lanes(
    __m512i b, __m512i g, __m512i r, __m512i sat_scale, __m512i off_in, __m512i off_sec) {
    const __m512i one = _mm512_set1_epi32(1);
    const __mmask16 r_ge_g = _mm512_cmpge_epi32_mask(r, g);
    __m512i hi = _mm512_mask_blend_epi32(r_ge_g, g, r);
    __m512i lo = _mm512_mask_blend_epi32(r_ge_g, r, g);
    __m512i base = _mm512_mask_blend_epi32(r_ge_g, _mm512_set1_epi32(3), one);
    __m512i num = _mm512_mask_blend_epi32(r_ge_g, _mm512_sub_epi32(b, r), _mm512_sub_epi32(g, b));
    const __mmask16 b_gt = _mm512_cmpgt_epi32_mask(b, hi);
    const __m512i max = _mm512_mask_blend_epi32(b_gt, hi, b);
    base = _mm512_mask_blend_epi32(b_gt, base, _mm512_set1_epi32(5));
    num = _mm512_mask_blend_epi32(b_gt, num, _mm512_sub_epi32(r, g));
    const __m512i min = _mm512_min_epi32(b, lo);
    const __m512i d = _mm512_sub_epi32(max, min);
    const __m512i sum = _mm512_add_epi32(max, min);
    const __mmask16 neg = _mm512_cmplt_epi32_mask(num, _mm512_setzero_si512());
    base = _mm512_mask_sub_epi32(base, neg, base, one);
    num = _mm512_mask_add_epi32(num, neg, num, d);
    const __m512i c255 = _mm512_set1_epi32(255);
    const __m512i limit = _mm512_min_epi32(sum, _mm512_sub_epi32(_mm512_set1_epi32(511), sum));
    const __m512i half = _mm512_set1_epi32(0x8000);
    const __m512i scaled =
        _mm512_srai_epi32(_mm512_add_epi32(_mm512_mullo_epi32(sat_scale, d), half), 16);
    const __m512i chroma = _mm512_min_epi32(limit, scaled);
    const __m512i new_min = _mm512_srai_epi32(_mm512_sub_epi32(sum, chroma), 1);
    const __m512i span =
        _mm512_sub_epi32(_mm512_srai_epi32(_mm512_add_epi32(sum, chroma), 1), new_min);
    const __m512i grey = _mm512_set1_epi32(0x010101);
    __m512i out = _mm512_mullo_epi32(grey, new_min);
    const __m512i q = _mm512_i32gather_epi32(d, kReciprocal.data(), 4);
    __m512i frac = _mm512_add_epi32(
        _mm512_srai_epi32(_mm512_add_epi32(_mm512_mullo_epi32(num, q), half), 16), off_in);
    __m512i sector = _mm512_add_epi32(base, off_sec);
    const __mmask16 wrap = _mm512_cmpge_epi32_mask(frac, c255);
    frac = _mm512_mask_sub_epi32(frac, wrap, frac, c255);
    sector = _mm512_mask_add_epi32(sector, wrap, sector, one);
    // sector is 0..11 here: bring it to 0..5.
    const __m512i six = _mm512_set1_epi32(6);
    sector = _mm512_mask_sub_epi32(sector, _mm512_cmpge_epi32_mask(sector, six), sector, six);
    const __m512i masks = _mm512_setr_epi32(0xFF00FF, 0xFF0000, 0xFFFF00, 0xFF00, 0xFFFF, 0xFF, 0,
                                            0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m512i steps =
        _mm512_setr_epi32(-1, 256, -65536, 1, -256, 65536, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m512i mask = _mm512_permutexvar_epi32(sector, masks);
    const __m512i step = _mm512_permutexvar_epi32(sector, steps);
    const __m512i rise = _mm512_srai_epi32(
        _mm512_add_epi32(_mm512_mullo_epi32(span, frac), _mm512_set1_epi32(128)), 8);
    const __m512i add = _mm512_add_epi32(_mm512_and_si512(_mm512_mullo_epi32(grey, span), mask),
                                         _mm512_mullo_epi32(rise, step));
    const __mmask16 chromatic = _mm512_cmpgt_epi32_mask(d, _mm512_setzero_si512());
    out = _mm512_mask_add_epi32(out, chromatic, out, add);
    return out;
}

// One row of 24 or 32-bit pixels (8-bit samples) or 48 or 64-bit pixels
// (16-bit samples reduced by `shift`), sixteen pixels at a time; returns the
// number of pixels done, the rest is left to the scalar loop.
template <class T, int kStep>
__attribute__((target("avx512f,avx512bw"))) int HueSatRowAvx512(T* d, const T* s, int width,
                                                                const HueSatConstants& k,
                                                                int shift) {
    const __m512i sat_scale = _mm512_set1_epi32(k.saturation_scale);
    const __m512i off_in = _mm512_set1_epi32(k.offset_in_sector);
    const __m512i off_sec = _mm512_set1_epi32(k.offset_sectors);
    const __m512i idx =
        _mm512_mullo_epi32(_mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                           _mm512_set1_epi32(kStep));
    const __m512i c255 = _mm512_set1_epi32(255);
    const __m128i sh = _mm_cvtsi32_si128(shift);
    int x = 0;
    // Gathers read whole 32-bit words: stop where one would pass the row's last sample.
    for (; x + 17 <= width; x += 16) {
        const T* p = s + x * kStep;
        __m512i b, g, r;
        if constexpr (sizeof(T) == 1) {
            const __m512i w0 = _mm512_i32gather_epi32(idx, p, 1);
            b = _mm512_and_si512(w0, c255);
            g = _mm512_and_si512(_mm512_srli_epi32(w0, 8), c255);
            r = _mm512_and_si512(_mm512_srli_epi32(w0, 16), c255);
        } else {
            const __m512i w0 = _mm512_i32gather_epi32(idx, p, 2);
            const __m512i w1 = _mm512_i32gather_epi32(idx, p + 2, 2);
            const __m512i m16 = _mm512_set1_epi32(0xFFFF);
            b = _mm512_min_epi32(_mm512_srl_epi32(_mm512_and_si512(w0, m16), sh), c255);
            g = _mm512_min_epi32(_mm512_srl_epi32(_mm512_srli_epi32(w0, 16), sh), c255);
            r = _mm512_min_epi32(_mm512_srl_epi32(_mm512_and_si512(w1, m16), sh), c255);
        }
        const __m512i out = HueSat16Lanes(b, g, r, sat_scale, off_in, off_sec);
        alignas(64) int32_t o[16];
        _mm512_store_si512(o, out);
        T* q = d + x * kStep;
        for (int i = 0; i < 16; ++i, q += kStep) {
            const int32_t v = o[i];
            q[0] = static_cast<T>((v & 0xFF) << shift);
            q[1] = static_cast<T>(((v >> 8) & 0xFF) << shift);
            q[2] = static_cast<T>(((v >> 16) & 0xFF) << shift);
        }
    }
    return x;
}
#endif

template <class T>
int HueSat(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x, int dst_row,
           uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void** param1) {
    const HueSatParams* p = Param<HueSatParams>(param1);
    if (p == nullptr) return 0;
    const int step = dst_bpp / static_cast<int>(sizeof(T));
    if (dst_bpp != src_bpp || step * static_cast<int>(sizeof(T)) != dst_bpp ||
        (step != 3 && step != 4)) {
        return 0;
    }
    const HueSatConstants k = MakeHueSat(*p);
    const int shift = sizeof(T) == 1 ? 0 : ClampDepth(p->bit_depth) - 8;
    const int w = Width(r);
    for (int i = 0; i < Height(r); ++i) {
        T* d = reinterpret_cast<T*>(At(dst_bits, dst_row + i, dst_x, dst_stride, dst_bpp));
        const T* s =
            reinterpret_cast<const T*>(At(src_bits, r.top + i, r.left, src_stride, src_bpp));
        int x = 0;
#if VIMBRA_X86_SIMD
        if (pixel::UseAvx512()) {
            x = step == 3 ? HueSatRowAvx512<T, 3>(d, s, w, k, shift)
                          : HueSatRowAvx512<T, 4>(d, s, w, k, shift);
        }
#endif
        for (; x < w; ++x) {
            const T* sp = s + x * step;
            T* dp = d + x * step;
            const int b = std::min(sp[0] >> shift, 255);
            const int g = std::min(sp[1] >> shift, 255);
            const int rr = std::min(sp[2] >> shift, 255);
            const int32_t out = HueSatPixel(b, g, rr, k);
            dp[0] = static_cast<T>((out & 0xFF) << shift);
            dp[1] = static_cast<T>(((out >> 8) & 0xFF) << shift);
            dp[2] = static_cast<T>(((out >> 16) & 0xFF) << shift);
        }
    }
    return 1;
}

bool DetectAvx512() {
#if VIMBRA_X86_SIMD
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

}  // namespace

namespace pixel {
bool UseAvx512() {
    static const bool available = DetectAvx512();
    return available && g_vector_paths.load(std::memory_order_relaxed);
}
}  // namespace pixel

void SetPixelVectorPaths(bool enabled) {
    g_vector_paths.store(enabled);
}
bool PixelVectorPaths() {
    return g_vector_paths.load();
}

FilterWorkspace::FilterWorkspace() : table16_(new uint16_t[65536]) {}
FilterWorkspace::~FilterWorkspace() = default;

uint32_t* FilterWorkspace::row_sums(size_t count) {
    if (count > row_sums_size_) {
        row_sums_.reset(new uint32_t[count]);
        row_sums_size_ = count;
    }
    return row_sums_.get();
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

int Sharpen8(VIMBRA_ROUTINE_ARGS) {
    return Sharpen<uint8_t>(VIMBRA_TONE_ARGS, param2, false);
}
int SharpenColour8(VIMBRA_ROUTINE_ARGS) {
    return Sharpen<uint8_t>(VIMBRA_TONE_ARGS, param2, true);
}
int Sharpen16(VIMBRA_ROUTINE_ARGS) {
    return Sharpen<uint16_t>(VIMBRA_TONE_ARGS, param2, false);
}
int SharpenColour16(VIMBRA_ROUTINE_ARGS) {
    return Sharpen<uint16_t>(VIMBRA_TONE_ARGS, param2, true);
}

int HueSatColour8(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return HueSat<uint8_t>(VIMBRA_TONE_ARGS);
}
int HueSatColour16(VIMBRA_ROUTINE_ARGS) {
    (void)param2;
    return HueSat<uint16_t>(VIMBRA_TONE_ARGS);
}

}  // namespace vimbra
