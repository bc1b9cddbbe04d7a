// Frame transfer: geometry, the one-shot read, the streaming ring and its
// newest-frame rule, and how transfer faults end a run.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numeric>
#include <thread>

#include "device_fixture.h"

namespace vimbra::testing {
namespace {

using sim::LoggedRequest;

std::vector<LoggedRequest> FrameRequests(const std::vector<LoggedRequest>& log) {
    std::vector<LoggedRequest> out;
    for (const LoggedRequest& r : log)
        if (r.kind == LoggedRequest::Kind::kControl && r.pipe == platform::kPipeFrame &&
            r.code != platform::kIoctlTransferWait)
            out.push_back(r);
    return out;
}

TEST_F(DeviceTest, GeometryRoundsTheSampleCount) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetGeometry(648, 0, 648, 486, 0, 486, 4), kDevOk);
    EXPECT_EQ(dev.SampleCount(), 315392u);
    EXPECT_EQ(dev.TransferSize(), 315392u);
    EXPECT_EQ(Commands(), std::vector<Block>{MakeBlock({0x09, 0x00, 0xD0, 0x04, 0x00})});
    dev.SetTransferDepth(1);
    EXPECT_EQ(dev.TransferSize(), 630784u);
    // Buffers hold twice the sample count, zero-filled.
    for (int slot = 0; slot < 4; ++slot) ASSERT_NE(dev.RingBuffer(slot), nullptr);
    EXPECT_EQ(dev.RingBuffer(4), nullptr);
    EXPECT_EQ(dev.RingBuffer(3)[630783], 0);
}

struct GeometryRefusal {
    const char* what;
    int th, ehs, eh, tv, evs, ev, buffers;
    int result;
};

TEST_F(DeviceTest, GeometryRefusalsKeepTheBuffers) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetGeometry(64, 0, 64, 48, 0, 48, 4), kDevOk);
    const uint8_t* one_shot = dev.OneShotBuffer();
    const uint8_t* ring0 = dev.RingBuffer(0);
    const GeometryRefusal cases[] = {
        {"TH zero", 0, 0, 0, 10, 0, 10, 4, kDevBadWidth},
        {"EH zero", 10, 0, 0, 10, 0, 10, 4, kDevBadWidth},
        {"TH below EH", 8, 0, 9, 10, 0, 10, 4, kDevBadWidth},
        {"window past the row", 10, 4, 8, 10, 0, 10, 4, kDevBadWidth},
        {"negative left", 10, -1, 8, 10, 0, 10, 4, kDevBadWidth},
        {"TV zero", 10, 0, 10, 0, 0, 0, 4, kDevBadHeight},
        {"EV zero", 10, 0, 10, 10, 0, 0, 4, kDevBadHeight},
        {"TV below EVS + EV", 10, 0, 10, 10, 2, 9, 4, kDevBadHeight},
        {"negative top", 10, 0, 10, 10, -1, 5, 4, kDevBadHeight},
        {"EVS + EV past the int range", 10, 0, 10, 10, 0x7FFFFFFF, 1, 4, kDevBadHeight},
        {"one buffer", 10, 0, 10, 10, 0, 10, 1, kDevBadBufferCount},
    };
    Fresh();
    for (const GeometryRefusal& c : cases) {
        EXPECT_EQ(dev.SetGeometry(c.th, c.ehs, c.eh, c.tv, c.evs, c.ev, c.buffers), c.result)
            << c.what;
        EXPECT_EQ(dev.OneShotBuffer(), one_shot) << c.what;
        EXPECT_EQ(dev.RingBuffer(0), ring0) << c.what;
        EXPECT_EQ(dev.SampleCount(), 3072u) << c.what;
        EXPECT_EQ(dev.TotalWidth(), 64) << c.what;
    }
    EXPECT_TRUE(Commands().empty());
}

TEST_F(DeviceTest, CopyWindowTakesTheEffectiveArea) {
    CVimbra740QXRDLSdk& dev = Device();
    for (int depth : {0, 1}) {
        dev.SetTransferDepth(depth);
        const int bps = depth ? 2 : 1;
        ASSERT_EQ(dev.SetGeometry(8, 2, 4, 6, 1, 3, 2), kDevOk);
        std::vector<uint8_t> frame(dev.SampleCount() * 2);
        std::iota(frame.begin(), frame.end(), 0);
        std::vector<uint8_t> out(4 * 3 * bps, 0xEE);
        ASSERT_EQ(dev.CopyWindow(frame.data(), out.data()), 0);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4 * bps; ++j)
                EXPECT_EQ(out[i * 4 * bps + j], frame[((i + 1) * 8 + 2) * bps + j])
                    << i << "," << j;
        EXPECT_EQ(dev.CopyRingFrame(nullptr), kDevNoBuffer);
        EXPECT_EQ(dev.CopyOneShotFrame(nullptr), kDevNoBuffer);
    }
}

TEST_F(DeviceTest, WithoutBuffersNothingIsTransferred) {
    CVimbra740QXRDLSdk& dev = Device();
    // Too many samples to allocate: the old buffers are gone, none replace them.
    EXPECT_EQ(dev.SetGeometry(65536, 0, 65536, 32768, 0, 32768, 4), kDevNoMemory);
    EXPECT_EQ(dev.OneShotBuffer(), nullptr);
    EXPECT_EQ(dev.RingBuffer(0), nullptr);
    uint8_t out[16];
    EXPECT_EQ(dev.ReadOneFrame(), kDevNoMemory);
    EXPECT_EQ(dev.CopyOneShotFrame(out), kDevNoMemory);
    EXPECT_EQ(dev.StartStreaming(), kDevNoMemory);
    EXPECT_FALSE(dev.IsStreaming());
    EXPECT_EQ(dev.CopyRingFrame(out), kDevNoMemory);
    EXPECT_TRUE(FrameRequests(Requests()).empty());
    // A window brings them back.
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    EXPECT_EQ(dev.ReadOneFrame(), kDevOk);
}

TEST_F(DeviceTest, FewerBuffersRestartTheRingAtSlotZero) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetGeometry(16, 0, 16, 4, 0, 4, 4), kDevOk);
    std::vector<uint8_t> out(16 * 4);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(dev.CopyRingFrame(out.data()), 0);
    ASSERT_EQ(dev.ReadIndex(), 3);
    // A ring of two has no slot 3.
    ASSERT_EQ(dev.SetGeometry(16, 0, 16, 4, 0, 4, 2), kDevOk);
    EXPECT_EQ(dev.ReadIndex(), 0);
    EXPECT_EQ(dev.WriteIndex(), 0);
    EXPECT_EQ(dev.CopyRingFrame(out.data()), 0);
    EXPECT_EQ(dev.ReadIndex(), 1);
}

TEST_F(DeviceTest, OneShotReadUsesTheRequestOfTheFrameSize) {
    CVimbra740QXRDLSdk& dev = Device();
    // Full frame, 8-bit: 5,039,104 bytes need the large request.
    ASSERT_EQ(dev.ReadOneFrame(), kDevOk);
    std::vector<LoggedRequest> frames = FrameRequests(Requests());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].code, platform::kIoctlLargeIn);
    EXPECT_EQ(frames[0].size, 5039104u);
    EXPECT_EQ(frames[0].transferred, 5039104u);
    // A reset exchange, then the start command on the kept handle (direct-in).
    EXPECT_EQ(Commands(), (std::vector<Block>{MakeBlock({0x01}), MakeBlock({0x02})}));
    for (const LoggedRequest& r : Requests()) {
        if (r.kind == LoggedRequest::Kind::kControl && r.pipe == platform::kPipeCommand) {
            EXPECT_EQ(r.code, platform::kIoctlDirectIn);
        }
    }
    EXPECT_EQ(driver_.OpenHandles(0), 1) << "the frame handle stays open";

    struct Case {
        int w, h, depth;
        uint32_t code, size;
    };
    const Case cases[] = {
        {648, 486, 0, platform::kIoctlDirectIn, 315392},
        {1600, 1200, 0, platform::kIoctlDirectIn, 1920000},
        {1600, 1200, 1, platform::kIoctlLargeIn, 3840000},
    };
    for (const Case& c : cases) {
        dev.SetTransferDepth(c.depth);
        ASSERT_EQ(dev.SetWindow(0, 0, c.w, c.h, 0), 0);
        Fresh();
        ASSERT_EQ(dev.ReadOneFrame(), kDevOk) << c.w;
        frames = FrameRequests(Requests());
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].code, c.code) << c.w << " depth " << c.depth;
        EXPECT_EQ(frames[0].size, c.size);
    }
    // Changing the depth alone moves the 1600 x 1200 frame back below the limit.
    dev.SetTransferDepth(0);
    Fresh();
    ASSERT_EQ(dev.ReadOneFrame(), kDevOk);
    EXPECT_EQ(FrameRequests(Requests())[0].code, platform::kIoctlDirectIn);

    dev.CloseFrameHandle();
    EXPECT_EQ(driver_.OpenHandles(0), 0);
}

TEST_F(DeviceTest, OneShotReadFailures) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    driver_.FailNextTransfers(0, 1);
    EXPECT_EQ(dev.ReadOneFrame(), kDevTransferFailed);
    EXPECT_EQ(driver_.OpenHandles(0), 0) << "a failed read closes the kept handle";
    driver_.ShortNextTransfers(0, 1);
    EXPECT_EQ(dev.ReadOneFrame(), kDevTransferFailed);
    ASSERT_EQ(dev.ReadOneFrame(), kDevOk);
    // Selecting a camera closes the kept handle.
    EXPECT_EQ(driver_.OpenHandles(0), 1);
    dev.SelectCamera(0);
    EXPECT_EQ(driver_.OpenHandles(0), 0);
    driver_.RefuseOpens(0, 1);
    EXPECT_EQ(dev.ReadOneFrame(), kDevNoHandle);
}

TEST_F(DeviceTest, OneShotReadDeliversTheCameraBytes) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 648, 486, 0), 0);
    sim::Playback playback;
    playback.width = 648;
    playback.height = 486;
    playback.frames.emplace_back(648 * 486);
    for (size_t i = 0; i < playback.frames[0].size(); ++i)
        playback.frames[0][i] = static_cast<uint8_t>(i * 7 + i / 648);
    driver_.SetPlayback(0, playback);
    ASSERT_EQ(dev.ReadOneFrame(), kDevOk);
    std::vector<uint8_t> out(648 * 486);
    ASSERT_EQ(dev.CopyOneShotFrame(out.data()), 0);
    EXPECT_EQ(out, playback.frames[0]);
}

// Streaming with frames released one trigger at a time.
class RingTest : public DeviceTest {
  protected:
    static constexpr int kW = 64, kH = 48;

    void SetUp() override {
        DeviceTest::SetUp();
        CVimbra740QXRDLSdk& dev = Device();
        ASSERT_EQ(dev.SetWindow(0, 0, kW, kH, 0), 0);
        ASSERT_EQ(dev.SetTrigger(1, 0), 1);
        dev.SetTransferWait(60000);
        sim::Playback playback;
        playback.width = kW;
        playback.height = kH;
        for (int k = 1; k <= 16; ++k)
            playback.frames.emplace_back(kW * kH, static_cast<uint8_t>(k));
        driver_.SetPlayback(0, playback);
    }
    void TearDown() override {
        // Free a loop waiting for a trigger so that stop returns.
        if (device_ && device_->IsStreaming()) device_->SetTrigger(0, 0);
        DeviceTest::TearDown();
    }
    void Release(uint64_t frames_after) {
        driver_.FireTrigger(0);
        ASSERT_TRUE(Eventually([&] { return device_->FramesCompleted() == frames_after; }));
    }
    // The frame number (1..16) a ring slot holds.
    int SlotFrame(int slot) const { return device_->RingBuffer(slot)[0]; }
};

TEST_F(RingTest, ReaderThatNeverCopiesKeepsItsSlot) {
    ASSERT_EQ(device_->StartStreaming(), kDevOk);
    const int expected_write_index[] = {1, 2, 3, 1, 2, 3, 1};
    for (int k = 0; k < 7; ++k) {
        Release(k + 1);
        EXPECT_EQ(device_->WriteIndex(), expected_write_index[k]) << "after frame " << k + 1;
    }
    EXPECT_EQ(SlotFrame(0), 1) << "the reader's slot is never overwritten";
    EXPECT_EQ(SlotFrame(1), 5);
    EXPECT_EQ(SlotFrame(2), 6);
    EXPECT_EQ(SlotFrame(3), 7);
}

TEST_F(RingTest, ReaderTakesTheNewestFrame) {
    device_->SetFrameWaitTimeout(10000);
    ASSERT_EQ(device_->StartStreaming(), kDevOk);
    for (int k = 1; k <= 3; ++k) Release(k);
    ASSERT_EQ(device_->WaitForFrame(), kWaitFrameReady);
    EXPECT_EQ(device_->ReadIndex(), 2);
    std::vector<uint8_t> out(kW * kH);
    ASSERT_EQ(device_->CopyRingFrame(out.data()), 0);
    EXPECT_EQ(out[0], 3) << "frames 1 and 2 are skipped";
    EXPECT_EQ(out[kW * kH - 1], 3);
    EXPECT_EQ(device_->ReadIndex(), 3);

    // No new frame: the stale signal gives 2 at once, then a real wait.
    EXPECT_EQ(device_->WaitForFrame(), kWaitNoFrameYet);
    std::thread trigger([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        driver_.FireTrigger(0);
    });
    EXPECT_EQ(device_->WaitForFrame(), kWaitNoFrameYet) << "woken by the frame, takes nothing";
    trigger.join();
    ASSERT_TRUE(Eventually([&] { return device_->FramesCompleted() == 4; }));
    ASSERT_EQ(device_->WaitForFrame(), kWaitFrameReady);
    ASSERT_EQ(device_->CopyRingFrame(out.data()), 0);
    EXPECT_EQ(out[0], 4);
    // Leaving trigger mode frees the pending request, so stop returns at once.
    ASSERT_EQ(device_->SetTrigger(0, 0), 1);
    EXPECT_EQ(device_->StopStreaming(), kDevOk);
}

TEST_F(RingTest, ShortFrameIsRetriedIntoTheSameSlot) {
    driver_.ShortNextTransfers(0, 1);
    ASSERT_EQ(device_->StartStreaming(), kDevOk);
    driver_.FireTrigger(0);
    ASSERT_TRUE(Eventually([&] { return Camera()->FramesServed() == 1; }));
    Release(1);
    EXPECT_EQ(device_->WriteIndex(), 1);
    EXPECT_EQ(SlotFrame(0), 2) << "the second frame replaced the short first one";
    EXPECT_EQ(device_->RingBuffer(0)[kW * kH - 1], 2);
    Release(2);
    EXPECT_EQ(SlotFrame(1), 3);
    EXPECT_TRUE(device_->IsStreaming());
}

TEST_F(RingTest, FrameWaitTimesOutWhileTheLoopRuns) {
    device_->SetFrameWaitTimeout(30);
    ASSERT_EQ(device_->StartStreaming(), kDevOk);
    EXPECT_EQ(device_->WaitForFrame(), kWaitLoopEnded);
    EXPECT_TRUE(device_->IsStreaming());
}

TEST_F(DeviceTest, StartTwiceAndStopWhenIdle) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    EXPECT_EQ(dev.StopStreaming(), kDevOk);
    EXPECT_EQ(dev.WaitForFrame(), kWaitStopped);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    EXPECT_EQ(dev.StartStreaming(), kDevAlreadyStreaming);
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= 3; }));
    EXPECT_EQ(dev.SetGeometry(64, 0, 64, 48, 0, 48, 4), kDevAlreadyStreaming);
    EXPECT_EQ(dev.StopStreaming(), kDevOk);
    EXPECT_FALSE(dev.IsStreaming());
    EXPECT_EQ(driver_.OpenHandles(0), 0);
    EXPECT_EQ(dev.StopStreaming(), kDevOk);
    // A new run starts from slot 0 again.
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= 5; }));
    EXPECT_EQ(dev.StopStreaming(), kDevOk);

    // The loop's start command goes out with the direct-out code on pipe 0.
    bool saw_start = false;
    for (const LoggedRequest& r : Requests())
        if (r.kind == LoggedRequest::Kind::kControl && r.pipe == 0 && r.data[0] == 0x02) {
            EXPECT_EQ(r.code, platform::kIoctlDirectOut);
            saw_start = true;
        }
    EXPECT_TRUE(saw_start);
}

TEST_F(DeviceTest, SetWindowWhileStreamingChangesNothing) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= 2; }));
    Fresh();
    // The ring cannot change under the loop, so the sensor must not either:
    // its window and the frame geometry stay in step.
    EXPECT_EQ(dev.SetWindow(0, 0, 128, 96, 0), 1);
    for (const Block& b : Commands()) EXPECT_EQ(b[0], kCmdStartFrame);
    EXPECT_EQ(Camera()->SensorRegister(4), 63);
    EXPECT_EQ(dev.WindowWidth(), 64);
    EXPECT_EQ(dev.EffectiveWidth(), 64);
    const uint64_t before = dev.FramesCompleted();
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= before + 2; }));
    EXPECT_EQ(dev.StopStreaming(), kDevOk);
    ASSERT_EQ(dev.SetWindow(0, 0, 128, 96, 0), 0);
    EXPECT_EQ(Camera()->SensorRegister(4), 127);
    EXPECT_EQ(dev.EffectiveWidth(), 128);
}

// While a stop waits for the loop's last transfer, the device still reports
// streaming, so nothing may resize the ring the transfer is filling.
TEST_F(DeviceTest, StreamingUntilTheLoopHasLeftItsLastTransfer) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= 1; }));
    driver_.StallNextFrame(0, 1000);
    // The loop, asking for frames without pause, is soon inside the stall.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread stopper([&] { EXPECT_EQ(dev.StopStreaming(), kDevOk); });
    // Well inside the stall the stop is still waiting for the transfer.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(dev.IsStreaming());
    stopper.join();
    EXPECT_FALSE(dev.IsStreaming());
    EXPECT_EQ(driver_.OpenHandles(0), 0);
    EXPECT_EQ(dev.SetWindow(0, 0, 128, 96, 0), 0);
    EXPECT_EQ(dev.WaitForFrame(), kWaitStopped);
}

TEST_F(DeviceTest, OneShortTransferIsToleratedTheSecondEndsTheRun) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    driver_.ShortNextTransfers(0, 1);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= 3; }));
    EXPECT_TRUE(dev.IsStreaming());
    driver_.ShortNextTransfers(0, 1);
    ASSERT_TRUE(Eventually([&] { return !dev.IsStreaming(); }));
    EXPECT_EQ(dev.WaitForFrame(), kWaitLoopEnded);
    EXPECT_EQ(dev.WaitForFrame(), kWaitLoopEnded);
    EXPECT_EQ(dev.StopStreaming(), kDevTransferFailed);
    EXPECT_EQ(dev.WaitForFrame(), kWaitStopped);
    EXPECT_EQ(dev.StopStreaming(), kDevOk);
    EXPECT_EQ(driver_.OpenHandles(0), 0);
}

TEST_F(DeviceTest, FailedRequestPublishesItsSlotAndEndsTheRun) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    driver_.FailNextTransfers(0, 1);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return !dev.IsStreaming(); }));
    EXPECT_EQ(dev.WriteIndex(), 1);
    EXPECT_EQ(dev.FramesCompleted(), 0u);
    EXPECT_EQ(dev.StopStreaming(), kDevTransferFailed);
}

// Passes requests on to the virtual driver, but holds the close of a handle
// that has read on the frame pipe until released: the streaming loop's last
// step before it reports how its run ended.
class HeldFrameCloseBackend final : public platform::DriverBackend {
  public:
    explicit HeldFrameCloseBackend(platform::DriverBackend* inner) : inner_(inner) {}
    ~HeldFrameCloseBackend() override { Release(); }

    std::unique_ptr<platform::DriverFile> Open(const char* path) override {
        std::unique_ptr<platform::DriverFile> file = inner_->Open(path);
        if (!file) return nullptr;
        return std::make_unique<File>(this, std::move(file));
    }
    bool Holding() const { return holding_.load(); }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }

  private:
    class File final : public platform::DriverFile {
      public:
        File(HeldFrameCloseBackend* owner, std::unique_ptr<platform::DriverFile> inner)
            : owner_(owner), inner_(std::move(inner)) {}
        ~File() override {
            if (!read_frames_) return;
            owner_->holding_.store(true);
            std::unique_lock<std::mutex> lock(owner_->mutex_);
            owner_->cv_.wait(lock, [&] { return owner_->released_; });
        }
        bool Control(uint32_t code, const void* in, uint32_t in_size, void* out, uint32_t out_size,
                     uint32_t* transferred) override {
            uint32_t pipe = 0;
            if (in && in_size == 4) std::memcpy(&pipe, in, 4);
            if (code != platform::kIoctlTransferWait && pipe == platform::kPipeFrame)
                read_frames_ = true;
            return inner_->Control(code, in, in_size, out, out_size, transferred);
        }

      private:
        HeldFrameCloseBackend* owner_;
        std::unique_ptr<platform::DriverFile> inner_;
        bool read_frames_ = false;
    };

    platform::DriverBackend* inner_;
    std::atomic<bool> holding_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool released_ = false;
};

// The slot of a failed transfer is published to wake the reader, but what it
// holds is no frame: a reader that looks before the loop has finished ending
// must still be told that the run failed, not handed that slot.
TEST_F(DeviceTest, SlotOfAFailedTransferIsNeverTaken) {
    HeldFrameCloseBackend backend(&driver_);
    CVimbra740QXRDLSdk dev(&backend);
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    driver_.FailNextTransfers(0, 1);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return backend.Holding(); }));
    EXPECT_EQ(dev.WriteIndex(), 1) << "the failed slot is published";
    EXPECT_EQ(dev.WaitForFrame(), kWaitLoopEnded);
    backend.Release();
    EXPECT_EQ(dev.StopStreaming(), kDevTransferFailed);
}

TEST_F(DeviceTest, UnplugEndsTheRun) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= 2; }));
    driver_.Unplug(0);
    ASSERT_TRUE(Eventually([&] { return !dev.IsStreaming(); }));
    EXPECT_EQ(dev.WaitForFrame(), kWaitLoopEnded);
    EXPECT_EQ(dev.StopStreaming(), kDevTransferFailed);
    // Plugged again, it streams again.
    driver_.Plug(0, sim::CameraModel::kColor);
    dev.SelectCamera(0);
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    const uint64_t before = dev.FramesCompleted();
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= before + 2; }));
    EXPECT_EQ(dev.StopStreaming(), kDevOk);
}

// A camera that goes away between its set-up and the loop's own open ends
// the run with 10; a reader must hear of it rather than wait for frames of a
// stream that is no longer there.
TEST_F(DeviceTest, LoopThatCannotOpenTheCameraEndsTheRun) {
    CVimbra740QXRDLSdk& dev = Device();
    ASSERT_EQ(dev.SetWindow(0, 0, 64, 48, 0), 0);
    driver_.RefuseOpens(0, -1);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return !dev.IsStreaming(); }));
    EXPECT_EQ(dev.WaitForFrame(), kWaitLoopEnded);
    EXPECT_EQ(dev.StopStreaming(), kDevNoHandle);
    EXPECT_EQ(dev.WaitForFrame(), kWaitStopped);
    EXPECT_EQ(dev.StopStreaming(), kDevOk);
    driver_.RefuseOpens(0, 0);
}

TEST_F(DeviceTest, StreamingSixteenBitFullFrames) {
    CVimbra740QXRDLSdk& dev = Device();
    dev.SetTransferDepth(1);
    ASSERT_EQ(dev.SetWindow(0, 0, 2592, 1944, 0), 0);
    ASSERT_EQ(dev.StartStreaming(), kDevOk);
    ASSERT_TRUE(Eventually([&] { return dev.FramesCompleted() >= 2; }));
    ASSERT_EQ(dev.WaitForFrame(), kWaitFrameReady);
    std::vector<uint8_t> out(size_t{2592} * 1944 * 2);
    ASSERT_EQ(dev.CopyRingFrame(out.data()), 0);
    EXPECT_EQ(dev.StopStreaming(), kDevOk);
    // 12 significant bits in little-endian words, and not all black.
    uint16_t max = 0;
    for (size_t i = 0; i < out.size(); i += 2)
        max = std::max<uint16_t>(max, out[i] | out[i + 1] << 8);
    EXPECT_GT(max, 1000);
    EXPECT_LE(max, 4095);
    for (const LoggedRequest& r : FrameRequests(Requests())) {
        EXPECT_EQ(r.code, platform::kIoctlLargeIn);
        EXPECT_EQ(r.size, 5039104u * 2);
    }
}

}  // namespace
}  // namespace vimbra::testing
