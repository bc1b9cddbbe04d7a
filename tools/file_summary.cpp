#include "file_summary.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

namespace vimbra::tools {
namespace {

// Every header read here lies within the file's first 64 KiB, but a TIFF
// file's, which is read whole up to this size.
constexpr size_t kHeadBytes = 64 * 1024;
constexpr uintmax_t kWholeTiffBytes = 256u << 20;

struct Head {
    std::vector<uint8_t> bytes;

    bool Has(size_t offset, size_t count) const { return offset + count <= bytes.size(); }
    bool Starts(std::string_view magic, size_t offset = 0) const {
        return Has(offset, magic.size()) &&
               std::string_view(reinterpret_cast<const char*>(bytes.data()) + offset,
                                magic.size()) == magic;
    }
    uint32_t Le(size_t offset, int count) const {
        uint32_t v = 0;
        for (int i = count - 1; i >= 0; --i) v = v << 8 | bytes[offset + i];
        return v;
    }
    uint32_t Be(size_t offset, int count) const {
        uint32_t v = 0;
        for (int i = 0; i < count; ++i) v = v << 8 | bytes[offset + i];
        return v;
    }
};

std::string Format(const char* format, auto... values) {
    char text[160];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string Bmp(const Head& h) {
    if (!h.Has(30, 0)) return "BMP, header cut short";
    const auto height = static_cast<int32_t>(h.Le(22, 4));
    return Format("BMP %d x %d, %u bits per pixel", static_cast<int32_t>(h.Le(18, 4)),
                  height < 0 ? -height : height, h.Le(28, 2));
}

std::string Png(const Head& h) {
    if (!h.Has(26, 0) || !h.Starts("IHDR", 12)) return "PNG, header cut short";
    static constexpr const char* kColours[] = {"grey",       "?", "RGB", "palette",
                                               "grey+alpha", "?", "RGBA"};
    const uint32_t type = h.bytes[25];
    return Format("PNG %u x %u, %u-bit %s", h.Be(16, 4), h.Be(20, 4), h.bytes[24],
                  type < 7 ? kColours[type] : "?");
}

std::string Jpeg(const Head& h) {
    // Walks the marker segments to the frame header (SOF0..SOF15 but DHT, JPG, DAC).
    for (size_t at = 2; h.Has(at, 4) && h.bytes[at] == 0xFF;) {
        const uint8_t marker = h.bytes[at + 1];
        const uint32_t length = h.Be(at + 2, 2);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            if (!h.Has(at + 4, 6)) break;
            return Format("JPEG %u x %u, %u components%s", h.Be(at + 7, 2), h.Be(at + 5, 2),
                          h.bytes[at + 9], marker == 0xC2 ? ", progressive" : "");
        }
        at += 2 + length;
    }
    return "JPEG, no frame header in its first 64 KiB";
}

std::string Tiff(const Head& h) {
    const bool le = h.Starts("II");
    auto get = [&](size_t offset, int count) {
        return le ? h.Le(offset, count) : h.Be(offset, count);
    };
    const uint32_t ifd = get(4, 4);
    if (!h.Has(ifd, 2)) return "TIFF, first directory not found";
    uint32_t width = 0, height = 0, bits = 0, samples = 1;
    const uint32_t entries = get(ifd, 2);
    for (uint32_t i = 0; i < entries && h.Has(ifd + 2 + 12 * i, 12); ++i) {
        const size_t e = ifd + 2 + 12 * i;
        const uint32_t tag = get(e, 2), type = get(e + 2, 2), count = get(e + 4, 4);
        const int size = type == 3 ? 2 : 4;
        // A value longer than four bytes is stored elsewhere, at the offset
        // the entry holds; for several samples the first one's width is taken.
        uint32_t value = get(e + 8, count * size > 4 ? 4 : size);
        if (count * size > 4) value = h.Has(value, size) ? get(value, size) : 0;
        if (tag == 256) width = value;
        if (tag == 257) height = value;
        if (tag == 258) bits = value;
        if (tag == 277) samples = value;
    }
    return Format("TIFF %u x %u, %u samples of %u bits", width, height, samples, bits);
}

std::string Avi(const Head& h) {
    // RIFF header, then LIST hdrl whose first chunk is the main AVI header.
    if (!h.Has(72, 0) || !h.Starts("avih", 24)) return "AVI, no main header where expected";
    const uint32_t us_per_frame = h.Le(32, 4);
    return Format("AVI %u x %u, %u frames at %.1f frames/s", h.Le(64, 4), h.Le(68, 4), h.Le(48, 4),
                  us_per_frame != 0 ? 1e6 / us_per_frame : 0.0);
}

bool Read(const std::string& path, uintmax_t count, Head* h) {
    h->bytes.resize(static_cast<size_t>(count));
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(
        in.read(reinterpret_cast<char*>(h->bytes.data()), static_cast<std::streamsize>(count)));
}

}  // namespace

std::string DescribeFile(const std::string& path) {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return "cannot be read: " + error.message();
    Head h;
    if (!Read(path, std::min<uintmax_t>(size, kHeadBytes), &h)) return "cannot be read";
    // A TIFF writer may put its directory after the pixels.
    const bool tiff =
        h.Starts(std::string_view("II*\0", 4)) || h.Starts(std::string_view("MM\0*", 4));
    if (tiff && size > kHeadBytes && size <= kWholeTiffBytes && !Read(path, size, &h))
        return "cannot be read";

    std::string what = Format("%ju bytes", size);
    if (h.Starts("BM"))
        what += ", " + Bmp(h);
    else if (h.Starts("\x89PNG\r\n\x1a\n"))
        what += ", " + Png(h);
    else if (h.Starts("\xFF\xD8"))
        what += ", " + Jpeg(h);
    else if (tiff)
        what += ", " + Tiff(h);
    else if (h.Starts("RIFF") && h.Starts("AVI ", 8))
        what += ", " + Avi(h);
    else if (path.ends_with(".raw"))
        what += ", raw pixels without a header";
    return what;
}

}  // namespace vimbra::tools
