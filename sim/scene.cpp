#include "sim/scene.h"

#include <algorithm>
#include <cstring>

namespace vimbra::sim {
namespace {

enum Band { kBars = 0, kRamp = 1, kStripes = 2, kSteps = 3, kBox = 4 };
// Colour filter of a sensor site, indexed by (row & 1) * 2 + (column & 1):
// even rows G R, odd rows B G.
enum Cfa { kG1 = 0, kR = 1, kB = 2, kG2 = 3 };

constexpr int kFull = 4095;
constexpr int kBarLevel = 3000;

// Band of a scene row: bars over the top 45 %, then ramp, stripes, steps.
int BandOfSceneRow(int y) {
    constexpr int h = SceneRenderer::kSceneHeight;
    if (y < h * 45 / 100) return kBars;
    if (y < h * 60 / 100) return kRamp;
    if (y < h * 85 / 100) return kStripes;
    return kSteps;
}

// Sensor coordinate of output index k: skipping keeps pairs of sites so the
// mosaic survives (0, 1, 2d, 2d + 1, ...).
int SensorIndex(int start, int k, int divisor) {
    return divisor == 1 ? start + k : start + (k / 2) * 2 * divisor + (k & 1);
}

int Triangle(int phase, int period) {
    const int half = period / 2;
    const int p = phase % period;
    return p < half ? p * kFull / half : (period - p) * kFull / half;
}

}  // namespace

uint16_t SceneRenderer::Sample(int band, int scene_x, int cfa, int extra) const {
    int r = 0, g = 0, b = 0;
    const int x = std::clamp(scene_x, 0, kSceneWidth - 1);
    switch (band) {
        case kBars: {
            // White, yellow, cyan, green, magenta, red, blue, black.
            static constexpr int kBarsRgb[8][3] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0},
                                                   {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
            const int* c = kBarsRgb[x * 8 / kSceneWidth];
            r = c[0] * kBarLevel;
            g = c[1] * kBarLevel;
            b = c[2] * kBarLevel;
            break;
        }
        case kRamp:
            r = g = b = x * kFull / (kSceneWidth - 1);
            break;
        case kStripes:
            // `extra` is the phase within the scrolling period.
            r = Triangle(extra, scroll_period_);
            g = Triangle(extra + scroll_period_ / 3, scroll_period_);
            b = Triangle(extra + 2 * scroll_period_ / 3, scroll_period_);
            break;
        case kSteps:
            r = g = b = (x * 11 / kSceneWidth) * kFull / 10;
            break;
        default:
            r = g = b = kFull;
            break;  // the box
    }
    int value;
    int gain;
    if (params_.mono) {
        // A monochrome sensor still has four site classes of slightly
        // different sensitivity; the grey calibration evens them out.
        // In 1/128 by site: even rows 128, 102; odd rows 115, 128.
        static constexpr int kSensitivity[4] = {128, 102, 115, 128};
        value = ((77 * r + 150 * g + 29 * b) >> 8) * kSensitivity[cfa] / 128;
        gain = params_.gain_g1;
    } else {
        switch (cfa) {
            case kG1:
                value = g, gain = params_.gain_g1;
                break;
            case kB:
                value = b, gain = params_.gain_b;
                break;
            case kR:
                value = r, gain = params_.gain_r;
                break;
            default:
                value = g, gain = params_.gain_g2;
                break;
        }
    }
    // Unit gains are 14; exposure is relative to the default shutter width.
    const double scaled = static_cast<double>(value) * (gain / double{kDefaultColourGain}) *
                          (params_.shutter / double{kDefaultShutterWidth});
    const int v = static_cast<int>(std::min(scaled, static_cast<double>(kFull)));
    return static_cast<uint16_t>(params_.depth16 ? v : v >> 4);
}

void SceneRenderer::BuildRow(int band, int parity, std::vector<uint8_t>* row) const {
    const int w = params_.width;
    const int length = w + scroll_period_;
    row->assign(static_cast<size_t>(length) * bps_, 0);
    for (int j = 0; j < length; ++j) {
        // Beyond the width the columns repeat the last two phases of the mosaic.
        const int col = j < w ? column_sensor_[j] : column_sensor_[w - 2 + (j & 1)];
        const int scene_x = j < w ? col - kSensorOriginColumn : kSceneWidth - 1;
        const int cfa = parity * 2 + (col & 1);
        const uint16_t s = Sample(band, scene_x, cfa, j % scroll_period_);
        if (bps_ == 2) {
            (*row)[2 * j] = static_cast<uint8_t>(s);
            (*row)[2 * j + 1] = static_cast<uint8_t>(s >> 8);
        } else {
            (*row)[j] = static_cast<uint8_t>(s);
        }
    }
}

void SceneRenderer::Prepare(const SceneParams& params) {
    params_ = params;
    prepared_ = true;
    bps_ = params.depth16 ? 2 : 1;
    const int w = params.width, h = params.height;
    if (w < 2 || h < 1) return;
    column_sensor_.resize(w);
    for (int j = 0; j < w; ++j) {
        const int k = params.mirror_h ? w - 1 - j : j;
        column_sensor_[j] = SensorIndex(params.col_start & ~1, k, params.divisor);
    }
    row_band_.resize(h);
    row_parity_.resize(h);
    for (int i = 0; i < h; ++i) {
        const int k = params.mirror_v ? h - 1 - i : i;
        const int row = SensorIndex(params.row_start & ~1, k, params.row_divisor);
        row_band_[i] = BandOfSceneRow(row - kSensorOriginRow);
        row_parity_[i] = static_cast<uint8_t>(row & 1);
    }
    for (int band = 0; band < 4; ++band)
        for (int parity = 0; parity < 2; ++parity) BuildRow(band, parity, &rows_[band][parity]);
    box_size_ = std::max(2, std::min(h, w) / 8) & ~1;
    for (int parity = 0; parity < 2; ++parity) {
        box_rows_[parity].assign(static_cast<size_t>(box_size_) * bps_, 0);
        for (int j = 0; j < box_size_ && j < w; ++j) {
            const uint16_t s = Sample(kBox, 0, parity * 2 + (column_sensor_[j] & 1), 0);
            if (bps_ == 2) {
                box_rows_[parity][2 * j] = static_cast<uint8_t>(s);
                box_rows_[parity][2 * j + 1] = static_cast<uint8_t>(s >> 8);
            } else {
                box_rows_[parity][j] = static_cast<uint8_t>(s);
            }
        }
    }
}

void SceneRenderer::Render(const SceneParams& params, uint64_t t, uint8_t* dst, size_t dst_size) {
    if (!prepared_ || !(params == params_)) Prepare(params);
    const int w = params_.width, h = params_.height;
    size_t pos = 0;
    if (w >= 2 && h >= 1) {
        const size_t row_bytes = static_cast<size_t>(w) * bps_;
        const int scroll = static_cast<int>((t * 8) % static_cast<uint64_t>(scroll_period_));
        // The box bounces between the edges; its column stays even to keep
        // the mosaic phase of its precomputed rows.
        auto bounce = [](uint64_t travel, int range) {
            if (range <= 0) return 0;
            const uint64_t p = travel % (2 * static_cast<uint64_t>(range));
            return static_cast<int>(p <= static_cast<uint64_t>(range) ? p : 2 * range - p);
        };
        const bool box = box_size_ <= w && box_size_ <= h;
        const int bx = box ? bounce(t * 12, w - box_size_) & ~1 : 0;
        const int by = box ? bounce(t * 7, h - box_size_) : 0;
        for (int i = 0; i < h && pos < dst_size; ++i) {
            const int band = row_band_[i];
            const int parity = row_parity_[i];
            const uint8_t* src = rows_[band][parity].data();
            if (band == kStripes) src += static_cast<size_t>(scroll) * bps_;
            const size_t n = std::min(row_bytes, dst_size - pos);
            std::memcpy(dst + pos, src, n);
            if (box && n == row_bytes && i >= by && i < by + box_size_)
                std::memcpy(dst + pos + static_cast<size_t>(bx) * bps_, box_rows_[parity].data(),
                            box_rows_[parity].size());
            pos += n;
        }
    }
    if (pos < dst_size) std::memset(dst + pos, 0, dst_size - pos);
}

}  // namespace vimbra::sim
