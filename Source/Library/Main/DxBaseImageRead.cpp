// Image readers and writers of the base-image module: the reader driver with its load
// parameters, the BMP, TGA, DDS, "BGRA" and "DBIM" readers, and the BMP and DDS writers. Every
// reader works on a file image in memory and checks each size against what the data holds before
// it allocates, so that damaged files are refused and never read or write out of bounds.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Main/DxBaseImage.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxFileWin.h"

namespace ZiDaz {

ImageLoadSettings BaseImageLoadSettings = {0, 0, 0, 0, 0};

namespace {

// The readers make no buffer larger than the base images' own limit, so pitches and sizes fit
// in 32 bits.
constexpr std::uint64_t kMaxImageBytes = kMaxBaseImageBytes;

void* Allocate(std::uint64_t size) {
    if (size > kMaxImageBytes) return nullptr;
    return AllocateTrackedMemory(static_cast<std::size_t>(size), "DxBaseImage", __LINE__);
}

// Reading through a reader access.
struct In {
    ImageReaderAccess* a;
    bool Seek(std::int64_t offset, int origin = 0) const {
        return a->Ops->Seek(a->Stream, offset, origin) == 0;
    }
    std::int64_t Tell() const { return a->Ops->Tell(a->Stream); }
    bool Read(void* buffer, std::uint64_t size) const {
        if (size == 0) return true;
        return a->Ops->Read(buffer, static_cast<std::size_t>(size), 1, a->Stream) == 1;
    }
    std::int64_t Size() const {
        Seek(0, 2);
        std::int64_t size = Tell();
        Seek(0, 0);
        return size < 0 ? 0 : size;
    }
    // The next size bytes: in place when the stream is a memory stream (every load reads one),
    // else read into a new buffer handed out through owned. Null when the data is not there.
    const std::uint8_t* Block(std::uint64_t size, std::uint8_t** owned) const {
        *owned = nullptr;
        if (a->Ops->Read == GetMemoryStreamAccess()->Read) {
            auto* m = static_cast<MemoryStream*>(a->Stream);
            if (size > std::uint64_t(m->size - m->position)) return nullptr;
            const auto* p = static_cast<const std::uint8_t*>(m->data) + m->position;
            m->position += static_cast<std::uint32_t>(size);
            return p;
        }
        *owned = static_cast<std::uint8_t*>(Allocate(std::max<std::uint64_t>(size, 1)));
        if (*owned == nullptr || !Read(*owned, size)) {
            FreeTrackedMemory(*owned);
            *owned = nullptr;
        }
        return *owned;
    }
    // Copies the next size bytes into a buffer.
    bool Copy(void* out, std::uint64_t size) const {
        std::uint8_t* owned;
        const std::uint8_t* p = Block(size, &owned);
        if (p == nullptr) return false;
        if (owned == nullptr)
            std::memcpy(out, p, size);
        else
            std::memcpy(out, owned, size);
        FreeTrackedMemory(owned);
        return true;
    }
};

std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::int32_t I32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(U32(p));
}
std::uint16_t U16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// Copies rows in reverse order into a new buffer; null when out of memory.
void* FlipRows(const std::uint8_t* source, std::uint64_t pitch, std::int64_t height) {
    auto* out = static_cast<std::uint8_t*>(Allocate(pitch * height));
    if (out == nullptr) return nullptr;
    for (std::int64_t y = 0; y < height; ++y) {
        std::memcpy(out + y * pitch, source + (height - 1 - y) * pitch, pitch);
    }
    return out;
}

}  // namespace

int InitColorFormatGray8(COLORFORMAT* f) {
    f->FormatKind = 0;
    f->ChannelCount = 0;
    f->BitsPerChannel = 0;
    f->FloatFlag = 0;
    f->BytesPerPixel = 1;
    f->BitsPerPixel = 8;
    f->RedWidth = f->GreenWidth = f->BlueWidth = 8;
    f->AlphaWidth = 0;
    f->RedPosition = 16;
    f->GreenPosition = 8;
    f->BluePosition = 0;
    f->AlphaPosition = 0;
    f->RedMask = 0xFF0000;
    f->GreenMask = 0xFF00;
    f->BlueMask = 0xFF;
    f->AlphaMask = 0;
    f->UnusedMask = 0xFF000000u;
    f->HighestPaletteIndex = 255;
    for (int i = 0; i < 256; ++i) {
        f->Palette[i][0] = f->Palette[i][1] = f->Palette[i][2] = static_cast<std::uint8_t>(i);
        f->Palette[i][3] = 0;
    }
    return 0;
}

// --- BMP ----------------------------------------------------------------------------------

int ReadBmpImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    In in{access};
    const std::int64_t size = in.Size();
    std::uint8_t file[14], info[44];
    if (!in.Read(file, 14) || file[0] != 'B' || file[1] != 'M') return -1;
    if (!in.Read(info, 44)) return -1;
    const std::uint32_t headerSize = U32(info);
    const std::int32_t width = I32(info + 4), signedHeight = I32(info + 8);
    const int bitCount = U16(info + 14);
    const std::uint32_t compression = U32(info + 16);
    const std::uint32_t colorsUsed = U32(info + 32);
    // The core header of 12 bytes has another layout; sizes must be positive and bounded.
    if (headerSize < 40 || width <= 0 || signedHeight == 0 || signedHeight == INT32_MIN) return -1;
    if (bitCount == 0 || bitCount > 32) return -1;
    const std::int64_t height = signedHeight < 0 ? -std::int64_t(signedHeight) : signedHeight;
    const bool bottomUp = signedHeight > 0;
    const std::uint64_t pitch = ((std::uint64_t(width) * bitCount + 7) / 8 + 3) & ~3ull;
    if (pitch * height > kMaxImageBytes || std::uint64_t(width) * height > kMaxImageBytes) {
        return -1;
    }

    // The header the system conversion draws with: 40 bytes, then the masks or the palette.
    std::uint8_t kept[1068] = {};
    std::memcpy(kept, info, 44);
    Put32(kept, 40);
    Put32(kept + 32, 0);
    std::uint32_t masks[3] = {};
    if (bitCount <= 8) {
        // The palette lies behind the file's own header; a shorter table leaves the rest zero.
        std::uint32_t entries = 1u << bitCount;
        if (colorsUsed != 0 && colorsUsed < entries) entries = colorsUsed;
        if (14 + std::int64_t(headerSize) + entries * 4 > size) return -1;
        if (!in.Seek(14 + std::int64_t(headerSize)) || !in.Read(kept + 40, entries * 4)) return -1;
    } else if (compression == 3) {
        std::uint8_t m[8];
        if (!in.Read(m, 8)) return -1;
        std::memcpy(kept + 44, m, 8);
        masks[0] = U32(kept + 40);
        masks[1] = U32(kept + 44);
        masks[2] = U32(kept + 48);
    }
    const std::int64_t dataOffset = U32(file + 10);
    if (dataOffset > size || !in.Seek(dataOffset)) return -1;
    const std::uint64_t dataSize = static_cast<std::uint64_t>(size - dataOffset);

    enum class Kind { Rle8, Rle4, Bits1, Bits4, Bits8, Plain, System };
    Kind kind = Kind::System;
    COLORFORMAT& f = image->Format;
    std::memset(&f, 0, sizeof(f));
    if (compression == 1 && bitCount == 8) {
        kind = Kind::Rle8;
    } else if (compression == 2 && bitCount == 4) {
        kind = Kind::Rle4;
    } else if (compression == 0 && bitCount == 1) {
        kind = Kind::Bits1;
    } else if (compression == 0 && bitCount == 4) {
        kind = Kind::Bits4;
    } else if (compression == 0 && bitCount == 8) {
        kind = Kind::Bits8;
    } else if (compression == 0 && bitCount == 24) {
        kind = Kind::Plain;
        InitColorFormatRgb24(&f);
    } else if (compression == 0 && bitCount == 32) {
        kind = Kind::Plain;
        InitColorFormatArgb8(&f);
    } else if ((compression == 0 && bitCount == 16) ||
               (compression == 3 && bitCount == 16 && masks[0] == 0x7C00 && masks[1] == 0x3E0 &&
                masks[2] == 0x1F)) {
        kind = Kind::Plain;
        InitColorFormatXrgb8(&f);
        InitColorFormatX1R5G5B5(&f);
        f.UnusedPosition = 15;
        f.UnusedWidth = 1;
    } else if (compression == 3 && bitCount == 16 && masks[0] == 0xF800 && masks[1] == 0x7E0 &&
               masks[2] == 0x1F) {
        kind = Kind::Plain;
        InitColorFormatXrgb8(&f);
        InitColorFormatR5G6B5(&f);
        f.UnusedPosition = 0;
        f.UnusedWidth = 0;
    } else if (compression == 3 && bitCount == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 &&
               masks[2] == 0xFF) {
        kind = Kind::Plain;
        InitColorFormatXrgb8(&f);
    } else if (compression == 3 && bitCount == 32 && masks[0] == 0xFF000000u &&
               masks[1] == 0xFF0000 && masks[2] == 0xFF00) {
        kind = Kind::Plain;
        InitColorFormatFromMasks(&f, 32, 0xFF000000u, 0xFF0000, 0xFF00, 0, 0, 0, 0);
    }
    const bool palette = kind != Kind::Plain && kind != Kind::System;
    if (palette) {
        InitColorFormatPal8(&f);
        for (int i = 0; i < 256; ++i) {
            f.Palette[i][0] = kept[40 + i * 4];
            f.Palette[i][1] = kept[41 + i * 4];
            f.Palette[i][2] = kept[42 + i * 4];
            f.Palette[i][3] = 0;
        }
        if (kind == Kind::Bits1 || kind == Kind::Bits4) f.HighestPaletteIndex = 15;
    } else if (kind == Kind::System) {
        InitColorFormatRgb24(&f);
    }
    std::uint64_t outPitch = pitch;
    if (kind == Kind::Rle4 || kind == Kind::Bits1 || kind == Kind::Bits4) {
        outPitch = (std::uint64_t(width) + 3) & ~3ull;
    } else if (kind == Kind::System) {
        outPitch = (std::uint64_t(width) * 3 + 3) & ~3ull;
    }
    image->Width = width;
    image->Height = static_cast<std::int32_t>(height);
    image->Pitch = static_cast<std::int32_t>(outPitch);
    image->MipCount = 0;
    image->ImageCount = 0;
    image->Pixels = nullptr;
    if (headerOnly) {
        if (kind == Kind::System) image->Pitch = 0;
        return 0;
    }
    if (outPitch * height > kMaxImageBytes) return -1;
    const bool rle = kind == Kind::Rle8 || kind == Kind::Rle4;
    // Uncompressed data must hold every row the header describes; run-length data a picture of
    // at most 256 pixels a byte (a run of 255 pixels takes 2 bytes), or 1M pixels.
    if (!rle && kind != Kind::System && dataSize < pitch * height) return -1;
    if (rle && std::uint64_t(width) * height > std::max<std::uint64_t>(dataSize * 256, 1u << 20)) {
        return -1;
    }
    std::uint8_t* owned = nullptr;
    const std::uint8_t* data = in.Block(dataSize, &owned);
    if (data == nullptr) return -1;
    void* pixels = nullptr;
    switch (kind) {
        case Kind::Plain:
        case Kind::Bits8:
            if (bottomUp) {
                pixels = FlipRows(data, pitch, height);
            } else if (owned) {
                pixels = owned;
            } else if ((pixels = Allocate(pitch * height)) != nullptr) {
                std::memcpy(pixels, data, pitch * height);
            }
            break;
        case Kind::Bits1:
        case Kind::Bits4: {
            auto* out = static_cast<std::uint8_t*>(Allocate(outPitch * height));
            if (out == nullptr) break;
            for (std::int64_t y = 0; y < height; ++y) {
                const std::uint8_t* s = data + (bottomUp ? height - 1 - y : y) * pitch;
                std::uint8_t* d = out + y * outPitch;
                for (std::int32_t x = 0; x < width; ++x) {
                    d[x] = kind == Kind::Bits1 ? (s[x >> 3] >> (7 - (x & 7))) & 1
                                               : ((x & 1) ? s[x >> 1] & 0xF : s[x >> 1] >> 4);
                }
            }
            pixels = out;
            break;
        }
        case Kind::Rle8:
        case Kind::Rle4: {
            auto* out = static_cast<std::uint8_t*>(Allocate(outPitch * height));
            if (out == nullptr) break;
            std::memset(out, 0, outPitch * height);
            const bool four = kind == Kind::Rle4;
            std::int64_t x = 0, y = 0;
            auto put = [&](int v) {
                if (x >= 0 && x < width && y >= 0 && y < height) {
                    out[(bottomUp ? height - 1 - y : y) * outPitch + x] =
                        static_cast<std::uint8_t>(v);
                }
                ++x;
            };
            std::uint64_t p = 0;
            while (p + 1 < dataSize && y < height) {
                const std::uint8_t n = data[p], v = data[p + 1];
                p += 2;
                if (n > 0 && !four) {
                    // A run inside the row is one fill.
                    if (y < height && x >= 0 && x + n <= width) {
                        std::memset(out + (bottomUp ? height - 1 - y : y) * outPitch + x, v, n);
                        x += n;
                    } else {
                        for (int i = 0; i < n; ++i) put(v);
                    }
                } else if (n > 0) {
                    for (int i = 0; i < n; ++i) put((i & 1) ? v & 0xF : v >> 4);
                } else if (v == 0) {
                    x = 0;
                    ++y;
                } else if (v == 1) {
                    break;
                } else if (v == 2) {
                    if (p + 1 >= dataSize) break;
                    x += data[p];
                    y += data[p + 1];
                    p += 2;
                } else {
                    const std::uint64_t bytes = four ? (v + 1u) / 2 : v;
                    if (!four && p + v <= dataSize && y < height && x >= 0 && x + v <= width) {
                        std::memcpy(out + (bottomUp ? height - 1 - y : y) * outPitch + x, data + p,
                                    v);
                        x += v;
                        p += (bytes + 1) & ~1ull;
                        continue;
                    }
                    for (int i = 0; i < v; ++i) {
                        const std::uint64_t at = p + (four ? i / 2 : i);
                        if (at >= dataSize) break;
                        put(four ? ((i & 1) ? data[at] & 0xF : data[at] >> 4) : data[at]);
                    }
                    p += (bytes + 1) & ~1ull;
                }
            }
            pixels = out;
            break;
        }
        case Kind::System: {
            // Run-length data of the system's own kinds ends at the data's end.
            if (compression == 1 || compression == 2) {
                Put32(kept + 20, static_cast<std::uint32_t>(dataSize));
            }
            BASEIMAGE converted{};
            if (ConvertDibToRgb24(reinterpret_cast<const BITMAPINFO*>(kept), data, dataSize,
                                  &converted) == 0) {
                pixels = converted.Pixels;
                image->Pitch = converted.Pitch;
            }
            break;
        }
    }
    if (pixels != owned) FreeTrackedMemory(owned);
    if (pixels == nullptr) return -1;
    image->Pixels = pixels;
    return 0;
}

// --- TGA ----------------------------------------------------------------------------------

int ReadTgaImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    In in{access};
    const std::int64_t size = in.Size();
    bool footer = false;
    if (size >= 26 && in.Seek(size - 26)) {
        std::uint8_t foot[26];
        if (in.Read(foot, 26) && std::memcmp(foot + 8, "TRUEVISION-XFILE.", 18) == 0 &&
            U32(foot) == 0) {
            footer = true;
        }
    }
    std::uint8_t h[18];
    if (!in.Seek(0) || !in.Read(h, 18) || !in.Seek(18 + h[0])) return -1;
    const int type = h[2];
    if (type != 1 && type != 2 && type != 9 && type != 10) return -1;
    const int mapFirst = U16(h + 3), mapLength = U16(h + 5), mapEntry = h[7];
    const int width = U16(h + 12), height = U16(h + 14);
    if (U16(h + 8) != 0 || U16(h + 10) != 0) return -1;
    if (width == 0 || height == 0 || width > 32768 || height > 32768) return -1;
    const bool mapped = type == 1 || type == 9;
    const int depth = mapped ? mapEntry : h[16];
    if (depth != 16 && depth != 24 && depth != 32) return -1;
    if (mapped && mapFirst + mapLength > 256) return -1;
    const int bpp = depth / 8;
    const std::uint64_t pitch = std::uint64_t(width) * bpp;
    const std::uint64_t count = std::uint64_t(width) * height;
    COLORFORMAT& f = image->Format;
    std::memset(&f, 0, sizeof(f));
    if (depth == 16) {
        InitColorFormatX1R5G5B5(&f);
    } else {
        InitColorFormatFromMasks(&f, depth, 0xFF0000, 0xFF00, 0xFF, depth == 32 ? 0xFF000000u : 0,
                                 0, 0, 0);
        if (depth == 24) f.UnusedMask = 0;
    }
    image->Width = width;
    image->Height = height;
    image->Pitch = static_cast<std::int32_t>(pitch);
    image->MipCount = 0;
    image->ImageCount = 0;
    image->Pixels = nullptr;
    if (headerOnly) return 0;
    if (pitch * height > kMaxImageBytes) return -1;

    std::uint8_t palette[256 * 4] = {};
    if (mapped) {
        if (!in.Read(palette + mapFirst * bpp, std::uint64_t(mapLength) * bpp)) return -1;
    } else if (h[1] == 1 && mapLength != 0) {
        // A true-colour file may still carry a colour map; its pixels start behind it.
        const int skipEntry = (mapEntry + 7) / 8;
        if (!in.Seek(in.Tell() + std::int64_t(mapLength) * skipEntry)) return -1;
    }
    const std::int64_t start = in.Tell();
    std::int64_t end = size - (footer ? 26 : 0);
    if (start < 0 || end < start) return -1;
    const std::uint64_t available = static_cast<std::uint64_t>(end - start);
    const int unit = mapped ? 1 : bpp;  // bytes of one stored pixel
    // Run-length packets give at most 128 pixels for 1 + unit bytes.
    if (type <= 2 ? available < count * unit : available * 128 < count) return -1;

    auto* out = static_cast<std::uint8_t*>(Allocate(pitch * height));
    if (out == nullptr) return -1;
    bool ok = true;
    if (type == 2) {
        ok = in.Copy(out, pitch * height);
    } else if (type == 1) {
        std::uint8_t* owned;
        const std::uint8_t* indices = in.Block(count, &owned);
        ok = indices != nullptr;
        for (std::uint64_t i = 0; ok && i < count; ++i) {
            std::memcpy(out + i * bpp, palette + indices[i] * bpp, bpp);
        }
        FreeTrackedMemory(owned);
    } else {
        // Run-length packets straight into the pixels, or into indices for a colour map.
        std::uint8_t* stored =
            mapped ? static_cast<std::uint8_t*>(Allocate(std::max<std::uint64_t>(count, 1))) : out;
        std::uint8_t* owned;
        const std::uint8_t* data = stored ? in.Block(available, &owned) : nullptr;
        ok = data != nullptr;
        std::uint64_t produced = 0, p = 0;
        while (ok && produced < count && p < available) {
            const std::uint8_t head = data[p++];
            const std::uint64_t run = std::min<std::uint64_t>((head & 0x7F) + 1, count - produced);
            std::uint8_t* to = stored + produced * unit;
            if (head & 0x80) {
                if (p + unit > available) break;
                const std::uint8_t* from = data + p;
                switch (unit) {
                    case 1:
                        std::memset(to, *from, run);
                        break;
                    case 3:
                        for (std::uint64_t i = 0; i < run; ++i, to += 3) {
                            to[0] = from[0], to[1] = from[1], to[2] = from[2];
                        }
                        break;
                    default:
                        for (std::uint64_t i = 0; i < run; ++i)
                            std::memcpy(to + i * unit, from, unit);
                        break;
                }
                p += unit;
            } else {
                const std::uint64_t bytes = std::min<std::uint64_t>(run * unit, available - p);
                std::memcpy(to, data + p, bytes);
                if (bytes < run * unit) std::memset(to + bytes, 0, run * unit - bytes);
                p += (head & 0x7F) * std::uint64_t(unit) + unit;
            }
            produced += run;
        }
        if (ok && produced < count) {
            std::memset(stored + produced * unit, 0, (count - produced) * unit);
        }
        FreeTrackedMemory(owned);
        if (ok && mapped) {
            for (std::uint64_t i = 0; i < count; ++i) {
                std::memcpy(out + i * bpp, palette + stored[i] * bpp, bpp);
            }
        }
        if (mapped) FreeTrackedMemory(stored);
    }
    if (!ok) {
        FreeTrackedMemory(out);
        return -1;
    }
    const bool rightToLeft = h[17] & 0x10, bottomUp = !(h[17] & 0x20);
    if (rightToLeft || bottomUp) {
        auto* turned = static_cast<std::uint8_t*>(Allocate(pitch * height));
        if (turned == nullptr) {
            FreeTrackedMemory(out);
            return -1;
        }
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* s = out + (bottomUp ? height - 1 - y : y) * pitch;
            std::uint8_t* d = turned + y * pitch;
            if (!rightToLeft) {
                std::memcpy(d, s, pitch);
                continue;
            }
            for (int x = 0; x < width; ++x)
                std::memcpy(d + x * bpp, s + (width - 1 - x) * bpp, bpp);
        }
        FreeTrackedMemory(out);
        out = turned;
    }
    image->Pixels = out;
    return 0;
}

// --- DDS ----------------------------------------------------------------------------------

namespace {

struct D3dFormat {
    std::uint32_t code;
    int bits;
    std::uint32_t red, green, blue, alpha;
    int channels, channelBits, isFloat;
};

constexpr D3dFormat kD3dFormats[] = {
    {20, 24, 0xFF0000, 0xFF00, 0xFF, 0, 0, 0, 0},
    {21, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0, 0, 0},
    {22, 32, 0xFF0000, 0xFF00, 0xFF, 0, 0, 0, 0},
    {23, 16, 0xF800, 0x7E0, 0x1F, 0, 0, 0, 0},
    {24, 16, 0x7C00, 0x3E0, 0x1F, 0, 0, 0, 0},
    {25, 16, 0x7C00, 0x3E0, 0x1F, 0x8000, 0, 0, 0},
    {26, 16, 0xF00, 0xF0, 0xF, 0xF000, 0, 0, 0},
    {27, 8, 0xE0, 0x1C, 0x3, 0, 0, 0, 0},
    {29, 16, 0xE0, 0x1C, 0x3, 0xFF00, 0, 0, 0},
    {30, 16, 0xF00, 0xF0, 0xF, 0, 0, 0, 0},
    {31, 32, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000u, 0, 0, 0},
    {32, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u, 0, 0, 0},
    {33, 32, 0xFF, 0xFF00, 0xFF0000, 0, 0, 0, 0},
    {34, 0, 0, 0, 0, 0, 2, 16, 0},
    {35, 32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u, 0, 0, 0},
    {36, 0, 0, 0, 0, 0, 4, 16, 0},
    {81, 0, 0, 0, 0, 0, 1, 16, 0},
    {111, 0, 0, 0, 0, 0, 1, 16, 1},
    {112, 0, 0, 0, 0, 0, 2, 16, 1},
    {113, 0, 0, 0, 0, 0, 4, 16, 1},
    {114, 0, 0, 0, 0, 0, 1, 32, 1},
    {115, 0, 0, 0, 0, 0, 2, 32, 1},
    {116, 0, 0, 0, 0, 0, 4, 32, 1},
};

void ChannelFormat(COLORFORMAT* f, int channels, int bits, int isFloat) {
    std::memset(f, 0, sizeof(*f));
    f->ChannelCount = static_cast<std::uint8_t>(channels);
    f->BitsPerChannel = static_cast<std::uint8_t>(bits);
    f->FloatFlag = static_cast<std::uint8_t>(isFloat);
    f->BytesPerPixel = static_cast<std::uint8_t>(channels * bits / 8);
}

std::uint32_t FourCc(const char* s) {
    return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
           std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}

}  // namespace

int ReadDdsImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    In in{access};
    const std::int64_t size = in.Size();
    std::uint8_t head[128] = {};
    if (!in.Read(head, 4) || head[0] != 'D' || head[1] != 'D' || head[2] != 'S') return -1;
    if (!in.Read(head + 4, 4)) return -1;
    const std::uint32_t headerSize = U32(head + 4);
    // The fields run to caps2 at header offset 112; the header is never longer than 124 bytes.
    if (headerSize < 112 || headerSize > 124 || !in.Read(head + 8, headerSize - 4)) return -1;
    const std::uint32_t flags = U32(head + 8);
    const std::int32_t height = I32(head + 12), width = I32(head + 16);
    const std::uint32_t pitchField = U32(head + 20), mipField = U32(head + 28);
    const std::uint32_t pfFlags = U32(head + 80), fourCc = U32(head + 84),
                        bitCount = U32(head + 88);
    const std::uint32_t rMask = U32(head + 92), gMask = U32(head + 96), bMask = U32(head + 100),
                        aMask = U32(head + 104);
    const std::uint32_t caps = U32(head + 108), caps2 = U32(head + 112);
    if (width <= 0 || height <= 0 || width > 65536 || height > 65536) return -1;

    COLORFORMAT& f = image->Format;
    std::memset(&f, 0, sizeof(f));
    bool found = false;
    if (pfFlags == 0x4) {
        for (const D3dFormat& d : kD3dFormats) {
            if (d.code != fourCc) continue;
            if (d.channels) {
                ChannelFormat(&f, d.channels, d.channelBits, d.isFloat);
            } else {
                InitColorFormatFromMasks(&f, d.bits, d.red, d.green, d.blue, d.alpha, 0, 0, 0);
            }
            found = true;
        }
    }
    int block = 0, blockSize = 0;
    if (!found) {
        std::memset(&f, 0, sizeof(f));
        if (pfFlags & 0x4) {
            if (fourCc == FourCc("DX10")) {
                std::uint8_t ext[20];
                if (!in.Read(ext, 20)) return -1;
                if (U32(ext) == 98) block = 6;
                if (U32(ext) == 99) block = 7;
                blockSize = 16;
            } else if (fourCc == FourCc("DXT1")) {
                block = 1;
                blockSize = 8;
            } else {
                for (int i = 2; i <= 5; ++i) {
                    char name[5] = {'D', 'X', 'T', char('0' + i), 0};
                    if (fourCc == FourCc(name)) {
                        block = i;
                        blockSize = 16;
                    }
                }
            }
        }
        if (block == 0) {
            if (!(pfFlags & 0x40)) return -1;
            if (bitCount == 8 && rMask == 0xFF) {
                ChannelFormat(&f, 1, 8, 0);
            } else if (bitCount == 16 && rMask == 0xFF00 && gMask == 0xFF) {
                ChannelFormat(&f, 2, 8, 0);
            } else {
                if (bitCount == 0 || bitCount > 32 || bitCount % 8 != 0) return -1;
                InitColorFormatFromMasks(&f, static_cast<int>(bitCount), rMask, gMask, bMask, aMask,
                                         0, 0, 0);
            }
        }
    }
    int mips =
        (flags & 0x20000) && (caps & 0x8) && (caps & 0x400000) ? static_cast<int>(mipField) : 0;
    if (mips < 0 || mips > 32) return -1;
    const int faces = (caps2 & 0x200) && (caps2 & 0xFC00) == 0xFC00 ? 6 : 1;
    const int levels = mips >= 2 ? mips : 1;
    const std::int64_t dataStart = in.Tell();
    const std::uint64_t available = size > dataStart ? std::uint64_t(size - dataStart) : 0;

    image->Width = width;
    image->Height = height;
    image->MipCount = mips;
    image->ImageCount = faces == 6 ? 6 : 0;
    image->Pixels = nullptr;
    std::uint64_t total = 0;
    std::uint64_t pitch = 0;
    if (block != 0) {
        InitColorFormatFromMasks(&f, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0, 0, 0);
        f.FormatKind = static_cast<std::uint8_t>(block);
        f.BitsPerPixel = block == 1 ? 4 : 8;
        if (mips >= 2) {
            std::uint64_t w = (std::uint64_t(width) + 3) & ~3ull,
                          h = (std::uint64_t(height) + 3) & ~3ull;
            for (int i = 0; i < levels; ++i) {
                total += ((w + 3) / 4) * ((h + 3) / 4) * blockSize;
                w = std::max<std::uint64_t>(1, w / 2);
                h = std::max<std::uint64_t>(1, h / 2);
            }
        } else {
            total =
                ((std::uint64_t(width) + 3) / 4) * ((std::uint64_t(height) + 3) / 4) * blockSize;
        }
        total *= faces;
    } else {
        const std::uint64_t bpp = f.BytesPerPixel;
        if (bpp == 0) return -1;
        pitch = (flags & 0x8) ? pitchField : bpp * width;
        if (pitch < bpp * width) return -1;
        // The levels of a chain are read without row padding, so their rows are a row apart.
        if (mips >= 2) pitch = bpp * width;
        if (mips >= 2) {
            for (int i = 0; i < levels; ++i) {
                total += std::max<std::uint64_t>(1, std::uint64_t(width) >> i) * bpp *
                         std::max<std::uint64_t>(1, std::uint64_t(height) >> i) * faces;
            }
        } else {
            total = pitch * height * faces;
        }
    }
    image->Pitch = static_cast<std::int32_t>(std::min<std::uint64_t>(pitch, INT32_MAX));
    if (headerOnly) {
        image->Pitch = 0;
        return 0;
    }
    if (total > kMaxImageBytes) return -1;
    if (block != 0 || mips < 2) {
        if (available < total) return -1;
        void* pixels = Allocate(total);
        if (pixels == nullptr || !in.Copy(pixels, total)) {
            FreeTrackedMemory(pixels);
            return -1;
        }
        image->Pixels = pixels;
        return 0;
    }
    // A plain mip chain: level by level, each for every face; a short file keeps what it holds.
    const std::uint64_t bpp = f.BytesPerPixel;
    if (available < std::uint64_t(width) * bpp * height * faces) return -1;
    auto* pixels = static_cast<std::uint8_t*>(Allocate(total));
    if (pixels == nullptr) return -1;
    std::uint64_t at = 0;
    for (int i = 0; i < levels; ++i) {
        const std::uint64_t bytes = std::max<std::uint64_t>(1, std::uint64_t(width) >> i) * bpp *
                                    std::max<std::uint64_t>(1, std::uint64_t(height) >> i) * faces;
        if (!in.Copy(pixels + at, bytes)) {
            if (i == 0) {
                FreeTrackedMemory(pixels);
                return -1;
            }
            image->MipCount = i;
            break;
        }
        at += bytes;
    }
    image->Pixels = pixels;
    return 0;
}

// --- Raw formats --------------------------------------------------------------------------

int ReadBgraImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    In in{access};
    const std::int64_t size = in.Size();
    std::uint8_t h[16];
    if (!in.Read(h, 16) || std::memcmp(h, "BGRA", 4) != 0) return -1;
    const std::uint32_t code = U32(h + 4);
    if (code != 0x08080808 && code != 0x10101010) return -1;
    const std::int32_t width = I32(h + 8), height = I32(h + 12);
    if (width <= 0 || height <= 0) return -1;
    const bool wide = code == 0x10101010;
    const std::uint64_t pitch = std::uint64_t(width) * 4;
    InitColorFormatRgb24(&image->Format);
    image->Format.BytesPerPixel = 4;
    image->Format.BitsPerPixel = 32;
    image->Format.AlphaWidth = 8;
    image->Format.AlphaPosition = 24;
    image->Format.AlphaMask = 0xFF000000u;
    image->Width = width;
    image->Height = height;
    image->Pitch = static_cast<std::int32_t>(std::min<std::uint64_t>(pitch, INT32_MAX));
    image->MipCount = 0;
    image->ImageCount = 0;
    image->Pixels = nullptr;
    if (headerOnly) return 0;
    if (std::uint64_t(size - 16) < pitch * height * (wide ? 2 : 1)) return -1;
    auto* pixels = static_cast<std::uint8_t*>(Allocate(pitch * height));
    if (pixels == nullptr) return -1;
    bool ok = true;
    if (!wide) {
        ok = in.Read(pixels, pitch * height);
    } else {
        auto* row = static_cast<std::uint8_t*>(Allocate(pitch * 2));
        ok = row != nullptr;
        for (std::int32_t y = 0; ok && y < height; ++y) {
            ok = in.Read(row, pitch * 2);
            for (std::uint64_t i = 0; ok && i < pitch; ++i) pixels[y * pitch + i] = row[i * 2 + 1];
        }
        FreeTrackedMemory(row);
    }
    if (!ok) {
        FreeTrackedMemory(pixels);
        return -1;
    }
    image->Pixels = pixels;
    return 0;
}

int ReadDbimImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    In in{access};
    const std::int64_t size = in.Size();
    std::uint8_t h[41];
    if (!in.Read(h, 4) || std::memcmp(h, "DBIM", 4) != 0) return -1;
    std::memset(image, 0, sizeof(*image));
    if (!in.Read(h + 4, 37)) return -1;
    image->Width = I32(h + 4);
    image->Height = I32(h + 8);
    image->Pitch = I32(h + 12);
    image->MipCount = I32(h + 16);
    image->ImageCount = I32(h + 20);
    const std::uint64_t offset = U32(h + 24);
    const std::uint64_t dataSize = U32(h + 28);
    COLORFORMAT& f = image->Format;
    f.FormatKind = h[36];
    f.ChannelCount = h[37];
    f.BitsPerChannel = h[38];
    f.FloatFlag = h[39];
    f.BytesPerPixel = h[40];
    if (f.FormatKind == 0 && (f.ChannelCount == 0 || f.BitsPerChannel == 0)) {
        std::uint8_t b[31];
        if (!in.Read(b, 31)) return -1;
        f.BitsPerPixel = b[0];
        f.UnusedPosition = b[1];
        f.UnusedWidth = b[2];
        f.RedWidth = b[3], f.GreenWidth = b[4], f.BlueWidth = b[5], f.AlphaWidth = b[6];
        f.RedPosition = b[7], f.GreenPosition = b[8], f.BluePosition = b[9],
        f.AlphaPosition = b[10];
        f.RedMask = U32(b + 11), f.GreenMask = U32(b + 15), f.BlueMask = U32(b + 19),
        f.AlphaMask = U32(b + 23), f.UnusedMask = U32(b + 27);
        if (f.BitsPerPixel <= 8) {
            std::uint8_t highest[4];
            if (!in.Read(highest, 4)) return -1;
            f.HighestPaletteIndex = I32(highest);
            if (!in.Read(f.Palette, (std::uint64_t(1) << f.BitsPerPixel) * 4)) return -1;
        }
    }
    // The record must describe an image its data holds: positive sizes, a pitch that holds a row,
    // and data inside the file that covers every level and face.
    if (image->Width <= 0 || image->Height <= 0 || image->MipCount < 0 || image->MipCount > 32 ||
        (image->ImageCount != 0 && image->ImageCount != 6) || f.FormatKind > 7) {
        return -1;
    }
    const int faces = image->ImageCount == 6 ? 6 : 1;
    const int levels = image->MipCount >= 2 ? image->MipCount : 1;
    std::uint64_t needed = 0;
    if (f.FormatKind != 0) {
        const std::uint64_t blockSize = f.FormatKind == 1 ? 8 : 16;
        std::uint64_t w = image->Width, hh = image->Height;
        for (int i = 0; i < levels; ++i) {
            needed += ((w + 3) / 4) * ((hh + 3) / 4) * blockSize;
            w = std::max<std::uint64_t>(1, w / 2);
            hh = std::max<std::uint64_t>(1, hh / 2);
        }
        needed *= faces;
    } else {
        const std::uint64_t bpp = f.BytesPerPixel;
        if (bpp == 0 || image->Pitch <= 0 || std::uint64_t(image->Pitch) < bpp * image->Width) {
            return -1;
        }
        needed = std::uint64_t(image->Pitch) * image->Height * faces;
    }
    if (headerOnly) return 0;
    if (dataSize < needed || dataSize == 0 || offset + dataSize > std::uint64_t(size) ||
        !in.Seek(static_cast<std::int64_t>(offset))) {
        return -1;
    }
    void* pixels = Allocate(dataSize);
    if (pixels == nullptr || !in.Read(pixels, dataSize)) {
        FreeTrackedMemory(pixels);
        return -1;
    }
    image->Pixels = pixels;
    return 0;
}

// --- Writers ------------------------------------------------------------------------------

namespace {

// A pixel's channels as 0..255, from any plain or channel format; false when it has none.
bool PixelRgba(const BASEIMAGE* image, int x, int y, int* r, int* g, int* b, int* a) {
    const COLORFORMAT& f = image->Format;
    const auto* p = static_cast<const std::uint8_t*>(image->Pixels) +
                    std::int64_t(y) * image->Pitch + std::int64_t(x) * f.BytesPerPixel;
    *r = *g = *b = 0;
    *a = 255;
    if (f.ChannelCount != 0 && f.BitsPerChannel != 0) {
        int* out[4] = {r, g, b, a};
        for (int c = 0; c < f.ChannelCount && c < 4; ++c) {
            float v = 0;
            if (f.FloatFlag && f.BitsPerChannel == 16) {
                v = HalfToFloat(U16(p + c * 2)) * 255.0f;
            } else if (f.FloatFlag && f.BitsPerChannel == 32) {
                std::memcpy(&v, p + c * 4, 4);
                v *= 255.0f;
            } else if (f.BitsPerChannel == 8) {
                v = p[c];
            } else if (f.BitsPerChannel == 16) {
                v = U16(p + c * 2) >> 8;
            } else {
                return false;
            }
            *out[c] = static_cast<int>(std::clamp(v, 0.0f, 255.0f));
        }
        return true;
    }
    // Palette and mask formats read as the base images read them.
    return ReadBaseImagePixelRgba(const_cast<BASEIMAGE*>(image), x, y, r, g, b, a) == 0;
}

const char16_t* const kBmpInfoMemory = u"BITMAPINFO構造体用メモリの確保に失敗しました\n";
const char16_t* const kBmpPixelMemory = u"グラフィック保存用メモリの確保に失敗しました\n";
const char16_t* const kBmpOpen = u"ＢＭＰセーブ用ファイルのオープンに失敗しました\n";

bool WriteAll(void* file, const void* data, std::size_t size) {
    std::size_t written = 0;
    WriteFileBytes(file, data, size, &written);
    return written == size;
}

}  // namespace

int WriteBaseImageBmpFile(const char16_t* path, const BASEIMAGE* image) {
    const COLORFORMAT& f = image->Format;
    if (image->Pixels == nullptr || image->Width <= 0 || image->Height <= 0) return -1;
    if (f.FormatKind != 0) {
        // Block images are written from a decoded ARGB8 copy; the caller's image is untouched.
        BASEIMAGE decoded = *image;
        if (DecodeBlockCompressedBaseImage(&decoded, 0) != 0) return -1;
        const int written = WriteBaseImageBmpFile(path, &decoded);
        FreeTrackedMemory(decoded.Pixels);
        return written;
    }
    // Channel formats and any other pixel size of 2 to 4 bytes are written as 24-bit through
    // their channels.
    const bool palette = f.BitsPerPixel == 8 && f.ChannelCount == 0 && f.BytesPerPixel == 1;
    const bool channels = f.ChannelCount != 0 && f.BitsPerChannel != 0;
    if (!palette && !channels && (f.BytesPerPixel < 2 || f.BytesPerPixel > 4)) return -1;
    const std::uint64_t w = image->Width, h = image->Height;
    const std::uint64_t pitch = palette ? (w + 3) & ~3ull : (w * 3 + 3) & ~3ull;
    const std::uint64_t headerBytes = palette ? 14 + 40 + 1024 : 14 + 40;
    if (pitch * h + headerBytes > kMaxImageBytes) return -1;
    auto* header = static_cast<std::uint8_t*>(
        AllocateTrackedMemoryZeroed(headerBytes, "DxBaseImage", __LINE__));
    if (header == nullptr) {
        WriteLogTextUtf16(kBmpInfoMemory);
        return -1;
    }
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<std::uint32_t>(headerBytes + pitch * h));
    Put32(header + 10, static_cast<std::uint32_t>(headerBytes));
    std::uint8_t* info = header + 14;
    Put32(info, 40);
    Put32(info + 4, static_cast<std::uint32_t>(w));
    Put32(info + 8, static_cast<std::uint32_t>(h));
    Put16(info + 12, 1);
    Put16(info + 14, palette ? 8 : 24);
    if (palette) {
        for (int i = 0; i < 256; ++i) std::memcpy(info + 40 + i * 4, f.Palette[i], 3);
    }
    auto* rows =
        static_cast<std::uint8_t*>(AllocateTrackedMemoryZeroed(pitch * h, "DxBaseImage", __LINE__));
    if (rows == nullptr) {
        FreeTrackedMemory(header);
        WriteLogTextUtf16(kBmpPixelMemory);
        return -1;
    }
    const auto* src = static_cast<const std::uint8_t*>(image->Pixels);
    for (std::uint64_t y = 0; y < h; ++y) {
        const std::uint8_t* s = src + y * image->Pitch;
        std::uint8_t* d = rows + (h - 1 - y) * pitch;
        if (palette) {
            std::memcpy(d, s, w);
            continue;
        }
        for (std::uint64_t x = 0; x < w; ++x) {
            int r, g, b, a;
            if (!channels && f.BytesPerPixel == 4 && f.RedMask == 0xFF && f.GreenMask == 0xFF00 &&
                f.BlueMask == 0xFF0000) {
                b = s[x * 4 + 2], g = s[x * 4 + 1], r = s[x * 4];
            } else if (!channels && f.BytesPerPixel >= 3 && f.RedMask == 0xFF0000 &&
                       f.GreenMask == 0xFF00 && f.BlueMask == 0xFF) {
                const std::uint8_t* p = s + x * f.BytesPerPixel;
                b = p[0], g = p[1], r = p[2];
            } else if (!channels && f.BytesPerPixel == 2 && f.FloatFlag == 0) {
                const std::uint32_t v = U16(s + x * 2);
                auto top = [&](std::uint32_t mask, int width, int position) {
                    if (width == 0) return 0;
                    std::uint32_t c = (v & mask) >> position;
                    return static_cast<int>(width >= 8 ? c >> (width - 8) : c << (8 - width));
                };
                r = top(f.RedMask, f.RedWidth, f.RedPosition);
                g = top(f.GreenMask, f.GreenWidth, f.GreenPosition);
                b = top(f.BlueMask, f.BlueWidth, f.BluePosition);
            } else if (!PixelRgba(image, static_cast<int>(x), static_cast<int>(y), &r, &g, &b,
                                  &a)) {
                FreeTrackedMemory(rows);
                FreeTrackedMemory(header);
                return -1;
            }
            d[x * 3] = static_cast<std::uint8_t>(b);
            d[x * 3 + 1] = static_cast<std::uint8_t>(g);
            d[x * 3 + 2] = static_cast<std::uint8_t>(r);
        }
    }
    RemoveFileByPath(path);
    void* file = CreateWriteFile(path);
    if (file == nullptr) {
        FreeTrackedMemory(rows);
        FreeTrackedMemory(header);
        WriteLogTextUtf16(kBmpOpen);
        return -1;
    }
    const bool ok = WriteAll(file, header, headerBytes) && WriteAll(file, rows, pitch * h);
    CloseWriteFile(file);
    FreeTrackedMemory(rows);
    FreeTrackedMemory(header);
    return ok ? 0 : -1;
}

int WriteBaseImageDdsFile(const char16_t* path, const BASEIMAGE* images, int cube, int mipCount) {
    const BASEIMAGE& first = images[0];
    const COLORFORMAT& f = first.Format;
    if (f.FormatKind != 0 || f.BytesPerPixel == 0) return -1;
    const int levels = mipCount >= 2 ? mipCount : 1;
    std::uint8_t h[128] = {};
    std::memcpy(h, "DDS ", 4);
    Put32(h + 4, 124);
    Put32(h + 8, mipCount >= 2 ? 0x2100F : 0x100F);
    Put32(h + 12, first.Height);
    Put32(h + 16, first.Width);
    Put32(h + 20, static_cast<std::uint32_t>(f.BytesPerPixel) * first.Width);
    Put32(h + 28, mipCount >= 2 ? mipCount : 0);
    Put32(h + 76, 32);
    std::uint32_t caps = mipCount >= 2 ? 0x401008 : 0x1000;
    if (f.ChannelCount != 0 && f.FloatFlag) {
        static const std::uint32_t k16[5] = {0, 111, 112, 0, 113}, k32[5] = {0, 114, 115, 0, 116};
        if (f.BitsPerChannel != 16 && f.BitsPerChannel != 32) {
            WriteLogTextUtf16(u"ＤＤＳセーブエラー：非対応のfloat型ビット数です\n");
            return -1;
        }
        const std::uint32_t code =
            f.ChannelCount <= 4 ? (f.BitsPerChannel == 16 ? k16 : k32)[f.ChannelCount] : 0;
        if (code == 0) {
            WriteLogTextUtf16(u"ＤＤＳセーブエラー：非対応のfloat型チャンネル数です\n");
            return -1;
        }
        Put32(h + 80, 0x4);
        Put32(h + 84, code);
    } else if (f.ChannelCount != 0 && f.BitsPerChannel == 16) {
        static const std::uint32_t k[5] = {0, 81, 34, 0, 36};
        const std::uint32_t code = f.ChannelCount <= 4 ? k[f.ChannelCount] : 0;
        if (code == 0) {
            WriteLogTextUtf16(
                u"ＤＤＳセーブエラー：非対応の整数型1チャンネル16ビットの型チャンネル数です\n");
            return -1;
        }
        Put32(h + 80, 0x4);
        Put32(h + 84, code);
    } else if (f.ChannelCount != 0) {
        static const std::uint32_t masks[4][4] = {{0xFF, 0, 0, 0},
                                                  {0xFF00, 0xFF, 0, 0},
                                                  {0xFF0000, 0xFF00, 0xFF, 0},
                                                  {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}};
        if (f.BitsPerChannel != 8 || f.ChannelCount > 4) return -1;
        Put32(h + 80, 0x40);
        Put32(h + 88, f.ChannelCount * 8u);
        for (int i = 0; i < 4; ++i) Put32(h + 92 + i * 4, masks[f.ChannelCount - 1][i]);
    } else {
        Put32(h + 80, f.AlphaWidth != 0 ? 0x41 : 0x40);
        Put32(h + 88, f.BitsPerPixel);
        Put32(h + 92, f.RedMask);
        Put32(h + 96, f.GreenMask);
        Put32(h + 100, f.BlueMask);
        Put32(h + 104, f.AlphaMask);
        if (f.AlphaWidth != 0) caps |= 0x2;
    }
    Put32(h + 108, caps);
    Put32(h + 112, cube ? 0xFE00 : 0);
    RemoveFileByPath(path);
    void* file = CreateWriteFile(path);
    if (file == nullptr) {
        WriteLogTextUtf16(u"ＤＤＳセーブ用ファイルのオープンに失敗しました\n");
        return -1;
    }
    bool ok = WriteAll(file, h, 128);
    // Levels are written unpadded, face after face, as the reader reads them.
    const BASEIMAGE* next = images;
    for (int face = 0; ok && face < (cube ? 6 : 1); ++face) {
        for (int level = 0; ok && level < levels; ++level, ++next) {
            const std::size_t row = std::size_t(next->Width) * next->Format.BytesPerPixel;
            const auto* p = static_cast<const std::uint8_t*>(next->Pixels);
            for (int y = 0; ok && y < next->Height; ++y) {
                ok = WriteAll(file, p + std::int64_t(y) * next->Pitch, row);
            }
        }
    }
    CloseWriteFile(file);
    return ok ? 0 : -1;
}

}  // namespace ZiDaz

// --- The reader driver ---------------------------------------------------------------------

namespace ZiDaz {

ImageReader ImageLoaderTable[10] = {ReadBmpImage,  ReadJpegImage, ReadPngImage,  ReadPngImageLibpng,
                                    ReadTgaImage,  ReadDdsImage,  ReadTiffImage, ReadBgraImage,
                                    ReadDbimImage, nullptr};
ImageReader PlatformImageReaderTable[2] = {ReadWicImage, nullptr};

void InitImageLoadParams(ImageLoadParams* params, int headerOnly) {
    std::memset(params, 0, sizeof(*params));
    CopyUserImageReaders(params, headerOnly);
    params->StreamFunctions = *GetStreamFunctionTable();
    params->FileAccess = *GetFileStreamAccess();
    params->MemoryAccess = *GetMemoryStreamAccess();
    params->ConvertToPremultipliedAlpha = BaseImageLoadSettings.ConvertToPremultipliedAlpha;
    params->DecodeBlockFormats = BaseImageLoadSettings.DecodeBlockFormats;
    params->UseTransparentColor = BaseImageLoadSettings.UseTransparentColor;
    params->TransparentColor = BaseImageLoadSettings.TransparentColor;
}

int RunImageReaders(const ImageLoadParams* params, ImageReaderAccess* access, BASEIMAGE* image) {
    auto attempt = [&](ImageReader reader) {
        access->Ops->Seek(access->Stream, 0, 0);
        std::memset(image, 0, sizeof(*image));
        return reader(access, image, params->HeaderOnly) == 0;
    };
    std::memset(image, 0, sizeof(*image));
    for (int i = 0; i < params->UserReaderCount && i < 10; ++i) {
        access->Ops->Seek(access->Stream, 0, 0);
        std::memset(image, 0, sizeof(*image));
        if (params->UserReaders[i] && params->UserReaders[i](access, image) == 0) return 0;
    }
    const bool platformLast = BaseImageLoadSettings.PlatformReadersLast == 1;
    if (!platformLast) {
        for (ImageReader* r = PlatformImageReaderTable; *r; ++r) {
            if (attempt(*r)) return 0;
        }
    }
    for (ImageReader* r = ImageLoaderTable; *r; ++r) {
        if (attempt(*r)) return 0;
    }
    if (platformLast) {
        for (ImageReader* r = PlatformImageReaderTable; *r; ++r) {
            if (attempt(*r)) return 0;
        }
    }
    std::memset(image, 0, sizeof(*image));
    return -1;
}

int ReadImageWithParams(const ImageLoadParams* params, const char16_t* path, const void* memory,
                        std::size_t memorySize, int fromMemory, int makeDib, int mirror,
                        int separateAlpha, BASEIMAGE* result, BITMAPINFO** bitmapInfo,
                        void** pixelBits) {
    void* copy = nullptr;
    const void* bytes = memory;
    std::size_t size = memorySize;
    if (!fromMemory) {
        const StreamFunctionTable& t = params->StreamFunctions;
        StreamValue stream = t.Open(path, 0, 1, 0);
        if (stream == 0) return -1;
        t.Seek(stream, 0, 2);
        std::int64_t length = t.Tell(stream);
        t.Seek(stream, 0, 0);
        size = static_cast<std::uint32_t>(length);
        copy = Allocate(std::max<std::size_t>(size, 1));
        if (copy == nullptr || (size != 0 && t.Read(copy, size, 1, stream) != 1)) {
            FreeTrackedMemory(copy);
            t.Close(stream);
            return -1;
        }
        t.Close(stream);
        bytes = copy;
    } else if (memory == nullptr) {
        return -1;
    }
    MemoryStream* stream = CreateMemoryStream(bytes, size);
    if (stream == nullptr) {
        FreeTrackedMemory(copy);
        return -1;
    }
    ImageReaderAccess access{&params->MemoryAccess, stream};
    BASEIMAGE image{};
    const int found = RunImageReaders(params, &access, &image);
    params->MemoryAccess.Close(stream);
    if (found != 0) {
        FreeTrackedMemory(copy);
        return -1;
    }
    if (!params->HeaderOnly) {
        // Mirroring, keying and the DIB all need plain pixels, so block images decode first.
        auto fail = [&]() {
            FreeTrackedMemory(image.Pixels);
            FreeTrackedMemory(copy);
            return -1;
        };
        if (mirror == 1) {
            if (DecodeBlockCompressedBaseImage(&image, 1) != 0) return fail();
            MirrorBaseImageHorizontally(&image);
        }
        if (params->DecodeBlockFormats && DecodeBlockCompressedBaseImage(&image, 1) != 0) {
            return fail();
        }
        if (params->ConvertToPremultipliedAlpha) {
            if (image.Format.AlphaWidth == 0 && params->UseTransparentColor == 1 &&
                !separateAlpha) {
                // Colour keying: the transparent colour becomes transparent black in ARGB8;
                // every other pixel has alpha 255, which is already premultiplied.
                if (DecodeBlockCompressedBaseImage(&image, 1) != 0) return fail();
                const COLORFORMAT& f = image.Format;
                const bool argb8 = f.ChannelCount == 0 && f.BytesPerPixel == 4 &&
                                   f.BitsPerPixel == 32 && f.FloatFlag == 0 && f.UnusedMask == 0 &&
                                   f.AlphaMask == 0xFF000000u && f.RedMask == 0xFF0000 &&
                                   f.GreenMask == 0xFF00 && f.BlueMask == 0xFF;
                if (!argb8) {
                    BASEIMAGE argbImage{};
                    if (NewBaseImageArgb8(image.Width, image.Height, &argbImage) != 0) {
                        return fail();
                    }
                    if (CopyWholeBaseImage(0, 0, &image, &argbImage) != 0) {
                        DisposeBaseImage(&argbImage);
                        return fail();
                    }
                    DisposeBaseImage(&image);
                    image = argbImage;
                }
                const std::uint32_t key = params->TransparentColor | 0xFF000000u;
                for (int y = 0; y < image.Height; ++y) {
                    auto* row = reinterpret_cast<std::uint32_t*>(
                        static_cast<std::uint8_t*>(image.Pixels) +
                        static_cast<std::ptrdiff_t>(y) * image.Pitch);
                    for (int x = 0; x < image.Width; ++x) {
                        if (row[x] == key) row[x] = 0;
                    }
                }
            } else if (PremultiplyBaseImageAlpha(&image) != 0) {
                return fail();
            }
        }
        if (makeDib) {
            if (DecodeBlockCompressedBaseImage(&image, 1) != 0) return fail();
            auto* info = static_cast<BITMAPINFO*>(
                AllocateTrackedMemoryZeroed(1068, "DxBaseImage", __LINE__));
            if (info == nullptr) return fail();
            void* bits = nullptr;
            const int made = BaseImageToBitmapInfo(&image, info, &bits, 0, 0);
            if (made == -1) {
                FreeTrackedMemory(info);
                return fail();
            }
            // 1: the DIB has its own copy; 0: the image's pixels now belong to the DIB.
            if (made == 1) FreeTrackedMemory(image.Pixels);
            FreeTrackedMemory(copy);
            *bitmapInfo = info;
            *pixelBits = bits;
            return 0;
        }
    }
    *result = image;
    FreeTrackedMemory(copy);
    return 0;
}

int ReadImageToBaseImage(const char16_t* path, const void* memory, std::size_t memorySize,
                         int fromMemory, int makeDib, int mirror, int separateAlpha,
                         BASEIMAGE* result, BITMAPINFO** bitmapInfo, void** pixelBits) {
    ImageLoadParams params;
    InitImageLoadParams(&params, 0);
    return ReadImageWithParams(&params, path, memory, memorySize, fromMemory, makeDib, mirror,
                               separateAlpha, result, bitmapInfo, pixelBits);
}

int LoadBaseImageWithAlphaFile(const ImageLoadParams* params, const char16_t* path,
                               const void* memory, std::size_t memorySize, int fromMemory,
                               const void* alphaMemory, std::size_t alphaMemorySize, int alphaMode,
                               BASEIMAGE* result, BASEIMAGE* alphaResult, int mirror,
                               int separateAlpha) {
    if (ReadImageWithParams(params, path, memory, memorySize, fromMemory, 0, mirror, separateAlpha,
                            result, nullptr, nullptr) != 0) {
        return -1;
    }
    if (alphaResult == nullptr) return 1;
    int read;
    if (alphaMode == 0) {
        char16_t name[3072 / sizeof(char16_t)];
        MakeAlphaImageFileName(path, name, static_cast<int>(sizeof(name)));
        read = ReadImageWithParams(params, name, nullptr, 0, 0, 0, mirror, 0, alphaResult, nullptr,
                                   nullptr);
    } else if (alphaMode == 1) {
        read = ReadImageWithParams(params, nullptr, alphaMemory, alphaMemorySize, 1, 0, mirror, 0,
                                   alphaResult, nullptr, nullptr);
    } else {
        return 1;
    }
    return read == 0 ? 0 : 1;
}

}  // namespace ZiDaz
