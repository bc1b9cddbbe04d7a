#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "output/image_writers.h"
#include "output/little_endian.h"
#include "platform/write_file.h"

namespace vimbra {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kColourTableSize = 256 * 4;
// Rows are gathered into blocks of about this size for each write.
constexpr size_t kBlockBytes = size_t{1} << 20;

// Writes the rows from the last memory row to the first, in blocks.
bool WriteRowsTurned(platform::WriteFile& file, const CDibImage& image) {
    const size_t stride = static_cast<size_t>(image.stride());
    const size_t rows_per_block = std::max<size_t>(1, kBlockBytes / stride);
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[rows_per_block * stride]);
    if (!block) return false;
    int32_t row = image.height() - 1;
    while (row >= 0) {
        size_t n = 0;
        for (; n < rows_per_block && row >= 0; ++n, --row) {
            std::memcpy(block.get() + n * stride, image.row(row), stride);
        }
        if (!file.Write(block.get(), n * stride)) return false;
    }
    return true;
}

}  // namespace

int WriteBmp(const char* file_name, const CDibImage& image) {
    if (image.empty()) return 0;
    const bool indexed = image.bit_count() <= 8;
    const uint32_t offset = kFileHeaderSize + kInfoHeaderSize + (indexed ? kColourTableSize : 0);
    const size_t pixel_bytes =
        static_cast<size_t>(image.height()) * static_cast<size_t>(image.stride());
    // The colour table the DIB section really holds, which is what the
    // picture is drawn with; images without a section use the record's.
    const platform::RgbQuad* colours = image.palette();
    if (image.dc() != nullptr) {
        const platform::DibView view = platform::GetDibView(image.dc());
        if (view.colors != nullptr) colours = view.colors;
    }

    platform::WriteFile file;
    if (!file.Open(file_name)) return 0;
    uint8_t head[kFileHeaderSize + kInfoHeaderSize] = {};
    Put16(head, 0x4D42);  // "BM"
    Put32(head + 2, static_cast<uint32_t>(offset + pixel_bytes));
    Put32(head + 10, offset);
    static_assert(sizeof(platform::BitmapInfoHeader) == kInfoHeaderSize);
    std::memcpy(head + kFileHeaderSize, &image.header(), kInfoHeaderSize);
    bool written = file.Write(head, sizeof head);
    if (indexed) written = written && file.Write(colours, kColourTableSize);
    written = written && WriteRowsTurned(file, image);
    return file.Close() && written ? 1 : 0;
}

}  // namespace vimbra
