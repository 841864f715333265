// PNG and JPEG at 1920 x 1080, one run each:
// - PNG decoding from memory of the same RGB and RGBA files: the own decoder (ReadPngImage) and
//   the libpng reader against libpng's simplified reading and libspng, each into a buffer of
//   blue, green, red (and alpha) bytes;
// - JPEG reading (ReadJpegImage) against the TurboJPEG API on the same bytes;
// - PNG writing at level 6 (WriteBaseImagePngFile) against libpng used directly, and JPEG
//   writing at quality 90 (WriteBaseImageJpegFile) against TurboJPEG, each writing a file.
// Compare the times of each group. The picture is photo-like: smooth gradients, waves and noise.
#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"

namespace {

using namespace ZiDaz;
using Bytes = std::vector<std::uint8_t>;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Blue, green, red (and alpha) bytes of the picture.
Bytes MakePicture(int channels) {
    std::mt19937 random(5);
    Bytes out(std::size_t(kWidth) * kHeight * channels);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* p = &out[(std::size_t(y) * kWidth + x) * channels];
            const double wave = 40 * std::sin(x * 0.013) * std::cos(y * 0.021);
            const int noise = int(random() % 9) - 4;
            p[0] = std::uint8_t(std::clamp(int(x * 255 / kWidth + wave) + noise, 0, 255));
            p[1] = std::uint8_t(std::clamp(int(y * 255 / kHeight - wave) + noise, 0, 255));
            p[2] = std::uint8_t(std::clamp(int(128 + wave * 2) + noise, 0, 255));
            if (channels == 4) p[3] = std::uint8_t(std::clamp(int(200 + wave) + noise, 0, 255));
        }
    }
    return out;
}

BASEIMAGE PictureImage(Bytes& pixels, int channels) {
    BASEIMAGE image{};
    if (channels == 4) {
        InitColorFormatArgb8(&image.Format);
    } else {
        InitColorFormatRgb24(&image.Format);
    }
    image.Width = kWidth;
    image.Height = kHeight;
    image.Pitch = kWidth * channels;
    image.Pixels = pixels.data();
    return image;
}

std::string ScratchPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("bench_pngjpeg_") + std::to_string(getpid()) + "_" + name))
        .string();
}

std::u16string Widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// The same files for every reader: written once by our writers.
const Bytes& EncodedFile(int channels, bool jpeg) {
    static Bytes files[2][2];
    Bytes& file = files[jpeg][channels == 4];
    if (file.empty()) {
        Bytes pixels = MakePicture(channels);
        BASEIMAGE image = PictureImage(pixels, channels);
        const std::string path = ScratchPath(jpeg ? "source.jpg" : "source.png");
        if (jpeg) {
            WriteBaseImageJpegFile(Widen(path).c_str(), &image, 90, 0);
        } else {
            WriteBaseImagePngFile(Widen(path).c_str(), &image, 6);
        }
        file = ReadFile(path);
        std::filesystem::remove(path);
    }
    return file;
}

void KeepHeapsWarm() {
    static void* const small = AllocateTrackedMemory(64, "bench", __LINE__);
    static void* const large = AllocateTrackedMemory(1 << 17, "bench", __LINE__);
    benchmark::DoNotOptimize(small);
    benchmark::DoNotOptimize(large);
}

void RunReader(benchmark::State& state, ImageReader reader, const Bytes& file) {
    KeepHeapsWarm();
    for (auto _ : state) {
        MemoryStream* stream = CreateMemoryStream(file.data(), file.size());
        ImageReaderAccess access{GetMemoryStreamAccess(), stream};
        BASEIMAGE image{};
        if (reader(&access, &image, 0) != 0) state.SkipWithError("refused");
        benchmark::DoNotOptimize(image.Pixels);
        FreeTrackedMemory(image.Pixels);
        GetMemoryStreamAccess()->Close(stream);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kWidth) * kHeight * 4);
}

// ---- PNG decoding -----------------------------------------------------------------------------

void BM_PngOwnDecoder(benchmark::State& state) {
    RunReader(state, ReadPngImage, EncodedFile(int(state.range(0)), false));
}
void BM_PngLibpngReader(benchmark::State& state) {
    RunReader(state, ReadPngImageLibpng, EncodedFile(int(state.range(0)), false));
}
void BM_PngLibpngSimplified(benchmark::State& state) {
    const int channels = int(state.range(0));
    const Bytes& file = EncodedFile(channels, false);
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, file.data(), file.size());
        image.format = channels == 4 ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
        Bytes out(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) {
            state.SkipWithError("refused");
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kWidth) * kHeight * 4);
}
void BM_PngLibspng(benchmark::State& state) {
    const int channels = int(state.range(0));
    const Bytes& file = EncodedFile(channels, false);
    const int format = channels == 4 ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
    for (auto _ : state) {
        spng_ctx* context = spng_ctx_new(0);
        spng_set_png_buffer(context, file.data(), file.size());
        std::size_t size = 0;
        spng_decoded_image_size(context, format, &size);
        Bytes out(size);
        if (spng_decode_image(context, out.data(), size, format, 0) != 0) {
            state.SkipWithError("refused");
        }
        benchmark::DoNotOptimize(out.data());
        spng_ctx_free(context);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(kWidth) * kHeight * 4);
}
BENCHMARK(BM_PngOwnDecoder)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpngReader)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpngSimplified)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibspng)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

// ---- JPEG reading -------------------------------------------------------------------------------

void BM_JpegReader(benchmark::State& state) {
    RunReader(state, ReadJpegImage, EncodedFile(3, true));
}
void BM_JpegTurboJpeg(benchmark::State& state) {
    const Bytes& file = EncodedFile(3, true);
    tjhandle handle = tjInitDecompress();
    for (auto _ : state) {
        Bytes out(std::size_t(kWidth) * kHeight * 3);
        if (tjDecompress2(handle, file.data(), file.size(), out.data(), kWidth, 0, kHeight,
                          TJPF_BGR, 0) != 0) {
            state.SkipWithError("refused");
        }
        benchmark::DoNotOptimize(out.data());
    }
    tjDestroy(handle);
    state.SetBytesProcessed(state.iterations() * std::int64_t(kWidth) * kHeight * 4);
}
BENCHMARK(BM_JpegReader)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegTurboJpeg)->Unit(benchmark::kMillisecond);

// ---- Writing ------------------------------------------------------------------------------------

void BM_PngWriter(benchmark::State& state) {
    Bytes pixels = MakePicture(3);
    BASEIMAGE image = PictureImage(pixels, 3);
    const std::string path = ScratchPath("ours.png");
    KeepHeapsWarm();
    for (auto _ : state) {
        if (WriteBaseImagePngFile(Widen(path).c_str(), &image, 6) != 0) {
            state.SkipWithError("failed");
        }
    }
    std::filesystem::remove(path);
}
void BM_PngLibpngWriter(benchmark::State& state) {
    Bytes pixels = MakePicture(3);
    const std::string path = ScratchPath("libpng.png");
    std::vector<png_bytep> rows(kHeight);
    for (int y = 0; y < kHeight; ++y) rows[y] = &pixels[std::size_t(y) * kWidth * 3];
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        if (setjmp(png_jmpbuf(png))) {
            state.SkipWithError("failed");
            break;
        }
        png_init_io(png, file);
        png_set_compression_level(png, 6);
        png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_set_bgr(png);
        png_write_image(png, rows.data());
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
    }
    std::filesystem::remove(path);
}
void BM_JpegWriter(benchmark::State& state) {
    Bytes pixels = MakePicture(3);
    BASEIMAGE image = PictureImage(pixels, 3);
    const std::string path = ScratchPath("ours.jpg");
    KeepHeapsWarm();
    for (auto _ : state) {
        if (WriteBaseImageJpegFile(Widen(path).c_str(), &image, 90, 0) != 0) {
            state.SkipWithError("failed");
        }
    }
    std::filesystem::remove(path);
}
void BM_JpegTurboJpegWriter(benchmark::State& state) {
    Bytes pixels = MakePicture(3);
    const std::string path = ScratchPath("turbo.jpg");
    tjhandle handle = tjInitCompress();
    for (auto _ : state) {
        unsigned char* out = nullptr;
        unsigned long size = 0;
        if (tjCompress2(handle, pixels.data(), kWidth, kWidth * 3, kHeight, TJPF_BGR, &out, &size,
                        TJSAMP_420, 90, 0) != 0) {
            state.SkipWithError("failed");
        }
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(out, 1, size, file);
        std::fclose(file);
        tjFree(out);
    }
    tjDestroy(handle);
    std::filesystem::remove(path);
}
BENCHMARK(BM_PngWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpngWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegWriter)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegTurboJpegWriter)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
