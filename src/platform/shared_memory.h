// Named memory shared by every process on the machine (a named file mapping
// on Windows, a POSIX shared memory object elsewhere), mapped for reading and
// writing for as long as the object lives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vimbra::platform {

class SharedMemory {
  public:
    // Opens the object `name`, creating it with `size` zeroed bytes when it
    // does not exist yet; `created` tells which happened. An existing object
    // shorter than `size` is extended, so a view never reaches past its end.
    // nullptr when it can be neither opened nor created and mapped.
    static std::unique_ptr<SharedMemory> OpenOrCreate(const char* name, size_t size, bool* created);
    // Removes the name; processes that have it mapped keep their view.
    static bool Remove(const char* name);

    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    SharedMemory(int fd, uint8_t* data, size_t size) : fd_(fd), data_(data), size_(size) {}

    int fd_;
    uint8_t* data_;
    size_t size_;
};

}  // namespace vimbra::platform
