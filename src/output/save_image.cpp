#include "output/save_image.h"

#include <cstring>

#include "image/convert.h"
#include "output/image_writers.h"
#include "platform/write_file.h"

namespace vimbra {

namespace {

// The picture turned over, rows padded as in the image: a bottom-up file body.
int SaveBmp(const char* file_name, CDibImage* image) {
    CDibImage turned;
    if (!turned.CreateLike(image)) return 0;
    CDibImage::ConvertBlit(&turned, RowCopyTurned, image, nullptr, 0, 0, nullptr, nullptr);
    return WriteBmp(file_name, turned);
}

int SaveRaw(const char* file_name, const CDibImage& image) {
    platform::WriteFile file;
    if (!file.Open(file_name)) return 0;
    const size_t size = static_cast<size_t>(image.height()) * static_cast<size_t>(image.stride());
    const bool written = file.Write(image.bits(), size);
    return file.Close() && written ? 1 : 0;
}

// JPEG takes 8-bit grey or 24-bit colour: deeper samples keep the bits that
// carry the picture (4..11 of 12-bit grey, 2..9 of colour), and the copy is
// turned so that the writer's bottom-up scan comes out upright.
int SaveJpeg(const char* file_name, CDibImage* image, int quality) {
    PixelRoutine routine = nullptr;
    uint16_t bits = 24;
    switch (image->bit_count()) {
        case 8:
            routine = RowCopyTurned, bits = 8;
            break;
        case 16:
            routine = Mono16To8Shift4Turned, bits = 8;
            break;
        case 24:
        case 32:
            routine = Colour24CopyTurned;
            break;
        case 48:
        case 64:
            routine = Colour48To24Shift2Turned;
            break;
        default:
            return 0;
    }
    CDibImage reduced;
    if (!reduced.Create(image->width(), image->height(), bits)) return 0;
    CDibImage::ConvertBlit(&reduced, routine, image, nullptr, 0, 0, nullptr, nullptr);
    return WriteJpeg(file_name, reduced, quality);
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
    switch (static_cast<ImageFileFormat>(format)) {
        case ImageFileFormat::kBmp:
            return SaveBmp(file_name, image);
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
    if (copy == nullptr || source.empty() || !copy->CreateLike(&source)) return 0;
    std::memcpy(copy->bits(), source.bits(),
                static_cast<size_t>(source.height()) * static_cast<size_t>(source.stride()));
    return 1;
}

}  // namespace vimbra
