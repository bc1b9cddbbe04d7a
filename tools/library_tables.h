// The library's colour modes and still image formats as the tools name them
// on the command line.
#pragma once

#include <cstdint>
#include <string_view>

namespace vimbra::tools {

// A colour mode by the bits per pixel of its output (what Vimbra_SetColorMode
// takes), with the depth Vimbra_GetColorMode answers for it.
struct ColourMode {
    int32_t bits;
    int32_t depth;
    const char* name;
};

inline constexpr ColourMode kColourModes[] = {
    {8, 8, "grey8"},   {16, 12, "grey16"}, {24, 24, "bgr24"},
    {32, 32, "bgr32"}, {48, 44, "bgr48"},  {64, 60, "bgr64"},
};

inline const ColourMode* ModeOfDepth(int32_t depth) {
    for (const ColourMode& mode : kColourModes)
        if (mode.depth == depth) return &mode;
    return nullptr;
}

inline const ColourMode* ModeNamed(std::string_view name) {
    for (const ColourMode& mode : kColourModes)
        if (name == mode.name) return &mode;
    return nullptr;
}

// A still image format by the code Vimbra_SaveImage takes; a file in it is
// named <stem><suffix>.
struct FileFormat {
    int32_t code;
    const char* name;
    const char* suffix;
};

inline constexpr FileFormat kFileFormats[] = {
    {0, "bmp", ".bmp"},        {1, "raw", ".raw"},        {2, "jpeg100", "-q100.jpg"},
    {3, "jpeg70", "-q70.jpg"}, {4, "jpeg20", "-q20.jpg"}, {5, "png", ".png"},
    {6, "tiff", ".tif"},
};

inline const FileFormat* FormatNamed(std::string_view name) {
    for (const FileFormat& format : kFileFormats)
        if (name == format.name) return &format;
    return nullptr;
}

}  // namespace vimbra::tools
