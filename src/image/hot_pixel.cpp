#include "image/hot_pixel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/demosaic.h"
#include "image/filters_internal.h"
#include "image/row_pool.h"

namespace vimbra {

namespace {

using pixel::At;
using pixel::Height;
using pixel::Param;
using pixel::Width;

// Colour of each position of the 2 x 2 pattern per phase: 0 blue, 1 green,
// 2 red, indexed [phase][row % 2][column % 2].
constexpr int kPattern[4][2][2] = {
    {{1, 0}, {2, 1}},
    {{2, 1}, {1, 0}},
    {{0, 1}, {1, 2}},
    {{1, 2}, {0, 1}},
};

// Copies the source rectangle to the destination position unless it is
// already there, so that the repair can work in place on the destination.
void CopyToDestination(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& r, int dst_x,
                       int dst_row, int dst_stride, int src_stride, int bpp) {
    const uint8_t* first_src = At(src_bits, r.top, r.left, src_stride, bpp);
    uint8_t* first_dst = At(dst_bits, dst_row, dst_x, dst_stride, bpp);
    if (first_src == first_dst && src_stride == dst_stride) return;
    const size_t bytes = static_cast<size_t>(Width(r)) * bpp;
    for (int i = 0; i < Height(r); ++i) {
        std::memmove(At(dst_bits, dst_row + i, dst_x, dst_stride, bpp),
                     At(src_bits, r.top + i, r.left, src_stride, bpp), bytes);
    }
}

// Colour test of HotPixel8 at (y, x) of the frame `p` (row stride `stride`):
// true when at least two of the channel differences of the demosaiced colour
// exceed 30.
bool Tinted(const uint8_t* p, ptrdiff_t stride, int y, int x, int phase, int red_factor,
            int blue_factor) {
    auto s = [&](int row, int col) -> int { return p[row * stride + col]; };
    int green_sum = 0;
    int red_y = y, red_x = x, blue_y = y, blue_x = x;
    for (int row = y - 1; row <= y; ++row) {
        for (int col = x - 1; col <= x; ++col) {
            switch (kPattern[phase][row & 1][col & 1]) {
                case 1:
                    green_sum += s(row, col);
                    break;
                case 2:
                    red_y = row;
                    red_x = col;
                    break;
                default:
                    blue_y = row;
                    blue_x = col;
                    break;
            }
        }
    }
    auto weighted = [&](int cy, int cx) {
        const int oy = cy == y ? y - 2 : y + 1;
        const int ox = cx == x ? x - 2 : x + 1;
        return 9 * s(cy, cx) + 3 * s(cy, ox) + 3 * s(oy, cx) + s(oy, ox);
    };
    const int red = ((weighted(red_y, red_x) * red_factor) >> 11) & 0xFF;
    const int blue = ((weighted(blue_y, blue_x) * blue_factor) >> 11) & 0xFF;
    const int green = green_sum >> 1;
    const int differing =
        (std::abs(red - green) > 30) + (std::abs(red - blue) > 30) + (std::abs(green - blue) > 30);
    return differing >= 2;
}

inline void SetBit(uint64_t* row_bits, int x) {
    row_bits[x >> 6] |= uint64_t{1} << (x & 63);
}

// Sets the flags of the 32 columns from x on from the bits of `mask`.
inline void SetBits(uint64_t* row_bits, int x, uint32_t mask) {
    if (mask == 0) return;
    const int word = x >> 6, offset = x & 63;
    row_bits[word] |= uint64_t{mask} << offset;
    // Only flags of existing columns reach the next word: the word after the
    // row's last is never touched (there is none).
    const uint64_t spill = offset > 32 ? uint64_t{mask} >> (64 - offset) : 0;
    if (spill != 0) row_bits[word + 1] |= spill;
}

// Flags the candidates of one row from column 2 on with `Candidates`, which
// gives the flags of kBlock samples, as far as whole blocks reach without
// reading past column w - 1; the rest as one more block ending at column
// w - 3 (the columns it shares with the last block get the same flags
// again). Returns the first column left to the scalar test. Always inlined,
// so that the candidate test is inlined into each path's kernel.
template <int kBlock, class T, uint32_t (*Candidates)(const T*, ptrdiff_t, int)>
__attribute__((always_inline)) inline int MarkInBlocks(const T* row, ptrdiff_t stride, int w,
                                                       int threshold, uint64_t* row_bits) {
    int x = 2;
    for (; x + kBlock <= w - 2; x += kBlock) {
        SetBits(row_bits, x, Candidates(row + x, stride, threshold));
    }
    if (x < w - 2 && w - 2 - kBlock >= 2) {
        SetBits(row_bits, w - 2 - kBlock, Candidates(row + (w - 2 - kBlock), stride, threshold));
        x = w - 2;
    }
    return x;
}

#if VIMBRA_X86_SIMD
__attribute__((target("avx512f,avx512bw"))) inline __m512i Load8(const uint8_t* q) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
}
__attribute__((target("avx512f,avx512bw"))) inline __m512i Load16(const uint16_t* q) {
    return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(q)));
}

// Candidates of HotPixel8 among the 32 samples at row[0..31]: one bit each.
__attribute__((target("avx512f,avx512bw"))) inline uint32_t Candidates8(const uint8_t* row,
                                                                        ptrdiff_t stride,
                                                                        int threshold) {
    const __m512i sum =
        _mm512_add_epi16(_mm512_add_epi16(Load8(row - 2), Load8(row + 2)),
                         _mm512_add_epi16(Load8(row - 2 * stride), Load8(row + 2 * stride)));
    const __m512i diff = _mm512_sub_epi16(Load8(row), _mm512_srli_epi16(sum, 2));
    return _mm512_cmpge_epi16_mask(diff, _mm512_set1_epi16(static_cast<int16_t>(threshold)));
}

// Candidates of HotPixel16 among the 16 samples at row[0..15].
__attribute__((target("avx512f,avx512bw"))) inline uint32_t Candidates16(const uint16_t* row,
                                                                         ptrdiff_t stride,
                                                                         int threshold) {
    const __m512i sum =
        _mm512_add_epi32(_mm512_add_epi32(Load16(row - 2), Load16(row + 2)),
                         _mm512_add_epi32(Load16(row - 2 * stride), Load16(row + 2 * stride)));
    const __m512i diff = _mm512_abs_epi32(_mm512_sub_epi32(Load16(row), _mm512_srli_epi32(sum, 2)));
    return _mm512_cmpge_epi32_mask(diff, _mm512_set1_epi32(threshold));
}

// MarkInBlocks with the candidate tests of each path.
__attribute__((target("avx512f,avx512bw"))) int MarkRow8(const uint8_t* row, ptrdiff_t stride,
                                                         int w, int threshold, uint64_t* row_bits) {
    return MarkInBlocks<32, uint8_t, Candidates8>(row, stride, w, threshold, row_bits);
}
__attribute__((target("avx512f,avx512bw"))) int MarkRow16(const uint16_t* row, ptrdiff_t stride,
                                                          int w, int threshold,
                                                          uint64_t* row_bits) {
    return MarkInBlocks<16, uint16_t, Candidates16>(row, stride, w, threshold, row_bits);
}

__attribute__((target("avx2"))) inline __m256i Load8Avx2(const uint8_t* q) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}
__attribute__((target("avx2"))) inline __m256i Load16Avx2(const uint16_t* q) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}

// The AVX2 twin of Candidates8: two registers of sixteen 16-bit lanes, the
// compare results packed to one bit per sample.
__attribute__((target("avx2"))) inline uint32_t Candidates8Avx2(const uint8_t* row,
                                                                ptrdiff_t stride, int threshold) {
    const __m256i limit = _mm256_set1_epi16(static_cast<int16_t>(threshold));
    auto below = [&](const uint8_t* q) __attribute__((target("avx2"))) {
        const __m256i sum = _mm256_add_epi16(
            _mm256_add_epi16(Load8Avx2(q - 2), Load8Avx2(q + 2)),
            _mm256_add_epi16(Load8Avx2(q - 2 * stride), Load8Avx2(q + 2 * stride)));
        const __m256i diff = _mm256_sub_epi16(Load8Avx2(q), _mm256_srli_epi16(sum, 2));
        return _mm256_cmpgt_epi16(limit, diff);  // diff < threshold
    };
    const __m256i packed =
        _mm256_permute4x64_epi64(_mm256_packs_epi16(below(row), below(row + 16)), 0xD8);
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(packed));
}

// The AVX2 twin of Candidates16: two registers of eight 32-bit lanes.
__attribute__((target("avx2"))) inline uint32_t Candidates16Avx2(const uint16_t* row,
                                                                 ptrdiff_t stride, int threshold) {
    const __m256i limit = _mm256_set1_epi32(threshold);
    auto below = [&](const uint16_t* q) __attribute__((target("avx2"))) {
        const __m256i sum = _mm256_add_epi32(
            _mm256_add_epi32(Load16Avx2(q - 2), Load16Avx2(q + 2)),
            _mm256_add_epi32(Load16Avx2(q - 2 * stride), Load16Avx2(q + 2 * stride)));
        const __m256i diff =
            _mm256_abs_epi32(_mm256_sub_epi32(Load16Avx2(q), _mm256_srli_epi32(sum, 2)));
        return static_cast<uint32_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(limit, diff))));
    };
    return ~(below(row) | (below(row + 8) << 8)) & 0xFFFF;
}

__attribute__((target("avx2"))) int MarkRow8Avx2(const uint8_t* row, ptrdiff_t stride, int w,
                                                 int threshold, uint64_t* row_bits) {
    return MarkInBlocks<32, uint8_t, Candidates8Avx2>(row, stride, w, threshold, row_bits);
}
__attribute__((target("avx2"))) int MarkRow16Avx2(const uint16_t* row, ptrdiff_t stride, int w,
                                                  int threshold, uint64_t* row_bits) {
    return MarkInBlocks<16, uint16_t, Candidates16Avx2>(row, stride, w, threshold, row_bits);
}
#endif

#if VIMBRA_NEON_SIMD
// Candidates of HotPixel8 among the 16 samples at row[0..15], on NEON: the
// compare results weighted by their bit and summed per half.
inline uint32_t Candidates8Neon(const uint8_t* row, ptrdiff_t stride, int threshold) {
    const int16x8_t limit = vdupq_n_s16(static_cast<int16_t>(threshold));
    const uint8x16_t left = vld1q_u8(row - 2), right = vld1q_u8(row + 2);
    const uint8x16_t up = vld1q_u8(row - 2 * stride), down = vld1q_u8(row + 2 * stride);
    const uint8x16_t centre = vld1q_u8(row);
    const uint16x8_t sum_lo = vaddq_u16(vaddl_u8(vget_low_u8(left), vget_low_u8(right)),
                                        vaddl_u8(vget_low_u8(up), vget_low_u8(down)));
    const uint16x8_t sum_hi = vaddq_u16(vaddl_high_u8(left, right), vaddl_high_u8(up, down));
    const int16x8_t diff_lo =
        vreinterpretq_s16_u16(vsubq_u16(vmovl_u8(vget_low_u8(centre)), vshrq_n_u16(sum_lo, 2)));
    const int16x8_t diff_hi =
        vreinterpretq_s16_u16(vsubq_u16(vmovl_high_u8(centre), vshrq_n_u16(sum_hi, 2)));
    const uint8x16_t hit =
        vcombine_u8(vmovn_u16(vcgeq_s16(diff_lo, limit)), vmovn_u16(vcgeq_s16(diff_hi, limit)));
    static const uint8_t kBits[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t bits = vandq_u8(hit, vld1q_u8(kBits));
    return vaddv_u8(vget_low_u8(bits)) | (static_cast<uint32_t>(vaddv_u8(vget_high_u8(bits))) << 8);
}

// MarkRow8 on NEON, sixteen samples a block.
int MarkRow8Neon(const uint8_t* row, ptrdiff_t stride, int w, int threshold, uint64_t* row_bits) {
    return MarkInBlocks<16, uint8_t, Candidates8Neon>(row, stride, w, threshold, row_bits);
}
#endif

// Candidate and dirty flags of the scan, one bit per sample of a row; kept
// per thread so that a frame allocates nothing once the sizes are known.
thread_local std::vector<uint64_t> t_candidates;
thread_local std::vector<uint64_t> t_dirty;

// The row-by-row scan of the repair with the mean test done ahead by vector
// code. `mark(y, row_bits)` flags every sample of row y whose mean test
// passes on the frame as it is when called; the scan visits, in order, the
// flagged samples and those that a repair since may have changed the outcome
// of (everything a repair at (y, x) can reach: columns x + 1, x + 2 of its
// row and x - 2 .. x + 2 of the next two rows), and runs the full test there
// (`visit(y, x)`, true when it repaired). Every other sample sees exactly the
// data it was flagged on, so the plain scan would not have repaired it
// either. On one thread each row is flagged just before its turn, while its
// rows are in the cache; on more, all rows are flagged first, split over
// the threads, on the unmodified frame, and the scan that repairs follows.
template <class Mark, class Visit>
void FlaggedScan(int w, int h, Mark mark, Visit visit) {
    const int words = (w + 63) / 64;
    const int threads = pixel::RowThreads();
    const bool ahead = threads > 1 && h - 4 >= 2 * RowPool::kMinRowsPerPart;
    std::vector<uint64_t>& flags = t_candidates;  // the current row's, or every row's
    flags.assign(static_cast<size_t>(ahead ? h : 1) * words, 0);
    if (ahead) {
        uint64_t* all = flags.data();
        pixel::SplitRowsOver(threads, h - 4, [&](int begin, int end) {
            for (int y = begin + 2; y < end + 2; ++y) mark(y, all + static_cast<size_t>(y) * words);
        });
    }
    std::vector<uint64_t>& dirty = t_dirty;  // rows y, y + 1, y + 2 in turn
    dirty.assign(static_cast<size_t>(3) * words, 0);
    for (int y = 2; y <= h - 3; ++y) {
        uint64_t* cand = flags.data();
        if (ahead) {
            cand += static_cast<size_t>(y) * words;
        } else {
            mark(y, cand);  // the flags of the row before were all cleared by its scan
        }
        uint64_t* cur = &dirty[static_cast<size_t>(y % 3) * words];
        uint64_t* next1 = &dirty[static_cast<size_t>((y + 1) % 3) * words];
        uint64_t* next2 = &dirty[static_cast<size_t>((y + 2) % 3) * words];
        for (int word = 0; word < words; ++word) {
            for (;;) {
                const uint64_t pending = cand[word] | cur[word];
                if (pending == 0) break;
                const int bit = __builtin_ctzll(pending);
                const uint64_t one = uint64_t{1} << bit;
                cand[word] &= ~one;
                cur[word] &= ~one;
                const int x = word * 64 + bit;
                if (x < 2 || x > w - 3 || !visit(y, x)) continue;
                for (int c = x + 1; c <= std::min(x + 2, w - 1); ++c) SetBit(cur, c);
                for (int c = std::max(x - 2, 0); c <= std::min(x + 2, w - 1); ++c) {
                    SetBit(next1, c);
                    SetBit(next2, c);
                }
            }
        }
        std::fill(cur, cur + words, 0);
    }
}

// The kernel that flags a row from column 2 on for the path in use; it
// returns the first column it left to the scalar test (2: none done).
template <class T>
using MarkRowFn = int (*)(const T*, ptrdiff_t, int, int, uint64_t*);

int NoMark8(const uint8_t*, ptrdiff_t, int, int, uint64_t*) {
    return 2;
}
int NoMark16(const uint16_t*, ptrdiff_t, int, int, uint64_t*) {
    return 2;
}

MarkRowFn<uint8_t> MarkRow8Kernel() {
#if VIMBRA_X86_SIMD
    if (simd::Avx512()) return MarkRow8;
    if (simd::Avx2()) return MarkRow8Avx2;
#endif
#if VIMBRA_NEON_SIMD
    if (simd::Neon()) return MarkRow8Neon;
#endif
    return NoMark8;
}
MarkRowFn<uint16_t> MarkRow16Kernel() {
#if VIMBRA_X86_SIMD
    if (simd::Avx512()) return MarkRow16;
    if (simd::Avx2()) return MarkRow16Avx2;
#endif
    return NoMark16;
}

// Whether the flagged scan pays: with a vector kernel, or with the rows to
// flag split over threads; else the plain scan, which tests as it goes.
bool UseFlaggedScan(bool vector_kernel) {
    return vector_kernel || pixel::RowThreads() > 1;
}

}  // namespace

int HotPixel8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
              int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
              void** param1, void** param2) {
    const DemosaicParams* params = Param<DemosaicParams>(param1);
    if (params == nullptr || dst_bpp != 1 || src_bpp != 1) return 0;
    const int32_t* threshold_param = Param<int32_t>(param2);
    const int threshold = threshold_param != nullptr ? *threshold_param : kHotPixelThreshold8;
    const int phase = params->phase & 3;
    // The demosaic's factors, gains held to 0..400, so the weighted sums of
    // the colour test stay within int for any gain.
    const int red_factor = GainFactor(params->red_gain);
    const int blue_factor = GainFactor(params->blue_gain);
    CopyToDestination(dst_bits, src_bits, src_rect, dst_x, dst_row, dst_stride, src_stride, 1);
    const int w = Width(src_rect);
    const int h = Height(src_rect);
    if (w <= 4 || h <= 4) return 0;
    uint8_t* p = At(dst_bits, dst_row, dst_x, dst_stride, 1);
    const ptrdiff_t stride = dst_stride;
    int count = 0;
    auto mean = [&](const uint8_t* row, int x) {
        return (row[x - 2] + row[x + 2] + row[x - 2 * stride] + row[x + 2 * stride]) >> 2;
    };
    // The full test at (y, x), repairing in place.
    auto visit = [&](int y, int x) {
        uint8_t* row = p + y * stride;
        const int avg = mean(row, x);
        if (row[x] - avg < threshold) return false;
        if (!Tinted(p, stride, y, x, phase, red_factor, blue_factor)) return false;
        row[x] = static_cast<uint8_t>(avg);
        ++count;
        return true;
    };
    const MarkRowFn<uint8_t> mark_row = MarkRow8Kernel();
    if (UseFlaggedScan(mark_row != NoMark8)) {
        const int limit = std::clamp(threshold, -32768, 32767);
        FlaggedScan(
            w, h,
            [&](int y, uint64_t* row_bits) {
                const uint8_t* row = p + y * stride;
                for (int x = mark_row(row, stride, w, limit, row_bits); x <= w - 3; ++x) {
                    if (row[x] - mean(row, x) >= threshold) SetBit(row_bits, x);
                }
            },
            visit);
        return count;
    }
    for (int y = 2; y <= h - 3; ++y) {
        for (int x = 2; x <= w - 3; ++x) visit(y, x);
    }
    return count;
}

int HotPixel16(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& src_rect, int dst_x,
               int dst_row, uint16_t dst_bpp, uint16_t src_bpp, int dst_stride, int src_stride,
               void** param1, void** param2) {
    (void)param1;
    if (dst_bpp != 2 || src_bpp != 2 || dst_stride % 2 != 0) return 0;
    const int32_t* threshold_param = Param<int32_t>(param2);
    const int threshold = threshold_param != nullptr ? *threshold_param : kHotPixelThreshold16;
    CopyToDestination(dst_bits, src_bits, src_rect, dst_x, dst_row, dst_stride, src_stride, 2);
    const int w = Width(src_rect);
    const int h = Height(src_rect);
    if (w <= 4 || h <= 4) return 0;
    auto* p = reinterpret_cast<uint16_t*>(At(dst_bits, dst_row, dst_x, dst_stride, 2));
    const ptrdiff_t stride = dst_stride / 2;
    auto mean = [&](const uint16_t* row, int x) {
        return (row[x - 2] + row[x + 2] + row[x - 2 * stride] + row[x + 2 * stride]) >> 2;
    };
    auto visit = [&](int y, int x) {
        uint16_t* row = p + y * stride;
        const int s = row[x];
        const int avg = mean(row, x);
        if (std::abs(s - avg) < threshold) return false;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                if ((dy != 0 || dx != 0) && std::abs(row[dy * stride + x + dx] - s) < threshold) {
                    return false;
                }
            }
        }
        row[x] = static_cast<uint16_t>(avg);
        return true;
    };
    const MarkRowFn<uint16_t> mark_row = MarkRow16Kernel();
    if (UseFlaggedScan(mark_row != NoMark16)) {
        FlaggedScan(
            w, h,
            [&](int y, uint64_t* row_bits) {
                const uint16_t* row = p + y * stride;
                for (int x = mark_row(row, stride, w, threshold, row_bits); x <= w - 3; ++x) {
                    if (std::abs(row[x] - mean(row, x)) >= threshold) SetBit(row_bits, x);
                }
            },
            visit);
        return 0;
    }
    for (int y = 2; y <= h - 3; ++y) {
        for (int x = 2; x <= w - 3; ++x) visit(y, x);
    }
    return 0;
}

}  // namespace vimbra
