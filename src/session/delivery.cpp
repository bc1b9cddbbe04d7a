// Frame delivery to the host: the copy into the host's buffer in either row
// order, the frame record with its frame rate, the current image on demand
// and the placement of the preview window.
#include <atomic>
#include <cstring>

#include "image/dib_image.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "session/vimbra.h"

namespace vimbra {
namespace {

// The frame rate is measured over windows of just over this long.
constexpr uint32_t kRateWindowMs = 1000;

}  // namespace

static_assert(sizeof(VimbraFrameInfo) == 32 && offsetof(VimbraFrameInfo, data) == 24,
              "the frame record is an interface format");

CDibImage* CVimbra::OutputOfMode(int32_t mode) const {
    return OutputImage(images_.Frame(), mode);
}

int32_t CVimbra::FrameMode() const {
    return frame_mode_ >= 0 ? frame_mode_ : ColorModeIndex();
}

int32_t CVimbra::CopyToHost(const CDibImage& image, int32_t row_order, uint8_t* buffer,
                            int32_t size) {
    const int64_t stride = image.stride();
    const int64_t required = stride * image.height();
    if (buffer == nullptr || image.empty() || required > size) {
        RecordError(VIMBRA_ERR_MEMORY);
        if (callback_window_ != nullptr)
            platform::PostMessage(callback_window_, VIMBRA_MSG_FRAME, 0, VIMBRA_ERR_MEMORY);
        return 0;
    }
    const int32_t rows = image.height();
    for (int32_t r = 0; r < rows; ++r) {
        const int32_t from = row_order != 0 ? r : rows - 1 - r;
        std::memcpy(buffer + stride * r, image.row(from), static_cast<size_t>(stride));
    }
    return 1;
}

namespace {

// The host may still be reading the record of the last frame when the next
// one is filled in, so each field is written as one relaxed atomic store:
// a host that reads the fields atomically sees each one whole.
template <class T>
void Publish(T& field, T value) {
    std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

}  // namespace

void CVimbra::FillFrameInfo(const CDibImage& raw, bool count_rate) {
    static constexpr int32_t kBitsByMode[] = {8, 16, 24, 32, 48, 64};
    const int32_t mode = FrameMode();
    Publish(frame_info_.size, static_cast<int32_t>(sizeof(VimbraFrameInfo)));
    Publish(frame_info_.width, raw.width());
    Publish(frame_info_.height, raw.height());
    Publish(frame_info_.bitsPerPixel, mode >= 0 && mode < 6 ? kBitsByMode[mode] : 0);
    // Only a buffer with a size receives the frame; one without is named as none.
    Publish(frame_info_.data, host_buffer_size_ != 0 ? host_buffer_ : nullptr);
    if (!count_rate) {
        Publish(frame_info_.frameRate, 0);
        return;
    }
    ++frame_counter_;
    const uint32_t now = platform::TimeGetTime();
    const uint32_t elapsed = now - rate_window_start_ms_;
    if (elapsed > kRateWindowMs) {
        // The product is taken in 32 bits, as the figure always has been.
        frame_rate_ = static_cast<int32_t>(static_cast<double>(frame_counter_ * 10000u) /
                                           static_cast<double>(elapsed));
        frame_counter_ = 0;
        rate_window_start_ms_ = now;
    }
    Publish(frame_info_.frameRate, static_cast<int32_t>(frame_rate_));
}

int32_t CVimbra::GetImage(uint8_t* buffer, int32_t size, int32_t row_order) {
    if (!RequireDevice()) return 0;
    std::lock_guard<platform::RecursiveLock> images(image_lock_);
    CDibImage* out = OutputOfMode(FrameMode());
    if (out == nullptr) {
        RecordError(VIMBRA_ERR_STATE);
        return 0;
    }
    if (out->empty() || buffer == nullptr) {
        RecordError(VIMBRA_ERR_MEMORY);
        return 0;
    }
    if (CopyToHost(*out, row_order, buffer, size)) return 1;
    RecordError(VIMBRA_ERR_MEMORY);
    return 0;
}

int32_t CVimbra::SetPreviewWindow(HWND parent, int32_t left, int32_t top, int32_t right,
                                  int32_t bottom) {
    if (!RequireDevice()) return 0;
    std::lock_guard<std::mutex> settings(settings_mutex_);
    preview_parent_ = parent;
    preview_rect_[0] = left;
    preview_rect_[1] = top;
    preview_rect_[2] = right;
    preview_rect_[3] = bottom;
    return 1;
}

}  // namespace vimbra
