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

}  // namespace
