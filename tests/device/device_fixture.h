// A device object wired to a private virtual driver with the protocol waits
// recorded instead of slept.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "device/vimbra_740qx_rdl_sdk.h"
#include "platform/clock.h"
#include "platform/driver.h"
#include "sim/virtual_driver.h"

namespace vimbra::testing {

using Block = std::array<uint8_t, 64>;

class SleepRecorder {
  public:
    static void Hook(uint32_t ms) {
        std::lock_guard<std::mutex> lock(mutex());
        waits().push_back(ms);
    }
    static std::vector<uint32_t> Take() {
        std::lock_guard<std::mutex> lock(mutex());
        std::vector<uint32_t> out;
        out.swap(waits());
        return out;
    }

  private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    static std::vector<uint32_t>& waits() {
        static std::vector<uint32_t> w;
        return w;
    }
};

inline Block MakeBlock(std::initializer_list<uint8_t> bytes) {
    Block b{};
    size_t i = 0;
    for (uint8_t v : bytes) b[i++] = v;
    return b;
}

// Polls `done` for up to five seconds; for waiting on another thread.
inline bool Eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetSleepHook(&SleepRecorder::Hook);
        driver_.SetTiming(false);
        driver_.Plug(0, sim::CameraModel::kColor);
    }
    void TearDown() override {
        if (device_) device_->StopStreaming();
        device_.reset();
        platform::SetSleepHook(nullptr);
        SleepRecorder::Take();
    }
    // Constructs the device (which probes and selects camera 0), then starts
    // recording requests and waits from a clean slate.
    CVimbra740QXRDLSdk& Device() {
        if (!device_) device_ = std::make_unique<CVimbra740QXRDLSdk>(&driver_);
        Fresh();
        return *device_;
    }
    void Fresh() {
        driver_.SetLogging(true);
        driver_.ClearLog();
        SleepRecorder::Take();
    }
    std::vector<Block> Commands(int slot = 0) const { return driver_.Commands(slot); }
    std::vector<sim::LoggedRequest> Requests() const { return driver_.Log(); }
    std::shared_ptr<sim::VirtualCamera> Camera(int slot = 0) const { return driver_.Camera(slot); }

    sim::VirtualDriver driver_;
    std::unique_ptr<CVimbra740QXRDLSdk> device_;
};

}  // namespace vimbra::testing
