// The virtual camera's picture: colour bars, a grey ramp, a scrolling stripe
// band, grey steps and a bouncing box, seen through the sensor's readout
// (window, skipping, mirrors, colour mosaic) and its gains. The mosaic is
// G R / B G from the even sensor rows and columns; a window starts on an even
// row and column, and a mirror reverses the readout, so a mirrored frame
// starts on the odd row or column of the last mosaic cell. Rows are built
// once per setting change; a frame is then mostly memcpy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/protocol.h"

namespace vimbra::sim {

// Everything about the readout that shapes the picture.
struct SceneParams {
    bool mono = false;
    bool depth16 = false;
    int width = 0;   // output samples per row
    int height = 0;  // output rows
    int row_start = 54;
    int col_start = 16;
    int divisor = 1;      // columns: 1, 2 or 4 (skipping or binning)
    int row_divisor = 1;  // rows: 1, 2 or 4
    bool mirror_h = false;
    bool mirror_v = false;
    int gain_g1 = 14, gain_b = 14, gain_r = 14, gain_g2 = 14;
    int shutter = 1970;

    bool operator==(const SceneParams&) const = default;
};

class SceneRenderer {
  public:
    // The scene fills the sensor's active array.
    static constexpr int kSceneWidth = kSensorWidth;
    static constexpr int kSceneHeight = kSensorHeight;

    // Writes frame `t` (motion time; constant for a still scene) into `dst`,
    // at most `dst_size` bytes: rows of params.width samples, then zeros.
    void Render(const SceneParams& params, uint64_t t, uint8_t* dst, size_t dst_size);

  private:
    void Prepare(const SceneParams& params);
    void BuildRow(int band, int parity, std::vector<uint8_t>* row) const;
    uint16_t Sample(int band, int scene_x, int cfa, int extra) const;

    bool prepared_ = false;
    SceneParams params_;
    int bps_ = 1;
    int scroll_period_ = 256;
    // Per band and sensor row parity: width + scroll_period samples.
    std::vector<uint8_t> rows_[4][2];
    std::vector<uint8_t> box_rows_[2];
    std::vector<int> column_sensor_;  // sensor column of each output column
    std::vector<int> row_band_;       // band of each output row
    std::vector<uint8_t> row_parity_;
    int box_size_ = 0;
};

}  // namespace vimbra::sim
