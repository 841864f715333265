// Loading graphs from image files in a running library (software screen of 32 bits over SDL's
// dummy video driver) against the image libraries decoding the same files into a buffer: a
// 1024 x 1024 PNG against libpng's simplified reading, a 1920 x 1080 JPEG against libjpeg, and
// 500 32 x 32 PNG graphs loaded on the load threads against the same loaded one after another.
// Compare the times of each pair. The files are written at start with libpng and libjpeg.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
// After the library's headers: libjpeg defines TRUE and FALSE as macros.
#include <jpeglib.h>
#include <png.h>

namespace {

using namespace ZiDaz;

std::filesystem::path gFolder;

// A picture-like RGB image: gradients with noisy patches.
std::vector<std::uint8_t> Picture(int w, int h, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            p[0] = static_cast<std::uint8_t>(x * 255 / w);
            p[1] = static_cast<std::uint8_t>(y * 255 / h);
            p[2] = static_cast<std::uint8_t>((x + y) / 3);
            if ((x / 64 + y / 48) % 4 == 0) p[2] = static_cast<std::uint8_t>(random());
        }
    return rgb;
}

bool WritePng(const std::filesystem::path& path, int w, int h, unsigned seed) {
    std::vector<std::uint8_t> rgb = Picture(w, h, seed);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

bool WriteJpeg(const std::filesystem::path& path, int w, int h) {
    std::vector<std::uint8_t> rgb = Picture(w, h, 3);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr error{};
    c.err = jpeg_std_error(&error);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, file);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[static_cast<std::size_t>(c.next_scanline) * w * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(file);
    return true;
}

std::string Name(const char* file) {
    return (gFolder / file).string();
}

void LoadGraphOnce(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        HandleValue g = LoadGraphFromImageFile(path.c_str(), 0);
        if (g < 0) {
            state.SkipWithError("the graph did not load");
            return;
        }
        DestroyGraph(g);
    }
}

void BM_LoadGraphPng1024(benchmark::State& state) {
    LoadGraphOnce(state, Name("big.png"));
}
BENCHMARK(BM_LoadGraphPng1024)->Unit(benchmark::kMillisecond);

void BM_LibpngSimplifiedPng1024(benchmark::State& state) {
    std::string path = Name("big.png");
    std::vector<std::uint8_t> buffer(1024 * 1024 * 4);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_file(&image, path.c_str());
        image.format = PNG_FORMAT_BGRA;
        png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_LibpngSimplifiedPng1024)->Unit(benchmark::kMillisecond);

void BM_LoadGraphJpeg1080p(benchmark::State& state) {
    LoadGraphOnce(state, Name("big.jpg"));
}
BENCHMARK(BM_LoadGraphJpeg1080p)->Unit(benchmark::kMillisecond);

void BM_LibjpegJpeg1080p(benchmark::State& state) {
    std::string path = Name("big.jpg");
    std::vector<std::uint8_t> buffer(1920 * 1080 * 3);
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "rb");
        jpeg_decompress_struct d{};
        jpeg_error_mgr error{};
        d.err = jpeg_std_error(&error);
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, file);
        jpeg_read_header(&d, TRUE);
        jpeg_start_decompress(&d);
        while (d.output_scanline < d.output_height) {
            JSAMPROW row = &buffer[static_cast<std::size_t>(d.output_scanline) * d.output_width *
                                   d.output_components];
            jpeg_read_scanlines(&d, &row, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        std::fclose(file);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_LibjpegJpeg1080p)->Unit(benchmark::kMillisecond);

void LoadMany(benchmark::State& state, int async) {
    std::vector<std::string> names;
    for (int i = 0; i < 500; ++i) names.push_back(Name(("s" + std::to_string(i) + ".png").c_str()));
    std::vector<HandleValue> graphs(names.size());
    for (auto _ : state) {
        EnableASyncLoad(async);
        for (std::size_t i = 0; i < names.size(); ++i)
            graphs[i] = LoadGraphFromImageFile(names[i].c_str(), 0);
        EnableASyncLoad(0);
        // Using each graph waits for its job.
        for (HandleValue g : graphs) {
            int w = 0, h = 0;
            if (GetGraphSize(g, &w, &h) != 0) {
                state.SkipWithError("the graph did not load");
                return;
            }
        }
        state.PauseTiming();
        for (HandleValue g : graphs) DestroyGraph(g);
        state.ResumeTiming();
    }
}

void BM_Load500SmallPngOnLoadThreads(benchmark::State& state) {
    LoadMany(state, 1);
}
BENCHMARK(BM_Load500SmallPngOnLoadThreads)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Load500SmallPngOneAfterAnother(benchmark::State& state) {
    LoadMany(state, 0);
}
BENCHMARK(BM_Load500SmallPngOneAfterAnother)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    gFolder =
        std::filesystem::temp_directory_path() / ("velk_bench_graphs_" + std::to_string(getpid()));
    std::filesystem::create_directories(gFolder);
    bool written =
        WritePng(gFolder / "big.png", 1024, 1024, 1) && WriteJpeg(gFolder / "big.jpg", 1920, 1080);
    for (int i = 0; written && i < 500; ++i)
        written = WritePng(gFolder / ("s" + std::to_string(i) + ".png"), 32, 32, 10 + i);
    if (!written) {
        std::fprintf(stderr, "could not write the test files\n");
        return 1;
    }
    EnableLogOutput(0);
    StoreWindowModeFlag(1);
    SetUseHardwareDrawing(0);
    SetScreenMode(640, 480, 32, 0);
    if (StartLibrary() != 0) {
        std::fprintf(stderr, "the library did not start\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EndLibrary();
    std::filesystem::remove_all(gFolder);
    return 0;
}
