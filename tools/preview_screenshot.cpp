// Shows one frame of the virtual camera in a top-level preview window on the
// X display of $DISPLAY and saves what the screen shows there as a PNG file:
//
//   Xvfb :7 -screen 0 1280x1024x24 & DISPLAY=:7 preview_screenshot out.png
//
// The frame is the camera's 1/4-skipped readout of the whole sensor
// (648 x 486 samples), demosaiced by the library into 24-bit colour.
#include <png.h>

#include <cstdio>
#include <vector>

#include "image/demosaic.h"
#include "image/dib_image.h"
#include "image/preview_window.h"
#include "platform/window.h"
#include "sim/scene.h"

// Last: Xlib defines macros (None, Status, True) that other headers use as names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

constexpr int kFormatWidth = 2592, kFormatHeight = 1944, kSubSample = 2;

bool WritePng(const char* path, const std::vector<uint8_t>& rgb, int w, int h) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool ok = info != nullptr && setjmp(png_jmpbuf(png)) == 0;
    if (ok) {
        png_init_io(png, f);
        png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < h; ++y) png_write_row(png, rgb.data() + static_cast<size_t>(y) * w * 3);
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s out.png\n", argv[0]);
        return 2;
    }
    using namespace vimbra;
    if (!platform::SelectWindowBackend(platform::WindowBackendKind::kX11)) {
        std::fprintf(stderr, "no usable X display in $DISPLAY\n");
        return 1;
    }
    int32_t w = 0, h = 0;
    PreviewFrameSize(kFormatWidth, kFormatHeight, kSubSample, &w, &h);
    sim::SceneParams scene;
    scene.width = w;
    scene.height = h;
    scene.divisor = scene.row_divisor = 4;
    CDibImage raw8, rgb24;
    raw8.Create(w, h, 8);
    rgb24.Create(w, h, 24);
    sim::SceneRenderer renderer;
    renderer.Render(scene, 40, raw8.bits(), static_cast<size_t>(raw8.stride()) * h);
    ColourSettings colour;
    ConvertToColour(&rgb24, &raw8, colour);

    PreviewWindow window;
    const int32_t rect[4] = {0, 0, kFormatWidth, kFormatHeight};
    if (!window.Open(nullptr, rect, kFormatWidth, kFormatHeight, kSubSample, &window)) {
        std::fprintf(stderr, "no preview window\n");
        return 1;
    }
    window.ShowFrame(2, FrameImages{&raw8, nullptr, &rgb24, nullptr, nullptr, nullptr, nullptr});
    platform::WindowDescription d;
    platform::DescribeWindow(window.Handle(), &d);

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return 1;
    XImage* shot = XGetImage(display, DefaultRootWindow(display), d.window_rect.left,
                             d.window_rect.top, w, h, AllPlanes, ZPixmap);
    if (shot == nullptr) return 1;
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const unsigned long p = XGetPixel(shot, x, y);
            uint8_t* o = rgb.data() + (static_cast<size_t>(y) * w + x) * 3;
            o[0] = static_cast<uint8_t>(p >> 16);
            o[1] = static_cast<uint8_t>(p >> 8);
            o[2] = static_cast<uint8_t>(p);
        }
    }
    XDestroyImage(shot);
    XCloseDisplay(display);
    window.Close();
    return WritePng(argv[1], rgb, w, h) ? 0 : 1;
}
