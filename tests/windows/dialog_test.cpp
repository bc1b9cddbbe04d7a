// The property dialogs of the Windows DLL as a user meets them. Each dialog
// is opened by its export on a thread of its own (the call is modal), found
// among that thread's windows, driven through its controls with the messages
// a user's typing, dragging and clicking send, and closed with OK or Cancel;
// the session's settings are then read back through the exports.
#include <windows.h>
// <windows.h> first: the common controls' header builds on it.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"

namespace {

// Control ids as the dialogs' templates carry them.
enum : int {
    kCloseBox = 0,  // not a control: the frame's close box
    kOk = 1,
    kCancel = 2,
    kDefault = 3,
    kTab = 1001,
    // Camera dialog.
    kApply = 1002,
    kColorList = 1009,
    kSizeList = 1010,
    kSubSampleList = 1012,
    kClockList = 1014,
    kTotalWidthEdit = 1039,
    kTotalHeightEdit = 1040,
    kWaitTimeEdit = 1045,
    // Analog page.
    kGlobalGainBar = 1013,
    kGlobalGainEdit = 1015,
    kGainREdit = 1021,
    kGainG2Bar = 1024,
    kExposureBar = 1026,
    kExposureEdit = 1027,
    kMirrorVBox = 1028,
    kExposureTimeText = 1049,
    // Image filter page.
    kBrightnessBar = 2001,
    kBrightnessEdit = 2002,
    kHueEdit = 2022,
    kGammaEdit = 2082,
    kOnceButton = 2074,
    kBayerMode0Radio = 1030,
    // Gray filter page.
    kGrayGainREdit = 2101,
    kGrayscaleRadio = 1048,
};

using DialogExport = int32_t (*)(int32_t, HWND);

std::string ClassOf(HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[256] = {};
    ::GetWindowTextA(window, text, sizeof text);
    return text;
}

std::wstring WideTextOf(HWND window) {
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return text;
}

LONG_PTR StyleOf(HWND window) {
    return ::GetWindowLongPtrA(window, GWL_STYLE);
}

// The user's actions, as the controls report them to their dialog.
void Type(HWND edit, const char* text) {
    ::SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
void Click(HWND button) {
    ::SendMessageA(button, BM_CLICK, 0, 0);
}
void PressKey(HWND control, WPARAM key) {
    ::SendMessageA(control, WM_KEYDOWN, key, 0);
    ::SendMessageA(control, WM_KEYUP, key, 0);
}
// Drags a trackbar's thumb to `position`.
void Drag(HWND trackbar, int position) {
    ::SendMessageA(trackbar, TBM_SETPOS, TRUE, position);
    ::SendMessageA(::GetParent(trackbar), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position),
                   reinterpret_cast<LPARAM>(trackbar));
}
// Picks a line of a drop-down list.
void Choose(HWND list, int index) {
    ::SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::SendMessageA(::GetParent(list), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(list), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
}
// Clicks a tab of a tab control.
void SelectTab(HWND tab, int index) {
    ::SendMessageA(tab, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    NMHDR header{tab, static_cast<UINT_PTR>(::GetDlgCtrlID(tab)), static_cast<UINT>(TCN_SELCHANGE)};
    ::SendMessageA(::GetParent(tab), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

int TrackbarPosition(HWND trackbar) {
    return static_cast<int>(::SendMessageA(trackbar, TBM_GETPOS, 0, 0));
}

std::vector<std::wstring> ListLines(HWND list) {
    std::vector<std::wstring> lines;
    const auto count = ::SendMessageW(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t line[128] = {};
        ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(line));
        lines.emplace_back(line);
    }
    return lines;
}

// The pages of a frame: the dialogs inside its tab control, in tab order.
std::vector<HWND> PagesOf(HWND frame) {
    std::vector<HWND> pages;
    HWND tab = ::GetDlgItem(frame, kTab);
    for (HWND child = ::GetWindow(tab, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "#32770") pages.push_back(child);
    }
    return pages;
}

// Where a child window lies in its parent's client area, in pixels.
POINT PlaceOf(HWND child) {
    RECT r;
    ::GetWindowRect(child, &r);
    POINT p{r.left, r.top};
    ::ScreenToClient(::GetParent(child), &p);
    return p;
}

// A dialog's client area in pixels against its template's size in dialog units.
void ExpectTemplateSize(HWND dialog, int width_units, int height_units) {
    RECT expected{0, 0, width_units, height_units};
    ::MapDialogRect(dialog, &expected);
    RECT client;
    ::GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);
}

// Polls `done` for up to `ms` milliseconds.
bool WaitFor(const std::function<bool()>& done, DWORD ms) {
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < ms; ::Sleep(20)) {
        if (done()) return true;
    }
    return done();
}

// One dialog export running on a thread of its own with a top-level window
// of that thread as the dialog's owner, as a host's main window would be.
class RunningDialog {
  public:
    RunningDialog(DialogExport open, int32_t handle) {
        thread_ = std::thread([this, open, handle] {
            owner_ = ::CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                                       nullptr, nullptr, nullptr);
            thread_id_ = ::GetCurrentThreadId();
            result_ = open(handle, owner_);
            ::DestroyWindow(owner_);
            finished_ = true;
        });
        WaitFor([this] { return (window_ = Find()) != nullptr || finished_; }, 20000);
    }
    ~RunningDialog() {
        // A failed check may leave the dialog open: close it so the thread ends.
        if (!finished_ && window_ != nullptr) ::PostMessageA(window_, WM_CLOSE, 0, 0);
        if (thread_.joinable()) thread_.join();
    }

    // The dialog's frame window; null when none appeared.
    HWND Window() const { return window_; }
    HWND Owner() const { return owner_; }
    HWND Item(int id) const { return ::GetDlgItem(window_, id); }
    // Presses the frame's button `id` (kCloseBox: the title bar's close box)
    // and returns the export's result.
    int32_t CloseWith(int id) {
        if (id == kCloseBox) {
            ::SendMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else {
            Click(Item(id));
        }
        thread_.join();
        return result_;
    }
    // The export's result once it returned by itself.
    int32_t Result() {
        thread_.join();
        return result_;
    }

  private:
    HWND Find() const {
        if (thread_id_ == 0) return nullptr;
        HWND found = nullptr;
        ::EnumThreadWindows(
            thread_id_,
            [](HWND window, LPARAM out) -> BOOL {
                if (ClassOf(window) != "#32770" || !::IsWindowVisible(window)) return TRUE;
                *reinterpret_cast<HWND*>(out) = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found;
    }

    std::thread thread_;
    std::atomic<DWORD> thread_id_{0};
    std::atomic<bool> finished_{false};
    HWND owner_ = nullptr;
    HWND window_ = nullptr;
    int32_t result_ = -1;
};

constexpr char kSettingsKey[] = "Software\\Norvix\\Vimbra740QXRDLSdk";

// A session on the virtual camera whose settings start from the defaults.
// The English cases expect an English system (CTest runs them with
// LC_ALL=en_US.UTF-8).
class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsKey);
        handle_ = Vimbra_Initialize(nullptr);
        ASSERT_NE(handle_, 0);
    }
    void TearDown() override {
        if (handle_ != 0) Vimbra_Release(handle_);
    }

    int32_t handle_ = 0;
};

TEST_F(DialogTest, CameraDialogSavesTheFormatOnOkOnly) {
    struct Case {
        int close;
        int32_t colour_bits, wait_time;  // expected after the dialog
    };
    const int32_t bits_before = Vimbra_GetColorMode(handle_);
    const int32_t wait_before = Vimbra_GetWaitTime(handle_);
    for (const Case c : {Case{kCancel, bits_before, wait_before}, Case{kOk, 32, 25}}) {
        SCOPED_TRACE(c.close);
        RunningDialog dialog(&Vimbra_SetCameraDlg, handle_);
        HWND window = dialog.Window();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(::GetWindow(window, GW_OWNER), dialog.Owner());
        EXPECT_FALSE(::IsWindowEnabled(dialog.Owner()));  // modal to its owner
        EXPECT_EQ(TextOf(window), "Camera");
        ExpectTemplateSize(window, 313, 229);

        HWND tab = dialog.Item(kTab);
        EXPECT_EQ(ClassOf(tab), "SysTabControl32");
        EXPECT_NE(StyleOf(tab) & TCS_OWNERDRAWFIXED, 0);
        EXPECT_EQ(::SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0), 1);
        for (int id : {kColorList, kSizeList, kSubSampleList, kClockList}) {
            EXPECT_EQ(ClassOf(dialog.Item(id)), "ComboBox") << id;
        }
        for (int id = kTotalWidthEdit; id <= kWaitTimeEdit; ++id) {
            EXPECT_EQ(ClassOf(dialog.Item(id)), "Edit") << id;
            EXPECT_EQ((StyleOf(dialog.Item(id)) & ES_READONLY) != 0,
                      id == kTotalWidthEdit || id == kTotalHeightEdit)
                << id;
        }
        const std::vector<std::wstring> colours = ListLines(dialog.Item(kColorList));
        ASSERT_EQ(colours.size(), 6u);
        EXPECT_EQ(colours[1], L"Monochrome 10bit *");
        EXPECT_EQ(ListLines(dialog.Item(kSizeList)).back(), L"Custom");
        EXPECT_EQ(ListLines(dialog.Item(kSubSampleList)).size(), 5u);
        // No stored sizes: the custom size shows the default sensor window.
        EXPECT_EQ(TextOf(dialog.Item(kTotalWidthEdit)), "2592");

        EXPECT_FALSE(::IsWindowEnabled(dialog.Item(kApply)));
        Choose(dialog.Item(kColorList), 3);  // "Color 32bit"
        EXPECT_TRUE(::IsWindowEnabled(dialog.Item(kApply)));
        Type(dialog.Item(kWaitTimeEdit), "25");
        EXPECT_EQ(dialog.CloseWith(c.close), 1);
        EXPECT_EQ(Vimbra_GetColorMode(handle_), c.colour_bits);
        EXPECT_EQ(Vimbra_GetWaitTime(handle_), c.wait_time);
    }
}

TEST_F(DialogTest, AnalogDialogAppliesEachChangeAndCancelPutsTheCameraBack) {
    ASSERT_EQ(Vimbra_SetGlobalGain(handle_, 10), 1);
    const int32_t blue_before = Vimbra_GetColorGainBlue(handle_, nullptr);
    const int32_t exposure_before = Vimbra_GetExposureTime(handle_, nullptr);
    for (const int close : {kCancel, kCloseBox, kOk}) {
        SCOPED_TRACE(close);
        RunningDialog dialog(&Vimbra_SetAnalogDlg, handle_);
        HWND frame = dialog.Window();
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(TextOf(frame), "Property");
        EXPECT_EQ(TextOf(dialog.Item(kCancel)), "Cancel");
        ExpectTemplateSize(frame, 294, 178);
        const std::vector<HWND> pages = PagesOf(frame);
        ASSERT_EQ(pages.size(), 1u);
        HWND page = pages[0];
        EXPECT_EQ(PlaceOf(page).x, 30);
        EXPECT_EQ(PlaceOf(page).y, 25);
        ExpectTemplateSize(page, 238, 126);
        auto item = [page](int id) { return ::GetDlgItem(page, id); };
        EXPECT_EQ(ClassOf(item(kGlobalGainBar)), "msctls_trackbar32");
        EXPECT_NE(StyleOf(item(kGlobalGainEdit)) & ES_NUMBER, 0);
        EXPECT_EQ(TextOf(item(kGlobalGainEdit)), "10");
        EXPECT_EQ(TrackbarPosition(item(kGlobalGainBar)), 10);

        // Typing a global gain sets it and all four colour gains at once.
        Type(item(kGlobalGainEdit), "20");
        EXPECT_EQ(Vimbra_GetGlobalGain(handle_, nullptr), 20);
        EXPECT_EQ(Vimbra_GetColorGainBlue(handle_, nullptr), 20);
        EXPECT_EQ(TextOf(item(kGainREdit)), "20");
        EXPECT_EQ(TrackbarPosition(item(kGainG2Bar)), 20);
        // The up arrow in the edit steps it through its up-down control.
        PressKey(item(kGlobalGainEdit), VK_UP);
        EXPECT_EQ(TextOf(item(kGlobalGainEdit)), "21");
        EXPECT_EQ(Vimbra_GetGlobalGain(handle_, nullptr), 21);
        // The End key takes the exposure trackbar to its maximum.
        PressKey(item(kExposureBar), VK_END);
        EXPECT_EQ(TextOf(item(kExposureEdit)), "16383");
        EXPECT_EQ(Vimbra_GetExposureTime(handle_, nullptr), 16383);
        const std::string time = TextOf(item(kExposureTimeText));
        EXPECT_EQ(time.front(), '=');
        EXPECT_EQ(time.substr(time.size() - 2), "ms");
        Click(item(kMirrorVBox));
        EXPECT_EQ(Vimbra_GetMirrorV(handle_), 1);

        EXPECT_EQ(dialog.CloseWith(close), 1);
        const bool kept = close == kOk;
        EXPECT_EQ(Vimbra_GetGlobalGain(handle_, nullptr), kept ? 21 : 10);
        EXPECT_EQ(Vimbra_GetColorGainBlue(handle_, nullptr), kept ? 21 : blue_before);
        EXPECT_EQ(Vimbra_GetExposureTime(handle_, nullptr), kept ? 16383 : exposure_before);
        EXPECT_EQ(Vimbra_GetMirrorV(handle_), kept ? 1 : 0);
    }
}

// The colour mode decides the pages: colour images get the image page with
// every setting, monochrome ones the gray page as well, with the colour
// settings disabled.
TEST_F(DialogTest, ImageDialogPagesFollowTheColourMode) {
    struct Case {
        int32_t bits;
        int close;
    };
    for (const Case c : {Case{24, kOk}, Case{8, kCancel}}) {
        SCOPED_TRACE(c.bits);
        ASSERT_EQ(Vimbra_SetColorMode(handle_, c.bits), 1);
        const bool mono = c.bits == 8;
        const int32_t brightness_before = Vimbra_GetBrightness(handle_, nullptr);
        const int32_t gray_gain_before = Vimbra_GetGrayGainR(handle_, nullptr);
        RunningDialog dialog(&Vimbra_SetImageDlg, handle_);
        HWND frame = dialog.Window();
        ASSERT_NE(frame, nullptr);
        ExpectTemplateSize(frame, 294, 194);
        HWND tab = dialog.Item(kTab);
        EXPECT_EQ(::SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0), mono ? 2 : 1);
        const std::vector<HWND> pages = PagesOf(frame);
        ASSERT_EQ(pages.size(), mono ? 2u : 1u);
        HWND image = ::GetDlgItem(pages[0], kBrightnessEdit) != nullptr ? pages[0] : pages.back();
        EXPECT_TRUE(::IsWindowVisible(image));
        EXPECT_EQ(PlaceOf(image).x, 30);
        EXPECT_EQ(PlaceOf(image).y, 25);
        ExpectTemplateSize(image, 251, 142);
        EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(image, kHueEdit)) != FALSE, !mono);
        EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(image, kBayerMode0Radio)) != FALSE, !mono);
        EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(image, kGammaEdit)));

        Drag(::GetDlgItem(image, kBrightnessBar), 50);
        EXPECT_EQ(TextOf(::GetDlgItem(image, kBrightnessEdit)), "50");
        EXPECT_EQ(Vimbra_GetBrightness(handle_, nullptr), 50);
        if (mono) {
            HWND gray = pages[0] == image ? pages[1] : pages[0];
            EXPECT_FALSE(::IsWindowVisible(gray));
            SelectTab(tab, 1);
            EXPECT_TRUE(::IsWindowVisible(gray));
            EXPECT_FALSE(::IsWindowVisible(image));
            Type(::GetDlgItem(gray, kGrayGainREdit), "200");
            EXPECT_EQ(Vimbra_GetGrayGainR(handle_, nullptr), 200);
            Click(::GetDlgItem(gray, kGrayscaleRadio));
            EXPECT_EQ(Vimbra_GetGrayMode(handle_, nullptr), 2);
            Click(dialog.Item(kDefault));
            EXPECT_EQ(TextOf(::GetDlgItem(gray, kGrayGainREdit)), "128");
        }
        EXPECT_EQ(dialog.CloseWith(c.close), 1);
        const bool kept = c.close == kOk;
        EXPECT_EQ(Vimbra_GetBrightness(handle_, nullptr), kept ? 50 : brightness_before);
        EXPECT_EQ(Vimbra_GetGrayGainR(handle_, nullptr), gray_gain_before);
    }
}

// A white balance measured by the running preview refreshes the open dialog:
// the acquisition thread's request reaches the dialog's thread, which shows
// the filter record again, here with a brightness set behind its back.
TEST_F(DialogTest, ImageDialogShowsWhatTheRunningAcquisitionChanged) {
    ASSERT_EQ(Vimbra_SetColorMode(handle_, 24), 1);
    ASSERT_EQ(Vimbra_StartPreview(handle_), 1);
    {
        RunningDialog dialog(&Vimbra_SetImageDlg, handle_);
        ASSERT_NE(dialog.Window(), nullptr);
        HWND image = PagesOf(dialog.Window()).at(0);
        ASSERT_EQ(Vimbra_SetBrightness(handle_, 77), 1);
        EXPECT_EQ(TextOf(::GetDlgItem(image, kBrightnessEdit)), "0");
        Click(::GetDlgItem(image, kOnceButton));
        EXPECT_TRUE(
            WaitFor([&] { return TextOf(::GetDlgItem(image, kBrightnessEdit)) == "77"; }, 20000));
        EXPECT_EQ(dialog.CloseWith(kOk), 1);
    }
    EXPECT_EQ(Vimbra_GetBrightness(handle_, nullptr), 77);
    EXPECT_EQ(Vimbra_StopPreview(handle_), 1);
}

TEST_F(DialogTest, ABadOwnerWindowIsRefusedWithCode4) {
    HWND bad = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7ff0));
    ASSERT_FALSE(::IsWindow(bad));
    for (DialogExport open : {&Vimbra_SetCameraDlg, &Vimbra_SetAnalogDlg, &Vimbra_SetImageDlg}) {
        EXPECT_EQ(open(handle_, bad), 0);
        EXPECT_EQ(Vimbra_GetLastError(handle_), VIMBRA_ERR_WINDOW);
    }
}

// What a host's timer did when its thread's messages were dispatched by a
// dialog's message loop, as a host's window procedure would.
struct HostTimerCalls {
    int32_t handle = 0;
    int32_t gain = -1, release = -1;
    std::atomic<bool> fired{false};
};
HostTimerCalls g_timer;

void CALLBACK HostTimer(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    g_timer.gain = Vimbra_SetGlobalGain(g_timer.handle, 12);
    g_timer.release = Vimbra_Release(g_timer.handle);
    g_timer.fired = true;
}

int32_t AnalogDialogWithAHostTimer(int32_t handle, HWND owner) {
    g_timer.handle = handle;
    ::SetTimer(nullptr, 0, 10, HostTimer);
    return Vimbra_SetAnalogDlg(handle, owner);
}

TEST_F(DialogTest, HostCallsFromInsideTheDialogsMessageLoop) {
    RunningDialog dialog(&AnalogDialogWithAHostTimer, handle_);
    ASSERT_NE(dialog.Window(), nullptr);
    ASSERT_TRUE(WaitFor([] { return g_timer.fired.load(); }, 10000));
    // A setting from inside the dialog's call acts; releasing the session the
    // dialog is using is refused instead of waiting for itself.
    EXPECT_EQ(g_timer.gain, 1);
    EXPECT_EQ(g_timer.release, 0);
    EXPECT_EQ(dialog.CloseWith(kOk), 1);
    EXPECT_EQ(Vimbra_Release(handle_), 1);
    handle_ = 0;
}

// Run with the system's language set to Japanese (LC_ALL=ja_JP.UTF-8 under
// Wine; CTest runs these cases so): the Japanese templates, whose texts the
// resource script holds in code page 932, and the Japanese lines the dialogs
// insert.
class JapaneseDialogs : public DialogTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(::GetSystemDefaultLangID(), 1041) << "run with LC_ALL=ja_JP.UTF-8";
        DialogTest::SetUp();
    }
};

TEST_F(JapaneseDialogs, UseTheJapaneseTemplatesAndTexts) {
    {
        RunningDialog dialog(&Vimbra_SetCameraDlg, handle_);
        ASSERT_NE(dialog.Window(), nullptr);
        EXPECT_EQ(WideTextOf(dialog.Window()), L"カメラ");
        // Hosts that read it through the ANSI functions get it in code page 932.
        EXPECT_EQ(TextOf(dialog.Window()), "\x83\x4A\x83\x81\x83\x89");
        EXPECT_EQ(ListLines(dialog.Item(kColorList))[1], L"白黒 12bit ※");
        EXPECT_EQ(ListLines(dialog.Item(kClockList))[0], L"標準(24MHz)");
        EXPECT_EQ(ListLines(dialog.Item(kSizeList)).back(), L"カスタム");
        EXPECT_EQ(dialog.CloseWith(kCancel), 1);
    }
    {
        RunningDialog dialog(&Vimbra_SetAnalogDlg, handle_);
        ASSERT_NE(dialog.Window(), nullptr);
        EXPECT_EQ(WideTextOf(dialog.Item(kCancel)), L"キャンセル");
        HWND page = PagesOf(dialog.Window()).at(0);
        EXPECT_EQ(WideTextOf(::GetDlgItem(page, kMirrorVBox)), L"ミラー V");
        EXPECT_EQ(dialog.CloseWith(kCancel), 1);
    }
    ASSERT_EQ(Vimbra_SetColorMode(handle_, 8), 1);
    {
        RunningDialog dialog(&Vimbra_SetImageDlg, handle_);
        ASSERT_NE(dialog.Window(), nullptr);
        EXPECT_EQ(WideTextOf(dialog.Item(kDefault)), L"既定値(&D)");
        const std::vector<HWND> pages = PagesOf(dialog.Window());
        ASSERT_EQ(pages.size(), 2u);
        HWND gray = ::GetDlgItem(pages[0], kGrayscaleRadio) != nullptr ? pages[0] : pages[1];
        EXPECT_EQ(WideTextOf(::GetDlgItem(gray, kGrayscaleRadio)), L"グレースケール");
        EXPECT_EQ(dialog.CloseWith(kCancel), 1);
    }
}

}  // namespace
