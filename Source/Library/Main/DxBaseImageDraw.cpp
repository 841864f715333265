// Drawing into base images without a device: clearing and filling rectangles, circles, and
// turning images over or mirroring them. Soft images, glyph images and filter work images are
// drawn this way.
#include <algorithm>
#include <cstring>

#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

namespace {

// Clips a rectangle to the image; false when nothing of it is inside.
bool ClipRect(const BASEIMAGE* image, int* x, int* y, int* width, int* height) {
    if (*width <= 0 || *height <= 0 || *x >= image->Width || *y >= image->Height) return false;
    if (std::int64_t(*x) + *width <= 0 || std::int64_t(*y) + *height <= 0) return false;
    if (*x < 0) {
        *width += *x;
        *x = 0;
    }
    if (*y < 0) {
        *height += *y;
        *y = 0;
    }
    *width = std::min(*width, image->Width - *x);
    *height = std::min(*height, image->Height - *y);
    return *width > 0 && *height > 0;
}

std::uint8_t* PixelAt(const BASEIMAGE* image, int x, int y) {
    return static_cast<std::uint8_t*>(image->Pixels) + std::int64_t(y) * image->Pitch +
           std::int64_t(x) * image->Format.BytesPerPixel;
}

// The value 1-byte pixels take: the red argument (the index of palette images).
std::uint32_t PixelValue(const BASEIMAGE* image, int red, int green, int blue, int alpha) {
    if (image->Format.BytesPerPixel == 1) return static_cast<std::uint8_t>(red);
    return ComposeFormatColor(&image->Format, red, green, blue, alpha);
}

// Writes count pixels of one value from p; 1- to 4-byte pixels only.
void FillRun(std::uint8_t* p, int bytes, std::uint32_t value, int count) {
    switch (bytes) {
        case 1:
            std::memset(p, static_cast<int>(value & 0xFF), static_cast<std::size_t>(count));
            break;
        case 2: {
            const auto v = static_cast<std::uint16_t>(value);
            for (int i = 0; i < count; ++i) std::memcpy(p + i * 2, &v, 2);
            break;
        }
        case 3:
            for (int i = 0; i < count; ++i) {
                p[i * 3] = static_cast<std::uint8_t>(value);
                p[i * 3 + 1] = static_cast<std::uint8_t>(value >> 8);
                p[i * 3 + 2] = static_cast<std::uint8_t>(value >> 16);
            }
            break;
        case 4:
            for (int i = 0; i < count; ++i) std::memcpy(p + i * 4, &value, 4);
            break;
        default:
            break;
    }
}

void FillClipped(BASEIMAGE* image, int x, int y, int width, int height, std::uint32_t value) {
    const int bytes = image->Format.BytesPerPixel;
    if (bytes < 1 || bytes > 4) return;
    for (int row = 0; row < height; ++row) FillRun(PixelAt(image, x, y + row), bytes, value, width);
}

}  // namespace

int ZeroBaseImageRect(BASEIMAGE* image, int x, int y, int width, int height) {
    if (!ClipRect(image, &x, &y, &width, &height)) return -1;
    const std::size_t bytes = std::size_t(width) * image->Format.BytesPerPixel;
    for (int row = 0; row < height; ++row) std::memset(PixelAt(image, x, y + row), 0, bytes);
    return 0;
}

int FillBaseImage(BASEIMAGE* image, int red, int green, int blue, int alpha) {
    if (image->Width <= 0 || image->Height <= 0) return 0;
    FillClipped(image, 0, 0, image->Width, image->Height,
                PixelValue(image, red, green, blue, alpha));
    return 0;
}

int FillBaseImageRect(BASEIMAGE* image, int x, int y, int width, int height, int red, int green,
                      int blue, int alpha) {
    if (!ClipRect(image, &x, &y, &width, &height)) return -1;
    FillClipped(image, x, y, width, height, PixelValue(image, red, green, blue, alpha));
    return 0;
}

int DrawCircleInBaseImage(BASEIMAGE* image, int cx, int cy, int r, int red, int green, int blue,
                          int alpha, int fill) {
    const int bytes = image->Format.BytesPerPixel;
    if (bytes < 1 || bytes > 4) return 0;
    const std::uint32_t value = PixelValue(image, red, green, blue, alpha);
    const int w = image->Width, h = image->Height;
    auto plot = [&](std::int64_t x, std::int64_t y) {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        FillRun(PixelAt(image, static_cast<int>(x), static_cast<int>(y)), bytes, value, 1);
    };
    std::uint8_t* drawn = nullptr;
    if (fill) {
        drawn = static_cast<std::uint8_t*>(
            AllocateTrackedMemoryZeroed(std::max(h, 1), "DxBaseImage", __LINE__));
        if (drawn == nullptr) return -1;
    }
    // A span of row y from x0 to x1, each row at most once.
    auto span = [&](std::int64_t x0, std::int64_t x1, std::int64_t y) {
        if (y < 0 || y >= h || drawn[y]) return;
        drawn[y] = 1;
        x0 = std::max<std::int64_t>(x0, 0);
        x1 = std::min<std::int64_t>(x1, w - 1);
        if (x0 > x1) return;
        FillRun(PixelAt(image, static_cast<int>(x0), static_cast<int>(y)), bytes, value,
                static_cast<int>(x1 - x0 + 1));
    };
    std::int64_t x = 0, y = r, d = 3 - 2 * std::int64_t(r);
    if (fill) {
        span(cx - std::int64_t(r), cx + std::int64_t(r), cy);
        if (d >= 0) {
            plot(cx, cy + std::int64_t(r));
            plot(cx, cy - std::int64_t(r));
        }
    } else {
        plot(cx - std::int64_t(r), cy);
        plot(cx + std::int64_t(r), cy);
        plot(cx, cy + std::int64_t(r));
        plot(cx, cy - std::int64_t(r));
    }
    if (d < 0) {
        d += 6;
    } else {
        d += 10 - 4 * std::int64_t(r);
        y = r - 1;
    }
    for (x = 1; y >= x; ++x) {
        if (fill) {
            span(cx - y, cx + y, cy + x);
            span(cx - y, cx + y, cy - x);
            if (d >= 0) {
                span(cx - x, cx + x, cy + y);
                span(cx - x, cx + x, cy - y);
            }
        } else {
            plot(cx + x, cy + y);
            plot(cx - x, cy + y);
            plot(cx + x, cy - y);
            plot(cx - x, cy - y);
            plot(cx + y, cy + x);
            plot(cx - y, cy + x);
            plot(cx + y, cy - x);
            plot(cx - y, cy - x);
        }
        if (d < 0) {
            d += 4 * x + 6;
        } else {
            d += 4 * (x - y) + 10;
            --y;
        }
    }
    FreeTrackedMemory(drawn);
    return 0;
}

int FlipBaseImageVertically(BASEIMAGE* image) {
    if (image->Format.FormatKind != 0) return -1;
    const int bytes = image->Format.BytesPerPixel;
    if (bytes < 1 || bytes > 4) return 0;
    const std::size_t row = std::size_t(image->Width) * bytes;
    for (int y = 0; y < image->Height / 2; ++y) {
        std::uint8_t* a = PixelAt(image, 0, y);
        std::uint8_t* b = PixelAt(image, 0, image->Height - 1 - y);
        std::swap_ranges(a, a + row, b);
    }
    return 0;
}

int MirrorBaseImageHorizontally(BASEIMAGE* image) {
    if (image->Width == 0 || image->Height == 0) return -1;
    const int bytes = image->Format.BytesPerPixel;
    if (bytes < 1 || bytes > 4) return 0;
    for (int y = 0; y < image->Height; ++y) {
        for (int x = 0; x < image->Width / 2; ++x) {
            std::swap_ranges(PixelAt(image, x, y), PixelAt(image, x, y) + bytes,
                             PixelAt(image, image->Width - 1 - x, y));
        }
    }
    return 0;
}

}  // namespace ZiDaz
