#include "output/save_image.h"

#include <cstring>

#include "image/convert.h"
#include "output/image_writers.h"
#include "platform/pipe_signal.h"
#include "platform/write_file.h"

namespace vimbra {

namespace {

int SaveRaw(const char* file_name, const CDibImage& image) {
    platform::WriteFile file;
    if (!file.Open(file_name)) return 0;
    const size_t size = static_cast<size_t>(image.height()) * static_cast<size_t>(image.stride());
    const bool written = file.Write(image.bits(), size);
    return file.Close() && written ? 1 : 0;
}

// JPEG takes 8-bit grey or 24-bit colour, which the encoder reads in place
// (32-bit pixels too, skipping the fourth byte); deeper samples go through a
// copy keeping the bits that carry the picture: 4..11 of 12-bit grey, 2..9
// of colour.
int SaveJpeg(const char* file_name, CDibImage* image, int quality) {
    PixelRoutine routine = nullptr;
    uint16_t bits = 24;
    RowOrder order = RowOrder::kTopFirst;
    switch (image->bit_count()) {
        case 8:
        case 24:
        case 32:
            return WriteJpeg(file_name, *image, quality, RowOrder::kTopFirst);
        case 16:
            routine = Mono16To8Shift4, bits = 8;
            break;
        case 48:
        case 64:
            routine = Colour48To24Shift2Turned, order = RowOrder::kBottomFirst;
            break;
        default:
            return 0;
    }
    CDibImage reduced;
    if (!reduced.Create(image->width(), image->height(), bits)) return 0;
    CDibImage::ConvertBlit(&reduced, routine, image, nullptr, 0, 0, nullptr, nullptr);
    return WriteJpeg(file_name, reduced, quality, order);
}

// PNG rows are written in memory order; 8 and 24-bit pixels go out as they
// are, others through a copy that scales 12-bit samples to 16 bits or turns
// the fourth byte into an alpha where 0 is opaque.
int SavePng(const char* file_name, CDibImage* image) {
    PixelRoutine routine = nullptr;
    switch (image->bit_count() & ~7) {
        case 8:
        case 24:
            return WritePng(file_name, image->bits(), image->width(), image->height(),
                            image->bit_count());
        case 16:
            routine = Mono16Widen4;
            break;
        case 32:
            routine = Colour32InvertFourth;
            break;
        case 48:
            routine = Colour48Widen4;
            break;
        case 64:
            routine = Colour64Widen4;
            break;
        default:
            return 0;
    }
    CDibImage scaled;
    if (!scaled.CreateLike(image)) return 0;
    CDibImage::ConvertBlit(&scaled, routine, image, nullptr, 0, 0, nullptr, nullptr);
    return WritePng(file_name, scaled.bits(), scaled.width(), scaled.height(), scaled.bit_count());
}

}  // namespace

int SaveImage(const char* file_name, CDibImage* image, int format) {
    if (image == nullptr || image->empty()) return 0;
    // The encoders' own writes too: a named pipe whose reader left fails the
    // save instead of ending the process.
    platform::PipeSignalBlock no_sigpipe;
    const auto code = static_cast<ImageFileFormat>(format);
    // The JPEG, PNG and TIFF libraries open the file themselves; a file a
    // writer holds (a running recording) is refused for them as the BMP and
    // raw writers' own opening refuses it.
    if (code != ImageFileFormat::kBmp && code != ImageFileFormat::kRaw &&
        platform::HeldByWriter(file_name)) {
        return 0;
    }
    switch (code) {
        case ImageFileFormat::kBmp:
            return WriteBmp(file_name, *image);
        case ImageFileFormat::kRaw:
            return SaveRaw(file_name, *image);
        case ImageFileFormat::kJpegQuality100:
            return SaveJpeg(file_name, image, 100);
        case ImageFileFormat::kJpegQuality70:
            return SaveJpeg(file_name, image, 70);
        case ImageFileFormat::kJpegQuality20:
            return SaveJpeg(file_name, image, 20);
        case ImageFileFormat::kPng:
            return SavePng(file_name, image);
        case ImageFileFormat::kTiff:
            return WriteTiff(file_name, *image);
    }
    return 0;
}

int CopyImage(CDibImage* copy, const CDibImage& source) {
    if (copy == nullptr || source.empty()) return 0;
    const bool same_shape =
        !copy->empty() && copy->width() == source.width() && copy->height() == source.height() &&
        copy->bit_count() == source.bit_count() && copy->stride() == source.stride();
    if (!same_shape && !copy->CreateLike(&source)) return 0;
    std::memcpy(copy->bits(), source.bits(),
                static_cast<size_t>(source.height()) * static_cast<size_t>(source.stride()));
    return 1;
}

}  // namespace vimbra
