// Saves a snapshot of the virtual camera in every colour mode with every
// format code, through the DLL as a Windows host calls it, into the working
// directory. The files are read back on the Linux side by the readers the
// writers' own tests use (saved_images_check).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"
#include "saved_images.h"

namespace {

using namespace vimbra::saved_images;

bool FileHasBytes(const char* name) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ::GetFileAttributesExA(name, GetFileExInfoStandard, &data) && data.nFileSizeLow > 0;
}

TEST(WindowsSave, SnapshotInEveryModeAndFormat) {
    const int32_t h = Vimbra_Initialize(nullptr);
    ASSERT_NE(h, 0);
    ASSERT_EQ(Vimbra_SetCaptureWindowEx(h, 2592, 0, kWidth, 1944, 0, kHeight), 1);
    std::vector<uint8_t> buffer(static_cast<size_t>(kWidth) * kHeight * 8 + 4 * kHeight);
    for (const int32_t bits : kModes) {
        SCOPED_TRACE("mode " + std::to_string(bits));
        ASSERT_EQ(Vimbra_SetColorMode(h, bits), 1);
        ASSERT_EQ(Vimbra_SnapShot(h, buffer.data(), static_cast<int32_t>(buffer.size()), 0), 1);
        for (const Format& format : kFormats) {
            const std::string name = FileName(bits, format);
            ::DeleteFileA(name.c_str());  // a file left from an earlier run proves nothing
            EXPECT_EQ(Vimbra_SaveImage(h, name.c_str(), format.code), 1) << name;
            EXPECT_TRUE(FileHasBytes(name.c_str())) << name;
        }
        if (bits == 24) {
            // The wide name goes through the system's character conversion.
            const std::wstring wide(std::begin(kWideName), std::end(kWideName) - 1);
            ::DeleteFileA(kWideName);
            EXPECT_EQ(Vimbra_SaveImageW(h, wide.c_str(), 5), 1);
            EXPECT_TRUE(FileHasBytes(kWideName));
        }
        EXPECT_EQ(Vimbra_Close(h), 1);  // the next mode starts a new acquisition
    }
    EXPECT_EQ(Vimbra_Release(h), 1);
}

}  // namespace
