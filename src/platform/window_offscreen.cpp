#include "platform/window_backend.h"

namespace vimbra::platform {
namespace {

// Frame sizes of a classic desktop at 96 dots per inch, so that a window's
// outer size relates to its client area as hosts expect.
constexpr int32_t kCaptionHeight = 23;
constexpr int32_t kSizingBorder = 8;
constexpr uint32_t kWsCaption = 0x00C00000;
constexpr uint32_t kWsThickFrame = 0x00040000;
constexpr int32_t kScreenWidth = 1920;
constexpr int32_t kScreenHeight = 1080;

// Windows of this back end exist in memory only: the window registry keeps
// their size, visibility and pixels.
class OffscreenBackend final : public WindowBackend {
  public:
    WindowBackendKind Kind() const override { return WindowBackendKind::kOffscreen; }
    void ScreenSize(int32_t* width, int32_t* height) override {
        *width = kScreenWidth;
        *height = kScreenHeight;
    }
    WindowRect FrameInsets(uint32_t style) const override {
        WindowRect r;
        if ((style & kWsThickFrame) != 0)
            r = {kSizingBorder, kSizingBorder, kSizingBorder, kSizingBorder};
        if ((style & kWsCaption) == kWsCaption) r.top += kCaptionHeight;
        return r;
    }
    bool CreateNative(const NativeWindowParams&, NativeWindowEvents*,
                      std::unique_ptr<NativeWindow>* out) override {
        out->reset();
        return true;
    }
    bool X11WindowExists(unsigned long) override { return false; }
};

}  // namespace

std::unique_ptr<WindowBackend> MakeOffscreenBackend() {
    return std::make_unique<OffscreenBackend>();
}

}  // namespace vimbra::platform
