// A window of the host on an X server, made and mapped the way a host
// application would, for tests and benchmarks that place previews in it.
// Include it last: Xlib defines macros (None, Status, True) that other headers
// use as names.
#pragma once

#include <X11/Xlib.h>

namespace vimbra::testing {

// A plain top-level window at (x, y) on the default screen, mapped and
// synchronised, so the server knows it before its XID is handed on.
inline Window MapHostWindow(Display* display, int x, int y, int w, int h) {
    const int s = DefaultScreen(display);
    const Window win = XCreateSimpleWindow(display, RootWindow(display, s), x, y, w, h, 0,
                                           WhitePixel(display, s), WhitePixel(display, s));
    XMapWindow(display, win);
    XSync(display, False);
    return win;
}

}  // namespace vimbra::testing
