// The live preview window: a child window inside a host window or a
// top-level window of its own, with a window class registered per opening,
// and the drawing of each processed frame into it, upright, 1:1 or scaled to
// the client area by nearest neighbour.
#pragma once

#include <cstdint>

#include "VimbraSdk_740QX_RDL.h"
#include "image/dib_image.h"
#include "image/pixel_routine.h"
#include "image/process_frame.h"

namespace vimbra {

namespace platform {
class WindowDc;
}

// Scale routines of the display path: nearest neighbour from the source
// rectangle to the destination rectangle, rows turned over, one byte per
// pixel (Scale8) or the first three bytes (Scale24). Returns 1, or 0 when a
// rectangle is empty.
int Scale8(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& dst_rect, const Rect& src_rect,
           uint64_t dst_size, uint64_t src_size, uint16_t dst_bytes_per_pixel,
           uint16_t src_bytes_per_pixel, int dst_stride, int src_stride, void** param1,
           void** param2);
int Scale24(uint8_t* dst_bits, const uint8_t* src_bits, const Rect& dst_rect, const Rect& src_rect,
            uint64_t dst_size, uint64_t src_size, uint16_t dst_bytes_per_pixel,
            uint16_t src_bytes_per_pixel, int dst_stride, int src_stride, void** param1,
            void** param2);

// Window titles, style and control id of the preview.
inline constexpr char kPreviewChildTitle[] = "ActiveMovie Window";
inline constexpr char kPreviewTopLevelTitle[] = "Active Window";
inline constexpr uint32_t kPreviewChildStyle = 0x52000000;
inline constexpr uint32_t kPreviewTopLevelStyle = 0x16CF0000;
inline constexpr int32_t kPreviewChildId = 6540;

// Client size of the top-level preview for a frame of the video format:
// halved for sub-sample 1 or 17, quartered for 2 or 18, an eighth for 3 or 19.
void PreviewFrameSize(int32_t frame_width, int32_t frame_height, int32_t sub_sample, int32_t* width,
                      int32_t* height);

class PreviewWindow {
  public:
    PreviewWindow();
    ~PreviewWindow();  // closes the window if open
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // Opens the child window inside `parent` at (rect[0], rect[1]) with width
    // rect[2] and height rect[3], or, with no parent and a rect that is not
    // all zero, the centred top-level window whose client area is the frame
    // size. `owner` is the session's address (part of the unique class name).
    // False when no window could be made; a window already open is closed
    // first.
    bool Open(HWND parent, const int32_t rect[4], int32_t frame_width, int32_t frame_height,
              int32_t sub_sample, const void* owner);
    // Releases the drawing context, destroys the window, unregisters the
    // class. Safe when closed.
    void Close();
    HWND Handle() const { return window_; }
    // The class name of the open window, empty when closed.
    const char* ClassName() const { return class_name_; }
    // The picture scaled to the client area, kept while the size holds.
    const CDibImage& display_image() const { return display_; }

    // Draws the processed frame of colour mode 0..5 from the session's
    // images: 0 when the window is not visible, else the blit's result
    // (non-zero when there was nothing to draw).
    int32_t ShowFrame(int32_t colour_mode, const FrameImages& images);

  private:
    HWND window_ = nullptr;
    platform::WindowDc* dc_ = nullptr;
    char class_name_[64] = {};
    CDibImage display_;  // the picture scaled to the client area
};

}  // namespace vimbra
