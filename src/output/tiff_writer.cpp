#include <tiffio.h>

#include <cstring>
#include <memory>
#include <new>

#include "image/convert.h"
#include "output/image_writers.h"

namespace vimbra {

namespace {

struct TiffLayout {
    uint16_t bits_per_sample;
    uint16_t photometric;
    uint16_t samples_per_pixel;
    PixelRoutine routine;  // null: bytes copied as they are
};

// Tags and sample preparation by bytes per pixel; false for other sizes.
// TIFF takes R, G, B order and full-range 16-bit samples.
bool LayoutFor(int bytes_per_pixel, TiffLayout* layout) {
    switch (bytes_per_pixel) {
        case 1:
            *layout = {8, PHOTOMETRIC_MINISBLACK, 1, nullptr};
            return true;
        case 2:
            *layout = {16, PHOTOMETRIC_MINISBLACK, 1, Mono16Widen4};
            return true;
        case 3:
            *layout = {8, PHOTOMETRIC_RGB, 3, Colour24SwapRB};
            return true;
        case 4:
            *layout = {8, PHOTOMETRIC_RGB, 4, Colour24SwapRB};
            return true;
        case 6:
            *layout = {16, PHOTOMETRIC_RGB, 3, Colour48Widen4SwapRB};
            return true;
        case 8:
            *layout = {16, PHOTOMETRIC_RGB, 4, Colour64Widen4SwapRB};
            return true;
        default:
            return false;
    }
}

// The strip holds rows back to back without the image's row padding: the
// routine writes them straight into that layout, in one pass.
std::unique_ptr<uint8_t[]> MakeStrip(const CDibImage& image, const TiffLayout& layout,
                                     size_t row_bytes) {
    const size_t size = row_bytes * static_cast<size_t>(image.height());
    // Four-byte pixels get their fourth byte from the zeroed memory.
    std::unique_ptr<uint8_t[]> strip(image.bytes_per_pixel() == 4
                                         ? new (std::nothrow) uint8_t[size]()
                                         : new (std::nothrow) uint8_t[size]);
    if (!strip) return strip;
    if (layout.routine == nullptr) {
        for (int32_t y = 0; y < image.height(); ++y) {
            std::memcpy(strip.get() + static_cast<size_t>(y) * row_bytes, image.row(y), row_bytes);
        }
    } else {
        const Rect whole{0, 0, image.width(), image.height()};
        layout.routine(strip.get(), image.bits(), whole, 0, 0, image.bytes_per_pixel(),
                       image.bytes_per_pixel(), static_cast<int>(row_bytes), image.stride(),
                       nullptr, nullptr);
    }
    return strip;
}

}  // namespace

int WriteTiff(const char* file_name, const CDibImage& image) {
    TiffLayout layout{};
    if (file_name == nullptr || image.empty() || !LayoutFor(image.bytes_per_pixel(), &layout)) {
        return 0;
    }
    const size_t row_bytes = static_cast<size_t>(image.width()) * image.bytes_per_pixel();
    const std::unique_ptr<uint8_t[]> strip = MakeStrip(image, layout, row_bytes);
    if (!strip) return 0;

    TIFF* tif = TIFFOpen(file_name, "w");
    if (tif == nullptr) return 0;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height()));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits_per_sample);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples_per_pixel);
    const tmsize_t strip_size =
        static_cast<tmsize_t>(row_bytes * static_cast<size_t>(image.height()));
    const tmsize_t written = TIFFWriteEncodedStrip(tif, 0, strip.get(), strip_size);
    // Closing writes the directory; a failure there is caught by flushing first.
    const bool flushed = TIFFFlush(tif) != 0;
    TIFFClose(tif);
    return written > 0 && flushed ? 1 : 0;
}

}  // namespace vimbra
