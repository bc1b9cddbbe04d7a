#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>

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

struct InputLayout {
    int components;
    J_COLOR_SPACE colour_space;
};

// The encoder reads B, G, R (and a fourth byte it skips) in place; the file
// holds the same picture it would make from R, G, B rows.
bool LayoutFor(int bit_count, InputLayout* layout) {
    switch (bit_count) {
        case 8:
            *layout = {1, JCS_GRAYSCALE};
            return true;
        case 24:
            *layout = {3, JCS_EXT_BGR};
            return true;
        case 32:
            *layout = {4, JCS_EXT_BGRX};
            return true;
        default:
            return false;
    }
}

// Runs the compressor over `rows` (top line first). Everything that owns
// memory lives in the caller, since a library error leaves by longjmp.
int Compress(std::FILE* file, JSAMPARRAY rows, int width, int height, InputLayout layout,
             int quality) {
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
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = layout.components;
    cinfo.in_color_space = layout.colour_space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        jpeg_write_scanlines(&cinfo, rows + cinfo.next_scanline,
                             cinfo.image_height - cinfo.next_scanline);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 1;
}

}  // namespace

int WriteJpeg(const char* file_name, const CDibImage& image, int quality, RowOrder order) {
    InputLayout layout{};
    if (file_name == nullptr || image.empty() || !LayoutFor(image.bit_count(), &layout)) return 0;
    const auto height = static_cast<size_t>(image.height());
    std::unique_ptr<JSAMPROW[]> rows(new (std::nothrow) JSAMPROW[height]);
    if (!rows) return 0;
    for (size_t k = 0; k < height; ++k) {
        const auto row = static_cast<int32_t>(order == RowOrder::kTopFirst ? k : height - 1 - k);
        rows[k] = image.row(row);
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(file_name, "wb"));
    if (!file) return 0;
    const int result =
        Compress(file.get(), rows.get(), image.width(), image.height(), layout, quality);
    // Buffered bytes that cannot be written make the file incomplete.
    return std::fclose(file.release()) == 0 ? result : 0;
}

}  // namespace vimbra
