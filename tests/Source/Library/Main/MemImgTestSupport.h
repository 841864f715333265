// Helpers of the memory-image tests: images filled with seeded random pixels and raw pixel access.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DxMemImg.h"

namespace memimg_test {

inline std::uint32_t ReadRaw(const ZiDaz::MEMIMG& image, int x, int y) {
    const int bytes = ZiDaz::MemImgBytesPerPixel(image.Shared);
    const std::uint8_t* p = image.Pixels + static_cast<std::ptrdiff_t>(y) * image.Shared->Pitch +
                            static_cast<std::ptrdiff_t>(x) * bytes;
    std::uint32_t v = 0;
    std::memcpy(&v, p, bytes);
    return v;
}

inline void WriteRaw(ZiDaz::MEMIMG& image, int x, int y, std::uint32_t v) {
    const int bytes = ZiDaz::MemImgBytesPerPixel(image.Shared);
    std::uint8_t* p = image.Pixels + static_cast<std::ptrdiff_t>(y) * image.Shared->Pitch +
                      static_cast<std::ptrdiff_t>(x) * bytes;
    std::memcpy(p, &v, bytes);
}

// Every raw pixel of an image, row by row.
inline std::vector<std::uint32_t> Snapshot(const ZiDaz::MEMIMG& image) {
    std::vector<std::uint32_t> out;
    for (int y = 0; y < image.Height; ++y) {
        for (int x = 0; x < image.Width; ++x) out.push_back(ReadRaw(image, x, y));
    }
    return out;
}

// Sets up an image and fills its pixels (and palette) with random values. Alpha images get alpha
// 0 and 255 often, so that both special cases occur.
inline void MakeRandomImage(ZiDaz::MEMIMG& image, int width, int height, int colorType, int palette,
                            int alpha, std::mt19937& rng) {
    std::memset(&image, 0, sizeof(image));
    ZiDaz::SetupMemImg(&image, width, height, -1, 0, colorType, palette, alpha, 0, nullptr);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint32_t v = rng();
            if (image.Shared->UseAlpha != 0) {
                const int pick = static_cast<int>(rng() % 4);
                const std::uint32_t a = pick == 0 ? 0u : pick == 1 ? 255u : (rng() & 0xFF);
                v = colorType == 1 ? (v & 0xFFFFFFu) | (a << 24) : (v & 0xFF00FFFFu) | (a << 16);
            }
            WriteRaw(image, x, y, v);
        }
    }
    if (image.Shared->PaletteTable != nullptr) {
        for (int i = 0; i < 256; ++i) {
            const std::uint32_t v = rng();
            if (colorType == 0) {
                static_cast<std::uint16_t*>(image.Shared->PaletteTable)[i] =
                    static_cast<std::uint16_t>(v);
            } else {
                static_cast<std::uint32_t*>(image.Shared->PaletteTable)[i] = v & 0xFFFFFFu;
            }
        }
    }
}

// The palette of an image as 32-bit values (empty without palette).
inline std::vector<std::uint32_t> PaletteOf(const ZiDaz::MEMIMG& image) {
    std::vector<std::uint32_t> out;
    if (image.Shared->PaletteTable == nullptr) return out;
    for (int i = 0; i < 256; ++i) {
        out.push_back(image.Shared->ColorType == 0
                          ? static_cast<const std::uint16_t*>(image.Shared->PaletteTable)[i]
                          : static_cast<const std::uint32_t*>(image.Shared->PaletteTable)[i]);
    }
    return out;
}

// Images set up for one test and released with it, each cleared to 0.
class ImageSet {
  public:
    ImageSet() = default;
    ImageSet(const ImageSet&) = delete;
    ImageSet& operator=(const ImageSet&) = delete;
    ~ImageSet() {
        for (ZiDaz::MEMIMG* m : images_) {
            ZiDaz::ReleaseMemImg(m);
            delete m;
        }
    }
    ZiDaz::MEMIMG* Make(int w, int h, int colorType, int palette = 0, int alpha = 0) {
        auto* m = new ZiDaz::MEMIMG{};
        ZiDaz::SetupMemImg(m, w, h, -1, 0, colorType, palette, alpha, 0, nullptr);
        images_.push_back(m);
        ZiDaz::FillMemImgRect(m, nullptr, 0);
        return m;
    }

  private:
    std::vector<ZiDaz::MEMIMG*> images_;
};

// A test that draws: every test starts and ends with no blending and a white bright colour, and
// the images it makes are released after it.
class DrawingTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetDrawState(); }
    void TearDown() override { ResetDrawState(); }
    static void ResetDrawState() {
        ZiDaz::SetMemImgBlendMode(ZiDaz::DX_BLEND_NONE, 255);
        ZiDaz::SetMemImgDrawBright(0xFFFFFF);
    }
    ZiDaz::MEMIMG* Image(int w, int h, int colorType, int palette = 0, int alpha = 0) {
        return images_.Make(w, h, colorType, palette, alpha);
    }

    ImageSet images_;
};

}  // namespace memimg_test
