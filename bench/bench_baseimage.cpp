// The base-image converters against outside libraries doing the same work.
//
//   ConvertPixelRect 640 x 480            pixman SRC composite of the same two formats
//     R5G6B5 -> ARGB8 (general pipeline)    r5g6b5 -> a8r8g8b8
//     XRGB8 -> R5G6B5                       x8r8g8b8 -> r5g6b5
//     RGB24 -> ARGB8                        r8g8b8 -> a8r8g8b8
//     ARGB8 -> ABGR8                        a8r8g8b8 -> a8b8g8r8
//     palette -> XRGB8                      c8 (indexed) -> x8r8g8b8
//   DecodeBlockCompressedBaseImage        libsquish DecompressImage, 1024 x 1024 DXT1 and DXT5,
//                                         into a new buffer each call and into a reused one
//   UnpackNv12Frame, UnpackYuy2Frame      libyuv NV12ToARGB, YUY2ToARGB, 1280 x 720
#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <pixman.h>
#include <squish.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"

using namespace ZiDaz;

namespace {

constexpr int kW = 640;
constexpr int kH = 480;

struct FormatPair {
    COLORFORMAT dest, source;
    int destBytes, sourceBytes;
    pixman_format_code_t pixmanDest, pixmanSource;
};

FormatPair MakePair(int which) {
    COLORFORMAT argb{}, xrgb{}, rgb24{}, r5g6b5{}, abgr{}, pal{};
    InitColorFormatArgb8(&argb);
    InitColorFormatXrgb8(&xrgb);
    InitColorFormatRgb24(&rgb24);
    InitColorFormatR5G6B5(&r5g6b5);
    InitColorFormatAbgr8(&abgr);
    InitDefaultPaletteFormat(&pal, 0);
    switch (which) {
        case 0:
            return {argb, r5g6b5, 4, 2, PIXMAN_a8r8g8b8, PIXMAN_r5g6b5};
        case 1:
            return {r5g6b5, xrgb, 2, 4, PIXMAN_r5g6b5, PIXMAN_x8r8g8b8};
        case 2:
            return {argb, rgb24, 4, 3, PIXMAN_a8r8g8b8, PIXMAN_r8g8b8};
        case 3:
            return {abgr, argb, 4, 4, PIXMAN_a8b8g8r8, PIXMAN_a8r8g8b8};
        default:
            return {xrgb, pal, 4, 1, PIXMAN_x8r8g8b8, PIXMAN_c8};
    }
}

const char* const kPairNames[] = {"R5G6B5_to_ARGB8", "XRGB8_to_R5G6B5", "RGB24_to_ARGB8",
                                  "ARGB8_to_ABGR8", "Palette_to_XRGB8"};

// Rows padded to 4 bytes as both sides need.
int PitchOf(int bytes) {
    return (kW * bytes + 3) & ~3;
}

std::vector<std::uint32_t> RandomWords(std::size_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint32_t> out((bytes + 3) / 4);
    for (auto& w : out) w = rng();
    return out;
}

void BM_ConvertPixelRect(benchmark::State& state) {
    const FormatPair p = MakePair(static_cast<int>(state.range(0)));
    const int sp = PitchOf(p.sourceBytes), dp = PitchOf(p.destBytes);
    auto src = RandomWords(static_cast<std::size_t>(sp) * kH, 1);
    std::vector<std::uint32_t> dst(static_cast<std::size_t>(dp) * kH / 4);
    const RECT rect{0, 0, kW, kH};
    for (auto _ : state) {
        ConvertPixelRect(dst.data(), dp, &p.dest, src.data(), sp, &p.source, nullptr, 0, nullptr, 0,
                         0, &rect, 0, 0, 0, 0, 0, 0, 0, 0);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(kPairNames[state.range(0)]);
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void BM_PixmanSrc(benchmark::State& state) {
    const FormatPair p = MakePair(static_cast<int>(state.range(0)));
    const int sp = PitchOf(p.sourceBytes), dp = PitchOf(p.destBytes);
    auto src = RandomWords(static_cast<std::size_t>(sp) * kH, 1);
    std::vector<std::uint32_t> dst(static_cast<std::size_t>(dp) * kH / 4);
    pixman_image_t* s = pixman_image_create_bits(p.pixmanSource, kW, kH, src.data(), sp);
    pixman_image_t* d = pixman_image_create_bits(p.pixmanDest, kW, kH, dst.data(), dp);
    pixman_indexed_t indexed{};
    if (p.pixmanSource == PIXMAN_c8) {
        for (int i = 0; i < 256; ++i) {
            const std::uint8_t* e = p.source.Palette[i];
            indexed.rgba[i] =
                0xFF000000u | static_cast<std::uint32_t>(e[2] << 16 | e[1] << 8 | e[0]);
        }
        pixman_image_set_indexed(s, &indexed);
    }
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kW, kH);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    pixman_image_unref(s);
    pixman_image_unref(d);
    state.SetLabel(kPairNames[state.range(0)]);
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

BENCHMARK(BM_ConvertPixelRect)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PixmanSrc)->DenseRange(0, 4)->Unit(benchmark::kMicrosecond);

// ---- Block decoding
// -------------------------------------------------------------------------------

constexpr int kBlockSize = 1024;

std::vector<std::uint32_t> RandomBlocks(int kind) {
    const std::size_t bytes =
        static_cast<std::size_t>(kBlockSize / 4) * (kBlockSize / 4) * (kind == 1 ? 8 : 16);
    return RandomWords(bytes, 7);
}

void BM_DecodeBlocks(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    const auto blocks = RandomBlocks(kind);
    BASEIMAGE image{};
    for (auto _ : state) {
        state.PauseTiming();
        InitColorFormatArgb8(&image.Format);
        image.Format.FormatKind = static_cast<std::uint8_t>(kind);
        image.Width = image.Height = kBlockSize;
        image.Pitch = kBlockSize / 4 * (kind == 1 ? 8 : 16);
        image.Pixels = const_cast<std::uint32_t*>(blocks.data());
        image.MipCount = 0;
        image.ImageCount = 0;
        state.ResumeTiming();
        DecodeBlockCompressedBaseImage(&image, 0);
        benchmark::DoNotOptimize(image.Pixels);
        state.PauseTiming();
        FreeTrackedMemory(image.Pixels);
        state.ResumeTiming();
    }
    state.SetLabel(kind == 1 ? "DXT1" : "DXT5");
    state.SetItemsProcessed(state.iterations() * kBlockSize * kBlockSize);
}

// Our decoder allocates the image it decodes into, and the library's allocator hands large
// blocks back to the system when they are freed, so every call also pays for fresh pages. The
// squish run does the same (a new tracked block per call); BM_SquishWarm decodes into one
// reused buffer, for the decoding alone.
void BM_Squish(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    const auto blocks = RandomBlocks(kind);
    const std::size_t bytes = static_cast<std::size_t>(kBlockSize) * kBlockSize * 4;
    for (auto _ : state) {
        auto* rgba = static_cast<std::uint8_t*>(AllocateTrackedMemory(bytes, "bench", __LINE__));
        squish::DecompressImage(rgba, kBlockSize, kBlockSize, blocks.data(),
                                kind == 1 ? squish::kDxt1 : squish::kDxt5);
        benchmark::DoNotOptimize(rgba);
        benchmark::ClobberMemory();
        state.PauseTiming();
        FreeTrackedMemory(rgba);
        state.ResumeTiming();
    }
    state.SetLabel(kind == 1 ? "DXT1" : "DXT5");
    state.SetItemsProcessed(state.iterations() * kBlockSize * kBlockSize);
}

void BM_SquishWarm(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    const auto blocks = RandomBlocks(kind);
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(kBlockSize) * kBlockSize * 4);
    for (auto _ : state) {
        squish::DecompressImage(rgba.data(), kBlockSize, kBlockSize, blocks.data(),
                                kind == 1 ? squish::kDxt1 : squish::kDxt5);
        benchmark::DoNotOptimize(rgba.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(kind == 1 ? "DXT1" : "DXT5");
    state.SetItemsProcessed(state.iterations() * kBlockSize * kBlockSize);
}

BENCHMARK(BM_DecodeBlocks)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Squish)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SquishWarm)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);

// ---- YUV frames
// -----------------------------------------------------------------------------------

constexpr int kVideoW = 1280;
constexpr int kVideoH = 720;

void BM_UnpackYuv(benchmark::State& state) {
    const bool nv12 = state.range(0) == 0;
    const std::size_t bytes = nv12 ? static_cast<std::size_t>(kVideoW) * kVideoH * 3 / 2
                                   : static_cast<std::size_t>(kVideoW) * kVideoH * 2;
    const auto frame = RandomWords(bytes, 9);
    BASEIMAGE image{};
    NewBaseImageXrgb8(kVideoW, kVideoH, &image);
    for (auto _ : state) {
        if (nv12) {
            UnpackNv12Frame(frame.data(), kVideoW, kVideoH, &image);
        } else {
            UnpackYuy2Frame(frame.data(), kVideoW, kVideoH, &image);
        }
        benchmark::DoNotOptimize(image.Pixels);
        benchmark::ClobberMemory();
    }
    DisposeBaseImage(&image);
    state.SetLabel(nv12 ? "NV12" : "YUY2");
    state.SetItemsProcessed(state.iterations() * kVideoW * kVideoH);
}

void BM_Libyuv(benchmark::State& state) {
    const bool nv12 = state.range(0) == 0;
    const std::size_t bytes = nv12 ? static_cast<std::size_t>(kVideoW) * kVideoH * 3 / 2
                                   : static_cast<std::size_t>(kVideoW) * kVideoH * 2;
    const auto frame = RandomWords(bytes, 9);
    const auto* f = reinterpret_cast<const std::uint8_t*>(frame.data());
    std::vector<std::uint8_t> argb(static_cast<std::size_t>(kVideoW) * kVideoH * 4);
    for (auto _ : state) {
        if (nv12) {
            libyuv::NV12ToARGB(f, kVideoW, f + kVideoW * kVideoH, kVideoW, argb.data(), kVideoW * 4,
                               kVideoW, kVideoH);
        } else {
            libyuv::YUY2ToARGB(f, kVideoW * 2, argb.data(), kVideoW * 4, kVideoW, kVideoH);
        }
        benchmark::DoNotOptimize(argb.data());
        benchmark::ClobberMemory();
    }
    state.SetLabel(nv12 ? "NV12" : "YUY2");
    state.SetItemsProcessed(state.iterations() * kVideoW * kVideoH);
}

BENCHMARK(BM_UnpackYuv)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libyuv)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
