// The colour filters and the graph blend in software against pixman's nearest operators, on a
// 640 x 480 32-bit graph:
//
//   Invert             SoftInvert                        pixman DIFFERENCE with solid white
//   Hsb                SoftHsb, absolute hue             pixman HSL_HUE with a solid colour
//   blend types        SoftBlendBasic at ratio 1, in     pixman's operator of the same name
//                      place (destination + blend ->     (blend image onto the destination)
//                      destination), the same memory
//                      traffic as pixman's composite
//
// Each pair reports items per second; the ratio is ours / pixman's time.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxGraphicsFilterPixels.h"

using namespace ZiDaz;

namespace {

constexpr int kW = 640;
constexpr int kH = 480;

struct Images {
    std::vector<std::uint32_t> source, blend, dest;
    pixman_image_t* pBlend = nullptr;
    pixman_image_t* pDest = nullptr;
    Images() : source(kW * kH), blend(kW * kH), dest(kW * kH) {
        if (BaseImageModuleState.Initialised == 0) InitBaseImageModule();
        std::mt19937 rng(7);
        for (auto& p : source) p = rng();
        for (auto& p : blend) p = rng();
        for (auto& p : dest) p = rng();
        // pixman's operators take premultiplied pixels: keep colours within alpha for it.
        for (auto& p : blend) p |= 0xFF000000u;
        pBlend = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, blend.data(), kW * 4);
        pDest = pixman_image_create_bits(PIXMAN_a8r8g8b8, kW, kH, dest.data(), kW * 4);
    }
    FilterPixelView View(std::vector<std::uint32_t>& v) {
        return FilterPixelView{reinterpret_cast<std::uint8_t*>(v.data()), kW * 4};
    }
};

Images& Shared() {
    static Images images;
    return images;
}

void Done(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kW * kH);
}

void OursInvert(benchmark::State& state) {
    Images& im = Shared();
    for (auto _ : state) {
        SoftInvert(im.View(im.source), im.View(im.dest), kW, kH, 0);
        benchmark::ClobberMemory();
    }
    Done(state);
}

void PixmanInvert(benchmark::State& state) {
    Images& im = Shared();
    pixman_color_t white{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    pixman_image_t* solid = pixman_image_create_solid_fill(&white);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_DIFFERENCE, solid, nullptr, im.pDest, 0, 0, 0, 0, 0, 0,
                                 kW, kH);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(solid);
    Done(state);
}

void OursHsb(benchmark::State& state) {
    Images& im = Shared();
    const HsbSetup setup = PrepareHsb(1, 120, 0, 0);
    for (auto _ : state) {
        SoftHsb(im.View(im.source), im.View(im.dest), kW, kH, 1, setup, 0);
        benchmark::ClobberMemory();
    }
    Done(state);
}

void PixmanHsb(benchmark::State& state) {
    Images& im = Shared();
    pixman_color_t green{0, 0xFFFF, 0, 0xFFFF};
    pixman_image_t* solid = pixman_image_create_solid_fill(&green);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_HSL_HUE, solid, nullptr, im.pDest, 0, 0, 0, 0, 0, 0, kW,
                                 kH);
        benchmark::ClobberMemory();
    }
    pixman_image_unref(solid);
    Done(state);
}

struct BlendPair {
    const char* name;
    int type;
    pixman_op_t op;
};

const BlendPair kPairs[] = {
    {"Multiple", 2, PIXMAN_OP_MULTIPLY},
    {"Difference", 3, PIXMAN_OP_DIFFERENCE},
    {"Add", 4, PIXMAN_OP_ADD},
    {"Screen", 5, PIXMAN_OP_SCREEN},
    {"Overlay", 6, PIXMAN_OP_OVERLAY},
    {"Dodge", 7, PIXMAN_OP_COLOR_DODGE},
    {"Burn", 8, PIXMAN_OP_COLOR_BURN},
    {"Darken", 9, PIXMAN_OP_DARKEN},
    {"Lighten", 10, PIXMAN_OP_LIGHTEN},
    {"SoftLight", 11, PIXMAN_OP_SOFT_LIGHT},
    {"HardLight", 12, PIXMAN_OP_HARD_LIGHT},
    {"Exclusion", 13, PIXMAN_OP_EXCLUSION},
};

void OursBlend(benchmark::State& state, int type) {
    Images& im = Shared();
    for (auto _ : state) {
        SoftBlendBasic(type, 1.0f, im.View(im.dest), im.View(im.blend), im.View(im.dest), kW, kH);
        benchmark::ClobberMemory();
    }
    Done(state);
}

void PixmanBlend(benchmark::State& state, pixman_op_t op) {
    Images& im = Shared();
    for (auto _ : state) {
        pixman_image_composite32(op, im.pBlend, nullptr, im.pDest, 0, 0, 0, 0, 0, 0, kW, kH);
        benchmark::ClobberMemory();
    }
    Done(state);
}

const int kRegistered = [] {
    benchmark::RegisterBenchmark("Invert/ours", OursInvert);
    benchmark::RegisterBenchmark("Invert/pixman", PixmanInvert);
    benchmark::RegisterBenchmark("Hsb/ours", OursHsb);
    benchmark::RegisterBenchmark("Hsb/pixman", PixmanHsb);
    for (const BlendPair& pair : kPairs) {
        benchmark::RegisterBenchmark((std::string("Blend") + pair.name + "/ours").c_str(),
                                     OursBlend, pair.type);
        benchmark::RegisterBenchmark((std::string("Blend") + pair.name + "/pixman").c_str(),
                                     PixmanBlend, pair.op);
    }
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();
