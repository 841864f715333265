// A synthetic map scene drawn through the drawing front end of a running library (software screen
// of 640 x 480 at 32 bits over SDL's dummy video driver) against the same composites made with
// pixman on a buffer of the same size:
//
//   three layers of 20 x 15 tiles of 32 x 32   PutGraph of tiles cut from a tile set; the first
//                                               layer opaque, the two above with the transparent
//                                               colour (pixman SRC, then OVER of premultiplied
//                                               tiles whose key pixels have alpha 0)
//   50 characters of 32 x 48 with alpha         PutGraph with transparency (pixman OVER)
//   20 pictures                                 10 PutGraphRotatedF and 10 PutGraphStretched, in
//                                               DX_BLEND_ALPHA 160 and DX_BLEND_ADD 128 by turns
//                                               (pixman OVER and ADD through a constant mask,
//                                               nearest filter, affine transform)
//   a message window box                        PutGraphStretched of a 32 x 32 skin to 600 x 120
//                                               in DX_BLEND_ALPHA 192 and its one-pixel outline
//                                               (pixman OVER through a mask, then four fills)
//
// Compare the two times: the goal is the front end at least as fast as pixman, within 1 ms.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace {

using namespace ZiDaz;

constexpr int kW = 640, kH = 480, kTile = 32, kCols = 20, kRows = 15;
constexpr int kCharW = 32, kCharH = 48, kPicture = 96;

struct Picture {
    bool rotated;
    int mode, param;
    float x, y, scale, angle;  // rotated: centre, scale, angle
    int x1, y1, x2, y2;        // stretched
    int index;
};

// The pixels of one source image, straight and premultiplied.
struct Pixels {
    int w = 0, h = 0;
    std::vector<std::uint32_t> argb, premultiplied;
};

Pixels MakePixels(int w, int h, unsigned seed, int alphaKind) {
    // alphaKind 0 opaque, 1 keyed (black pixels transparent), 2 soft alpha.
    std::mt19937 rng(seed);
    Pixels p;
    p.w = w;
    p.h = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint32_t c = (rng() & 0xFFFFFF) | 0x010101;
            std::uint32_t a = 255;
            if (alphaKind == 1 && ((x / 4 + y / 4) % 3 == 0)) {
                c = 0;
                a = 0;
            }
            if (alphaKind == 2) {
                const int dx = 2 * x - w + 1, dy = 2 * y - h + 1;
                const int r2 = dx * dx * 4 / 3 + dy * dy * 3 / 4;
                a = r2 < 26 * 26 ? 255u : r2 < 32 * 32 ? 128u : 0u;
            }
            p.argb.push_back(a << 24 | c);
            std::uint32_t pm = a << 24;
            for (int s = 0; s < 24; s += 8) pm |= (((c >> s) & 0xFF) * a / 255) << s;
            p.premultiplied.push_back(pm);
        }
    return p;
}

HandleValue GraphOf(const Pixels& p, bool alpha) {
    BASEIMAGE image{};
    if ((alpha ? NewBaseImageArgb8(p.w, p.h, &image) : NewBaseImageXrgb8(p.w, p.h, &image)) != 0)
        return -1;
    for (int y = 0; y < p.h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(image.Pixels) +
                                                     static_cast<std::ptrdiff_t>(y) * image.Pitch);
        for (int x = 0; x < p.w; ++x) row[x] = p.argb[static_cast<std::size_t>(y) * p.w + x];
    }
    HandleValue g = CreateGraphFromBaseImage(&image);
    DisposeBaseImage(&image);
    return g;
}

pixman_image_t* PixmanOf(Pixels& p) {
    return pixman_image_create_bits(PIXMAN_a8r8g8b8, p.w, p.h, p.premultiplied.data(), p.w * 4);
}

struct Scene {
    Pixels ground, upper, chars, skin, pictures[4];
    HandleValue groundTiles[64], upperTiles[64], charCells[12], skinGraph, pictureGraphs[4];
    int layers[3][kRows][kCols];
    std::vector<std::pair<int, int>> charPositions;
    std::vector<int> charCellOf;
    std::vector<Picture> pics;
    // pixman's side.
    std::vector<std::uint32_t> buffer;
    pixman_image_t *pScreen, *pGround, *pUpper, *pChars, *pSkin, *pPictures[4];
    pixman_image_t *mask160, *mask128, *mask192;

    bool Build() {
        std::mt19937 rng(7);
        ground = MakePixels(256, 256, 1, 0);
        upper = MakePixels(256, 256, 2, 1);
        chars = MakePixels(kCharW * 3, kCharH * 4, 3, 2);
        skin = MakePixels(32, 32, 4, 0);
        for (int i = 0; i < 4; ++i) pictures[i] = MakePixels(kPicture, kPicture, 10 + i, 0);
        SetTransparentColor(0, 0, 0);
        const HandleValue groundSet = GraphOf(ground, false), upperSet = GraphOf(upper, false);
        const HandleValue charSet = GraphOf(chars, true);
        skinGraph = GraphOf(skin, false);
        if (groundSet < 0 || upperSet < 0 || charSet < 0 || skinGraph < 0) return false;
        for (int i = 0; i < 64; ++i) {
            groundTiles[i] =
                DeriveGraphFromRect(i % 8 * kTile, i / 8 * kTile, kTile, kTile, groundSet);
            upperTiles[i] =
                DeriveGraphFromRect(i % 8 * kTile, i / 8 * kTile, kTile, kTile, upperSet);
        }
        for (int i = 0; i < 12; ++i)
            charCells[i] =
                DeriveGraphFromRect(i % 3 * kCharW, i / 3 * kCharH, kCharW, kCharH, charSet);
        for (int i = 0; i < 4; ++i) pictureGraphs[i] = GraphOf(pictures[i], false);
        for (auto& layer : layers)
            for (auto& row : layer)
                for (int& t : row) t = static_cast<int>(rng() % 64);
        for (int i = 0; i < 50; ++i) {
            charPositions.emplace_back(static_cast<int>(rng() % (kW - kCharW)),
                                       static_cast<int>(rng() % (kH - kCharH)));
            charCellOf.push_back(static_cast<int>(rng() % 12));
        }
        for (int i = 0; i < 20; ++i) {
            Picture p{};
            p.rotated = i % 2 == 0;
            p.mode = i % 4 < 2 ? DX_BLEND_ALPHA : DX_BLEND_ADD;
            p.param = p.mode == DX_BLEND_ALPHA ? 160 : 128;
            p.index = i % 4;
            p.x = static_cast<float>(60 + rng() % (kW - 120));
            p.y = static_cast<float>(60 + rng() % (kH - 120));
            p.scale = 0.8f + static_cast<float>(rng() % 70) / 100.0f;
            p.angle = static_cast<float>(rng() % 628) / 100.0f;
            p.x1 = static_cast<int>(rng() % (kW - 160));
            p.y1 = static_cast<int>(rng() % (kH - 120));
            p.x2 = p.x1 + 80 + static_cast<int>(rng() % 80);
            p.y2 = p.y1 + 60 + static_cast<int>(rng() % 60);
            pics.push_back(p);
        }
        buffer.assign(static_cast<std::size_t>(kW) * kH, 0xFF000000u);
        pScreen = pixman_image_create_bits(PIXMAN_x8r8g8b8, kW, kH, buffer.data(), kW * 4);
        pGround = PixmanOf(ground);
        pUpper = PixmanOf(upper);
        pChars = PixmanOf(chars);
        pSkin = PixmanOf(skin);
        for (int i = 0; i < 4; ++i) {
            pPictures[i] = PixmanOf(pictures[i]);
            pixman_image_set_filter(pPictures[i], PIXMAN_FILTER_NEAREST, nullptr, 0);
        }
        pixman_image_set_filter(pSkin, PIXMAN_FILTER_NEAREST, nullptr, 0);
        auto solid = [](int a) {
            const pixman_color_t c{0, 0, 0, static_cast<std::uint16_t>(a * 257)};
            return pixman_image_create_solid_fill(&c);
        };
        mask160 = solid(160);
        mask128 = solid(128);
        mask192 = solid(192);
        return true;
    }
};

Scene* gScene = nullptr;

void DrawOurs(Scene& s) {
    SelectBlendMode(DX_BLEND_NONE, 255);
    for (int layer = 0; layer < 3; ++layer) {
        const HandleValue* tiles = layer == 0 ? s.groundTiles : s.upperTiles;
        for (int ty = 0; ty < kRows; ++ty)
            for (int tx = 0; tx < kCols; ++tx)
                PutGraph(tx * kTile, ty * kTile, tiles[s.layers[layer][ty][tx]],
                         layer == 0 ? 0 : 1);
    }
    for (std::size_t i = 0; i < s.charPositions.size(); ++i)
        PutGraph(s.charPositions[i].first, s.charPositions[i].second, s.charCells[s.charCellOf[i]],
                 1);
    for (const Picture& p : s.pics) {
        SelectBlendMode(p.mode, p.param);
        if (p.rotated)
            PutGraphRotatedF(p.x, p.y, p.scale, p.angle, s.pictureGraphs[p.index], 0, 0, 0);
        else
            PutGraphStretched(p.x1, p.y1, p.x2, p.y2, s.pictureGraphs[p.index], 0);
    }
    SelectBlendMode(DX_BLEND_ALPHA, 192);
    PutGraphStretched(20, 350, 620, 470, s.skinGraph, 0);
    SelectBlendMode(DX_BLEND_NONE, 255);
    PaintBoxOutline(20, 350, 620, 470, ComposeScreenColor(255, 255, 255));
}

void Affine(pixman_image_t* image, double a, double b, double c, double d, double e, double f) {
    pixman_transform_t t{};
    t.matrix[0][0] = pixman_double_to_fixed(a);
    t.matrix[0][1] = pixman_double_to_fixed(b);
    t.matrix[0][2] = pixman_double_to_fixed(c);
    t.matrix[1][0] = pixman_double_to_fixed(d);
    t.matrix[1][1] = pixman_double_to_fixed(e);
    t.matrix[1][2] = pixman_double_to_fixed(f);
    t.matrix[2][2] = pixman_fixed_1;
    pixman_image_set_transform(image, &t);
}

void DrawPixman(Scene& s) {
    for (int layer = 0; layer < 3; ++layer) {
        pixman_image_t* set = layer == 0 ? s.pGround : s.pUpper;
        const pixman_op_t op = layer == 0 ? PIXMAN_OP_SRC : PIXMAN_OP_OVER;
        for (int ty = 0; ty < kRows; ++ty)
            for (int tx = 0; tx < kCols; ++tx) {
                const int t = s.layers[layer][ty][tx];
                pixman_image_composite32(op, set, nullptr, s.pScreen, t % 8 * kTile, t / 8 * kTile,
                                         0, 0, tx * kTile, ty * kTile, kTile, kTile);
            }
    }
    for (std::size_t i = 0; i < s.charPositions.size(); ++i) {
        const int c = s.charCellOf[i];
        pixman_image_composite32(PIXMAN_OP_OVER, s.pChars, nullptr, s.pScreen, c % 3 * kCharW,
                                 c / 3 * kCharH, 0, 0, s.charPositions[i].first,
                                 s.charPositions[i].second, kCharW, kCharH);
    }
    for (const Picture& p : s.pics) {
        pixman_image_t* src = s.pPictures[p.index];
        pixman_image_t* mask = p.mode == DX_BLEND_ALPHA ? s.mask160 : s.mask128;
        const pixman_op_t op = p.mode == DX_BLEND_ALPHA ? PIXMAN_OP_OVER : PIXMAN_OP_ADD;
        if (p.rotated) {
            const double c = std::cos(p.angle) / p.scale, sn = std::sin(p.angle) / p.scale;
            const double half = kPicture / 2.0;
            Affine(src, c, sn, -(c * p.x + sn * p.y) + half, -sn, c, sn * p.x - c * p.y + half);
            const int reach = static_cast<int>(half * p.scale * 1.5) + 2;
            int x0 = static_cast<int>(p.x) - reach, y0 = static_cast<int>(p.y) - reach;
            pixman_image_composite32(op, src, mask, s.pScreen, x0, y0, 0, 0, x0, y0, 2 * reach,
                                     2 * reach);
        } else {
            const double sx = static_cast<double>(kPicture) / (p.x2 - p.x1);
            const double sy = static_cast<double>(kPicture) / (p.y2 - p.y1);
            Affine(src, sx, 0, -p.x1 * sx, 0, sy, -p.y1 * sy);
            pixman_image_composite32(op, src, mask, s.pScreen, p.x1, p.y1, 0, 0, p.x1, p.y1,
                                     p.x2 - p.x1, p.y2 - p.y1);
        }
    }
    Affine(s.pSkin, 32.0 / 600, 0, -20 * 32.0 / 600, 0, 32.0 / 120, -350 * 32.0 / 120);
    pixman_image_composite32(PIXMAN_OP_OVER, s.pSkin, s.mask192, s.pScreen, 20, 350, 0, 0, 20, 350,
                             600, 120);
    const pixman_color_t white{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    const pixman_rectangle16_t edges[4] = {
        {20, 350, 600, 1}, {20, 469, 600, 1}, {20, 351, 1, 118}, {619, 351, 1, 118}};
    pixman_image_fill_rectangles(PIXMAN_OP_SRC, s.pScreen, &white, 4, edges);
}

void BM_MapScene_FrontEnd(benchmark::State& state) {
    for (auto _ : state) {
        DrawOurs(*gScene);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MapScene_FrontEnd)->Unit(benchmark::kMicrosecond);

void BM_MapScene_Pixman(benchmark::State& state) {
    for (auto _ : state) {
        DrawPixman(*gScene);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MapScene_Pixman)->Unit(benchmark::kMicrosecond);

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
    SetDrawTarget(DX_TARGET_BACK_SCREEN);
    static Scene scene;
    if (!scene.Build()) {
        std::fprintf(stderr, "the scene's graphs could not be made\n");
        return 1;
    }
    gScene = &scene;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EndLibrary();
    return 0;
}
