// The encoders behind still image saving. Each writes one file from pixels it
// is given and returns 1, or 0 when the file cannot be opened, the encoder
// refuses the picture or a write fails; none of them changes its input.
#pragma once

#include <cstdint>

#include "image/dib_image.h"

namespace vimbra {

// The file header, the image's 40-byte header, the colour table of images of
// up to 8 bits, then every row of pixel memory, padding included, from the
// last memory row to the first: the file is bottom-up and the picture upright.
int WriteBmp(const char* file_name, const CDibImage& image);

// Which memory row holds the top line of the picture given to a writer.
enum class RowOrder { kTopFirst, kBottomFirst };

// A progressive JPEG of an 8-bit grey, 24-bit B, G, R or 32-bit B, G, R, x
// image at `quality` (0..100, baseline quantisation tables), read straight
// from the image's rows. Other bit counts give 0.
int WriteJpeg(const char* file_name, const CDibImage& image, int quality, RowOrder order);

// A PNG of `height` rows starting at `first_row`, each (width x bits / 8 + 3)
// & ~3 bytes apart: 8 grey, 16 grey (16-bit samples, little-endian in
// memory), 24 B, G, R, 32 B, G, R, alpha, 48 and 64 the same with 16-bit
// samples. Rows are written in memory order. Library errors are printed to
// standard error as "libpng error: <message>" and give 0.
int WritePng(const char* file_name, const uint8_t* first_row, int width, int height,
             int bits_per_pixel);

// An uncompressed single-strip TIFF of the image, rows in memory order:
// grey 8 or 16 bits per sample, RGB 8 or 16 bits, with a fourth sample for 32
// and 64-bit images. 16-bit samples are scaled from 12 bits to the full range.
int WriteTiff(const char* file_name, const CDibImage& image);

}  // namespace vimbra
