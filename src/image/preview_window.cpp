#include "image/preview_window.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/convert.h"
#include "platform/clock.h"
#include "platform/window.h"

namespace vimbra {
namespace {

// Nearest-neighbour copy of `bytes` bytes per pixel with rows turned over:
// destination row i of the rectangle reads source memory row
// (src bottom - trunc(i * fy) - 1), column j reads trunc(j * fx) counted from
// the image's column 0. The factors are single precision, so that the
// picked rows and columns are the same as on the system the display path
// was made for.
template <int bytes>
int ScaleNearest(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& dst_rect,
                 const Rect& src_rect, uint64_t src_size, uint16_t dst_bpp, uint16_t src_bpp,
                 int dst_stride, int src_stride) {
    const int32_t dw = dst_rect.right - dst_rect.left, dh = dst_rect.bottom - dst_rect.top;
    const int32_t sw = src_rect.right - src_rect.left, sh = src_rect.bottom - src_rect.top;
    const auto image_w = static_cast<int32_t>(static_cast<uint32_t>(src_size));
    const auto image_h = static_cast<int32_t>(static_cast<uint32_t>(src_size >> 32));
    if (dst_bits == nullptr || src_bits == nullptr || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0 ||
        image_w <= 0 || image_h <= 0 || dst_bpp < bytes || src_bpp < bytes) {
        return 0;
    }
    const float fx = static_cast<float>(sw) / static_cast<float>(dw);
    const float fy = static_cast<float>(sh) / static_cast<float>(dh);
    for (int32_t i = 0; i < dh; ++i) {
        int32_t a = static_cast<int32_t>(static_cast<float>(i) * fy);
        a = std::clamp(a, 0, image_h - 1);
        // Kept inside the image even for a rectangle that is not the whole
        // picture.
        const int32_t row = std::clamp(src_rect.bottom - a - 1, 0, image_h - 1);
        const uint8_t* in = src_bits + static_cast<intptr_t>(row) * src_stride;
        uint8_t* out = dst_bits + static_cast<intptr_t>(dst_rect.top + i) * dst_stride +
                       static_cast<intptr_t>(dst_rect.left) * dst_bpp;
        for (int32_t j = 0; j < dw; ++j, out += dst_bpp) {
            int32_t b = static_cast<int32_t>(static_cast<float>(j) * fx);
            b = std::clamp(b, 0, image_w - 1);
            std::memcpy(out, in + static_cast<intptr_t>(b) * src_bpp, bytes);
        }
    }
    return 1;
}

// The picture ShowFrame draws for a colour mode: the 8-bit or 24-bit image,
// after reducing a deeper output image into it. nullptr when the images the
// mode needs are missing.
CDibImage* DisplaySource(int32_t colour_mode, const FrameImages& images) {
    auto present = [](const CDibImage* image) { return image != nullptr && !image->empty(); };
    auto reduce = [&](CDibImage* dst, PixelRoutine routine, CDibImage* src) -> CDibImage* {
        if (!present(dst) || !present(src)) return nullptr;
        CDibImage::ConvertBlit(dst, routine, src, nullptr, 0, 0, nullptr, nullptr);
        return dst;
    };
    switch (colour_mode) {
        case 0:
            return present(images.raw8) ? images.raw8 : nullptr;
        case 1:
            return reduce(images.raw8, Mono16To8Shift4, images.raw16);
        case 2:
            return present(images.rgb24) ? images.rgb24 : nullptr;
        case 3:
            return reduce(images.rgb24, Colour24Copy, images.rgb32);
        case 4:
            return reduce(images.rgb24, Colour48To24Shift4, images.rgb48);
        case 5:
            return reduce(images.rgb24, Colour48To24Shift4, images.rgb64);
        default:
            return nullptr;
    }
}

}  // namespace

int Scale8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& dst_rect, const Rect& src_rect,
           uint64_t /*dst_size*/, uint64_t src_size, uint16_t dst_bytes_per_pixel,
           uint16_t src_bytes_per_pixel, int dst_stride, int src_stride, void** /*param1*/,
           void** /*param2*/) {
    return ScaleNearest<1>(dst_bits, src_bits, dst_rect, src_rect, src_size, dst_bytes_per_pixel,
                           src_bytes_per_pixel, dst_stride, src_stride);
}

int Scale24(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& dst_rect, const Rect& src_rect,
            uint64_t /*dst_size*/, uint64_t src_size, uint16_t dst_bytes_per_pixel,
            uint16_t src_bytes_per_pixel, int dst_stride, int src_stride, void** /*param1*/,
            void** /*param2*/) {
    return ScaleNearest<3>(dst_bits, src_bits, dst_rect, src_rect, src_size, dst_bytes_per_pixel,
                           src_bytes_per_pixel, dst_stride, src_stride);
}

void PreviewFrameSize(int32_t frame_width, int32_t frame_height, int32_t sub_sample, int32_t* width,
                      int32_t* height) {
    int32_t divisor = 1;
    switch (sub_sample) {
        case 1:
        case 17:
            divisor = 2;
            break;
        case 2:
        case 18:
            divisor = 4;
            break;
        case 3:
        case 19:
            divisor = 8;
            break;
        default:
            break;
    }
    *width = frame_width / divisor;
    *height = frame_height / divisor;
}

PreviewWindow::PreviewWindow() = default;

PreviewWindow::~PreviewWindow() {
    Close();
}

bool PreviewWindow::Open(HWND parent, const int32_t rect[4], int32_t frame_width,
                         int32_t frame_height, int32_t sub_sample, const void* owner) {
    Close();
    if (rect == nullptr) return false;
    std::snprintf(
        class_name_, sizeof class_name_, "VideoRenderer_%08x_%08x",
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(owner)),
        static_cast<uint32_t>(platform::TimeGetTime() + static_cast<uint32_t>(std::rand())));
    if (!platform::RegisterWindowClass(class_name_)) {
        class_name_[0] = '\0';
        return false;
    }
    platform::WindowParams p;
    p.class_name = class_name_;
    if (parent != nullptr) {
        p.title = kPreviewChildTitle;
        p.style = kPreviewChildStyle;
        p.x = rect[0];
        p.y = rect[1];
        p.width = rect[2];
        p.height = rect[3];
        p.parent = parent;
        p.id = kPreviewChildId;
        window_ = platform::CreateWindow(p);
    } else if (rect[0] != 0 || rect[1] != 0 || rect[2] != 0 || rect[3] != 0) {
        int32_t w = 0, h = 0;
        PreviewFrameSize(frame_width, frame_height, sub_sample, &w, &h);
        platform::WindowRect outer{0, 0, w, h};
        int32_t screen_w = 0, screen_h = 0;
        platform::GetScreenSize(&screen_w, &screen_h);
        if (w > 0 && h > 0 && platform::AdjustWindowRect(&outer, kPreviewTopLevelStyle)) {
            p.title = kPreviewTopLevelTitle;
            p.style = kPreviewTopLevelStyle;
            p.width = outer.right - outer.left;
            p.height = outer.bottom - outer.top;
            p.x = std::max(0, (screen_w - p.width) / 2);
            p.y = std::max(0, (screen_h - p.height) / 2);
            window_ = platform::CreateWindow(p);
        }
    }
    if (window_ != nullptr && platform::ShowWindow(window_, true)) {
        dc_ = platform::GetWindowDc(window_);
    }
    if (dc_ == nullptr) {
        Close();
        return false;
    }
    return true;
}

void PreviewWindow::Close() {
    if (dc_ != nullptr) {
        platform::ReleaseWindowDc(window_, dc_);
        dc_ = nullptr;
    }
    if (window_ != nullptr) {
        platform::DestroyWindow(window_);
        window_ = nullptr;
    }
    if (class_name_[0] != '\0') {
        platform::UnregisterWindowClass(class_name_);
        class_name_[0] = '\0';
    }
    display_.Destroy();
}

int32_t PreviewWindow::ShowFrame(int32_t colour_mode, const FrameImages& images) {
    platform::WindowRect client;
    if (window_ == nullptr || !platform::IsWindowVisible(window_) ||
        !platform::GetClientRect(window_, &client)) {
        return 0;
    }
    const int32_t w = client.right - client.left, h = client.bottom - client.top;
    if (w <= 0 || h <= 0 || dc_ == nullptr) return 1;
    // Deeper pictures are reduced only when there is a window to draw them
    // in: the reduction passes over the whole frame.
    CDibImage* picture = DisplaySource(colour_mode, images);
    if (picture == nullptr) return 1;
    if (w == picture->width() && h == picture->height() && colour_mode != 1) {
        // Memory row 0 is the top line: the source is read turned over.
        return platform::StretchBlt(dc_, 0, 0, w, h, picture->dc(), 0, picture->height(),
                                    picture->width(), -picture->height());
    }
    const uint16_t bits = colour_mode <= 1 ? 8 : 24;
    // A change of colour mode at the same size changes the pixel format too.
    if (display_.width() != w || display_.height() != h || display_.bit_count() != bits) {
        if (display_.Create(w, h, bits) == 0) return 1;
    }
    CDibImage::ScaleBlit(&display_, bits == 8 ? Scale8 : Scale24, picture, nullptr, nullptr,
                         nullptr, nullptr);
    return platform::BitBlt(dc_, 0, 0, w, h, display_.dc(), 0, 0);
}

}  // namespace vimbra
