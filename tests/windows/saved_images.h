// The still images the Windows DLL saves under Wine and a Linux program reads
// back: one snapshot per colour mode, saved with every format code. Shared by
// both programs so that they agree on the frame and the file names.
#pragma once

#include <cstdint>
#include <string>

namespace vimbra::saved_images {

// An odd frame width gives every colour mode padded rows, an odd height an
// incomplete last block for the JPEG encoder.
constexpr int32_t kWidth = 321;
constexpr int32_t kHeight = 241;

// Colour modes by their bit counts: 8 and 16-bit grey, 24 to 64-bit colour.
constexpr int32_t kModes[] = {8, 16, 24, 32, 48, 64};

// Format codes 0 to 6 of Vimbra_SaveImage and the extension of each file.
struct Format {
    int32_t code;
    const char* extension;
    int quality;  // JPEG only
};
constexpr Format kFormats[] = {{0, "bmp", 0},  {1, "raw", 0}, {2, "jpg", 100}, {3, "jpg", 70},
                               {4, "jpg", 20}, {5, "png", 0}, {6, "tif", 0}};

// "mode24-format5.png".
inline std::string FileName(int32_t bits, const Format& format) {
    return "mode" + std::to_string(bits) + "-format" + std::to_string(format.code) + "." +
           format.extension;
}

// The 24-bit PNG saved once more through the wide-character export.
constexpr char kWideName[] = "wide-mode24-format5.png";

}  // namespace vimbra::saved_images
