#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"

extern "C" int32_t vimbra_c_header_check(void);

namespace {

// Every program of this file keeps its settings in a registry file of its own
// and takes frames from the virtual cameras as fast as they are asked for.
class PrivateSettings : public ::testing::Environment {
  public:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vimbra-exports-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        ::setenv("VIMBRA_REGISTRY_FILE", (dir_ + "/registry.reg").c_str(), 1);
        ::setenv("VIMBRA_SIM_TIMING", "0", 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

  private:
    std::string dir_;
};
const auto* const g_private_settings = ::testing::AddGlobalTestEnvironment(new PrivateSettings);

// Drains every message of `window` and returns their lParams.
std::vector<intptr_t> Drain(HWND window) {
    std::vector<intptr_t> out;
    VimbraHostMessage m{};
    while (VimbraHost_PeekMessage(window, &m) == 1) out.push_back(m.lParam);
    return out;
}

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        window = VimbraHost_CreateWindow();
        handle = Vimbra_Initialize(window);
        ASSERT_NE(handle, 0);
    }
    void TearDown() override {
        Vimbra_Release(handle);
        VimbraHost_DestroyWindow(window);
    }
    HWND window = nullptr;
    int32_t handle = 0;
};

TEST(Exports, CallableFromC) {
    EXPECT_EQ(vimbra_c_header_check(), 1);
}

TEST(Exports, VersionNeedsNoSession) {
    EXPECT_EQ(Vimbra_GetDllVersion(), 0x0193051F);
}

TEST(Exports, UnknownHandleGivesNoInstanceValues) {
    for (int32_t h : {0, 1, -1, 0x7fffffff}) {
        EXPECT_EQ(Vimbra_GetColorMode(h), -1);
        EXPECT_EQ(Vimbra_GetSubSample(h), -1);
        EXPECT_EQ(Vimbra_GetWaitTime(h), -1);
        EXPECT_EQ(Vimbra_Width(h), 0);
        EXPECT_EQ(Vimbra_Height(h), 0);
        EXPECT_EQ(Vimbra_SetWaitTime(h, 5), 0);
        EXPECT_EQ(Vimbra_SetHalfClock(h, 1), 0);
        EXPECT_EQ(Vimbra_GetLastError(h), 0);
        EXPECT_EQ(Vimbra_Release(h), 0);
        EXPECT_EQ(Vimbra_Fps(h), 0);
        int32_t v = 77;
        EXPECT_EQ(Vimbra_GetVideoFormat(h, &v), 0);
        EXPECT_EQ(v, 77);  // nothing written for an unknown handle
    }
}

TEST_F(Session, InitialisationAgainstTheVirtualCameraLeavesNoCode) {
    EXPECT_TRUE(Drain(window).empty());
    EXPECT_EQ(Vimbra_GetLastError(handle), 0);
    EXPECT_EQ(Vimbra_GetColorMode(handle), 24);
    EXPECT_EQ(Vimbra_Width(handle), 2560);
    EXPECT_EQ(Vimbra_Height(handle), 1920);
    char name[32] = {};
    EXPECT_EQ(Vimbra_GetDeviceName(handle, 0, name, sizeof name), 1);
    EXPECT_STREQ(name, "Vimbra740QX-RDL_01");
}

TEST_F(Session, UnsupportedSettersNotifyButRecordNothing) {
    Drain(window);
    (void)Vimbra_GetLastError(handle);
    EXPECT_EQ(Vimbra_Fps(handle, 30), 0);
    EXPECT_EQ(Vimbra_SetSamplingRate(handle, 1), 0);
    EXPECT_EQ(Vimbra_Fpga_ReadRegister(handle, 1, 2), 0);
    EXPECT_EQ(Vimbra_Fpga_WriteRegister(handle, 1, 2), 0);
    EXPECT_EQ(Vimbra_SetCrossbar(handle), 0);
    EXPECT_EQ(Drain(window), (std::vector<intptr_t>(5, VIMBRA_ERR_UNSUPPORTED)));
    EXPECT_EQ(Vimbra_GetLastError(handle), 0);
}

TEST_F(Session, UnsupportedGettersWriteZero) {
    int32_t v = 5;
    EXPECT_EQ(Vimbra_GetVideoFormat(handle, &v), 0);
    EXPECT_EQ(v, 0);
    v = 5;
    EXPECT_EQ(Vimbra_GetSamplingRate(handle, &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(Vimbra_GetSamplingRate(handle, nullptr), 0);
}

TEST_F(Session, ReleaseTwice) {
    EXPECT_EQ(Vimbra_Release(handle), 1);
    EXPECT_EQ(Vimbra_Release(handle), 0);
    EXPECT_EQ(Vimbra_GetWaitTime(handle), -1);
}

TEST(Exports, SecondInstanceHasItsOwnState) {
    const int32_t a = Vimbra_Initialize(nullptr);
    const int32_t b = Vimbra_Initialize(nullptr);
    ASSERT_NE(a, b);
    const int32_t stored = Vimbra_GetWaitTime(b);
    EXPECT_EQ(Vimbra_SetWaitTime(a, stored + 33), 1);
    EXPECT_EQ(Vimbra_GetWaitTime(a), stored + 33);
    EXPECT_EQ(Vimbra_GetWaitTime(b), stored);
    EXPECT_EQ(Vimbra_Release(a), 1);
    EXPECT_EQ(Vimbra_GetWaitTime(b), stored);
    EXPECT_EQ(Vimbra_Release(b), 1);
}

TEST(HostMessages, CallbackRegistrationForUnknownWindowFails) {
    HWND w = VimbraHost_CreateWindow();
    VimbraHost_DestroyWindow(w);
    EXPECT_EQ(VimbraHost_SetCallback(w, nullptr, nullptr), 0);
    VimbraHostMessage m{};
    EXPECT_EQ(VimbraHost_GetMessage(w, &m, 0), -1);
    EXPECT_EQ(VimbraHost_PeekMessage(nullptr, nullptr), -1);
}

// Several threads create, use and release sessions while others post to and
// read from host windows; run under ThreadSanitizer to check the registry.
TEST(Stress, SessionsAndMessagesFromManyThreads) {
    HWND notify = VimbraHost_CreateWindow();
    std::atomic<bool> stop{false};
    std::atomic<int> read{0};
    std::thread reader([&] {
        VimbraHostMessage m{};
        // Reads until told to stop and the queue is empty, however the threads
        // were scheduled.
        for (;;) {
            const bool last_pass = stop.load();
            if (VimbraHost_GetMessage(notify, &m, 10) == 1)
                ++read;
            else if (last_pass)
                break;
        }
    });
    std::vector<int32_t> shared_handles;
    for (int i = 0; i < 4; ++i) shared_handles.push_back(Vimbra_Initialize(notify));
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) {
                const int32_t h = Vimbra_Initialize(notify);
                EXPECT_NE(h, 0);
                EXPECT_EQ(Vimbra_SetWaitTime(h, i), 1);
                EXPECT_EQ(Vimbra_GetWaitTime(h), i);
                Vimbra_Fps(h);
                Vimbra_GetLastError(shared_handles[(i + t) % 4]);
                Vimbra_SetWaitTime(shared_handles[i % 4], t);
                EXPECT_EQ(Vimbra_Release(h), 1);
                VimbraHost_PostMessage(notify, 0x8000, t, i);
            }
        });
    }
    // One thread releases a shared handle while others are using it.
    std::thread releaser([&] { EXPECT_EQ(Vimbra_Release(shared_handles[3]), 1); });
    for (auto& w : workers) w.join();
    releaser.join();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Vimbra_Release(shared_handles[i]), 1);
    stop = true;
    reader.join();
    EXPECT_GT(read.load(), 0);
    VimbraHost_DestroyWindow(notify);
}

}  // namespace
