// Gaussian blur and box down-scaling, and the Gaussian kernel the shader path shares.
//
// The blur is separable and pairs adjacent taps under one weight: weight j (j >= 1) covers the
// distances 2j-1 and 2j on each side at half weight each, so a kernel of n weights reaches
// 2(n-1) pixels each way with n-1 multiplications per side. Both passes work on whole rows of
// bytes (the four channels of a pixel are filtered alike), which keeps the inner loops simple
// enough for the compiler to vectorise.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "Main/DxBaseFunc.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFilter.h"

namespace ZiDaz {

GaussKernelCache GaussKernel = {-10000000.0f, 0, {}};

int GaussPixelWidth(int requested) {
    return requested <= 8 ? 8 : requested <= 16 ? 16 : 32;
}

int UpdateGaussKernel(int requestedWidth, float strength) {
    const int width = GaussPixelWidth(requestedWidth);
    if (std::fabs(strength - GaussKernel.Strength) > 0.0002f || width != GaussKernel.PixelWidth) {
        GaussKernel.Strength = strength;
        GaussKernel.PixelWidth = width;
        const int n = width / 2;
        const float v = std::max(0.0000000001f, strength);
        float weights[16] = {};
        for (int j = 0; j < n; ++j)
            weights[j] = ComputeExpFloat(static_cast<float>(j * j) * -0.5f / v);
        float sides = 0.0f;
        for (int j = 1; j < n; ++j) sides += weights[j];
        const float total = weights[0] + 2.0f * sides;
        for (int j = 0; j < 16; ++j) GaussKernel.Weights[j] = j < n ? weights[j] / total : 0.0f;
    }
    return width;
}

namespace {

// The inner loops are worth vectorising even where the default cost model of -O2 declines.
#if defined(__GNUC__) && !defined(__clang__)
#define VELK_VECTOR_LOOP __attribute__((optimize("-fvect-cost-model=dynamic")))
#else
#define VELK_VECTOR_LOOP
#endif

// acc[i] += k * (a[i] + b[i] + c[i] + d[i])
VELK_VECTOR_LOOP void AccumulatePairedTaps(std::uint32_t* __restrict acc, int count,
                                           std::uint32_t k, const std::uint8_t* __restrict a,
                                           const std::uint8_t* __restrict b,
                                           const std::uint8_t* __restrict c,
                                           const std::uint8_t* __restrict d) {
    for (int i = 0; i < count; ++i)
        acc[i] += k * (static_cast<std::uint32_t>(a[i]) + b[i] + c[i] + d[i]);
}

// out[i] = ((acc[i] >> 1) + k0 * centre[i]) >> 16
VELK_VECTOR_LOOP void FinishTaps(std::uint8_t* __restrict out, const std::uint32_t* __restrict acc,
                                 int count, std::uint32_t k0,
                                 const std::uint8_t* __restrict centre) {
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>(((acc[i] >> 1) + k0 * centre[i]) >> 16);
}

// sums[i] += row[i]
VELK_VECTOR_LOOP void AddRow(std::uint32_t* __restrict sums, const std::uint8_t* __restrict row,
                             int count) {
    for (int i = 0; i < count; ++i) sums[i] += row[i];
}

std::uint8_t* Row(const BASEIMAGE& image, int y) {
    return static_cast<std::uint8_t*>(image.Pixels) + static_cast<std::ptrdiff_t>(y) * image.Pitch;
}

// One blur in both directions from source into dest through the intermediate image.
void GaussBlur(const BASEIMAGE& source, BASEIMAGE& middle, BASEIMAGE& dest, const std::uint32_t* k,
               int n) {
    const int w = source.Width, h = source.Height, bytes = w * 4;
    const int reach = 2 * (n - 1);
    std::vector<std::uint32_t> acc(static_cast<std::size_t>(bytes));
    // Horizontal: each row padded with copies of its end pixels.
    std::vector<std::uint8_t> padded(static_cast<std::size_t>(w + 2 * reach) * 4);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* s = Row(source, y);
        std::uint8_t* p = padded.data();
        for (int i = 0; i < reach; ++i) std::memcpy(p + i * 4, s, 4);
        std::memcpy(p + reach * 4, s, static_cast<std::size_t>(bytes));
        for (int i = 0; i < reach; ++i) std::memcpy(p + (reach + w + i) * 4, s + (w - 1) * 4, 4);
        const std::uint8_t* centre = p + reach * 4;
        std::fill(acc.begin(), acc.end(), 0u);
        for (int j = 1; j < n; ++j) {
            AccumulatePairedTaps(acc.data(), bytes, k[j], centre - (2 * j - 1) * 4,
                                 centre - 2 * j * 4, centre + (2 * j - 1) * 4, centre + 2 * j * 4);
        }
        FinishTaps(Row(middle, y), acc.data(), bytes, k[0], centre);
    }
    // Vertical: rows beyond the edges read the edge rows.
    auto clampRow = [&](int y) { return Row(middle, std::clamp(y, 0, h - 1)); };
    for (int y = 0; y < h; ++y) {
        std::fill(acc.begin(), acc.end(), 0u);
        for (int j = 1; j < n; ++j) {
            AccumulatePairedTaps(acc.data(), bytes, k[j], clampRow(y - 2 * j + 1),
                                 clampRow(y - 2 * j), clampRow(y + 2 * j - 1), clampRow(y + 2 * j));
        }
        FinishTaps(Row(dest, y), acc.data(), bytes, k[0], Row(middle, y));
    }
}

}  // namespace

int FilterBodyGauss(FilterRunInfo* info, int pixelWidth, float strength) {
    const int width = UpdateGaussKernel(pixelWidth, strength);
    if (GraphicsSystemState.ShadersUsable == 1) {
        Backend_Filter_Gauss(info, width, strength, GaussKernel.Weights);
        return 0;
    }
    const int n = width / 2;
    std::uint32_t k[16] = {};
    for (int j = 0; j < n; ++j)
        k[j] = static_cast<std::uint32_t>(
            static_cast<std::int64_t>(GaussKernel.Weights[j] * 65536.0f));
    if (LockFilterImages(info, 1, -1, -1, nullptr) != 0) return -1;
    BASEIMAGE& source = info->SourceImage;
    BASEIMAGE& dest = info->DestImage;
    if (strength < 0.0000001f) {
        for (int y = 0; y < source.Height; ++y)
            std::memcpy(Row(dest, y), Row(source, y), static_cast<std::size_t>(source.Width) * 4);
    } else {
        BASEIMAGE middle{};
        if (NewBaseImageArgb8(source.Width, source.Height, &middle) != 0) {
            // Nothing half-made reaches the destination.
            ReleaseFilterImages(info);
            return -1;
        }
        GaussBlur(source, middle, dest, k, n);
        DisposeBaseImage(&middle);
    }
    UnlockFilterImages(info);
    return 0;
}

int FilterBodyDownScale(FilterRunInfo* info, int divisor) {
    if (GraphicsSystemState.ShadersUsable == 1) {
        Backend_Filter_DownScale(info, divisor);
        return 0;
    }
    const int d = divisor <= 2 ? 2 : divisor <= 4 ? 4 : 8;
    const int shift = d == 2 ? 2 : d == 4 ? 4 : 6;
    const unsigned w = static_cast<unsigned>(info->X2 - info->X1);
    const unsigned h = static_cast<unsigned>(info->Y2 - info->Y1);
    const int rw = static_cast<int>(w / d), rh = static_cast<int>(h / d);
    // Nothing is left of a rectangle smaller than one block.
    if (rw <= 0 || rh <= 0) return 0;
    if (LockFilterImages(info, 1, rw, rh, nullptr) != 0) return -1;
    const BASEIMAGE& source = info->SourceImage;
    const BASEIMAGE& dest = info->DestImage;
    const int bytes = rw * d * 4;
    std::vector<std::uint32_t> rows(static_cast<std::size_t>(bytes));
    for (int y = 0; y < rh; ++y) {
        // Sum the block's rows first, then the block's columns.
        std::fill(rows.begin(), rows.end(), 0u);
        for (int r = 0; r < d; ++r) AddRow(rows.data(), Row(source, y * d + r), bytes);
        std::uint8_t* out = Row(dest, y);
        for (int x = 0; x < rw; ++x) {
            const std::uint32_t* block = rows.data() + static_cast<std::ptrdiff_t>(x) * d * 4;
            for (int c = 0; c < 4; ++c) {
                std::uint32_t sum = 0;
                for (int i = 0; i < d; ++i) sum += block[i * 4 + c];
                out[x * 4 + c] = static_cast<std::uint8_t>(sum >> shift);
            }
        }
    }
    UnlockFilterImages(info);
    return 0;
}

}  // namespace ZiDaz
