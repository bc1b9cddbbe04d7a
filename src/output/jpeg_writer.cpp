#include <csetjmp>
#include <cstdio>
#include <memory>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

#include "output/image_writers.h"

namespace vimbra {

namespace {

// The library's standard error manager, except that a fatal error returns
// control to the writer (which then reports 0) instead of ending the process.
struct ErrorManager {
    jpeg_error_mgr standard;
    std::jmp_buf resume;
};

[[noreturn]] void ReturnToWriter(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->resume, 1);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Runs the compressor over the whole image. Everything that owns memory lives
// in the caller, since a library error leaves this function by longjmp.
int Compress(std::FILE* file, const CDibImage& image, int quality, JSAMPLE* row) {
    jpeg_compress_struct cinfo{};
    ErrorManager errors{};
    cinfo.err = jpeg_std_error(&errors.standard);
    errors.standard.error_exit = ReturnToWriter;
    if (setjmp(errors.resume) != 0) {
        jpeg_destroy_compress(&cinfo);
        return 0;
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    const int components = image.bit_count() == 8 ? 1 : 3;
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const int width = image.width();
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* src =
            image.row(image.height() - 1 - static_cast<int32_t>(cinfo.next_scanline));
        if (components == 1) {
            for (int x = 0; x < width; ++x) row[x] = src[x];
        } else {
            // Memory holds B, G, R; the compressor reads R, G, B.
            for (int x = 0; x < width; ++x, src += 3) {
                row[3 * x] = src[2];
                row[3 * x + 1] = src[1];
                row[3 * x + 2] = src[0];
            }
        }
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 1;
}

}  // namespace

int WriteJpeg(const char* file_name, const CDibImage& image, int quality) {
    if (file_name == nullptr || image.empty()) return 0;
    if (image.bit_count() != 8 && image.bit_count() != 24) return 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(file_name, "wb"));
    if (!file) return 0;
    const size_t row_size = static_cast<size_t>(image.width()) * (image.bit_count() / 8);
    std::unique_ptr<JSAMPLE[]> row(new (std::nothrow) JSAMPLE[row_size]);
    if (!row) return 0;
    const int result = Compress(file.get(), image, quality, row.get());
    // Buffered bytes that cannot be written make the file incomplete.
    return std::fclose(file.release()) == 0 ? result : 0;
}

}  // namespace vimbra
