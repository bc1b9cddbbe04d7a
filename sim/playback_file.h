// Raw frames replayed by the virtual camera from files, read one frame at a
// time when served, so that a long recording opens at once and costs one
// frame of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vimbra::sim {

class PlaybackFile {
  public:
    // Opens `path` for frames of `frame_bytes` packed bytes in rows of
    // `packed_row` bytes, stored packed or padded to four bytes. Null, with
    // the reason in `error`, unless it is a regular file holding whole frames.
    static std::unique_ptr<PlaybackFile> Open(const std::string& path, size_t packed_row, int rows,
                                              std::string* error);
    ~PlaybackFile();
    PlaybackFile(const PlaybackFile&) = delete;
    PlaybackFile& operator=(const PlaybackFile&) = delete;

    uint64_t frames() const { return frames_; }
    // Reads frame `index` as packed rows into `dst` (packed_row x rows bytes);
    // false when the file no longer holds it.
    bool Read(uint64_t index, uint8_t* dst) const;

  private:
    PlaybackFile(int fd, size_t packed_row, size_t stored_row, int rows, uint64_t frames);

    int fd_;
    size_t packed_row_;
    size_t stored_row_;
    int rows_;
    uint64_t frames_;
};

}  // namespace vimbra::sim
