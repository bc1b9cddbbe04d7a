// The tools run as programs, as a user runs them: the demo end to end on the
// virtual camera, and the replay tool over raw files written here, with the
// pictures they save read back.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// A scratch folder per test, and a way to run a program in it with a
// private settings file, the virtual camera and off-screen windows.
class ToolsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::path(::testing::TempDir()) / "vimbra-tools" /
               (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }

    Outcome Start(const std::string& environment, const std::string& command) const {
        const std::string line =
            "env VIMBRA_DRIVER=sim VIMBRA_WINDOWS=offscreen VIMBRA_SIM_TIMING=0 "
            "VIMBRA_REGISTRY_FILE='" +
            (dir_ / "registry.reg").string() + "' " + environment + " " + command + " >'" +
            (dir_ / "out.txt").string() + "' 2>'" + (dir_ / "err.txt").string() + "'";
        Outcome run;
        const int raw = std::system(line.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = ReadText(dir_ / "out.txt");
        run.err = ReadText(dir_ / "err.txt");
        return run;
    }

    fs::path dir_;
};

// A 24-bit BMP read back as rows top first, blue, green, red.
struct Bitmap {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr;

    static Bitmap Load(const fs::path& path) {
        const std::string file = ReadText(path);
        Bitmap b;
        if (file.size() < 54 || file.compare(0, 2, "BM") != 0) return b;
        auto le = [&](size_t at) {
            return static_cast<int32_t>(
                static_cast<uint8_t>(file[at]) | static_cast<uint8_t>(file[at + 1]) << 8 |
                static_cast<uint8_t>(file[at + 2]) << 16 |
                static_cast<uint32_t>(static_cast<uint8_t>(file[at + 3])) << 24);
        };
        const int32_t offset = le(10), width = le(18), height = le(22);
        if ((le(28) & 0xFFFF) != 24 || width <= 0 || height == 0) return b;
        const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
        const int rows = height < 0 ? -height : height;
        if (file.size() < offset + stride * rows) return b;
        b.width = width;
        b.height = rows;
        for (int y = 0; y < rows; ++y) {
            const int stored = height > 0 ? rows - 1 - y : y;  // positive height: bottom row first
            const char* row = file.data() + offset + stride * stored;
            b.bgr.insert(b.bgr.end(), row, row + width * 3);
        }
        return b;
    }
    // 'r', 'g', 'b' for each channel above half scale, '-' for each below a quarter, '?' between.
    std::string Colour(int x, int y) const {
        std::string rgb;
        for (int c : {2, 1, 0}) {
            const int v = bgr[(static_cast<size_t>(y) * width + x) * 3 + c];
            rgb += v > 128 ? "rgb"[2 - c] : v < 64 ? '-' : '?';
        }
        return rgb;
    }
};

TEST_F(ToolsTest, DemoRunsEveryStepAndSavesColourBars) {
    const fs::path out = dir_ / "files";
    // Slot 29: the camera table is shared by every program on the machine,
    // and other tests' sessions hold slot 0 at times.
    const Outcome run = Start("VIMBRA_SIM_CAMERAS=0:color,29:color",
                              std::string(VIMBRA_DEMO_PROGRAM) +
                                  " --camera 29 --seconds 1 --output '" + out.string() + "'");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("all steps passed"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("frames received"), std::string::npos) << run.out;
    for (const char* name :
         {"snapshot-grey8.png", "snapshot-grey16.png", "snapshot-bgr24.png", "snapshot-bgr32.png",
          "snapshot-bgr48.png", "snapshot-bgr64.png", "image.bmp", "image.raw", "image-q100.jpg",
          "image-q70.jpg", "image-q20.jpg", "image.png", "image.tif", "recording.avi"}) {
        EXPECT_TRUE(fs::is_regular_file(out / name) && fs::file_size(out / name) > 0) << name;
        EXPECT_NE(run.out.find((out / name).string()), std::string::npos) << name << " not named";
    }

    // The virtual camera's top band: white, yellow, cyan, green, magenta, red, blue, black.
    const Bitmap bars = Bitmap::Load(out / "image.bmp");
    ASSERT_GT(bars.width, 0);
    const char* expected[] = {"rgb", "rg-", "-gb", "-g-", "r-b", "r--", "--b", "---"};
    // The scene's bouncing box (an eighth of the height) may cover one of
    // three rows more than its height apart, never two: two must agree.
    const int rows[] = {bars.height / 16, bars.height / 5, 2 * bars.height / 5};
    for (int bar = 0; bar < 8; ++bar) {
        int matching = 0;
        for (int row : rows)
            matching += bars.Colour((2 * bar + 1) * bars.width / 16, row) == expected[bar];
        EXPECT_GE(matching, 2) << "bar " << bar;
    }

    const std::string avi = ReadText(out / "recording.avi");
    ASSERT_GT(avi.size(), 72u);
    EXPECT_EQ(avi.substr(0, 4) + avi.substr(8, 4), "RIFFAVI ");
    EXPECT_GT(static_cast<uint8_t>(avi[48]) | static_cast<uint8_t>(avi[49]) << 8, 0) << "no frames";
}

// A failing step names the call and the library's code, which is the exit status.
TEST_F(ToolsTest, DemoExitsWithTheLibrarysCode) {
    const struct {
        const char* environment;
        const char* arguments;
        int code;
    } cases[] = {
        {"VIMBRA_SIM_CAMERAS=none", "", 2},               // no camera at all
        {"VIMBRA_SIM_CAMERAS=0:color", "--camera 5", 2},  // an empty slot
    };
    for (const auto& c : cases) {
        const Outcome run =
            Start(c.environment, std::string(VIMBRA_DEMO_PROGRAM) + " --seconds 1 " + c.arguments +
                                     " --output '" + (dir_ / "files").string() + "'");
        EXPECT_EQ(run.status, c.code) << c.environment << " " << c.arguments << "\n" << run.err;
        EXPECT_NE(run.err.find("failed: error " + std::to_string(c.code) + ": "), std::string::npos)
            << run.err;
        EXPECT_EQ(run.out.find("all steps passed"), std::string::npos);
    }
}

// A camera another program previews is refused with code 2 and a hint,
// however the refusal is stacked.
TEST_F(ToolsTest, DemoSaysWhenAnotherProgramHoldsTheCamera) {
    const std::string camera = "VIMBRA_SIM_CAMERAS=0:color,27:color";
    const fs::path holder_out = dir_ / "holder.txt";
    const std::string holder = "env VIMBRA_DRIVER=sim VIMBRA_WINDOWS=offscreen " + camera +
                               " VIMBRA_REGISTRY_FILE='" + (dir_ / "holder.reg").string() + "' " +
                               VIMBRA_DEMO_PROGRAM + " --camera 27 --steps preview --seconds 4 >'" +
                               holder_out.string() + "' 2>&1 &";
    ASSERT_EQ(std::system(holder.c_str()), 0);
    for (int i = 0; i < 200 && ReadText(holder_out).find("preview for") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(ReadText(holder_out).find("preview for"), std::string::npos) << ReadText(holder_out);

    const Outcome run = Start(
        camera, std::string(VIMBRA_DEMO_PROGRAM) + " --camera 27 --steps preview --seconds 1");
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_NE(run.err.find("failed: error 2: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("another program"), std::string::npos) << run.err;

    for (int i = 0; i < 200 && ReadText(holder_out).find("all steps passed") == std::string::npos;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(ReadText(holder_out).find("all steps passed"), std::string::npos)
        << ReadText(holder_out);
}

// A display that does not open leaves the preview off-screen, and the demo
// says so rather than naming the display.
TEST_F(ToolsTest, DemoSaysThePreviewIsOffScreenWhenTheDisplayDoesNotOpen) {
    const Outcome run =
        Start("VIMBRA_SIM_CAMERAS=0:color,25:color VIMBRA_WINDOWS=x11 DISPLAY=:4711",
              std::string(VIMBRA_DEMO_PROGRAM) + " --camera 25 --steps preview --seconds 1");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("preview for 1 s in off-screen"), std::string::npos) << run.out;
}

// Writes `frames` raw mosaic frames (G R / B G) lit only at the red, green or
// blue sites in turn, as 8-bit samples or 16-bit words of 12 bits.
void WriteMosaicFrames(const fs::path& path, int width, int height, int bits, int frames) {
    std::ofstream file(path, std::ios::binary);
    for (int f = 0; f < frames; ++f) {
        const int lit = f % 3;  // 0 red, 1 green, 2 blue
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int site = (y % 2 == 0) ? (x % 2 == 0 ? 1 : 0) : (x % 2 == 0 ? 2 : 1);
                const int level = site == lit ? 200 : 0;
                if (bits == 8) {
                    file.put(static_cast<char>(level));
                } else {
                    const int sample = level << 4;
                    file.put(static_cast<char>(sample & 0xFF));
                    file.put(static_cast<char>(sample >> 8));
                }
            }
    }
}

TEST_F(ToolsTest, ReplaySavesEachRawFrameInItsColours) {
    for (const int bits : {8, 16}) {
        SCOPED_TRACE(bits);
        const fs::path raw = dir_ / ("frames" + std::to_string(bits) + ".raw");
        const fs::path out = dir_ / ("images" + std::to_string(bits));
        WriteMosaicFrames(raw, 64, 48, bits, 3);
        const Outcome run = Start("", std::string(VIMBRA_REPLAY_PROGRAM) +
                                          " --format bmp --output '" + out.string() + "' 64x48x" +
                                          std::to_string(bits) + " '" + raw.string() + "'");
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const char* expected[] = {"r--", "-g-", "--b"};
        for (int f = 0; f < 3; ++f) {
            const fs::path image = out / ("frame-00000" + std::to_string(f + 1) + ".bmp");
            const Bitmap b = Bitmap::Load(image);
            ASSERT_EQ(b.width, 64) << image;
            ASSERT_EQ(b.height, 48) << image;
            EXPECT_EQ(b.Colour(32, 24), expected[f]) << image;
        }
        EXPECT_FALSE(fs::exists(out / "frame-000004.bmp"));
    }
}

TEST_F(ToolsTest, ReplayStopsAtFramesAsked) {
    const fs::path raw = dir_ / "frames.raw";
    WriteMosaicFrames(raw, 64, 48, 8, 3);
    const Outcome run = Start("", std::string(VIMBRA_REPLAY_PROGRAM) + " --frames 2 --output '" +
                                      (dir_ / "out").string() + "' 64x48x8 '" + raw.string() + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(dir_ / "out" / "frame-000002.png"));
    EXPECT_FALSE(fs::exists(dir_ / "out" / "frame-000003.png"));
}

// Bad input is refused before the library is used, with the reason.
TEST_F(ToolsTest, ReplayRefusesBadInput) {
    std::ofstream(dir_ / "short.raw") << "too short for a frame";
    const std::string shortfile = (dir_ / "short.raw").string();
    const struct {
        std::string arguments;
        int status;
        const char* says;
    } cases[] = {
        {"64x48x8 '" + shortfile + "'", 66, "holds no whole frame"},
        {"64x48x8 '" + (dir_ / "absent.raw").string() + "'", 66, "cannot open"},
        {"64x48x12 '" + shortfile + "'", 64, "WIDTHxHEIGHTxBITS"},
        {"4000x48x8 '" + shortfile + "'", 64, "WIDTHxHEIGHTxBITS"},
        {"64x48x8", 64, "at least one FILE"},
        {"64x48x8 'a:b.raw'", 64, "a file name with ':' cannot be replayed"},
        {"--format gif 64x48x8 '" + shortfile + "'", 64, "bad option --format gif"},
    };
    for (const auto& c : cases) {
        const Outcome run = Start("", std::string(VIMBRA_REPLAY_PROGRAM) + " " + c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.arguments << "\n" << run.err;
    }
}

}  // namespace
