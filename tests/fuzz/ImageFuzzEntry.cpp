#include "fuzz/ImageFuzzEntry.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"

namespace {

using namespace ZiDaz;

// Reads every byte of the image's rows (every level and face for plain images); a sum keeps the
// reads from being dropped.
unsigned TouchPixels(const BASEIMAGE& image) {
    if (image.Pixels == nullptr) return 0;
    const COLORFORMAT& f = image.Format;
    const auto* p = static_cast<const std::uint8_t*>(image.Pixels);
    unsigned sum = 0;
    if (f.FormatKind != 0) {
        const std::size_t block = f.FormatKind == 1 ? 8 : 16;
        const std::size_t bytes =
            std::size_t((image.Width + 3) / 4) * ((image.Height + 3) / 4) * block;
        for (std::size_t i = 0; i < bytes; ++i) sum += p[i];
        return sum;
    }
    if (image.Pitch < 0 || std::size_t(image.Pitch) < std::size_t(image.Width) * f.BytesPerPixel) {
        std::abort();
    }
    const int faces = image.ImageCount == 6 ? 6 : 1;
    const std::size_t row = std::size_t(image.Width) * f.BytesPerPixel;
    for (int face = 0; face < faces; ++face) {
        for (int y = 0; y < image.Height; ++y) {
            const std::uint8_t* r = p + (std::size_t(face) * image.Height + y) * image.Pitch;
            for (std::size_t i = 0; i < row; ++i) sum += r[i];
        }
    }
    return sum;
}

void ReadDib(const std::uint8_t* data, std::size_t size) {
    // The header and a whole colour table, zero-padded.
    std::vector<std::uint8_t> info(40 + 1024, 0);
    std::memcpy(info.data(), data, std::min(size, info.size()));
    BITMAPINFOHEADER h;
    std::memcpy(&h, info.data(), sizeof(h));
    h.biSize = 40;
    const std::int64_t height = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    if (h.biWidth <= 0 || h.biWidth > (1 << 20) || height > (1 << 20)) return;
    const std::int64_t stride = (std::int64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    // (A caller that hands over a huge DIB gets a huge image; keep inputs to sizes worth running.)
    if (stride * height > (1 << 22) || std::int64_t(h.biWidth) * height > (1 << 20)) return;
    // The caller of ReadBitmapInfoImage vouches for the bits: give the rows the header implies,
    // and run-length data its own size.
    const std::size_t rest = size > info.size() ? size - info.size() : 0;
    std::vector<std::uint8_t> bits(std::max<std::size_t>(std::size_t(stride * height), rest) + 1,
                                   0);
    if (rest) std::memcpy(bits.data(), data + info.size(), rest);
    h.biSizeImage = static_cast<DWORD>(rest);
    std::memcpy(info.data(), &h, sizeof(h));
    BASEIMAGE image;
    for (int copy : {0, 1}) {
        const int r = ReadBitmapInfoImage(reinterpret_cast<const BITMAPINFO*>(info.data()),
                                          bits.data(), &image, copy);
        if (r < 0) continue;
        TouchPixels(image);
        if (r == 1) FreeTrackedMemory(image.Pixels);
    }
}

}  // namespace

int RunImageFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // Both heaps keep a block, as in a running program, so that they keep their regions instead
    // of mapping and unmapping one for every image.
    static void* const keepSmall = AllocateTrackedMemory(64, "ImageFuzzEntry", __LINE__);
    static void* const keepLarge = AllocateTrackedMemory(1 << 17, "ImageFuzzEntry", __LINE__);
    (void)keepSmall;
    (void)keepLarge;
    const std::uint8_t mode = data[0];
    const int blocks = GetTrackedMemoryCount();
    if (mode & 1) {
        ReadDib(data + 1, size - 1);
    } else {
        ImageLoadParams params;
        InitImageLoadParams(&params, (mode & 4) ? 1 : 0);
        BASEIMAGE image{};
        if (ReadImageWithParams(&params, nullptr, data + 1, size - 1, 1, 0, (mode & 2) ? 1 : 0, 0,
                                &image, nullptr, nullptr) == 0) {
            if ((mode & 4) && image.Pixels != nullptr) std::abort();
            TouchPixels(image);
            FreeTrackedMemory(image.Pixels);
        }
    }
    if (GetTrackedMemoryCount() != blocks) std::abort();
    return 0;
}
