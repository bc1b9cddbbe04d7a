// The virtual driver's contract (codes, buffers, directions, byte counts,
// transfer wait) and the virtual camera behind it (registers, frame shape,
// picture, triggers, playback, faults, configuration).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/driver.h"
#include "sim/virtual_driver.h"

namespace vimbra::sim {
namespace {

using platform::kIoctlDirectIn;
using platform::kIoctlDirectOut;
using platform::kIoctlLargeIn;
using platform::kIoctlTransferWait;

constexpr char kPath0[] = "\\\\.\\VmbrQX740RDL-0";
constexpr int kW = 2592, kH = 1944;

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        driver_.SetTiming(false);
        driver_.SetStill(true);
        driver_.Plug(0, CameraModel::kColor);
        file_ = driver_.Open(kPath0);
        ASSERT_NE(file_, nullptr);
    }

    bool Pipe(uint32_t code, uint32_t pipe, void* buffer, uint32_t size, uint32_t* moved,
              platform::DriverFile* file = nullptr) {
        uint8_t in[4] = {static_cast<uint8_t>(pipe), 0, 0, 0};
        return (file ? file : file_.get())->Control(code, in, 4, buffer, size, moved);
    }
    bool Send(std::initializer_list<uint8_t> bytes, uint32_t code = kIoctlDirectIn) {
        uint8_t block[64] = {};
        size_t i = 0;
        for (uint8_t b : bytes) block[i++] = b;
        uint32_t moved = 0;
        return Pipe(code, 0, block, 64, &moved) && moved == 64;
    }
    void SetWait(int32_t ms) {
        uint8_t block[44] = {1};
        std::memcpy(block + 4, &ms, 4);
        uint32_t moved = 0;
        ASSERT_TRUE(file_->Control(kIoctlTransferWait, block, 44, nullptr, 0, &moved));
    }
    // Start command, then one frame request of `size` bytes.
    std::vector<uint8_t> Frame(uint32_t size, bool* ok = nullptr, uint32_t* moved_out = nullptr) {
        std::vector<uint8_t> frame(size, 0xCD);
        EXPECT_TRUE(Send({0x02}, kIoctlDirectOut));
        uint32_t moved = 0;
        const bool done =
            Pipe(size >= platform::kLargeTransferBytes ? kIoctlLargeIn : kIoctlDirectIn, 2,
                 frame.data(), size, &moved);
        if (ok) *ok = done;
        if (moved_out) *moved_out = moved;
        frame.resize(moved);
        return frame;
    }
    // Programs a window of w x h sensor samples, full resolution.
    void Window(int w, int h, uint32_t count) {
        ASSERT_TRUE(
            Send({0x04, 3, static_cast<uint8_t>((h - 1) >> 8), static_cast<uint8_t>(h - 1)}));
        ASSERT_TRUE(
            Send({0x04, 4, static_cast<uint8_t>((w - 1) >> 8), static_cast<uint8_t>(w - 1)}));
        ASSERT_TRUE(Send({0x09, static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                          static_cast<uint8_t>(count >> 16), 0}));
    }
    uint8_t ReplyByte() {
        uint8_t reply[64] = {};
        uint32_t moved = 0;
        EXPECT_TRUE(Pipe(kIoctlDirectOut, 1, reply, 64, &moved));
        return reply[0];
    }

    VirtualDriver driver_;
    std::unique_ptr<platform::DriverFile> file_;
};

TEST_F(SimTest, PipeRequestsFollowThePipeNotTheCode) {
    // A command is accepted on pipe 0 under every pipe code.
    for (uint32_t code : {kIoctlDirectIn, kIoctlDirectOut, kIoctlLargeIn}) {
        ASSERT_TRUE(Send({0x04, 9, 0x01, static_cast<uint8_t>(code)}, code));
        EXPECT_EQ(driver_.Camera(0)->SensorRegister(9), 0x0100 | (code & 0xFF));
    }
    // Replies reach the host under either code, 64 bytes at most.
    ASSERT_TRUE(Send({0x0C, 9}));
    uint8_t reply[100] = {};
    uint32_t moved = 0;
    ASSERT_TRUE(Pipe(kIoctlDirectIn, 1, reply, 64, &moved));
    EXPECT_EQ(moved, 64u);
    EXPECT_EQ(reply[0], 0x01);
    EXPECT_EQ(reply[1], kIoctlLargeIn & 0xFF);
    ASSERT_TRUE(Pipe(kIoctlDirectOut, 1, reply, 100, &moved));
    EXPECT_EQ(moved, 64u) << "the count tells the host what really moved";

    // Malformed requests fail.
    uint8_t buffer[64] = {};
    uint8_t in5[5] = {};
    EXPECT_FALSE(file_->Control(kIoctlDirectIn, in5, 3, buffer, 64, &moved));
    EXPECT_FALSE(file_->Control(kIoctlDirectIn, in5, 4, nullptr, 64, &moved));
    EXPECT_FALSE(Pipe(kIoctlDirectIn, 3, buffer, 64, &moved));
    EXPECT_FALSE(file_->Control(0x00222000, in5, 4, buffer, 64, &moved));
}

TEST_F(SimTest, TransferWaitBlockLayout) {
    uint8_t block[44] = {1, 0, 0, 0, 0x10, 0x27};
    uint32_t moved = 0;
    ASSERT_TRUE(file_->Control(kIoctlTransferWait, block, 44, nullptr, 0, &moved));
    EXPECT_EQ(driver_.Camera(0)->TransferWaitMs(), 10000);
    EXPECT_FALSE(file_->Control(kIoctlTransferWait, block, 40, nullptr, 0, &moved));
    block[0] = 0;
    EXPECT_FALSE(file_->Control(kIoctlTransferWait, block, 44, nullptr, 0, &moved));
    EXPECT_EQ(driver_.Camera(0)->TransferWaitMs(), 10000);
}

TEST_F(SimTest, RegistersSromAndReplies) {
    ASSERT_TRUE(Send({0x25, 15, 4}));
    ASSERT_TRUE(Send({0x26, 15}));
    EXPECT_EQ(ReplyByte(), 4);
    ASSERT_TRUE(Send({0x41, 0x51, 0x02, 0x01, 0x19, 0x00}));
    EXPECT_EQ(ReplyByte(), 0xFF) << "colour cameras have no model record";
    ASSERT_TRUE(Send({0x41, 0x51, 0x02, 0x01, 0x1E, 0xB0}));
    EXPECT_EQ(ReplyByte(), 1);
    ASSERT_TRUE(Send({0x40, 0x51, 0x03, 0x18, 0x20, 0x77}));
    ASSERT_TRUE(Send({0x41, 0x51, 0x02, 0x01, 0x18, 0x20}));
    EXPECT_EQ(ReplyByte(), 0x77);
    // A write with another layout changes nothing.
    ASSERT_TRUE(Send({0x40, 0x51, 0x03, 0x19, 0x20, 0x55}));
    EXPECT_EQ(driver_.Camera(0)->Srom(0x1820), 0x77);
    EXPECT_EQ(driver_.Camera(0)->Srom(0x1920), 0xFF);

    driver_.Plug(1, CameraModel::kMono2250);
    auto mono = driver_.Camera(1);
    const char name[] = "2250KT-BW";
    for (uint32_t i = 0; i < 16; ++i)
        EXPECT_EQ(mono->Srom(0x1900 + i), i < sizeof name ? static_cast<uint8_t>(name[i]) : 0);
}

TEST_F(SimTest, FrameSizeAndDepthFollowTheController) {
    Window(640, 480, 307200);
    std::vector<uint8_t> frame = Frame(307200);
    EXPECT_EQ(frame.size(), 307200u);
    // Depth: the last of the depth command and controller register 14 counts.
    ASSERT_TRUE(Send({0x0A, 1}));
    ASSERT_TRUE(Send({0x25, 14, 0x84}));
    EXPECT_EQ(Frame(614400).size(), 307200u);
    ASSERT_TRUE(Send({0x25, 14, 0x85}));
    EXPECT_EQ(Frame(614400).size(), 614400u);
    ASSERT_TRUE(Send({0x0A, 0}));
    // A request smaller than the frame moves what was asked.
    EXPECT_EQ(Frame(1000).size(), 1000u);
}

TEST_F(SimTest, LargeFramesNeedTheLargeRequest) {
    std::vector<uint8_t> frame(5039104);
    uint32_t moved = 0;
    ASSERT_TRUE(Send({0x02}));
    EXPECT_FALSE(Pipe(kIoctlDirectIn, 2, frame.data(), 5039104, &moved));
    EXPECT_TRUE(Pipe(kIoctlLargeIn, 2, frame.data(), 5039104, &moved));
    EXPECT_EQ(moved, 5039104u);
}

TEST_F(SimTest, FramesNeedAStartCommand) {
    SetWait(20);
    Window(64, 48, 3072);
    std::vector<uint8_t> frame(3072);
    uint32_t moved = 0;
    EXPECT_FALSE(Pipe(kIoctlDirectIn, 2, frame.data(), 3072, &moved));
    EXPECT_EQ(moved, 0u);
    bool ok = false;
    Frame(3072, &ok);
    EXPECT_TRUE(ok);
}

// Sample at output (row, col) of an 8-bit full frame.
uint8_t At(const std::vector<uint8_t>& f, int row, int col, int width = kW) {
    return f[static_cast<size_t>(row) * width + col];
}

TEST_F(SimTest, ColourBarsThroughTheMosaic) {
    const std::vector<uint8_t> f = Frame(5039104);
    ASSERT_EQ(f.size(), 5039104u);
    // Row 300 is a G R row: white bar then yellow bar (no blue).
    EXPECT_EQ(At(f, 300, 300), 187);  // G of white
    EXPECT_EQ(At(f, 300, 301), 187);  // R of white
    EXPECT_EQ(At(f, 300, 400), 187);  // G of yellow
    EXPECT_EQ(At(f, 300, 401), 187);  // R of yellow
    EXPECT_EQ(At(f, 301, 400), 0);    // B of yellow on a B G row
    EXPECT_EQ(At(f, 300, 2591), 0);   // R of the black bar
    // The ramp rises from left to right.
    EXPECT_LT(At(f, 1000, 100), At(f, 1000, 1000));
    EXPECT_LT(At(f, 1000, 1000), At(f, 1000, 2500));
}

TEST_F(SimTest, MirrorsFlipThePicture) {
    const std::vector<uint8_t> normal = Frame(5039104);
    ASSERT_TRUE(Send({0x04, 32, 0x40, 0x00}));
    const std::vector<uint8_t> flipped_h = Frame(5039104);
    for (int col = 0; col < kW; col += 97)
        EXPECT_EQ(At(flipped_h, 300, col), At(normal, 300, kW - 1 - col));
    ASSERT_TRUE(Send({0x04, 32, 0x80, 0x00}));
    const std::vector<uint8_t> flipped_v = Frame(5039104);
    for (int row = 300; row < 1600; row += 131)
        EXPECT_EQ(std::memcmp(&flipped_v[static_cast<size_t>(row) * kW],
                              &normal[static_cast<size_t>(kH - 1 - row) * kW], kW),
                  0)
            << row;
}

TEST_F(SimTest, GainsAndExposureScaleBrightness) {
    const std::vector<uint8_t> base = Frame(5039104);
    ASSERT_TRUE(Send({0x04, 53, 0, 28}));
    // The global gain sets the four colour gains, which shape the picture.
    for (int reg = 43; reg <= 46; ++reg) EXPECT_EQ(driver_.Camera(0)->SensorRegister(reg), 28);
    const std::vector<uint8_t> bright = Frame(5039104);
    ASSERT_TRUE(Send({0x04, 53, 0, 14}));
    ASSERT_TRUE(Send({0x04, 9, 985 >> 8, 985 & 0xFF}));
    const std::vector<uint8_t> dark = Frame(5039104);
    const int v = At(base, 1000, 1000);
    EXPECT_GT(v, 60);
    EXPECT_NEAR(At(bright, 1000, 1000), 2 * v, 2);
    EXPECT_NEAR(At(dark, 1000, 1000), v / 2, 1);
    ASSERT_TRUE(Send({0x04, 45, 0, 0}));  // red gain 0: red sites go black
    const std::vector<uint8_t> no_red = Frame(5039104);
    EXPECT_EQ(At(no_red, 300, 401), 0);
    EXPECT_GT(At(no_red, 300, 400), 0);
}

TEST_F(SimTest, MonochromeAndSixteenBitSamples) {
    driver_.Plug(3, CameraModel::kMono740);
    auto mono_file = driver_.Open("\\\\.\\VmbrQX740RDL-3");
    ASSERT_NE(mono_file, nullptr);
    std::swap(file_, mono_file);
    const std::vector<uint8_t> grey = Frame(5039104);
    // Yellow is a mid grey on every site, not a colour pattern.
    EXPECT_EQ(At(grey, 300, 400), (((77 * 3000 + 150 * 3000) >> 8)) >> 4);
    EXPECT_GT(At(grey, 300, 401), 100);
    std::swap(file_, mono_file);

    ASSERT_TRUE(Send({0x25, 14, 0x85}));
    std::vector<uint8_t> wide = Frame(5039104 * 2);
    ASSERT_EQ(wide.size(), 5039104u * 2);
    const size_t at = (static_cast<size_t>(300) * kW + 400) * 2;
    EXPECT_EQ(wide[at] | wide[at + 1] << 8, 3000);
}

TEST_F(SimTest, SkippingShrinksTheFrame) {
    ASSERT_TRUE(Send({0x04, 34, 0, 0x43}));
    ASSERT_TRUE(Send({0x04, 35, 0, 0x43}));
    ASSERT_TRUE(Send({0x09, 0x00, 0xD0, 0x04, 0x00}));
    const std::vector<uint8_t> f = Frame(315392);
    ASSERT_EQ(f.size(), 315392u);
    EXPECT_EQ(At(f, 74, 100, 648), 187);  // G of yellow (sensor column 416)
    EXPECT_EQ(At(f, 74, 101, 648), 187);  // R of yellow
    EXPECT_EQ(At(f, 75, 100, 648), 0);    // B of yellow (sensor row 351)
    EXPECT_EQ(f[648 * 486], 0) << "padding after the last row";
}

TEST_F(SimTest, FramePeriodFollowsClockRowsAndShutter) {
    auto camera = driver_.Camera(0);
    // Full frame at 24 MHz: the 1970-row shutter outlasts 1944 + 16 rows of 3508 clocks.
    EXPECT_NEAR(camera->FramePeriodMs(), 1971 * 3508 / 24e3, 0.01);
    ASSERT_TRUE(Send({0x25, 15, 2}));  // 48 MHz
    EXPECT_NEAR(camera->FramePeriodMs(), 1971 * 3508 / 48e3, 0.01);
    ASSERT_TRUE(Send({0x04, 9, 0, 100}));  // short shutter: the rows count
    EXPECT_NEAR(camera->FramePeriodMs(), 1960 * 3508 / 48e3, 0.01);
    Window(640, 480, 307200);
    EXPECT_NEAR(camera->FramePeriodMs(), 496 * (640 + 916) / 48e3, 0.01);
}

TEST_F(SimTest, PacedFrameFurtherThanTheTransferWaitFails) {
    driver_.SetTiming(true);
    SetWait(20);
    ASSERT_TRUE(Send({0x01}));  // restart: the full frame is 288 ms away
    bool ok = true;
    Frame(5039104, &ok);
    EXPECT_FALSE(ok);
    // A small window at 48 MHz with a short shutter is about a millisecond away.
    Window(64, 48, 3072);
    ASSERT_TRUE(Send({0x25, 15, 2}));
    ASSERT_TRUE(Send({0x04, 9, 0, 10}));
    ASSERT_TRUE(Send({0x01}));
    EXPECT_LT(driver_.Camera(0)->FramePeriodMs(), 2.0);
    Frame(3072, &ok);
    EXPECT_TRUE(ok);
}

TEST_F(SimTest, MotionUnlessStill) {
    Window(640, 480, 307200);
    const std::vector<uint8_t> a = Frame(307200);
    EXPECT_EQ(Frame(307200), a);
    driver_.SetStill(false);
    const std::vector<uint8_t> b = Frame(307200);
    const std::vector<uint8_t> c = Frame(307200);
    EXPECT_NE(b, c);
}

std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = ::testing::TempDir() + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST_F(SimTest, PlaybackServesFilesInOrderAndLoops) {
    // Two packed 6 x 2 frames in one file, one with rows padded to 8 bytes in another.
    const std::string a =
        WriteFile("sim_play_a.raw", {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,  //
                                     21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32});
    const std::string b = WriteFile("sim_play_b.raw", {41, 42, 43, 44, 45, 46, 0, 0,  //
                                                       51, 52, 53, 54, 55, 56, 0, 0});
    ASSERT_TRUE(driver_.Configure("playback", "0:6x2x8:" + a + ":" + b));
    Window(6, 2, 1024);
    std::vector<std::vector<uint8_t>> seen;
    for (int i = 0; i < 4; ++i) seen.push_back(Frame(1024));
    const std::vector<uint8_t> expect_first = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_TRUE(std::equal(expect_first.begin(), expect_first.end(), seen[0].begin()));
    EXPECT_EQ(seen[0][12], 0);
    EXPECT_EQ(seen[1][0], 21);
    EXPECT_EQ(seen[2][6], 51) << "row padding is dropped";
    EXPECT_EQ(seen[3], seen[0]) << "loops";

    // In 16-bit depth an 8-bit file's samples become 12-bit words.
    ASSERT_TRUE(Send({0x25, 14, 0x85}));
    const std::vector<uint8_t> wide = Frame(2048);
    EXPECT_EQ(wide[0] | wide[1] << 8, 21 << 4);

    std::remove(a.c_str());
    std::remove(b.c_str());
}

// Playback reads only regular files holding whole frames no larger than the
// sensor, and refuses the rest at once (a FIFO would block, /dev/zero never ends).
TEST_F(SimTest, PlaybackRefusesWhatIsNotARegularFileOfWholeFrames) {
    const std::string a = WriteFile("sim_play_small.raw", std::vector<uint8_t>(12, 7));
    const std::string fifo = ::testing::TempDir() + "sim_play_fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, const char*> cases[] = {
        {"0:6x2x8:/no/such/file.raw", "cannot open"},
        {"0:6x2x12:" + a, "8 or 16 bits"},
        {"0:600x200x8:" + a, "no whole frame"},
        {"0:2593x1x8:" + a, "2592"},
        {"0:6x2x8:/dev/zero", "not a regular file"},
        {"0:6x2x8:" + ::testing::TempDir(), "not a regular file"},
        {"0:6x2x8:" + fifo, "not a regular file"},
        {"5:6x2x8:" + a, "no camera in slot 5"},
    };
    for (const auto& [value, reason] : cases) {
        std::string why;
        EXPECT_FALSE(driver_.Configure("playback", value, &why)) << value;
        EXPECT_NE(why.find(reason), std::string::npos) << value << ": " << why;
    }
    ::unlink(fifo.c_str());
    std::remove(a.c_str());
}

// A long recording is read a frame at a time: a sparse file of 1 GiB opens
// without being read and serves its frames in order.
TEST_F(SimTest, PlaybackReadsLongFilesAFrameAtATime) {
    constexpr int kFw = 1024, kFh = 1024;
    const std::string path = ::testing::TempDir() + "sim_play_long.raw";
    {
        std::ofstream out(path, std::ios::binary);
        out.seekp(kFw * kFh);
        std::vector<char> second(kFw * kFh, 9);
        out.write(second.data(), static_cast<std::streamsize>(second.size()));
    }
    ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 30), 0);
    ASSERT_TRUE(driver_.LoadPlayback(0, kFw, kFh, 8, {path}));
    std::remove(path.c_str());  // the open file still serves its frames
    Window(kFw, kFh, kFw * kFh);
    EXPECT_EQ(Frame(kFw * kFh)[0], 0);
    EXPECT_EQ(Frame(kFw * kFh)[kFw * 5 + 3], 9);
    EXPECT_EQ(Frame(kFw * kFh)[kFw * 5 + 3], 0);
}

TEST_F(SimTest, TriggeredFrames) {
    Window(64, 48, 3072);
    ASSERT_TRUE(Send({0x25, 11, 0x01}));
    SetWait(30);
    bool ok = true;
    Frame(3072, &ok);
    EXPECT_FALSE(ok) << "the transfer wait bounds a request without trigger";

    SetWait(60000);
    auto pending = std::async(std::launch::async, [&] {
        bool done = false;
        Frame(3072, &done);
        return done;
    });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    driver_.FireTrigger(0);
    EXPECT_TRUE(pending.get());

    // Pulsing bit 7 of controller register 11 fires too (from another handle).
    pending = std::async(std::launch::async, [&] {
        bool done = false;
        Frame(3072, &done);
        return done;
    });
    auto other = driver_.Open(kPath0);
    uint8_t pulse[64] = {0x25, 11, 0x83}, release[64] = {0x25, 11, 0x03};
    uint8_t in[4] = {0};
    uint32_t moved = 0;
    ASSERT_TRUE(other->Control(kIoctlDirectIn, in, 4, pulse, 64, &moved));
    ASSERT_TRUE(other->Control(kIoctlDirectIn, in, 4, release, 64, &moved));
    EXPECT_TRUE(pending.get());

    // Leaving trigger mode frees a waiting request.
    pending = std::async(std::launch::async, [&] {
        bool done = false;
        Frame(3072, &done);
        return done;
    });
    uint8_t off[64] = {0x25, 11, 0x00};
    ASSERT_TRUE(other->Control(kIoctlDirectIn, in, 4, off, 64, &moved));
    EXPECT_TRUE(pending.get());
}

TEST_F(SimTest, AutoTriggerInterval) {
    Window(64, 48, 3072);
    ASSERT_TRUE(driver_.Configure("trigger_ms", "5"));
    ASSERT_TRUE(Send({0x25, 11, 0x01}));
    bool ok = false;
    Frame(3072, &ok);
    EXPECT_TRUE(ok);
}

TEST_F(SimTest, UnplugFailsPendingAndLaterRequests) {
    Window(64, 48, 3072);
    ASSERT_TRUE(Send({0x25, 11, 0x01}));
    SetWait(60000);
    auto pending = std::async(std::launch::async, [&] {
        bool done = true;
        Frame(3072, &done);
        return done;
    });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(10)), std::future_status::timeout);
    driver_.Unplug(0);
    EXPECT_FALSE(pending.get());
    EXPECT_FALSE(Send({0x01}));
    EXPECT_EQ(driver_.Open(kPath0), nullptr);
    driver_.Plug(0, CameraModel::kColor);
    EXPECT_FALSE(Send({0x01})) << "an old handle does not reach the new camera";
    EXPECT_NE(driver_.Open(kPath0), nullptr);
}

TEST_F(SimTest, FaultInjection) {
    Window(64, 48, 3072);
    driver_.FailNextTransfers(0, 2);
    bool ok = true;
    Frame(3072, &ok);
    EXPECT_FALSE(ok);
    Frame(3072, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(Frame(3072, &ok).size(), 3072u);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(Send({0x01})) << "frame faults leave the command pipe alone";

    driver_.ShortNextTransfers(0, 1);
    EXPECT_EQ(Frame(3072, &ok).size(), 1536u);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Frame(3072).size(), 3072u);

    SetWait(20);
    driver_.StallNextFrame(0, 6500);
    Frame(3072, &ok);
    EXPECT_FALSE(ok) << "a stall longer than the transfer wait fails the request";
    SetWait(60000);
    driver_.StallNextFrame(0, 5);
    Frame(3072, &ok);
    EXPECT_TRUE(ok);

    driver_.RefuseOpens(0, 2);
    EXPECT_EQ(driver_.Open(kPath0), nullptr);
    EXPECT_EQ(driver_.Open(kPath0), nullptr);
    EXPECT_NE(driver_.Open(kPath0), nullptr);
    driver_.RefuseOpens(0, -1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(driver_.Open(kPath0), nullptr);
    driver_.RefuseOpens(0, 0);
    EXPECT_NE(driver_.Open(kPath0), nullptr);
}

TEST_F(SimTest, RequestLogRecordsWhatTheDeviceSent) {
    EXPECT_TRUE(driver_.Log().empty()) << "logging is off by default";
    driver_.SetLogging(true);
    ASSERT_TRUE(Send({0x04, 53, 0x00, 72}));
    file_.reset();
    const std::vector<LoggedRequest> log = driver_.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, LoggedRequest::Kind::kControl);
    EXPECT_EQ(log[0].code, kIoctlDirectIn);
    EXPECT_EQ(log[0].pipe, 0u);
    EXPECT_EQ(log[0].transferred, 64u);
    EXPECT_EQ(log[0].data[1], 53);
    EXPECT_EQ(log[0].data[3], 72);
    EXPECT_EQ(log[1].kind, LoggedRequest::Kind::kClose);
    EXPECT_EQ(driver_.OpenHandles(0), 0);
}

TEST(VirtualDriverTest, DevicePathsMapToSlots) {
    const std::pair<const char*, int> cases[] = {
        {"\\\\.\\VmbrQX740RDL-0", 0},
        {"\\\\.\\VmbrQX740RDL-A", 10},
        {"\\\\.\\VmbrQX740RDL-N", 22},
        {"\\\\.\\VmbrQX740RDL-M", 23},
        {"\\\\.\\VmbrQX740RDL-V", 31},
        {"\\\\.\\VmbrQX740RDL-W", -1},
        {"\\\\.\\VmbrQX740RDL-00", -1},
        {"\\\\.\\VmbrQX740RDL-", -1},
        {"/dev/VmbrQX740RDL-0", -1},
        {"\\\\.\\Other-0", -1},
        {nullptr, -1},
    };
    for (const auto& [path, slot] : cases)
        EXPECT_EQ(VirtualDriver::SlotOfPath(path), slot) << (path ? path : "null");
}

TEST(VirtualDriverTest, ConfigurationStrings) {
    VirtualDriver driver;
    ASSERT_TRUE(driver.Configure("cameras", "0:color, 3:2250KT-BW,22:mono,5"));
    EXPECT_EQ(driver.Camera(0)->model(), CameraModel::kColor);
    EXPECT_EQ(driver.Camera(3)->model(), CameraModel::kMono2250);
    EXPECT_EQ(driver.Camera(22)->model(), CameraModel::kMono740);
    EXPECT_EQ(driver.Camera(5)->model(), CameraModel::kColor);
    EXPECT_EQ(driver.Camera(1), nullptr);
    for (const char* bad : {"32:color", "0:purple", "x", "-1"})
        EXPECT_FALSE(driver.Configure("cameras", bad)) << bad;
    EXPECT_NE(driver.Camera(3), nullptr) << "a bad list changes nothing";
    ASSERT_TRUE(driver.Configure("cameras", "none"));
    EXPECT_EQ(driver.Camera(0), nullptr);
    EXPECT_TRUE(driver.Configure("timing", "1"));
    EXPECT_FALSE(driver.Configure("timing", "yes"));
    EXPECT_TRUE(driver.Configure("STILL", "0"));
    EXPECT_FALSE(driver.Configure("colour", "1"));
}

TEST(VirtualDriverTest, EnvironmentAndConfigFile) {
    const std::string file = ::testing::TempDir() + "sim_config.txt";
    std::ofstream(file) << "# cameras of the bench\ncameras = 1:740QX-BW\nstill=1\n";
    ::setenv("VIMBRA_SIM_CONFIG", file.c_str(), 1);
    VirtualDriver from_file;
    from_file.ConfigureFromEnvironment();
    EXPECT_NE(from_file.Camera(1), nullptr);
    ::setenv("VIMBRA_SIM_CAMERAS", "2:2250KT-BW", 1);
    VirtualDriver from_env;
    from_env.ConfigureFromEnvironment();
    EXPECT_EQ(from_env.Camera(1), nullptr) << "the variable overrides the file";
    ASSERT_NE(from_env.Camera(2), nullptr);
    EXPECT_EQ(from_env.Camera(2)->Srom(0x1900), '2');
    ::unsetenv("VIMBRA_SIM_CAMERAS");
    ::unsetenv("VIMBRA_SIM_CONFIG");
    std::remove(file.c_str());
}

// Each refused setting is said on standard error with the setting kept.
TEST(VirtualDriverTest, RefusedSettingsAreReportedWithWhatIsKept) {
    const std::string file = ::testing::TempDir() + "sim_config_bad.txt";
    const std::string fifo = ::testing::TempDir() + "sim_config_fifo";
    std::ofstream(file) << "timing=0\ncolour = 1\nno equals sign\ncameras=0:purple\n";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* variable;
        std::string value;
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {"VIMBRA_SIM_CAMERAS",
         "40",
         {"VIMBRA_SIM_CAMERAS=\"40\"", "0..31", "keeping cameras=0:color"}},
        {"VIMBRA_SIM_CAMERAS", "0:purple", {"\"purple\"", "keeping cameras=0:color"}},
        {"VIMBRA_SIM_TIMING", "fast", {"\"fast\" is not 0 or 1", "keeping timing=1"}},
        {"VIMBRA_SIM_TRIGGER_MS", "-5", {"keeping trigger_ms=0"}},
        {"VIMBRA_SIM_PLAYBACK", "0:8x8x8:/no/such.raw", {"/no/such.raw: cannot open"}},
        {"VIMBRA_SIM_CONFIG", "/no/such/config", {"cannot open", "using the variables"}},
        {"VIMBRA_SIM_CONFIG", "/dev/zero", {"not a regular file"}},
        {"VIMBRA_SIM_CONFIG", fifo, {"not a regular file"}},
        {"VIMBRA_SIM_CONFIG",
         file,
         {"line 2: colour: unknown setting", "line 3: no key=value",
          "line 4: cameras: model \"purple\"", "keeping cameras=0:color"}},
    };
    for (const Case& c : cases) {
        ::setenv(c.variable, c.value.c_str(), 1);
        VirtualDriver driver;
        driver.Plug(0, CameraModel::kColor);
        ::testing::internal::CaptureStderr();
        driver.ConfigureFromEnvironment();
        const std::string said = ::testing::internal::GetCapturedStderr();
        ::unsetenv(c.variable);
        for (const std::string& part : c.said)
            EXPECT_NE(said.find(part), std::string::npos) << c.variable << ": " << said;
        EXPECT_NE(driver.Camera(0), nullptr) << c.variable;
    }
    std::remove(file.c_str());
    ::unlink(fifo.c_str());
}

}  // namespace
}  // namespace vimbra::sim
