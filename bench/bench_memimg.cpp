// The software renderer's transfers against pixman's nearest equivalents, and the opaque copy
// against memcpy of the same bytes, on a 640 x 480 32-bit screen.
//
//   opaque copy        DrawMemImg, DX_BLEND_NONE          pixman SRC x8r8g8b8 -> x8r8g8b8
//   colour-keyed copy  DrawMemImg with the transparent    pixman OVER a8r8g8b8 whose key pixels
//                      colour                             have alpha 0 and the rest alpha 255
//   500 alpha sprites  DrawMemImg, alpha source 32 x 32   pixman OVER premultiplied a8r8g8b8
//                      with transparency
//   stretch            DrawMemImgStretched 320 x 240      pixman SRC, NEAREST filter, scale 2
//                      into 640 x 480
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DxMemImg.h"

using namespace ZiDaz;

namespace {

constexpr int kW = 640;
constexpr int kH = 480;
constexpr int kSprite = 32;
constexpr int kSpriteCount = 500;
constexpr std::uint32_t kKey = 0x00FF00FF;

struct Scene {
    MEMIMG screen{}, picture{}, keyed{}, sprite{}, small{};
    std::vector<std::uint32_t> keyedPremultiplied;   // the keyed picture for pixman
    std::vector<std::uint32_t> spritePremultiplied;  // the sprite for pixman
    std::vector<std::pair<int, int>> positions;
    pixman_image_t* pScreen = nullptr;
    pixman_image_t* pPicture = nullptr;
    pixman_image_t* pKeyed = nullptr;
    pixman_image_t* pSprite = nullptr;
    pixman_image_t* pSmall = nullptr;

    Scene() {
        InitMemImgModule();
        std::mt19937 rng(42);
        SetupMemImgDefault(&screen, kW, kH, 1);
        SetupMemImgDefault(&picture, kW, kH, 1);
        SetupMemImgDefault(&keyed, kW, kH, 1);
        SetupMemImgDefault(&small, kW / 2, kH / 2, 1);
        SetupMemImg(&sprite, kSprite, kSprite, -1, 0, 1, 0, 1, 0, nullptr);
        keyed.Shared->TransColor = kKey;
        auto row = [](const MEMIMG& m, int y) {
            return reinterpret_cast<std::uint32_t*>(m.Pixels + y * m.Shared->Pitch);
        };
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                row(screen, y)[x] = rng() & 0xFFFFFF;
                row(picture, y)[x] = rng() & 0xFFFFFF;
            }
            // A map layer: runs of 1 to 32 pixels, alternately drawn and transparent.
            int x = 0;
            bool solid = (rng() & 1) != 0;
            while (x < kW) {
                const int run = 1 + static_cast<int>(rng() % 32);
                for (int i = 0; i < run && x < kW; ++i, ++x) {
                    row(keyed, y)[x] = solid ? (rng() & 0xFFFFFF) | 0x010000 : kKey;
                    keyedPremultiplied.push_back(solid ? row(keyed, y)[x] | 0xFF000000u : 0u);
                }
                solid = !solid;
            }
        }
        for (int y = 0; y < kH / 2; ++y) {
            for (int x = 0; x < kW / 2; ++x) row(small, y)[x] = rng() & 0xFFFFFF;
        }
        // A round sprite: opaque inside, a soft rim, transparent corners.
        for (int y = 0; y < kSprite; ++y) {
            for (int x = 0; x < kSprite; ++x) {
                const int dx = 2 * x - kSprite + 1;
                const int dy = 2 * y - kSprite + 1;
                const int r2 = dx * dx + dy * dy;
                const std::uint32_t a = r2 < 26 * 26 ? 255u : r2 < 32 * 32 ? 128u : 0u;
                const std::uint32_t c = rng() & 0xFFFFFF;
                row(sprite, y)[x] = a << 24 | c;
                std::uint32_t pm = a << 24;
                for (int s = 0; s < 24; s += 8) pm |= (((c >> s) & 0xFF) * a / 255) << s;
                spritePremultiplied.push_back(pm);
            }
        }
        for (int i = 0; i < kSpriteCount; ++i) {
            positions.emplace_back(static_cast<int>(rng() % (kW + kSprite)) - kSprite / 2,
                                   static_cast<int>(rng() % (kH + kSprite)) - kSprite / 2);
        }
        const RECT area{0, 0, kW, kH};
        SetMemImgDrawArea(&area);
        SetMemImgBlendMode(DX_BLEND_NONE, 255);
        SetMemImgDrawBright(0xFFFFFF);

        auto wrap = [](pixman_format_code_t f, const MEMIMG& m) {
            return pixman_image_create_bits(
                f, m.Width, m.Height, reinterpret_cast<std::uint32_t*>(m.Pixels), m.Shared->Pitch);
        };
        pScreen = wrap(PIXMAN_x8r8g8b8, screen);
        pPicture = wrap(PIXMAN_x8r8g8b8, picture);
        pSmall = wrap(PIXMAN_x8r8g8b8, small);
        pKeyed =
            pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, keyedPremultiplied.data(), kW * 4);
        pSprite = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSprite, kSprite,
                                           spritePremultiplied.data(), kSprite * 4);
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_double_to_fixed(0.5),
                                    pixman_double_to_fixed(0.5));
        pixman_image_set_transform(pSmall, &scale);
        pixman_image_set_filter(pSmall, PIXMAN_FILTER_NEAREST, nullptr, 0);
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void SetPixels(benchmark::State& state, std::int64_t pixelsPerIteration) {
    state.SetItemsProcessed(state.iterations() * pixelsPerIteration);
}

void BM_OpaqueCopy_Ours(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        DrawMemImg(&s.screen, &s.picture, 0, 0, 0, nullptr);
        benchmark::ClobberMemory();
    }
    SetPixels(state, kW * kH);
}
void BM_OpaqueCopy_Memcpy(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        std::memcpy(s.screen.Pixels, s.picture.Pixels,
                    static_cast<std::size_t>(s.screen.Shared->Pitch) * kH);
        benchmark::ClobberMemory();
    }
    SetPixels(state, kW * kH);
}
void BM_OpaqueCopy_Pixman(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, s.pPicture, nullptr, s.pScreen, 0, 0, 0, 0, 0, 0,
                                 kW, kH);
        benchmark::ClobberMemory();
    }
    SetPixels(state, kW * kH);
}

void BM_KeyedCopy_Ours(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        DrawMemImg(&s.screen, &s.keyed, 0, 0, 1, nullptr);
        benchmark::ClobberMemory();
    }
    SetPixels(state, kW * kH);
}
void BM_KeyedCopy_Pixman(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, s.pKeyed, nullptr, s.pScreen, 0, 0, 0, 0, 0, 0, kW,
                                 kH);
        benchmark::ClobberMemory();
    }
    SetPixels(state, kW * kH);
}

void BM_AlphaSprites_Ours(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        for (const auto& [x, y] : s.positions) DrawMemImg(&s.screen, &s.sprite, x, y, 1, nullptr);
        benchmark::ClobberMemory();
    }
    SetPixels(state, kSpriteCount * kSprite * kSprite);
}
void BM_AlphaSprites_Pixman(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        for (const auto& [x, y] : s.positions) {
            pixman_image_composite32(PIXMAN_OP_OVER, s.pSprite, nullptr, s.pScreen, 0, 0, 0, 0, x,
                                     y, kSprite, kSprite);
        }
        benchmark::ClobberMemory();
    }
    SetPixels(state, kSpriteCount * kSprite * kSprite);
}

// Beyond the brief: a whole picture at half opacity (DX_BLEND_ALPHA 128) against pixman OVER
// through a constant mask of 128.
void BM_HalfOpacity_Ours(benchmark::State& state) {
    Scene& s = TheScene();
    SetMemImgBlendMode(DX_BLEND_ALPHA, 128);
    for (auto _ : state) {
        DrawMemImg(&s.screen, &s.picture, 0, 0, 0, nullptr);
        benchmark::ClobberMemory();
    }
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    SetPixels(state, kW * kH);
}
void BM_HalfOpacity_Pixman(benchmark::State& state) {
    Scene& s = TheScene();
    const pixman_color_t half{0x8080, 0x8080, 0x8080, 0x8080};
    pixman_image_t* mask = pixman_image_create_solid_fill(&half);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, s.pPicture, mask, s.pScreen, 0, 0, 0, 0, 0, 0, kW,
                                 kH);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(mask);
    SetPixels(state, kW * kH);
}

void BM_Stretch_Ours(benchmark::State& state) {
    Scene& s = TheScene();
    const RECT r{0, 0, kW, kH};
    for (auto _ : state) {
        DrawMemImgStretched(&s.screen, &s.small, &r, 0, nullptr);
        benchmark::ClobberMemory();
    }
    SetPixels(state, kW * kH);
}
void BM_Stretch_Pixman(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, s.pSmall, nullptr, s.pScreen, 0, 0, 0, 0, 0, 0, kW,
                                 kH);
        benchmark::ClobberMemory();
    }
    SetPixels(state, kW * kH);
}

BENCHMARK(BM_OpaqueCopy_Ours);
BENCHMARK(BM_OpaqueCopy_Memcpy);
BENCHMARK(BM_OpaqueCopy_Pixman);
BENCHMARK(BM_KeyedCopy_Ours);
BENCHMARK(BM_KeyedCopy_Pixman);
BENCHMARK(BM_AlphaSprites_Ours);
BENCHMARK(BM_AlphaSprites_Pixman);
BENCHMARK(BM_HalfOpacity_Ours);
BENCHMARK(BM_HalfOpacity_Pixman);
BENCHMARK(BM_Stretch_Ours);
BENCHMARK(BM_Stretch_Pixman);

}  // namespace

BENCHMARK_MAIN();
