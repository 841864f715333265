// The software presentation: FlipScreen of a 640 x 480 32-bit screen into a 640 x 480 window
// (copied 1:1) and into a 1280 x 960 window (window scale 2, a nearest stretch), inside a running
// library over SDL's dummy video driver, against memcpy of the frame and against pixman's nearest
// 2x scale of the same frame.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DxChar.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

using namespace ZiDaz;

namespace {

constexpr int kW = 640;
constexpr int kH = 480;

// Starts the library with a 640 x 480 32-bit screen in a window of the given scale.
void RunLibraryAtScale(double scale) {
    static double running = 0;
    if (running == scale) return;
    if (running != 0) EndLibrary();
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    SetNarrowCharCode(CharEncoding::Utf8);
    EnableLogOutput(0);
    StoreWindowModeFlag(1);
    SetScreenMode(kW, kH, 32, 0);
    SetWindowScaleFactors(scale, scale);
    if (StartLibrary() != 0) std::abort();
    running = scale;
    MEMIMG& s = GraphicsSystemState.ScreenImage;
    std::mt19937 rng(7);
    for (int y = 0; y < s.Height; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(s.Pixels + y * s.Shared->Pitch);
        for (int x = 0; x < s.Width; ++x) row[x] = rng() | 0xFF000000u;
    }
}

void BM_FlipScreen_640x480_Window1to1(benchmark::State& state) {
    RunLibraryAtScale(1.0);
    for (auto _ : state) benchmark::DoNotOptimize(FlipScreen());
    state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_FlipScreen_640x480_Window1to1)->Unit(benchmark::kMicrosecond);

void BM_FlipScreen_640x480_Window1280x960(benchmark::State& state) {
    RunLibraryAtScale(2.0);
    for (auto _ : state) benchmark::DoNotOptimize(FlipScreen());
    state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_FlipScreen_640x480_Window1280x960)->Unit(benchmark::kMicrosecond);

void BM_Memcpy_640x480x4(benchmark::State& state) {
    std::vector<std::uint32_t> from(kW * kH, 0x123456), to(kW * kH);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_Memcpy_640x480x4)->Unit(benchmark::kMicrosecond);

void BM_Pixman_NearestScale2_640x480To1280x960(benchmark::State& state) {
    std::vector<std::uint32_t> from(kW * kH), to(kW * 2 * kH * 2);
    std::mt19937 rng(7);
    for (auto& p : from) p = rng();
    pixman_image_t* src = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, from.data(), kW * 4);
    pixman_image_t* dst =
        pixman_image_create_bits(PIXMAN_x8r8g8b8, kW * 2, kH * 2, to.data(), kW * 2 * 4);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(0.5), pixman_double_to_fixed(0.5));
    pixman_image_set_transform(src, &t);
    pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kW * 2,
                                 kH * 2);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(src);
    pixman_image_unref(dst);
    state.SetBytesProcessed(state.iterations() * kW * kH * 4);
}
BENCHMARK(BM_Pixman_NearestScale2_640x480To1280x960)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
