// Sums of the samples of one row at even and at odd columns, which the
// balance measurements of mosaic frames add up per colour.
#pragma once

#include <cstdint>

namespace vimbra {

struct ParitySums {
    uint64_t sum[2] = {0, 0};      // even, odd columns
    uint64_t nonzero[2] = {0, 0};  // how many of the summed samples are not 0
};

// Adds the samples row[0 .. w) to `out`, leaving out those equal to `skip`
// (none when skip is negative).
void AddParitySums8(const uint8_t* row, int w, int skip, ParitySums& out);
void AddParitySums16(const uint16_t* row, int w, int skip, ParitySums& out);

}  // namespace vimbra
