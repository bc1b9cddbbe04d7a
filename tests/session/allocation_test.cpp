// Steady streaming allocates nothing per frame: once preview runs, frames
// are read, converted with every filter, copied to the host, drawn and
// recorded in memory made beforehand. Every allocation of the process is
// counted here (this program replaces every global allocation function, so
// that memory is always freed by the family that allocated it, also under
// the sanitizers' own replacements).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "device/device_fixture.h"
#include "session/api_fixture.h"

namespace {

std::atomic<long> g_allocations{0};

void* Allocate(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    const auto a = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    try {
        return AllocateAligned(size, align);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
    try {
        return AllocateAligned(size, align);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace vimbra::testing {
namespace {

constexpr int32_t kW = 320, kH = 240;

class SteadyStreaming : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        Plug({{0, CameraModel::kColor}});
    }

    // Frames counted by a callback on the library's delivery thread.
    static void CountFrame(void* user, HWND, uint32_t message, uintptr_t wParam, intptr_t) {
        if (message == VIMBRA_MSG_FRAME && wParam != 0)
            static_cast<std::atomic<int>*>(user)->fetch_add(1);
    }
    bool WaitForFrames(int count) {
        const int target = frames_.load() + count;
        return Eventually([&] { return frames_.load() >= target; });
    }

    std::atomic<int> frames_{0};
};

TEST_F(SteadyStreaming, AllocatesNothingPerFrame) {
    const int32_t h = Open();
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, kW, 1944, 0, kH), 1);
    // Every filter on, so that each of their paths runs per frame.
    ASSERT_EQ(Vimbra_SetHue(h, 20), 1);
    ASSERT_EQ(Vimbra_SetSaturation(h, 30), 1);
    ASSERT_EQ(Vimbra_SetSharpness(h, 3), 1);
    ASSERT_EQ(Vimbra_SetGamma(h, 150), 1);
    ASSERT_EQ(Vimbra_SetContrast(h, 20), 1);
    ASSERT_EQ(Vimbra_SetBrightness(h, 10), 1);

    HWND inbox = VimbraHost_CreateWindow();
    windows_.push_back(inbox);
    ASSERT_EQ(VimbraHost_SetCallback(inbox, &CountFrame, &frames_), 1);
    std::vector<uint8_t> host(static_cast<size_t>(kW) * 3 * kH);
    ASSERT_EQ(Vimbra_SetPreviewWindow(h, nullptr, 0, 0, kW, kH), 1);
    ASSERT_EQ(Vimbra_CallBackPreview(h, inbox, host.data(), static_cast<int32_t>(host.size()), 1),
              1);
    // Delivery to the host: read, converted, copied to the host's buffer,
    // announced and drawn.
    ASSERT_TRUE(WaitForFrames(10));  // the first frames make what streaming needs
    long before = g_allocations.load();
    ASSERT_TRUE(WaitForFrames(40));
    EXPECT_EQ(g_allocations.load() - before, 0) << "while delivering 40 frames";

    // Recording the same preview (recording takes the host's callback off).
    const std::string avi = (std::filesystem::temp_directory_path() /
                             ("vimbra-alloc-" + std::to_string(::getpid()) + ".avi"))
                                .string();
    ASSERT_EQ(Vimbra_Record(h, avi.c_str(), 60000, 0), 1);
    // Once two frames are in the file the recorder has made its buffers.
    const auto frame_bytes = static_cast<uintmax_t>(kW) * 3 * kH;
    ASSERT_TRUE(Eventually([&] {
        std::error_code ignored;
        return std::filesystem::file_size(avi, ignored) > 2 * frame_bytes;
    }));
    auto camera = Driver().Camera(0);
    // The index grows by one entry per frame; its storage doubles when full.
    const long recorded_before = g_allocations.load();
    const uint64_t served = camera->FramesServed();
    ASSERT_TRUE(Eventually([&] { return camera->FramesServed() > served + 40; }));
    EXPECT_LE(g_allocations.load() - recorded_before, 4) << "while recording 40 frames";

    EXPECT_EQ(Vimbra_StopPreview(h), 1);
    std::filesystem::remove(avi);
}

}  // namespace
}  // namespace vimbra::testing
