// The Windows DLL as a Windows host sees it: loaded through its import
// library, its exports found by name, its messages read with the system's
// message functions and its settings in the system registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"

namespace {

const char* const kExportNames[] = {
#include "export_names.inc"
};

HMODULE Dll() {
    return ::GetModuleHandleA("VimbraSdk_740QX_RDL.dll");
}

// The names in the DLL's export directory.
std::set<std::string> ExportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::set<std::string> out;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        out.insert(reinterpret_cast<const char*>(base + names[i]));
    return out;
}

TEST(WindowsDll, ExportsExactlyTheCatalogueByName) {
    ASSERT_EQ(Vimbra_GetDllVersion(), VIMBRA_DLL_VERSION);  // also loads the DLL
    HMODULE dll = Dll();
    ASSERT_NE(dll, nullptr);
    const std::set<std::string> expected(std::begin(kExportNames), std::end(kExportNames));
    EXPECT_EQ(ExportedNames(dll), expected);
    for (const char* name : kExportNames) EXPECT_NE(::GetProcAddress(dll, name), nullptr) << name;
}

TEST(WindowsDll, VersionResourceNamesTheSdk) {
    char path[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameA(Dll(), path, sizeof path), 0u);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path, 0, size, info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &len));
    EXPECT_EQ(fixed->dwFileVersionMS, (1u << 16) | 3u);
    EXPECT_EQ(fixed->dwFileVersionLS, 2u << 16);
    char* description = nullptr;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileDescription",
                                 reinterpret_cast<void**>(&description), &len));
    EXPECT_STREQ(description, "VIMBRA-740QX-RDL SDK");
}

// A session on the virtual camera with a message-only window of the test's
// thread as its notification window.
class WindowsSession : public ::testing::Test {
  protected:
    void SetUp() override {
        window_ = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                    nullptr);
        ASSERT_NE(window_, nullptr);
        handle_ = Vimbra_Initialize(window_);
        ASSERT_NE(handle_, 0);
    }
    void TearDown() override {
        if (handle_ != 0) Vimbra_Release(handle_);
        if (window_ != nullptr) ::DestroyWindow(window_);
    }

    HWND window_ = nullptr;
    int32_t handle_ = 0;
};

TEST_F(WindowsSession, UnknownHandleIsRefusedWithoutRecording) {
    EXPECT_EQ(Vimbra_Capture(handle_ + 1000), 0);
    EXPECT_EQ(Vimbra_GetLastError(handle_), 0);
}

TEST_F(WindowsSession, ErrorsArePostedToTheNotificationWindow) {
    EXPECT_EQ(Vimbra_SetDeviceNumber(handle_, 31), 0);  // no camera in slot 31
    MSG msg;
    ASSERT_TRUE(::PeekMessageA(&msg, window_, VIMBRA_MSG_ERROR, VIMBRA_MSG_ERROR, PM_REMOVE));
    EXPECT_EQ(msg.lParam, VIMBRA_ERR_NO_CAMERA);
    EXPECT_EQ(Vimbra_GetLastError(handle_), VIMBRA_ERR_NO_CAMERA);
}

TEST_F(WindowsSession, SettingsPersistInTheCurrentUsersRegistry) {
    ASSERT_EQ(Vimbra_SetBrightness(handle_, 50), 1);
    ASSERT_EQ(Vimbra_SetGlobalGain(handle_, 30), 1);
    ASSERT_EQ(Vimbra_Release(handle_), 1);
    handle_ = 0;
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Norvix\\Vimbra740QXRDLSdk", 0, KEY_READ,
                              &key),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
    handle_ = Vimbra_Initialize(window_);
    ASSERT_NE(handle_, 0);
    EXPECT_EQ(Vimbra_GetBrightness(handle_, nullptr), 50);
    EXPECT_EQ(Vimbra_GetGlobalGain(handle_, nullptr), 30);
}

TEST_F(WindowsSession, SnapshotDeliversAFrame) {
    const int32_t width = Vimbra_Width(handle_);
    const int32_t height = Vimbra_Height(handle_);
    ASSERT_GT(width, 0);
    ASSERT_GT(height, 0);
    std::vector<uint8_t> buffer(static_cast<size_t>(width) * height * 8, 0xA5);
    ASSERT_EQ(Vimbra_SnapShot(handle_, buffer.data(), static_cast<int32_t>(buffer.size()), 0), 1);
    // The virtual camera's scene is not one flat value: the frame was written.
    const uint8_t first = buffer[0];
    bool varied = false;
    for (size_t i = 1; i < static_cast<size_t>(width) * 3 && !varied; ++i)
        varied = buffer[i] != first;
    EXPECT_TRUE(varied);
}

TEST_F(WindowsSession, SnapshotSavesAsBitmapAndRaw) {
    std::vector<uint8_t> buffer(static_cast<size_t>(Vimbra_Width(handle_)) *
                                Vimbra_Height(handle_) * 8);
    ASSERT_EQ(Vimbra_SnapShot(handle_, buffer.data(), static_cast<int32_t>(buffer.size()), 0), 1);
    struct Case {
        const char* file;
        int32_t format;
    };
    for (const Case& c : {Case{"snapshot.bmp", 0}, Case{"snapshot.raw", 1}}) {
        ::DeleteFileA(c.file);
        EXPECT_EQ(Vimbra_SaveImage(handle_, c.file, c.format), 1) << c.file;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(::GetFileAttributesExA(c.file, GetFileExInfoStandard, &data)) << c.file;
        EXPECT_GT(data.nFileSizeLow, 0u) << c.file;
        ::DeleteFileA(c.file);
    }
}

// The name of the test program, which a check starts again as a second
// process holding a camera.
char g_program[MAX_PATH];

constexpr char kHoldingEvent[] = "VimbraDllTestHolding";
constexpr char kReleaseEvent[] = "VimbraDllTestRelease";

// The second process: streams from camera 0, says so, and keeps streaming
// until told to stop.
int HoldCamera() {
    HANDLE holding = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, kHoldingEvent);
    HANDLE release = ::OpenEventA(SYNCHRONIZE, FALSE, kReleaseEvent);
    if (holding == nullptr || release == nullptr) return 2;
    const int32_t h = Vimbra_Initialize(nullptr);
    if (h == 0 || Vimbra_StartPreview(h) != 1) return 3;
    ::SetEvent(holding);
    ::WaitForSingleObject(release, 60000);
    Vimbra_StopPreview(h);
    Vimbra_Release(h);
    return 0;
}

// Closes a handle when it goes out of scope.
struct ScopedHandle {
    HANDLE h;
    ~ScopedHandle() {
        if (h != nullptr) ::CloseHandle(h);
    }
};

TEST_F(WindowsSession, ACameraAnotherProcessHoldsIsRefused) {
    ScopedHandle holding{::CreateEventA(nullptr, TRUE, FALSE, kHoldingEvent)};
    ScopedHandle release{::CreateEventA(nullptr, TRUE, FALSE, kReleaseEvent)};
    ASSERT_NE(holding.h, nullptr);
    ASSERT_NE(release.h, nullptr);
    std::string command = std::string("\"") + g_program + "\" --hold-camera";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &child));
    ScopedHandle process{child.hProcess};
    ScopedHandle thread{child.hThread};
    ASSERT_EQ(::WaitForSingleObject(holding.h, 30000), WAIT_OBJECT_0);

    EXPECT_EQ(Vimbra_Capture(handle_), 0);
    std::vector<int32_t> codes;
    for (int32_t code; (code = Vimbra_GetLastError(handle_)) != 0;) codes.push_back(code);
    EXPECT_EQ(codes, (std::vector<int32_t>{VIMBRA_ERR_STATE, VIMBRA_ERR_NO_CAMERA}));

    ::SetEvent(release.h);
    ASSERT_EQ(::WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exit_code = 1;
    ::GetExitCodeProcess(child.hProcess, &exit_code);
    EXPECT_EQ(exit_code, 0u);
    // Once the other process has let go, the camera is free.
    EXPECT_EQ(Vimbra_Capture(handle_), 1);
    EXPECT_EQ(Vimbra_Close(handle_), 1);
}

}  // namespace

int main(int argc, char** argv) {
    ::GetModuleFileNameA(nullptr, g_program, sizeof g_program);
    if (argc == 2 && std::strcmp(argv[1], "--hold-camera") == 0) return HoldCamera();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
