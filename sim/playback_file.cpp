#include "sim/playback_file.h"

#include <cerrno>
#include <cstring>

#include "sim/file_io.h"

namespace vimbra::sim {

std::unique_ptr<PlaybackFile> PlaybackFile::Open(const std::string& path, size_t packed_row,
                                                 int rows, std::string* error) {
    // Without O_NONBLOCK a FIFO would hold the open until a writer came.
    const int fd = ::open(path.c_str(), kOpenReadOnly);
    if (fd < 0) {
        if (error) *error = path + ": cannot open (" + std::strerror(errno) + ")";
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = path + ": not a regular file";
        ::close(fd);
        return nullptr;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    // The library's raw image files pad rows to a multiple of four bytes.
    const size_t padded_row = (packed_row + 3) & ~size_t{3};
    const uint64_t packed_frame = static_cast<uint64_t>(packed_row) * rows;
    const uint64_t padded_frame = static_cast<uint64_t>(padded_row) * rows;
    size_t stored_row = packed_row;
    if (size % packed_frame != 0 && size % padded_frame == 0) stored_row = padded_row;
    const uint64_t frames = size / (static_cast<uint64_t>(stored_row) * rows);
    if (frames == 0) {
        if (error) *error = path + ": holds no whole frame";
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<PlaybackFile>(
        new PlaybackFile(fd, packed_row, stored_row, rows, frames));
}

PlaybackFile::PlaybackFile(int fd, size_t packed_row, size_t stored_row, int rows, uint64_t frames)
    : fd_(fd), packed_row_(packed_row), stored_row_(stored_row), rows_(rows), frames_(frames) {}

PlaybackFile::~PlaybackFile() {
    ::close(fd_);
}

namespace {

bool ReadAt(int fd, uint8_t* dst, size_t size, uint64_t offset) {
    size_t got = 0;
    while (got < size) {
        const ptrdiff_t n = ReadAtOffset(fd, dst + got, size - got, offset + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool PlaybackFile::Read(uint64_t index, uint8_t* dst) const {
    if (index >= frames_) return false;
    const uint64_t offset = index * stored_row_ * rows_;
    if (stored_row_ == packed_row_) return ReadAt(fd_, dst, packed_row_ * rows_, offset);
    for (int i = 0; i < rows_; ++i)
        if (!ReadAt(fd_, dst + packed_row_ * i, packed_row_, offset + uint64_t{stored_row_} * i))
            return false;
    return true;
}

}  // namespace vimbra::sim
