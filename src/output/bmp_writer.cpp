#include <cstring>

#include "output/image_writers.h"
#include "output/little_endian.h"
#include "platform/write_file.h"

namespace vimbra {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kColourTableSize = 256 * 4;

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
    written = written && file.Write(image.bits(), pixel_bytes);
    return file.Close() && written ? 1 : 0;
}

}  // namespace vimbra
