#include "output/avi_recorder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "output_test_util.h"
#include "platform/clock.h"

namespace vimbra {
namespace {

using testing::FourCc;
using testing::Get32;
using testing::ReadBytes;
using Result = CAviRecorder::StartResult;

// The recorder reads its frame times from here; the fake source moves it.
std::atomic<uint32_t> g_now{0};
uint32_t FakeClock() {
    return g_now.load();
}

// Stands in for the session: a current image behind a lock and a list of
// clock readings, one per converted frame; when the list is used up it
// offers no more frames, or, when `endless`, goes on 33 ms apart.
class FakeSource : public RecorderFrameSource {
  public:
    FakeSource(CDibImage* image, std::vector<uint32_t> times, bool endless = false)
        : image_(image), times_(std::move(times)), endless_(endless) {}

    bool TakeNewFrame(RecorderFrameConverter& converter) override {
        std::lock_guard<std::mutex> image_lock(lock_);
        if (next_ < times_.size()) {
            g_now = times_[next_++];
        } else if (endless_) {
            g_now = g_now + 33;
        } else {
            return false;
        }
        converter.ConvertFrame(*image_);
        ++taken_;
        return true;
    }
    void WriteFailed() override { ++write_failures_; }
    int taken() const { return taken_.load(); }
    int write_failures() const { return write_failures_.load(); }

  private:
    CDibImage* image_;
    std::mutex lock_;
    std::vector<uint32_t> times_;
    size_t next_ = 0;
    const bool endless_;
    std::atomic<int> taken_{0};
    std::atomic<int> write_failures_{0};
};

// What a finished file says about itself, with its structure checked.
struct AviFile {
    std::vector<uint8_t> bytes;
    uint32_t frames = 0;
    size_t index_at = 0;  // offset of "idx1"
};

class AviRecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Polls follow each other at once; frame times come from the source.
        platform::SetSleepHook([](uint32_t) { std::this_thread::yield(); });
    }
    void TearDown() override { platform::SetSleepHook(nullptr); }

    // Records until the recorder finishes by itself.
    void RecordToEnd(CAviRecorder& recorder, const std::string& path, CDibImage& image,
                     FakeSource& source, uint32_t duration) {
        ASSERT_EQ(recorder.Start(path.c_str(), image.width(), image.height(), duration, &source),
                  Result::kStarted);
        WaitUntil([&] { return !recorder.recording(); });
    }

    template <typename F>
    static void WaitUntil(F done) {
        for (int i = 0; i < 20000 && !done(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(done()) << "timed out";
    }

    // Checks the RIFF structure every finished file has: sizes patched,
    // frame counts equal to the index, chunks where the index says.
    static AviFile CheckFinished(const std::string& path) {
        AviFile f;
        f.bytes = ReadBytes(path);
        const auto& b = f.bytes;
        EXPECT_GE(b.size(), 240u);
        if (b.size() < 240) return f;
        EXPECT_EQ(FourCc(b, 0), "RIFF");
        EXPECT_EQ(Get32(b, 4), b.size() - 8);
        EXPECT_EQ(FourCc(b, 228), "movi");
        const uint32_t movi = Get32(b, 224);
        f.index_at = 224 + 4 + movi;
        EXPECT_EQ(FourCc(b, f.index_at), "idx1");
        f.frames = Get32(b, f.index_at + 4) / 16;
        EXPECT_EQ(b.size(), f.index_at + 8 + 16 * f.frames);
        EXPECT_EQ(Get32(b, 48), f.frames);
        EXPECT_EQ(Get32(b, 140), f.frames);
        for (uint32_t i = 0; i < f.frames; ++i) {
            const size_t entry = f.index_at + 8 + 16 * i;
            EXPECT_EQ(FourCc(b, entry), "00db");
            EXPECT_EQ(Get32(b, entry + 4), 0x10u);
            const size_t chunk = 228 + Get32(b, entry + 8);
            EXPECT_EQ(FourCc(b, chunk), "00db") << i;
            EXPECT_EQ(Get32(b, chunk + 4), Get32(b, entry + 12)) << i;
        }
        return f;
    }

    testing::ScratchDir dir_;
};

TEST_F(AviRecorderTest, HeaderOf640x480Recording) {
    CDibImage image;
    ASSERT_TRUE(image.Create(640, 480, 24));
    FakeSource source(&image, {1000, 1033});
    CAviRecorder recorder(FakeClock);
    const std::string path = dir_.File("vga.avi");
    RecordToEnd(recorder, path, image, source, 10);
    const AviFile f = CheckFinished(path);
    ASSERT_EQ(f.frames, 2u);
    const auto& b = f.bytes;
    const uint32_t rate = 2 * 100000 / 33;  // hundredths of a frame per second
    const std::pair<size_t, uint32_t> fields[] = {
        {16, 200},
        {28, 56},
        {32, 100000000 / rate},
        {36, 3252748352u},
        {40, 0},
        {44, 0x10010},
        {52, 0},
        {56, 1},
        {60, 921608},
        {64, 640},
        {68, 480},
        {72, 0},
        {84, 0},
        {92, 124},
        {104, 64},
        {116, 0},
        {120, 0},
        {124, 0},
        {128, 1000000000 / rate},
        {132, 10000000},
        {136, 0},
        {144, 921608},
        {148, 0},
        {152, 0},
        {156, 0},
        {168, 0},
        {176, 40},
        {180, 40},
        {184, 640},
        {188, 480},
        {192, 1 | (24 << 16)},
        {196, 0},
        {200, 0},
        {216, 0},
        {224, 4 + 2 * 921608},
        {236, 921600},
    };
    for (auto [offset, value] : fields) EXPECT_EQ(Get32(b, offset), value) << "offset " << offset;
    for (auto [offset, code] : {std::pair<size_t, const char*>{8, "AVI "},
                                {12, "LIST"},
                                {20, "hdrl"},
                                {24, "avih"},
                                {88, "LIST"},
                                {96, "strl"},
                                {100, "strh"},
                                {108, "vids"},
                                {112, "DIB "},
                                {172, "strf"},
                                {220, "LIST"},
                                {232, "00db"}}) {
        EXPECT_EQ(FourCc(b, offset), code) << "offset " << offset;
    }
    EXPECT_EQ(Get32(b, f.index_at + 8 + 8), 4u) << "first chunk offset counts from movi";
    EXPECT_EQ(Get32(b, f.index_at + 24 + 8), 4u + 921608);
}

// Frame times against the duration: the recording ends at the first frame
// more than the duration after the first one, and the rate is that of the
// frames written, in hundredths per second.
TEST_F(AviRecorderTest, DurationAndMeasuredRate) {
    struct Case {
        const char* what;
        std::vector<uint32_t> times;
        uint32_t duration;
        uint32_t frames;
        uint32_t micro_sec_per_frame;
        uint32_t scale;
    };
    std::vector<uint32_t> three_hundred;
    for (uint32_t k = 0; k < 300; ++k) three_hundred.push_back(5000 + (k * 10000 + 149) / 299);
    const Case cases[] = {
        {"300 frames in 10000 ms", three_hundred, 9999, 300, 33333, 333333},
        {"duration 0", {100, 100, 100, 101, 105}, 0, 4, 100000000 / 400000, 1000000000 / 400000},
        {"first frame at clock 0", {0, 40, 80}, 50, 3, 100000000 / 3750, 1000000000 / 3750},
        {"rate below a hundredth", {7, 400007}, 1000, 2, 100000000, 1000000000},
        {"clock wraps",
         {0xFFFFFF00u, 0xFFFFFFF0u, 0x10, 0x20},
         0x100,
         3,
         100000000 / (300000 / 0x110),
         1000000000 / (300000 / 0x110)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDibImage image;
        ASSERT_TRUE(image.Create(8, 6, 24));
        FakeSource source(&image, c.times);
        CAviRecorder recorder(FakeClock);
        const std::string path = dir_.File("rate.avi");
        RecordToEnd(recorder, path, image, source, c.duration);
        const AviFile f = CheckFinished(path);
        EXPECT_EQ(f.frames, c.frames);
        EXPECT_EQ(Get32(f.bytes, 32), c.micro_sec_per_frame);
        EXPECT_EQ(Get32(f.bytes, 128), c.scale);
        EXPECT_EQ(Get32(f.bytes, 132), 10000000u);
    }
}

// Each source format becomes a bottom-up 24-bit frame: grey expanded to
// equal B, G, R; 16-bit samples keep bits 2..9.
TEST_F(AviRecorderTest, FramesOfEveryBitCount) {
    struct Case {
        uint16_t bits;
        std::vector<unsigned> top, bottom;         // samples of the top and bottom rows
        std::vector<uint8_t> top_out, bottom_out;  // B, G, R in the frame
    };
    const Case cases[] = {
        {8, {200}, {30}, {200, 200, 200}, {30, 30, 30}},
        {16, {1023}, {1024}, {255, 255, 255}, {0, 0, 0}},
        {24, {1, 2, 3}, {4, 5, 6}, {1, 2, 3}, {4, 5, 6}},
        {32, {1, 2, 3, 9}, {4, 5, 6, 9}, {1, 2, 3}, {4, 5, 6}},
        {48, {1023, 4, 1024}, {8, 12, 16}, {255, 1, 0}, {2, 3, 4}},
        {64, {1023, 4, 1024, 7}, {8, 12, 16, 7}, {255, 1, 0}, {2, 3, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        CDibImage image;
        ASSERT_TRUE(image.Create(5, 2, c.bits));  // 24-bit frame rows padded to 16 bytes
        testing::Fill(image, [&](int, int y, int s) { return y == 0 ? c.top[s] : c.bottom[s]; });
        FakeSource source(&image, {10, 20});
        CAviRecorder recorder(FakeClock);
        const std::string path = dir_.File("bits.avi");
        RecordToEnd(recorder, path, image, source, 5);
        const AviFile f = CheckFinished(path);
        ASSERT_EQ(f.frames, 2u);
        ASSERT_EQ(Get32(f.bytes, 236), 32u);
        const uint8_t* frame = f.bytes.data() + 240;
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(std::vector<uint8_t>(frame + 3 * x, frame + 3 * x + 3), c.bottom_out) << x;
            EXPECT_EQ(std::vector<uint8_t>(frame + 16 + 3 * x, frame + 16 + 3 * x + 3), c.top_out)
                << x;
        }
    }
}

// A stand-in for the acquisition thread: repaints the picture with one value
// under the image lock and raises the new-frame flag, as fast as it can.
class LiveSource : public RecorderFrameSource {
  public:
    explicit LiveSource(CDibImage* image) : image_(image) {
        producer_ = std::thread([this] {
            for (uint8_t value = 0; !stop_; ++value) {
                {
                    std::lock_guard<std::mutex> image_lock(lock_);
                    std::memset(image_->bits(), value, image_->stride() * image_->height());
                }
                new_frame_ = true;
                std::this_thread::yield();
            }
        });
    }
    ~LiveSource() {
        stop_ = true;
        producer_.join();
    }
    bool TakeNewFrame(RecorderFrameConverter& converter) override {
        if (!new_frame_.exchange(false)) return false;
        std::lock_guard<std::mutex> image_lock(lock_);
        converter.ConvertFrame(*image_);
        return true;
    }

  private:
    CDibImage* image_;
    std::mutex lock_;
    std::atomic<bool> new_frame_{false}, stop_{false};
    std::thread producer_;
};

// With real time and a picture changing underneath, every recorded frame is
// one whole picture (all bytes equal), never a mix of two.
TEST_F(AviRecorderTest, FramesFromALiveAcquisitionAreWhole) {
    platform::SetSleepHook(nullptr);
    CDibImage image;
    ASSERT_TRUE(image.Create(64, 32, 24));
    LiveSource source(&image);
    CAviRecorder recorder;
    const std::string path = dir_.File("live.avi");
    ASSERT_EQ(recorder.Start(path.c_str(), 64, 32, 150, &source), Result::kStarted);
    WaitUntil([&] { return !recorder.recording(); });
    const AviFile f = CheckFinished(path);
    ASSERT_GT(f.frames, 1u);
    for (uint32_t i = 0; i < f.frames; ++i) {
        const size_t entry = f.index_at + 8 + 16 * i;
        const uint8_t* chunk = f.bytes.data() + 228 + Get32(f.bytes, entry + 8) + 8;
        const uint32_t size = Get32(f.bytes, entry + 12);
        ASSERT_EQ(size, 64u * 3 * 32);
        EXPECT_EQ(std::count(chunk, chunk + size, chunk[0]), static_cast<long>(size)) << i;
    }
}

// Stopping the acquisition in the middle still leaves a complete file.
TEST_F(AviRecorderTest, StoppedRecordingIsFinished) {
    CDibImage image;
    ASSERT_TRUE(image.Create(64, 48, 24));
    testing::Fill(image, [](int x, int y, int s) { return x * 4 + y + s * 60; });
    FakeSource source(&image, {50}, /*endless=*/true);
    CAviRecorder recorder(FakeClock);
    const std::string path = dir_.File("stopped.avi");
    ASSERT_EQ(recorder.Start(path.c_str(), 64, 48, 3600000, &source), Result::kStarted);
    WaitUntil([&] { return source.taken() >= 5; });
    EXPECT_TRUE(recorder.recording());
    recorder.Stop();
    EXPECT_FALSE(recorder.recording());
    const AviFile f = CheckFinished(path);
    EXPECT_GE(f.frames, 5u);
    EXPECT_EQ(f.frames, static_cast<uint32_t>(source.taken()));
    // Frames 33 ms apart, counted over the time from the first to the last.
    const uint32_t rate = f.frames * 100000 / ((f.frames - 1) * 33);
    EXPECT_EQ(Get32(f.bytes, 32), 100000000 / rate);

    VIMBRA_REQUIRE_TOOL("ffprobe");
    const std::string out = testing::ProbeVideo(path);
    ASSERT_FALSE(out.empty());
    EXPECT_THAT(out, ::testing::HasSubstr("codec_name=rawvideo"));
    EXPECT_THAT(out, ::testing::HasSubstr("width=64"));
    EXPECT_THAT(out, ::testing::HasSubstr("height=48"));
    EXPECT_THAT(out, ::testing::HasSubstr("nb_read_frames=" + std::to_string(f.frames)));
}

TEST_F(AviRecorderTest, RecordingWithoutFramesIsFinishedEmpty) {
    CDibImage image;
    ASSERT_TRUE(image.Create(8, 8, 24));
    FakeSource source(&image, {});
    const std::string path = dir_.File("empty.avi");
    {
        CAviRecorder recorder(FakeClock);
        ASSERT_EQ(recorder.Start(path.c_str(), 8, 8, 100, &source), Result::kStarted);
    }  // destroying the recorder stops it
    const AviFile f = CheckFinished(path);
    EXPECT_EQ(f.frames, 0u);
    EXPECT_EQ(Get32(f.bytes, 32), 33333u) << "the initial rate stays";
}

// A second start while recording is refused and leaves the running file
// alone; after the end a new recording can start.
TEST_F(AviRecorderTest, SecondStartIsRefusedWhileRecording) {
    CDibImage image;
    ASSERT_TRUE(image.Create(16, 16, 24));
    FakeSource source(&image, {}, /*endless=*/true);
    CAviRecorder recorder(FakeClock);
    const std::string first = dir_.File("first.avi"), second = dir_.File("second.avi");
    ASSERT_EQ(recorder.Start(first.c_str(), 16, 16, 3600000, &source), Result::kStarted);
    WaitUntil([&] { return source.taken() >= 2; });
    EXPECT_EQ(recorder.Start(second.c_str(), 16, 16, 100, &source), Result::kBusy);
    EXPECT_FALSE(std::filesystem::exists(second));
    recorder.Stop();
    EXPECT_EQ(CheckFinished(first).frames, static_cast<uint32_t>(source.taken()));

    FakeSource short_source(&image, {1, 2, 3, 4});
    RecordToEnd(recorder, second, image, short_source, 1);
    EXPECT_EQ(CheckFinished(second).frames, 3u);
}

TEST_F(AviRecorderTest, StartFailures) {
    CDibImage image;
    ASSERT_TRUE(image.Create(8, 8, 24));
    FakeSource source(&image, {1});
    CAviRecorder recorder(FakeClock);
    const std::string path = dir_.File("ok.avi");
    EXPECT_EQ(recorder.Start(dir_.File("no/dir/x.avi").c_str(), 8, 8, 10, &source),
              Result::kOpenFailed);
    EXPECT_EQ(recorder.Start("", 8, 8, 10, &source), Result::kOpenFailed);
    EXPECT_EQ(recorder.Start(nullptr, 8, 8, 10, &source), Result::kOpenFailed);
    EXPECT_EQ(recorder.Start(path.c_str(), 8, 8, 10, nullptr), Result::kInvalid);
    EXPECT_EQ(recorder.Start(path.c_str(), 0, 8, 10, &source), Result::kInvalid);
    // Frames too big for the format's 32-bit sizes.
    EXPECT_EQ(recorder.Start(path.c_str(), 40000, 40000, 10, &source), Result::kOpenFailed);
    EXPECT_FALSE(recorder.recording());
    EXPECT_FALSE(std::filesystem::exists(path));
}

// A recording that would pass the format's size limit ends with the frames
// that fit, as a complete file.
TEST_F(AviRecorderTest, RecordingEndsBeforeTheSizeLimit) {
    CDibImage image;
    ASSERT_TRUE(image.Create(8, 8, 24));  // chunks of 8 + 192 bytes, 16 more in the index
    const uint32_t limit = 224 + 8 + 3 * (200 + 16) + 100;
    FakeSource source(&image, {}, /*endless=*/true);
    CAviRecorder recorder(FakeClock, limit);
    const std::string path = dir_.File("full.avi");
    RecordToEnd(recorder, path, image, source, 3600000);
    const AviFile f = CheckFinished(path);
    EXPECT_EQ(f.frames, 3u);
    EXPECT_LE(Get32(f.bytes, 4), limit);
}

// The disk fills up in the middle of a frame: the recording ends there and
// the file keeps the frames written whole, as a file players read. With no
// room left for the index either, the file says it has none.
TEST_F(AviRecorderTest, WriteFailureEndsTheRecordingWithAReadableFile) {
    struct Case {
        const char* what;
        uint32_t room_after_two_frames;
        bool indexed;
    };
    const Case cases[] = {
        {"the index fits in the room the cut frame leaves", 120, true},
        {"no room for the index", 10, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CDibImage image;
        ASSERT_TRUE(image.Create(8, 8, 24));  // chunks of 8 + 192 bytes
        testing::Fill(image, [](int x, int y, int s) { return x * 4 + y + s * 60; });
        FakeSource source(&image, {}, /*endless=*/true);
        CAviRecorder recorder(FakeClock);
        const std::string path = dir_.File("full.avi");
        {
            testing::FileSizeLimit disk(232 + 2 * 200 + c.room_after_two_frames);
            RecordToEnd(recorder, path, image, source, 3600000);
            recorder.Stop();
        }
        EXPECT_EQ(source.write_failures(), 1);
        const std::vector<uint8_t> b = ReadBytes(path);
        ASSERT_GE(b.size(), 232u + 400);
        EXPECT_EQ(Get32(b, 4), b.size() - 8);
        ASSERT_EQ(Get32(b, 224), 4u + 400) << "movi holds the two whole frames";
        EXPECT_EQ(Get32(b, 48), 2u);
        EXPECT_EQ(Get32(b, 140), 2u);
        EXPECT_EQ((Get32(b, 44) & 0x10) != 0, c.indexed) << "has-index flag";
        if (c.indexed) {
            EXPECT_EQ(CheckFinished(path).frames, 2u);
        } else {
            EXPECT_EQ(b.size(), 232u + 400);
        }
        VIMBRA_REQUIRE_TOOL("ffprobe");
        const std::string out = testing::ProbeVideo(path);
        EXPECT_THAT(out, ::testing::HasSubstr("width=8"));
        EXPECT_THAT(out, ::testing::HasSubstr("nb_read_frames=2"));
    }
}

}  // namespace
}  // namespace vimbra
