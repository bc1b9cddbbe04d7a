#include "output/avi_writer.h"

#include <algorithm>

#include "output/little_endian.h"

namespace vimbra {

namespace {

constexpr uint32_t kChunkHeaderSize = 8;
constexpr uint32_t kIndexEntrySize = 16;
constexpr uint32_t kAviFlagHasIndex = 0x10;
constexpr uint32_t kAviFlagWasCaptureFile = 0x10000;
constexpr uint32_t kIndexFlagKeyFrame = 0x10;
// The index is reserved up front to this many entries, so that appending a
// frame normally allocates nothing; longer recordings grow it.
constexpr size_t kReservedIndexEntries = 65536;

// Offsets 0..231 for frames of `frame_bytes` = 3 x width x height, at the
// initial rate.
void BuildHeader(uint8_t* h, int32_t width, int32_t height, uint32_t frame_bytes) {
    const uint32_t buffer_size = frame_bytes + kChunkHeaderSize;
    const uint32_t rate_fps = CAviWriter::kInitialRate / 100;
    PutFourCc(h + 0, "RIFF");
    PutFourCc(h + 8, "AVI ");
    PutFourCc(h + 12, "LIST");
    Put32(h + 16, 200);
    PutFourCc(h + 20, "hdrl");
    PutFourCc(h + 24, "avih");
    Put32(h + 28, 56);
    Put32(h + 32, 1000000 / rate_fps);
    // Kept as the square of the buffer size, wrapped to 32 bits, as players
    // of these files have always seen it.
    Put32(h + 36, buffer_size * buffer_size);
    Put32(h + 44, kAviFlagHasIndex | kAviFlagWasCaptureFile);
    Put32(h + 56, 1);  // streams
    Put32(h + 60, buffer_size);
    Put32(h + 64, static_cast<uint32_t>(width));
    Put32(h + 68, static_cast<uint32_t>(height));
    PutFourCc(h + 88, "LIST");
    Put32(h + 92, 124);
    PutFourCc(h + 96, "strl");
    PutFourCc(h + 100, "strh");
    Put32(h + 104, 64);
    PutFourCc(h + 108, "vids");
    PutFourCc(h + 112, "DIB ");
    Put32(h + 128, 10000000 / rate_fps);
    Put32(h + 132, 10000000);
    Put32(h + 144, buffer_size);
    PutFourCc(h + 172, "strf");
    Put32(h + 176, 40);
    Put32(h + 180, 40);
    Put32(h + 184, static_cast<uint32_t>(width));
    Put32(h + 188, static_cast<uint32_t>(height));
    Put16(h + 192, 1);   // planes
    Put16(h + 194, 24);  // bits per pixel
    PutFourCc(h + 220, "LIST");
    PutFourCc(h + 228, "movi");
}

}  // namespace

bool CAviWriter::Begin(const char* file_name, int32_t width, int32_t height) {
    Reset();
    if (width <= 0 || height <= 0) return false;
    const uint64_t row = (uint64_t{3} * static_cast<uint64_t>(width) + 3) & ~uint64_t{3};
    const uint64_t chunk = row * static_cast<uint64_t>(height);
    const uint64_t frame_bytes = uint64_t{3} * static_cast<uint64_t>(width) * height;
    if (std::max(chunk, frame_bytes) + kChunkHeaderSize > UINT32_MAX) return false;
    if (!file_.Open(file_name)) return false;
    uint8_t header[kHeaderSize] = {};
    BuildHeader(header, width, height, static_cast<uint32_t>(frame_bytes));
    if (!file_.Write(header, sizeof header)) {
        Reset();
        return false;
    }
    chunk_size_ = static_cast<uint32_t>(chunk);
    riff_size_ = kHeaderSize - 8;
    movi_size_ = 4;
    index_.reserve(kReservedIndexEntries);
    return true;
}

bool CAviWriter::HasRoomForFrame() const {
    const uint64_t after = riff_size_ + kChunkHeaderSize + chunk_size_ + kChunkHeaderSize +
                           uint64_t{kIndexEntrySize} * (index_.size() + 1);
    return after <= max_riff_size_;
}

bool CAviWriter::AppendFrame(const uint8_t* frame) {
    if (!file_.is_open() || frame == nullptr || !HasRoomForFrame()) return false;
    uint8_t chunk_header[kChunkHeaderSize];
    PutFourCc(chunk_header, "00db");
    Put32(chunk_header + 4, chunk_size_);
    if (!file_.Write(chunk_header, sizeof chunk_header) || !file_.Write(frame, chunk_size_)) {
        // A chunk written in part is cut off and not counted, so that the
        // file ends with whole frames and the index follows the last of them.
        file_.Truncate(MoviEnd());
        return false;
    }
    IndexEntry entry{};
    PutFourCc(entry.bytes, "00db");
    Put32(entry.bytes + 4, kIndexFlagKeyFrame);
    Put32(entry.bytes + 8, static_cast<uint32_t>(movi_size_));
    Put32(entry.bytes + 12, chunk_size_);
    index_.push_back(entry);
    riff_size_ += kChunkHeaderSize + chunk_size_;
    movi_size_ += kChunkHeaderSize + chunk_size_;
    return true;
}

uint64_t CAviWriter::MoviEnd() const {
    return kMoviSizeOffset + 4 + movi_size_;
}

bool CAviWriter::Finish(uint32_t rate_hundredths) {
    if (!file_.is_open()) return false;
    const uint32_t rate = std::max<uint32_t>(rate_hundredths, 1);
    const auto frames = static_cast<uint32_t>(index_.size());
    uint8_t index_header[kChunkHeaderSize];
    PutFourCc(index_header, "idx1");
    Put32(index_header + 4, frames * kIndexEntrySize);
    const bool indexed =
        file_.Write(index_header, sizeof index_header) &&
        (index_.empty() || file_.Write(index_.data(), index_.size() * sizeof(IndexEntry)));
    bool ok = indexed;

    auto patch = [this, &ok](uint32_t offset, uint32_t value) {
        uint8_t bytes[4];
        Put32(bytes, value);
        ok = file_.WriteAt(offset, bytes, sizeof bytes) && ok;
    };
    if (indexed) {
        riff_size_ += kChunkHeaderSize + uint64_t{kIndexEntrySize} * frames;
    } else {
        // No room for the index: the file ends after the last frame and says
        // it has no index, so that players read the frames in order.
        file_.Truncate(MoviEnd());
        patch(kFlagsOffset, kAviFlagWasCaptureFile);
    }
    patch(kRiffSizeOffset, static_cast<uint32_t>(riff_size_));
    patch(kMoviSizeOffset, static_cast<uint32_t>(movi_size_));
    patch(kTotalFramesOffset, frames);
    patch(kLengthOffset, frames);
    patch(kMicroSecPerFrameOffset, 100000000u / rate);
    patch(kScaleOffset, 1000000000u / rate);
    ok = file_.Close() && ok;
    Reset();
    return ok;
}

void CAviWriter::Reset() {
    file_.Close();
    index_.clear();
    riff_size_ = 0;
    movi_size_ = 0;
    chunk_size_ = 0;
}

}  // namespace vimbra
