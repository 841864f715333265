// Memory images, the software renderer's drawing state and its lookup tables.
#include "Main/DxMemImg.h"

#include <algorithm>
#include <cstring>

#include "Main/DxMemImgBlend.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

MemImgDrawStateRecord MemImgDrawState;

namespace {

// Allocation tags of this module: the shared record, the palette block, the pixels and the run
// table each carry their own line so the memory dumps tell them apart.
constexpr const char* kAllocTag = "DxMemImg";
constexpr int kSharedLine = 298;
constexpr int kPaletteLine = 329;
constexpr int kPixelsLine = 415;
constexpr int kRunTableLine = 437;

void FreeSharedContents(MemImgShared* shared) {
    if (shared->UserPixels == 0) FreeTrackedMemory(shared->Pixels);
    shared->Pixels = nullptr;
    FreeTrackedMemory(shared->RunTable);
    shared->RunTable = nullptr;
    FreeTrackedMemory(shared->PaletteTable);
    shared->PaletteTable = nullptr;
}

}  // namespace

int InitMemImgModule() {
    for (int p = 0; p < 256; ++p) {
        std::int32_t* row = MemImgDrawState.MemImgSignedScaleTable[p];
        row[0] = 0;
        for (int j = 1; j < 512; ++j) row[j] = p * (j - 256) / 255;  // truncates toward zero
    }
    for (int p = 0; p < 256; ++p) {
        for (int v = 0; v < 256; ++v) MemImgDrawState.MemImgScaleTable[p][v] = p * v / 255;
    }
    return 0;
}

void BuildMemImgBlendImageTable(int borderPosition, int borderRange) {
    const int q = 65536 / (borderRange + 1) + 256;
    const int k = 256 - (borderPosition * q) / 256;
    for (int v = 0; v < 256; ++v) {
        const int t = (256 * v) / (borderRange + 1) + k;
        const int entry = k > 0 ? std::min(t, 255) : std::clamp(t, 0, 255);
        MemImgDrawState.BlendImageTable[v] = static_cast<std::uint8_t>(entry);
    }
}

int SetDefaultMemImgColorType(int colorType) {
    MemImgDrawState.DefaultColorType = colorType;
    return 0;
}

int SetMemImgDrawArea(const RECT* area) {
    MemImgDrawState.DrawArea = *area;
    return 0;
}

int SetMemImgBlendMode(int mode, int param) {
    MemImgDrawState.BlendMode = mode;
    MemImgDrawState.BlendParam = param;
    return 0;
}

int SetMemImgDrawBright(std::uint32_t bright) {
    MemImgDrawState.DrawBright = bright;
    return 0;
}

int ClipRectangle(RECT* rect, const RECT* bound) {
    if (rect->right < rect->left) rect->right = rect->left;
    if (rect->bottom < rect->top) rect->bottom = rect->top;
    rect->top = std::clamp(rect->top, bound->top, std::max(bound->top, bound->bottom));
    rect->bottom = std::clamp(rect->bottom, bound->top, std::max(bound->top, bound->bottom));
    rect->left = std::clamp(rect->left, bound->left, std::max(bound->left, bound->right));
    rect->right = std::clamp(rect->right, bound->left, std::max(bound->left, bound->right));
    return 0;
}

const COLORFORMAT* SelectMemImgColorFormat(int colorType, int useAlpha, int usePalette) {
    if (colorType < 0 || colorType > 3) return nullptr;
    int slot;
    if (colorType >= 2) {
        slot = 6 + colorType;
    } else {
        slot = colorType * 4 + (useAlpha != 0 && usePalette != 0 ? 0
                                : useAlpha != 0                  ? 1
                                : usePalette != 0                ? 2
                                                                 : 3);
    }
    auto& entry = MemImgDrawState.MemImgColorFormats[slot];
    if (entry.Built != 0) return &entry.Format;
    COLORFORMAT* f = &entry.Format;
    if (colorType >= 2) {
        // Single-channel formats: one value that every channel reads.
        const std::uint32_t mask = colorType == 2 ? 0xFFu : 0xFFFFu;
        const std::uint8_t width = colorType == 2 ? 8 : 16;
        std::memset(f, 0, sizeof(*f));
        f->BitsPerPixel = width;
        f->BytesPerPixel = static_cast<std::uint8_t>(width / 8);
        f->RedMask = f->GreenMask = f->BlueMask = f->AlphaMask = mask;
        f->RedWidth = f->GreenWidth = f->BlueWidth = f->AlphaWidth = width;
    } else {
        const bool palette = usePalette != 0;
        const bool alpha = useAlpha != 0;
        if (colorType == 0) {
            InitColorFormatFromMasks(f,
                                     palette ? 8
                                     : alpha ? 32
                                             : 16,
                                     0xF800, 0x07E0, 0x001F, alpha ? 0xFF0000u : 0u, 0, 0, 0);
        } else {
            InitColorFormatFromMasks(f, palette ? 8 : 32, 0xFF0000, 0xFF00, 0xFF,
                                     alpha ? 0xFF000000u : 0u, 0, 0, 0);
        }
    }
    entry.Built = 1;
    return f;
}

int MemImgBytesPerPixel(const MemImgShared* shared) {
    if (shared->UsePalette != 0) return 1;
    switch (shared->ColorType) {
        case 0:
            return shared->UseAlpha != 0 ? 4 : 2;
        case 1:
            return 4;
        case 2:
            return 1;
        default:
            return 2;
    }
}

int SetupMemImg(MEMIMG* image, int width, int height, int pitch, std::uint32_t transColor,
                int colorType, int usePalette, int useAlpha, int withDrawAids, void* userPixels) {
    if (image->ValidCode == MEMIMG_VALID_CODE) return -1;
    if (width < 0 || height < 0 || colorType < 0 || colorType > 3) return -1;

    // A failed set-up frees what it allocated, so a fresh record is taken every time.
    auto* shared = static_cast<MemImgShared*>(
        AllocateTrackedMemoryZeroed(sizeof(MemImgShared), kAllocTag, kSharedLine));
    if (shared == nullptr) return -1;
    image->Shared = nullptr;

    if (colorType >= 2) {
        usePalette = 0;
        useAlpha = 0;
    } else if (usePalette != 0) {
        useAlpha = 0;
    }
    shared->RefCount = 1;
    shared->Width = width;
    shared->Height = height;
    shared->UseTransColor = 1;
    shared->TransColor = transColor;
    shared->ColorType = static_cast<std::uint32_t>(colorType);
    shared->UsePalette = usePalette != 0 ? 1 : 0;
    shared->UseAlpha = useAlpha != 0 ? 1 : 0;
    shared->RunTableValid = 0;

    auto fail = [&]() {
        FreeSharedContents(shared);
        FreeTrackedMemory(shared);
        return -1;
    };
    if (shared->UsePalette != 0) {
        shared->PaletteTable = AllocateTrackedMemoryZeroed(1024, kAllocTag, kPaletteLine);
        if (shared->PaletteTable == nullptr) return fail();
    }
    const int bytes = MemImgBytesPerPixel(shared);
    shared->Pitch = pitch != -1 ? pitch : (bytes * width + 15) / 16 * 16;
    shared->Format = SelectMemImgColorFormat(colorType, shared->UseAlpha, shared->UsePalette);
    if (userPixels != nullptr) {
        shared->Pixels = static_cast<std::uint8_t*>(userPixels);
        shared->UserPixels = 1;
    } else {
        if (shared->Pitch < 0) return fail();
        const std::size_t size =
            static_cast<std::size_t>(shared->Pitch) * static_cast<std::size_t>(height);
        shared->Pixels =
            static_cast<std::uint8_t*>(AllocateTrackedMemory(size, kAllocTag, kPixelsLine));
        if (shared->Pixels == nullptr) return fail();
    }
    if (colorType != 2 && withDrawAids != 0) {
        const std::size_t size =
            (static_cast<std::size_t>(width) + 5) * static_cast<std::size_t>(height);
        shared->RunTable =
            static_cast<std::uint8_t*>(AllocateTrackedMemory(size, kAllocTag, kRunTableLine));
        if (shared->RunTable == nullptr) return fail();
    }
    image->Shared = shared;
    image->Width = width;
    image->Height = height;
    image->Pixels = shared->Pixels;
    image->ValidCode = MEMIMG_VALID_CODE;
    return 0;
}

int SetupMemImgDefault(MEMIMG* image, int width, int height, int colorType) {
    std::memset(image, 0, sizeof(*image));
    if (colorType == -1) colorType = MemImgDrawState.DefaultColorType;
    return SetupMemImg(image, width, height, -1, 0, colorType, 0, 0, 0, nullptr);
}

void ReleaseMemImg(MEMIMG* image) {
    if (image->ValidCode != MEMIMG_VALID_CODE) return;
    MemImgShared* shared = image->Shared;
    if (shared != nullptr && --shared->RefCount == 0) {
        FreeSharedContents(shared);
        FreeTrackedMemory(shared);
    }
    image->Shared = nullptr;
    image->ValidCode = 0;
}

int IsMemImgValid(const MEMIMG* image) {
    return image->ValidCode == MEMIMG_VALID_CODE && image->Shared != nullptr ? 1 : 0;
}

void MakeMemImgView(MEMIMG* view, const MEMIMG* source, int x, int y, int width, int height) {
    if (x < 0 || y < 0 || std::int64_t{x} + width > source->Width ||
        std::int64_t{y} + height > source->Height) {
        return;
    }
    MemImgShared* shared = source->Shared;
    view->Width = width;
    view->Height = height;
    view->ValidCode = MEMIMG_VALID_CODE;
    view->Pixels = source->Pixels + static_cast<std::ptrdiff_t>(x) * MemImgBytesPerPixel(shared) +
                   static_cast<std::ptrdiff_t>(y) * shared->Pitch;
    view->Shared = shared;
    ++shared->RefCount;
}

namespace {

// 64 bytes of a 2- or 4-byte pixel value, to fill rows with in blocks (a loop of 2- or 4-byte
// stores moves one pixel a step, a block copy of a constant 64 bytes a cache line).
struct FillPattern {
    FillPattern(int bytes, std::uint32_t value) {
        if (bytes == 4) {
            for (std::size_t i = 0; i < sizeof(block); i += 4) std::memcpy(block + i, &value, 4);
        } else {
            const auto pixel = static_cast<std::uint16_t>(value);
            for (std::size_t i = 0; i < sizeof(block); i += 2) std::memcpy(block + i, &pixel, 2);
        }
    }
    void Fill(std::uint8_t* row, std::size_t total) const {
        for (; total >= sizeof(block); total -= sizeof(block), row += sizeof(block)) {
            std::memcpy(row, block, sizeof(block));
        }
        if (total > 0) std::memcpy(row, block, total);
    }
    alignas(16) std::uint8_t block[64];
};

}  // namespace

void FillMemImgRect(MEMIMG* image, const RECT* rect, std::uint32_t value) {
    const RECT whole{0, 0, image->Width, image->Height};
    RECT r = whole;
    if (rect != nullptr) {
        r = *rect;
        ClipRectangle(&r, &whole);
    }
    if (r.left >= r.right || r.top >= r.bottom) return;
    const MemImgShared* shared = image->Shared;
    const int bytes = MemImgBytesPerPixel(shared);
    const int count = r.right - r.left;
    std::uint8_t* row = image->Pixels + static_cast<std::ptrdiff_t>(r.top) * shared->Pitch +
                        static_cast<std::ptrdiff_t>(r.left) * bytes;
    if (bytes != 1 && bytes != 2 && bytes != 4) return;
    const FillPattern pattern(bytes, value);
    const std::size_t rowBytes = static_cast<std::size_t>(count) * static_cast<std::size_t>(bytes);
    for (int y = r.top; y < r.bottom; ++y, row += shared->Pitch) {
        if (bytes == 1) {
            std::memset(row, static_cast<int>(value & 0xFF), rowBytes);
        } else {
            pattern.Fill(row, rowBytes);
        }
    }
}

namespace {

// Clips a copy of a width x height rectangle at (sourceX, sourceY) of a source of sourceWidth x
// sourceHeight to (destX, destY) of a destination of destWidth x destHeight: a negative start on
// either side moves the rectangle and shortens it, and the size is cut to what both images hold.
// Leaves width or height 0 when nothing remains.
void ClipCopyRect(int* sourceX, int* sourceY, int* width, int* height, int* destX, int* destY,
                  int sourceWidth, int sourceHeight, int destWidth, int destHeight) {
    auto clip = [](int* s, int* d, int* size, int sourceSize, int destSize) {
        std::int64_t sp = *s;
        std::int64_t dp = *d;
        std::int64_t n = std::max(*size, 0);
        if (sp < 0) {
            dp -= sp;
            n += sp;
            sp = 0;
        }
        if (dp < 0) {
            sp -= dp;
            n += dp;
            dp = 0;
        }
        n = std::min({n, std::int64_t{destSize} - dp, std::int64_t{sourceSize} - sp});
        if (n <= 0) {
            *size = 0;
            return;
        }
        *s = static_cast<int>(sp);
        *d = static_cast<int>(dp);
        *size = static_cast<int>(n);
    };
    clip(sourceX, destX, width, sourceWidth, destWidth);
    clip(sourceY, destY, height, sourceHeight, destHeight);
    if (*width == 0 || *height == 0) *width = *height = 0;
}

// The format through which the converter sees an image's pixels. Palette images are described as
// indices into their own palette (the shared formats carry no palette); 8-bit single-channel
// sources as indices into a grey ramp.
const COLORFORMAT* ConverterFormat(const MemImgShared* shared, bool asSource,
                                   COLORFORMAT* scratch) {
    if (shared->UsePalette != 0) {
        std::memset(scratch, 0, sizeof(*scratch));
        InitColorFormatPal8(scratch);
        for (int i = 0; i < 256; ++i) {
            const std::uint32_t entry =
                shared->ColorType == 0 ? static_cast<const std::uint16_t*>(shared->PaletteTable)[i]
                                       : static_cast<const std::uint32_t*>(shared->PaletteTable)[i];
            int r, g, b;
            DecomposeFormatColor(shared->Format, entry, &r, &g, &b, nullptr);
            scratch->Palette[i][0] = static_cast<std::uint8_t>(b);
            scratch->Palette[i][1] = static_cast<std::uint8_t>(g);
            scratch->Palette[i][2] = static_cast<std::uint8_t>(r);
            scratch->Palette[i][3] = 0;
        }
        return scratch;
    }
    if (asSource && shared->ColorType == 2) {
        std::memset(scratch, 0, sizeof(*scratch));
        InitColorFormatPal8(scratch);
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            scratch->Palette[i][0] = scratch->Palette[i][1] = scratch->Palette[i][2] = v;
        }
        return scratch;
    }
    return shared->Format;
}

}  // namespace

int CopyBaseImageIntoMemImg(const BASEIMAGE* source, const BASEIMAGE* alphaSource, MEMIMG* image,
                            int sourceX, int sourceY, int width, int height, int destX, int destY,
                            int useTransColor) {
    if (source == nullptr || IsMemImgValid(image) == 0 || source->Pixels == nullptr) return -1;
    MemImgShared* shared = image->Shared;
    ClipCopyRect(&sourceX, &sourceY, &width, &height, &destX, &destY, source->Width, source->Height,
                 image->Width, image->Height);
    const bool withAlpha = alphaSource != nullptr && alphaSource->Pixels != nullptr;
    if (withAlpha) {
        // The alpha image is read at the source's coordinates.
        width = std::min(width, std::max(alphaSource->Width - sourceX, 0));
        height = std::min(height, std::max(alphaSource->Height - sourceY, 0));
        if (width == 0 || height == 0) width = height = 0;
    }
    const RECT rect{sourceX, sourceY, sourceX + width, sourceY + height};
    COLORFORMAT scratch;
    const COLORFORMAT* destFormat = ConverterFormat(shared, false, &scratch);
    const int pitch = shared->Pitch;

    if (shared->ColorType >= 2) {
        // Single-channel images take the source's red channel as their value.
        ConvertPixelRect(image->Pixels, pitch, destFormat, source->Pixels, source->Pitch,
                         &source->Format, nullptr, 0, nullptr, destX, destY, &rect, 0, 0, 0, 0, 1,
                         1, 0, 0);
    } else {
        // The transparent colour is a raw pixel of the image; the converter takes 0xRRGGBB.
        int r = 0, g = 0, b = 0;
        if (shared->UsePalette == 0) {
            DecomposeFormatColor(shared->Format, shared->TransColor, &r, &g, &b, nullptr);
        }
        const std::uint32_t key = static_cast<std::uint32_t>(r << 16 | g << 8 | b);
        const int result = ConvertPixelRect(
            image->Pixels, pitch, destFormat, source->Pixels, source->Pitch, &source->Format,
            withAlpha ? alphaSource->Pixels : nullptr, withAlpha ? alphaSource->Pitch : 0,
            withAlpha ? &alphaSource->Format : nullptr, destX, destY, &rect, 0, useTransColor, key,
            0, 0, 0, 0, 0);
        if (result < 0) return result;
        if (!withAlpha && shared->UsePalette != 0) {
            shared->PaletteColorCount = static_cast<std::uint32_t>(result + 1);
        }
        // The palette comes with the indices; a colour source was matched against the image's
        // own palette, which therefore stays.
        if (shared->UsePalette != 0 && source->Format.ChannelCount == 0 &&
            source->Format.BytesPerPixel == 1) {
            for (int i = 0; i < 256; ++i) {
                const std::uint32_t blue = source->Format.Palette[i][0];
                const std::uint32_t green = source->Format.Palette[i][1];
                const std::uint32_t red = source->Format.Palette[i][2];
                if (shared->ColorType == 0) {
                    static_cast<std::uint16_t*>(shared->PaletteTable)[i] =
                        static_cast<std::uint16_t>((red & 0xF8) << 8 | (green & 0xFC) << 3 |
                                                   blue >> 3);
                } else {
                    static_cast<std::uint32_t*>(shared->PaletteTable)[i] =
                        red << 16 | green << 8 | blue;
                }
            }
        }
        if (shared->UseAlpha == 0) shared->UseTransColor = useTransColor != 0 ? 1 : 0;
    }
    shared->RunTableValid = 0;
    if (width == image->Width && height == image->Height && width > 0) {
        RebuildMemImgRunTable(image);
    }
    return 0;
}

int CopyMemImgRect(MEMIMG* dest, const MEMIMG* source, const RECT* rect, int destX, int destY) {
    if (IsMemImgValid(dest) == 0 || IsMemImgValid(source) == 0) return -1;
    const MemImgShared* ds = dest->Shared;
    const MemImgShared* ss = source->Shared;
    const RECT whole{0, 0, source->Width, source->Height};
    const RECT r = rect != nullptr ? *rect : whole;
    int sourceX = r.left;
    int sourceY = r.top;
    int width =
        static_cast<int>(std::clamp<std::int64_t>(std::int64_t{r.right} - r.left, 0, INT32_MAX));
    int height =
        static_cast<int>(std::clamp<std::int64_t>(std::int64_t{r.bottom} - r.top, 0, INT32_MAX));
    ClipCopyRect(&sourceX, &sourceY, &width, &height, &destX, &destY, source->Width, source->Height,
                 dest->Width, dest->Height);
    COLORFORMAT sourceScratch;
    COLORFORMAT destScratch;
    const COLORFORMAT* sourceFormat = ConverterFormat(ss, true, &sourceScratch);
    const COLORFORMAT* destFormat = ConverterFormat(ds, false, &destScratch);
    // A single-channel image filled from another colour type takes the source's red channel.
    const int single = ds->ColorType >= 2 && ds->ColorType != ss->ColorType ? 1 : 0;
    const int sb = MemImgBytesPerPixel(ss);
    const int db = MemImgBytesPerPixel(ds);
    RECT from{sourceX, sourceY, sourceX + width, sourceY + height};
    const std::uint8_t* pixels = source->Pixels;
    int pitch = ss->Pitch;
    void* copy = nullptr;
    if (width > 0) {
        // Overlapping memory (an image onto itself, or views of one image) is read from a copy
        // of the source rectangle, so that no source pixel is overwritten before it is read.
        const std::uint8_t* s0 =
            pixels + std::ptrdiff_t{sourceY} * pitch + std::ptrdiff_t{sourceX} * sb;
        const std::uint8_t* s1 =
            s0 + std::ptrdiff_t{height - 1} * pitch + std::ptrdiff_t{width} * sb;
        const std::uint8_t* d0 =
            dest->Pixels + std::ptrdiff_t{destY} * ds->Pitch + std::ptrdiff_t{destX} * db;
        const std::uint8_t* d1 =
            d0 + std::ptrdiff_t{height - 1} * ds->Pitch + std::ptrdiff_t{width} * db;
        if (s0 < d1 && d0 < s1) {
            const std::size_t rowBytes = static_cast<std::size_t>(width) * sb;
            copy = AllocateTrackedMemory(rowBytes * static_cast<std::size_t>(height), kAllocTag,
                                         kPixelsLine);
            if (copy == nullptr) return -1;
            for (int y = 0; y < height; ++y) {
                std::memcpy(static_cast<std::uint8_t*>(copy) + rowBytes * y,
                            s0 + std::ptrdiff_t{y} * pitch, rowBytes);
            }
            pixels = static_cast<const std::uint8_t*>(copy);
            pitch = static_cast<int>(rowBytes);
            from = RECT{0, 0, width, height};
        }
    }
    const int result =
        ConvertPixelRect(dest->Pixels, ds->Pitch, destFormat, pixels, pitch, sourceFormat, nullptr,
                         0, nullptr, destX, destY, &from, 0, 0, 0, 0, single, single, 0, 0);
    FreeTrackedMemory(copy);
    return result;
}

namespace {

// Codes one row into runs of at most 64 pixels of one kind (0 transparent, 1 solid,
// 2 translucent); the kind test is a template argument so that each pixel layout gets its own
// tight loop.
template <typename KindOf>
std::uint8_t* WriteRunTableRow(const std::uint8_t* row, int width, int bytes, KindOf kindOf,
                               std::uint8_t* out) {
    static constexpr std::uint8_t kCodes[3] = {MEMIMG_RUN_CLEAR, MEMIMG_RUN_SOLID,
                                               MEMIMG_RUN_BLEND};
    int x = 0;
    while (x < width) {
        const int kind = kindOf(row + x * bytes);
        int length = 1;
        while (x + length < width && length < 64 && kindOf(row + (x + length) * bytes) == kind) {
            ++length;
        }
        *out++ = static_cast<std::uint8_t>(kCodes[kind] | (length - 1));
        x += length;
    }
    *out++ = MEMIMG_RUN_END;
    return out;
}

template <typename KindOf>
void WriteRunTable(MemImgShared* shared, int bytes, KindOf kindOf) {
    std::uint8_t* out = shared->RunTable;
    for (int y = 0; y < shared->Height; ++y) {
        const std::uint8_t* row = shared->Pixels + static_cast<std::ptrdiff_t>(y) * shared->Pitch;
        out = WriteRunTableRow(row, shared->Width, bytes, kindOf, out);
    }
}

// A pixel compared whole with the transparent colour.
template <int kBytes>
int KeyedPixelKind(const std::uint8_t* p, std::uint32_t key) {
    std::uint32_t v = 0;
    std::memcpy(&v, p, kBytes);
    return v == key ? 0 : 1;
}

}  // namespace

void RebuildMemImgRunTable(MEMIMG* image) {
    MemImgShared* shared = image->Shared;
    if (shared->RunTable == nullptr || shared->ColorType > 1) return;
    const int bytes = MemImgBytesPerPixel(shared);
    const std::uint32_t key = shared->TransColor;
    if (shared->UsePalette != 0) {
        WriteRunTable(shared, bytes, [key](const std::uint8_t* p) { return *p == key ? 0 : 1; });
    } else if (shared->UseAlpha != 0) {
        const int at = shared->ColorType == 1 ? 3 : 2;
        WriteRunTable(shared, bytes, [at](const std::uint8_t* p) {
            const std::uint8_t a = p[at];
            return a == 0 ? 0 : a == 255 ? 1 : 2;
        });
    } else if (bytes == 4) {
        WriteRunTable(shared, 4,
                      [key](const std::uint8_t* p) { return KeyedPixelKind<4>(p, key); });
    } else if (bytes == 2) {
        WriteRunTable(shared, 2,
                      [key](const std::uint8_t* p) { return KeyedPixelKind<2>(p, key); });
    } else {
        WriteRunTable(shared, bytes, [key, bytes](const std::uint8_t* p) {
            std::uint32_t v = 0;
            std::memcpy(&v, p, static_cast<std::size_t>(bytes));
            return v == key ? 0 : 1;
        });
    }
    shared->RunTableValid = 1;
}

namespace memimg {

bool SelectMemImgOp(int mode, int param, Op* op) {
    switch (mode) {
        case DX_BLEND_NONE:
            *op = Op::kNone;
            break;
        case DX_BLEND_ALPHA:
            *op = param == 255 ? Op::kNone : Op::kAlpha;
            break;
        case DX_BLEND_ADD:
            *op = Op::kAdd;
            break;
        case DX_BLEND_SUBTRACT:
            *op = Op::kSubtract;
            break;
        case DX_BLEND_MULTIPLY:
            *op = Op::kMultiply;
            break;
        case DX_BLEND_INVERT_SOURCE:
            *op = Op::kInvertSource;
            break;
        case DX_BLEND_MULTIPLY_ALPHA:
            *op = Op::kMultiplyAlpha;
            break;
        default:
            return false;
    }
    return !(param == 0 && (*op == Op::kAlpha || *op == Op::kAdd || *op == Op::kSubtract));
}

void SetupMemImgPixelContext(const MemImgShared* source, PixelContext* context) {
    const auto& state = MemImgDrawState;
    const std::uint32_t bright = state.DrawBright;
    const int p = std::clamp(state.BlendParam, 0, 255);
    context->paramRow = state.MemImgScaleTable[p];
    context->signedParamRow = state.MemImgSignedScaleTable[p] + 256;
    context->brightRow[0] = state.MemImgScaleTable[(bright >> 16) & 0xFF];
    context->brightRow[1] = state.MemImgScaleTable[(bright >> 8) & 0xFF];
    context->brightRow[2] = state.MemImgScaleTable[bright & 0xFF];
    context->blendTable = state.BlendImageTable;
    context->palette = source != nullptr ? source->PaletteTable : nullptr;
    context->key = source != nullptr ? source->TransColor : 0;
    context->param = static_cast<std::uint32_t>(p);
}

bool SelectMemImgVariant(const MemImgShared* source, bool key, bool blend, int* index,
                         PixelContext* context) {
    if (source->ColorType > 1) return false;
    Op op;
    if (!SelectMemImgOp(MemImgDrawState.BlendMode, MemImgDrawState.BlendParam, &op)) return false;
    const Kind kind = source->UsePalette != 0 ? Kind::kPalette
                      : source->UseAlpha != 0 ? Kind::kAlpha
                                              : Kind::kPlain;
    const bool white = (MemImgDrawState.DrawBright & 0xFFFFFFu) == 0xFFFFFFu;
    *index = VariantIndex(static_cast<int>(source->ColorType), kind, op, blend, white, key);
    SetupMemImgPixelContext(source, context);
    return true;
}

}  // namespace memimg

}  // namespace ZiDaz
