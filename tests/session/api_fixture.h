// Drives the public interface against the virtual cameras of this process,
// with a private registry file, a private camera table and the protocol
// waits skipped.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "api/sdk_chain.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/registry_test_env.h"
#include "platform/shared_memory.h"
#include "session/camera_table.h"
#include "session/vimbra.h"
#include "sim/virtual_driver.h"

namespace vimbra::testing {

using sim::CameraModel;

class ApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Protocol waits (100 ms and more) are skipped; the short pauses of
        // the worker loops are kept so that they do not spin.
        platform::SetSleepHook([](uint32_t ms) {
            if (ms <= 10) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        });
        ::setenv("VIMBRA_WINDOWS", "offscreen", 1);
        static std::atomic<int> counter{0};
        table_name_ = "vimbra-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        CameraTable::SetObjectNameForTesting(table_name_);
        Driver().UnplugAll();
        Driver().SetTiming(false);
    }
    void TearDown() override {
        for (int32_t h : handles_) Vimbra_Release(h);
        for (HWND w : windows_) VimbraHost_DestroyWindow(w);
        Driver().UnplugAll();
        platform::SharedMemory::Remove(table_name_.c_str());
        CameraTable::SetObjectNameForTesting("");
        platform::SetSleepHook(nullptr);
    }

    static sim::VirtualDriver& Driver() { return sim::DefaultVirtualDriver(); }
    static void Plug(std::initializer_list<std::pair<int, CameraModel>> cameras) {
        for (const auto& [slot, model] : cameras) Driver().Plug(slot, model);
    }

    // A session with a notification window of its own, released at the end.
    int32_t Open() {
        HWND window = VimbraHost_CreateWindow();
        windows_.push_back(window);
        const int32_t h = Vimbra_Initialize(window);
        EXPECT_NE(h, 0);
        handles_.push_back(h);
        return h;
    }
    // Releases a session opened with Open early.
    void Close(int32_t h) {
        EXPECT_EQ(Vimbra_Release(h), 1);
        std::erase(handles_, h);
    }

    // Every code on the stack, newest first; the stack is empty afterwards.
    static std::vector<int32_t> Codes(int32_t h) {
        std::vector<int32_t> codes;
        while (int32_t c = Vimbra_GetLastError(h)) codes.push_back(c);
        return codes;
    }

    // Runs `op` on the session behind a handle.
    template <class Op>
    static int32_t WithSession(int32_t h, Op&& op) {
        return Chain()->Call(h, -1, [&](CVimbra& s) { return static_cast<int32_t>(op(s)); });
    }

    // Writes DWORD values under a key path below HKEY_CURRENT_USER.
    static void WriteValues(const std::string& path,
                            std::initializer_list<std::pair<const char*, int32_t>> values) {
        platform::ScopedRegKey key;
        ASSERT_EQ(platform::CreateKey(platform::HkeyCurrentUser(), path.c_str(), key.Receive()),
                  platform::kRegOk);
        for (const auto& [name, value] : values) platform::SetDword(key.get(), name, value);
    }

    // The product key, spelled out as hosts and stored files know it.
    static constexpr const char* kMainKey = "Software\\Norvix\\Vimbra740QXRDLSdk";

    TempRegistry registry_;
    std::string table_name_;
    std::vector<int32_t> handles_;
    std::vector<HWND> windows_;
};

}  // namespace vimbra::testing
