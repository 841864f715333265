// The variant sweep shared by the transfer tests: every colour depth, kind of source, blend mode,
// blend parameter that matters, bright colour, blend image and transparency setting, each with a
// scene of seeded random images, and the comparison of a drawn destination with the reference.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Main/DxMemImg.h"
#include "Source/Library/Main/MemImgReference.h"
#include "Source/Library/Main/MemImgTestSupport.h"

namespace memimg_cases {

using memimg_test::ReadRaw;
using memimg_test::WriteRaw;
using ZiDaz::MEMIMG;

// Wide enough for the wide row loops to run on every variant.
constexpr int kSrcW = 19, kSrcH = 5, kDstW = 29, kDstH = 11;
constexpr int kBorderPosition = 64;
constexpr int kBorderRange = 127;
constexpr int kModes[] = {0, 1, 2, 3, 4, 10, 11};
constexpr int kParams[] = {0, 1, 128, 254, 255};
constexpr std::uint32_t kBrights[] = {0xFFFFFF, 0xAAFFFFFF, 0x00FE80C0, 0x000000};
// Transparency: off, on, asked for but the source does not use its transparent colour.
enum Transparency { kTransOff, kTransOn, kTransUnused };

struct Case {
    int colorType;
    int kind;
    int mode;
    int param;
    std::uint32_t bright;
    bool blend;
    Transparency trans;

    std::string Describe() const {
        std::ostringstream s;
        s << "type " << colorType << " kind " << kind << " mode " << mode << " param " << param
          << " bright 0x" << std::hex << bright << std::dec << " blend " << blend << " trans "
          << trans;
        return s.str();
    }
};

// Source, destination and blend image (a little larger than the source) of one case.
struct Scene {
    MEMIMG source{};
    MEMIMG dest{};
    MEMIMG blend{};
    std::vector<std::uint32_t> destStart;
    std::vector<std::uint32_t> palette;

    Scene(const Case& c, std::uint32_t seed, int dstW = kDstW, int dstH = kDstH) {
        std::mt19937 rng(seed);
        memimg_test::MakeRandomImage(source, kSrcW, kSrcH, c.colorType, c.kind == 1, c.kind == 2,
                                     rng);
        memimg_test::MakeRandomImage(dest, dstW, dstH, c.colorType, 0, 0, rng);
        memimg_test::MakeRandomImage(blend, kSrcW + 1, kSrcH + 1, 2, 0, 0, rng);
        // Make the transparent colour common: a quarter of the source's pixels carry it.
        const std::uint32_t key = ReadRaw(source, 1, 1);
        source.Shared->TransColor = key;
        for (int y = 0; y < kSrcH; ++y) {
            for (int x = 0; x < kSrcW; ++x) {
                if (rng() % 4 == 0) WriteRaw(source, x, y, key);
            }
        }
        source.Shared->UseTransColor = c.trans == kTransUnused ? 0 : 1;
        destStart = memimg_test::Snapshot(dest);
        palette = memimg_test::PaletteOf(source);
    }
    ~Scene() {
        ZiDaz::ReleaseMemImg(&source);
        ZiDaz::ReleaseMemImg(&dest);
        ZiDaz::ReleaseMemImg(&blend);
    }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;
    void ResetDest() {
        for (int y = 0; y < dest.Height; ++y) {
            for (int x = 0; x < dest.Width; ++x) {
                WriteRaw(dest, x, y, destStart[y * dest.Width + x]);
            }
        }
    }
};

// Sets the draw area, blend mode, parameter and bright colour of a case.
inline void UseDrawState(const Case& c, const RECT& area) {
    ZiDaz::SetMemImgDrawArea(&area);
    ZiDaz::SetMemImgBlendMode(c.mode, c.param);
    ZiDaz::SetMemImgDrawBright(c.bright);
}

inline memimg_ref::Draw DrawOf(const Case& c, const Scene& scene, bool alphaCopiesWhole,
                               bool keyedClearAlphaMultiplies = false) {
    return memimg_ref::Draw{c.colorType,
                            c.kind,
                            c.mode,
                            c.param,
                            c.bright,
                            c.blend,
                            c.trans == kTransOn,
                            scene.source.Shared->TransColor,
                            alphaCopiesWhole,
                            keyedClearAlphaMultiplies};
}

// Compares the destination with the reference: a destination pixel for which sourceOf gives a
// source position inside the draw area takes the reference blend, every other keeps its value.
inline ::testing::AssertionResult MatchesReference(
    const Scene& scene, const memimg_ref::Draw& draw, const RECT& area,
    const std::function<bool(int, int, int*, int*)>& sourceOf) {
    for (int y = 0; y < scene.dest.Height; ++y) {
        for (int x = 0; x < scene.dest.Width; ++x) {
            std::uint32_t expected = scene.destStart[y * scene.dest.Width + x];
            int sx, sy;
            if (x >= area.left && x < area.right && y >= area.top && y < area.bottom &&
                sourceOf(x, y, &sx, &sy)) {
                const std::uint32_t q = memimg_ref::BlendWeight(
                    kBorderPosition, kBorderRange, static_cast<int>(ReadRaw(scene.blend, sx, sy)));
                expected = memimg_ref::BlendPixel(draw, ReadRaw(scene.source, sx, sy),
                                                  scene.palette.data(), q, expected);
            }
            const std::uint32_t actual = ReadRaw(scene.dest, x, y);
            if (actual != expected) {
                std::ostringstream text;
                text << "pixel (" << x << ", " << y << "): 0x" << std::hex << actual
                     << ", expected 0x" << expected;
                return ::testing::AssertionFailure() << text.str();
            }
        }
    }
    return ::testing::AssertionSuccess();
}

inline std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (int ct = 0; ct < 2; ++ct) {
        for (int kind = 0; kind < 3; ++kind) {
            for (int mode : kModes) {
                for (int param : kParams) {
                    for (std::uint32_t bright : kBrights) {
                        for (int blend = 0; blend < 2; ++blend) {
                            for (int trans = 0; trans < 3; ++trans) {
                                cases.push_back(Case{ct, kind, mode, param, bright, blend != 0,
                                                     static_cast<Transparency>(trans)});
                            }
                        }
                    }
                }
            }
        }
    }
    return cases;
}

}  // namespace memimg_cases
