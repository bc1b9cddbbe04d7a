// A file opened for writing the way the library's writers need it: an
// existing file is truncated and rewritten, a missing one is created, and a
// file another writer holds is refused instead of being written by two.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vimbra::platform {

class WriteFile {
  public:
    WriteFile() = default;
    ~WriteFile() { Close(); }
    WriteFile(const WriteFile&) = delete;
    WriteFile& operator=(const WriteFile&) = delete;

    // Opens `path` truncated when it exists, else creates it. The file is held
    // exclusively (advisory lock) until Close, so a file another WriteFile
    // holds is refused; so are read-only files, directories and empty or null
    // names. Closes what was open before. True on success.
    bool Open(const char* path);
    // Writes all `size` bytes at the current position; false on any error
    // (the file keeps what was written).
    bool Write(const void* data, size_t size);
    // Writes all `size` bytes at `offset` without moving the current position.
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    // Cuts the file to `size` bytes and moves the current position there, so
    // that what a failed write left behind is dropped.
    bool Truncate(uint64_t size);
    // Closes the file; safe when nothing is open. False when the system
    // reported an error on closing.
    bool Close();

    bool is_open() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// True when a WriteFile holds `path`. Writers that open files through a
// library check it first, so that they refuse such a file (a running
// recording) as WriteFile does instead of truncating it under its writer.
bool HeldByWriter(const char* path);

}  // namespace vimbra::platform
