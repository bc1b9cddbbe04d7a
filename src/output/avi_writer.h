// The RIFF writer of uncompressed AVI files: one video stream of bottom-up
// 24-bit B, G, R frames in "00db" chunks, followed by a legacy "idx1" index.
//
// Layout: the header (offsets 0..231) is written by Begin with placeholders
// (RIFF size, movi size, frame counts 0, 30 frames per second); frame chunks
// follow from offset 232; Finish appends the index and patches the sizes,
// the frame counts and the measured rate. Sizes are 32-bit, so a file stops
// taking frames before its RIFF size would pass 4 GiB.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/write_file.h"

namespace vimbra {

class CAviWriter {
  public:
    // Rates are hundredths of a frame per second; the header's initial rate.
    static constexpr uint32_t kInitialRate = 3000;
    // File offsets of the fields Finish patches.
    static constexpr uint32_t kRiffSizeOffset = 4;
    static constexpr uint32_t kMicroSecPerFrameOffset = 32;
    static constexpr uint32_t kFlagsOffset = 44;
    static constexpr uint32_t kTotalFramesOffset = 48;
    static constexpr uint32_t kScaleOffset = 128;
    static constexpr uint32_t kLengthOffset = 140;
    static constexpr uint32_t kMoviSizeOffset = 224;
    static constexpr uint32_t kHeaderSize = 232;

    // `max_riff_size` lowers the 32-bit limit on the RIFF size, for tests.
    explicit CAviWriter(uint32_t max_riff_size = UINT32_MAX) : max_riff_size_(max_riff_size) {}
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    // Resets, opens the file (truncating an existing one) and writes the
    // header for width x height frames. False, with nothing open, for a size
    // whose frames do not fit the 32-bit fields or a file that cannot be opened.
    bool Begin(const char* file_name, int32_t width, int32_t height);
    // True when one more frame and its index entry keep the RIFF size in range.
    bool HasRoomForFrame() const;
    // Appends one frame of chunk_size() bytes (rows padded to 4 bytes, bottom
    // row first) and its index entry. False when no file is open, there is no
    // room left, or the write failed (the frame is then cut off again).
    bool AppendFrame(const uint8_t* frame);
    // Writes the index, patches the header with the frame count and
    // `rate_hundredths` (0 is stored as 1: a hundredth of a frame per second)
    // and closes the file. False when nothing was open or a write failed; an
    // index that cannot be written is left out and the header says so.
    bool Finish(uint32_t rate_hundredths);
    // Closes the file without finishing it and forgets the frames.
    void Reset();

    bool is_open() const { return file_.is_open(); }
    uint32_t frame_count() const { return static_cast<uint32_t>(index_.size()); }
    uint32_t chunk_size() const { return chunk_size_; }

  private:
    // File offset just past the last whole frame chunk.
    uint64_t MoviEnd() const;

    struct IndexEntry {
        uint8_t bytes[16];
    };

    platform::WriteFile file_;
    std::vector<IndexEntry> index_;
    uint64_t riff_size_ = 0;  // bytes after the RIFF size field
    uint64_t movi_size_ = 0;  // bytes after the movi LIST size field
    uint32_t chunk_size_ = 0;
    const uint32_t max_riff_size_;
};

}  // namespace vimbra
