#include "image/demosaic.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "image/dib_image.h"
#include "image/parity_sums.h"
#include "image/row_pool.h"
#include "image/simd.h"

namespace vimbra {

namespace {

// Position of the red sample within the 2 x 2 phase cell; blue sits on the
// other row and the other column.
struct PhaseCell {
    int red_row;
    int red_col;
};
constexpr PhaseCell kCells[4] = {{1, 0}, {0, 0}, {1, 1}, {0, 1}};

std::atomic<int> g_threads{0};  // all cores

// Kernels of the interior pass; the AVX-512 path runs the AVX2 one.
enum class DemosaicSimd : int { kScalar = 0, kSse2 = 1, kAvx2 = 2 };

DemosaicSimd ActiveKernel() {
    switch (ActiveSimd()) {
        case SimdPath::kAvx2:
        case SimdPath::kAvx512:
            return DemosaicSimd::kAvx2;
#if defined(__SSE2__)
        case SimdPath::kSse2:
            return DemosaicSimd::kSse2;
#endif
        default:
            return DemosaicSimd::kScalar;
    }
}

int ClampedGain(int32_t gain) {
    return std::clamp(gain, 0, 400);
}

// Maps a neighbour row or column index that falls outside 0..n-1 four
// samples further in the opposite direction, which keeps its colour; pictures
// too small for that fall back to a sample of the same parity, or the only
// one.
inline int Fold(int i, int n) {
    if (i < 0) i += 4;
    if (i >= n) i -= 4;
    if (i < 0 || i >= n) {
        i &= 1;
        if (i >= n) i = n - 1;
    }
    return i;
}

// Everything a demosaic pass needs, fixed for the whole rectangle.
template <typename T>
struct Job {
    const uint8_t* src;  // first byte of the rectangle's first row and column
    uint8_t* dst;        // first byte of the destination's matching pixel
    intptr_t src_stride;
    intptr_t dst_stride;
    int dst_bpp;
    int width;
    int height;
    int red_row;
    int red_col;
    int red_factor;
    int blue_factor;
    int max_value;  // 255 or 4095

    const T* Row(int y) const { return reinterpret_cast<const T*>(src + y * src_stride); }
    T* Out(int y, int x) const {
        return reinterpret_cast<T*>(dst + y * dst_stride + static_cast<intptr_t>(x) * dst_bpp);
    }
};

// Per-row choice of which source rows feed which colour, so that the column
// loop has no decisions left: the colour on even columns (X) and the colour
// on odd columns (Y) each come from a vertical sum 3 * a + b, and green from
// rows p and q.
template <typename T>
struct RowPlan {
    const T *xa, *xb, *ya, *yb, *p, *q;
    int x_factor, y_factor;
    int x_channel, y_channel;  // 2 = red, 0 = blue
};

template <typename T>
RowPlan<T> PlanRow(const Job<T>& job, int y, const T* const r[4]) {
    bool red_on_y = (y & 1) == job.red_row;
    const T* red_a = red_on_y ? r[2] : r[1];
    const T* red_b = red_on_y ? r[0] : r[3];
    const T* blue_a = red_on_y ? r[1] : r[2];
    const T* blue_b = red_on_y ? r[3] : r[0];
    bool red_even = job.red_col == 0;
    bool self_green_even = red_on_y != red_even;
    RowPlan<T> plan;
    plan.xa = red_even ? red_a : blue_a;
    plan.xb = red_even ? red_b : blue_b;
    plan.ya = red_even ? blue_a : red_a;
    plan.yb = red_even ? blue_b : red_b;
    plan.x_factor = red_even ? job.red_factor : job.blue_factor;
    plan.y_factor = red_even ? job.blue_factor : job.red_factor;
    plan.x_channel = red_even ? 2 : 0;
    plan.y_channel = red_even ? 0 : 2;
    plan.p = self_green_even ? r[2] : r[1];
    plan.q = self_green_even ? r[1] : r[2];
    return plan;
}

template <typename T>
inline int Scale(int sum, int factor, int max_value) {
    int v = (sum * factor) >> 11;
    return v > max_value ? max_value : v;
}

// Scalar interior columns [x_begin, x_end) of one row; x_begin is even.
template <typename T>
void InteriorScalar(const Job<T>& job, const RowPlan<T>& pl, int y, int x_begin, int x_end) {
    const int max_value = job.max_value;
    auto v_x = [&](int c) { return 3 * pl.xa[c] + pl.xb[c]; };
    auto v_y = [&](int c) { return 3 * pl.ya[c] + pl.yb[c]; };
    int x = x_begin;
    for (; x + 1 < x_end; x += 2) {
        int vx0 = v_x(x);
        int vym = v_y(x - 1), vy1 = v_y(x + 1);
        int xe = 3 * vx0 + v_x(x - 2), xo = 3 * vx0 + v_x(x + 2);
        int ye = 3 * vym + vy1, yo = 3 * vy1 + vym;
        int ge = (pl.p[x] + pl.q[x - 1]) >> 1, go = (pl.p[x] + pl.q[x + 1]) >> 1;
        T* o = job.Out(y, x);
        o[pl.x_channel] = static_cast<T>(Scale<T>(xe, pl.x_factor, max_value));
        o[1] = static_cast<T>(std::min(ge, max_value));
        o[pl.y_channel] = static_cast<T>(Scale<T>(ye, pl.y_factor, max_value));
        o = job.Out(y, x + 1);
        o[pl.x_channel] = static_cast<T>(Scale<T>(xo, pl.x_factor, max_value));
        o[1] = static_cast<T>(std::min(go, max_value));
        o[pl.y_channel] = static_cast<T>(Scale<T>(yo, pl.y_factor, max_value));
    }
    if (x < x_end) {
        int xe = 3 * v_x(x) + v_x(x - 2);
        int ye = 3 * v_y(x - 1) + v_y(x + 1);
        int ge = (pl.p[x] + pl.q[x - 1]) >> 1;
        T* o = job.Out(y, x);
        o[pl.x_channel] = static_cast<T>(Scale<T>(xe, pl.x_factor, max_value));
        o[1] = static_cast<T>(std::min(ge, max_value));
        o[pl.y_channel] = static_cast<T>(Scale<T>(ye, pl.y_factor, max_value));
    }
}

#if defined(__x86_64__) || defined(__i386__)

// The vector helpers below are internal and always inlined into AVX2 code, so
// the ABI note about passing AVX values does not concern them.
#pragma GCC diagnostic ignored "-Wpsabi"

// pshufb masks that interleave three registers of 8-bit (element = 1) or
// 16-bit (element = 2) channel values into B, G, R triples: mask[k][c] picks
// the bytes of channel c for output register k.
template <int kElement>
constexpr std::array<std::array<std::array<int8_t, 16>, 3>, 3> InterleaveMasks() {
    std::array<std::array<std::array<int8_t, 16>, 3>, 3> m{};
    for (int k = 0; k < 3; ++k) {
        for (int j = 0; j < 16; ++j) {
            int element = (16 * k + j) / kElement;
            int byte = j % kElement;
            int pixel = element / 3, channel = element % 3;
            for (int c = 0; c < 3; ++c) {
                m[k][c][j] = static_cast<int8_t>(c == channel ? pixel * kElement + byte : -128);
            }
        }
    }
    return m;
}
constexpr auto kMasks8 = InterleaveMasks<1>();
constexpr auto kMasks16 = InterleaveMasks<2>();

#define AVX2_LAMBDA __attribute__((target("avx2")))

__attribute__((target("avx2"))) inline __m256i Load(const void* p) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline __m128i Mask(const std::array<int8_t, 16>& m) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.data()));
}

// Writes three 256-bit channel registers as packed triples: each 128-bit
// lane holds 16 one-byte or 8 two-byte values, so one register of each
// channel becomes 96 bytes.
template <int kElement>
__attribute__((target("avx2"))) inline void StoreTriples256(uint8_t* out, __m256i b, __m256i g,
                                                            __m256i r) {
    const auto& m = kElement == 1 ? kMasks8 : kMasks16;
    __m256i o[3];
    for (int k = 0; k < 3; ++k) {
        __m256i mb = _mm256_broadcastsi128_si256(Mask(m[k][0]));
        __m256i mg = _mm256_broadcastsi128_si256(Mask(m[k][1]));
        __m256i mr = _mm256_broadcastsi128_si256(Mask(m[k][2]));
        o[k] =
            _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, mb), _mm256_shuffle_epi8(g, mg)),
                            _mm256_shuffle_epi8(r, mr));
    }
    auto* d = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(d, _mm256_permute2x128_si256(o[0], o[1], 0x20));
    _mm256_storeu_si256(d + 1, _mm256_permute2x128_si256(o[2], o[0], 0x30));
    _mm256_storeu_si256(d + 2, _mm256_permute2x128_si256(o[1], o[2], 0x31));
}

// Writes four 256-bit registers of whole pixels (lane 0 the first, lane 1
// the second half of the step) keeping the fourth byte or sample.
__attribute__((target("avx2"))) inline void StoreQuads256(uint8_t* out, __m256i q0, __m256i q1,
                                                          __m256i q2, __m256i q3, __m256i keep) {
    const __m256i v[4] = {
        _mm256_permute2x128_si256(q0, q1, 0x20), _mm256_permute2x128_si256(q2, q3, 0x20),
        _mm256_permute2x128_si256(q0, q1, 0x31), _mm256_permute2x128_si256(q2, q3, 0x31)};
    auto* d = reinterpret_cast<__m256i*>(out);
    for (int i = 0; i < 4; ++i) {
        __m256i old = _mm256_loadu_si256(d + i);
        _mm256_storeu_si256(d + i, _mm256_or_si256(_mm256_and_si256(old, keep), v[i]));
    }
}

// 32 output pixels per step from 8-bit samples, in 16-bit lanes. For x even,
// lanes hold the even columns (and 0xFF) or the odd ones (>> 8).
__attribute__((target("avx2"))) void Interior8Avx2(const Job<uint8_t>& job,
                                                   const RowPlan<uint8_t>& pl, int y, int x_begin,
                                                   int x_end) {
    const __m256i low = _mm256_set1_epi16(0x00FF);
    const __m256i max8 = _mm256_set1_epi16(255);
    const __m256i fx = _mm256_set1_epi16(static_cast<int16_t>(pl.x_factor * 32));
    const __m256i fy = _mm256_set1_epi16(static_cast<int16_t>(pl.y_factor * 32));
    auto even = [low](const uint8_t* p) AVX2_LAMBDA { return _mm256_and_si256(Load(p), low); };
    auto odd = [](const uint8_t* p) AVX2_LAMBDA { return _mm256_srli_epi16(Load(p), 8); };
    auto triple_plus = [](__m256i a, __m256i b) AVX2_LAMBDA {
        return _mm256_add_epi16(_mm256_add_epi16(a, _mm256_add_epi16(a, a)), b);
    };
    // (sum * factor) >> 11 == (sum * factor * 32) >> 16, clamped to 255.
    auto scale = [max8](__m256i sum, __m256i f)
                     AVX2_LAMBDA { return _mm256_min_epu16(_mm256_mulhi_epu16(sum, f), max8); };
    const bool quad = job.dst_bpp == 4;
    const bool red_even = pl.x_channel == 2;
    const __m256i keep = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i zero = _mm256_setzero_si256();
    // Vertical sums of the even columns (X) and the odd columns (Y) for
    // columns x - 2 .. x + 33; each step computes those of the next step and
    // gets the ones shifted by two columns from its neighbours' registers.
    auto vx_at = [&](int c) AVX2_LAMBDA { return triple_plus(even(pl.xa + c), even(pl.xb + c)); };
    auto vy_at = [&](int c) AVX2_LAMBDA { return triple_plus(odd(pl.ya + c), odd(pl.yb + c)); };
    // Lane k of the result is lane k - 1 of cur, lane 0 the last lane of prev.
    auto after = [](__m256i prev, __m256i cur) AVX2_LAMBDA {
        return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 14);
    };
    // Lane k of the result is lane k + 1 of cur, the last lane lane 0 of next.
    auto before = [](__m256i cur, __m256i next) AVX2_LAMBDA {
        return _mm256_alignr_epi8(_mm256_permute2x128_si256(cur, next, 0x21), cur, 2);
    };
    int x = x_begin;
    if (x + 32 > x_end) return;
    __m256i vx0 = vx_at(x), vy0 = vy_at(x);
    __m256i vxm = vx_at(x - 2), vym = vy_at(x - 2);
    for (;; x += 32) {
        // The next step's loads reach column x + 63, inside while x + 64 <= x_end.
        const bool more = x + 64 <= x_end;
        __m256i vxn = vx0, vyn = vy0, vxp;
        if (more) {
            vxn = vx_at(x + 32);
            vyn = vy_at(x + 32);
            vxp = before(vx0, vxn);
        } else {
            vxp = vx_at(x + 2);
        }
        __m256i xs = _mm256_or_si256(scale(triple_plus(vx0, vxm), fx),
                                     _mm256_slli_epi16(scale(triple_plus(vx0, vxp), fx), 8));
        __m256i ys = _mm256_or_si256(scale(triple_plus(vym, vy0), fy),
                                     _mm256_slli_epi16(scale(triple_plus(vy0, vym), fy), 8));
        __m256i pe = even(pl.p + x);
        __m256i g = _mm256_or_si256(
            _mm256_srli_epi16(_mm256_add_epi16(pe, odd(pl.q + x - 2)), 1),
            _mm256_slli_epi16(_mm256_srli_epi16(_mm256_add_epi16(pe, odd(pl.q + x)), 1), 8));
        __m256i r = red_even ? xs : ys;
        __m256i b = red_even ? ys : xs;
        uint8_t* out = reinterpret_cast<uint8_t*>(job.Out(y, x));
        if (!quad) {
            StoreTriples256<1>(out, b, g, r);
        } else {
            __m256i bg_lo = _mm256_unpacklo_epi8(b, g), bg_hi = _mm256_unpackhi_epi8(b, g);
            __m256i r_lo = _mm256_unpacklo_epi8(r, zero), r_hi = _mm256_unpackhi_epi8(r, zero);
            StoreQuads256(out, _mm256_unpacklo_epi16(bg_lo, r_lo),
                          _mm256_unpackhi_epi16(bg_lo, r_lo), _mm256_unpacklo_epi16(bg_hi, r_hi),
                          _mm256_unpackhi_epi16(bg_hi, r_hi), keep);
        }
        if (!more) break;
        vxm = after(vx0, vxn);
        vym = after(vy0, vyn);
        vx0 = vxn;
        vy0 = vyn;
    }
}

// 16 output pixels per step from 16-bit samples, in 32-bit lanes.
__attribute__((target("avx2"))) void Interior16Avx2(const Job<uint16_t>& job,
                                                    const RowPlan<uint16_t>& pl, int y, int x_begin,
                                                    int x_end) {
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    const __m256i max12 = _mm256_set1_epi32(4095);
    const __m256i fx = _mm256_set1_epi32(pl.x_factor);
    const __m256i fy = _mm256_set1_epi32(pl.y_factor);
    auto even = [low](const uint16_t* p) AVX2_LAMBDA { return _mm256_and_si256(Load(p), low); };
    auto odd = [](const uint16_t* p) AVX2_LAMBDA { return _mm256_srli_epi32(Load(p), 16); };
    auto triple_plus = [](__m256i a, __m256i b) AVX2_LAMBDA {
        return _mm256_add_epi32(_mm256_add_epi32(a, _mm256_add_epi32(a, a)), b);
    };
    auto scale = [max12](__m256i sum, __m256i f) AVX2_LAMBDA {
        return _mm256_min_epi32(_mm256_srli_epi32(_mm256_mullo_epi32(sum, f), 11), max12);
    };
    const bool quad = job.dst_bpp == 8;
    const bool red_even = pl.x_channel == 2;
    const __m256i keep = _mm256_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000ull));
    const __m256i zero = _mm256_setzero_si256();
    // As in the 8-bit kernel, each step computes the vertical sums of the
    // next one and shifts the neighbouring registers by one lane.
    auto vx_at = [&](int c) AVX2_LAMBDA { return triple_plus(even(pl.xa + c), even(pl.xb + c)); };
    auto vy_at = [&](int c) AVX2_LAMBDA { return triple_plus(odd(pl.ya + c), odd(pl.yb + c)); };
    auto after = [](__m256i prev, __m256i cur) AVX2_LAMBDA {
        return _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 12);
    };
    auto before = [](__m256i cur, __m256i next) AVX2_LAMBDA {
        return _mm256_alignr_epi8(_mm256_permute2x128_si256(cur, next, 0x21), cur, 4);
    };
    int x = x_begin;
    if (x + 16 > x_end) return;
    __m256i vx0 = vx_at(x), vy0 = vy_at(x);
    __m256i vxm = vx_at(x - 2), vym = vy_at(x - 2);
    for (;; x += 16) {
        // The next step's loads reach column x + 31, inside while x + 32 <= x_end.
        const bool more = x + 32 <= x_end;
        __m256i vxn = vx0, vyn = vy0, vxp;
        if (more) {
            vxn = vx_at(x + 16);
            vyn = vy_at(x + 16);
            vxp = before(vx0, vxn);
        } else {
            vxp = vx_at(x + 2);
        }
        __m256i xs = _mm256_or_si256(scale(triple_plus(vx0, vxm), fx),
                                     _mm256_slli_epi32(scale(triple_plus(vx0, vxp), fx), 16));
        __m256i ys = _mm256_or_si256(scale(triple_plus(vym, vy0), fy),
                                     _mm256_slli_epi32(scale(triple_plus(vy0, vym), fy), 16));
        __m256i pe = even(pl.p + x);
        __m256i ge =
            _mm256_min_epi32(_mm256_srli_epi32(_mm256_add_epi32(pe, odd(pl.q + x - 2)), 1), max12);
        __m256i go =
            _mm256_min_epi32(_mm256_srli_epi32(_mm256_add_epi32(pe, odd(pl.q + x)), 1), max12);
        __m256i g = _mm256_or_si256(ge, _mm256_slli_epi32(go, 16));
        __m256i r = red_even ? xs : ys;
        __m256i b = red_even ? ys : xs;
        uint8_t* out = reinterpret_cast<uint8_t*>(job.Out(y, x));
        if (!quad) {
            StoreTriples256<2>(out, b, g, r);
        } else {
            __m256i bg_lo = _mm256_unpacklo_epi16(b, g), bg_hi = _mm256_unpackhi_epi16(b, g);
            __m256i r_lo = _mm256_unpacklo_epi16(r, zero), r_hi = _mm256_unpackhi_epi16(r, zero);
            StoreQuads256(out, _mm256_unpacklo_epi32(bg_lo, r_lo),
                          _mm256_unpackhi_epi32(bg_lo, r_lo), _mm256_unpacklo_epi32(bg_hi, r_hi),
                          _mm256_unpackhi_epi32(bg_hi, r_hi), keep);
        }
        if (!more) break;
        vxm = after(vx0, vxn);
        vym = after(vy0, vyn);
        vx0 = vxn;
        vy0 = vyn;
    }
}

#endif

#if defined(__SSE2__)

// The same kernels for processors without AVX2, in SSE2 only: 16 (8-bit) or
// 8 (16-bit) output pixels per step. SSE2 has no byte shuffle, so triples
// are written from B, G, R, 0 quads that are packed to 12 bytes each.

// Writes the first 12 bytes of a register.
inline void StorePacked12(uint8_t* out, __m128i quads) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), quads);
    const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(quads, 8));
    std::memcpy(out + 8, &tail, 4);
}

// Four B, G, R, 0 byte quads -> 12 bytes.
inline __m128i PackQuads8(__m128i v) {
    const __m128i lo3 = _mm_set1_epi64x(0x0000000000FFFFFFll);
    const __m128i hi3 = _mm_set1_epi64x(0x00FFFFFF00000000ll);
    __m128i t = _mm_or_si128(_mm_and_si128(v, lo3), _mm_srli_epi64(_mm_and_si128(v, hi3), 8));
    const __m128i first6 = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
    const __m128i next6 = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0);
    return _mm_or_si128(_mm_and_si128(t, first6), _mm_and_si128(_mm_srli_si128(t, 2), next6));
}

// Two B, G, R, 0 sample quads (8 bytes each) -> 12 bytes.
inline __m128i PackQuads16(__m128i v) {
    const __m128i first6 = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
    const __m128i next6 = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0);
    return _mm_or_si128(_mm_and_si128(v, first6), _mm_and_si128(_mm_srli_si128(v, 2), next6));
}

inline void StoreKeep(uint8_t* out, __m128i v, __m128i keep) {
    __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(_mm_and_si128(old, keep), v));
}

inline __m128i Load128(const void* p) {
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

void Interior8Sse2(const Job<uint8_t>& job, const RowPlan<uint8_t>& pl, int y, int x_begin,
                   int x_end) {
    const __m128i low = _mm_set1_epi16(0x00FF);
    const __m128i max8 = _mm_set1_epi16(255);
    const __m128i fx = _mm_set1_epi16(static_cast<int16_t>(pl.x_factor * 32));
    const __m128i fy = _mm_set1_epi16(static_cast<int16_t>(pl.y_factor * 32));
    const __m128i zero = _mm_setzero_si128();
    const __m128i keep = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    auto even = [&](const uint8_t* p) { return _mm_and_si128(Load128(p), low); };
    auto odd = [](const uint8_t* p) { return _mm_srli_epi16(Load128(p), 8); };
    auto triple_plus = [](__m128i a, __m128i b) {
        return _mm_add_epi16(_mm_add_epi16(a, _mm_add_epi16(a, a)), b);
    };
    auto scale = [&](__m128i sum, __m128i f) {
        return _mm_min_epi16(_mm_mulhi_epu16(sum, f), max8);
    };
    const bool quad = job.dst_bpp == 4;
    const bool red_even = pl.x_channel == 2;
    for (int x = x_begin; x + 16 <= x_end; x += 16) {
        __m128i vx0 = triple_plus(even(pl.xa + x), even(pl.xb + x));
        __m128i vxm = triple_plus(even(pl.xa + x - 2), even(pl.xb + x - 2));
        __m128i vxp = triple_plus(even(pl.xa + x + 2), even(pl.xb + x + 2));
        __m128i vym = triple_plus(odd(pl.ya + x - 2), odd(pl.yb + x - 2));
        __m128i vy0 = triple_plus(odd(pl.ya + x), odd(pl.yb + x));
        __m128i xs = _mm_or_si128(scale(triple_plus(vx0, vxm), fx),
                                  _mm_slli_epi16(scale(triple_plus(vx0, vxp), fx), 8));
        __m128i ys = _mm_or_si128(scale(triple_plus(vym, vy0), fy),
                                  _mm_slli_epi16(scale(triple_plus(vy0, vym), fy), 8));
        __m128i pe = even(pl.p + x);
        __m128i g =
            _mm_or_si128(_mm_srli_epi16(_mm_add_epi16(pe, odd(pl.q + x - 2)), 1),
                         _mm_slli_epi16(_mm_srli_epi16(_mm_add_epi16(pe, odd(pl.q + x)), 1), 8));
        __m128i r = red_even ? xs : ys;
        __m128i b = red_even ? ys : xs;
        __m128i bg_lo = _mm_unpacklo_epi8(b, g), bg_hi = _mm_unpackhi_epi8(b, g);
        __m128i r_lo = _mm_unpacklo_epi8(r, zero), r_hi = _mm_unpackhi_epi8(r, zero);
        const __m128i q[4] = {_mm_unpacklo_epi16(bg_lo, r_lo), _mm_unpackhi_epi16(bg_lo, r_lo),
                              _mm_unpacklo_epi16(bg_hi, r_hi), _mm_unpackhi_epi16(bg_hi, r_hi)};
        uint8_t* out = reinterpret_cast<uint8_t*>(job.Out(y, x));
        for (int k = 0; k < 4; ++k) {
            if (quad) {
                StoreKeep(out + 16 * k, q[k], keep);
            } else {
                StorePacked12(out + 12 * k, PackQuads8(q[k]));
            }
        }
    }
}

// (sum * f) >> 11 for sums below 2^21 in 32-bit lanes, with f below 2^10:
// the low 16 bits of the sum through mulhi with f * 32 (exact, as
// 2^16 / 32 = 2^11), the high bits through madd, which cannot overflow.
inline __m128i Scale16Sse2(__m128i sum, __m128i f_low, __m128i f_high) {
    return _mm_add_epi32(_mm_mulhi_epu16(sum, f_low),
                         _mm_slli_epi32(_mm_madd_epi16(sum, f_high), 5));
}

// Even-column and odd-column 32-bit values -> eight 16-bit samples in pixel
// order, each clamped to 4095 (the signed saturation keeps any larger value
// above 4095).
inline __m128i Interleave16(__m128i even, __m128i odd) {
    __m128i t = _mm_min_epi16(_mm_packs_epi32(even, odd), _mm_set1_epi16(4095));
    return _mm_unpacklo_epi16(t, _mm_srli_si128(t, 8));
}

void Interior16Sse2(const Job<uint16_t>& job, const RowPlan<uint16_t>& pl, int y, int x_begin,
                    int x_end) {
    const __m128i low = _mm_set1_epi32(0xFFFF);
    const __m128i fx_low = _mm_set1_epi32(pl.x_factor * 32);
    const __m128i fy_low = _mm_set1_epi32(pl.y_factor * 32);
    const __m128i fx_high = _mm_set1_epi32(pl.x_factor << 16);
    const __m128i fy_high = _mm_set1_epi32(pl.y_factor << 16);
    const __m128i zero = _mm_setzero_si128();
    const __m128i keep = _mm_set1_epi64x(static_cast<int64_t>(0xFFFF000000000000ull));
    auto even = [&](const uint16_t* p) { return _mm_and_si128(Load128(p), low); };
    auto odd = [](const uint16_t* p) { return _mm_srli_epi32(Load128(p), 16); };
    auto triple_plus = [](__m128i a, __m128i b) {
        return _mm_add_epi32(_mm_add_epi32(a, _mm_add_epi32(a, a)), b);
    };
    const bool quad = job.dst_bpp == 8;
    const bool red_even = pl.x_channel == 2;
    for (int x = x_begin; x + 8 <= x_end; x += 8) {
        __m128i vx0 = triple_plus(even(pl.xa + x), even(pl.xb + x));
        __m128i vxm = triple_plus(even(pl.xa + x - 2), even(pl.xb + x - 2));
        __m128i vxp = triple_plus(even(pl.xa + x + 2), even(pl.xb + x + 2));
        __m128i vym = triple_plus(odd(pl.ya + x - 2), odd(pl.yb + x - 2));
        __m128i vy0 = triple_plus(odd(pl.ya + x), odd(pl.yb + x));
        __m128i xs = Interleave16(Scale16Sse2(triple_plus(vx0, vxm), fx_low, fx_high),
                                  Scale16Sse2(triple_plus(vx0, vxp), fx_low, fx_high));
        __m128i ys = Interleave16(Scale16Sse2(triple_plus(vym, vy0), fy_low, fy_high),
                                  Scale16Sse2(triple_plus(vy0, vym), fy_low, fy_high));
        __m128i pe = even(pl.p + x);
        __m128i g = Interleave16(_mm_srli_epi32(_mm_add_epi32(pe, odd(pl.q + x - 2)), 1),
                                 _mm_srli_epi32(_mm_add_epi32(pe, odd(pl.q + x)), 1));
        __m128i r = red_even ? xs : ys;
        __m128i b = red_even ? ys : xs;
        __m128i bg_lo = _mm_unpacklo_epi16(b, g), bg_hi = _mm_unpackhi_epi16(b, g);
        __m128i r_lo = _mm_unpacklo_epi16(r, zero), r_hi = _mm_unpackhi_epi16(r, zero);
        const __m128i q[4] = {_mm_unpacklo_epi32(bg_lo, r_lo), _mm_unpackhi_epi32(bg_lo, r_lo),
                              _mm_unpacklo_epi32(bg_hi, r_hi), _mm_unpackhi_epi32(bg_hi, r_hi)};
        uint8_t* out = reinterpret_cast<uint8_t*>(job.Out(y, x));
        for (int k = 0; k < 4; ++k) {
            if (quad) {
                StoreKeep(out + 16 * k, q[k], keep);
            } else {
                StorePacked12(out + 12 * k, PackQuads16(q[k]));
            }
        }
    }
}

#endif

// Output pixels per vector step.
template <typename T>
constexpr int VectorStep(DemosaicSimd simd) {
    return (simd == DemosaicSimd::kAvx2 ? 32 : 16) / static_cast<int>(sizeof(T));
}

// End of the columns that the vector kernel handles, from column 2 on: it
// reads up to column x + step + 1, which must stay below the width.
template <typename T>
int VectorEnd(const Job<T>& job, DemosaicSimd simd) {
    const int x_end = job.width - 2;
    if (simd != DemosaicSimd::kScalar && x_end > 2 &&
        (job.dst_bpp == 3 * static_cast<int>(sizeof(T)) ||
         job.dst_bpp == 4 * static_cast<int>(sizeof(T)))) {
        const int step = VectorStep<T>(simd);
        return 2 + (x_end - 2) / step * step;
    }
    return 2;
}

// Columns 2 .. width - 3 of output row y from the four source rows y - 2 ..
// y + 1 (folded ones on the border rows).
template <typename T>
void InteriorRow(const Job<T>& job, int y, const T* const rows[4], DemosaicSimd simd,
                 int vector_end) {
    RowPlan<T> plan = PlanRow(job, y, rows);
    (void)simd;  // no vector kernel on other processors
    if (vector_end > 2) {
#if defined(__x86_64__) || defined(__i386__)
        if (simd == DemosaicSimd::kAvx2) {
            if constexpr (sizeof(T) == 1) {
                Interior8Avx2(job, plan, y, 2, vector_end);
            } else {
                Interior16Avx2(job, plan, y, 2, vector_end);
            }
        }
#endif
#if defined(__SSE2__)
        if (simd == DemosaicSimd::kSse2) {
            if constexpr (sizeof(T) == 1) {
                Interior8Sse2(job, plan, y, 2, vector_end);
            } else {
                Interior16Sse2(job, plan, y, 2, vector_end);
            }
        }
#endif
    }
    InteriorScalar(job, plan, y, vector_end, job.width - 2);
}

// Interior rows [y_begin, y_end).
template <typename T>
void InteriorRows(const Job<T>& job, int y_begin, int y_end, DemosaicSimd simd) {
    const int vector_end = VectorEnd(job, simd);
    for (int y = y_begin; y < y_end; ++y) {
        const T* rows[4] = {job.Row(y - 2), job.Row(y - 1), job.Row(y), job.Row(y + 1)};
        InteriorRow(job, y, rows, simd, vector_end);
    }
}

// One border pixel: the interior kernel over the 4 x 4 window of rows r and
// columns c, which are y - 2 .. y + 1 and x - 2 .. x + 1 folded inside.
template <typename T>
void BorderPixel(const Job<T>& job, int y, int x, const T* const r[4], const int c[4]) {
    auto s = [&](int i, int j) { return static_cast<int>(r[i][c[j]]); };
    bool red_on_y = (y & 1) == job.red_row;
    bool red_on_x = (x & 1) == job.red_col;
    int ri = red_on_y ? 2 : 1, ri2 = red_on_y ? 0 : 3;
    int bi = red_on_y ? 1 : 2, bi2 = red_on_y ? 3 : 0;
    int rj = red_on_x ? 2 : 1, rj2 = red_on_x ? 0 : 3;
    int bj = red_on_x ? 1 : 2, bj2 = red_on_x ? 3 : 0;
    int red = 9 * s(ri, rj) + 3 * s(ri, rj2) + 3 * s(ri2, rj) + s(ri2, rj2);
    int blue = 9 * s(bi, bj) + 3 * s(bi, bj2) + 3 * s(bi2, bj) + s(bi2, bj2);
    int green = red_on_y != red_on_x ? s(2, 2) + s(1, 1) : s(1, 2) + s(2, 1);
    T* o = job.Out(y, x);
    o[0] = static_cast<T>(Scale<T>(blue, job.blue_factor, job.max_value));
    o[1] = static_cast<T>(std::min(green >> 1, job.max_value));
    o[2] = static_cast<T>(Scale<T>(red, job.red_factor, job.max_value));
}

// The two outer rows and columns on every side. The full-width rows run the
// interior kernel over folded source rows; only the edge columns need the
// folded window pixel by pixel.
template <typename T>
void BorderAll(const Job<T>& job, DemosaicSimd simd) {
    const int w = job.width, h = job.height;
    int edges[4];
    int edge_count = 0;
    for (int x : {0, 1, w - 2, w - 1}) {
        bool seen = false;
        for (int i = 0; i < edge_count; ++i) seen = seen || edges[i] == x;
        if (x >= 0 && x < w && !seen) edges[edge_count++] = x;
    }
    int columns[4][4];
    for (int e = 0; e < edge_count; ++e) {
        for (int i = 0; i < 4; ++i) columns[e][i] = Fold(edges[e] - 2 + i, w);
    }
    const int vector_end = VectorEnd(job, simd);
    for (int y = 0; y < h; ++y) {
        const bool full = y < 2 || y >= h - 2;
        if (!full && edge_count == 0) continue;
        const T* rows[4];
        for (int i = 0; i < 4; ++i) rows[i] = job.Row(Fold(y - 2 + i, h));
        if (full && w > 4) InteriorRow(job, y, rows, simd, vector_end);
        for (int e = 0; e < edge_count; ++e) BorderPixel(job, y, edges[e], rows, columns[e]);
    }
}

template <typename T>
bool MakeJob(Job<T>& job, uint8_t* dst_bits, const uint8_t* src_bits, const Rect& rect, int dst_x,
             int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
             void** param1) {
    if (dst_bits == nullptr || src_bits == nullptr || param1 == nullptr || *param1 == nullptr) {
        return false;
    }
    if (src_bpp != sizeof(T) || dst_bpp < 3 * sizeof(T)) return false;
    const auto* params = static_cast<const DemosaicParams*>(*param1);
    job.width = rect.right - rect.left;
    job.height = rect.bottom - rect.top;
    if (job.width <= 0 || job.height <= 0) return false;
    job.src = src_bits + static_cast<intptr_t>(rect.top) * src_stride +
              static_cast<intptr_t>(rect.left) * src_bpp;
    job.dst = dst_bits + static_cast<intptr_t>(dst_row) * dst_stride +
              static_cast<intptr_t>(dst_x) * dst_bpp;
    job.src_stride = src_stride;
    job.dst_stride = dst_stride;
    job.dst_bpp = dst_bpp;
    const PhaseCell cell = kCells[params->phase & 3];
    job.red_row = cell.red_row;
    job.red_col = cell.red_col;
    job.red_factor = GainFactor(params->red_gain);
    job.blue_factor = GainFactor(params->blue_gain);
    job.max_value = sizeof(T) == 1 ? 255 : 4095;
    return true;
}

template <typename T>
int Inner(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& rect, int dst_x, int dst_row,
          uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void** param1) {
    Job<T> job;
    if (!MakeJob(job, dst_bits, src_bits, rect, dst_x, dst_row, dst_bpp, src_bpp, dst_stride,
                 src_stride, param1)) {
        return 1;
    }
    if (job.width <= 4 || job.height <= 4) return 1;
    const DemosaicSimd simd = ActiveKernel();
    const int rows = job.height - 4;
    RowPool::Instance().Run(DemosaicThreads(), rows, [&](int begin, int end) {
        InteriorRows(job, 2 + begin, 2 + end, simd);
    });
    return 1;
}

template <typename T>
int Border(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& rect, int dst_x, int dst_row,
           uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride, void** param1) {
    Job<T> job;
    if (MakeJob(job, dst_bits, src_bits, rect, dst_x, dst_row, dst_bpp, src_bpp, dst_stride,
                src_stride, param1)) {
        BorderAll(job, ActiveKernel());
    }
    return 1;
}

template <typename T, typename Sum>
int Measure(const uint8_t* src_bits, const Rect& rect, uint16_t src_bpp, int src_stride,
            void** param1) {
    if (param1 == nullptr || *param1 == nullptr) return 1;
    auto* params = static_cast<BalanceParams*>(*param1);
    const PhaseCell cell = kCells[params->phase & 3];
    Sum sums[3] = {0, 0, 0};  // blue, green, red
    uint64_t counts[3] = {0, 0, 0};
    // An image of another sample size is not measured (its rows are shorter
    // than the samples would reach); it gives neutral gains like a rectangle
    // lacking a colour.
    const bool readable = src_bits != nullptr && src_bpp == sizeof(T);
    const int w = readable ? rect.right - rect.left : 0;
    const int h = readable ? rect.bottom - rect.top : 0;
    for (int y = 0; y < h; ++y) {
        const T* row = reinterpret_cast<const T*>(src_bits + static_cast<intptr_t>(rect.top + y) *
                                                                 src_stride) +
                       rect.left;
        bool red_row = (y & 1) == cell.red_row;
        // Even and odd columns of this row: on a red row red and green, on a
        // blue row green and blue.
        ParitySums row_sums;
        if constexpr (sizeof(T) == 1) {
            AddParitySums8(row, w, -1, row_sums);
        } else {
            AddParitySums16(row, w, -1, row_sums);
        }
        const auto even = static_cast<Sum>(row_sums.sum[0]);
        const auto odd = static_cast<Sum>(row_sums.sum[1]);
        uint64_t n_even = static_cast<uint64_t>((w + 1) / 2), n_odd = static_cast<uint64_t>(w / 2);
        int even_colour = red_row ? (cell.red_col == 0 ? 2 : 1) : (cell.red_col == 0 ? 1 : 0);
        int odd_colour = red_row ? (cell.red_col == 0 ? 1 : 2) : (cell.red_col == 0 ? 0 : 1);
        sums[even_colour] += even;
        counts[even_colour] += n_even;
        sums[odd_colour] += odd;
        counts[odd_colour] += n_odd;
    }
    if (w <= 0 || h <= 0 || counts[0] == 0 || counts[1] == 0 || counts[2] == 0 || sums[0] == 0 ||
        sums[1] == 0 || sums[2] == 0) {
        // A rectangle lacking a colour, or with a colour all black, gives no
        // usable ratio: the gains stay neutral.
        params->blue = 100;
        params->green = 100;
        params->red = 100;
        return 1;
    }
    double mb = static_cast<double>(sums[0]) / static_cast<double>(counts[0]);
    double mg = static_cast<double>(sums[1]) / static_cast<double>(counts[1]);
    double mr = static_cast<double>(sums[2]) / static_cast<double>(counts[2]);
    double sum = mg + mb + mr;
    double t = sum / mg / 3;
    params->blue = static_cast<int32_t>(std::min(sum / mb / 3 * 100 / t, 2147483647.0));
    params->green = 100;
    params->red = static_cast<int32_t>(std::min(sum / mr / 3 * 100 / t, 2147483647.0));
    return 1;
}

}  // namespace

int BayerColour(int phase, int row, int column) {
    const PhaseCell cell = kCells[phase & 3];
    bool r = (row & 1) == cell.red_row, c = (column & 1) == cell.red_col;
    if (r && c) return 2;
    if (!r && !c) return 0;
    return 1;
}

int EffectivePhase(int bayer_mode, int mirror_h, int mirror_v) {
    int phase = bayer_mode & 3;
    if (mirror_v) phase ^= 1;  // 0<->1, 2<->3
    if (mirror_h) phase ^= 2;  // 0<->2, 1<->3
    return phase;
}

int32_t GainFactor(int32_t gain_percent) {
    return static_cast<int32_t>(ClampedGain(gain_percent) * 1.28);
}

int DemosaicInner8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                   int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                   void** param1, void** /*param2*/) {
    return Inner<uint8_t>(dst_bits, src_bits, src_rect, dst_x, dst_row, dst_bpp, src_bpp,
                          dst_stride, src_stride, param1);
}

int DemosaicBorder8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                    int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                    void** param1, void** /*param2*/) {
    return Border<uint8_t>(dst_bits, src_bits, src_rect, dst_x, dst_row, dst_bpp, src_bpp,
                           dst_stride, src_stride, param1);
}

int DemosaicInner16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                    int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
                    void** param1, void** /*param2*/) {
    return Inner<uint16_t>(dst_bits, src_bits, src_rect, dst_x, dst_row, dst_bpp, src_bpp,
                           dst_stride, src_stride, param1);
}

int DemosaicBorder16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
                     int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride,
                     int src_stride, void** param1, void** /*param2*/) {
    return Border<uint16_t>(dst_bits, src_bits, src_rect, dst_x, dst_row, dst_bpp, src_bpp,
                            dst_stride, src_stride, param1);
}

int MeasureBalance8(uint8_t* /*dst_bits*/, const uint8_t* src_bits, const Rect& src_rect,
                    int /*dst_x*/, int /*dst_row*/, uint16_t /*dst_bpp*/, uint16_t src_bpp,
                    int /*dst_stride*/, int src_stride, void** param1, void** /*param2*/) {
    return Measure<uint8_t, uint32_t>(src_bits, src_rect, src_bpp, src_stride, param1);
}

int MeasureBalance16(uint8_t* /*dst_bits*/, const uint8_t* src_bits, const Rect& src_rect,
                     int /*dst_x*/, int /*dst_row*/, uint16_t /*dst_bpp*/, uint16_t src_bpp,
                     int /*dst_stride*/, int src_stride, void** param1, void** /*param2*/) {
    return Measure<uint16_t, uint64_t>(src_bits, src_rect, src_bpp, src_stride, param1);
}

int ConvertToColour(CDibImage* dst, CDibImage* src, ColourSettings& s, bool* gains_measured) {
    if (gains_measured != nullptr) *gains_measured = false;
    if (dst == nullptr || src == nullptr) return 1;
    const int phase = EffectivePhase(s.bayer_mode, s.mirror_h, s.mirror_v);
    const bool deep = src->bit_count() == 16;
    if (s.gain_auto) {
        BalanceParams balance;
        balance.phase = phase;
        void* p = &balance;
        CDibImage::ConvertBlit(src, deep ? MeasureBalance16 : MeasureBalance8, src, nullptr, 0, 0,
                               &p, nullptr);
        s.gain_red = std::min(balance.red, 400);
        s.gain_green = std::min(balance.green, 400);
        s.gain_blue = std::min(balance.blue, 400);
        if (gains_measured != nullptr) *gains_measured = true;
        if (s.balance_request[0] && s.balance_request[1]) {
            s.gain_auto = 0;
            s.balance_request[0] = 0;
            s.balance_request[1] = 0;
        }
    }
    DemosaicParams params{phase, s.gain_red, s.gain_green, s.gain_blue};
    void* p = &params;
    CDibImage::ConvertBlit(dst, deep ? DemosaicInner16 : DemosaicInner8, src, nullptr, 0, 0, &p,
                           nullptr);
    CDibImage::ConvertBlit(dst, deep ? DemosaicBorder16 : DemosaicBorder8, src, nullptr, 0, 0, &p,
                           nullptr);
    return 1;
}

int SetDemosaicThreads(int threads) {
    return g_threads.exchange(std::max(threads, 0));
}

int DemosaicThreads() {
    int t = g_threads.load(std::memory_order_relaxed);
    return t == 0 ? RowPool::Instance().Cores() : t;
}

}  // namespace vimbra
