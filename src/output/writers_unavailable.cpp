// Stand-ins for the JPEG, PNG and TIFF encoders in builds made without their
// libraries: saving in those formats fails, as a write error would, and says
// why once on standard error. BMP, raw and AVI files do not need them.
#include <cstdio>
#include <mutex>

#include "output/image_writers.h"

namespace vimbra {
namespace {

int Unavailable() {
    static std::once_flag said;
    std::call_once(said, [] {
        std::fputs("vimbra: built without the JPEG, PNG and TIFF libraries\n", stderr);
    });
    return 0;
}

}  // namespace

int WriteJpeg(const char*, const CDibImage&, int, RowOrder) {
    return Unavailable();
}

int WritePng(const char*, const uint8_t*, int, int, int) {
    return Unavailable();
}

int WriteTiff(const char*, const CDibImage&) {
    return Unavailable();
}

}  // namespace vimbra
