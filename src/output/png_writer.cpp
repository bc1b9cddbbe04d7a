#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>

#include "output/image_writers.h"

namespace vimbra {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Prints the library's message and returns to the writer's recovery point.
[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
    std::fprintf(stderr, "libpng error: %s\n", message);
    png_longjmp(png, 1);
}

struct PngLayout {
    int bit_depth;
    int colour_type;
};

// Sample depth and colour type by bits per pixel; false for other sizes.
bool LayoutFor(int bits_per_pixel, PngLayout* layout) {
    switch (bits_per_pixel) {
        case 8:
            *layout = {8, PNG_COLOR_TYPE_GRAY};
            return true;
        case 16:
            *layout = {16, PNG_COLOR_TYPE_GRAY};
            return true;
        case 24:
            *layout = {8, PNG_COLOR_TYPE_RGB};
            return true;
        case 32:
            *layout = {8, PNG_COLOR_TYPE_RGB_ALPHA};
            return true;
        case 48:
            *layout = {16, PNG_COLOR_TYPE_RGB};
            return true;
        case 64:
            *layout = {16, PNG_COLOR_TYPE_RGB_ALPHA};
            return true;
        default:
            return false;
    }
}

// Runs the library over prepared rows. Everything that owns memory lives in
// the caller, since a library error leaves this function by longjmp.
int Encode(std::FILE* file, png_bytepp rows, int width, int height, PngLayout layout) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, nullptr);
    if (png == nullptr) return 0;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return 0;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return 0;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 layout.bit_depth, layout.colour_type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // Memory holds B, G, R; PNG stores R, G, B.
    png_set_bgr(png);
    // Memory holds 16-bit samples least significant byte first; PNG stores
    // them most significant byte first. The library swaps each row in its
    // own row buffer, so the caller's rows stay as they are.
    if (layout.bit_depth == 16) png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 1;
}

}  // namespace

int WritePng(const char* file_name, const uint8_t* first_row, int width, int height,
             int bits_per_pixel) {
    PngLayout layout{};
    if (file_name == nullptr || first_row == nullptr || width <= 0 || height <= 0 ||
        !LayoutFor(bits_per_pixel, &layout)) {
        return 0;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(file_name, "wb"));
    if (!file) return 0;
    const size_t stride = ((static_cast<size_t>(width) * bits_per_pixel / 8) + 3) & ~size_t{3};
    const size_t h = static_cast<size_t>(height);
    std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[h]);
    if (!rows) return 0;
    for (size_t i = 0; i < h; ++i) rows[i] = const_cast<png_bytep>(first_row + i * stride);
    const int result = Encode(file.get(), rows.get(), width, height, layout);
    return std::fclose(file.release()) == 0 ? result : 0;
}

}  // namespace vimbra
