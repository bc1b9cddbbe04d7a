// Independent readers of the still image files: libpng and libtiff reading
// code (not the writers' paths), and the DQT and SOF markers of a JPEG.
#pragma once

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

#include <cstdio>
#include <string>
#include <vector>

#include "output_test_util.h"

namespace vimbra::testing {

// A PNG's header and its rows exactly as stored (16-bit samples most
// significant byte first), read without transformations.
struct PngFile {
    bool ok = false;
    uint32_t width = 0, height = 0;
    int bit_depth = 0, colour_type = 0, interlace = 0;
    std::vector<std::vector<uint8_t>> rows;
};

inline PngFile ReadPng(const std::string& path) {
    PngFile out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        out.width = png_get_image_width(png, info);
        out.height = png_get_image_height(png, info);
        out.bit_depth = png_get_bit_depth(png, info);
        out.colour_type = png_get_color_type(png, info);
        out.interlace = png_get_interlace_type(png, info);
        const size_t row_bytes = png_get_rowbytes(png, info);
        out.rows.assign(out.height, std::vector<uint8_t>(row_bytes));
        for (auto& row : out.rows) png_read_row(png, row.data(), nullptr);
        png_read_end(png, nullptr);
        out.ok = true;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return out;
}

// A TIFF's tags of interest and its first strip's bytes, as stored: the
// library's splitting of a large single strip on reading is turned off.
struct TiffFile {
    bool ok = false;
    uint32_t width = 0, height = 0;
    uint16_t bits_per_sample = 0, samples_per_pixel = 0, photometric = 0, compression = 0,
             planar = 0;
    uint32_t strips = 0;
    std::vector<uint8_t> strip;
};

inline TiffFile ReadTiff(const std::string& path) {
    TiffFile out;
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "rc");
    if (tif == nullptr) return out;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &out.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &out.height);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &out.bits_per_sample);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &out.samples_per_pixel);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &out.photometric);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &out.compression);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &out.planar);
    out.strips = TIFFNumberOfStrips(tif);
    out.strip.resize(static_cast<size_t>(TIFFStripSize(tif)));
    out.ok =
        TIFFReadEncodedStrip(tif, 0, out.strip.data(), static_cast<tmsize_t>(out.strip.size())) ==
        static_cast<tmsize_t>(out.strip.size());
    TIFFClose(tif);
    return out;
}

// The first entry (the DC step) of the first quantisation table, or -1.
inline int JpegFirstDcStep(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 0; i + 5 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB) return jpeg[i + 5];
    }
    return -1;
}

// True when the file holds the frame marker `sof` (0xC0 baseline, 0xC2
// progressive).
inline bool JpegHasMarker(const std::vector<uint8_t>& jpeg, uint8_t marker) {
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) return true;
    }
    return false;
}

// The file the JPEG library makes of `rgb` (R, G, B rows top first, no
// padding; grey rows when `components` is 1) with the settings still images
// use: progressive, baseline tables.
inline std::vector<uint8_t> ReferenceJpeg(const std::vector<uint8_t>& rgb, int width, int height,
                                          int quality, int components = 3) {
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(rgb.data()) + cinfo.next_scanline * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> bytes(out, out + size);
    free(out);
    return bytes;
}

// The picture djpeg decodes from the file (rows top first).
inline Decoded DecodeJpeg(const std::string& path) {
    int status = 0;
    const std::string pnm = RunTool("djpeg -pnm '" + path + "' 2>/dev/null", &status);
    return status == 0 ? ParsePnm(pnm) : Decoded{};
}

}  // namespace vimbra::testing
