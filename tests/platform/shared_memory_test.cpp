#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "platform/shared_memory.h"

namespace vimbra::platform {
namespace {

class SharedMemoryTest : public ::testing::Test {
  protected:
    void TearDown() override { SharedMemory::Remove(name_.c_str()); }
    std::string name_ = "vimbra-shm-test-" + std::to_string(::getpid());
};

TEST_F(SharedMemoryTest, SecondOpenSeesTheFirstOnesBytes) {
    bool created = false;
    auto first = SharedMemory::OpenOrCreate(name_.c_str(), 65536, &created);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(created);
    EXPECT_EQ(first->data()[65535], 0);
    first->data()[1234] = 0x5A;
    auto second = SharedMemory::OpenOrCreate(name_.c_str(), 65536, &created);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(created);
    EXPECT_EQ(second->data()[1234], 0x5A);
    EXPECT_NE(first->data(), second->data());
}

TEST_F(SharedMemoryTest, AShortObjectIsExtendedBeforeItIsMapped) {
    // As left by a creator that has not sized it yet.
    const int fd = ::shm_open(("/" + name_).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    auto view = SharedMemory::OpenOrCreate(name_.c_str(), 1 << 20, nullptr);
    ASSERT_NE(view, nullptr);
    view->data()[(1 << 20) - 1] = 1;  // would fault past the end of the object
}

TEST_F(SharedMemoryTest, RefusesNamesTheSystemCannotHold) {
    EXPECT_EQ(SharedMemory::OpenOrCreate("a/b", 4096, nullptr), nullptr);
    EXPECT_EQ(SharedMemory::OpenOrCreate(nullptr, 4096, nullptr), nullptr);
    EXPECT_EQ(SharedMemory::OpenOrCreate(name_.c_str(), 0, nullptr), nullptr);
}

}  // namespace
}  // namespace vimbra::platform
