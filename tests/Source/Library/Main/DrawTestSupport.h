// Shared by the drawing tests: graphs of known pixels, a blend graph, seeded target pixels and a
// copy of the target on which the same draw is made by calling the software renderer directly.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "GraphTestSupport.h"
#include "MemImgTestSupport.h"

namespace velk_draw_test {

using namespace ZiDaz;

// A graph of w x h patterned pixels; black (the transparent colour) here and there, and with
// alpha 0, 255 and values between when asked.
inline HandleValue MakePatternGraph(int w, int h, bool alpha, int seed) {
    BASEIMAGE image{};
    if ((alpha ? NewBaseImageArgb8(w, h, &image) : NewBaseImageXrgb8(w, h, &image)) != 0) return -1;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(image.Pixels) +
                                                     static_cast<std::ptrdiff_t>(y) * image.Pitch);
        for (int x = 0; x < w; ++x) {
            std::uint32_t c = static_cast<std::uint32_t>(
                ((x * 37 + y * 11 + seed * 5) & 0xFF) << 16 |
                ((x * 7 + y * 29 + seed) & 0xFF) << 8 | ((x * 3 + y * 5 + seed * 13) & 0xFF));
            if ((x * y + seed) % 7 == 3) c = 0;
            std::uint32_t a = 0xFF;
            if (alpha) {
                const int pick = (x + 2 * y + seed) % 4;
                a = pick == 0   ? 0u
                    : pick == 1 ? 255u
                                : static_cast<std::uint32_t>((x * 40 + y * 17) & 0xFF);
            }
            row[x] = c | a << 24;
        }
    }
    HandleValue g = CreateGraphFromBaseImage(&image);
    DisposeBaseImage(&image);
    return g;
}

// An 8-bit blend graph of w x h with a gradient.
inline HandleValue MakeBlendGraph(int w, int h) {
    GraphCreateParams p;
    InitGraphCreateParamsFromSettings(&p);
    p.BlendImage = 1;
    HandleValue g = CreateBlankGraph(&p, w, h, 0, 0, 8, 0, nullptr);
    if (g < 0) return g;
    MEMIMG& m = LookUpGraphRecord(g, 0)->Image->Image;
    for (int y = 0; y < m.Height; ++y)
        for (int x = 0; x < m.Width; ++x)
            m.Pixels[static_cast<std::ptrdiff_t>(y) * m.Shared->Pitch + x] =
                static_cast<std::uint8_t>((x * 23 + y * 41) & 0xFF);
    return g;
}

// Fills an image with seeded pixels.
inline void Scramble(MEMIMG& image, unsigned seed) {
    std::mt19937 rng(seed);
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            std::uint32_t v = rng();
            if (image.Shared->ColorType == 1) v &= 0xFFFFFF;
            memimg_test::WriteRaw(image, x, y,
                                  v & (image.Shared->ColorType == 1 ? 0xFFFFFFu : 0xFFFFu));
        }
}

// A copy of a target image on which the expected draw is made.
struct TargetCopy {
    MEMIMG image{};
    explicit TargetCopy(const MEMIMG& target) {
        SetupMemImgDefault(&image, target.Width, target.Height,
                           static_cast<int>(target.Shared->ColorType));
        CopyMemImgRect(&image, &target, nullptr, 0, 0);
    }
    ~TargetCopy() { ReleaseMemImg(&image); }
    TargetCopy(const TargetCopy&) = delete;
    TargetCopy& operator=(const TargetCopy&) = delete;
};

// The first differing pixel of two images of the same size, or success.
inline ::testing::AssertionResult SamePixels(const MEMIMG& actual, const MEMIMG& expected) {
    for (int y = 0; y < actual.Height; ++y)
        for (int x = 0; x < actual.Width; ++x) {
            const std::uint32_t a = memimg_test::ReadRaw(actual, x, y);
            const std::uint32_t e = memimg_test::ReadRaw(expected, x, y);
            if (a != e) {
                char text[96];
                std::snprintf(text, sizeof(text), "pixel (%d, %d): 0x%X, expected 0x%X", x, y, a,
                              e);
                return ::testing::AssertionFailure() << text;
            }
        }
    return ::testing::AssertionSuccess();
}

inline int CountChanged(const MEMIMG& image, const std::vector<std::uint32_t>& before) {
    std::vector<std::uint32_t> now = memimg_test::Snapshot(image);
    int n = 0;
    for (std::size_t i = 0; i < now.size(); ++i) n += now[i] != before[i];
    return n;
}

}  // namespace velk_draw_test
