// Plain per-pixel Bayer demosaic used as the reference for the shipped
// routines: it finds each colour by looking it up in the phase table, walks
// to the neighbours and folds those outside the picture back inside by four.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vimbra::test {

// 'B', 'G' or 'R' at (row, column) for a phase.
inline char RefColour(int phase, int row, int column) {
    static const char* const kTable[4] = {"GBRG", "RGGB", "BGGR", "GRBG"};
    return kTable[phase][(row & 1) * 2 + (column & 1)];
}

inline int RefFold(int i, int n) {
    if (i < 0) i += 4;
    if (i >= n) i -= 4;
    return i;
}

struct RefFrame {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> samples;  // row-major
    uint32_t At(int row, int column) const {
        return samples[static_cast<size_t>(RefFold(row, height)) * width + RefFold(column, width)];
    }
};

struct RefPixel {
    uint32_t b, g, r;
};

// Demosaics output pixel (y, x); `max` is 255 or 4095.
inline RefPixel RefDemosaicPixel(const RefFrame& f, int phase, int red_gain, int blue_gain,
                                 uint32_t max, int y, int x) {
    auto interpolate = [&](char colour, int gain) -> uint32_t {
        int cy = -1, cx = -1;
        for (int dy = -1; dy <= 0; ++dy) {
            for (int dx = -1; dx <= 0; ++dx) {
                if (RefColour(phase, y + dy, x + dx) == colour) cy = y + dy, cx = x + dx;
            }
        }
        // The partner lies on the other side of the sampled point y - 1/2.
        int oy = cy == y ? y - 2 : y + 1;
        int ox = cx == x ? x - 2 : x + 1;
        int64_t sum = 9 * int64_t{f.At(cy, cx)} + 3 * int64_t{f.At(cy, ox)} +
                      3 * int64_t{f.At(oy, cx)} + int64_t{f.At(oy, ox)};
        int64_t factor = static_cast<int64_t>(gain * 1.28);
        int64_t v = sum * factor;
        return v >= (int64_t{max} + 1) << 11 ? max : static_cast<uint32_t>(v >> 11);
    };
    uint32_t green = 0;
    for (int dy = -1; dy <= 0; ++dy) {
        for (int dx = -1; dx <= 0; ++dx) {
            if (RefColour(phase, y + dy, x + dx) == 'G') green += f.At(y + dy, x + dx);
        }
    }
    return RefPixel{interpolate('B', blue_gain), std::min(green >> 1, max),
                    interpolate('R', red_gain)};
}

inline bool RefIsBorder(const RefFrame& f, int y, int x) {
    return y < 2 || x < 2 || y >= f.height - 2 || x >= f.width - 2;
}

}  // namespace vimbra::test
