// Full-frame JPEG saving through the public interface, by wall clock: the
// fastest of several saves (format 2, quality 100) of one 2592 x 1944 snapshot
// in 24-bit colour, in milliseconds on standard output. The same source is
// built for Linux and, with mingw-w64, for Windows; tools/bench-wine-jpeg.sh
// runs both on the virtual camera and prints the Windows DLL's time under Wine
// over the Linux library's.
// Usage: bench_save_jpeg <file> [saves]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "VimbraSdk_740QX_RDL.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <file> [saves]\n", argv[0]);
        return 64;
    }
    const int saves = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    constexpr int32_t kWidth = 2592, kHeight = 1944;
    const int32_t h = Vimbra_Initialize(nullptr);
    if (h == 0) {
        std::fprintf(stderr, "bench_save_jpeg: no session\n");
        return 1;
    }
    Vimbra_SetColorMode(h, 24);
    Vimbra_SetSubSample(h, 0);
    Vimbra_SetCaptureWindowEx(h, kWidth, 0, kWidth, kHeight, 0, kHeight);
    std::vector<uint8_t> frame(static_cast<size_t>(kWidth) * kHeight * 3);
    int status = 0;
    if (Vimbra_SnapShot(h, frame.data(), static_cast<int32_t>(frame.size()), 0) != 1) {
        std::fprintf(stderr, "bench_save_jpeg: no snapshot (code %d)\n", Vimbra_GetLastError(h));
        status = 1;
    }
    double fastest_ms = 0;
    for (int i = 0; i < saves && status == 0; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (Vimbra_SaveImage(h, argv[1], 2) != 1) {
            std::fprintf(stderr, "bench_save_jpeg: cannot save %s\n", argv[1]);
            status = 1;
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        fastest_ms = i == 0 ? ms : std::min(fastest_ms, ms);
    }
    if (status == 0) std::printf("%.3f\n", fastest_ms);
    Vimbra_Close(h);
    Vimbra_Release(h);
    return status;
}
