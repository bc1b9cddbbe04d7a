// Saving a picture to a still image file, the encoding chosen by a format
// code (never by the file name).
#pragma once

#include "image/dib_image.h"

namespace vimbra {

// The format codes hosts pass when saving.
enum class ImageFileFormat : int {
    kBmp = 0,
    kRaw = 1,  // pixel memory as it is, top row first, no header
    kJpegQuality100 = 2,
    kJpegQuality70 = 3,
    kJpegQuality20 = 4,
    kPng = 5,
    kTiff = 6,
};

// Writes `image` (16-bit samples with 12 significant bits) as `format`;
// returns 1 on success, 0 for an unknown format code, a bit count the format
// cannot hold, an empty image or a file that cannot be written. The image is
// read only; every reordering or reduction works on a temporary copy.
int SaveImage(const char* file_name, CDibImage* image, int format);

// Makes `copy` an image of the same size and format holding the same pixels,
// so that a picture can be encoded while its owner goes on changing it. A
// copy that already has that size and format keeps its memory, so the copy
// can be made ready before a lock is taken. 0 when `source` is empty or
// memory runs out.
int CopyImage(CDibImage* copy, const CDibImage& source);

}  // namespace vimbra
