// The software image filters of a running library (software renderer, 640 x 480 at 32 bits over
// SDL's dummy video driver) on a 640 x 480 graph, against pixman on the same pixels:
//
//   Gauss at pixel widths 8, 16, 32     RunImageFilterToGraph into a second graph, the graph's
//   (strength 16.00)                    pixels read and written back included; pixman: the same
//                                       13, 29 or 61 taps as a separable convolution, one pass
//                                       along each axis (a 1-row, then a 1-column kernel) with
//                                       the edges padded
//   DownScale by 2, 4, 8                RunImageFilterToGraph; pixman: a box-filtered scale of
//                                       the image by 1/d (separable convolution, box sample)
//
// Compare each pair of times: the goal is the filter at least as fast as pixman.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace {

using namespace ZiDaz;

constexpr int kW = 640, kH = 480, kStrength = 1600;

std::vector<std::uint32_t> gPixels;
HandleValue gSource = -1, gDest = -1;

void MakeInputs() {
    std::mt19937 random(5);
    gPixels.resize(static_cast<std::size_t>(kW) * kH);
    for (auto& p : gPixels) p = random();
    BASEIMAGE image{};
    NewBaseImageArgb8(kW, kH, &image);
    for (int y = 0; y < kH; ++y)
        std::memcpy(
            static_cast<std::uint8_t*>(image.Pixels) + static_cast<std::ptrdiff_t>(y) * image.Pitch,
            gPixels.data() + static_cast<std::size_t>(y) * kW, kW * 4);
    gSource = CreateGraphFromBaseImage(&image);
    gDest = CreateGraphFromBaseImage(&image);
    DisposeBaseImage(&image);
}

void BM_Gauss_Filter(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (RunImageFilterToGraph(gSource, gDest, static_cast<int>(ImageFilterMode::Gauss), width,
                                  kStrength) != 0)
            state.SkipWithError("the filter failed");
    }
}
BENCHMARK(BM_Gauss_Filter)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMicrosecond);

// The blur's effective taps: the centre at k0 and distances 2j-1 and 2j at half of k[j].
std::vector<pixman_fixed_t> GaussTaps(int width) {
    UpdateGaussKernel(width, static_cast<float>(kStrength) / 100.0f);
    const int n = width / 2, reach = 2 * (n - 1);
    std::vector<pixman_fixed_t> taps(static_cast<std::size_t>(2 * reach + 1));
    taps[reach] = static_cast<pixman_fixed_t>(GaussKernel.Weights[0] * 65536.0f);
    for (int d = 1; d <= reach; ++d) {
        const auto v =
            static_cast<pixman_fixed_t>(GaussKernel.Weights[(d + 1) / 2] * 65536.0f / 2.0f);
        taps[reach - d] = taps[reach + d] = v;
    }
    return taps;
}

void ConvolveOneAxis(pixman_image_t* from, pixman_image_t* to,
                     const std::vector<pixman_fixed_t>& taps, bool horizontal) {
    std::vector<pixman_fixed_t> params;
    const int size = static_cast<int>(taps.size());
    params.push_back(pixman_int_to_fixed(horizontal ? size : 1));
    params.push_back(pixman_int_to_fixed(horizontal ? 1 : size));
    params.push_back(0);
    params.push_back(0);
    if (horizontal) {
        params.insert(params.end(), taps.begin(), taps.end());
        params.push_back(pixman_fixed_1);
    } else {
        params.push_back(pixman_fixed_1);
        params.insert(params.end(), taps.begin(), taps.end());
    }
    pixman_image_set_filter(from, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params.data(),
                            static_cast<int>(params.size()));
    pixman_image_set_repeat(from, PIXMAN_REPEAT_PAD);
    pixman_image_composite32(PIXMAN_OP_SRC, from, nullptr, to, 0, 0, 0, 0, 0, 0, kW, kH);
}

void BM_Gauss_Pixman(benchmark::State& state) {
    const std::vector<pixman_fixed_t> taps = GaussTaps(static_cast<int>(state.range(0)));
    std::vector<std::uint32_t> middle(gPixels.size()), out(gPixels.size());
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, gPixels.data(), kW * 4);
    pixman_image_t* mid = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, middle.data(), kW * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, out.data(), kW * 4);
    for (auto _ : state) {
        ConvolveOneAxis(src, mid, taps, true);
        ConvolveOneAxis(mid, dst, taps, false);
        benchmark::DoNotOptimize(out.data());
    }
    pixman_image_unref(src);
    pixman_image_unref(mid);
    pixman_image_unref(dst);
}
BENCHMARK(BM_Gauss_Pixman)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMicrosecond);

void BM_DownScale_Filter(benchmark::State& state) {
    const int d = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (RunImageFilterToGraph(gSource, gDest, static_cast<int>(ImageFilterMode::DownScale),
                                  d) != 0)
            state.SkipWithError("the filter failed");
    }
}
BENCHMARK(BM_DownScale_Filter)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMicrosecond);

void BM_DownScale_Pixman(benchmark::State& state) {
    const int d = static_cast<int>(state.range(0));
    const int w = kW / d, h = kH / d;
    std::vector<std::uint32_t> out(static_cast<std::size_t>(w) * h);
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, gPixels.data(), kW * 4);
    pixman_image_t* dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, w, h, out.data(), w * 4);
    pixman_transform_t scale;
    pixman_transform_init_scale(&scale, pixman_int_to_fixed(d), pixman_int_to_fixed(d));
    pixman_image_set_transform(src, &scale);
    int count = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &count, pixman_int_to_fixed(d), pixman_int_to_fixed(d), PIXMAN_KERNEL_IMPULSE,
        PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 0, 0);
    pixman_image_set_filter(src, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
    free(params);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, w, h);
        benchmark::DoNotOptimize(out.data());
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
}
BENCHMARK(BM_DownScale_Pixman)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    EnableLogOutput(0);
    StoreWindowModeFlag(1);
    SetUseHardwareDrawing(0);
    SetScreenMode(kW, kH, 32, 0);
    if (StartLibrary() != 0) {
        std::fprintf(stderr, "the library did not start\n");
        return 1;
    }
    MakeInputs();
    if (gSource < 0 || gDest < 0) {
        std::fprintf(stderr, "the graphs could not be made\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EndLibrary();
    return 0;
}
