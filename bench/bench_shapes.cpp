// The software renderer's triangles and shapes on a 640x480 image: 10,000 textured triangles
// (each half of a 32x32 sprite mapped onto a 32x32 square) and 1,000 filled circles of radius 20
// per iteration, at seeded random positions.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DxMemImg.h"

using namespace ZiDaz;

namespace {

constexpr int kScreenW = 640, kScreenH = 480, kSprite = 32;

struct Scene {
    MEMIMG screen{};
    MEMIMG sprite{};
    std::vector<MemImgTriangleVertex> triangles;  // three vertices each
    std::vector<MemImgPoint> centres;

    Scene(int colorType, int alpha) {
        InitMemImgModule();
        SetupMemImg(&screen, kScreenW, kScreenH, -1, 0, colorType, 0, 0, 0, nullptr);
        SetupMemImg(&sprite, kSprite, kSprite, -1, 0, colorType, 0, alpha, 0, nullptr);
        std::mt19937 rng(42);
        const int bytes = MemImgBytesPerPixel(sprite.Shared);
        for (int y = 0; y < kSprite; ++y) {
            for (int x = 0; x < kSprite; ++x) {
                std::uint32_t v = rng();
                if (alpha != 0) v = (v & 0xFFFFFF) | ((x * 8u) << 24);
                std::memcpy(sprite.Pixels + y * sprite.Shared->Pitch + x * bytes, &v, bytes);
            }
        }
        FillMemImgRect(&screen, nullptr, 0x203040);
        for (int i = 0; i < 5000; ++i) {
            const int x = static_cast<int>(rng() % (kScreenW - kSprite));
            const int y = static_cast<int>(rng() % (kScreenH - kSprite));
            const MemImgTriangleVertex tl{x, y, 0, 0}, tr{x + kSprite, y, kSprite, 0},
                bl{x, y + kSprite, 0, kSprite}, br{x + kSprite, y + kSprite, kSprite, kSprite};
            triangles.insert(triangles.end(), {tl, tr, bl, tr, bl, br});
        }
        for (int i = 0; i < 1000; ++i) {
            centres.push_back(MemImgPoint{static_cast<std::int32_t>(rng() % kScreenW),
                                          static_cast<std::int32_t>(rng() % kScreenH)});
        }
        const RECT area{0, 0, kScreenW, kScreenH};
        SetMemImgDrawArea(&area);
        SetMemImgDrawBright(0xFFFFFF);
    }
    ~Scene() {
        ReleaseMemImg(&screen);
        ReleaseMemImg(&sprite);
    }
};

// 10,000 textured triangles per iteration.
void BM_TexturedTriangles(benchmark::State& state) {
    const int colorType = static_cast<int>(state.range(0));
    const int mode = static_cast<int>(state.range(1));
    const int alpha = static_cast<int>(state.range(2));
    Scene scene(colorType, alpha);
    SetMemImgBlendMode(mode, 128);
    for (auto _ : state) {
        for (std::size_t i = 0; i < scene.triangles.size(); i += 3) {
            DrawMemImgTriangle(&scene.screen, &scene.sprite, &scene.triangles[i], alpha, nullptr,
                               0);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() *
                            static_cast<std::int64_t>(scene.triangles.size() / 3));
}
BENCHMARK(BM_TexturedTriangles)
    ->ArgNames({"type", "mode", "alpha"})
    ->Args({1, DX_BLEND_NONE, 0})
    ->Args({1, DX_BLEND_NONE, 1})
    ->Args({1, DX_BLEND_ALPHA, 0})
    ->Args({0, DX_BLEND_NONE, 0})
    ->Args({0, DX_BLEND_ADD, 0})
    ->Unit(benchmark::kMillisecond);

// 1,000 filled circles of radius 20 per iteration.
void BM_FilledCircles(benchmark::State& state) {
    const int colorType = static_cast<int>(state.range(0));
    const int mode = static_cast<int>(state.range(1));
    Scene scene(colorType, 0);
    SetMemImgBlendMode(mode, 128);
    for (auto _ : state) {
        for (const MemImgPoint& c : scene.centres) {
            DrawMemImgCircle(&scene.screen, c.x, c.y, 20, 0x00C08040, 1, 0, 0);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(scene.centres.size()));
}
BENCHMARK(BM_FilledCircles)
    ->ArgNames({"type", "mode"})
    ->Args({1, DX_BLEND_NONE})
    ->Args({1, DX_BLEND_ALPHA})
    ->Args({0, DX_BLEND_NONE})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
