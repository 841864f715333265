// The rotated transfer: 500 turned and scaled 64 x 64 sprites drawn into a 640 x 480 image per
// iteration, at seeded random centres, angles and scales (0.5 to 2), in the settings that games
// use most: colour-keyed copies, alpha sprites, translucent and additive draws, in 32 and 16 bits.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DxMemImg.h"

using namespace ZiDaz;

namespace {

constexpr int kSprites = 500;
constexpr int kSpriteSize = 64;

struct Placement {
    int x, y;
    float angle, scale;
};

void FillRandom(MEMIMG& image, std::mt19937& rng) {
    const int bytes = MemImgBytesPerPixel(image.Shared);
    for (int y = 0; y < image.Height; ++y) {
        std::uint8_t* row = image.Pixels + static_cast<std::ptrdiff_t>(y) * image.Shared->Pitch;
        for (int i = 0; i < image.Width * bytes; ++i) row[i] = static_cast<std::uint8_t>(rng());
    }
}

// colorType, alpha source, blend mode, parameter, transparency.
void BM_RotatedSprites(benchmark::State& state) {
    const int colorType = static_cast<int>(state.range(0));
    const int alpha = static_cast<int>(state.range(1));
    const int mode = static_cast<int>(state.range(2));
    const int param = static_cast<int>(state.range(3));
    const int trans = static_cast<int>(state.range(4));
    InitMemImgModule();
    std::mt19937 rng(2024);
    MEMIMG dest{}, sprite{};
    SetupMemImg(&dest, 640, 480, -1, 0, colorType, 0, 0, 0, nullptr);
    SetupMemImg(&sprite, kSpriteSize, kSpriteSize, -1, 0, colorType, 0, alpha, 0, nullptr);
    FillRandom(dest, rng);
    FillRandom(sprite, rng);
    // A quarter of the sprite is transparent, as a sprite's surround is.
    for (int y = 0; y < kSpriteSize; ++y) {
        for (int x = 0; x < kSpriteSize / 4; ++x) {
            std::memset(
                sprite.Pixels + y * sprite.Shared->Pitch + x * MemImgBytesPerPixel(sprite.Shared),
                0, static_cast<std::size_t>(MemImgBytesPerPixel(sprite.Shared)));
        }
    }
    sprite.Shared->TransColor = 0;
    std::vector<Placement> placements;
    std::uniform_real_distribution<float> angle(0.0f, 6.2831853f), scale(0.5f, 2.0f);
    for (int i = 0; i < kSprites; ++i) {
        placements.push_back(Placement{static_cast<int>(rng() % 640), static_cast<int>(rng() % 480),
                                       angle(rng), scale(rng)});
    }
    const RECT area{0, 0, 640, 480};
    SetMemImgDrawArea(&area);
    SetMemImgBlendMode(mode, param);
    SetMemImgDrawBright(0xFFFFFF);
    for (auto _ : state) {
        for (const Placement& p : placements) {
            DrawMemImgRotated(&dest, &sprite, p.x, p.y, p.angle, p.scale, p.scale, trans, 0, 0,
                              nullptr);
        }
        benchmark::DoNotOptimize(dest.Pixels[0]);
    }
    state.SetItemsProcessed(state.iterations() * kSprites);
    ReleaseMemImg(&sprite);
    ReleaseMemImg(&dest);
}

BENCHMARK(BM_RotatedSprites)
    ->ArgNames({"type", "alpha", "mode", "param", "key"})
    ->Args({1, 0, DX_BLEND_NONE, 255, 1})
    ->Args({1, 1, DX_BLEND_NONE, 255, 1})
    ->Args({1, 0, DX_BLEND_ALPHA, 128, 0})
    ->Args({1, 0, DX_BLEND_ADD, 200, 1})
    ->Args({0, 0, DX_BLEND_NONE, 255, 1})
    ->Args({0, 1, DX_BLEND_ALPHA, 128, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
