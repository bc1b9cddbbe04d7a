// The dialogs' real windows on an X server: each test opens one dialog,
// sends its widgets events, checks what reached the session and saves a
// screenshot. The tests use $DISPLAY when it can be opened, otherwise start
// their own Xvfb, and skip when neither is possible.
// GoogleTest before FLTK, whose X11 headers define None and Status.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Tabs.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "dialogs/views/dialog_window.h"
#include "dialogs/views/fltk_display.h"
#include "fake_dialog_session.h"
#include "platform/registry_test_env.h"
#include "platform/window.h"
#include "platform/x11_display.h"
#include "xvfb_server.h"

extern char** environ;

// The font library under FLTK keeps its font cache for the life of the
// process; the leak checker would report it at exit.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace vimbra::dialogs::views {
namespace {

using testing::FakeSession;

// An X server for the whole program: the host's when it answers, else an
// Xvfb of our own, stopped at the end.
class XServer {
  public:
    static bool Ready() {
        static XServer server;
        return server.ready_;
    }

  private:
    XServer() {
        if (void* display = platform::OpenX11Display()) {
            platform::CloseX11Display(display);
            ready_ = true;
            return;
        }
        if (access("/usr/bin/Xvfb", X_OK) != 0) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        const std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb",        "-displayfd", fd.c_str(), "-screen",    "0",
                              "1024x768x24", "-nolisten",  "tcp",      "-terminate", nullptr};
        if (posix_spawn(&pid_, "/usr/bin/Xvfb", nullptr, nullptr, const_cast<char**>(argv),
                        environ) != 0) {
            pid_ = 0;
            return;
        }
        close(fds[1]);
        char number[16] = {};
        const ssize_t n =
            read(fds[0], number, sizeof number - 1);  // written once it accepts clients
        close(fds[0]);
        if (n <= 0) return;
        setenv("DISPLAY", (":" + std::string(number, strcspn(number, "\n"))).c_str(), 1);
        ready_ = true;
    }
    ~XServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid_ = 0;
    bool ready_ = false;
};

// Saves the window's pixels as a PNG file in $VIMBRA_SCREENSHOT_DIR, or in
// the temporary directory.
void SaveScreenshot(Fl_Double_Window& window, const std::string& name) {
    Fl::flush();
    window.make_current();
    const int w = window.w(), h = window.h();
    std::unique_ptr<uchar[]> pixels(fl_read_image(nullptr, 0, 0, w, h));
    ASSERT_NE(pixels, nullptr);
    const char* dir = std::getenv("VIMBRA_SCREENSHOT_DIR");
    const std::filesystem::path path =
        std::filesystem::path(dir != nullptr ? dir
                                             : std::filesystem::temp_directory_path().string()) /
        name;
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) png_write_row(png, pixels.get() + y * w * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    // A blank capture would mean the window was never drawn.
    bool varied = false;
    for (int i = 3; i < w * h * 3 && !varied; ++i) varied = pixels[i] != pixels[0];
    EXPECT_TRUE(varied);
}

// Runs `stages` one after the other from the window's own event loop, each
// after the loop has handled what the one before caused, then closes the
// window if the stages left it open.
struct Script {
    DialogWindow* window;
    std::vector<std::function<void()>> stages;
    size_t next = 0;

    static void Step(void* data) {
        auto* s = static_cast<Script*>(data);
        s->stages[s->next++]();
        if (s->next < s->stages.size() && !::testing::Test::HasFatalFailure()) {
            Fl::repeat_timeout(0.2, Step, data);
        } else if (s->window->Window().shown()) {
            s->window->Window().do_callback();
        }
    }
};

int RunStages(DialogWindow& window, std::vector<std::function<void()>> stages,
              HWND owner = nullptr) {
    Script script{&window, std::move(stages)};
    Fl::add_timeout(0.2, Script::Step, &script);
    return window.RunModal(owner);
}

class DialogViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!XServer::Ready()) GTEST_SKIP() << "no X server and no Xvfb";
        ASSERT_TRUE(display_.Available());
    }
    template <typename W>
    W* Widget(DialogWindow& window, const ControlPage& page, int id) {
        auto* widget = dynamic_cast<W*>(window.Find(page, id));
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    static void Type(Fl_Input* input, const char* text) {
        input->value(text);
        input->do_callback();
    }
    // One key press as the window system delivers it to the focused widget.
    static void Key(DialogWindow& window, Fl_Widget* widget, char key) {
        static char text[2];
        text[0] = key;
        Fl::focus(widget);
        Fl::e_keysym = key;
        Fl::e_text = text;
        Fl::e_length = 1;
        Fl::handle(FL_KEYBOARD, &window.Window());
    }

    FltkDisplay display_;
    FakeSession session_;
};

TEST_F(DialogViewTest, CameraDialog) {
    vimbra::testing::TempRegistry registry;
    CameraDialogSettings stored;
    stored.sizes[0] = {2592, 1944, 1280, 960, 0, 0, 4};
    stored.sizes[1] = {2592, 1944, 640, 480, 320, 240, 4};
    stored.size_count = 2;
    stored.color_index = 2;
    stored.sub_sample = 3;  // list position of 1/2 Bin
    ASSERT_EQ(SaveDialogSettings(stored), 1);
    CameraDialogModel model(session_, Language::kEnglish);
    model.Init();
    auto window = DialogWindow::ForCamera(model);
    const int result = RunStages(
        *window, {
                     [&] {
                         auto* sizes = Widget<Fl_Choice>(*window, model, kSizeList);
                         ASSERT_EQ(sizes->size(), 4);  // three lines and the menu's end
                         EXPECT_STREQ(sizes->text(2), "Custom");
                         EXPECT_STREQ(Widget<Fl_Choice>(*window, model, kSubSampleList)->text(),
                                      "1/2 Bin");
                         EXPECT_FALSE(window->Find(model, kCameraApply)->active());
                         sizes->value(1);
                         sizes->do_callback();
                         EXPECT_STREQ(Widget<Fl_Input>(*window, model, kLeftEdit)->value(), "320");
                         EXPECT_TRUE(window->Find(model, kCameraApply)->active());
                         Type(Widget<Fl_Input>(*window, model, kWaitTimeEdit), "30");
                     },
                     [&] { SaveScreenshot(window->Window(), "camera-dialog.png"); },
                     [&] { window->Find(model, kCameraOk)->do_callback(); },
                 });
    EXPECT_EQ(result, kResultOk);
    CameraDialogSettings saved;
    LoadDialogSettings(saved);
    EXPECT_EQ(saved.size_index, 1);
    EXPECT_EQ(saved.wait_time, 30);
}

TEST_F(DialogViewTest, AnalogDialog) {
    session_.analog = {14, 14, 14, 14, 14, 1970, 0, 0, 0};
    AnalogDialogModel model(session_);
    AnalogPage& page = model.Page();
    session_.open_dialogs.AttachAnalog(&model.Inbox());
    model.Init();
    auto window = DialogWindow::ForAnalog(model);
    const int result = RunStages(
        *window, {
                     [&] {
                         auto* gain = Widget<Fl_Input>(*window, page, kGlobalGainEdit);
                         gain->value("");
                         gain->do_callback();
                         Key(*window, gain, '2');
                         Key(*window, gain, 'x');  // not a digit: refused
                         Key(*window, gain, '0');
                         EXPECT_STREQ(gain->value(), "20");
                         EXPECT_STREQ(Widget<Fl_Input>(*window, page, kGainBEdit)->value(), "20");
                         EXPECT_EQ(Widget<Fl_Slider>(*window, page, kGainG2Bar)->value(), 20);
                         window->Find(page, kMirrorVBox)->do_callback();
                         // The acquisition thread's auto iris reaches the open window.
                         std::thread([&] { session_.open_dialogs.AutoIrisExposure(4000); }).join();
                     },
                     [&] {
                         EXPECT_STREQ(Widget<Fl_Input>(*window, page, kExposureEdit)->value(),
                                      "4000");
                         EXPECT_EQ(session_.camera.exposure, 4000);
                         SaveScreenshot(window->Window(), "analog-dialog.png");
                     },
                     [&] { window->Find(model.Frame(), kFrameOk)->do_callback(); },
                 });
    session_.open_dialogs.AttachAnalog(nullptr);
    EXPECT_EQ(result, kResultOk);
    EXPECT_EQ(session_.camera.color_gains[kRegisterR], 20);
    EXPECT_EQ(session_.camera.mirror_v, 1);
}

TEST_F(DialogViewTest, ImageDialog) {
    session_.filter.red_gain = session_.filter.green_gain = session_.filter.blue_gain = 100;
    session_.filter.gamma = 100;
    session_.filter.bayer_mode = 3;
    session_.colour_mode = 2;
    {
        ImageDialogModel model(session_);
        model.Init();
        auto window = DialogWindow::ForImage(model);
        const int result = RunStages(
            *window,
            {
                [&] {
                    auto* hue = Widget<Fl_Slider>(*window, model.Image(), 2021);
                    hue->value(-90);
                    hue->do_callback();
                    EXPECT_STREQ(Widget<Fl_Input>(*window, model.Image(), 2022)->value(), "-90");
                    window->Find(model.Image(), kOnceButton)->do_callback();
                    EXPECT_EQ(Widget<Fl_Tabs>(*window, model.Frame(), kFrameTab)->children(), 1);
                },
                [&] { SaveScreenshot(window->Window(), "image-dialog.png"); },
            });
        EXPECT_EQ(result, kResultCancel);     // closed by the window's close box
        EXPECT_EQ(session_.filter.hue, -90);  // the flow around the dialog puts it back
        EXPECT_EQ(session_.filter.white_balance_request[1], 1);
    }
    session_.colour_mode = 0;
    ImageDialogModel model(session_);
    model.Init();
    auto window = DialogWindow::ForImage(model);
    const int result = RunStages(
        *window, {
                     [&] {
                         EXPECT_FALSE(window->Find(model.Image(), 2021)->active());
                         auto* tabs = Widget<Fl_Tabs>(*window, model.Frame(), kFrameTab);
                         ASSERT_EQ(tabs->children(), 2);
                         tabs->value(tabs->child(1));
                         tabs->do_callback();
                         EXPECT_TRUE(model.Gray().Visible());
                         window->Find(model.Gray(), kGrayModeGrayscaleRadio)->do_callback();
                         window->Find(model.Frame(), kFrameDefault)->do_callback();
                         EXPECT_EQ(Widget<Fl_Slider>(*window, model.Gray(), 2100)->value(), 128);
                     },
                     [&] { window->Find(model.Frame(), kFrameOk)->do_callback(); },
                 });
    EXPECT_EQ(result, kResultOk);
    EXPECT_EQ(session_.filter.gray.mode, 2);
    EXPECT_EQ(session_.filter.gray.gain_g2, 128);
}

TEST_F(DialogViewTest, DialogStaysAboveTheHostsWindow) {
    // The host's window comes from another X connection than the dialog's,
    // as a host program's own window would.
    if (platform::ActiveWindowBackend() != platform::WindowBackendKind::kX11) {
        GTEST_SKIP() << "display windows are off-screen";
    }
    ASSERT_TRUE(platform::RegisterWindowClass("DialogTestHost"));
    platform::WindowParams params;
    params.class_name = "DialogTestHost";
    params.style = platform::kWsOverlappedWindow;
    params.width = 300;
    params.height = 200;
    const HWND owner = platform::CreateWindow(params);
    ASSERT_NE(owner, nullptr);
    platform::ShowWindow(owner, true);
    const unsigned long owner_xid = platform::X11WindowOf(owner);
    ASSERT_NE(owner_xid, 0u);
    AnalogDialogModel model(session_);
    model.Init();
    auto window = DialogWindow::ForAnalog(model);
    RunStages(*window, {[&] {
        ::Window parent = 0;
        XGetTransientForHint(fl_display, fl_xid(&window->Window()), &parent);
        EXPECT_EQ(parent, owner_xid);
    }},
              owner);
    platform::DestroyWindow(owner);
    platform::UnregisterWindowClass("DialogTestHost");
}

TEST_F(DialogViewTest, TheDisplayRunsTheFlowsAndOwnerlessWindowsNeedNoHost) {
    session_.colour_mode = 3;
    Fl::add_timeout(0.3, [](void*) {
        if (Fl::first_window() != nullptr) Fl::first_window()->do_callback();
    });
    EXPECT_EQ(RunImageDialog(session_, display_, nullptr), 1);
    EXPECT_TRUE(session_.errors.empty());
}

// A server that goes away under an open dialog: the dialog ends as Cancel,
// the process lives on and later dialogs find no display. In a child process
// of its own, since FLTK keeps its first display for the life of a process.
TEST(DialogDisplayLost, OpenDialogEndsAsCancel) {
    if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "no Xvfb";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            vimbra::testing::XvfbServer server;
            if (!server.ok()) _exit(1);
            setenv("DISPLAY", server.name(), 1);
            vimbra::testing::TempRegistry registry;
            FakeSession session;
            FltkDisplay display;
            if (!display.Available()) _exit(1);
            CameraDialogModel model(session, Language::kEnglish);
            model.Init();
            auto window = DialogWindow::ForCamera(model);
            Fl::add_timeout(
                0.2, [](void* s) { static_cast<vimbra::testing::XvfbServer*>(s)->Kill(); },
                &server);
            // A dialog left open would wait for ever.
            Fl::add_timeout(10, [](void*) { _exit(3); });
            const int result = window->RunModal(nullptr);
            _exit(result == kResultCancel && !display.Available() ? 5 : 2);
        },
        ::testing::ExitedWithCode(5), "");
}

}  // namespace
}  // namespace vimbra::dialogs::views
