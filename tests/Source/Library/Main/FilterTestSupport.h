// Shared by the image filter tests: graphs made from ARGB8 pixel vectors and read back, and slow
// references of the Gaussian blur, the down-scaling and the YUV conversion written straight from
// their formulas.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "GraphTestSupport.h"
#include "Main/DxBaseFunc.h"
#include "Main/DxGraphicsFilter.h"

namespace velk_filter_test {

using namespace ZiDaz;

struct Pixels {
    int w = 0, h = 0;
    std::vector<std::uint32_t> p;  // 0xAARRGGBB, rows top first
    std::uint32_t& at(int x, int y) { return p[static_cast<std::size_t>(y) * w + x]; }
    std::uint32_t at(int x, int y) const { return p[static_cast<std::size_t>(y) * w + x]; }
};

inline Pixels RandomPixels(int w, int h, std::uint32_t seed) {
    std::mt19937 random(seed);
    Pixels out{w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h)};
    for (auto& v : out.p) v = random();
    return out;
}

inline Pixels Filled(int w, int h, std::uint32_t value) {
    return Pixels{w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h, value)};
}

inline HandleValue MakeGraph(const Pixels& px) {
    BASEIMAGE image{};
    if (NewBaseImageArgb8(px.w, px.h, &image) != 0) return -1;
    for (int y = 0; y < px.h; ++y)
        std::memcpy(
            static_cast<std::uint8_t*>(image.Pixels) + static_cast<std::ptrdiff_t>(y) * image.Pitch,
            px.p.data() + static_cast<std::size_t>(y) * px.w, static_cast<std::size_t>(px.w) * 4);
    const HandleValue graph = CreateGraphFromBaseImage(&image);
    DisposeBaseImage(&image);
    return graph;
}

inline Pixels ReadGraph(HandleValue graph) {
    BASEIMAGE image{};
    Pixels out;
    if (ReadGraphRectToBaseImage(graph, &image, nullptr) != 0) return out;
    out.w = image.Width;
    out.h = image.Height;
    out.p.resize(static_cast<std::size_t>(out.w) * out.h);
    for (int y = 0; y < out.h; ++y)
        std::memcpy(
            out.p.data() + static_cast<std::size_t>(y) * out.w,
            static_cast<std::uint8_t*>(image.Pixels) + static_cast<std::ptrdiff_t>(y) * image.Pitch,
            static_cast<std::size_t>(out.w) * 4);
    DisposeBaseImage(&image);
    return out;
}

inline Pixels SubRect(const Pixels& px, int x1, int y1, int x2, int y2) {
    Pixels out{x2 - x1, y2 - y1, {}};
    for (int y = y1; y < y2; ++y)
        for (int x = x1; x < x2; ++x) out.p.push_back(px.at(x, y));
    return out;
}

inline void Paste(Pixels& into, const Pixels& part, int dx, int dy) {
    for (int y = 0; y < part.h; ++y)
        for (int x = 0; x < part.w; ++x) into.at(dx + x, dy + y) = part.at(x, y);
}

inline int Byte(std::uint32_t v, int c) {
    return static_cast<int>(v >> (8 * c) & 0xFF);
}

// The Gaussian blur exactly as specified: the kernel from ComputeExpFloat, 16.16 weights, paired
// taps at half weight, edge pixels repeated.
inline Pixels ReferenceGauss(const Pixels& in, int requestedWidth, int strengthArg) {
    const int width = requestedWidth <= 8 ? 8 : requestedWidth <= 16 ? 16 : 32;
    const int n = width / 2;
    const float strength = static_cast<float>(strengthArg) / 100.0f;
    if (strength < 0.0000001f) return in;
    const float v = std::max(0.0000000001f, strength);
    float weight[16];
    for (int j = 0; j < n; ++j) weight[j] = ComputeExpFloat(static_cast<float>(j * j) * -0.5f / v);
    float sides = 0;
    for (int j = 1; j < n; ++j) sides += weight[j];
    const float total = weight[0] + 2 * sides;
    std::uint32_t k[16];
    for (int j = 0; j < n; ++j) k[j] = static_cast<std::uint32_t>(weight[j] / total * 65536.0f);
    auto pass = [&](const Pixels& src, bool horizontal) {
        Pixels out = src;
        for (int y = 0; y < src.h; ++y) {
            for (int x = 0; x < src.w; ++x) {
                auto s = [&](int d, int c) {
                    const int xx = horizontal ? std::clamp(x + d, 0, src.w - 1) : x;
                    const int yy = horizontal ? y : std::clamp(y + d, 0, src.h - 1);
                    return static_cast<std::uint32_t>(Byte(src.at(xx, yy), c));
                };
                std::uint32_t result = 0;
                for (int c = 0; c < 4; ++c) {
                    std::uint32_t sum = 0;
                    for (int j = 1; j < n; ++j)
                        sum += k[j] *
                               (s(-(2 * j - 1), c) + s(-2 * j, c) + s(2 * j - 1, c) + s(2 * j, c));
                    result |= (((sum >> 1) + k[0] * s(0, c)) >> 16) << (8 * c);
                }
                out.at(x, y) = result;
            }
        }
        return out;
    };
    return pass(pass(in, true), false);
}

inline Pixels ReferenceDownScale(const Pixels& in, int d) {
    const int shift = d == 2 ? 2 : d == 4 ? 4 : 6;
    Pixels out{in.w / d, in.h / d, {}};
    for (int y = 0; y < out.h; ++y) {
        for (int x = 0; x < out.w; ++x) {
            std::uint32_t v = 0;
            for (int c = 0; c < 4; ++c) {
                int sum = 0;
                for (int by = 0; by < d; ++by)
                    for (int bx = 0; bx < d; ++bx) sum += Byte(in.at(x * d + bx, y * d + by), c);
                v |= static_cast<std::uint32_t>(sum >> shift) << (8 * c);
            }
            out.p.push_back(v);
        }
    }
    return out;
}

inline int ClampQ15(std::int64_t t) {
    return t < 0 ? 0 : t > 8355840 ? 255 : static_cast<int>(t >> 15);
}

// One YUV sample to an ARGB word (alpha 255).
inline std::uint32_t YuvPixel(int Y, int U, int V) {
    const std::int64_t y = std::int64_t{Y} * 32768, u = U - 128, v = V - 128;
    const int b = ClampQ15(y + 58064 * u), g = ClampQ15(y - 11272 * u - 23396 * v),
              r = ClampQ15(y + 45940 * v);
    return 0xFF000000u | static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 |
           static_cast<std::uint32_t>(b);
}

}  // namespace velk_filter_test
