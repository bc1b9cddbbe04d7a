// Time to save a full 2592 x 1944 24-bit picture in every still format,
// next to the same library (or stdio) calls made directly on the same
// picture: JPEG and PNG from R, G, B rows prepared before the timing, BMP
// and raw with fwrite, where BMP takes the rows from the last to the first
// as the format's bottom-up order demands, and TIFF with the R, G, B strip
// that the format demands built by a plain loop inside the timing. Our
// overhead is the ratio. The AVI writer's throughput is set next to a plain
// fwrite of the same bytes. Files go to a scratch directory under $TMPDIR (or /tmp). After the
// runs a table gives every figure as a ratio to its reference of the run.
//
// Run (from the repository root, with a build directory of your own):
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release &&
//   ninja -C build-bench bench_output &&
//   build-bench/bench/output/bench_output --benchmark_repetitions=3
//       --benchmark_report_aggregates_only=true
// With repetitions every figure is the fastest run.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <stdlib.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fastest_run.h"
#include "image/dib_image.h"
#include "output/avi_writer.h"
#include "output/save_image.h"

namespace {

constexpr int kWidth = 2592;
constexpr int kHeight = 1944;
constexpr int kAviFrames = 8;

// A picture that compresses like a camera's: smooth shading with sensor noise.
struct Picture {
    vimbra::CDibImage image;
    std::vector<uint8_t> rgb;  // the same pixels top row first, R, G, B, unpadded
    std::string dir;
    Picture() {
        image.Create(kWidth, kHeight, 24);
        rgb.resize(static_cast<size_t>(kWidth) * kHeight * 3);
        std::mt19937 rng(7);
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = image.row(y);
            for (int x = 0; x < kWidth; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const int v = (x / 12 + y / (8 + 4 * c) + c * 60) % 256 + int(rng() % 9) - 4;
                    row[3 * x + c] = static_cast<uint8_t>(std::clamp(v, 0, 255));
                    rgb[(static_cast<size_t>(y) * kWidth + x) * 3 + 2 - c] = row[3 * x + c];
                }
            }
        }
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp != nullptr ? tmp : "/tmp") + "/vimbra-bench-XXXXXX";
        if (::mkdtemp(templ.data()) != nullptr) dir = templ;
    }
    ~Picture() {
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }
    std::string File(const char* name) const { return dir + "/" + name; }
};

Picture& GetPicture() {
    static Picture picture;
    return picture;
}

void Ours(benchmark::State& state, int format) {
    Picture& p = GetPicture();
    const std::string path = p.File("ours");
    for (auto _ : state) {
        if (vimbra::SaveImage(path.c_str(), &p.image, format) != 1)
            state.SkipWithError("save failed");
    }
}

// A BMP (header, rows from the last to the first) or raw file with stdio.
void DirectStdio(benchmark::State& state, bool bmp) {
    Picture& p = GetPicture();
    const std::string path = p.File("direct");
    const size_t stride = static_cast<size_t>(p.image.stride());
    uint8_t header[54] = {'B', 'M'};
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (bmp) {
            std::fwrite(header, 1, sizeof header, f);
            for (int y = kHeight - 1; y >= 0; --y) std::fwrite(p.image.row(y), 1, stride, f);
        } else {
            std::fwrite(p.image.bits(), 1, stride * kHeight, f);
        }
        std::fclose(f);
    }
}

void DirectJpeg(benchmark::State& state, int quality) {
    Picture& p = GetPicture();
    const std::string path = p.File("direct.jpg");
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        jpeg_compress_struct cinfo{};
        jpeg_error_mgr err{};
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_compress(&cinfo);
        jpeg_stdio_dest(&cinfo, f);
        cinfo.image_width = kWidth;
        cinfo.image_height = kHeight;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        jpeg_simple_progression(&cinfo);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = p.rgb.data() + static_cast<size_t>(cinfo.next_scanline) * kWidth * 3;
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::fclose(f);
    }
}

void DirectPng(benchmark::State& state) {
    Picture& p = GetPicture();
    const std::string path = p.File("direct.png");
    std::vector<png_bytep> rows(kHeight);
    for (int y = 0; y < kHeight; ++y) rows[y] = p.rgb.data() + static_cast<size_t>(y) * kWidth * 3;
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
    }
}

void DirectTiff(benchmark::State& state) {
    Picture& p = GetPicture();
    const std::string path = p.File("direct.tif");
    std::vector<uint8_t> strip(p.rgb.size());
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            const uint8_t* s = p.image.row(y);
            uint8_t* d = strip.data() + static_cast<size_t>(y) * kWidth * 3;
            for (int x = 0; x < kWidth; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        }
        TIFF* tif = TIFFOpen(path.c_str(), "w");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFWriteEncodedStrip(tif, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
        TIFFClose(tif);
    }
}

size_t AviBytes() {
    const size_t frame = static_cast<size_t>(kWidth) * 3 * kHeight;
    return 232 + kAviFrames * (8 + frame) + 8 + 16 * kAviFrames;
}

void AviWriter(benchmark::State& state) {
    Picture& p = GetPicture();
    const std::string path = p.File("ours.avi");
    vimbra::CAviWriter writer;
    for (auto _ : state) {
        writer.Begin(path.c_str(), kWidth, kHeight);
        for (int i = 0; i < kAviFrames; ++i) writer.AppendFrame(p.image.bits());
        writer.Finish(3000);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * AviBytes()));
}

// The same number of bytes in the same pieces through stdio.
void AviFwrite(benchmark::State& state) {
    Picture& p = GetPicture();
    const std::string path = p.File("fwrite.avi");
    const size_t frame = static_cast<size_t>(kWidth) * 3 * kHeight;
    std::vector<uint8_t> header(232), chunk(8), index(8 + 16 * kAviFrames);
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(header.data(), 1, header.size(), f);
        for (int i = 0; i < kAviFrames; ++i) {
            std::fwrite(chunk.data(), 1, chunk.size(), f);
            std::fwrite(p.image.bits(), 1, frame, f);
        }
        std::fwrite(index.data(), 1, index.size(), f);
        std::fclose(f);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * AviBytes()));
}

struct Format {
    const char* name;
    int code;
};
constexpr Format kFormats[] = {{"bmp", 0},    {"raw", 1}, {"jpeg100", 2}, {"jpeg70", 3},
                               {"jpeg20", 4}, {"png", 5}, {"tiff", 6}};

void Register() {
    auto time = [](benchmark::internal::Benchmark* b) { vimbra::FastestOfRuns(b); };
    for (const Format& f : kFormats) {
        time(benchmark::RegisterBenchmark((std::string("ours/") + f.name).c_str(), Ours, f.code));
    }
    time(benchmark::RegisterBenchmark("direct/bmp", DirectStdio, true));
    time(benchmark::RegisterBenchmark("direct/raw", DirectStdio, false));
    time(benchmark::RegisterBenchmark("direct/jpeg100", DirectJpeg, 100));
    time(benchmark::RegisterBenchmark("direct/jpeg70", DirectJpeg, 70));
    time(benchmark::RegisterBenchmark("direct/jpeg20", DirectJpeg, 20));
    time(benchmark::RegisterBenchmark("direct/png", DirectPng));
    time(benchmark::RegisterBenchmark("direct/tiff", DirectTiff));
    time(benchmark::RegisterBenchmark("ours/avi", AviWriter));
    time(benchmark::RegisterBenchmark("direct/avi", AviFwrite));
}

// Keeps the console output and remembers each figure's time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            const std::string name = vimbra::FigureName(r);
            if (name.empty()) continue;
            real_[name] = r.GetAdjustedRealTime();
            cpu_[name] = r.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        std::printf("\nOur time / the direct library calls' time (goal <= 1.1):\n");
        std::printf("  %-8s %10s %10s %8s %8s\n", "format", "ours ms", "direct ms", "real", "cpu");
        for (const Format& f : kFormats) Line(f.name);
        std::printf("\nAVI writer throughput / fwrite of the same bytes (goal >= 0.8):\n");
        const double ours = Get(real_, "ours/avi"), direct = Get(real_, "direct/avi");
        if (ours > 0 && direct > 0) {
            const double mb = AviBytes() / 1e6;
            std::printf("  avi: %.0f MB/s vs %.0f MB/s, ratio %.2f (cpu %.2f)\n", mb / (ours / 1e3),
                        mb / (direct / 1e3), direct / ours,
                        Get(cpu_, "direct/avi") / Get(cpu_, "ours/avi"));
        }
    }

  private:
    void Line(const std::string& name) const {
        const double ours = Get(real_, "ours/" + name), direct = Get(real_, "direct/" + name);
        if (ours <= 0 || direct <= 0) return;
        std::printf("  %-8s %10.1f %10.1f %8.2f %8.2f\n", name.c_str(), ours, direct, ours / direct,
                    Get(cpu_, "ours/" + name) / Get(cpu_, "direct/" + name));
    }
    static double Get(const std::map<std::string, double>& m, const std::string& name) {
        auto it = m.find(name);
        return it == m.end() ? 0.0 : it->second;
    }
    std::map<std::string, double> real_, cpu_;
};

}  // namespace

int main(int argc, char** argv) {
    return vimbra::RunAndPrintRatios<RatioReporter>(argc, argv, Register);
}
